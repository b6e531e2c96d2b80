// task_util.cpp: what the tasks share.

#include "ui/admin/task_util.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

const char kCancelledReason[] = "The job was cancelled.";

SVNStatus Cancelled(SVNStatus status) {
  if (gCancelled) status.Reason(kCancelledReason);
  return status;
}

SVNStatus UnlessCancelled(SVNStatus status) {
  if (status.ok() && gCancelled) return STATUS_ERROR(kFailed, "Cancelled.").Reason(kCancelledReason);
  return Cancelled(std::move(status));
}

SVNStatus SyncFileSystem(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool synced = fd >= 0 && syncfs(fd) == 0;
  int err = errno;
  if (fd >= 0) close(fd);
  if (!synced) return STATUS_ERROR(kFailed, "Sync %s failed: %s", dir.c_str(), strerror(err));
  return SVNStatus();
}
