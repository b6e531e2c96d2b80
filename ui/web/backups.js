// The backups dialog of a repository: its backups (their kind, checksum
// and last test restore) to download, test, restore or remove, how its
// last verify went, its jobs, and buttons that back it up or verify it
// now.

import {
  $, ENDPOINT, call, cell, closeDialog, failure, humanSize, humanTime, openDialog, openerShown, putName, say,
  visible,
} from './common.js';
import { jobsDialog, showJobs, startJob } from './jobs.js';
import { openRestore } from './restore.js';

// Name of the repository whose backups are open, null while none are.
let backupsOf = null;

function showBackupsError(text) {
  const box = $('#backups-error');
  box.textContent = text;
  box.hidden = !text;
}

const KINDS = { hotcopy: 'Copy', dump: 'Dump' };

// A backup's kind in words: files made before kinds existed are of the
// older format.
export function kindWords(kind) {
  return KINDS[kind] || 'Older format';
}

// How a verify or a test restore went, in words (`record`: null if never).
export function outcomeWords(record, never) {
  if (!record) return never;
  const when = humanTime(record.time);
  if (record.ok) return `Passed ${when}${Number.isInteger(record.rev) ? `, revision ${record.rev}` : ''}.`;
  return `Failed ${when}: ${record.error || 'the system log says why.'}`;
}

// The first 12 hex digits of the SHA-256, with a button that shows all
// of it; selectable either way.
function checksumCell(row, backup) {
  const td = row.insertCell();
  td.className = 'sum';
  td.dataset.label = 'SHA-256';
  if (!backup.sha256) {
    td.textContent = 'not recorded';
    td.classList.add('muted');
    return;
  }
  const code = document.createElement('code');
  code.textContent = backup.sha256.slice(0, 12);
  code.title = backup.sha256;
  const more = document.createElement('button');
  more.type = 'button';
  more.className = 'link';
  more.textContent = 'all';
  more.setAttribute('aria-expanded', 'false');
  more.setAttribute('aria-label', `Whole SHA-256 of the backup of ${humanTime(backup.time)}`);
  more.addEventListener('click', () => {
    const whole = more.getAttribute('aria-expanded') === 'false';
    code.textContent = whole ? backup.sha256 : backup.sha256.slice(0, 12);
    code.classList.toggle('whole', whole);
    more.textContent = whole ? 'less' : 'all';
    more.setAttribute('aria-expanded', String(whole));
  });
  td.append(code, ' ', more);
}

function actionButton(text, label, handler) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = text;
  button.setAttribute('aria-label', label);
  button.addEventListener('click', () => handler(button));
  return button;
}

function backupRow(body, backup) {
  const name = backupsOf;
  const when = humanTime(backup.time);
  const row = body.insertRow();
  cell(row, when).dataset.label = 'Taken';
  cell(row, kindWords(backup.kind), backup.kind ? '' : 'muted').dataset.label = 'Kind';
  cell(row, String(backup.rev), 'rev').dataset.label = 'Revision';
  cell(row, humanSize(backup.size), 'size').dataset.label = 'Size';
  checksumCell(row, backup);
  const tested = cell(row, outcomeWords(backup.tested, 'Never tested.'), 'tested');
  tested.dataset.label = 'Test restore';
  tested.classList.toggle('failed', Boolean(backup.tested && !backup.tested.ok));
  const actions = row.insertCell();
  actions.className = 'actions';
  const link = document.createElement('a');
  link.href = `${ENDPOINT}?${new URLSearchParams({ action: 'backup_get', name, file: backup.file })}`;
  link.textContent = 'Download';
  link.download = backup.file;
  link.setAttribute('aria-label', `Download the backup of ${when}`);
  actions.append(
    link,
    actionButton('Test restore', `Test restore of the backup of ${when}`,
      () => jobButton({ action: 'verify', file: backup.file }, 'Test-restoring a backup of')),
    actionButton('Restore…', `Restore the backup of ${when} as a new repository`,
      () => restoreInstead(backup.file)),
    actionButton('Restore over this repository…', `Restore the backup of ${when} over “${visible(name)}”`,
      () => confirmReplace(backup)),
    actionButton('Remove', `Remove the backup of ${when}`, () => removeBackup(backup)),
  );
}

async function loadBackups() {
  const name = backupsOf;
  const [list, shown] = await Promise.all([
    call({ action: 'backups', name }),
    call({ action: 'show', name }),
  ]);
  const verified = shown.data && shown.data.verified;
  $('#verified').textContent = !verified ? 'Never verified.'
    : `Last verified ${humanTime(verified.time)}: ${verified.ok ? 'no problems found'
      : `problems found: ${(verified.error || 'the system log says which').replace(/\.$/, '')}`}.`;
  $('#verified').classList.toggle('error', Boolean(verified && !verified.ok));
  const body = $('#backup-table tbody');
  body.replaceChildren();
  for (const backup of list.data) backupRow(body, backup);
  $('#backup-table').hidden = list.data.length === 0;
  $('#no-backups').hidden = list.data.length > 0;
  showJobs();
}

export async function openBackups(name, opener) {
  backupsOf = name;
  putName($('#backups-title'), 'Backups of “', name, '”');
  showBackupsError('');
  $('#backup-kind').value = 'hotcopy';
  try {
    await loadBackups();
  } catch (error) {
    backupsOf = null;
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

// Asks before a restore over the repository, naming what it replaces.
function confirmReplace(backup) {
  const name = backupsOf;
  const dialog = $('#confirm-replace');
  putName($('#confirm-replace-title'), 'Restore over “', name, '”?');
  const hooks = backup.kind === 'dump'
    ? ' (a dump holds no hooks made by hand: only the preset hooks are made again)' : '';
  $('#confirm-replace-text').textContent =
    `The repository “${visible(name)}” will be replaced by its backup of ${humanTime(backup.time)}, ` +
    `revision ${backup.rev}. Its current history (every commit since), settings, accounts and hooks ` +
    `are replaced by those of the backup${hooks}. It stays whole and serving while the backup is restored, ` +
    'and is unavailable only for the moment the two are swapped.';
  dialog.returnValue = '';
  dialog.onclose = () => {
    if (dialog.returnValue !== 'replace' || backupsOf !== name) return;
    jobButton({ action: 'restore', file: backup.file, replace: 'yes' }, 'Restoring');
  };
  dialog.showModal();
}

async function jobButton(params, doing) {
  const name = backupsOf;
  showBackupsError('');
  try {
    await startJob({ ...params, name }, name, doing);
  } catch (error) {
    showBackupsError(failure(error, name, 'started on'));
  }
}

// The restore dialog takes the place of this one (it does not stack on
// it); closing returns to the button of the list that opened this one.
function restoreInstead(file) {
  const opener = openerShown();
  closeDialog($('#backups'));
  openRestore(file, opener);
}

export function startBackups() {
  jobsDialog.openOf = () => backupsOf;
  jobsDialog.reload = loadBackups;
  $('#backup-now').addEventListener('click', () => jobButton({ action: 'backup', kind: $('#backup-kind').value }, 'Backing up'));
  $('#verify-now').addEventListener('click', () => jobButton({ action: 'verify' }, 'Verifying'));
  $('#backups-close').addEventListener('click', () => closeDialog($('#backups')));
  $('#backups').addEventListener('close', () => { backupsOf = null; });
  $('#restore-from-backups').addEventListener('click', () => restoreInstead(''));
}
