// The history: who changed what and when, from the program's audit log
// ("audit"), in words, filtered by repository and administrator, a page at
// a time; and the last changes of a repository in its edit dialog.

import { $, call, cell, nameElement } from './common.js';
import { loadPage } from './list.js';

const HISTORY_PAGE = 20;
const RECENT_CHANGES = 5;

const trail = { name: '', user: '', start: 0, shown: false, recent: 0 };

// Every action that leaves a record, in words: done, and tried.  Records
// of hooks (a log message changed) and of jobs' ends are the server's own.
const ACTION_WORDS = {
  add: 'Created', edit: 'Edited', remove: 'Removed', rules_edit: 'Access rules edited',
  rename: 'Renamed', hooks_edit: 'Switches changed', backup: 'Backup started',
  restore: 'Restore started', verify: 'Verify started', job_cancel: 'Job cancelled',
  backup_remove: 'Backup removed', log_edit: 'Log message changed',
};
const ATTEMPT_WORDS = {
  add: 'Create', edit: 'Edit', remove: 'Remove', rules_edit: 'Access rules edit',
  rename: 'Rename', hooks_edit: 'Switch change', backup: 'Backup', restore: 'Restore',
  verify: 'Verify', job_cancel: 'Job cancel', backup_remove: 'Backup removal',
  log_edit: 'Log message change',
};
const OUTCOME_WORDS = {
  refused: 'refused', failed: 'failed', exist: 'failed: the name is taken',
  nonexist: 'failed: no such repository', busy: 'failed: busy',
  shared: 'refused: it would change other repositories too',
  handmade: 'refused: edited by hand', cancelled: 'cancelled',
};
// A job's kind, and how its end is told.
const JOB_KINDS = { backup: 'Backup', restore: 'Restore', verify: 'Verify' };
const JOB_ENDS = { done: 'finished', failed: 'failed', cancelled: 'cancelled' };
// What a record without changes did, where "nothing" would mislead.
const DONE_WORDS = {
  remove: 'The repository, with its history, settings and accounts',
};
const SETTING_WORDS = {
  realm: 'Realm', 'anon-access': 'Anonymous access', 'auth-access': 'Account access',
  'password-db': 'Account file', 'authz-db': 'Access rules file', 'groups-db': 'Groups file',
  'force-username-case': 'Logins checked in', 'use-sasl': 'SASL',
  log_edits: 'Editing log messages', read_only: 'Read-only',
};
const SWITCH_WORDS = { on: 'on', off: 'off' };
const CASE_WORDS = { lower: 'lower case', upper: 'upper case', none: 'the case typed' };
const LEVEL_WORDS = { read: 'read', write: 'read and write', none: 'no access' };
const RULE_WORDS = { rw: 'read and write', r: 'read', '': 'no access' };

function whoWords(who) {
  if (who === '*') return 'everyone';
  if (who === '$authenticated') return 'every account';
  if (who === '$anonymous') return 'anonymous users';
  return who.startsWith('@') ? `group ${who.slice(1)}` : who;
}

// A setting's value in words; null is "not set".
function settingValue(key, value) {
  if (key === 'force-username-case') return CASE_WORDS[value || 'none'] || `“${value}”`;
  if (value === null || value === undefined) return 'not set';
  if (key.endsWith('-access')) return LEVEL_WORDS[value] || `“${value}”`;
  if (key === 'log_edits' || key === 'read_only') return SWITCH_WORDS[value] || `“${value}”`;
  return `“${value}”`;
}

function settingWords(key, change, created) {
  const label = SETTING_WORDS[key] || key;
  if (key === 'authz-db' && change.old === null) return 'Access rules turned on';
  if (key === 'authz-db' && change.new === null) return 'Access rules turned off';
  if (change.old === null && created) return `${label}: ${settingValue(key, change.new)}`;
  return `${label}: ${settingValue(key, change.old)} → ${settingValue(key, change.new)}`;
}

const names = (list) => list.join(', ');

// The order changes are told in: the settings people set first, then
// the rest of the settings, accounts, groups, rules, anything else.
const CHANGE_ORDER = ['realm', 'anon-access', 'auth-access', '', 'accounts', 'groups', 'rules', 'layout'];
const isSetting = (value) => value !== null && typeof value === 'object' && 'old' in value && 'new' in value;
function changeRank([key, value]) {
  const at = CHANGE_ORDER.indexOf(key);
  return at >= 0 ? at : isSetting(value) ? CHANGE_ORDER.indexOf('') : CHANGE_ORDER.length;
}

// What a record's "changes" say, in sentences.
function changeWords(record) {
  if (record.action === 'job_end') {
    const words = jobFacts(record);
    if (record.changes && record.changes.job) words.push(`Job ${record.changes.job}`);
    return words;
  }
  const changes = Object.entries(record.changes || {});
  changes.sort((a, b) => changeRank(a) - changeRank(b));
  const words = [];
  for (const [key, value] of changes) {
    if (key === 'name' && record.action === 'rename' && isSetting(value)) {
      words.push(`Name: “${value.old}” → “${value.new}”`);
    } else if (key === 'log' && record.action === 'log_edit' && isSetting(value)) {
      words.push(`Log message of revision ${record.changes.rev}: “${value.old}” → “${value.new}”`);
    } else if (isSetting(value)) {
      words.push(settingWords(key, value, record.action === 'add'));
    } else if (key === 'accounts') {
      if (value.added) words.push(`Accounts added: ${names(value.added)}`);
      if (value.removed) words.push(`Accounts removed: ${names(value.removed)}`);
      if (value.password) words.push(`Password changed: ${names(value.password)}`);
    } else if (key === 'groups') {
      const before = new Map((value.removed || []).map((g) => [g.group, g.members]));
      for (const g of value.added || []) {
        if (before.has(g.group)) {
          words.push(`Group ${g.group}: ${names(before.get(g.group)) || 'nobody'} → ${names(g.members) || 'nobody'}`);
          before.delete(g.group);
        } else {
          words.push(`Group ${g.group} added: ${names(g.members) || 'nobody'}`);
        }
      }
      for (const group of before.keys()) words.push(`Group ${group} removed`);
    } else if (key === 'rules') {
      const place = (r) => `${r.path}, ${whoWords(r.who)}`;
      const before = new Map((value.removed || []).map((r) => [place(r), r.access]));
      for (const r of value.added || []) {
        if (before.has(place(r))) {
          words.push(`Rule ${place(r)}: ${RULE_WORDS[before.get(place(r))]} → ${RULE_WORDS[r.access]}`);
          before.delete(place(r));
        } else {
          words.push(`Rule added: ${place(r)}: ${RULE_WORDS[r.access]}`);
        }
      }
      for (const [where, access] of before) words.push(`Rule removed: ${where} (${RULE_WORDS[access]})`);
    } else if (key === 'layout') {
      words.push(value === 'standard' ? 'Standard layout: trunk, branches, tags' : `Layout: ${value}`);
    } else if (key === 'rev' && record.action === 'log_edit') {
      // told with the message

    } else if (key === 'job' || key === 'file') {
      words.push(`${key === 'job' ? 'Job' : 'Backup file'} ${value}`);
    } else if (key === 'result') {
      words.push(...value);
    } else {
      words.push(`${key}: ${typeof value === 'string' ? value : JSON.stringify(value)}`);
    }
  }
  if (record.abridged) words.push('(details abridged: the change was too long to keep whole)');
  return words;
}

// An action no word is known for yet, in words of its key.
const keyWords = (key) => `Change “${String(key).replaceAll('_', ' ')}”`;

function actionWords(record) {
  if (record.action === 'job_end') {
    const kind = JOB_KINDS[record.changes && record.changes.kind] || 'Job';
    return `${kind} ${JOB_ENDS[record.outcome] || OUTCOME_WORDS[record.outcome] || record.outcome}`;
  }
  if (record.outcome === 'done') return ACTION_WORDS[record.action] || keyWords(record.action);
  const attempt = ATTEMPT_WORDS[record.action] || keyWords(record.action);
  return `${attempt} ${OUTCOME_WORDS[record.outcome] || record.outcome}`;
}

// What a job's end record says of it: its revision, its file, why it
// failed.
function jobFacts(end) {
  const changes = end.changes || {};
  const words = [];
  if (changes.rev !== undefined && changes.rev !== null) words.push(`Revision ${changes.rev}`);
  if (changes.file) words.push(`Backup file ${changes.file}`);
  if (changes.error) words.push(`Why: ${changes.error}`);
  return words;
}

// How a job ended, in words, from its end record: its result, revision
// and file.
function jobResult(end) {
  return [`Result: ${JOB_ENDS[end.outcome] || OUTCOME_WORDS[end.outcome] || end.outcome}`, ...jobFacts(end)];
}

// The records of a page as they are shown: each job's end record joins
// the record of the request that started it when both are on the page
// (its result, revision and file told there), and stands on its own
// otherwise.
function joinJobEnds(records) {
  const ends = new Map();
  for (const r of records) {
    if (r.action === 'job_end' && r.changes && r.changes.job) ends.set(r.changes.job, r);
  }
  const joined = new Set();
  const shown = records.map((r) => {
    const end = r.action !== 'job_end' && r.changes && r.changes.job && ends.get(r.changes.job);
    if (!end || r.action === 'job_cancel') return r;
    joined.add(end);
    return { ...r, changes: { ...r.changes, result: jobResult(end) } };
  });
  return shown.filter((r) => !joined.has(r));
}

function timeElement(iso) {
  const time = document.createElement('time');
  time.dateTime = iso;
  const date = new Date(iso);
  time.textContent = Number.isNaN(date.getTime()) ? iso : date.toLocaleString();
  return time;
}

function wordList(record) {
  const words = changeWords(record);
  if (words.length === 0) {
    const none = document.createElement('span');
    none.className = 'muted';
    none.textContent = record.outcome !== 'done' ? 'nothing changed'
      : DONE_WORDS[record.action] || 'nothing';
    return none;
  }
  const list = document.createElement('ul');
  list.className = 'changes';
  for (const text of words) {
    const item = document.createElement('li');
    item.textContent = text;
    list.append(item);
  }
  return list;
}

function renderHistoryRow(tbody, record) {
  const row = tbody.insertRow();
  const when = row.insertCell();
  when.dataset.label = 'Time';
  when.append(timeElement(record.time));
  const who = cell(row, record.user, 'who');
  who.dataset.label = 'Who';
  if (record.addr) {
    const from = document.createElement('small');
    from.className = 'muted';
    from.textContent = ` from ${record.addr}`;
    who.append(from);
  }
  const action = cell(row, actionWords(record), record.outcome === 'done' ? '' : 'failed');
  action.dataset.label = 'Action';
  const name = row.insertCell();
  name.className = 'name';
  name.dataset.label = 'Repository';
  name.append(nameElement(record.name));
  const what = row.insertCell();
  what.dataset.label = 'What changed';
  what.append(wordList(record));
}

function historyQuery(extra) {
  const query = { action: 'audit', ...extra };
  if (trail.name) query.name = trail.name;
  if (trail.user) query.user = trail.user;
  return query;
}

async function loadHistory() {
  let page;
  try {
    page = (await call(historyQuery({ start: String(trail.start), limit: String(HISTORY_PAGE) }))).data;
  } catch (error) {
    $('#history-status').textContent = error.message || 'The history could not be read. The system log has the details.';
    return;
  }
  $('#history-status').textContent = '';
  if (trail.start > 0 && page.records.length === 0 && page.total > 0) {
    trail.start = Math.max(0, Math.min(trail.start, page.total) - HISTORY_PAGE);
    return loadHistory();
  }
  const tbody = $('#history tbody');
  tbody.replaceChildren();
  for (const record of joinJobEnds(page.records)) renderHistoryRow(tbody, record);
  const none = page.records.length === 0 && trail.start === 0;
  $('#history').hidden = none;
  $('#history-empty').hidden = !none;
  $('#history-empty').textContent = trail.name || trail.user
    ? 'No changes recorded for this repository and administrator.'
    : 'No changes recorded yet.';
  const first = trail.start + 1;
  const last = trail.start + page.records.length;
  $('#history-range').textContent = none ? ''
    : page.exact ? `${first}–${last} of ${page.total}` : `${first}–${last} of more than ${last}`;
  $('#history-prev').disabled = trail.start === 0;
  $('#history-next').disabled = page.exact && last >= page.total;
  $('#history-clear').hidden = !trail.name && !trail.user;
}

// Shows the history (true) or the repositories.
function showView(history) {
  trail.shown = history;
  $('#repos-view').hidden = history;
  $('#history-view').hidden = !history;
  $('#view-repos').setAttribute('aria-current', history ? 'false' : 'page');
  $('#view-history').setAttribute('aria-current', history ? 'page' : 'false');
  if (history) loadHistory();
  else loadPage();
}

// The last changes of `name`, in the edit dialog.
export async function showRecent(name) {
  const token = ++trail.recent;
  const list = $('#recent-list');
  const note = $('#recent-note');
  list.replaceChildren();
  note.textContent = 'Reading…';
  $('#recent').hidden = false;
  let page;
  try {
    page = (await call({ action: 'audit', name, limit: String(RECENT_CHANGES) })).data;
  } catch {
    if (token === trail.recent) note.textContent = 'The history could not be read.';
    return;
  }
  if (token !== trail.recent) return;  // another repository is open by now
  note.textContent = page.records.length === 0 ? 'No changes recorded.' : '';
  for (const record of joinJobEnds(page.records)) {
    const item = document.createElement('li');
    item.append(timeElement(record.time), ` ${record.user}: ${actionWords(record)}`);
    const words = changeWords(record);
    if (words.length > 0) item.append(wordList(record));
    list.append(item);
  }
}

export function startHistory() {
  $('#view-repos').addEventListener('click', () => showView(false));
  $('#view-history').addEventListener('click', () => showView(true));
  $('#history-filter').addEventListener('submit', (event) => {
    event.preventDefault();
    trail.name = $('#history-name').value;
    trail.user = $('#history-user').value;
    trail.start = 0;
    loadHistory();
  });
  $('#history-clear').addEventListener('click', () => {
    $('#history-name').value = '';
    $('#history-user').value = '';
    trail.name = '';
    trail.user = '';
    trail.start = 0;
    loadHistory();
    $('#history-name').focus();
  });
  $('#history-prev').addEventListener('click', () => {
    trail.start = Math.max(0, trail.start - HISTORY_PAGE);
    loadHistory();
  });
  $('#history-next').addEventListener('click', () => {
    trail.start += HISTORY_PAGE;
    loadHistory();
  });
}
