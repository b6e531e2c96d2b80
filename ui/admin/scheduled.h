// scheduled.h: "svn-admin scheduled", which runs the backups the schedules
// make due (see schedule.h), and how the end of any job of svn-admin
// changes where its repository stands (see backup_state.h).
#ifndef SVN_ADMIN_SCHEDULED_H_
#define SVN_ADMIN_SCHEDULED_H_

#include <time.h>

#include <functional>
#include <string>

#include "jobs/jobs.h"
#include "ui/admin/job_tasks.h"

// How one job of the command line ended.
struct SVNRunOutcome {
  bool busy = false;  // not run: another job holds the repository
  SVNJob job;         // its record as it ended
};

// Runs `c` on the repository `name` as the command line runs each
// repository's job (its record, audit records, its line of output).
using SVNRunJob = std::function<SVNRunOutcome(const SVNJobCommand& c, const std::string& name)>;

// Runs what is due at `now`, one repository after another, each with
// `run`: the backup of each repository whose schedule's latest slot (see
// LatestSlot) has not been run (slots missed meanwhile run once), then,
// when the schedule says so, its test restore, then the removal of its
// backups past the schedule's "keep" (after the test restore passed).
// A slot is recorded as run once its jobs ended, failed or not; a
// repository another job holds is left for the next call.  Each failure
// writes one system log line naming the repository and the reason; when
// the default schedule names an address, one mail tells what failed in
// this run and which repositories are overdue, when either is news.
// Only one run at a time: another finds it under way and does nothing.
// Its jobs run at a job's priority (see LowerPriority).  The exit status:
// 0, or 1 when a job failed or the schedules cannot be read.
int RunScheduled(time_t now, const SVNRunJob& run);

// Notes in the standings how `job` (a test restore when `testRestore`)
// ended, at `now`: a backup done is the repository's last good one; a
// failed backup, test restore or verify is its last failure, and makes
// its backups, or its verifies, fail until one succeeds.  Logged when it
// cannot be noted.
void RecordStanding(const SVNJob& job, bool testRestore, time_t now);

#endif  // SVN_ADMIN_SCHEDULED_H_
