// The administration page: a table of repositories with search and
// paging, and forms to create, edit and remove them, all through svn.cgi;
// and the history of the changes.  This module puts the page's views
// together and starts it.

import { loadConfig } from './common.js';
import { loadPage, startList } from './list.js';
import { openEditor, startEditor } from './editor.js';
import { startRules } from './rules.js';
import { startHooks } from './hooks.js';
import { openRename, startRename } from './rename.js';
import { confirmRemove } from './remove.js';
import { openBackups, startBackups } from './backups.js';
import { startRestore } from './restore.js';
import { pollJobs } from './jobs.js';
import { startHistory } from './history.js';
import { openCommits, startCommits } from './commits.js';
import { startUsage } from './usage.js';
import { startCare } from './care.js';
import { startSchedule } from './schedule.js';

async function start() {
  await loadConfig();
  startList([['Edit', openEditor], ['Commits', openCommits], ['Rename', openRename], ['Backups', openBackups],
    ['Remove', confirmRemove]]);
  startEditor();
  startRules();
  startHooks();
  startRename();
  startBackups();
  startRestore();
  startCommits();
  startUsage();
  startCare();
  startSchedule();
  await loadPage();
  await pollJobs();
}

start();
startHistory();
