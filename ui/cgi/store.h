// store.h: the repository root: which names are repositories, the walk
// of the listing, and removal.
//
// All repositories of the package lie directly under one root
// ($SVN_PACKAGE_DIR/repo, see paths.h); a repository's name is the name of
// its directory there.  An entry is a repository when it is a directory
// (or a link to one) holding conf/svnserve.conf; its accounts may be
// anywhere password-db says.
#ifndef SVN_CGI_STORE_H_
#define SVN_CGI_STORE_H_

#include <functional>
#include <string>

#include "status.h"

// Whether `name` can name a repository: one entry directly under the
// root, so not empty, ".", or anything holding "..", "/" or a control
// character (below U+0020, U+007F).
bool IsValidName(const std::string& name);

// The root followed by "/" and `name`, unchecked.
std::string RepoPath(const std::string& name);

// Whether `name` is a valid name of a repository that exists.  An empty
// name is false (and logged).  `isDirectory`: the caller has seen that the
// entry is a directory, which is then not looked at again.
bool RepoExists(const std::string& name, bool isDirectory = false);

// Calls `visit` with the name of each repository under the root whose name
// holds `part` (byte for byte; every one for an empty `part`), in the
// order the directory yields them.  A root that cannot be read has none.
void WalkRoot(const std::string& part, const std::function<void(std::string name)>& visit);

// Takes the existing repository `name` off the root with one rename (its
// name is then free and nothing serves it) and deletes it, after edits
// under way are done.  Succeeds once it has left the root: what cannot be
// deleted is logged and retried by later requests, never listed or
// served.  Fails (nothing changed) when it cannot be moved, or (kBusy)
// while a job (a backup, a verify) runs on it.
SVNStatus RemoveRepo(const std::string& name);

#endif  // SVN_CGI_STORE_H_
