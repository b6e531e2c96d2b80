// svn_fs.h: a repository's history, through Subversion's own repository
// library (loaded when first needed, see svn_lib.h).  Every failure is
// logged to syslog (LOG_ERR, "svn_fs:LINE ...").
#ifndef SVN_FS_H_
#define SVN_FS_H_

#include <string>

struct RepoFacts {
  long rev = -1;        // the youngest revision
  std::string uuid;     // the repository's UUID
  std::string updated;  // the youngest revision's date, "YYYY-MM-DDTHH:MM:SSZ"
  std::string author;   // the youngest revision's author
};

// Reads the facts of the repository at `path`, opened read-only (the
// library's own reader; nothing on disk changes).  0, or -1 when the
// repository cannot be read.  An empty `updated` or `author`: the
// revision has none.
int ReadRepoFacts(const std::string& path, RepoFacts* facts);

// Commits, in the repository at `path`, a revision that makes the
// directories /trunk, /branches and /tags, with the log message "Create
// standard layout" and `author` (none when empty), through the
// repository's commit path (its hooks run).  0, or -1 when nothing was
// committed.
int MakeStandardLayout(const std::string& path, const std::string& author);

#endif  // SVN_FS_H_
