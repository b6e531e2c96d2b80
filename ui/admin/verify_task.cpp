// verify_task.cpp: verifying a repository with Subversion's own check.

#include <syslog.h>
#include <time.h>

#include <algorithm>

#include "store/backups.h"
#include "store/facts.h"
#include "store/root.h"
#include "ui/admin/task_util.h"
#include "ui/admin/tasks.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

SVNStatus VerifyRepository(const SVNName& name, const SVNProgress& progress, long* rev) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  const std::string path = RepoPath(name);
  const long youngest = ReadRevision(path);
  long long size = 0;
  if (!ReadSize(path, &size).ok()) size = 0;
  SVNToolStreams streams;
  streams.outputLine = [](const std::string&) {};
  // svnadmin verify reads the repository about once: its reads are the
  // work done.
  streams.io = [&](long long read, long long) {
    if (progress && size > 0) progress(std::min(read, size - 1), size);
  };
  SVNStatus status = RunTool({"verify", "-q", path}, streams);
  if (gCancelled) return Cancelled(status.ok() ? STATUS_ERROR(kFailed, "Cancelled.") : status);
  SVNTested verified;
  verified.time = IsoTime(time(nullptr));
  verified.ok = status.ok();
  verified.rev = youngest;
  if (!status.ok()) {
    const std::string said = status.reason();
    status.Reason(said.empty() ? "Verifying found problems." : "Verifying found problems: " + said);
    verified.error = status.reason();
  }
  SVNStatus recorded = WriteVerified(path, verified);
  if (!status.ok()) return status;
  if (!recorded.ok()) return recorded.Reason("The outcome could not be recorded.");
  *rev = youngest;
  if (progress && size > 0) progress(size, size);
  return SVNStatus();
}
