// The page's shared pieces: talking to the program, repository names as
// the page shows them, the status line, opening and closing dialogs, and
// what the server would refuse.  Every view of the page builds on these.

// Addresses without the credentials the page may have been opened with
// (http://user:pw@host/): requests to such an address are refused.
const HERE = new URL('.', location.origin + location.pathname);
export const ENDPOINT = new URL('svn.cgi', HERE).href;

const config = {
  svnPort: null,   // from config.json; null for svnserve's default
};

// Reads config.json, written beside the page where svnserve does not
// listen on its default port.
export async function loadConfig() {
  try {
    const answer = await (await fetch(new URL('config.json', HERE), { credentials: 'same-origin' })).json();
    if (answer.svnPort && Number(answer.svnPort) !== 3690) config.svnPort = answer.svnPort;
  } catch {
    // no config: svnserve on its default port
  }
}

export const $ = (selector, root = document) => root.querySelector(selector);

// ---- Names ----

// An account name as svnserve compares it: its password file and
// force-username-case fold the letters A-Z only ("É" stays "É"), and so
// does the program.  Everything that compares or folds account names
// goes through here.
export function foldAccount(name) {
  return name.replace(/[A-Z]+/g, (letters) => letters.toLowerCase());
}

// What a person cannot see or tell from a blank: spaces, format
// characters (zero-width ones, bidi controls, U+FEFF), controls, and
// what renders as nothing.
const UNSEEN = /[\p{Z}\p{C}\p{Default_Ignorable_Code_Point}\u2800]/u;

// A repository name as the page shows it, in pieces [text, marker]: a
// blank at either end or beside another is "␣", every other character
// one cannot see is its code point ("⟨U+00A0⟩"), and so are the markers'
// own characters, so that a marker never stands for itself.  Two names
// that differ look different.
function nameMarks(name) {
  const chars = [...name];
  return chars.map((c, i) => {
    if (c === ' ') {
      const lone = i > 0 && i < chars.length - 1 && chars[i - 1] !== ' ' && chars[i + 1] !== ' ';
      return lone ? [c, false] : ['␣', true];
    }
    if (!UNSEEN.test(c) && !'␣⟨⟩'.includes(c)) return [c, false];
    return [`⟨U+${c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')}⟩`, true];
  });
}

// The name as text (labels, messages).
export function visible(name) {
  return nameMarks(name).map(([text]) => text).join('');
}

// The name as an element, markers set apart, isolated from the text
// around it (a right-to-left name does not reorder it).
export function nameElement(name) {
  const bdi = document.createElement('bdi');
  for (const [text, marker] of nameMarks(name)) {
    const mark = marker ? document.createElement('span') : null;
    if (mark) {
      mark.className = 'mark';
      mark.textContent = text;
    }
    bdi.append(mark || text);
  }
  return bdi;
}

// `element` holds the words before, the name, the words after.
export function putName(element, before, name, after) {
  element.replaceChildren(before, nameElement(name), after);
}

// Several names as a phrase of elements: "a", "a and b", "a, b and c".
function namesPhrase(names) {
  const parts = [];
  names.forEach((name, i) => {
    if (i > 0) parts.push(i === names.length - 1 ? ' and ' : ', ');
    parts.push(nameElement(name));
  });
  return parts;
}

// `element` holds `parts`: words, and lists of names ({ names: [...] }).
export function putSentence(element, parts) {
  element.replaceChildren(...parts.flatMap((p) => (typeof p === 'string' ? [p] : namesPhrase(p.names))));
}

// ---- Talking to the program ----

export class RequestError extends Error {
  constructor(message, key, info = {}) {
    super(message);
    this.key = key;
    this.info = info;  // the answer's errinfo: "reason", "repositories"
  }
}

// Sends one action; reads use GET, changes POST.  Resolves to the JSON
// answer, or rejects with a RequestError carrying the error key.
export async function call(params, { change = false } = {}) {
  const body = new URLSearchParams(params);
  let response;
  try {
    response = change
      ? await fetch(ENDPOINT, { method: 'POST', body, credentials: 'same-origin' })
      : await fetch(`${ENDPOINT}?${body}`, { credentials: 'same-origin', cache: 'no-store' });
  } catch {
    throw new RequestError('The server cannot be reached.');
  }
  let json = null;
  try {
    json = JSON.parse(await response.text());
  } catch {
    // left null: not an answer of the program
  }
  const key = json && json.errinfo ? json.errinfo.key : undefined;
  if (response.status === 403 && key === 'forbidden') {
    throw new RequestError('This page may only be used from its own address.', key);
  }
  if (!response.ok || json === null) {
    throw new RequestError(`The server answered with an error (${response.status}).`);
  }
  if (json.success === false) throw new RequestError('', key, json.errinfo || {});
  return json;
}

// Words for a failed action on `name`.
export function failure(error, name, doing) {
  const shown = visible(name);
  const reason = typeof error.info.reason === 'string' ? error.info.reason : '';
  if (error.key === 'exist') {
    return reason ? `The name “${shown}” is taken: ${reason}` : `A repository named “${shown}” already exists.`;
  }
  if (error.key === 'nonexist') return `There is no repository named “${shown}” any more.`;
  if (error.key === 'handmade') {
    return reason || `The repository “${shown}” is set up by hand in a way this page cannot change.`;
  }
  if (error.key === 'shared') {
    const others = (error.info.repositories || []).map(visible);
    return `The change was not made: it would reach ${others.length ? others.join(', ') : 'other repositories'} too.`;
  }
  if (error.key === 'busy') {
    return reason ? `Not now on “${shown}”: ${reason}` : `Another change or job is under way on “${shown}”; try again when it has ended.`;
  }
  if (error.message) return error.message;
  return `The repository “${shown}” could not be ${doing}. The system log has the details.`;
}

// ---- Showing things ----

// The line under the search that tells what was done.
export function say(text) {
  $('#status').textContent = text;
}

// Puts `text` in the error box `selector`, hidden while there is none.
export function showError(selector, text) {
  const box = $(selector);
  box.textContent = text;
  box.hidden = !text;
}

export function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

export function accessUrl(name) {
  const port = config.svnPort ? `:${config.svnPort}` : '';
  return `svn://${location.hostname}${port}/${encodeURIComponent(name)}`;
}

export function humanSize(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit += 1;
  }
  return unit === 0 ? `${bytes} bytes` : `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
}

export function humanTime(iso) {
  return new Date(iso).toLocaleString();
}

// ---- Dialogs ----

// The button that opened a dialog, to return focus to.
let opener = null;

// That button, while it is still on the page.
export function openerShown() {
  return opener && opener.isConnected ? opener : null;
}

export function openDialog(dialog, button) {
  opener = button;
  dialog.showModal();
}

export function closeDialog(dialog) {
  dialog.close();
  (openerShown() || $('#create')).focus();
}

// ---- What the server refuses ----

// What the settings and account files cannot hold: the server refuses
// these, so the page says so before it sends anything.
const LINE_BREAK = /[\r\n]/;
const CONTROL = /[\u0000-\u001f\u007f]/;

export function valueProblem(value, what) {
  if (LINE_BREAK.test(value) || value.includes('\u0000')) return `${what} may not hold a line break.`;
  if (value !== value.trim()) return `${what} may not start or end with a blank.`;
  return '';
}

export function nameProblem(name) {
  if (!name) return 'Give the repository a name.';
  if (name === '.' || name.includes('..') || name.includes('/')) {
    return 'A repository name is one folder name: no “/” or “..”, and not “.”.';
  }
  if (CONTROL.test(name)) return 'A repository name may not hold line breaks or control characters.';
  // The server takes these; the page does not make them by accident.
  if (name !== name.trim()) return `A repository name may not start or end with a blank (here “${visible(name)}”).`;
  if (UNSEEN.test(name.replaceAll(' ', ''))) {
    return `A repository name may not hold characters that cannot be seen (here “${visible(name)}”).`;
  }
  return '';
}
