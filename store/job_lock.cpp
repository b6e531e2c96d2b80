// job_lock.cpp: the repositories' job locks.

#include "store/job_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "store/backups.h"
#include "store/package.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_job"

namespace {

std::string LocksDir() { return Package().jobsDir + "/locks"; }

std::string LockPath(const std::string& name) { return LocksDir() + "/" + FileNameOf(name); }

}  // namespace

SVNStatus SVNJobLock::acquire(const std::string& name, bool create) {
  release();
  if (create) {
    STATUS_TRY(PrivateDir(Package().jobsDir, true, false));
    STATUS_TRY(PrivateDir(LocksDir(), true, true));
  }
  const std::string path = LockPath(name);
  int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
  if (fd < 0) {
    if (!create && errno == ENOENT) return SVNStatus();
    return STATUS_ERROR(kFailed, "Open %s failed: %s", path.c_str(), strerror(errno));
  }
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    int err = errno;
    close(fd);
    if (err == EAGAIN || err == EACCES)
      return STATUS_ERROR(kBusy, "A job is running on %s.", name.c_str())
          .Reason("Another job is running on this repository.");
    return STATUS_ERROR(kFailed, "Lock %s failed: %s", path.c_str(), strerror(err));
  }
  fd_ = fd;
  return SVNStatus();
}

SVNStatus SVNJobLock::mark(const std::string& id) {
  if (fd_ < 0 || pwrite(fd_, id.data(), id.size(), 0) != static_cast<ssize_t>(id.size()) ||
      ftruncate(fd_, static_cast<off_t>(id.size())) != 0)
    return STATUS_ERROR(kFailed, "Mark the job lock failed: %s", strerror(errno));
  return SVNStatus();
}

void SVNJobLock::release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}
