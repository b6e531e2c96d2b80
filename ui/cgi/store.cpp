// store.cpp: names, existence, the walk of the root, and removal.

#include "store.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "jobs.h"
#include "nlibc.h"
#include "paths.h"
#include "work_dir.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kConfDir[] = "/conf";
const char kSettingsFile[] = "/conf/svnserve.conf";

}  // namespace

bool IsValidName(const std::string& name) {
  if (name.empty() || name == "." || name.find("..") != std::string::npos ||
      name.find('/') != std::string::npos)
    return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string RepoPath(const std::string& name) {
  // Room for the settings file's name too (RepoExists adds it).
  std::string path;
  path.reserve(sizeof SVN_REPO_ROOT + name.size() + sizeof kSettingsFile);
  path.append(SVN_REPO_ROOT, sizeof SVN_REPO_ROOT - 1).append(1, '/').append(name);
  return path;
}

bool RepoExists(const std::string& name, bool isDirectory) {
  if (name.empty()) {
    LOG_LINE("Argument error.");
    return false;
  }
  if (!IsValidName(name)) return false;
  // One string for both looks: the listing asks this of every entry.
  std::string file = RepoPath(name);
  struct stat st;
  if (!isDirectory && (stat(file.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) return false;
  file += kSettingsFile;
  return NLIBCFileExist(file.c_str()) != 0;
}

void WalkRoot(const std::string& part, const std::function<void(std::string name)>& visit) {
  DIR* dir = opendir(SVN_REPO_ROOT);
  if (dir == nullptr) return;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    // The tests have no side effects, so the cheapest go first: the
    // search text, then the existence test, which needs no look at the
    // entry when the directory itself says it is a directory.
    if (!part.empty() && strstr(name, part.c_str()) == nullptr) continue;
    if (!RepoExists(name, entry->d_type == DT_DIR)) continue;
    visit(name);
  }
  closedir(dir);
}

SVNStatus RemoveRepo(const std::string& name) {
  if (!IsValidName(name)) return STATUS_ERROR(kFailed, "Path have illegal symbol.");
  SVNJobLock jobs;  // no job runs on it (busy), or starts, while it goes
  SVNStatus status = jobs.acquire(name, false);
  if (!status.ok()) return status;
  SVNWorkItem trash;
  status = trash.create("del");
  if (!status.ok()) return status;
  // An edit holds its conf directory's lock from reading to writing: wait
  // for those under way, so that none writes after the move (into the
  // removed repository, or one made under the name since).
  const std::string moved = trash.path() + "/" + name;
  int confFd = open((RepoPath(name) + kConfDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (confFd >= 0 && flock(confFd, LOCK_EX) != 0) {
    status = STATUS_ERROR(kFailed, "Lock %s failed: %s", name.c_str(), strerror(errno));
    close(confFd);
    rmdir(trash.path().c_str());
    return status;
  }
  status = MoveNoReplace(RepoPath(name), moved);
  if (confFd >= 0) close(confFd);
  if (!status.ok()) {
    rmdir(trash.path().c_str());
    return STATUS_WITH(status, "Move %s out of the root failed.", name.c_str());
  }
  // Gone from the root: whatever follows, the removal has happened.  The
  // working directory may be under the root: without its format file the
  // repository can no longer be opened there while it is deleted.
  struct stat st;
  if (lstat(moved.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) unlink((moved + "/format").c_str());
  SyncDir(SVN_REPO_ROOT).Log();
  SVNStatus deleted = DeleteTree(trash.path());
  if (!deleted.ok()) {
    STATUS_WITH(deleted, "Remains of %s are kept in %s for a later try.", name.c_str(),
                trash.path().c_str());
    deleted.Log();
  }
  return SVNStatus();
}
