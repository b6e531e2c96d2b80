// The table of repositories: a page of them at a time, in name order,
// all of them or those a search finds, each with its buttons.

import { $, call, say, cell, visible, nameElement, accessUrl } from './common.js';

const PAGE_SIZE = 20;

const list = {
  query: '',
  start: 0,
  total: 0,
  actions: [],     // each row's buttons: [label, handler(name, button)]
};

// What else is shown again whenever the page of repositories is (the
// banner of failed and overdue backups): functions called after each load.
export const afterLoad = [];

// The marks of a repository the listing gives, in words.
const MARKS = [['overdue', 'overdue'], ['backup_failed', 'last backup failed'], ['verify_failed', 'last verify failed']];

function renderRow(tbody, repo) {
  const row = tbody.insertRow();
  const name = row.insertCell();
  name.className = 'name';
  name.dataset.label = 'Name';
  name.append(nameElement(repo.name));
  for (const [key, words] of MARKS) {
    // Said in words, not by colour alone.
    if (repo[key] !== true) continue;
    const mark = document.createElement('span');
    mark.className = 'flag';
    mark.textContent = words;
    name.append(' ', mark);
  }
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
  for (const [label, handler] of list.actions) {
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

// Shows the page of repositories asked for last; every view that changes
// a repository calls it to show the change.
export async function loadPage() {
  const serial = ++loadSerial;
  let page;
  try {
    page = await call({
      action: list.query ? 'find' : 'load',
      query: list.query,
      start: String(list.start),
      limit: String(PAGE_SIZE),
      sort: 'name',
    });
  } catch (error) {
    if (serial === loadSerial) say(error.message || 'The repositories could not be listed.');
    return;
  }
  if (serial !== loadSerial) return;
  list.total = page.total;
  if (list.start > 0 && list.start >= list.total) {
    list.start = Math.max(0, list.total - PAGE_SIZE);  // the last page went away
    return loadPage();
  }
  const tbody = $('#repos tbody');
  tbody.replaceChildren();
  for (const repo of page.data) renderRow(tbody, repo);

  const empty = $('#empty');
  empty.hidden = list.total > 0;
  $('#repos').hidden = list.total === 0;
  empty.textContent = list.query
    ? `No repository has “${visible(list.query)}” in its name.`
    : 'There are no repositories yet. Create one with “New repository”.';

  const first = list.total === 0 ? 0 : list.start + 1;
  const last = Math.min(list.start + PAGE_SIZE, list.total);
  $('#range').textContent = list.total === 0 ? '' : `${first}–${last} of ${list.total}`;
  $('#prev').disabled = list.start === 0;
  $('#next').disabled = last >= list.total;
  $('.pager').hidden = list.total <= PAGE_SIZE && list.start === 0;
  $('#clear').hidden = !list.query;
  for (const then of afterLoad) then();
}

// Wires the search and the pager; `actions` are the buttons of each row.
export function startList(actions) {
  list.actions = actions;
  $('#search').addEventListener('submit', (event) => {
    event.preventDefault();
    list.query = $('#query').value;
    list.start = 0;
    loadPage();
  });
  $('#clear').addEventListener('click', () => {
    $('#query').value = '';
    list.query = '';
    list.start = 0;
    loadPage();
    $('#query').focus();
  });
  $('#prev').addEventListener('click', () => {
    list.start = Math.max(0, list.start - PAGE_SIZE);
    loadPage();
  });
  $('#next').addEventListener('click', () => {
    list.start += PAGE_SIZE;
    loadPage();
  });
}
