// tasks.h: what svn-admin does to one repository: back it up, verify it,
// or restore one.  The same code serves a job the program started and a
// run from a schedule.  A task asked to stop (see gCancelled) leaves
// nothing half-made: no backup under its final name, nothing under the
// root.  Failures carry a sentence for people (SVNStatus::reason).
#ifndef SVN_ADMIN_TASKS_H_
#define SVN_ADMIN_TASKS_H_

#include <functional>
#include <string>

#include "store/accounts.h"
#include "store/status.h"

// How far a task got: revisions done, of `total` (-1 while unknown).
using SVNProgress = std::function<void(long long done, long long total)>;

// Backs `name` up into a new file of its backup directory (see
// backups.h): its history to the youngest revision (`svnadmin dump
// --deltas`, revision properties included), its settings file and the
// account and rules files that live in its conf/.  With `keep` > 0, then
// removes its backups past the newest `keep`.  Sets *file (the file's
// name) and *rev.
SVNStatus BackupRepository(const std::string& name, int keep, const SVNProgress& progress,
                           std::string* file, long* rev);

// Verifies `name` (`svnadmin verify`) and records when and how it ended
// (see ReadVerified); fails when problems were found.
SVNStatus VerifyRepository(const std::string& name, const SVNProgress& progress, long* rev);

// What the repository made from a plain dump gets, as "add" takes them;
// a backup brings its own.
struct SVNRestoreSettings {
  std::string realm;
  std::string anon = "none";
  SVNAccountList accounts;
};

// Reads them from a JSON file ({"realm", "anon", "accounts"}, each
// optional), checked as "add" checks them.
SVNStatus ReadRestoreSettings(const std::string& path, SVNRestoreSettings* settings);

// Makes the repository `name` from `source`, a backup of this program or
// a plain dump (gzip-compressed or not), taken as hostile: in the working
// directory (`svnadmin create`, `svnadmin load` keeping the UUID, the
// backup's conf/ files checked as "edit" checks them, or `settings` for a
// plain dump), then moved under the root with one rename that never
// replaces: it appears whole or not at all (kExists when the name is
// taken).  Sets *rev to its youngest revision.
SVNStatus RestoreRepository(const std::string& source, const std::string& name,
                            const SVNRestoreSettings& settings, const SVNProgress& progress,
                            long* rev);

#endif  // SVN_ADMIN_TASKS_H_
