// The access rules part of the edit dialog: groups, rules (who may read
// or write which path), what each account may do as the server decides,
// saved on their own.

import { $, call, cell, failure, foldAccount, say, visible } from './common.js';
import { allOf, showShared, sharingNow, askConsent, changeWithConsent } from './consent.js';
import { edit } from './edit-state.js';
import { showRecent } from './history.js';

const ACCESS_WORDS = { rw: 'Read and write', r: 'Read', '': 'No access' };

// The accounts of the repository in the editor, as last read.
let ruleAccounts = [];

// A rule binds this repository alone ("[NAME:/path]", scope
// "repository") or every repository using the rules file ("[/path]",
// "all").  A new rule goes where the file keeps this repository's rules:
// its own sections in a file others use too.  A name holding ":" or "]"
// cannot stand in a section's name.
function showScope(row, scope) {
  const select = $('.rule-scope', row);
  const ownSections = !/[:\]]/.test(edit.name || '');
  if (!ownSections && scope !== 'repository') select.querySelector('[value=repository]').remove();
  const shared = edit.rules && edit.rules.shared.length > 0;
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
  if (shared.length === 0 || !edit.rules) return [];
  const folded = (name) => (/^[@$&*~]/.test(name) ? name : foldAccount(name));
  const groupsOf = (g, fold) => JSON.stringify(Object.keys(g).sort()
    .map((k) => [k, g[k].map((m) => (fold && !m.startsWith('@') ? foldAccount(m) : m))]));
  const forAll = (list, fold) => JSON.stringify([...new Set(list.filter((r) => r.scope === 'all')
    .map((r) => JSON.stringify([r.path, fold ? folded(r.who) : r.who, r.access])))].sort());
  const changed = groupsOf(groups, true) !== groupsOf(edit.rules.groups, false) ||
    forAll(rules, true) !== forAll(edit.rules.rules, false);
  return changed ? [['rules', shared]] : [];
}

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
export async function loadRules(name, accounts) {
  ruleAccounts = accounts;
  $('#groups').replaceChildren();
  $('#rules').replaceChildren();
  showRulesError('');
  let data;
  try {
    data = (await call({ action: 'rules_show', name })).data;
  } catch (error) {
    if (error.key === 'nonexist') throw error;
    edit.rules = null;
    setRulesMode('unreadable', (error.key === 'handmade' && error.info.reason) || 'The access rules cannot be read here.');
    showEffective([]);
    return;
  }
  const shared = Array.isArray(data.shared) ? data.shared : [];
  edit.rules = { shared, groups: data.groups, rules: data.rules };
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
  const name = edit.name;
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
      const reach = rulesReach(edit.rules ? edit.rules.shared : [], groups, rules);
      if (reach.length === 0) return reach;
      const now = await sharingNow(name, { rules: edit.rules.shared });
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

export function startRules() {
  $('#add-group').addEventListener('click', () => $('.group-name', addGroupRow()).focus());
  $('#add-rule').addEventListener('click', () => $('.rule-path', addRuleRow()).focus());
  $('#save-rules').addEventListener('click', saveRules);
}
