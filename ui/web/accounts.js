// The accounts part of the edit dialog: a row for each account and its
// password, what the account file cannot hold, and how the part works
// where the accounts cannot be changed here.

import { $, call, foldAccount, valueProblem } from './common.js';
import { allOf, showShared } from './consent.js';
import { edit } from './edit-state.js';

export function addAccountRow(account = '', password = '', readOnly = false) {
  const row = $('#account-row').content.firstElementChild.cloneNode(true);
  const list = $('#accounts');
  const n = list.children.length + 1;
  const name = $('.account-name', row);
  const secret = $('.account-password', row);
  name.id = `account-${n}-${Date.now()}`;
  secret.id = `${name.id}-password`;
  const [nameLabel, secretLabel] = row.querySelectorAll('label');
  nameLabel.htmlFor = name.id;
  secretLabel.htmlFor = secret.id;
  name.value = account;
  secret.value = password;
  name.readOnly = readOnly;
  secret.readOnly = readOnly;
  const show = $('.show-password', row);
  show.setAttribute('aria-controls', secret.id);
  show.addEventListener('click', () => {
    const visible = secret.type === 'password';
    secret.type = visible ? 'text' : 'password';
    show.textContent = visible ? 'Hide' : 'Show';
    show.setAttribute('aria-pressed', String(visible));
  });
  const remove = $('.remove-account', row);
  remove.hidden = readOnly;
  remove.addEventListener('click', () => {
    const next = row.nextElementSibling || row.previousElementSibling;
    row.remove();
    relabelAccounts();
    ($('.account-name', next || document) || $('#add-account')).focus();
  });
  list.append(row);
  relabelAccounts();
  return name;
}

export function relabelAccounts() {
  const rows = [...$('#accounts').children];
  rows.forEach((row, i) => {
    $('.remove-account', row).setAttribute('aria-label', `Remove account ${i + 1}`);
  });
  $('#no-accounts').hidden = rows.length > 0 || !['edit', 'readonly'].includes(edit.accountsMode);
}

// The form's account list, or an error text and the field to fix.  An
// account as the program showed it goes back as it stands, whatever a hand
// put in the file (an empty password, say); a new one must be one the
// file can hold.
function readAccounts() {
  const accounts = [];
  const seen = new Set();
  const shown = new Map(((edit.shown && edit.shown.accounts) || []).map((a) => [a.account, a.password]));
  for (const row of $('#accounts').children) {
    const nameField = $('.account-name', row);
    const secretField = $('.account-password', row);
    const account = nameField.value;
    const password = secretField.value;
    const label = `The account name “${account}”`;
    const asShown = shown.has(account) && shown.get(account) === password;
    let error = '';
    let focus = nameField;
    const twice = `The account “${account}” is listed twice (names that differ only in the capitals A–Z are one account).`;
    if (asShown) {
      if (seen.has(foldAccount(account))) error = twice;
    } else if (!account.trim()) {
      error = 'Every account needs a name.';
    } else if ((error = valueProblem(account, label))) {
      // said
    } else if (/^[#[]/.test(account) || /[=:]/.test(account)) {
      error = `${label} may not start with “#” or “[”, or hold “=” or “:”.`;
    } else if (seen.has(foldAccount(account))) {
      error = twice;
    } else if (!password) {
      error = `The account “${account}” needs a password.`;
      focus = secretField;
    } else if ((error = valueProblem(password, `The password of “${account}”`))) {
      focus = secretField;
    }
    if (error) return { error, focus };
    seen.add(foldAccount(account));
    accounts.push({ account, password });
  }
  return { accounts };
}

// How the accounts part works: "edit"; "readonly" (shown, not changed
// here: `reason`); "sasl" (SASL keeps them: none shown, none sent);
// "unreadable" (nothing can be saved, as an edit sends the accounts).
export function setAccountsMode(mode, reason = '') {
  edit.accountsMode = mode;
  const editable = mode === 'edit';
  $('#accounts').hidden = !['edit', 'readonly'].includes(mode);
  $('#add-account').hidden = !editable;
  $('#accounts-hint').hidden = !editable;
  const note = $('#accounts-note');
  note.textContent = mode === 'sasl'
    ? 'SASL decides who logs in to this repository and keeps its accounts, so they are not shown or changed here.'
    : reason;
  note.hidden = !note.textContent;
  $('#save').disabled = mode === 'unreadable';
  if (mode !== 'edit' && mode !== 'readonly') $('#accounts-shared').hidden = true;
}

// Shows the accounts of `name` as the program allows; resolves to them
// ([] when none can be shown).
export async function loadAccounts(name) {
  let answer;
  try {
    answer = await call({ action: 'acc_show', name });
  } catch (error) {
    if (error.key === 'nonexist') throw error;
    edit.shown.accounts = null;
    setAccountsMode('unreadable', (error.key === 'handmade' && error.info.reason) ||
      'The accounts cannot be read here: the account file is not a plain file, is too large, or is not in ' +
      'the form Subversion reads. Until it is mended by hand, this dialog cannot save.');
    return [];
  }
  const accounts = Array.isArray(answer.account) ? answer.account : [];
  edit.shown.accounts = accounts;
  if (answer.sasl) {
    setAccountsMode('sasl');
    return [];
  }
  const readOnly = answer.editable === false;
  if (readOnly) setAccountsMode('readonly', answer.reason || 'The accounts cannot be changed here.');
  for (const a of accounts) addAccountRow(a.account, a.password, readOnly);
  showShared($('#accounts-shared'), answer.shared, 'These accounts are shared with ',
    (others) => `: a change applies to ${allOf(others)}.`);
  return accounts;
}

// The accounts an edit sends: those of the form, or, where they cannot
// be changed here, what the program showed (unchanged, so no change).
export function accountsToSend() {
  if (edit.accountsMode === 'sasl') return { accounts: [] };
  if (edit.accountsMode === 'readonly') return { accounts: edit.shown.accounts };
  return readAccounts();
}
