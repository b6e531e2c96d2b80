// store.cpp: names, existence, the walk of the root, and removal.

#include "store.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "locks.h"
#include "nlibc.h"
#include "paths.h"
#include "work_dir.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kSettingsFile[] = "/conf/svnserve.conf";

}  // namespace

bool IsValidName(const std::string& name) {
  if (name.empty() || name == "." || name.find("..") != std::string::npos ||
      name.find('/') != std::string::npos)
    return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  // Requests and answers are UTF-8: another name could neither be sent
  // nor shown as it is (shown with U+FFFD it would pass for another).
  return NLIBCStrValidUtf8(name.data(), name.size()) != 0;
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
  // Every update of the repository holds the lock of its settings file
  // from reading to writing: wait for those under way (a while: kBusy
  // after that), so that none writes after the move (into the removed
  // repository, or one made under the name since).
  SVNLocks locks;
  SVNStatus status = locks.take({RepoPath(name) + kSettingsFile});
  if (!status.ok()) return STATUS_WITH(status, "Wait for the updates of %s failed.", name.c_str());
  SVNWorkItem trash;
  if (!(status = trash.create("del")).ok()) return status;
  const std::string moved = trash.path() + "/" + name;
  status = MoveNoReplace(RepoPath(name), moved);
  locks.release();
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
