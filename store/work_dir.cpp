// work_dir.cpp: the working directory's items, and the few file system
// steps that move repositories in and out of the root.

#include "store/work_dir.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "nlibc.h"
#include "store/package.h"

#define LOG_MODULE "svn_repo"

namespace {

// Where repositories are made and deleted (see the header); empty when
// neither place can be used.
std::string WorkDir() {
  struct stat root, st;
  if (stat(Package().repoRoot.c_str(), &root) != 0) return std::string();
  for (const std::string& dir : {Package().workDir, Package().hiddenWorkDir}) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) continue;
    if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == root.st_dev &&
        access(dir.c_str(), W_OK | X_OK) == 0)
      return dir;
  }
  return std::string();
}

// Deletes what ended requests left in the working directory: items that
// no request holds and that have not changed for a minute (a younger one
// may belong to a request that has not locked it yet).
void RemoveLeftovers(const std::string& work) {
  std::vector<std::string> items;
  if (DIR* dir = opendir(work.c_str())) {
    while (struct dirent* e = readdir(dir))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
        items.push_back(work + "/" + e->d_name);
    closedir(dir);
  }
  for (const std::string& item : items) {
    int fd = open(item.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 &&
        time(nullptr) - st.st_mtime > 60) {
      SVNStatus deleted = DeleteTree(item);
      if (!deleted.ok()) {
        STATUS_WITH(deleted, "Remains in %s are kept for a later try.", item.c_str());
        deleted.Log();
      }
    }
    close(fd);
  }
}

}  // namespace

SVNWorkItem::~SVNWorkItem() {
  if (fd_ >= 0) close(fd_);
}

SVNStatus SVNWorkItem::create(const char* kind) {
  const std::string work = WorkDir();
  if (work.empty())
    return STATUS_ERROR(kFailed, "No working directory beside or under %s.", Package().repoRoot.c_str());
  RemoveLeftovers(work);
  std::string tmpl = work + "/" + kind + "-XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr)
    return STATUS_ERROR(kFailed, "Make a directory in %s failed: %s", work.c_str(),
                        strerror(errno));
  path_ = tmpl;
  fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0 || flock(fd_, LOCK_EX) != 0) {
    SVNStatus status = STATUS_ERROR(kFailed, "Lock %s failed: %s", path_.c_str(), strerror(errno));
    rmdir(path_.c_str());
    return status;
  }
  return SVNStatus();
}

SVNStatus SVNWorkItem::discard() {
  if (path_.empty()) return SVNStatus();
  return DeleteTree(path_);
}

SVNStatus MoveNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return SVNStatus();
  int err = errno;
  return SVNStatus::Error(err == EEXIST ? SVNStatus::kExists : SVNStatus::kFailed, LOG_MODULE,
                          __LINE__, Format("Move %s to %s failed: %s", from.c_str(), to.c_str(),
                                           strerror(err)));
}

SVNStatus SyncDir(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  int err = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) return STATUS_ERROR(kFailed, "Sync directory %s failed: %s", dir.c_str(), strerror(err));
  return SVNStatus();
}

SVNStatus DeleteTree(const std::string& dir) {
  if (NLIBCExec("/bin/rm", "-rf", dir.c_str(), nullptr, nullptr) < 0)
    return STATUS_ERROR(kFailed, "Executed command [/bin/rm -rf %s] failed.[0x%04X]", dir.c_str(),
                        NLIBCErrGet());
  return SVNStatus();
}
