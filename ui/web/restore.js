// The restore dialog: a new repository from a backup listed here, or
// from a file uploaded from this computer (a backup or a dump); the
// settings of a new repository are asked only for a file, which may be a
// plain dump (a backup brings its own).

import {
  $, ENDPOINT, RequestError, call, closeDialog, failure, humanSize, humanTime, nameProblem, openDialog, say,
  valueProblem, visible,
} from './common.js';
import { pollJobs, watchJob } from './jobs.js';

function showRestoreError(text) {
  const box = $('#restore-error');
  box.textContent = text;
  box.hidden = !text;
}

// Shows the fields that apply to the source chosen.
function showSourceFields() {
  $('#r-plain').hidden = $('#restore-form').elements.source.value !== 'file';
}

// Opens the dialog with the backup `file` chosen ('': the first listed).
export async function openRestore(file, opener) {
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
  showSourceFields();
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
    (fromFile && realm && valueProblem(realm, 'The realm'));
  if (problem) {
    showRestoreError(problem);
    return;
  }
  const button = $('#restore-start');
  button.disabled = true;
  try {
    let answer;
    const uuid = $('#r-uuid').checked ? { uuid: 'new' } : {};
    if (fromFile) {
      const fields = { action: 'restore', name, ...uuid, anon: form.elements['r-anon'].value };
      if (realm) fields.realm = realm;
      answer = await upload(fields, file);
    } else {
      answer = await call({ action: 'restore', name, file: $('#r-backup').value, ...uuid }, { change: true });
    }
    watchJob(answer.data.job);
    closeDialog($('#restore'));
    say(`Restoring “${visible(name)}” …`);
    await pollJobs();
  } catch (error) {
    showRestoreError(failure(error, name, 'restored'));
  } finally {
    button.disabled = false;
  }
}

export function startRestore() {
  $('#restore-open').addEventListener('click', (event) => openRestore('', event.currentTarget));
  $('#restore-cancel').addEventListener('click', () => closeDialog($('#restore')));
  $('#restore-form').addEventListener('submit', restore);
  const choose = (source) => {
    $('#restore-form').elements.source.value = source;
    showSourceFields();
  };
  $('#r-file').addEventListener('change', () => choose('file'));
  $('#r-backup').addEventListener('change', () => choose('listed'));
  for (const radio of $('#restore-form').elements.source) radio.addEventListener('change', showSourceFields);
}
