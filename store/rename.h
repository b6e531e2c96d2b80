// rename.h: renaming a repository, with what names it by its name.
//
// A repository's name is its directory's name under the root, and more:
// its rules file may hold rules for it by name ("[NAME:/path]",
// "[:glob:NAME:/path]"), its settings may reach its own files through the
// root by name (password-db = ../../NAME/conf/passwd), and other
// repositories' settings may reach files in it so.  A rename moves the
// first along, rewrites the second to reach the same files without the
// root, and cuts the third off (said before anything changes).
#ifndef SVN_STORE_RENAME_H_
#define SVN_STORE_RENAME_H_

#include <functional>
#include <string>
#include <vector>

#include "store/job_lock.h"
#include "store/name.h"
#include "store/status.h"

class SVNRepo;

// Whether work under way holds the repository `name`, which a rename
// would pull away from under it: kBusy while a job (a backup, a verify)
// runs on it; otherwise `jobs` holds its job lock (if it has one) until it
// goes.  Call it holding the locks of its files (see locks.h), which the
// rename holds from reading them to the move: changes of them wait for
// it, and so does a job that starts meanwhile (see WaitForMoves).
SVNStatus CheckNotBusy(const std::string& name, SVNJobLock* jobs);

// Renames in place, in the rules file at `path` (a copy only a repository
// being made reads), the sections that name the repository `from`
// ([from:/path], [:glob:from:/path]) to name `to`, so that they bind it
// under its new name.  kHandmade, with a reason, when the file holds
// sections for `to` already, or `to` cannot be named in one.
SVNStatus RenameRulesSections(const std::string& path, const std::string& from,
                              const std::string& to);

// The other repositories a rename reaches, each list in byte order.
struct SVNRenameReach {
  std::vector<std::string> changed;  // use the rules or settings file it changes
  std::vector<std::string> cutOff;   // use a file in the repository's directory
};

// Renames the repository `repo` (opened for update: its files stay
// locked) to `to`.  Everything is checked
// before anything changes: kExists when `to` is taken (see NameUnused);
// kHandmade, with a reason, when the rules that name the repository
// cannot be moved (kept in a repository, unreadable, or `to` holds ':'
// or ']', which a section's name cannot), when the rules file holds rules
// for `to` already (they would bind the renamed repository), or when a
// setting reaches the repository through the root in a way the rewrite
// cannot follow (links); then `consent` is asked when other repositories
// are reached, and its refusal returned.
//
// Then, so that the rules bind the repository under whichever name it
// answers at every moment: the rules file is written with a copy of each
// of its sections under `to`'s name, and the settings rewritten; the
// directory is renamed (if that fails, both are put back); last the rules
// file is written with the sections renamed in place, every other byte as
// it was.  If that last write fails the repository is renamed all the
// same and the old sections stay beside the new ones (logged).  Its
// backups follow it (see MoveBackups), and so do its schedule and backup
// standing (see MoveScheduled), or they stay under the old name (logged).
SVNStatus RenameRepo(SVNRepo* repo, const SVNName& to,
                     const std::function<SVNStatus(const SVNRenameReach&)>& consent);

#endif  // SVN_STORE_RENAME_H_
