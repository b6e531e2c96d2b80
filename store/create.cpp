// create.cpp: making repositories in the working directory and moving
// them in.

#include "store/create.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>

#include "nlibc.h"
#include "store/locks.h"
#include "store/package.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/standard_layout.h"
#include "store/work_dir.h"

#define LOG_MODULE "svn_repo"

namespace {

// The process's umask set to `mask` for the object's lifetime.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : was_(umask(mask)) {}
  ~ScopedUmask() { umask(was_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t was_;
};

// Sets the new repository at `dir` up as `what` says and writes its files.
SVNStatus Configure(const SVNNewRepo& what, const std::string& dir) {
  std::unique_ptr<SVNRepo> repo;
  STATUS_TRY(SVNRepo::openNew(what, dir, &repo));
  // The accounts are logins of the table of the rules the tool made (none
  // in force, unless the package's tool makes some), which must be one
  // that can be shown.
  std::unique_ptr<SVNRules> rules;
  if (repo->setting(kAuthzDb) && SVNRules::Open(*repo, &rules).ok())
    STATUS_TRY_WITH(CheckAccessChange(*repo, *rules, 0), "Set accounts failed");
  return repo->saveNew();
}

}  // namespace

namespace {

// Builds the repository `name` with `build` in a new item of the working
// directory, then `place`s it (given the path it was built at); on any
// failure the item is deleted.  What `place` leaves in the item is kept
// for the caller when it gives `kept`.
SVNStatus BuildAndPlace(const SVNName& name, const char* kind, const SVNBuilder& build,
                        const std::function<SVNStatus(const std::string&)>& place,
                        std::string* kept = nullptr) {
  ScopedUmask privateToGroup(S_IWGRP | S_IRWXO);
  SVNWorkItem item;
  STATUS_TRY(item.create(kind));
  const std::string built = item.path() + "/" + name.str();
  SVNStatus status = build(built);
  if (status.ok()) status = place(built);
  if (!status.ok()) return status.Then(item.discard());
  SyncDir(Package().repoRoot).Log();
  // Empty, or holding the repository replaced.
  if (rmdir(item.path().c_str()) == 0) return SVNStatus();
  if (kept) *kept = item.path();
  else item.discard().Log();
  return SVNStatus();
}

}  // namespace

SVNStatus MakeRepository(const SVNName& name, const char* kind, const SVNBuilder& build) {
  STATUS_TRY(NameFree(name));
  return BuildAndPlace(name, kind, build, [&](const std::string& built) {
    SVNStatus status = MoveIntoRoot(built, name);
    if (!status.ok())
      STATUS_WITH(status, "Move the new repository to %s failed.", RepoPath(name).c_str());
    return status;
  });
}

SVNStatus TryRepository(const SVNName& name, const char* kind, const SVNBuilder& build) {
  ScopedUmask privateToGroup(S_IWGRP | S_IRWXO);
  SVNWorkItem item;
  STATUS_TRY(item.create(kind));
  SVNStatus status = build(item.path() + "/" + name.str());
  return status.Then(item.discard());
}

SVNStatus ReplaceRepository(const SVNName& name, const char* kind, const SVNBuilder& build,
                            std::string* replaced) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  return BuildAndPlace(name, kind, build, [&](const std::string& built) {
    // No update writes into the old one after the exchange.
    SVNLocks locks;
    SVNStatus status = locks.take({RepoPath(name) + "/conf/svnserve.conf"});
    if (!status.ok())
      return STATUS_WITH(status, "Wait for the updates of %s failed.", name.c_str());
    if (renameat2(AT_FDCWD, built.c_str(), AT_FDCWD, RepoPath(name).c_str(), RENAME_EXCHANGE) != 0)
      return STATUS_ERROR(kFailed, "Exchange %s with its new copy failed: %s", name.c_str(),
                          strerror(errno));
    // Where the new one was built is the old one's way out: without its
    // format file it can no longer be opened there while it is deleted.
    unlink((built + "/format").c_str());
    return SVNStatus();
  }, replaced);
}

SVNStatus BuildNewRepo(const SVNNewRepo& what, const std::string& built, const SVNBuilder& fill) {
  const SVNName& name = what.name;
  if (NLIBCExec(Package().adminTool.c_str(), "create", built.c_str(), nullptr, nullptr) < 0)
    return STATUS_ERROR(kFailed, "Execute command [%s create %s] failed.[0x%04X]",
                        Package().adminTool.c_str(), built.c_str(), NLIBCErrGet());
  if (fill) STATUS_TRY_WITH(fill(built), "Fill the new repository %s failed.", name.c_str());
  if (what.standardLayout)
    STATUS_TRY_WITH(MakeStandardLayout(built, what.author), "Make the standard layout of %s failed.",
                    name.c_str());
  return Configure(what, built);
}

SVNStatus CreateRepo(const SVNNewRepo& what, const SVNBuilder& fill) {
  return MakeRepository(what.name, "add", [&](const std::string& built) {
    return BuildNewRepo(what, built, fill);
  });
}
