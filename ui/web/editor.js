// The edit dialog: creates a repository, or shows one (its facts, last
// changes, settings, accounts, access rules and hook presets) and saves
// its settings and accounts.

import {
  $, call, RequestError, failure, say, visible, putName, accessUrl, humanSize,
  openDialog, closeDialog, nameProblem, valueProblem,
} from './common.js';
import { allOf, showShared, sharingNow, askConsent, changeWithConsent } from './consent.js';
import { edit } from './edit-state.js';
import { addAccountRow, relabelAccounts, setAccountsMode, loadAccounts, accountsToSend } from './accounts.js';
import { loadRules } from './rules.js';
import { loadHooks } from './hooks.js';
import { loadSchedule } from './schedule.js';
import { showRecent } from './history.js';
import { loadCare } from './care.js';
import { loadPage } from './list.js';

// The checkout command for `name`, safe to paste into a shell.
function checkoutCommand(name) {
  const url = accessUrl(name).replace(/['()*!]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
  return /^[\w.~%:/-]+$/.test(url) ? `svn checkout ${url}` : `svn checkout '${url}'`;
}

// Fills the facts part of the editor from a "show" answer.
function showFacts(data) {
  const put = (id, text) => {
    const dd = $(id);
    dd.textContent = text === null ? 'unknown' : text;
    dd.classList.toggle('muted', text === null);
  };
  put('#fact-rev', Number.isInteger(data.rev) ? String(data.rev) : null);
  let updated = null;
  if (data.updated) {
    updated = new Date(data.updated).toLocaleString();
    if (data.author) updated += ` by ${data.author}`;
  } else if (data.author) {
    updated = `by ${data.author}`;
  }
  put('#fact-updated', updated);
  put('#fact-size', Number.isInteger(data.size) ? humanSize(data.size) : null);
  put('#fact-uuid', data.uuid || null);
  $('#checkout').value = checkoutCommand(data.name);
}

async function copyCheckout() {
  const field = $('#checkout');
  let copied = false;
  try {
    await navigator.clipboard.writeText(field.value);
    copied = true;
  } catch {
    field.select();  // no clipboard access (plain HTTP): the old way
    copied = document.execCommand('copy');
  }
  $('#copy-checkout').textContent = copied ? 'Copied' : 'Copy';
  if (!copied) say('Select the command and copy it by hand.');
}

function showFormError(text) {
  const box = $('#form-error');
  box.textContent = text;
  box.hidden = !text;
}

// Shows anonymous access as svnserve applies it: a setting left out is
// its default, read; a word other than read, write or none grants
// nothing.
function showAccess(form, anon) {
  const known = ['none', 'read', 'write'].includes(anon);
  const applied = anon === '' ? 'read' : known ? anon : 'none';
  form.querySelector(`input[name=anon][value="${applied}"]`).checked = true;
  $('#anon-read').textContent = anon === '' ? 'Read (server default)' : 'Read';
  const note = $('#anon-note');
  note.textContent = anon === ''
    ? 'The repository leaves this to the server, which lets anyone read.'
    : known ? '' : `The settings say “${anon}”, which the server takes as none.`;
  note.hidden = !note.textContent;
}

// Back to a new repository's editor: nothing shared, every part editable.
function resetParts() {
  edit.shown = null;
  edit.rules = null;
  for (const id of ['#settings-shared', '#realm-default', '#accounts-shared', '#rules-shared']) {
    $(id).hidden = true;
    $(id).replaceChildren();  // hidden, says nothing (the realm field is described by one)
  }
  $('#f-realm').placeholder = '';
  setAccountsMode('edit');
}

// The parts `show` tells about: access for accounts, the realm the server
// announces without one, a shared settings file.
function showSettingsParts(form, data) {
  const shared = data.shared && typeof data.shared === 'object' ? data.shared : {};
  edit.shown = { realm: data.realm, anon: data.anon, auth: data.auth_access, shared, accounts: [] };
  for (const choice of form.querySelectorAll('input[name=auth]')) choice.checked = choice.value === data.auth_access;
  showShared($('#settings-shared'), shared.settings, 'These settings (realm and access) are shared with ',
    (others) => `: a change applies to ${allOf(others)}.`);
  // No realm line: svnserve announces the repository's UUID.
  const note = $('#realm-default');
  note.hidden = data.realm_set !== false;
  const uuid = data.uuid ? `UUID, ${data.uuid},` : 'UUID,';
  note.textContent = note.hidden ? '' : `No realm is set: the server announces the repository’s ${uuid} its default.`;
  $('#f-realm').placeholder = data.realm_set === false && data.uuid ? data.uuid : '';
}

// Opens the editor on the repository `name`, or on a new one (null).
export async function openEditor(name, opener) {
  const form = $('#repo-form');
  form.reset();
  $('#accounts').replaceChildren();
  showFormError('');
  $('#anon-read').textContent = 'Read';
  $('#anon-note').hidden = true;
  resetParts();
  edit.name = name;
  const editing = name !== null;
  if (editing) putName($('#editor-title'), 'Edit “', name, '”');
  else $('#editor-title').textContent = 'New repository';
  $('#save').textContent = editing ? 'Save' : 'Create';
  $('#f-name').readOnly = editing;
  $('#access').hidden = !editing;
  $('#hooks').hidden = !editing;
  $('#schedule').hidden = !editing;
  $('#facts').hidden = !editing;
  $('#recent').hidden = true;
  $('#care').hidden = true;
  $('#layout-field').hidden = editing;
  $('#copy-checkout').textContent = 'Copy';
  if (editing) {
    // Each part shows what it can: one that cannot be read or changed
    // here says why, and the others still work.
    try {
      const shown = await call({ action: 'show', name });
      if (shown.data === null) throw new RequestError('', shown.errinfo ? shown.errinfo.key : '');
      // Only shown: what is sent is `name`, as the program gave it.
      form.elements.name.value = visible(name);
      form.elements.realm.value = shown.data.realm;
      showAccess(form, shown.data.anon);
      showFacts(shown.data);
      showSettingsParts(form, shown.data);
      showRecent(name);
      loadCare(name, shown.data.format);
      const accounts = await loadAccounts(name);
      await loadRules(name, accounts.map((a) => a.account));
      await loadHooks(name);
      await loadSchedule(name, shown.data.backup);
    } catch (error) {
      say(failure(error, name, 'opened'));
      if (error.key === 'nonexist') loadPage();
      return;
    }
  }
  relabelAccounts();
  openDialog($('#editor'), opener);
  (editing ? $('#f-realm') : $('#f-name')).focus();
}

// What an edit with `params` changes in files others use, as
// [file, names]: the settings file when the realm, anonymous access or
// account access change, the account file when the accounts do.
function editReach(shared, params) {
  const shown = edit.shown;
  const reach = [];
  if (Array.isArray(shared.settings) && shared.settings.length > 0 &&
      (params.realm !== shown.realm || params.anon !== shown.anon || 'auth_access' in params)) {
    reach.push(['settings', shared.settings]);
  }
  if (Array.isArray(shared.accounts) && shared.accounts.length > 0 &&
      params.accounts !== JSON.stringify(shown.accounts)) {
    reach.push(['accounts', shared.accounts]);
  }
  return reach;
}

async function save(event) {
  event.preventDefault();
  const form = $('#repo-form');
  const creating = edit.name === null;
  // An edit names the repository exactly as the program listed it.
  const name = creating ? form.elements.name.value : edit.name;
  const realm = form.elements.realm.value;
  const badName = creating ? nameProblem(name) : '';
  const problem = badName || (realm && valueProblem(realm, 'The realm')) ||
    (realm.includes('%(') ? 'The realm may not hold “%(”.' : '');
  if (problem) {
    showFormError(problem);
    (badName ? $('#f-name') : $('#f-realm')).focus();
    return;
  }
  if (edit.accountsMode === 'unreadable') return;  // said in the accounts part
  const { accounts, error, focus } = accountsToSend();
  if (error) {
    showFormError(error);
    focus.focus();
    return;
  }
  const saveButton = $('#save');
  saveButton.disabled = true;
  try {
    const params = {
      action: creating ? 'add' : 'edit',
      name,
      realm,
      anon: form.elements.anon.value,
      accounts: JSON.stringify(accounts),
    };
    if (creating && $('#f-layout').checked) params.layout = 'standard';
    // An edit leaves access for accounts as it is unless it was changed.
    const auth = form.elements.auth.value;
    if (creating || auth !== edit.shown.auth) params.auth_access = auth;
    const foresee = creating ? null : async () => {
      const reach = editReach(edit.shown.shared, params);
      return reach.length > 0 ? editReach(await sharingNow(name, edit.shown.shared), params) : reach;
    };
    if (!(await changeWithConsent(params, foresee, (reach) => askConsent(reach)))) {
      showFormError('Nothing was saved.');
      return;
    }
  } catch (err) {
    showFormError(failure(err, name, creating ? 'created' : 'changed'));
    return;
  } finally {
    saveButton.disabled = false;
  }
  closeDialog($('#editor'));
  say(`Repository “${visible(name)}” ${creating ? 'created' : 'saved'}.`);
  await loadPage();
}

export function startEditor() {
  $('#create').addEventListener('click', (event) => openEditor(null, event.currentTarget));
  $('#add-account').addEventListener('click', () => addAccountRow().focus());
  $('#cancel').addEventListener('click', () => closeDialog($('#editor')));
  $('#repo-form').addEventListener('submit', save);
  $('#copy-checkout').addEventListener('click', copyCheckout);
}
