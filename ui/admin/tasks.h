// tasks.h: what svn-admin does to one repository: back it up, verify it,
// or restore one.  The same code serves a job the program started and a
// run from a schedule.  A task asked to stop (see gCancelled) leaves
// nothing half-made: no backup under its final name, nothing under the
// root.  Failures carry a sentence for people (SVNStatus::reason).
#ifndef SVN_ADMIN_TASKS_H_
#define SVN_ADMIN_TASKS_H_

#include <functional>
#include <string>

#include "store/name.h"
#include "store/repo.h"
#include "store/status.h"

// How far a task got: revisions done, of `total` (-1 while unknown).
using SVNProgress = std::function<void(long long done, long long total)>;

// Backs `name` up into a new file of its backup directory (see
// backups.h): its history to the youngest revision (`svnadmin dump
// --deltas`, revision properties included), its settings file and the
// account and rules files that live in its conf/.  With `keep` > 0, then
// removes its backups past the newest `keep`.  Sets *file (the file's
// name) and *rev.
SVNStatus BackupRepository(const SVNName& name, int keep, const SVNProgress& progress,
                           std::string* file, long* rev);

// Verifies `name` (`svnadmin verify`) and records when and how it ended
// (see ReadVerified); fails when problems were found.
SVNStatus VerifyRepository(const SVNName& name, const SVNProgress& progress, long* rev);

// What the repository `name` made from a plain dump gets, as "add" takes
// them (a backup brings its own): those of the JSON file at `path`
// ({"realm", "anon", "accounts"}, each optional; anonymous users get no
// access without "anon"), checked as "add" checks them; without a file,
// none but anon-access = none.
SVNStatus ReadRestoreSettings(const std::string& path, const SVNName& name,
                              std::optional<SVNNewRepo>* settings);

// Makes the repository `settings.name` from `source`, a backup of this
// program or a plain dump (gzip-compressed or not), taken as hostile: in
// the working directory (see MakeRepository: `svnadmin create`,
// `svnadmin load` keeping the UUID, the backup's conf/ files checked as
// "edit" checks them, or `settings` for a plain dump), then moved under
// the root: it appears whole or not at all (kExists when the name is
// taken).  Sets *rev to its youngest revision.
SVNStatus RestoreRepository(const std::string& source, const SVNNewRepo& settings,
                            const SVNProgress& progress, long* rev);

#endif  // SVN_ADMIN_TASKS_H_
