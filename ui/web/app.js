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
  if (error.key === 'exist') return `A repository named “${shown}” already exists.`;
  if (error.key === 'nonexist') return `There is no repository named “${shown}” any more.`;
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
  for (const [label, handler] of [['Edit', openEditor], ['Rename', openRename], ['Remove', confirmRemove]]) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = label;
    button.setAttribute('aria-label', `${label} ${visible(repo.name)}`);
    button.addEventListener('click', () => handler(repo.name, button));
    actions.append(button);
  }
}

async function loadPage() {
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
    say(error.message || 'The repositories could not be listed.');
    return;
  }
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
  $('#hooks').hidden = !editing;
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
  await loadPage();
}

start();
