// Backup schedules: the "Schedule" part of the edit dialog (where the
// repository stands, and its schedule), the "Default schedule" dialog, and
// the banner of failed and overdue backups.

import { $, call, failure, say, showError, visible, humanTime, openDialog, closeDialog } from './common.js';
import { edit } from './edit-state.js';
import { afterLoad } from './list.js';

// The banner stays away, once dismissed, until something newer than what
// it showed then: kept in this browser, so that each administrator
// dismisses it for themselves and none hides it from the others.
const DISMISSED = 'svn-admin.alerts-dismissed';

const KIND_WORDS = { backup: 'backup', verify: 'verify', 'test restore': 'test restore' };

// ---- The fields of a schedule ----

// Puts the fields of a schedule into `container`, their ids starting with
// `prefix`.
function makeFields(container, prefix) {
  const fields = $('#schedule-fields').content.firstElementChild.cloneNode(true);
  for (const input of fields.querySelectorAll('[data-key]')) {
    input.id = `${prefix}-${input.dataset.key}`;
    const label = input.closest('.field')?.querySelector('label');
    if (label) label.htmlFor = input.id;
  }
  const on = fields.querySelector('[data-key=on]');
  on.addEventListener('change', () => enableFields(fields));
  container.replaceChildren(fields);
  return fields;
}

const field = (fields, key) => fields.querySelector(`[data-key="${key}"]`);

function enableFields(fields, disabled = false) {
  const on = field(fields, 'on');
  on.disabled = disabled;
  for (const key of ['every', 'at', 'keep', 'kind', 'verify']) field(fields, key).disabled = disabled || !on.checked;
}

// Shows the schedule `data` (as schedule_show answers it).
function fillFields(fields, data) {
  const on = data.every !== 'off';
  field(fields, 'on').checked = on;
  field(fields, 'every').value = on ? String(data.every) : '24';
  field(fields, 'at').value = data.at;
  field(fields, 'keep').value = String(data.keep);
  field(fields, 'kind').value = data.kind;
  field(fields, 'verify').checked = data.verify === true;
  enableFields(fields);
}

// The parameters of schedule_edit the fields say, or { error, focus }
// for what the server would refuse.
function readFields(fields) {
  const every = field(fields, 'every').value.trim();
  const keep = field(fields, 'keep').value.trim();
  const at = field(fields, 'at').value;
  const on = field(fields, 'on').checked;
  const whole = (text, most) => /^\d{1,4}$/.test(text) && Number(text) >= 1 && Number(text) <= most;
  if (on && !whole(every, 720)) return { error: 'Hours between backups are a whole number from 1 to 720.', focus: field(fields, 'every') };
  if (!/^([01]\d|2[0-3]):[0-5]\d$/.test(at)) return { error: 'Give the time of the first backup of the day.', focus: field(fields, 'at') };
  if (!whole(keep, 1000)) return { error: 'The backups to keep are a whole number from 1 to 1,000.', focus: field(fields, 'keep') };
  return {
    params: {
      every: on ? String(Number(every)) : 'off',
      at,
      keep: String(Number(keep)),
      kind: field(fields, 'kind').value,
      verify: field(fields, 'verify').checked ? 'yes' : 'no',
    },
  };
}

// Words for a refused schedule: the server's reason names the value.
function scheduleFailure(error, name) {
  if ((error.key === 'invalid' || error.key === 'handmade') && error.info.reason) return error.info.reason;
  return failure(error, name || '', 'changed');
}

// ---- The edit dialog's part ----

let ownFields = null;

function line(list, text, className = '') {
  const li = document.createElement('li');
  li.textContent = text;
  if (className) li.className = className;
  list.append(li);
}

// Where the repository stands: its last good backup, its last failure
// while its backups fail, the next scheduled backup, whether it is
// overdue (`backup`: "show"'s member).
function showStanding(backup) {
  const list = $('#standing');
  list.replaceChildren();
  if (!backup) return;
  const good = backup.last_good;
  line(list, good ? `Last good backup: ${humanTime(good.time)}${Number.isInteger(good.rev) ? `, revision ${good.rev}` : ''}.`
    : 'No good backup yet.');
  const failed = backup.last_failed;
  if (backup.failing && failed) {
    line(list, `The last ${KIND_WORDS[failed.kind] || failed.kind} failed (${humanTime(failed.time)}): ${failed.error}`, 'failed');
  }
  if (backup.overdue) line(list, 'Overdue: no good backup within its schedule and an hour.', 'failed');
  if (!backup.next) line(list, 'No backup is scheduled.');
  else if (new Date(backup.next) <= new Date()) line(list, 'The next scheduled backup is due now.');
  else line(list, `Next scheduled backup: ${humanTime(backup.next)}.`);
}

// Shows the schedule of `name`, and where it stands (`backup`, from
// "show").
export async function loadSchedule(name, backup) {
  showStanding(backup);
  showError('#schedule-error', '');
  let data = null;
  try {
    data = (await call({ action: 'schedule_show', name })).data;
  } catch (error) {
    showError('#schedule-error', scheduleFailure(error, name));
  }
  $('#s-default').checked = data ? !data.own : false;
  $('#s-default').disabled = !data;
  $('#save-schedule').disabled = !data;
  if (data) fillFields(ownFields, data);
  enableFields(ownFields, !data || !data.own);
}

async function saveSchedule() {
  const name = edit.name;
  const follow = $('#s-default').checked;
  const read = follow ? { params: { default: 'yes' } } : readFields(ownFields);
  if (read.error) {
    showError('#schedule-error', read.error);
    read.focus.focus();
    return;
  }
  $('#save-schedule').disabled = true;
  try {
    await call({ action: 'schedule_edit', name, ...read.params }, { change: true });
    say(follow ? `“${visible(name)}” follows the default schedule.` : `The schedule of “${visible(name)}” is saved.`);
    const shown = await call({ action: 'show', name });
    await loadSchedule(name, shown.data && shown.data.backup);
    await loadAlerts();
  } catch (error) {
    showError('#schedule-error', scheduleFailure(error, name));
  } finally {
    $('#save-schedule').disabled = false;
  }
}

// ---- The default schedule ----

let defaultFields = null;

async function openDefault(event) {
  const opener = event.currentTarget;
  showError('#default-schedule-error', '');
  try {
    const data = (await call({ action: 'schedule_show', all: 'yes' })).data;
    fillFields(defaultFields, data);
    $('#d-notify').value = data.notify;
    $('#default-schedule-save').disabled = false;
  } catch (error) {
    showError('#default-schedule-error', scheduleFailure(error));
    enableFields(defaultFields, true);
    $('#default-schedule-save').disabled = true;
  }
  openDialog($('#default-schedule'), opener);
}

// What the server refuses of an address: anything but one address.
function notifyProblem(address) {
  if (address === '') return '';
  return /^[A-Za-z0-9_%+=][A-Za-z0-9._%+=-]*@[A-Za-z0-9][A-Za-z0-9.-]*$/.test(address) && address.length <= 254
    ? '' : 'Give one mail address, such as admin@example.com.';
}

async function saveDefault(event) {
  event.preventDefault();
  const read = readFields(defaultFields);
  const notify = $('#d-notify').value.trim();
  const problem = read.error || notifyProblem(notify);
  if (problem) {
    showError('#default-schedule-error', problem);
    (read.focus || $('#d-notify')).focus();
    return;
  }
  try {
    await call({ action: 'schedule_edit', all: 'yes', ...read.params, notify }, { change: true });
  } catch (error) {
    showError('#default-schedule-error', scheduleFailure(error));
    return;
  }
  closeDialog($('#default-schedule'));
  say('The default schedule is saved.');
  await loadAlerts();
}

// ---- The banner ----

let shownToken = '';

function dismissed() {
  try {
    return localStorage.getItem(DISMISSED) || '';
  } catch {
    return '';  // no storage: it comes back with every load
  }
}

// Shows failed jobs and overdue repositories, unless the administrator
// dismissed them and nothing newer came since.
export async function loadAlerts() {
  let data;
  try {
    data = (await call({ action: 'backup_alerts' })).data;
  } catch {
    return;  // the listing says what is wrong with the server
  }
  const list = $('#alerts-list');
  list.replaceChildren();
  for (const f of data.failed) {
    line(list, `“${visible(f.name)}”: the ${KIND_WORDS[f.kind] || f.kind} failed (${humanTime(f.time)}): ${f.error}`, 'failed');
  }
  for (const o of data.overdue) {
    const good = o.last_good ? `last good backup ${humanTime(o.last_good)}` : 'never backed up';
    line(list, `“${visible(o.name)}” is overdue since ${humanTime(o.since)} (${good}).`);
  }
  const more = data.failed_total - data.failed.length + data.overdue_total - data.overdue.length;
  if (more > 0) line(list, `And ${more} more.`, 'muted');
  shownToken = data.newest || '';
  const any = data.failed_total + data.overdue_total > 0;
  $('#alerts').hidden = !any || (shownToken !== '' && shownToken <= dismissed());
}

function dismissAlerts() {
  try {
    localStorage.setItem(DISMISSED, shownToken);
  } catch {
    // no storage: hidden until the next load
  }
  $('#alerts').hidden = true;
}

export function startSchedule() {
  ownFields = makeFields($('#s-fields'), 's');
  defaultFields = makeFields($('#d-fields'), 'd');
  $('#s-default').addEventListener('change', (event) => enableFields(ownFields, event.currentTarget.checked));
  $('#save-schedule').addEventListener('click', saveSchedule);
  $('#default-schedule-open').addEventListener('click', openDefault);
  $('#default-schedule-cancel').addEventListener('click', () => closeDialog($('#default-schedule')));
  $('#default-schedule-form').addEventListener('submit', saveDefault);
  $('#alerts-dismiss').addEventListener('click', dismissAlerts);
  afterLoad.push(loadAlerts);
}
