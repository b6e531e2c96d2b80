// locks.cpp: the locks of updates, files in a directory only we can open.

#include "store/locks.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "store/package.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

namespace {

// The name of the lock of `file`: a hash (FNV-1a, 64 bits) of its real
// location, so that any path makes a short name.  Two files whose names
// meet share a lock: they exclude each other more than they must, never
// less.
std::string LockName(const std::string& file) {
  std::string location = RealLocation(file);
  if (location.empty()) location = file;  // its directory is missing
  unsigned long long hash = 14695981039346656037ULL;
  for (unsigned char c : location) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char name[32];
  snprintf(name, sizeof name, "%016llx.lock", hash);
  return name;
}

// Opens the locks' directory: the package's lockDir, made when missing,
// or where that cannot be made (a package directory that is not ours to
// write), hiddenLockDir.  One that is there but not a directory of ours
// that only we can open is refused (-1, the cause in *status).
int OpenLockDir(SVNStatus* status) {
  for (const std::string& dir : {Package().lockDir, Package().hiddenLockDir}) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) continue;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 077) == 0)
      return fd;
    *status = STATUS_ERROR(kFailed, "The lock directory %s is not ours alone: %s", dir.c_str(),
                           fd < 0 ? strerror(errno) : "another owner, or others may open it");
    if (fd >= 0) close(fd);
    return -1;
  }
  *status = STATUS_ERROR(kFailed, "No lock directory can be made at %s or %s: %s",
                         Package().lockDir.c_str(), Package().hiddenLockDir.c_str(),
                         strerror(errno));
  return -1;
}

long long NowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

}  // namespace

SVNStatus SVNLocks::take(const std::vector<std::string>& files) {
  release();
  std::vector<std::pair<std::string, std::string>> wanted;  // (lock, file)
  for (const std::string& f : files) wanted.emplace_back(LockName(f), f);
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               wanted.end());
  SVNStatus status;
  int dir = OpenLockDir(&status);
  if (dir < 0) return status;
  if (deadline_ == 0) deadline_ = NowMs() + kWaitMs;
  for (const auto& w : wanted) {
    int fd = openat(dir, w.first.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      status = STATUS_ERROR(kFailed, "Open the lock of %s failed: %s", w.second.c_str(),
                            strerror(errno));
      break;
    }
    names_.push_back(w.first);
    fds_.push_back(fd);
    while (status.ok() && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR)
        status = STATUS_ERROR(kFailed, "Lock %s failed: %s", w.second.c_str(), strerror(errno));
      else if (NowMs() >= deadline_)
        status = STATUS_ERROR(kBusy, "Another request has held the lock of %s for %d ms.",
                              w.second.c_str(), kWaitMs);
      else
        usleep(5000);
    }
    if (!status.ok()) break;
  }
  close(dir);
  if (!status.ok()) release();
  return status;
}

bool SVNLocks::holds(const std::vector<std::string>& files) const {
  for (const std::string& f : files)
    if (!std::binary_search(names_.begin(), names_.end(), LockName(f))) return false;
  return true;
}

void SVNLocks::release() {
  for (int fd : fds_) close(fd);  // which releases its lock
  fds_.clear();
  names_.clear();
}
