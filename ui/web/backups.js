// The backups dialog of a repository: its backups to download, restore
// or remove, when it was last verified, its jobs, and buttons that back
// it up or verify it now.

import { $, ENDPOINT, call, cell, closeDialog, failure, humanSize, humanTime, openDialog, putName, say } from './common.js';
import { jobsDialog, showJobs, startJob } from './jobs.js';
import { openRestore } from './restore.js';

// Name of the repository whose backups are open, null while none are.
let backupsOf = null;

function showBackupsError(text) {
  const box = $('#backups-error');
  box.textContent = text;
  box.hidden = !text;
}

async function loadBackups() {
  const name = backupsOf;
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

export async function openBackups(name, opener) {
  backupsOf = name;
  putName($('#backups-title'), 'Backups of “', name, '”');
  showBackupsError('');
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

async function jobButton(params, doing) {
  const name = backupsOf;
  showBackupsError('');
  try {
    await startJob({ ...params, name }, name, doing);
  } catch (error) {
    showBackupsError(failure(error, name, 'started on'));
  }
}

export function startBackups() {
  jobsDialog.openOf = () => backupsOf;
  jobsDialog.reload = loadBackups;
  $('#backup-now').addEventListener('click', () => jobButton({ action: 'backup' }, 'Backing up'));
  $('#verify-now').addEventListener('click', () => jobButton({ action: 'verify' }, 'Verifying'));
  $('#backups-close').addEventListener('click', () => closeDialog($('#backups')));
  $('#backups').addEventListener('close', () => { backupsOf = null; });
  $('#restore-from-backups').addEventListener('click', (event) => openRestore('', event.currentTarget));
}
