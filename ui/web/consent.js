// Sharing: several repositories may use one settings, account or rules
// file (the usual way to run svnserve for many of them): a change of such
// a file reaches them all.  The editor says so where it shows the part,
// and before it sends such a change it names them and asks; only then
// does it send shared=yes.  A part the program cannot change (a hand-made
// setup, SASL) says why and is read-only; the other parts still save.

import { $, call, putSentence } from './common.js';

const NUMBER_WORDS = ['', '', 'two', 'three', 'four', 'five', 'six', 'seven', 'eight', 'nine', 'ten'];

// "both", "all three", ...: this repository and `others`.
export function allOf(others) {
  const n = others.length + 1;
  return n === 2 ? 'both' : `all ${NUMBER_WORDS[n] || n}`;
}

// Says on `element` that a part is shared with `others`; hidden when it
// is not.
export function showShared(element, others, before, after) {
  element.hidden = !Array.isArray(others) || others.length === 0;
  if (!element.hidden) putSentence(element, [before, { names: others }, after(others)]);
}

// Who shares `name`'s files now (another repository may have started to
// since the editor opened); what the editor showed when that cannot be
// read.
export async function sharingNow(name, fallback) {
  try {
    const shown = await call({ action: 'show', name });
    if (shown.data && shown.data.shared && typeof shown.data.shared === 'object') return shown.data.shared;
  } catch {
    // the answer to the change itself tells
  }
  return fallback;
}

const FILE_WORDS = {
  settings: 'the same settings file',
  accounts: 'the same account file',
  rules: 'the same rules file',
  files: 'files this one uses',
};

// Asks whether a change may reach the repositories of `reach` (pairs of
// file and names); resolves to true when the administrator agrees.
export function askConsent(reach, { title = 'Change other repositories too?', question = 'Save the change for all of them?',
  yes = 'Save for all', parts = null } = {}) {
  const dialog = $('#consent');
  $('#consent-title').textContent = title;
  $('#consent-yes').textContent = yes;
  if (parts) {
    putSentence($('#consent-text'), parts);
  } else {
    const sentence = ['This change also reaches '];
    reach.forEach(([file, names], i) => {
      if (i > 0) sentence.push(i === reach.length - 1 ? ', and ' : ', ');
      sentence.push(names.length > 0 ? { names } : 'other repositories', `, which ${names.length === 1 ? 'uses' : 'use'} ${FILE_WORDS[file]}`);
    });
    sentence.push(`. ${question}`);
    putSentence($('#consent-text'), sentence);
  }
  dialog.returnValue = '';
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'yes'), { once: true });
    dialog.showModal();
  });
}

// Sends the change `params`.  Where it reaches other repositories, as the
// page foresees it (`foresee` resolves to the reach) or as the program
// answers ("shared": something became shared meanwhile), it asks first
// (`ask`) and sends, once agreed, the names agreed to ("shared"): should
// the change reach another repository as well by then, the program asks
// again.  Resolves to false when the administrator declined: nothing was
// changed.
export async function changeWithConsent(params, foresee, ask) {
  const agreedTo = (reach) => JSON.stringify([...new Set(reach.flatMap(([, names]) => names))].sort());
  let reach = foresee ? await foresee() : [];
  if (reach.length > 0 && !(await ask(reach))) return false;
  for (let tries = 0; ; ++tries) {
    try {
      await call(reach.length > 0 ? { ...params, shared: agreedTo(reach) } : params, { change: true });
      return true;
    } catch (error) {
      if (error.key !== 'shared' || tries > 0) throw error;
      reach = [['files', error.info.repositories || []]];
      if (!(await ask(reach))) return false;
    }
  }
}
