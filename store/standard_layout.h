// standard_layout.h: the standard layout of a new repository.
#ifndef SVN_STORE_STANDARD_LAYOUT_H_
#define SVN_STORE_STANDARD_LAYOUT_H_

#include <string>

#include "store/status.h"

// Commits, in the repository at `path`, a revision that makes the
// directories /trunk, /branches and /tags, with the log message "Create
// standard layout" and `author` (none when empty), through the
// repository's commit path (its hooks run).  Fails when nothing was
// committed; a post-commit hook's complaint is logged and is no failure.
SVNStatus MakeStandardLayout(const std::string& path, const std::string& author);

#endif  // SVN_STORE_STANDARD_LAYOUT_H_
