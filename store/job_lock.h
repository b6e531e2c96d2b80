// job_lock.h: the job lock of a repository: one job at a time works on
// it, and a removal or rename does not move it from under a job.
//
// The lock is a file of the jobs' directory (jobs/locks/D, D the name as
// FileNameOf makes it), held with an open file description lock from a
// job's start to its end, and naming the job that holds it.  It is the
// service user's alone (0700, 0600).
#ifndef SVN_STORE_JOB_LOCK_H_
#define SVN_STORE_JOB_LOCK_H_

#include <string>

#include "store/status.h"

class SVNJobLock {
 public:
  SVNJobLock() = default;
  ~SVNJobLock() { release(); }
  SVNJobLock(const SVNJobLock&) = delete;
  SVNJobLock& operator=(const SVNJobLock&) = delete;

  // Takes the lock of `name`: kBusy while a job (or a removal) holds it.
  // Without `create`, and when no job ever ran on `name`, succeeds
  // holding nothing (and makes nothing): a removal or rename then moves
  // the repository holding the lock of its settings file (see locks.h),
  // taken before this one, which a new job waits for (see
  // WaitForMoves).
  SVNStatus acquire(const std::string& name, bool create);
  // Takes over a lock already held on `fd` (a job the program started,
  // or a job's own lock, see jobs.h).
  void adopt(int fd) { fd_ = fd; }
  // Names the job `id` as the holder.
  SVNStatus mark(const std::string& id);
  int fd() const { return fd_; }
  void release();

 private:
  int fd_ = -1;
};

#endif  // SVN_STORE_JOB_LOCK_H_
