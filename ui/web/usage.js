// The Disk use view ("usage"): what the repositories and their backups
// take and what their disks have left, at the top; the repositories with
// their sizes, in name order or the largest first, a page at a time.

import { $, call, cell, humanSize, nameElement } from './common.js';

const USAGE_PAGE = 50;

const view = { rows: [], bySize: false, start: 0, serial: 0 };

function size(bytes) {
  return Number.isInteger(bytes) ? humanSize(bytes) : 'unknown';
}

function disk(space) {
  return Number.isInteger(space.free) && Number.isInteger(space.size)
    ? `${humanSize(space.free)} free of ${humanSize(space.size)}` : 'unknown';
}

function putTotals(data) {
  const totals = [
    ['Repositories', `${humanSize(data.total)} in ${data.repositories.length} ${data.repositories.length === 1 ? 'repository' : 'repositories'}` +
      (data.unknown > 0 ? ` (${data.unknown} not known${data.unmeasured > 0 ? ': measured on the next visit' : ''})` : '')],
    ['Backups', data.backups === null ? 'none yet' : size(data.backups)],
    [data.same_disk ? 'Disk' : 'Repositories’ disk', disk(data.disks.repositories)],
  ];
  if (data.disks.backups && !data.same_disk) totals.push(['Backups’ disk', disk(data.disks.backups)]);
  $('#usage-totals').replaceChildren(...totals.flatMap(([term, text]) => {
    const dt = document.createElement('dt');
    dt.textContent = term;
    const dd = document.createElement('dd');
    dd.textContent = text;
    return [dt, dd];
  }));
}

function sorted() {
  const rows = [...view.rows];
  if (view.bySize) {
    rows.sort((a, b) => (b.size ?? -1) - (a.size ?? -1) || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  } else {
    rows.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  }
  return rows;
}

function showRows() {
  const rows = sorted();
  const tbody = $('#usage tbody');
  tbody.replaceChildren();
  for (const repo of rows.slice(view.start, view.start + USAGE_PAGE)) {
    const row = tbody.insertRow();
    const name = row.insertCell();
    name.className = 'name';
    name.dataset.label = 'Name';
    name.append(nameElement(repo.name));
    const known = Number.isInteger(repo.size);
    cell(row, known ? humanSize(repo.size) : repo.measured === false ? 'not measured yet' : 'unknown',
      known ? 'size' : 'size muted').dataset.label = 'Size';
  }
  const last = Math.min(view.start + USAGE_PAGE, rows.length);
  $('#usage-range').textContent = rows.length === 0 ? '' : `${view.start + 1}–${last} of ${rows.length}`;
  $('#usage-prev').disabled = view.start === 0;
  $('#usage-next').disabled = last >= rows.length;
  $('#usage').hidden = rows.length === 0;
  $('#usage-sort').setAttribute('aria-pressed', String(view.bySize));
}

async function loadUsage() {
  const serial = ++view.serial;
  $('#usage-status').textContent = 'Measuring…';
  let data;
  try {
    data = (await call({ action: 'usage' })).data;
  } catch (error) {
    if (serial === view.serial) $('#usage-status').textContent = error.message || 'The disk use could not be read. The system log has the details.';
    return;
  }
  if (serial !== view.serial) return;
  $('#usage-status').textContent = '';
  view.rows = data.repositories;
  putTotals(data);
  showRows();
}

function showUsage() {
  for (const id of ['#repos-view', '#history-view', '#commits-view']) $(id).hidden = true;
  for (const button of document.querySelectorAll('.views button')) {
    button.setAttribute('aria-current', button.id === 'view-usage' ? 'page' : 'false');
  }
  $('#usage-view').hidden = false;
  view.start = 0;
  loadUsage();
}

export function startUsage() {
  for (const button of document.querySelectorAll('.views button')) {
    button.addEventListener('click', () => {
      if (button.id === 'view-usage') {
        showUsage();
      } else {
        $('#usage-view').hidden = true;
        $('#view-usage').setAttribute('aria-current', 'false');
      }
    });
  }
  $('#usage-sort').addEventListener('click', () => {
    view.bySize = !view.bySize;
    view.start = 0;
    showRows();
  });
  $('#usage-reload').addEventListener('click', loadUsage);
  $('#usage-prev').addEventListener('click', () => {
    view.start = Math.max(0, view.start - USAGE_PAGE);
    showRows();
  });
  $('#usage-next').addEventListener('click', () => {
    view.start += USAGE_PAGE;
    showRows();
  });
}
