// tasks.h: what svn-admin does to one repository: back it up, verify it
// (or a backup of it, by restoring it where nothing serves it), or
// restore one.  The same code serves a job the program started and a run
// from a schedule.  A task asked to stop (see gCancelled) leaves nothing
// half-made: no backup under its final name, nothing new under the root,
// and a repository restored in place whole as it was.  Failures carry a
// sentence for people (SVNStatus::reason).
#ifndef SVN_ADMIN_TASKS_H_
#define SVN_ADMIN_TASKS_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/name.h"
#include "store/repo.h"
#include "store/status.h"
#include "ui/admin/setup_files.h"

// How far a task got, in bytes of work: done, of `total` (-1 while
// unknown).
using SVNProgress = std::function<void(long long done, long long total)>;

// What a backup was made as, and what it made.
struct SVNBackupOptions {
  std::string kind = "hotcopy";  // or "dump"
  int keep = 0;                  // then keep the newest `keep` of the repository's own
};
struct SVNBackupResult {
  std::string file;  // its name in the repository's backup directory
  std::string path;
  long rev = 0;
  long long size = 0;
  std::string sha256;
};

// Backs `name` up into a new file of its backup directory (see backups.h
// and backup_file.h): a consistent copy (`svnadmin hotcopy`) or its
// history (`svnadmin dump --deltas`), with every file its settings use
// and the hook presets that are on; then, with `keep` > 0, removes its
// backups past the newest `keep`, never the one just made.
SVNStatus BackupRepository(const SVNName& name, const SVNBackupOptions& options,
                           const SVNProgress& progress, SVNBackupResult* result);

// Removes the backups of `name` past its newest `keep`, never `made` (the
// file of one just made, which counts first), as BackupRepository does
// with `keep`: for a backup that had to pass its test restore first.
void KeepNewestBackups(const SVNName& name, int keep, const std::string& made);

// Verifies `name` (`svnadmin verify`) and records when and how it ended
// (see ReadVerified); fails when problems were found.
SVNStatus VerifyRepository(const SVNName& name, const SVNProgress& progress, long* rev);

// What a restore made.
struct SVNRestoreResult {
  long rev = -1;
  std::string uuid;
  long long size = 0;    // of the file restored from
  std::string sha256;    // of the file
  std::vector<std::string> created;  // private copies of shared files
  std::vector<std::string> leftOut;  // hooks made by hand not restored
  long replacedRev = -1;  // the youngest revision of the repository replaced
  std::string replaced;   // the item holding it, to delete after the end is said
};

// What the repository `name` made from a plain dump gets, as "add" takes
// them (a backup brings its own): those of the JSON file at `path`
// ({"realm", "anon", "accounts"}, each optional; anonymous users get no
// access without "anon"), checked as "add" checks them; without a file,
// none but anon-access = none.
SVNStatus ReadRestoreSettings(const std::string& path, const SVNName& name,
                              std::optional<SVNNewRepo>* settings);

// Makes the repository `settings.name` from `source`, a backup of this
// program or a plain dump (gzip-compressed or not), every byte of it
// checked: built in the working directory (`svnadmin create` and
// `svnadmin load` keeping the UUID, or the copy a backup holds), its
// settings put back (see setup_files.h) and checked, then moved under the
// root (see MakeRepository), or over the repository of its name with
// `o.replace` (see ReplaceRepository), or, for `o.test`, verified with
// `svnadmin verify` and removed.  kExists when the name is taken (and not
// to be replaced).
SVNStatus RestoreRepository(const std::string& source, const SVNNewRepo& settings,
                            const SVNRestoreOptions& o, const SVNProgress& progress,
                            SVNRestoreResult* result);

// Whether `path` is a backup of the backup directory (written by us, kept
// where only the service user writes): what it holds may be taken whole.
bool IsOurBackup(const std::string& path);

#endif  // SVN_ADMIN_TASKS_H_
