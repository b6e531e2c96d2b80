// Removing a repository: asked first, and asked again where it takes
// files other repositories use.

import { $, failure, openerShown, openDialog, putName, say, visible } from './common.js';
import { askConsent, changeWithConsent } from './consent.js';
import { loadPage } from './list.js';

// Asks whether `name` may go although `others` use files kept in it.
// What svnserve then does: without its account or rules file it refuses
// every connection; without its settings file it serves the defaults.
function askRemoveConsent(name, others) {
  return askConsent([], {
    title: 'Remove files other repositories use?',
    yes: 'Remove',
    parts: [others.length > 0 ? { names: others } : 'Other repositories', others.length === 1 ? ' uses' : ' use',
      ' files kept in “', { names: [name] }, '” (accounts, access rules or settings), which go with it. ' +
      'Until they are mended by hand, svnserve refuses every connection to a repository whose accounts or ' +
      'rules were there, and serves one whose settings were there with its defaults: anyone may read. Remove “',
      { names: [name] }, '” all the same?'],
  });
}

export function confirmRemove(name, opener) {
  const dialog = $('#confirm');
  putName($('#confirm-title'), 'Remove “', name, '”?');
  putName($('#confirm-text'), 'The repository “', name,
    '” and its whole history will be deleted. This cannot be undone.');
  dialog.returnValue = '';
  dialog.onclose = async () => {
    if (openerShown()) openerShown().focus();
    if (dialog.returnValue !== 'remove') return;
    try {
      // Files in it that other repositories use go with it: only when
      // the administrator agrees, once the program has named them.
      const ask = ([[, others]]) => askRemoveConsent(name, others);
      if (!(await changeWithConsent({ action: 'remove', name }, null, ask))) {
        say(`Repository “${visible(name)}” was not removed.`);
        return;
      }
      say(`Repository “${visible(name)}” removed.`);
    } catch (error) {
      say(failure(error, name, 'removed'));
    }
    await loadPage();
    if (!openerShown()) $('#create').focus();
  };
  openDialog(dialog, opener);
}
