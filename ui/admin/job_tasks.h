// job_tasks.h: what one job of svn-admin does to one repository, and the
// audit records its start and end leave (see audit_log.h): the end's
// ("job_end") says how it ended, failures with their reason, and what it
// made or restored.
#ifndef SVN_ADMIN_JOB_TASKS_H_
#define SVN_ADMIN_JOB_TASKS_H_

#include <json/value.h>

#include <string>

#include "jobs/jobs.h"
#include "store/name.h"
#include "store/status.h"
#include "ui/admin/tasks.h"

// What the command line asks of each repository.
struct SVNJobCommand {
  std::string command;   // "backup", "verify", "restore"
  std::string kind = "hotcopy";  // of a backup
  int keep = 0;          // backups of the repository's own to keep
  std::string file;      // restore: the file; verify: a backup to test-restore
  std::string settings;  // restore of a plain dump: its settings (JSON file)
  std::string source;    // what the records call the file (an upload's name)
  bool replace = false, newUuid = false;
};

// Runs `c` on `name` as the job `job`: *line says how it ended, for the
// command's output; *changes what the end's record says it did;
// *leftover what to delete once the end is recorded (a repository
// replaced).
SVNStatus RunTask(const SVNJobCommand& c, const SVNName& name, const SVNProgress& progress,
                  SVNJob* job, std::string* line, Json::Value* changes,
                  std::string* leftover);

// Appends the record of the start of a job the command line asked for
// (the page's requests leave their own), or of the end of any job, with
// `changes`; a record that cannot be written is logged.
void RecordJobStart(const SVNJob& job);
void RecordJobEnd(const SVNJob& job, Json::Value changes);

#endif  // SVN_ADMIN_JOB_TASKS_H_
