// Backups, restores and verifies run as jobs on the server: an action
// starts one and answers with its id; the page asks how they stand while
// any runs, and lists them with their progress.

import { $, call, failure, humanSize, say, visible } from './common.js';
import { loadPage } from './list.js';

const JOB_WORDS = {
  backup: ['Backing up', 'Backup of'],
  restore: ['Restoring', 'Restore of'],
  verify: ['Verifying', 'Verify of'],
  test: ['Test-restoring a backup of', 'Test restore of'],
};

const jobs = {
  list: [],          // as the server last said, newest first
  watched: new Set(),  // ids started or seen running here: their end is shown
  tests: new Map(),  // ids of test restores started here: the backup's file
  timer: null,
};

// The backups dialog lists its repository's jobs too, and reads its
// backups again when a job ends: `openOf` names the repository whose
// backups are open (null when none are), `reload` reads them.  Set by
// the backups dialog.
export const jobsDialog = {
  openOf: () => null,
  reload: async () => {},
};

// A verify of one backup (a test restore) rather than of the repository:
// its record names the file once it has ended; one started here is known
// from the start.
function jobKind(job) {
  return job.kind === 'verify' && (job.file || jobs.tests.has(job.id)) ? 'test' : job.kind;
}

// How far a running job is, in words, and how full its bar is (null: not
// known, the bar moves without filling).  Work is counted in bytes; old
// records counted revisions.
export function progressWords({ done, total, unit }) {
  const known = Number.isInteger(total) && total >= 0;
  const fill = known ? { max: Math.max(total, 1), value: Math.min(done, Math.max(total, 1)) } : null;
  if (unit === 'revisions') {
    if (known) return [`revision ${done} of ${total}`, fill];
    return [done > 0 ? `${done} revisions so far` : 'Starting…', null];
  }
  const amount = unit === 'bytes' ? humanSize : (n) => `${n} ${unit}`;
  if (known) return [`${amount(done)} of ${amount(total)}`, fill];
  return [done > 0 ? `${amount(done)} so far` : 'Starting…', null];
}

// What an ended job came to, in words.
function endWords(job, kind) {
  const rev = Number.isInteger(job.rev) ? job.rev
    : job.progress.unit === 'revisions' && kind === 'backup' ? job.progress.done : null;
  const at = rev === null ? '' : `, revision ${rev}`;
  if (job.state === 'cancelled') return 'cancelled; nothing was left half-made.';
  if (job.state === 'failed') return `failed: ${job.error || 'the system log says why.'}`;
  if (kind === 'verify') return 'no problems found.';
  if (kind === 'test') return `passed${at}.`;
  return `done${at}.`;
}

function runningLine(li, job, doing, name) {
  const bar = document.createElement('progress');
  bar.setAttribute('aria-label', `${doing} “${name}”`);
  const [words, fill] = progressWords(job.progress);
  if (fill) Object.assign(bar, fill);  // without a value the bar is indeterminate
  const count = document.createElement('span');
  count.className = 'count';
  count.textContent = words;
  const cancel = document.createElement('button');
  cancel.type = 'button';
  cancel.textContent = 'Cancel';
  cancel.setAttribute('aria-label', `Cancel: ${doing.toLowerCase()} “${name}”`);
  cancel.addEventListener('click', () => cancelJob(job, cancel));
  li.append(bar, count, cancel);
}

function jobLine(job) {
  const kind = jobKind(job);
  const [doing, of] = JOB_WORDS[kind] || [job.kind, job.kind];
  const li = document.createElement('li');
  li.className = `job ${job.state}`;
  const what = document.createElement('span');
  what.className = 'what';
  const name = visible(job.name);
  li.append(what);
  if (job.state === 'running') {
    what.textContent = `${doing} “${name}”`;
    runningLine(li, job, doing, name);
  } else {
    what.textContent = `${of} “${name}” ${endWords(job, kind)}`;
    if (job.notes) {
      const notes = document.createElement('span');
      notes.className = 'notes';
      notes.textContent = ` ${job.notes}`;  // a blank between, read as one text
      li.append(notes);
    }
  }
  return li;
}

// Shows the jobs in the page's list, and those of the repository whose
// backups are open in theirs.
export function showJobs() {
  const shown = jobs.list.filter((j) => j.state === 'running' || jobs.watched.has(j.id));
  $('#jobs .job-list').replaceChildren(...shown.map(jobLine));
  $('#jobs').hidden = shown.length === 0;
  const backupsOf = jobsDialog.openOf();
  if (backupsOf !== null) {
    $('#repo-jobs').replaceChildren(...shown.filter((j) => j.name === backupsOf).map(jobLine));
  }
}

export async function pollJobs() {
  clearTimeout(jobs.timer);
  let answer;
  try {
    answer = await call({ action: 'jobs' });
  } catch {
    jobs.timer = setTimeout(pollJobs, 3000);
    return;
  }
  const before = new Map(jobs.list.map((j) => [j.id, j.state]));
  jobs.list = answer.data;
  let ended = false;
  for (const job of jobs.list) {
    if (job.state === 'running') {
      jobs.watched.add(job.id);
    } else if (before.get(job.id) === 'running' || (jobs.watched.has(job.id) && !before.has(job.id))) {
      // Ended since the last look, or before the first look at a job
      // started here (a short one).
      ended = true;
      say(jobLine(job).textContent);
    }
  }
  showJobs();
  if (ended) {
    await loadPage();
    if (jobsDialog.openOf() !== null) await jobsDialog.reload();
  }
  if (jobs.list.some((j) => j.state === 'running')) jobs.timer = setTimeout(pollJobs, 500);
}

// The job `id` was started here: its end is shown.
export function watchJob(id) {
  jobs.watched.add(id);
}

// Sends an action that starts a job and follows it.
export async function startJob(params, name, doing) {
  const answer = await call(params, { change: true });
  watchJob(answer.data.job);
  if (params.action === 'verify' && params.file) jobs.tests.set(answer.data.job, params.file);
  say(`${doing} “${visible(name)}” …`);
  await pollJobs();
}

async function cancelJob(job, button) {
  button.disabled = true;
  try {
    await call({ action: 'job_cancel', id: job.id }, { change: true });
  } catch (error) {
    say(failure(error, job.name, 'stopped'));
  }
  await pollJobs();
}
