// backup_state.h: where each repository stands with its backups: its last
// good backup, its last failed job, whether its backups or its verifies
// fail now, the last slot of its schedule that was run, and from when it
// is overdue.  The listing reads it for a whole page in one read.
//
// One file of the package's private state (backupStateFile, see
// package.h: var/backup-state, the service user's, 0600), which svn-admin
// updates when a job ends and the schedule actions when a schedule
// changes, both under the schedules' lock (SVNScheduleUpdate), written
// whole.  It is text, a line a repository, so that the listing finds the
// lines of its page without decoding the others:
//
//   svn-admin backup state 1<TAB>overdue=T
//   NAME<TAB>KEY=VALUE<TAB>KEY=VALUE...
//
// T is in seconds since 1970; in NAME and values "\", tab, CR and LF are
// written \\, \t, \r and \n.  The first line's "overdue" is when a
// repository without a line, which follows the default schedule and was
// never backed up, is overdue (0: never).  Each line's keys are those of
// SVNStanding: uuid, good, rev, file, failed, kind, job, why, bfail,
// vfail, slot, overdue, mailed; others are passed over.
#ifndef SVN_STORE_BACKUP_STATE_H_
#define SVN_STORE_BACKUP_STATE_H_

#include <json/value.h>
#include <time.h>

#include <map>
#include <set>
#include <string>

#include "store/locks.h"
#include "store/schedule.h"
#include "store/status.h"

struct SVNStanding {
  std::string uuid;       // of the repository its last good backup holds
  time_t good = 0;        // when its last good backup was taken; 0: never
  long rev = -1;          // that backup's revision
  std::string file;       // and file
  time_t failed = 0;      // when its last job failed; 0: never
  std::string kind;       // that job's: "backup", "verify", "test restore"
  std::string job, why;   // its id, and why it failed (a sentence)
  bool backupFailing = false;  // its last backup, or the test restore of it, failed
  bool verifyFailing = false;  // its last verify failed
  time_t slot = 0;        // the last slot of its schedule that was run
  time_t overdueAt = 0;   // from when it is overdue; 0: never
  time_t mailed = 0;      // the overdueAt a mail last told of
};

struct SVNStandings {
  time_t defaultOverdueAt = 0;  // of a repository without a line
  std::map<std::string, SVNStanding> repos;
  // From when `name` is overdue; 0: never.
  time_t overdueAt(const std::string& name) const {
    auto it = repos.find(name);
    return it == repos.end() ? defaultOverdueAt : it->second.overdueAt;
  }
};

// Reads the standings: of the repositories in `only` (every one when
// null); with `timesOnly`, their times and flags alone (no UUID, file,
// kind, job or reason: what finding what is due needs).  None without a
// file; a file that is not ours or not one reads as none, with a failure
// to log.
SVNStatus ReadStandings(const std::set<std::string>* only, SVNStandings* standings,
                        bool timesOnly = false);

// A change of the schedules or the standings: both read under their lock
// (the lock of the schedule file, see locks.h), changed, and written back.
class SVNScheduleUpdate {
 public:
  // Takes the lock (kBusy when another holds it for SVNLocks::kWaitMs) and
  // reads both files.  A refused schedule file fails it (kHandmade, with
  // the reason), unless `anySchedules`: then the standings may be changed
  // all the same, and the times they are overdue stay as they were.
  SVNStatus open(bool anySchedules = false);

  SVNSchedules& schedules() { return schedules_; }
  SVNStandings& standings() { return standings_; }

  // Writes the schedules, when `schedulesChanged`, then the standings when
  // they changed: with a line for each repository that has a schedule of
  // its own, and the times each is overdue worked out again from its
  // schedule and its last good backup.
  SVNStatus save(bool schedulesChanged);

 private:
  SVNLocks lock_;
  SVNSchedules schedules_;
  bool schedulesRead_ = false;
  SVNStandings standings_;
  std::string read_;  // the standings' text as read
};

// A repository renamed from `from` to `to`: its schedule of its own and its
// standing go with it.  Logged when they cannot.
void MoveScheduled(const std::string& from, const std::string& to);
// A repository removed: its schedule and standing go.  Logged when they
// cannot.
void ForgetScheduled(const std::string& name);

// The listing's marks of `name`: "overdue" and "backup_failed", each set
// (true) only when so at `now`.
void AddStandingMarks(const SVNStandings& standings, const std::string& name, time_t now,
                      Json::Value* summary);

// `name`'s standing as "show" answers it: {"last_good": {"time", "rev",
// "file"} or null, "last_failed": {"time", "kind", "job", "error"} or
// null, "failing": bool, "next": TIME or null, "overdue": bool} at `now`,
// under the schedule `s` (null when the schedules cannot be read).  A
// line whose UUID is not `uuid` (another repository had the name) is none.
Json::Value StandingJson(const SVNStandings& standings, const std::string& name,
                         const std::string& uuid, const SVNSchedule* s, time_t now);

#endif  // SVN_STORE_BACKUP_STATE_H_
