// The administration page: a table of repositories with search and
// paging, and forms to create, edit and remove them, all through svn.cgi.
'use strict';

const PAGE_SIZE = 20;

// Addresses without the credentials the page may have been opened with
// (http://user:pw@host/): requests to such an address are refused.
const HERE = new URL('.', location.origin + location.pathname);
const ENDPOINT = new URL('svn.cgi', HERE).href;

const state = {
  query: '',
  start: 0,
  total: 0,
  svnPort: null,   // from config.json; null for svnserve's default
  editing: null,   // name of the repository in the editor, null when creating
  shown: null,     // what the editor showed of it, to tell what a save changes
  accountsMode: 'edit',  // see setAccountsMode
  rules: null,     // its rules as shown, and who else uses their file
  backupsOf: null, // name of the repository whose backups are open
  opener: null,    // the button that opened a dialog, to return focus to
  renaming: null,  // name of the repository in the rename dialog
  consent: false,  // the rename was told what it reaches: it is sent with shared=yes
};

const $ = (selector, root = document) => root.querySelector(selector);

// ---- Names ----

// An account name as svnserve compares it: its password file and
// force-username-case fold the letters A-Z only ("É" stays "É"), and so
// does the program.  Everything that compares or folds account names
// goes through here.
function foldAccount(name) {
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
function visible(name) {
  return nameMarks(name).map(([text]) => text).join('');
}

// The name as an element, markers set apart, isolated from the text
// around it (a right-to-left name does not reorder it).
function nameElement(name) {
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
function putName(element, before, name, after) {
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
function putSentence(element, parts) {
  element.replaceChildren(...parts.flatMap((p) => (typeof p === 'string' ? [p] : namesPhrase(p.names))));
}

// ---- Talking to the program ----

class RequestError extends Error {
  constructor(message, key, info = {}) {
    super(message);
    this.key = key;
    this.info = info;  // the answer's errinfo: "reason", "repositories"
  }
}

// Sends one action; reads use GET, changes POST.  Resolves to the JSON
// answer, or rejects with a RequestError carrying the error key.
async function call(params, { change = false } = {}) {
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
function failure(error, name, doing) {
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
  if (error.key === 'busy') return `Another change or job is under way on “${shown}”; try again when it has ended.`;
  if (error.message) return error.message;
  return `The repository “${shown}” could not be ${doing}. The system log has the details.`;
}

// ---- The table ----

function accessUrl(name) {
  const port = state.svnPort ? `:${state.svnPort}` : '';
  return `svn://${location.hostname}${port}/${encodeURIComponent(name)}`;
}

function say(text) {
  $('#status').textContent = text;
}

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

function renderRow(tbody, repo) {
  const row = tbody.insertRow();
  const name = row.insertCell();
  name.className = 'name';
  name.dataset.label = 'Name';
  name.append(nameElement(repo.name));
  // No realm: svnserve announces the repository's UUID.
  const realm = cell(row, repo.realm || 'UUID (server default)', repo.realm ? '' : 'muted');
  realm.dataset.label = 'Realm';
  const known = Number.isInteger(repo.rev);
  cell(row, known ? String(repo.rev) : 'unknown', known ? 'rev' : 'rev muted').dataset.label = 'Revision';
  const url = cell(row, '', 'url');
  url.dataset.label = 'Access URL';
  const code = document.createElement('code');
  code.textContent = accessUrl(repo.name);
  url.append(code);
  const actions = row.insertCell();
  actions.className = 'actions';
  for (const [label, handler] of [['Edit', openEditor], ['Rename', openRename], ['Backups', openBackups],
    ['Remove', confirmRemove]]) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = label;
    button.setAttribute('aria-label', `${label} ${visible(repo.name)}`);
    button.addEventListener('click', () => handler(repo.name, button));
    actions.append(button);
  }
}

// Loads that overlap (a search while the page still loads, a job that
// ended) show the last one asked for, whichever answers last.
let loadSerial = 0;

async function loadPage() {
  const serial = ++loadSerial;
  let page;
  try {
    page = await call({
      action: state.query ? 'find' : 'load',
      query: state.query,
      start: String(state.start),
      limit: String(PAGE_SIZE),
      sort: 'name',
    });
  } catch (error) {
    if (serial === loadSerial) say(error.message || 'The repositories could not be listed.');
    return;
  }
  if (serial !== loadSerial) return;
  state.total = page.total;
  if (state.start > 0 && state.start >= state.total) {
    state.start = Math.max(0, state.total - PAGE_SIZE);  // the last page went away
    return loadPage();
  }
  const tbody = $('#repos tbody');
  tbody.replaceChildren();
  for (const repo of page.data) renderRow(tbody, repo);

  const empty = $('#empty');
  empty.hidden = state.total > 0;
  $('#repos').hidden = state.total === 0;
  empty.textContent = state.query
    ? `No repository has “${visible(state.query)}” in its name.`
    : 'There are no repositories yet. Create one with “New repository”.';

  const first = state.total === 0 ? 0 : state.start + 1;
  const last = Math.min(state.start + PAGE_SIZE, state.total);
  $('#range').textContent = state.total === 0 ? '' : `${first}–${last} of ${state.total}`;
  $('#prev').disabled = state.start === 0;
  $('#next').disabled = last >= state.total;
  $('.pager').hidden = state.total <= PAGE_SIZE && state.start === 0;
  $('#clear').hidden = !state.query;
}

// ---- The editor ----

// The checkout command for `name`, safe to paste into a shell.
function checkoutCommand(name) {
  const url = accessUrl(name).replace(/['()*!]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
  return /^[\w.~%:/-]+$/.test(url) ? `svn checkout ${url}` : `svn checkout '${url}'`;
}

function humanSize(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit += 1;
  }
  return unit === 0 ? `${bytes} bytes` : `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
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

function addAccountRow(account = '', password = '', readOnly = false) {
  const row = $('#account-row').content.firstElementChild.cloneNode(true);
  const list = $('#accounts');
  const n = list.children.length + 1;
  const name = $('.account-name', row);
  const secret = $('.account-password', row);
  name.id = `account-${n}-${Date.now()}`;
  secret.id = `${name.id}-password`;
  const [nameLabel, secretLabel] = row.querySelectorAll('label');
  nameLabel.htmlFor = name.id;
  secretLabel.htmlFor = secret.id;
  name.value = account;
  secret.value = password;
  name.readOnly = readOnly;
  secret.readOnly = readOnly;
  const show = $('.show-password', row);
  show.setAttribute('aria-controls', secret.id);
  show.addEventListener('click', () => {
    const visible = secret.type === 'password';
    secret.type = visible ? 'text' : 'password';
    show.textContent = visible ? 'Hide' : 'Show';
    show.setAttribute('aria-pressed', String(visible));
  });
  const remove = $('.remove-account', row);
  remove.hidden = readOnly;
  remove.addEventListener('click', () => {
    const next = row.nextElementSibling || row.previousElementSibling;
    row.remove();
    relabelAccounts();
    ($('.account-name', next || document) || $('#add-account')).focus();
  });
  list.append(row);
  relabelAccounts();
  return name;
}

function relabelAccounts() {
  const rows = [...$('#accounts').children];
  rows.forEach((row, i) => {
    $('.remove-account', row).setAttribute('aria-label', `Remove account ${i + 1}`);
  });
  $('#no-accounts').hidden = rows.length > 0 || !['edit', 'readonly'].includes(state.accountsMode);
}

function showFormError(text) {
  const box = $('#form-error');
  box.textContent = text;
  box.hidden = !text;
}

function openDialog(dialog, opener) {
  state.opener = opener;
  dialog.showModal();
}

function closeDialog(dialog) {
  dialog.close();
  if (state.opener && state.opener.isConnected) state.opener.focus();
  else $('#create').focus();
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

async function openEditor(name, opener) {
  const form = $('#repo-form');
  form.reset();
  $('#accounts').replaceChildren();
  showFormError('');
  $('#anon-read').textContent = 'Read';
  $('#anon-note').hidden = true;
  resetParts();
  state.editing = name;
  const editing = name !== null;
  if (editing) putName($('#editor-title'), 'Edit “', name, '”');
  else $('#editor-title').textContent = 'New repository';
  $('#save').textContent = editing ? 'Save' : 'Create';
  $('#f-name').readOnly = editing;
  $('#access').hidden = !editing;
  $('#hooks').hidden = !editing;
  $('#facts').hidden = !editing;
  $('#recent').hidden = true;
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
      const accounts = await loadAccounts(name);
      await loadRules(name, accounts.map((a) => a.account));
      await loadHooks(name);
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

// What the settings and account files cannot hold: the server refuses
// these, so the page says so before it sends anything.
const LINE_BREAK = /[\r\n]/;
const CONTROL = /[\u0000-\u001f\u007f]/;

function valueProblem(value, what) {
  if (LINE_BREAK.test(value) || value.includes('\u0000')) return `${what} may not hold a line break.`;
  if (value !== value.trim()) return `${what} may not start or end with a blank.`;
  return '';
}

function nameProblem(name) {
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

// The form's account list, or an error text and the field to fix.
function readAccounts() {
  const accounts = [];
  const seen = new Set();
  for (const row of $('#accounts').children) {
    const nameField = $('.account-name', row);
    const secretField = $('.account-password', row);
    const account = nameField.value;
    const password = secretField.value;
    const label = `The account name “${account}”`;
    let error = '';
    let focus = nameField;
    if (!account.trim()) {
      error = 'Every account needs a name.';
    } else if ((error = valueProblem(account, label))) {
      // said
    } else if (/^[#[]/.test(account) || /[=:]/.test(account)) {
      error = `${label} may not start with “#” or “[”, or hold “=” or “:”.`;
    } else if (seen.has(foldAccount(account))) {
      error = `The account “${account}” is listed twice (names that differ only in the capitals A–Z are one account).`;
    } else if (!password) {
      error = `The account “${account}” needs a password.`;
      focus = secretField;
    } else if ((error = valueProblem(password, `The password of “${account}”`))) {
      focus = secretField;
    }
    if (error) return { error, focus };
    seen.add(foldAccount(account));
    accounts.push({ account, password });
  }
  return { accounts };
}

async function save(event) {
  event.preventDefault();
  const form = $('#repo-form');
  const creating = state.editing === null;
  // An edit names the repository exactly as the program listed it.
  const name = creating ? form.elements.name.value : state.editing;
  const realm = form.elements.realm.value;
  const badName = creating ? nameProblem(name) : '';
  const problem = badName || (realm && valueProblem(realm, 'The realm')) ||
    (realm.includes('%(') ? 'The realm may not hold “%(”.' : '');
  if (problem) {
    showFormError(problem);
    (badName ? $('#f-name') : $('#f-realm')).focus();
    return;
  }
  if (state.accountsMode === 'unreadable') return;  // said in the accounts part
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
    if (creating || auth !== state.shown.auth) params.auth_access = auth;
    const foresee = creating ? null : async () => {
      const reach = editReach(state.shown.shared, params);
      return reach.length > 0 ? editReach(await sharingNow(name, state.shown.shared), params) : reach;
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

// ---- Sharing, account access and hand-made setups ----
//
// Several repositories may use one settings, account or rules file (the
// usual way to run svnserve for many of them): a change of such a file
// reaches them all.  The editor says so where it shows the part, and
// before it sends such a change it names them and asks; only then does it
// send shared=yes.  A part the program cannot change (a hand-made setup,
// SASL) says why and is read-only; the other parts still save.

const NUMBER_WORDS = ['', '', 'two', 'three', 'four', 'five', 'six', 'seven', 'eight', 'nine', 'ten'];

// "both", "all three", ...: this repository and `others`.
function allOf(others) {
  const n = others.length + 1;
  return n === 2 ? 'both' : `all ${NUMBER_WORDS[n] || n}`;
}

// Says on `element` that a part is shared with `others`; hidden when it
// is not.
function showShared(element, others, before, after) {
  element.hidden = !Array.isArray(others) || others.length === 0;
  if (!element.hidden) putSentence(element, [before, { names: others }, after(others)]);
}

// Back to a new repository's editor: nothing shared, every part editable.
function resetParts() {
  state.shown = null;
  state.rules = null;
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
  state.shown = { realm: data.realm, anon: data.anon, auth: data.auth_access, shared, accounts: [] };
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

// How the accounts part works: "edit"; "readonly" (shown, not changed
// here: `reason`); "sasl" (SASL keeps them: none shown, none sent);
// "unreadable" (nothing can be saved, as an edit sends the accounts).
function setAccountsMode(mode, reason = '') {
  state.accountsMode = mode;
  const editable = mode === 'edit';
  $('#accounts').hidden = !['edit', 'readonly'].includes(mode);
  $('#add-account').hidden = !editable;
  $('#accounts-hint').hidden = !editable;
  const note = $('#accounts-note');
  note.textContent = mode === 'sasl'
    ? 'SASL decides who logs in to this repository and keeps its accounts, so they are not shown or changed here.'
    : reason;
  note.hidden = !note.textContent;
  $('#save').disabled = mode === 'unreadable';
  if (mode !== 'edit' && mode !== 'readonly') $('#accounts-shared').hidden = true;
}

// Shows the accounts of `name` as the program allows; resolves to them
// ([] when none can be shown).
async function loadAccounts(name) {
  let answer;
  try {
    answer = await call({ action: 'acc_show', name });
  } catch (error) {
    if (error.key === 'nonexist') throw error;
    state.shown.accounts = null;
    setAccountsMode('unreadable', (error.key === 'handmade' && error.info.reason) ||
      'The accounts cannot be read here: the account file is not a plain file, is too large, or is not in ' +
      'the form Subversion reads. Until it is mended by hand, this dialog cannot save.');
    return [];
  }
  const accounts = Array.isArray(answer.account) ? answer.account : [];
  state.shown.accounts = accounts;
  if (answer.sasl) {
    setAccountsMode('sasl');
    return [];
  }
  const readOnly = answer.editable === false;
  if (readOnly) setAccountsMode('readonly', answer.reason || 'The accounts cannot be changed here.');
  for (const a of accounts) addAccountRow(a.account, a.password, readOnly);
  showShared($('#accounts-shared'), answer.shared, 'These accounts are shared with ',
    (others) => `: a change applies to ${allOf(others)}.`);
  return accounts;
}

// The accounts an edit sends: those of the form, or, where they cannot
// be changed here, what the program showed (unchanged, so no change).
function accountsToSend() {
  if (state.accountsMode === 'sasl') return { accounts: [] };
  if (state.accountsMode === 'readonly') return { accounts: state.shown.accounts };
  return readAccounts();
}

// What an edit with `params` changes in files others use, as
// [file, names]: the settings file when the realm, anonymous access or
// account access change, the account file when the accounts do.
function editReach(shared, params) {
  const shown = state.shown;
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

// Who shares `name`'s files now (another repository may have started to
// since the editor opened); what the editor showed when that cannot be
// read.
async function sharingNow(name, fallback) {
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
function askConsent(reach, { title = 'Change other repositories too?', question = 'Save the change for all of them?',
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
async function changeWithConsent(params, foresee, ask) {
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

// A rule binds this repository alone ("[NAME:/path]", scope
// "repository") or every repository using the rules file ("[/path]",
// "all").  A new rule goes where the file keeps this repository's rules:
// its own sections in a file others use too.  A name holding ":" or "]"
// cannot stand in a section's name.
function showScope(row, scope) {
  const select = $('.rule-scope', row);
  const ownSections = !/[:\]]/.test(state.editing || '');
  if (!ownSections && scope !== 'repository') select.querySelector('[value=repository]').remove();
  const shared = state.rules && state.rules.shared.length > 0;
  select.value = scope || (shared && ownSections ? 'repository' : 'all');
  $('.scope', row).hidden = !$('#rules').classList.contains('scoped');
}

// How the rules part works: "edit"; "readonly" (shown, not changed here:
// `reason`); "unreadable" (`reason`).
function setRulesMode(mode, reason) {
  const editable = mode === 'edit';
  for (const control of $('#access').querySelectorAll('#groups input, #groups select, #rules input, #rules select')) {
    control.disabled = !editable;
  }
  for (const button of $('#access').querySelectorAll('.remove-group, .remove-rule, #add-group, #add-rule, #save-rules')) {
    button.hidden = !editable;
  }
  // Read-only, a list with nothing in it is left out.
  for (const [title, list] of [['#groups-title', '#groups'], ['#rules-title', '#rules']]) {
    $(title).hidden = $(list).hidden = mode === 'unreadable' || (!editable && $(list).children.length === 0);
  }
  const note = $('#rules-note');
  note.textContent = editable ? '' : reason;
  note.hidden = editable;
  if (!editable) $('#rules-shared').hidden = mode === 'unreadable';
}

// What a rules edit changes in a file others use: its groups, or the
// rules every repository using it obeys, compared as the program writes
// them (account names folded).
function rulesReach(shared, groups, rules) {
  if (shared.length === 0 || !state.rules) return [];
  const folded = (name) => (/^[@$&*~]/.test(name) ? name : foldAccount(name));
  const groupsOf = (g, fold) => JSON.stringify(Object.keys(g).sort()
    .map((k) => [k, g[k].map((m) => (fold && !m.startsWith('@') ? foldAccount(m) : m))]));
  const forAll = (list, fold) => JSON.stringify([...new Set(list.filter((r) => r.scope === 'all')
    .map((r) => JSON.stringify([r.path, fold ? folded(r.who) : r.who, r.access])))].sort());
  const changed = groupsOf(groups, true) !== groupsOf(state.rules.groups, false) ||
    forAll(rules, true) !== forAll(state.rules.rules, false);
  return changed ? [['rules', shared]] : [];
}

// Asks whether `name` may go although `others` use files kept in it.
// What svnserve then does: without its account or rules file it refuses
// every connection; without its settings file it serves the defaults.
function askRemoveConsent(name, others) {
  return askConsent([], {
    title: 'Remove files other repositories use?',
    yes: 'Remove',
    parts: [others.length > 0 ? { names: others } : 'Other repositories', others.length === 1 ? ' uses' : ' use',
      ' files kept in “', { names: [name] }, '” (accounts, access rules or settings), which go with it. ' +
      'Until they are mended by hand, svnserve refuses every connection to a repository whose accounts or ' +
      'rules were there, and serves one whose settings were there with its defaults: anyone may read. Remove “',
      { names: [name] }, '” all the same?'],
  });
}

// ---- Access rules ----

const ACCESS_WORDS = { rw: 'Read and write', r: 'Read', '': 'No access' };

// The accounts of the repository in the editor, as last read.
let ruleAccounts = [];

function groupNames() {
  return [...$('#groups').children].map((row) => $('.group-name', row).value);
}

// Fills every rule's "who" list: accounts, groups, and the special ones.
function refreshWho() {
  const choices = [
    ...ruleAccounts.map((a) => [foldAccount(a), a]),
    ...groupNames().filter(Boolean).map((g) => [`@${g}`, `Group ${g}`]),
    ['*', 'Everyone'],
    ['$authenticated', 'Every account'],
    ['$anonymous', 'Anonymous users'],
  ];
  for (const select of document.querySelectorAll('.rule-who')) {
    const current = select.value || select.dataset.value || '';
    select.replaceChildren();
    for (const [value, label] of choices) select.add(new Option(label, value));
    if (current && !choices.some(([v]) => v === current)) select.add(new Option(current, current));
    select.value = current || choices[0][0];
  }
}

let rowCount = 0;

function labelRow(row) {
  const n = ++rowCount;
  for (const label of row.querySelectorAll(':scope > .field > label')) {
    const control = label.nextElementSibling;
    control.id = `access-${n}-${label.textContent.toLowerCase().replace(/\W+/g, '-')}`;
    label.htmlFor = control.id;
  }
}

function addGroupRow(name = '', members = []) {
  const row = $('#group-row').content.firstElementChild.cloneNode(true);
  labelRow(row);
  $('.group-name', row).value = name;
  const box = $('.members', row);
  // Rules name accounts folded (logins are checked so); the accounts
  // keep their own spelling on the page.
  const choices = new Map(members.map((m) => [m, m]));
  for (const account of ruleAccounts) choices.set(foldAccount(account), account);
  for (const [value, text] of choices) {
    const label = document.createElement('label');
    const check = document.createElement('input');
    check.type = 'checkbox';
    check.value = value;
    check.checked = members.includes(value);
    label.append(check, text);
    box.append(label);
  }
  $('.group-name', row).addEventListener('change', refreshWho);
  $('.remove-group', row).addEventListener('click', () => { row.remove(); refreshWho(); });
  $('.remove-group', row).setAttribute('aria-label', `Remove group ${name || 'new'}`);
  $('#groups').append(row);
  return row;
}

function addRuleRow(rule = { path: '/', who: '', access: 'r' }) {
  const row = $('#rule-row').content.firstElementChild.cloneNode(true);
  labelRow(row);
  $('.rule-path', row).value = rule.path;
  $('.rule-who', row).dataset.value = rule.who;
  $('.rule-access', row).value = rule.access;
  showScope(row, rule.scope);
  $('.remove-rule', row).addEventListener('click', () => row.remove());
  $('#rules').append(row);
  refreshWho();
  return row;
}

// `known`: the table could be worked out (an empty one means no rules).
function showEffective(effective, known = true) {
  const table = $('#effective');
  table.hidden = effective.length === 0;
  $('#effective-unknown').hidden = known;
  if (table.hidden) return;
  const keys = Object.keys(effective[0].access);
  const users = [...keys.filter((u) => u !== '$anonymous'), ...keys.filter((u) => u === '$anonymous')];
  const head = document.createElement('tr');
  for (const title of ['Path', ...users.map((u) => (u === '$anonymous' ? 'Anonymous' : u))]) {
    const th = document.createElement('th');
    th.scope = 'col';
    th.textContent = title;
    head.append(th);
  }
  $('thead', table).replaceChildren(head);
  const body = $('tbody', table);
  body.replaceChildren();
  for (const entry of effective) {
    const row = body.insertRow();
    cell(row, entry.path, 'name').dataset.label = 'Path';
    for (const user of users) {
      cell(row, ACCESS_WORDS[entry.access[user]], entry.access[user] ? '' : 'muted')
        .dataset.label = user === '$anonymous' ? 'Anonymous' : user;
    }
  }
}

// Shows the rules of `name`; where they cannot be read or changed here,
// says why (the rest of the editor works all the same).
async function loadRules(name, accounts) {
  ruleAccounts = accounts;
  $('#groups').replaceChildren();
  $('#rules').replaceChildren();
  showRulesError('');
  let data;
  try {
    data = (await call({ action: 'rules_show', name })).data;
  } catch (error) {
    if (error.key === 'nonexist') throw error;
    state.rules = null;
    setRulesMode('unreadable', (error.key === 'handmade' && error.info.reason) || 'The access rules cannot be read here.');
    showEffective([]);
    return;
  }
  const shared = Array.isArray(data.shared) ? data.shared : [];
  state.rules = { shared, groups: data.groups, rules: data.rules };
  // Where the file keeps rules of both kinds, each says which it is.
  $('#rules').classList.toggle('scoped', shared.length > 0 || data.rules.some((r) => r.scope === 'repository'));
  for (const [group, members] of Object.entries(data.groups)) addGroupRow(group, members);
  for (const rule of data.rules) addRuleRow(rule);
  refreshWho();
  setRulesMode(data.editable === false ? 'readonly' : 'edit', data.reason || 'The access rules cannot be changed here.');
  showShared($('#rules-shared'), shared, 'This rules file is shared with ', (others) =>
    `: its groups, and the rules for every repository using the file, apply to ${allOf(others)}; ` +
    'the rules for this repository apply here alone.');
  showEffective(data.effective, data.effective.length > 0 || data.rules.length === 0);
}

function showRulesError(text) {
  const box = $('#rules-error');
  box.textContent = text;
  box.hidden = !text;
}

// What the server would refuse, in words; or the groups and rules.
function readRules() {
  const groups = {};
  for (const row of $('#groups').children) {
    const name = $('.group-name', row).value;
    if (!name.trim()) return { error: 'Every group needs a name.', focus: $('.group-name', row) };
    if (/^[@$&*~]/.test(name) || /[=:,\r\n]/.test(name) || name !== name.trim()) {
      return { error: `The group name “${name}” may not start with @ $ & * ~, hold = : , or a line break, or start or end with a blank.`, focus: $('.group-name', row) };
    }
    if (name in groups) return { error: `The group “${name}” is listed twice.`, focus: $('.group-name', row) };
    groups[name] = [...row.querySelectorAll('.members input:checked')].map((c) => c.value);
  }
  const rules = [];
  const seen = new Set();
  for (const row of $('#rules').children) {
    const path = $('.rule-path', row).value;
    const who = $('.rule-who', row).value;
    const access = $('.rule-access', row).value;
    const segments = path.split('/').slice(1);
    if (!path.startsWith('/') || (path !== '/' && segments.some((s) => s === '' || s === '.' || s === '..')) ||
        /[\u0000-\u001f\u007f\]]/.test(path)) {
      return { error: `The path “${path}” must start with “/”, with no empty, “.” or “..” part, no “/” at its end, no “]” or line break.`, focus: $('.rule-path', row) };
    }
    if (who.startsWith('@') && !(who.slice(1) in groups)) {
      return { error: `The rule for “${path}” names the group “${who.slice(1)}”, which is not defined.`, focus: $('.rule-who', row) };
    }
    const scope = $('.rule-scope', row).value;
    if (seen.has(`${scope}\n${path}\n${who}`)) {
      return { error: `There are two rules for “${who}” at “${path}”.`, focus: $('.rule-path', row) };
    }
    seen.add(`${scope}\n${path}\n${who}`);
    rules.push({ path, who, access, scope });
  }
  return { groups, rules };
}

async function saveRules() {
  const name = state.editing;
  const { groups, rules, error, focus } = readRules();
  if (error) {
    showRulesError(error);
    focus.focus();
    return;
  }
  const button = $('#save-rules');
  button.disabled = true;
  try {
    const params = { action: 'rules_edit', name, groups: JSON.stringify(groups), rules: JSON.stringify(rules) };
    const foresee = async () => {
      const reach = rulesReach(state.rules ? state.rules.shared : [], groups, rules);
      if (reach.length === 0) return reach;
      const now = await sharingNow(name, { rules: state.rules.shared });
      return rulesReach(Array.isArray(now.rules) ? now.rules : [], groups, rules);
    };
    if (!(await changeWithConsent(params, foresee, (reach) => askConsent(reach)))) {
      showRulesError('Nothing was saved.');
      return;
    }
    showRulesError('');
    await loadRules(name, ruleAccounts);
    showRecent(name);
    say(`Access rules of “${visible(name)}” saved.`);
  } catch (err) {
    showRulesError(failure(err, name, 'given these rules'));
  } finally {
    button.disabled = false;
  }
}

// ---- Hook presets ----

// Each switch of the editor: its parameter of hooks_show and hooks_edit,
// and what it is called.
const HOOKS = [
  ['log_edits', '#h-log-edits', 'Editing log messages'],
  ['read_only', '#h-read-only', 'Read-only'],
];

// Shows the presets of `name`: on, off, or a hook made by hand, whose
// switch is disabled with the reason shown.
async function loadHooks(name) {
  showError('#hooks-error', '');
  let data = null;
  try {
    data = (await call({ action: 'hooks_show', name })).data;
  } catch (error) {
    showError('#hooks-error', failure(error, name, 'read'));
  }
  for (const [key, id] of HOOKS) {
    const input = $(id);
    const value = data ? data[key] : 'custom';
    input.checked = value === true;
    input.disabled = value !== true && value !== false;
    const reason = $(`${id}-reason`);
    reason.textContent = data && data.reasons && data.reasons[key] ? data.reasons[key] : '';
    reason.hidden = !reason.textContent;
  }
}

// Puts `text` in the error box `selector`, hidden while there is none.
function showError(selector, text) {
  const box = $(selector);
  box.textContent = text;
  box.hidden = !text;
}

// A switch takes effect at once: it sends only its own preset.
async function switchHook(key, input, label) {
  const name = state.editing;
  const on = input.checked;
  input.disabled = true;
  try {
    await call({ action: 'hooks_edit', name, [key]: on ? 'yes' : 'no' }, { change: true });
    showError('#hooks-error', '');
    say(`${label} is ${on ? 'on' : 'off'} for “${visible(name)}”.`);
  } catch (error) {
    showError('#hooks-error', error.info.reason || failure(error, name, 'changed'));
  }
  await loadHooks(name);
}

// ---- Renaming ----

function openRename(name, opener) {
  state.renaming = name;
  state.consent = false;
  putName($('#rename-title'), 'Rename “', name, '”');
  showError('#rename-error', '');
  // The field starts with the name only when it shows as it is.
  $('#r-name').value = visible(name) === name ? name : '';
  $('#rename-save').textContent = 'Rename';
  openDialog($('#renamer'), opener);
  $('#r-name').focus();
  $('#r-name').select();
}

// Words for a refused rename of `name` to `to`.
function renameFailure(error, name, to) {
  const { reason, repositories = [] } = error.info;
  if (error.key === 'exist') return reason || `A repository named “${visible(to)}” already exists.`;
  if (error.key === 'busy') return `“${visible(name)}” is busy with other work; try again in a moment.`;
  if (error.key === 'handmade') return reason;
  if (error.key === 'shared') {
    const others = repositories.map((r) => `“${visible(r)}”`).join(', ');
    return `${reason || 'The rename changes a file that other repositories use as well.'} ` +
      `It reaches ${others}. Rename anyway?`;
  }
  return failure(error, name, 'renamed');
}

async function rename(event) {
  event.preventDefault();
  const name = state.renaming;
  const to = $('#r-name').value;  // sent exactly as typed
  const problem = nameProblem(to) || (to === name ? 'That is its name already.' : '');
  if (problem) {
    showError('#rename-error', problem);
    $('#r-name').focus();
    return;
  }
  const button = $('#rename-save');
  button.disabled = true;
  try {
    const params = { action: 'rename', name, to };
    if (state.consent) params.shared = 'yes';
    await call(params, { change: true });
  } catch (error) {
    showError('#rename-error', renameFailure(error, name, to));
    state.consent = error.key === 'shared';
    button.textContent = state.consent ? 'Rename anyway' : 'Rename';
    if (error.key === 'nonexist') loadPage();
    return;
  } finally {
    button.disabled = false;
  }
  closeDialog($('#renamer'));
  say(`Repository “${visible(name)}” renamed to “${visible(to)}”.`);
  await loadPage();
}

// ---- Removal ----

function confirmRemove(name, opener) {
  const dialog = $('#confirm');
  putName($('#confirm-title'), 'Remove “', name, '”?');
  putName($('#confirm-text'), 'The repository “', name,
    '” and its whole history will be deleted. This cannot be undone.');
  dialog.returnValue = '';
  dialog.onclose = async () => {
    if (state.opener && state.opener.isConnected) state.opener.focus();
    if (dialog.returnValue !== 'remove') return;
    try {
      // Files in it that other repositories use go with it: only when
      // the administrator agrees, once the program has named them.
      const ask = ([[, others]]) => askRemoveConsent(name, others);
      if (!(await changeWithConsent({ action: 'remove', name }, null, ask))) {
        say(`Repository “${visible(name)}” was not removed.`);
        return;
      }
      say(`Repository “${visible(name)}” removed.`);
    } catch (error) {
      say(failure(error, name, 'removed'));
    }
    await loadPage();
    if (!state.opener || !state.opener.isConnected) $('#create').focus();
  };
  openDialog(dialog, opener);
}

// ---- Backups, restores and verifies ----

// They run as jobs on the server: an action starts one and answers with
// its id; the page asks how they stand while any runs.
const JOB_WORDS = {
  backup: ['Backing up', 'Backup of'],
  restore: ['Restoring', 'Restore of'],
  verify: ['Verifying', 'Verify of'],
};

const jobs = {
  list: [],          // as the server last said, newest first
  watched: new Set(),  // ids started or seen running here: their end is shown
  timer: null,
};

function jobLine(job) {
  const [doing, of] = JOB_WORDS[job.kind] || [job.kind, job.kind];
  const li = document.createElement('li');
  li.className = `job ${job.state}`;
  const what = document.createElement('span');
  what.className = 'what';
  const name = visible(job.name);
  if (job.state === 'running') {
    what.textContent = `${doing} “${name}”`;
    const bar = document.createElement('progress');
    bar.setAttribute('aria-label', `${doing} “${name}”`);
    const count = document.createElement('span');
    count.className = 'count';
    const { done, total } = job.progress;
    if (Number.isInteger(total)) {
      bar.max = Math.max(total, 1);
      bar.value = Math.min(done, bar.max);
      count.textContent = `revision ${done} of ${total}`;
    } else {
      count.textContent = `${done} revisions so far`;  // a plain dump does not say
    }
    const cancel = document.createElement('button');
    cancel.type = 'button';
    cancel.textContent = 'Cancel';
    cancel.setAttribute('aria-label', `Cancel: ${doing.toLowerCase()} “${name}”`);
    cancel.addEventListener('click', () => cancelJob(job, cancel));
    li.append(what, bar, count, cancel);
  } else {
    const ended = {
      done: job.kind === 'backup' ? `done, revision ${job.progress.done}.`
        : job.kind === 'verify' ? 'no problems found.' : 'done.',
      cancelled: 'cancelled; nothing was left half-made.',
      failed: `failed: ${job.error || 'the system log says why.'}`,
    }[job.state];
    what.textContent = `${of} “${name}” ${ended}`;
    li.append(what);
  }
  return li;
}

// Shows the jobs in the page's list, and those of the repository whose
// backups are open in theirs.
function showJobs() {
  const shown = jobs.list.filter((j) => j.state === 'running' || jobs.watched.has(j.id));
  $('#jobs .job-list').replaceChildren(...shown.map(jobLine));
  $('#jobs').hidden = shown.length === 0;
  if (state.backupsOf !== null) {
    $('#repo-jobs').replaceChildren(...shown.filter((j) => j.name === state.backupsOf).map(jobLine));
  }
}

async function pollJobs() {
  clearTimeout(jobs.timer);
  let answer;
  try {
    answer = await call({ action: 'jobs' });
  } catch {
    jobs.timer = setTimeout(pollJobs, 3000);
    return;
  }
  const before = new Map(jobs.list.map((j) => [j.id, j.state]));
  jobs.list = answer.data;
  let ended = false;
  for (const job of jobs.list) {
    if (job.state === 'running') {
      jobs.watched.add(job.id);
    } else if (before.get(job.id) === 'running') {
      ended = true;
      say(jobLine(job).textContent);
    }
  }
  showJobs();
  if (ended) {
    await loadPage();
    if (state.backupsOf !== null) await loadBackups();
  }
  if (jobs.list.some((j) => j.state === 'running')) jobs.timer = setTimeout(pollJobs, 500);
}

// Sends an action that starts a job and follows it.
async function startJob(params, name, doing) {
  const answer = await call(params, { change: true });
  jobs.watched.add(answer.data.job);
  say(`${doing} “${visible(name)}” …`);
  await pollJobs();
}

async function cancelJob(job, button) {
  button.disabled = true;
  try {
    await call({ action: 'job_cancel', id: job.id }, { change: true });
  } catch (error) {
    say(failure(error, job.name, 'stopped'));
  }
  await pollJobs();
}

function humanTime(iso) {
  return new Date(iso).toLocaleString();
}

function showBackupsError(text) {
  const box = $('#backups-error');
  box.textContent = text;
  box.hidden = !text;
}

async function loadBackups() {
  const name = state.backupsOf;
  const [list, shown] = await Promise.all([
    call({ action: 'backups', name }),
    call({ action: 'show', name }),
  ]);
  const verified = shown.data && shown.data.verified;
  $('#verified').textContent = !verified ? 'Never verified.'
    : `Last verified ${humanTime(verified.time)}: ${verified.ok ? 'no problems found' : 'problems found'}.`;
  $('#verified').classList.toggle('error', Boolean(verified && !verified.ok));
  const body = $('#backup-table tbody');
  body.replaceChildren();
  for (const backup of list.data) {
    const row = body.insertRow();
    cell(row, humanTime(backup.time)).dataset.label = 'Taken';
    cell(row, String(backup.rev), 'rev').dataset.label = 'Revision';
    cell(row, humanSize(backup.size)).dataset.label = 'Size';
    const actions = row.insertCell();
    actions.className = 'actions';
    const link = document.createElement('a');
    link.href = `${ENDPOINT}?${new URLSearchParams({ action: 'backup_get', name, file: backup.file })}`;
    link.textContent = 'Download';
    link.download = backup.file;
    link.setAttribute('aria-label', `Download the backup of ${humanTime(backup.time)}`);
    const restore = document.createElement('button');
    restore.type = 'button';
    restore.textContent = 'Restore…';
    restore.setAttribute('aria-label', `Restore the backup of ${humanTime(backup.time)} as a new repository`);
    restore.addEventListener('click', () => openRestore(backup.file, restore));
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.textContent = 'Remove';
    remove.setAttribute('aria-label', `Remove the backup of ${humanTime(backup.time)}`);
    remove.addEventListener('click', () => removeBackup(backup));
    actions.append(link, restore, remove);
  }
  $('#backup-table').hidden = list.data.length === 0;
  $('#no-backups').hidden = list.data.length > 0;
  showJobs();
}

async function openBackups(name, opener) {
  state.backupsOf = name;
  putName($('#backups-title'), 'Backups of “', name, '”');
  showBackupsError('');
  try {
    await loadBackups();
  } catch (error) {
    state.backupsOf = null;
    say(failure(error, name, 'opened'));
    return;
  }
  openDialog($('#backups'), opener);
}

function removeBackup(backup) {
  const dialog = $('#confirm-backup');
  $('#confirm-backup-text').textContent =
    `The backup of ${humanTime(backup.time)} (revision ${backup.rev}) will be deleted.`;
  dialog.returnValue = '';
  dialog.onclose = async () => {
    if (dialog.returnValue !== 'remove') return;
    try {
      await call({ action: 'backup_remove', name: backup.name, file: backup.file }, { change: true });
    } catch (error) {
      showBackupsError(failure(error, backup.name, 'changed'));
    }
    await loadBackups();
  };
  dialog.showModal();
}

async function jobButton(params, doing) {
  const name = state.backupsOf;
  showBackupsError('');
  try {
    await startJob({ ...params, name }, name, doing);
  } catch (error) {
    showBackupsError(failure(error, name, 'started on'));
  }
}

// ---- Restoring ----

function showRestoreError(text) {
  const box = $('#restore-error');
  box.textContent = text;
  box.hidden = !text;
}

async function openRestore(file, opener) {
  const form = $('#restore-form');
  form.reset();
  showRestoreError('');
  $('#r-upload').hidden = true;
  const select = $('#r-backup');
  select.replaceChildren();
  try {
    const list = await call({ action: 'backups' });
    for (const b of list.data) {
      select.add(new Option(`${visible(b.name)} — ${humanTime(b.time)} — revision ${b.rev}`, b.file));
    }
  } catch (error) {
    showRestoreError(error.message || 'The backups could not be listed.');
  }
  if (file) select.value = file;
  if (select.options.length === 0) form.elements.source.value = 'file';
  openDialog($('#restore'), opener);
  $('#restore-name').focus();
}

// Sends a restore with its upload, showing how far the upload got (fetch
// cannot say).  Resolves to the program's answer.
function upload(fields, file) {
  const body = new FormData();
  for (const [k, v] of Object.entries(fields)) body.append(k, v);
  body.append('upload', file);  // last: the fields come before it
  const bar = $('#r-upload-bar');
  const text = $('#r-upload-text');
  $('#r-upload').hidden = false;
  return new Promise((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open('POST', ENDPOINT);
    xhr.upload.onprogress = (event) => {
      if (!event.lengthComputable) return;
      bar.value = (100 * event.loaded) / event.total;
      text.textContent = `Uploading: ${humanSize(event.loaded)} of ${humanSize(event.total)}`;
    };
    xhr.onload = () => {
      let json = null;
      try { json = JSON.parse(xhr.responseText); } catch { /* not the program's */ }
      if (xhr.status === 413) reject(new RequestError('The file is too large for the server.'));
      else if (xhr.status !== 200 || json === null) reject(new RequestError(`The server answered with an error (${xhr.status}).`));
      else if (!json.success) reject(new RequestError('', json.errinfo ? json.errinfo.key : undefined));
      else resolve(json);
    };
    xhr.onerror = () => reject(new RequestError('The upload did not reach the server.'));
    xhr.send(body);
  });
}

async function restore(event) {
  event.preventDefault();
  const form = $('#restore-form');
  const name = $('#restore-name').value;
  const fromFile = form.elements.source.value === 'file';
  const file = $('#r-file').files[0];
  const realm = $('#r-realm').value;
  const problem = nameProblem(name) ||
    (fromFile && !file ? 'Choose the file to restore.' : '') ||
    (!fromFile && !$('#r-backup').value ? 'Choose a backup to restore.' : '') ||
    (realm && valueProblem(realm, 'The realm'));
  if (problem) {
    showRestoreError(problem);
    return;
  }
  const button = $('#restore-start');
  button.disabled = true;
  try {
    let answer;
    if (fromFile) {
      const fields = { action: 'restore', name, anon: form.elements['r-anon'].value };
      if (realm) fields.realm = realm;
      answer = await upload(fields, file);
    } else {
      answer = await call({ action: 'restore', name, file: $('#r-backup').value }, { change: true });
    }
    jobs.watched.add(answer.data.job);
    closeDialog($('#restore'));
    say(`Restoring “${visible(name)}” …`);
    await pollJobs();
  } catch (error) {
    showRestoreError(failure(error, name, 'restored'));
  } finally {
    button.disabled = false;
  }
}

// ---- Wiring ----

async function start() {
  try {
    const config = await (await fetch(new URL('config.json', HERE), { credentials: 'same-origin' })).json();
    if (config.svnPort && Number(config.svnPort) !== 3690) state.svnPort = config.svnPort;
  } catch {
    // no config: svnserve on its default port
  }
  $('#search').addEventListener('submit', (event) => {
    event.preventDefault();
    state.query = $('#query').value;
    state.start = 0;
    loadPage();
  });
  $('#clear').addEventListener('click', () => {
    $('#query').value = '';
    state.query = '';
    state.start = 0;
    loadPage();
    $('#query').focus();
  });
  $('#prev').addEventListener('click', () => {
    state.start = Math.max(0, state.start - PAGE_SIZE);
    loadPage();
  });
  $('#next').addEventListener('click', () => {
    state.start += PAGE_SIZE;
    loadPage();
  });
  $('#create').addEventListener('click', (event) => openEditor(null, event.currentTarget));
  $('#add-account').addEventListener('click', () => addAccountRow().focus());
  $('#cancel').addEventListener('click', () => closeDialog($('#editor')));
  $('#repo-form').addEventListener('submit', save);
  $('#add-group').addEventListener('click', () => $('.group-name', addGroupRow()).focus());
  $('#add-rule').addEventListener('click', () => $('.rule-path', addRuleRow()).focus());
  $('#save-rules').addEventListener('click', saveRules);
  $('#copy-checkout').addEventListener('click', copyCheckout);
  for (const [key, id, label] of HOOKS) {
    $(id).addEventListener('change', (event) => switchHook(key, event.currentTarget, label));
  }
  $('#rename-form').addEventListener('submit', rename);
  $('#rename-cancel').addEventListener('click', () => closeDialog($('#renamer')));
  $('#r-name').addEventListener('input', () => {
    // Consent was for the name asked before.
    state.consent = false;
    $('#rename-save').textContent = 'Rename';
  });
  $('#backup-now').addEventListener('click', () => jobButton({ action: 'backup' }, 'Backing up'));
  $('#verify-now').addEventListener('click', () => jobButton({ action: 'verify' }, 'Verifying'));
  $('#backups-close').addEventListener('click', () => closeDialog($('#backups')));
  $('#backups').addEventListener('close', () => { state.backupsOf = null; });
  $('#restore-from-backups').addEventListener('click', (event) => openRestore('', event.currentTarget));
  $('#restore-open').addEventListener('click', (event) => openRestore('', event.currentTarget));
  $('#restore-cancel').addEventListener('click', () => closeDialog($('#restore')));
  $('#restore-form').addEventListener('submit', restore);
  $('#r-file').addEventListener('change', () => { $('#restore-form').elements.source.value = 'file'; });
  $('#r-backup').addEventListener('change', () => { $('#restore-form').elements.source.value = 'listed'; });
  await loadPage();
  await pollJobs();
}

start();
