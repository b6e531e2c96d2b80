// facts.h: what a repository's own files say of it: its youngest
// revision, its size, and its history through Subversion's own repository
// library (loaded when first needed, see subversion.h).  Nothing here
// changes anything on disk.
#ifndef SVN_STORE_FACTS_H_
#define SVN_STORE_FACTS_H_

#include <string>

#include "store/status.h"

struct SVNHistory {
  long rev = -1;        // the youngest revision
  std::string uuid;     // the repository's UUID
  std::string updated;  // the youngest revision's date, "YYYY-MM-DDTHH:MM:SSZ"
  std::string author;   // the youngest revision's author
};

// The youngest revision of the repository at `path` as its own files say
// (the leading number of db/current, as FSFS keeps it), read without
// starting a process or loading a library; -1 when it cannot be read.
long ReadRevision(const std::string& path);

// The UUID of the repository at `path` as its own files say (the first
// line of db/uuid), read without starting a process or loading a library;
// empty when it cannot be read or is no UUID.
std::string ReadUuid(const std::string& path);

// The bytes of every entry of the repository's directory, itself
// included: the sizes lstat gives (links are not followed; a file with
// several links counts once), as "du -sb" counts.  Fails when a part
// cannot be read or the tree is more than 256 levels deep.
SVNStatus ReadSize(const std::string& path, long long* bytes);

// Reads the youngest revision, its date and author and the UUID through
// Subversion's library, the repository opened read-only, only when it is
// an FSFS or FSX repository whose control files are plain and small, in a
// child process bounded in memory and time (a hand-made repository may
// hold a FIFO or a huge file further in).  An empty `updated` or `author`:
// the revision has none.
SVNStatus ReadHistory(const std::string& path, SVNHistory* history);

// Reads the log message (svn:log) of revision `rev` of the repository at
// `path`, and its UUID, under the bounds of ReadHistory; an empty *log
// when the revision has none.
SVNStatus ReadRevisionLog(const std::string& path, long rev, std::string* log,
                          std::string* uuid);

// Reads `file` ("/conf/authz") of the youngest revision of the repository
// at `repo`, under the bounds of ReadHistory, at most NLIBC_CONF_MAX_SIZE
// bytes: the rules svnserve reads from a repository (authz-db = ^/...).
SVNStatus ReadRepositoryFile(const std::string& repo, const std::string& file,
                             std::string* text);

#endif  // SVN_STORE_FACTS_H_
