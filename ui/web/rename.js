// The rename dialog.

import { $, call, closeDialog, failure, nameProblem, openDialog, putName, say, showError, visible } from './common.js';
import { loadPage } from './list.js';

const renamer = {
  name: null,      // name of the repository in the rename dialog
  consent: false,  // the rename was told what it reaches: it is sent with shared=yes
};

export function openRename(name, opener) {
  renamer.name = name;
  renamer.consent = false;
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
  const name = renamer.name;
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
    if (renamer.consent) params.shared = 'yes';
    await call(params, { change: true });
  } catch (error) {
    showError('#rename-error', renameFailure(error, name, to));
    renamer.consent = error.key === 'shared';
    button.textContent = renamer.consent ? 'Rename anyway' : 'Rename';
    if (error.key === 'nonexist') loadPage();
    return;
  } finally {
    button.disabled = false;
  }
  closeDialog($('#renamer'));
  say(`Repository “${visible(name)}” renamed to “${visible(to)}”.`);
  await loadPage();
}

export function startRename() {
  $('#rename-form').addEventListener('submit', rename);
  $('#rename-cancel').addEventListener('click', () => closeDialog($('#renamer')));
  $('#r-name').addEventListener('input', () => {
    // Consent was for the name asked before.
    renamer.consent = false;
    $('#rename-save').textContent = 'Rename';
  });
}
