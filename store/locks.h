// locks.h: the locks that keep two requests from updating one file at once.
//
// A request that reads files to write them back holds their locks from the
// read to the write.  The locks are files in a directory of the package
// that only the service user can open (lockDir, see package.h: made
// 0700 when missing, refused when it is not ours or not private), so no
// other local user can take one and hold requests up; a repository's conf/
// is no place for them, as anyone who can read it can lock it.
//
// A lock is named after the real location of the file it guards (links
// resolved), so repositories that share a file (an account or rules file,
// a settings file behind a link) exclude each other's updates of it.  A
// request takes its locks in one order, that of their names, and waits at
// most kWaitMs for all of them together (however often it takes them
// again): a request that cannot have them fails with kBusy before it
// changes anything.
#ifndef SVN_STORE_LOCKS_H_
#define SVN_STORE_LOCKS_H_

#include <string>
#include <vector>

#include "store/status.h"

class SVNLocks {
 public:
  // The longest a request waits for its locks, in milliseconds.
  static constexpr int kWaitMs = 3000;

  SVNLocks() = default;
  ~SVNLocks() { release(); }
  SVNLocks(const SVNLocks&) = delete;
  SVNLocks& operator=(const SVNLocks&) = delete;

  // Releases the locks held, then takes the locks of `files` (each once,
  // however often and under whatever name it is given), waiting at most
  // until kWaitMs after this object's first take.  kBusy when another
  // process holds one of them for the whole wait, a failure when the
  // directory cannot be used; either way none is held.
  SVNStatus take(const std::vector<std::string>& files);

  // Whether the locks of all of `files` are held.
  bool holds(const std::vector<std::string>& files) const;

  // Releases every lock held.
  void release();

 private:
  std::vector<std::string> names_;  // of the locks held, in order
  std::vector<int> fds_;
  long long deadline_ = 0;  // of every wait, on the monotonic clock (ms)
};

#endif  // SVN_STORE_LOCKS_H_
