// The edit dialog's care of a repository: its locks ("locks"), removed
// after a confirmation that names them and their owners
// ("lock_remove"); what unfinished commits left ("txns", "txn_remove"),
// a live one only after a warning; and its format, with packing and
// upgrading ("pack", "upgrade", run as jobs).

import { $, call, cell, failure, humanTime, visible } from './common.js';
import { startJob } from './jobs.js';

// The most locks the dialog lists.
const LOCKS_SHOWN = 200;

const care = { name: null, format: null, serial: 0 };

function showCareError(text) {
  const box = $('#care-error');
  box.textContent = text;
  box.hidden = !text;
}

// Asks in the confirmation dialog; resolves to whether the answer was yes.
function confirmCare(title, text, yes) {
  const dialog = $('#care-confirm');
  $('#care-confirm-title').textContent = title;
  $('#care-confirm-text').textContent = text;
  $('#care-confirm-yes').textContent = yes;
  dialog.returnValue = '';
  return new Promise((resolve) => {
    dialog.onclose = () => resolve(dialog.returnValue === 'yes');
    dialog.showModal();
  });
}

function selectedLocks() {
  return [...document.querySelectorAll('#locks tbody input:checked')].map((box) => ({
    path: box.dataset.path, owner: box.dataset.owner,
  }));
}

async function loadLocks(serial) {
  const page = (await call({ action: 'locks', name: care.name, limit: String(LOCKS_SHOWN) })).data;
  if (serial !== care.serial) return;
  const tbody = $('#locks tbody');
  tbody.replaceChildren();
  for (const lock of page.locks) {
    const row = tbody.insertRow();
    const path = row.insertCell();
    path.dataset.label = 'Path';
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.dataset.path = lock.path;
    box.dataset.owner = lock.owner;
    box.addEventListener('change', () => { $('#locks-remove').disabled = selectedLocks().length === 0; });
    const code = document.createElement('code');
    code.textContent = lock.path;
    label.append(box, ' ', code);
    path.append(label);
    cell(row, lock.owner, 'who').dataset.label = 'Owner';
    cell(row, humanTime(lock.created)).dataset.label = 'Since';
    cell(row, lock.comment || '', lock.comment ? '' : 'muted').dataset.label = 'Comment';
  }
  $('#locks').hidden = page.total === 0;
  $('#locks-remove').hidden = page.total === 0;
  $('#locks-remove').disabled = true;
  $('#locks-note').textContent = page.total === 0 ? 'No file is locked.'
    : page.total > page.locks.length ? `The first ${page.locks.length} of ${page.total} locks, by path.` : '';
}

async function removeLocks() {
  const locks = selectedLocks();
  const named = locks.map((l) => `${l.path} (${l.owner})`).join(', ');
  const sure = await confirmCare(locks.length === 1 ? 'Remove this lock?' : `Remove ${locks.length} locks?`,
    `Remove the locks on ${named}? Others may then commit these files; their owners’ next commit of them goes through as well.`,
    locks.length === 1 ? 'Remove lock' : 'Remove locks');
  if (!sure) return;
  showCareError('');
  try {
    const done = (await call({ action: 'lock_remove', name: care.name, paths: JSON.stringify(locks.map((l) => l.path)) },
      { change: true })).data;
    $('#locks-note').textContent = `${done.removed.length} ${done.removed.length === 1 ? 'lock' : 'locks'} removed.`;
  } catch (error) {
    showCareError(failure(error, care.name, 'changed'));
  }
  await loadLocks(care.serial);
}

function minutes(seconds) {
  if (!Number.isInteger(seconds)) return 'at an unknown time';
  const m = Math.floor(seconds / 60);
  return m < 1 ? 'less than a minute ago' : m === 1 ? 'a minute ago' : m < 120 ? `${m} minutes ago` : `${Math.floor(m / 60)} hours ago`;
}

async function removeTxns(txn) {
  if (txn) {
    const sure = await confirmCare('Remove a commit that may be in progress?',
      `The transaction ${txn.id} changed ${minutes(txn.age)}: it may be a commit someone is making right now, which would fail. Remove it anyway?`,
      'Remove anyway');
    if (!sure) return;
  }
  showCareError('');
  const params = { action: 'txn_remove', name: care.name };
  if (txn) Object.assign(params, { txns: JSON.stringify([txn.id]), force: 'yes' });
  try {
    const done = (await call(params, { change: true })).data;
    $('#txns-note').textContent = `${done.removed.length} removed.`;
  } catch (error) {
    showCareError(failure(error, care.name, 'changed'));
  }
  await loadTxns(care.serial);
}

async function loadTxns(serial) {
  const txns = (await call({ action: 'txns', name: care.name })).data;
  if (serial !== care.serial) return;
  const list = $('#txns');
  list.replaceChildren();
  for (const txn of txns) {
    const item = document.createElement('li');
    const who = txn.author ? ` by ${txn.author}` : '';
    const base = Number.isInteger(txn.base) ? ` on revision ${txn.base}` : '';
    item.append(`${txn.id}${who}${base}, last changed ${minutes(txn.age)}`);
    if (txn.live) {
      item.append(': may be a commit in progress ');
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = 'Remove anyway…';
      button.setAttribute('aria-label', `Remove ${txn.id} anyway`);
      button.addEventListener('click', () => removeTxns(txn));
      item.append(button);
    }
    list.append(item);
  }
  $('#txns-note').textContent = txns.length === 0 ? 'None: no commit is under way, and none was left unfinished.' : '';
  $('#txns-remove').hidden = !txns.some((t) => !t.live);
}

// The format in words, and which of its buttons apply.
function showFormat(format) {
  care.format = format;
  const note = $('#format-note');
  $('#pack').hidden = true;
  $('#upgrade').hidden = true;
  if (!format || format.type !== 'fsfs') {
    note.textContent = format ? `A ${format.type.toUpperCase()} repository.` : 'Its format cannot be read.';
    return;
  }
  const shards = format.shards
    ? `revisions in shards of ${format.shards}, ${format.packed} packed${format.packable ? `, ${format.packable} more can be` : ''}`
    : 'not sharded';
  const newer = format.upgrade ? `; format ${format.newest} is newer` : '';
  note.textContent = `FSFS format ${format.number}, ${shards}${newer}.`;
  $('#pack').hidden = !(format.packable > 0);
  $('#upgrade').hidden = !format.upgrade;
}

async function maintain(action) {
  const name = care.name;
  if (action === 'upgrade') {
    const sure = await confirmCare(`Upgrade “${visible(name)}”?`,
      `The repository is brought to format ${care.format.newest}, which Subversion versions older than the server's can no longer read: tools that open it directly (svnadmin, svnlook, hooks run by another server) need a Subversion as new. Working copies are not affected.`,
      'Upgrade');
    if (!sure) return;
  }
  showCareError('');
  try {
    await startJob(action === 'upgrade' ? { action, name, confirm: 'yes' } : { action, name }, name,
      action === 'upgrade' ? 'Upgrading' : 'Packing');
  } catch (error) {
    showCareError(failure(error, name, 'started on'));
  }
}

// Shows the care of `name` in the edit dialog; `format` is "show"'s.
export async function loadCare(name, format) {
  care.name = name;
  const serial = ++care.serial;
  showCareError('');
  showFormat(format);
  $('#care').hidden = false;
  try {
    await Promise.all([loadLocks(serial), loadTxns(serial)]);
  } catch (error) {
    if (serial === care.serial) showCareError(failure(error, name, 'read'));
  }
}

export function startCare() {
  $('#locks-remove').addEventListener('click', removeLocks);
  $('#txns-remove').addEventListener('click', () => removeTxns(null));
  $('#pack').addEventListener('click', () => maintain('pack'));
  $('#upgrade').addEventListener('click', () => maintain('upgrade'));
}
