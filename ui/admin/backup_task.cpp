// backup_task.cpp: backing a repository up: a consistent copy of it, or its
// history, with the files its settings use.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "store/backups.h"
#include "store/facts.h"
#include "store/hooks.h"
#include "store/private_file.h"
#include "store/root.h"
#include "store/work_dir.h"
#include "ui/admin/backup_file.h"
#include "ui/admin/sha256.h"
#include "ui/admin/task_util.h"
#include "ui/admin/tasks.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

#ifndef SVN_ADMIN_VERSION
#define SVN_ADMIN_VERSION "1.0"
#endif

namespace {

// Visits what lies below `root` (links not followed), each directory
// before what it holds, entries in byte order: `visit` gets the path
// below `root` and what lstat says.
SVNStatus Walk(const std::string& root,
               const std::function<SVNStatus(const std::string&, const struct stat&)>& visit) {
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    const std::string rel = pending.back();
    pending.pop_back();
    const std::string dir = rel.empty() ? root : root + "/" + rel;
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return STATUS_ERROR(kFailed, "Read %s failed: %s", dir.c_str(), strerror(errno));
    while (struct dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    std::vector<std::string> below;
    for (const std::string& n : names) {
      const std::string path = rel.empty() ? n : rel + "/" + n;
      struct stat st;
      if (lstat((root + "/" + path).c_str(), &st) != 0)
        return STATUS_ERROR(kFailed, "Stat %s failed: %s", path.c_str(), strerror(errno));
      STATUS_TRY(visit(path, st));
      if (S_ISDIR(st.st_mode)) below.push_back(path);
    }
    pending.insert(pending.end(), below.rbegin(), below.rend());
  }
  return SVNStatus();
}

// The parts of a backup that are known before its data.
struct Plan {
  SVNManifest manifest;
  std::vector<SVNSetupText> setup;
  std::vector<std::pair<std::string, std::string>> conf;  // the dump kind's
  std::string path;  // the repository's directory
};

// Writes the backup of kind "hotcopy": the copy `svnadmin hotcopy`
// makes in the working directory, archived.
SVNStatus WriteCopy(int fd, Plan* plan, time_t now, const SVNProgress& progress) {
  SVNWorkItem item;
  STATUS_TRY(item.create("backup"));
  const std::string copy = item.path() + "/copy";
  const long long size = plan->manifest.size, total = size > 0 ? 2 * size : -1;
  SVNToolStreams streams;
  streams.outputLine = [](const std::string&) {};
  streams.io = [&](long long, long long written) {
    if (progress && size > 0) progress(std::min(written, size), total);
  };
  // The copy gets the modes a repository has (svn-admin's own files are
  // private): its item is the service user's alone meanwhile.
  const mode_t was = umask(S_IWGRP | S_IRWXO);
  SVNStatus status = Cancelled(RunTool({"hotcopy", plan->path, copy}, streams));
  umask(was);
  // Links are not copied: the manifest says where they led.
  if (status.ok())
    status = Walk(copy, [&](const std::string& rel, const struct stat& st) {
      char target[4096];
      ssize_t n = S_ISLNK(st.st_mode) ? readlink((copy + "/" + rel).c_str(), target, sizeof target) : -1;
      if (n > 0) plan->manifest.links.emplace_back(rel, std::string(target, static_cast<size_t>(n)));
      return SVNStatus();
    });
  SVNBackupWriter writer(fd);
  long long archived = 0;
  if (status.ok()) status = writer.addFile("manifest.json", plan->manifest.json(), now);
  if (status.ok()) status = writer.addDirectory("repository", 0750, now);
  if (status.ok())
    status = Walk(copy, [&](const std::string& rel, const struct stat& st) {
      const std::string entry = "repository/" + rel;
      if (gCancelled) return UnlessCancelled(SVNStatus());
      if (S_ISDIR(st.st_mode)) return writer.addDirectory(entry, st.st_mode, st.st_mtime);
      if (!S_ISREG(st.st_mode)) return SVNStatus();  // a link: in the manifest
      int file = open((copy + "/" + rel).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (file < 0) return STATUS_ERROR(kFailed, "Open %s failed: %s", rel.c_str(), strerror(errno));
      SVNStatus added = writer.addFileFrom(entry, file, st.st_size, st.st_mode, st.st_mtime);
      close(file);
      archived += st.st_size;
      if (progress && size > 0) progress(size + std::min(archived, size), total);
      return added;
    });
  for (const SVNSetupText& s : plan->setup)
    if (status.ok()) status = writer.addFile(s.file.entry, s.text, now);
  if (status.ok()) status = writer.finish(now);
  return status.Then(item.discard());
}

// Writes the backup of kind "dump": the conf files, then the history as
// `svnadmin dump --deltas` streams it.
SVNStatus WriteDump(int fd, const Plan& plan, time_t now, const SVNProgress& progress) {
  const long long size = plan.manifest.size;
  SVNBackupWriter writer(fd);
  STATUS_TRY(writer.addFile("manifest.json", plan.manifest.json(), now));
  for (const auto& c : plan.conf) STATUS_TRY(writer.addFile("conf/" + c.first, c.second, now));
  for (const SVNSetupText& s : plan.setup) STATUS_TRY(writer.addFile(s.file.entry, s.text, now));
  STATUS_TRY(writer.beginStream("repository.svndump", now));
  SVNStatus status;
  SVNToolStreams streams;
  streams.output = [&](const char* data, size_t n) {
    status = writer.streamData(data, n);
    return status.ok();
  };
  streams.io = [&](long long read, long long) {
    if (progress && size > 0) progress(std::min(read, size), size);
  };
  SVNStatus ran = RunTool(
      {"dump", "--deltas", "-q", "-r", "0:" + std::to_string(plan.manifest.rev), plan.path},
      streams);
  STATUS_TRY(status);
  STATUS_TRY(Cancelled(ran));
  STATUS_TRY(writer.endStream());
  return writer.finish(now);
}

// What is to go into a backup of `name` of `kind`.
SVNStatus MakePlan(const SVNName& name, const std::string& kind, Plan* plan) {
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kSettings, &repo);
  if (!status.ok()) return status.Reason("The repository's settings cannot be read.");
  plan->path = repo->getPath();
  SVNHistory history;
  if (!(status = ReadHistory(plan->path, &history)).ok())
    return status.Reason("The repository's history cannot be read.");
  SVNManifest& m = plan->manifest;
  m.kind = kind;
  m.name = name;
  m.uuid = history.uuid;
  m.rev = history.rev;
  m.version = "svn-admin " SVN_ADMIN_VERSION;
  long long size = 0;
  if (ReadSize(plan->path, &size).ok()) m.size = size;
  SVNHookState states[kHookPresetCount];
  ReadHooks(plan->path, states);
  for (int p = 0; p < kHookPresetCount; ++p)
    if (states[p].kind == SVNHookState::kOn) m.presets.push_back(kHookPresetKeys[p]);
  m.hooks = HandMadeHooks(plan->path);
  STATUS_TRY(CollectSetup(*repo, &plan->setup, kind == "dump" ? &plan->conf : nullptr));
  for (const SVNSetupText& s : plan->setup) m.setup.push_back(s.file);
  return SVNStatus();
}

// A temporary file in `dir` for a backup (*temp, *fd: locked while it is
// written, so that it is no leftover), and the name no backup of `name`
// has that it is to take (*final): two backups of one revision within a
// second wait for the next.
SVNStatus NewBackupFile(const std::string& dir, const SVNName& name, long rev, time_t* now,
                        std::string* final, std::string* temp, int* fd) {
  for (int i = 0; i < 3; ++i, sleep(1), *now = time(nullptr)) {
    *final = BackupFileName(name, *now, rev);
    if (access((dir + "/" + *final).c_str(), F_OK) != 0) break;
  }
  *temp = dir + "/.part-XXXXXX";
  *fd = mkostemp(&(*temp)[0], O_CLOEXEC);
  if (*fd < 0)
    return STATUS_ERROR(kFailed, "Make a file in %s failed: %s", dir.c_str(), strerror(errno))
        .Reason("No file can be made in the backup directory.");
  flock(*fd, LOCK_EX);
  return SVNStatus();
}

// The UUID of the repository the backup `b` holds: what is known of it,
// or its manifest.
std::string UuidOf(const SVNBackup& b) {
  if (!b.uuid.empty()) return b.uuid;
  int fd = open(b.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  SVNBackupReader reader;
  std::string uuid;
  if (reader.open(fd).ok() && !reader.plain()) uuid = reader.manifest().uuid;
  close(fd);
  return uuid;
}

// Removes the backups of `name` past its newest `keep`, never `made`, the
// one just made, which counts first.  Only this repository's own backups
// count (`uuid`): those of a repository removed before it took the name
// are not its to remove.
void KeepNewest(const SVNName& name, const std::string& uuid, int keep, const std::string& made) {
  std::vector<SVNBackup> all;
  ListBackups(name, &all).Log();
  size_t own = 1;
  for (const SVNBackup& b : all)
    if (b.file != made && UuidOf(b) == uuid && ++own > static_cast<size_t>(keep))
      RemoveBackup(b).Log();
}

}  // namespace

void KeepNewestBackups(const SVNName& name, int keep, const std::string& made) {
  SVNBackup backup;
  SVNStatus status = FindBackup(name, made, &backup);
  if (status.ok()) KeepNewest(name, UuidOf(backup), keep, made);
  STATUS_WITH(status, "The backups of %s past the newest %d stay.", name.c_str(), keep).Log();
}

SVNStatus BackupRepository(const SVNName& name, const SVNBackupOptions& options,
                           const SVNProgress& progress, SVNBackupResult* result) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  Plan plan;
  STATUS_TRY(MakePlan(name, options.kind, &plan));
  std::string dir, final, temp;
  STATUS_TRY(BackupDirOf(name, true, &dir));
  RemoveStaleTemporaries(dir);
  time_t now = time(nullptr);
  int fd = -1;
  STATUS_TRY(NewBackupFile(dir, name, plan.manifest.rev, &now, &final, &temp, &fd));
  plan.manifest.time = IsoTime(now);
  plan.manifest.seq = NextBackupSeq(dir);
  SVNStatus status = options.kind == "hotcopy" ? WriteCopy(fd, &plan, now, progress)
                                               : WriteDump(fd, plan, now, progress);
  if (status.ok() && fsync(fd) != 0)
    status = STATUS_ERROR(kFailed, "Sync %s failed: %s", temp.c_str(), strerror(errno));
  status = UnlessCancelled(std::move(status));
  SVNBackup made;
  made.name = name;
  made.file = final;
  made.path = dir + "/" + final;
  made.kind = options.kind;
  made.rev = plan.manifest.rev;
  made.time = plan.manifest.time;
  made.seq = plan.manifest.seq;
  made.uuid = plan.manifest.uuid;
  struct stat st;
  if (status.ok() && fstat(fd, &st) == 0) made.size = st.st_size;
  if (status.ok()) made.sha256 = FileSha256(temp);
  // What the listing and retention know of it comes first: a backup
  // under its final name always has it.
  if (status.ok()) status = WriteBackupInfo(made);
  if (status.ok() && !(status = MoveNoReplace(temp, made.path)).ok()) {
    STATUS_WITH(status, "Name the backup of %s failed.", name.c_str());
    unlink(BackupInfoPath(made.path).c_str());
  }
  if (!status.ok()) unlink(temp.c_str());
  close(fd);
  if (!status.ok()) {
    if (status.reason().empty() && status.Mentions(strerror(ENOSPC)))
      status.Reason("The backup could not be written: there is not enough free disk space.");
    if (status.reason().empty()) status.Reason("The backup could not be written.");
    return status;
  }
  SyncDir(dir).Log();
  *result = {final, made.path, made.rev, made.size, made.sha256};
  const long long total = plan.manifest.size * (options.kind == "hotcopy" ? 2 : 1);
  if (progress && total > 0) progress(total, total);
  if (options.keep > 0) KeepNewest(name, plan.manifest.uuid, options.keep, final);
  return SVNStatus();
}
