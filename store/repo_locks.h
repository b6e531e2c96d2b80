// repo_locks.h: the locks people take on a repository's files ("svn
// lock"), listed and removed through Subversion's library (see
// fs_reader.h) as "svnadmin lslocks" and "svnadmin rmlocks" do: a removal
// breaks the lock whoever holds it, and runs no hook.
#ifndef SVN_STORE_REPO_LOCKS_H_
#define SVN_STORE_REPO_LOCKS_H_

#include <json/value.h>

#include <string>
#include <vector>

#include "store/fs_path.h"
#include "store/status.h"

// The bytes of a lock's comment given: a longer one is cut.
constexpr size_t kMaxLockComment = 65536;

// A page of the locks on or below `path` of the repository at `repo`, in
// byte order of their paths:
//   {"total": N, "locks": [{"path": P, "owner": TEXT, "comment": TEXT|null,
//     "created": "2026-01-02T03:04:05Z", "expires": TIME|null}]}
// ("comment_cut": true when the comment was cut).
SVNStatus ListLocks(const std::string& repo, const SVNFsPath& path, long start, long limit,
                    Json::Value* page);

struct SVNRemovedLock {
  std::string path;
  Json::Value owner;  // who held it
};

// Removes the locks on `paths` of the repository at `repo`.  *removed
// are those it removed, with their owners; *unlocked the paths that held
// no lock.  Who holds them is read first: a removal that fails half-way
// (the library's removal of several locks is not atomic) still says in
// *removed which of them went.
SVNStatus RemoveLocks(const std::string& repo, const std::vector<SVNFsPath>& paths,
                      std::vector<SVNRemovedLock>* removed, std::vector<std::string>* unlocked);

#endif  // SVN_STORE_REPO_LOCKS_H_
