// The Commits view: a repository's history of commits ("log"), newest
// first and a page at a time, with who committed, when, the message and
// the paths each commit changed; filtered by a path, whose history is
// followed back across moves and copies.

import { $, call, cell, failure, putName } from './common.js';

const COMMITS_PAGE = 20;

const trail = { name: null, path: '', start: 0, serial: 0 };

const ACTIONS = { A: 'added', D: 'deleted', M: 'modified', R: 'replaced' };

// The other views, hidden while this one shows.
const OTHER_VIEWS = ['#repos-view', '#history-view', '#usage-view'];

// A path as the program takes it: absolute, without a "/" at the end.
function pathOf(text) {
  let path = text.trim();
  if (path === '') return '';
  if (!path.startsWith('/')) path = `/${path}`;
  while (path.length > 1 && path.endsWith('/')) path = path.slice(0, -1);
  return path === '/' ? '' : path;
}

function timeElement(iso) {
  const time = document.createElement('time');
  if (!iso) {
    time.textContent = 'unknown';
    time.className = 'muted';
    return time;
  }
  time.dateTime = iso;
  time.textContent = new Date(iso).toLocaleString();
  return time;
}

// The changed paths, in a disclosure: "3 changed paths", each with what
// happened to it.
function changesElement(changes) {
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  summary.textContent = changes.count === 1 ? '1 changed path' : `${changes.count} changed paths`;
  details.append(summary);
  const list = document.createElement('ul');
  list.className = 'changes';
  for (const change of changes.paths) {
    const item = document.createElement('li');
    const code = document.createElement('code');
    code.textContent = change.path;
    const from = change.copyfrom ? ` from ${change.copyfrom.path}@${change.copyfrom.rev}` : '';
    item.append(`${ACTIONS[change.action] || change.action}: `, code, from);
    list.append(item);
  }
  if (changes.count > changes.paths.length) {
    const more = document.createElement('li');
    more.className = 'muted';
    more.textContent = `and ${changes.count - changes.paths.length} more`;
    list.append(more);
  }
  details.append(list);
  return details;
}

function renderCommit(tbody, rev) {
  const row = tbody.insertRow();
  cell(row, `r${rev.rev}`, 'rev').dataset.label = 'Revision';
  cell(row, rev.author === null ? '(no author)' : rev.author, rev.author === null ? 'muted' : 'who')
    .dataset.label = 'Author';
  const when = row.insertCell();
  when.dataset.label = 'Date';
  when.append(timeElement(rev.date));
  const message = cell(row, rev.message || '', 'message');
  message.dataset.label = 'Message';
  if (rev.message_cut) message.append(' … (cut short)');
  const changes = row.insertCell();
  changes.dataset.label = 'Changed paths';
  changes.append(changesElement(rev.changes));
}

async function loadCommits() {
  const serial = ++trail.serial;
  const { name } = trail;
  let page;
  try {
    const query = { action: 'log', name, start: String(trail.start), limit: String(COMMITS_PAGE) };
    if (trail.path) query.path = trail.path;
    page = (await call(query)).data;
  } catch (error) {
    if (serial === trail.serial) $('#commits-status').textContent = failure(error, name, 'read');
    return;
  }
  if (serial !== trail.serial) return;
  $('#commits-status').textContent = '';
  const tbody = $('#commits tbody');
  tbody.replaceChildren();
  for (const rev of page.revisions) renderCommit(tbody, rev);
  const none = page.revisions.length === 0;
  $('#commits').hidden = none;
  $('#commits-empty').hidden = !none;
  $('#commits-empty').textContent = !page.found
    ? `There is no ${trail.path} in the newest revision (r${page.youngest}): a path that is gone has no history to follow here.`
    : trail.path ? `No commit changed ${trail.path}.` : 'Nothing has been committed yet.';
  const first = trail.start + 1;
  const last = trail.start + page.revisions.length;
  $('#commits-range').textContent = none ? '' : `Commits ${first}–${last}${page.more ? '' : ` of ${last}`}`;
  $('#commits-newer').disabled = trail.start === 0;
  $('#commits-older').disabled = !page.more;
  $('#commits-clear').hidden = !trail.path;
}

// Shows the commits of `name`, newest first, of the whole repository.
export function openCommits(name) {
  for (const id of OTHER_VIEWS) $(id).hidden = true;
  for (const button of document.querySelectorAll('.views button')) button.setAttribute('aria-current', 'false');
  $('#commits-view').hidden = false;
  putName($('#commits-title'), 'Commits of “', name, '”');
  trail.name = name;
  trail.path = '';
  trail.start = 0;
  $('#commits-path').value = '';
  $('#commits').hidden = true;
  $('#commits-empty').hidden = true;
  loadCommits();
  $('#commits-path').focus();
}

export function startCommits() {
  // The views' buttons show another view.
  for (const button of document.querySelectorAll('.views button')) {
    button.addEventListener('click', () => { $('#commits-view').hidden = true; });
  }
  $('#commits-filter').addEventListener('submit', (event) => {
    event.preventDefault();
    trail.path = pathOf($('#commits-path').value);
    $('#commits-path').value = trail.path;
    trail.start = 0;
    loadCommits();
  });
  $('#commits-clear').addEventListener('click', () => {
    $('#commits-path').value = '';
    trail.path = '';
    trail.start = 0;
    loadCommits();
    $('#commits-path').focus();
  });
  $('#commits-back').addEventListener('click', () => $('#view-repos').click());
  $('#commits-newer').addEventListener('click', () => {
    trail.start = Math.max(0, trail.start - COMMITS_PAGE);
    loadCommits();
  });
  $('#commits-older').addEventListener('click', () => {
    trail.start += COMMITS_PAGE;
    loadCommits();
  });
}
