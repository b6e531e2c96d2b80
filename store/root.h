// root.h: the repository root: which names are repositories, the walk
// of the listing, and removal.
//
// All repositories of the package lie directly under one root
// (repo/ in the package directory, see package.h); a repository's name is the name of
// its directory there.  An entry is a repository when it is a directory
// (or a link to one) holding conf/svnserve.conf; its accounts may be
// anywhere password-db says.
#ifndef SVN_STORE_ROOT_H_
#define SVN_STORE_ROOT_H_

#include <sys/stat.h>

#include <functional>
#include <string>

#include "store/name.h"
#include "store/status.h"

// The root followed by "/" and `name`, unchecked.
std::string RepoPath(const std::string& name);

// Whether `name` is a valid name of a repository that exists.  An empty
// name is false (and logged).  `isDirectory`: the caller has seen that the
// entry is a directory, which is then not looked at again.
bool RepoExists(const std::string& name, bool isDirectory = false);

// Calls `visit` with the name of each repository under the root whose name
// holds `part` (byte for byte; every one for an empty `part`), and what
// stat says of its settings file, in the order the directory yields them.
// A root that cannot be read has none.
void WalkRoot(const std::string& part,
              const std::function<void(std::string name, const struct stat& settings)>& visit);

// Whether a new repository may take `name`: nothing is there, or an empty
// directory (made ready by hand, or left over), which the new one replaces
// as svnadmin create would.  kExists otherwise: a repository, or
// something else, which is never removed (said in the reason).
SVNStatus NameFree(const SVNName& name);

// Moves the repository built at `from` under the root as `name`, with one
// rename that never replaces an entry but an empty directory: it appears
// whole or not at all.  kExists when the name is taken.
SVNStatus MoveIntoRoot(const std::string& from, const SVNName& name);

// Whether `name` holds nothing under the root, as a rename needs it:
// kExists otherwise, with a reason when what holds it is not a
// repository (an empty directory included: a rename never replaces it).
SVNStatus NameUnused(const SVNName& name);

// Renames the repository `from` to `to` under the root with one rename
// that never replaces an entry, then syncs the root: it answers under
// one name or the other, never both or neither.  kNotFound when `from`
// is gone, kExists (as NameUnused) when `to` is taken.
SVNStatus RenameInRoot(const SVNName& from, const SVNName& to);

// Waits, holding the job lock of the existing repository `name` (see
// job_lock.h), until no removal or rename of it is under way; then
// kNotFound when it went.  kBusy when a change of its settings holds it
// up for a few seconds.
SVNStatus WaitForMoves(const SVNName& name);

// Takes the existing repository `name` off the root with one rename (its
// name is then free and nothing serves it) and deletes it, after updates
// under way are done (see locks.h); its schedule and backup standing go
// (see ForgetScheduled).  Succeeds once it has left the root:
// what cannot be deleted is logged and retried by later requests, never
// listed or served.  Fails (nothing changed) when it cannot be moved, or
// with kBusy when updates under way keep it waiting too long, or while a
// job (a backup, a verify) runs on it.
SVNStatus RemoveRepo(const SVNName& name);

#endif  // SVN_STORE_ROOT_H_
