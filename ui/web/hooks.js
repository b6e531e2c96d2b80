// The hook presets of the edit dialog: switches that take effect at once.

import { $, call, failure, say, showError, visible } from './common.js';
import { edit } from './edit-state.js';

// Each switch of the editor: its parameter of hooks_show and hooks_edit,
// and what it is called.
const HOOKS = [
  ['log_edits', '#h-log-edits', 'Editing log messages'],
  ['read_only', '#h-read-only', 'Read-only'],
];

// Shows the presets of `name`: on, off, or a hook made by hand, whose
// switch is disabled with the reason shown.
export async function loadHooks(name) {
  showError('#hooks-error', '');
  let data = null;
  try {
    data = (await call({ action: 'hooks_show', name })).data;
  } catch (error) {
    showError('#hooks-error', failure(error, name, 'read'));
  }
  for (const [key, id] of HOOKS) {
    const input = $(id);
    const value = data ? data[key] : 'custom';
    input.checked = value === true;
    input.disabled = value !== true && value !== false;
    const reason = $(`${id}-reason`);
    reason.textContent = data && data.reasons && data.reasons[key] ? data.reasons[key] : '';
    reason.hidden = !reason.textContent;
  }
}

// A switch takes effect at once: it sends only its own preset.
async function switchHook(key, input, label) {
  const name = edit.name;
  const on = input.checked;
  input.disabled = true;
  try {
    await call({ action: 'hooks_edit', name, [key]: on ? 'yes' : 'no' }, { change: true });
    showError('#hooks-error', '');
    say(`${label} is ${on ? 'on' : 'off'} for “${visible(name)}”.`);
  } catch (error) {
    showError('#hooks-error', error.info.reason || failure(error, name, 'changed'));
  }
  await loadHooks(name);
}

export function startHooks() {
  for (const [key, id, label] of HOOKS) {
    $(id).addEventListener('change', (event) => switchHook(key, event.currentTarget, label));
  }
}
