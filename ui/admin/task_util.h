// task_util.h: what the tasks of svn-admin share: how a task asked to stop
// says so, and making what a task wrote durable.
#ifndef SVN_ADMIN_TASK_UTIL_H_
#define SVN_ADMIN_TASK_UTIL_H_

#include <string>

#include "store/status.h"

extern const char kCancelledReason[];

// A failure of a task asked to stop says so.
SVNStatus Cancelled(SVNStatus status);

// Fails (cancelled) when the task was asked to stop, else `status`.
SVNStatus UnlessCancelled(SVNStatus status);

// Syncs the file system `dir` lies on: everything written there is on
// disk.
SVNStatus SyncFileSystem(const std::string& dir);

#endif  // SVN_ADMIN_TASK_UTIL_H_
