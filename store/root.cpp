// root.cpp: names, existence, the walk of the root, and removal.

#include "store/root.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "nlibc.h"
#include "store/backup_state.h"
#include "store/job_lock.h"
#include "store/locks.h"
#include "store/package.h"
#include "store/work_dir.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kSettingsFile[] = "/conf/svnserve.conf";

}  // namespace

std::string RepoPath(const std::string& name) {
  // Room for the settings file's name too (RepoExists adds it).
  std::string path;
  const std::string& root = Package().repoRoot;
  path.reserve(root.size() + 1 + name.size() + sizeof kSettingsFile);
  path.append(root).append(1, '/').append(name);
  return path;
}

namespace {

// RepoExists, with what stat says of the settings file in *settings: of
// the repository at `path`, relative to the directory `at` (the root, in
// a walk: no lookup of the root's own path per entry) or AT_FDCWD.
bool Exists(int at, std::string path, const std::string& name, bool isDirectory,
            struct stat* settings) {
  if (!IsValidName(name)) return false;
  struct stat st;
  if (!isDirectory && (fstatat(at, path.c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode)))
    return false;
  path += kSettingsFile;
  return fstatat(at, path.c_str(), settings, 0) == 0;
}

}  // namespace

bool RepoExists(const std::string& name, bool isDirectory) {
  if (name.empty()) {
    LOG_LINE("Argument error.");
    return false;
  }
  struct stat settings;
  return Exists(AT_FDCWD, RepoPath(name), name, isDirectory, &settings);
}

void WalkRoot(const std::string& part,
              const std::function<void(std::string name, const struct stat& settings)>& visit) {
  DIR* dir = opendir(Package().repoRoot.c_str());
  if (dir == nullptr) return;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    // The tests have no side effects, so the cheapest go first: the
    // search text, then the existence test, which needs no look at the
    // entry when the directory itself says it is a directory.
    if (!part.empty() && strstr(name, part.c_str()) == nullptr) continue;
    struct stat settings;
    if (!Exists(dirfd(dir), name, name, entry->d_type == DT_DIR, &settings)) continue;
    visit(name, settings);
  }
  closedir(dir);
}

namespace {

// Whether `path` is a directory (not a link to one) with no entries.
bool EmptyDirectory(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  bool empty = true;
  while (struct dirent* e = readdir(dir))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) empty = false;
  closedir(dir);
  return empty;
}

SVNStatus Taken(const std::string& name) {
  return STATUS_ERROR(kExists, "Something that is not a repository holds the name %s.",
                      name.c_str())
      .Reason("Something that is not a repository (a file, a link, or a directory with files "
              "in it) holds this name under the repository root; it is left as it is.");
}

}  // namespace

SVNStatus NameFree(const SVNName& name) {
  struct stat st;
  const std::string path = RepoPath(name);
  if (lstat(path.c_str(), &st) != 0 || EmptyDirectory(path)) return SVNStatus();
  if (RepoExists(name)) return STATUS_ERROR(kExists, "Repository %s is exist", name.c_str());
  return Taken(name);
}

SVNStatus MoveIntoRoot(const std::string& from, const SVNName& name) {
  const std::string path = RepoPath(name);
  SVNStatus status = MoveNoReplace(from, path);
  if (status.code() != SVNStatus::kExists || !EmptyDirectory(path)) return status;
  // A directory replaces only a directory that is empty, at the moment of
  // the rename: whatever came since stays.
  if (rename(from.c_str(), path.c_str()) == 0) return SVNStatus();
  return RepoExists(name) ? status : Taken(name);
}

SVNStatus NameUnused(const SVNName& name) {
  struct stat st;
  if (lstat(RepoPath(name).c_str(), &st) != 0) return SVNStatus();
  if (RepoExists(name)) return STATUS_ERROR(kExists, "Repository %s is exist", name.c_str());
  if (!EmptyDirectory(RepoPath(name))) return Taken(name);
  return STATUS_ERROR(kExists, "An empty directory holds the name %s.", name.c_str())
      .Reason("An empty directory holds this name under the repository root; a rename never "
              "replaces it.");
}

SVNStatus RenameInRoot(const SVNName& from, const SVNName& to) {
  SVNStatus status = MoveNoReplace(RepoPath(from), RepoPath(to));
  if (status.code() == SVNStatus::kExists) {
    SVNStatus taken = NameUnused(to);
    return taken.ok() ? status : STATUS_WITH(taken, "Rename %s failed.", from.c_str());
  }
  if (!status.ok()) {
    struct stat st;
    if (lstat(RepoPath(from).c_str(), &st) != 0 && errno == ENOENT)
      status.Recode(SVNStatus::kNotFound);
    return status;
  }
  SyncDir(Package().repoRoot).Log();
  return SVNStatus();
}

SVNStatus WaitForMoves(const SVNName& name) {
  SVNLocks moves;
  SVNStatus status = moves.take({RepoPath(name) + kSettingsFile});
  if (status.ok() && !RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  return status;
}

SVNStatus RemoveRepo(const SVNName& name) {
  // Every update of the repository holds the lock of its settings file
  // from reading to writing: wait for those under way (a while: kBusy
  // after that), so that none writes after the move (into the removed
  // repository, or one made under the name since).
  SVNLocks locks;
  SVNStatus status = locks.take({RepoPath(name) + kSettingsFile});
  if (!status.ok()) return STATUS_WITH(status, "Wait for the updates of %s failed.", name.c_str());
  // No job runs on it (busy), or starts, while it goes: a new one waits
  // for the lock above (see WaitForMoves).
  SVNJobLock jobs;
  STATUS_TRY(jobs.acquire(name, false));
  SVNWorkItem trash;
  STATUS_TRY(trash.create("del"));
  const std::string moved = trash.path() + "/" + name.str();
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
  SyncDir(Package().repoRoot).Log();
  ForgetScheduled(name);
  SVNStatus deleted = DeleteTree(trash.path());
  if (!deleted.ok()) {
    STATUS_WITH(deleted, "Remains of %s are kept in %s for a later try.", name.c_str(),
                trash.path().c_str());
    deleted.Log();
  }
  return SVNStatus();
}
