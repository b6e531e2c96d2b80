// Backups, restores and verifies run as jobs on the server: an action
// starts one and answers with its id; the page asks how they stand while
// any runs, and lists them with their progress.

import { $, call, failure, say, visible } from './common.js';
import { loadPage } from './list.js';

const JOB_WORDS = {
  backup: ['Backing up', 'Backup of'],
  restore: ['Restoring', 'Restore of'],
  verify: ['Verifying', 'Verify of'],
  pack: ['Packing', 'Pack of'],
  upgrade: ['Upgrading', 'Upgrade of'],
};

const jobs = {
  list: [],          // as the server last said, newest first
  watched: new Set(),  // ids started or seen running here: their end is shown
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

function jobLine(job) {
  const [doing, of] = JOB_WORDS[job.kind] || [job.kind, job.kind];
  const li = document.createElement('li');
  li.className = `job ${job.state}`;
  const what = document.createElement('span');
  what.className = 'what';
  const name = visible(job.name);
  if (job.state === 'running') {
    what.textContent = `${doing} “${name}”`;
    const bar = document.createElement('progress');
    bar.setAttribute('aria-label', `${doing} “${name}”`);
    const count = document.createElement('span');
    count.className = 'count';
    const { done, total } = job.progress;
    if (job.kind === 'upgrade') {
      bar.removeAttribute('value');  // it does not say how far it got
    } else if (Number.isInteger(total)) {
      bar.max = Math.max(total, 1);
      bar.value = Math.min(done, bar.max);
      count.textContent = `revision ${done} of ${total}`;
    } else {
      count.textContent = `${done} revisions so far`;  // a plain dump does not say
    }
    const cancel = document.createElement('button');
    cancel.type = 'button';
    cancel.textContent = 'Cancel';
    cancel.setAttribute('aria-label', `Cancel: ${doing.toLowerCase()} “${name}”`);
    cancel.addEventListener('click', () => cancelJob(job, cancel));
    li.append(what, bar, count, cancel);
  } else {
    const ended = {
      done: job.kind === 'backup' ? `done, revision ${job.progress.done}.`
        : job.kind === 'verify' ? 'no problems found.' : 'done.',
      cancelled: 'cancelled; nothing was left half-made.',
      failed: `failed: ${job.error || 'the system log says why.'}`,
    }[job.state];
    what.textContent = `${of} “${name}” ${ended}`;
    li.append(what);
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
    } else if (before.get(job.id) === 'running') {
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
