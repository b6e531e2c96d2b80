// create.h: making a repository: built in an item of the working
// directory (see work_dir.h), where no one else looks, then moved under the
// root whole.  The one way every caller makes one: "add", a restore, and
// whatever comes later.
#ifndef SVN_STORE_CREATE_H_
#define SVN_STORE_CREATE_H_

#include <functional>
#include <string>

#include "store/name.h"
#include "store/repo.h"
#include "store/status.h"

// Builds a repository at the path it is given (which does not exist yet).
using SVNBuilder = std::function<SVNStatus(const std::string& dir)>;

// Makes the repository `name`: first checks that the name is free (see
// NameFree), then runs `build` in a new item of the working directory
// (named after `kind`: "add", "restore", ...), with the modes "add"
// gives whatever the umask (directories 0750, files 0640: svnserve may
// run in the service user's group), then moves the result under the root
// with one rename that replaces nothing but an empty directory: it
// appears whole or not at all (kExists when the name was taken
// meanwhile).  On any failure the item is deleted; a failure to delete
// it is logged after the cause.
SVNStatus MakeRepository(const SVNName& name, const char* kind, const SVNBuilder& build);

// Replaces the existing repository `name` by one `build` makes, as
// MakeRepository makes one: the old one serves, whole, until the new one
// takes its place in one atomic exchange under the locks of its settings
// file (updates under way finish first; kBusy when they take too long).
// The old one is left in `*replaced`, an item of the working directory, for the
// caller to delete (DeleteTree) once it has said the outcome: the exchange
// ends the replacement, and what a process killed while deleting leaves,
// later requests delete.  kNotFound when there is none.  The caller holds
// its job lock.
SVNStatus ReplaceRepository(const SVNName& name, const char* kind, const SVNBuilder& build,
                            std::string* replaced);

// Builds the repository `name` with `build` in a new item of the working
// directory, where nothing serves it, and deletes it again, whether or not
// `build` succeeded: a test restore.
SVNStatus TryRepository(const SVNName& name, const char* kind, const SVNBuilder& build);

// Builds at `dir` the repository `what` with the package's svnadmin: runs
// `fill`, when given, on it right after the tool made it (a restore loads
// its history there), commits the standard layout if asked, sets the
// settings and accounts up (see SVNRepo::openNew), checks that what its
// logins may do under the rules its template brings can be shown (see
// CheckAccessChange), and writes its files.
SVNStatus BuildNewRepo(const SVNNewRepo& what, const std::string& dir, const SVNBuilder& fill);

// Creates the repository `what` with the package's svnadmin: runs `fill`,
// when given, on its directory right after the tool made it (a restore
// loads its history there), commits the standard layout if asked, sets
// the settings and accounts up (see SVNRepo::openNew), checks that what
// its logins may do under the rules its template brings can be shown
// (see CheckAccessChange), and writes its files, all before it appears
// (see MakeRepository).
SVNStatus CreateRepo(const SVNNewRepo& what, const SVNBuilder& fill = nullptr);

#endif  // SVN_STORE_CREATE_H_
