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
  backupsOf: null, // name of the repository whose backups are open
  opener: null,    // the button that opened a dialog, to return focus to
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

// ---- Talking to the program ----

class RequestError extends Error {
  constructor(message, key) {
    super(message);
    this.key = key;
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
  if (json.success === false) throw new RequestError('', key);
  return json;
}

// Words for a failed action on `name`.
function failure(error, name, doing) {
  const shown = visible(name);
  if (error.key === 'exist') return `A repository named “${shown}” already exists.`;
  if (error.key === 'nonexist') return `There is no repository named “${shown}” any more.`;
  if (error.key === 'busy') return `Another job is running on “${shown}”; try again when it has ended.`;
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
  const realm = cell(row, repo.realm || 'none', repo.realm ? '' : 'muted');
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
  for (const [label, handler] of [['Edit', openEditor], ['Backups', openBackups], ['Remove', confirmRemove]]) {
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

function addAccountRow(account = '', password = '') {
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
  const show = $('.show-password', row);
  show.setAttribute('aria-controls', secret.id);
  show.addEventListener('click', () => {
    const visible = secret.type === 'password';
    secret.type = visible ? 'text' : 'password';
    show.textContent = visible ? 'Hide' : 'Show';
    show.setAttribute('aria-pressed', String(visible));
  });
  const remove = $('.remove-account', row);
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
  $('#no-accounts').hidden = rows.length > 0;
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
  state.editing = name;
  const editing = name !== null;
  if (editing) putName($('#editor-title'), 'Edit “', name, '”');
  else $('#editor-title').textContent = 'New repository';
  $('#save').textContent = editing ? 'Save' : 'Create';
  $('#f-name').readOnly = editing;
  $('#access').hidden = !editing;
  $('#facts').hidden = !editing;
  $('#layout-field').hidden = editing;
  $('#copy-checkout').textContent = 'Copy';
  if (editing) {
    try {
      const shown = await call({ action: 'show', name });
      if (shown.data === null) throw new RequestError('', shown.errinfo ? shown.errinfo.key : '');
      const accounts = await call({ action: 'acc_show', name });
      // Only shown: what is sent is `name`, as the program gave it.
      form.elements.name.value = visible(name);
      form.elements.realm.value = shown.data.realm;
      showAccess(form, shown.data.anon);
      showFacts(shown.data);
      for (const a of accounts.account) addAccountRow(a.account, a.password);
      await loadRules(name, accounts.account.map((a) => a.account));
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
  const { accounts, error, focus } = readAccounts();
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
    await call(params, { change: true });
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
    control.id = `access-${n}-${label.textContent.toLowerCase()}`;
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
  $('.remove-rule', row).addEventListener('click', () => row.remove());
  $('#rules').append(row);
  refreshWho();
  return row;
}

function showEffective(effective) {
  const table = $('#effective');
  table.hidden = effective.length === 0;
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

async function loadRules(name, accounts) {
  ruleAccounts = accounts;
  $('#groups').replaceChildren();
  $('#rules').replaceChildren();
  showRulesError('');
  const shown = await call({ action: 'rules_show', name });
  for (const [group, members] of Object.entries(shown.data.groups)) addGroupRow(group, members);
  for (const rule of shown.data.rules) addRuleRow(rule);
  refreshWho();
  showEffective(shown.data.effective);
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
    if (seen.has(`${path}\n${who}`)) {
      return { error: `There are two rules for “${who}” at “${path}”.`, focus: $('.rule-path', row) };
    }
    seen.add(`${path}\n${who}`);
    rules.push({ path, who, access });
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
    await call({ action: 'rules_edit', name, groups: JSON.stringify(groups), rules: JSON.stringify(rules) },
      { change: true });
    showRulesError('');
    await loadRules(name, ruleAccounts);
    say(`Access rules of “${visible(name)}” saved.`);
  } catch (err) {
    showRulesError(failure(err, name, 'given these rules'));
  } finally {
    button.disabled = false;
  }
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
      await call({ action: 'remove', name }, { change: true });
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
  $('#r-name').focus();
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
  const name = $('#r-name').value;
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
