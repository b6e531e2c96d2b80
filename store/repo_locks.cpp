// repo_locks.cpp: a repository's locks, through Subversion's library.

#include "store/repo_locks.h"

#include <string.h>
#include <syslog.h>

#include <algorithm>
#include <map>
#include <set>

#include "store/fs_reader.h"

#define LOG_MODULE "svn_fs"

namespace {

// The answer's bound, which the request reads whole: a page of 500 locks
// with the longest comments.
constexpr size_t kMaxAnswer = 32u << 20;

struct Lock {
  std::string path, owner, comment;
  bool commented = false;
  apr_time_t created = 0, expires = 0;
};

svn_error_t* Collect(void* baton, svn_lock_t* lock, apr_pool_t*) {
  Lock l;
  l.path = lock->path;
  l.owner = lock->owner != nullptr ? lock->owner : "";
  l.commented = lock->comment != nullptr;
  if (l.commented) l.comment.assign(lock->comment, strnlen(lock->comment, kMaxLockComment + 1));
  l.created = lock->creation_date;
  l.expires = lock->expiration_date;
  static_cast<std::vector<Lock>*>(baton)->push_back(std::move(l));
  return nullptr;
}

Json::Value LockJson(const Lock& l) {
  Json::Value item;
  item["path"] = l.path;
  item["owner"] = l.owner;
  item["comment"] = l.commented ? Json::Value(l.comment) : Json::Value();
  if (l.comment.size() > kMaxLockComment) {
    size_t size = kMaxLockComment;
    while (size > 0 && (static_cast<unsigned char>(l.comment[size]) & 0xC0) == 0x80) --size;
    item["comment"] = l.comment.substr(0, size);
    item["comment_cut"] = true;
  }
  item["created"] = IsoSeconds(l.created);
  item["expires"] = l.expires != 0 ? Json::Value(IsoSeconds(l.expires)) : Json::Value();
  return item;
}

// The work of a listing: {"total": N}, then the page's locks.
bool ListWork(SVNFsWork& w, const SVNFsPath& path, long start, long limit) {
  std::vector<Lock> locks;
  if (!w.ok(w.lib->getLocks(w.fs, path.c_str(), svn_depth_infinity, Collect, &locks, w.pool),
            "Read the locks"))
    return false;
  std::sort(locks.begin(), locks.end(),
            [](const Lock& a, const Lock& b) { return a.path < b.path; });
  Json::Value head;
  head["total"] = Json::UInt64(locks.size());
  w.line(head);
  for (size_t i = static_cast<size_t>(start);
       i < locks.size() && i - static_cast<size_t>(start) < static_cast<size_t>(limit); ++i)
    w.line(LockJson(locks[i]));
  return true;
}

// The work of reading who holds the locks of `paths`: {"path", "owner"}
// for each that is locked.
bool OwnersWork(SVNFsWork& w, const std::vector<SVNFsPath>& paths) {
  for (const SVNFsPath& path : paths) {
    svn_lock_t* lock = nullptr;
    if (!w.ok(w.lib->getLock(&lock, w.fs, path.c_str(), w.pool), "Read a lock")) return false;
    if (lock == nullptr) continue;
    Json::Value line;
    line["path"] = path.str();
    line["owner"] = lock->owner != nullptr ? lock->owner : "";
    w.line(line);
  }
  return true;
}

// The work of a removal: the locks of `paths` broken, then the owners of
// those removed, as OwnersWork gives them.
bool RemoveWork(SVNFsWork& w, const std::vector<SVNFsPath>& paths) {
  svn_fs_access_t* access = nullptr;
  if (!w.ok(w.lib->createAccess(&access, "administrator", w.pool), "Make an access context") ||
      !w.ok(w.lib->setAccess(w.fs, access), "Set the access context"))
    return false;
  SVNFsWork owners = w;
  if (!OwnersWork(owners, paths)) return false;
  apr_hash_t* targets = w.lib->hashMake(w.pool);
  for (const SVNFsPath& path : paths)  // broken: no token
    w.lib->hashSet(targets, path.c_str(), APR_HASH_KEY_STRING, "");
  if (!w.ok(w.lib->unlockMany(w.fs, targets, TRUE, nullptr, nullptr, w.pool, w.pool),
            "Remove the locks"))
    return false;
  w.answer += owners.answer;
  return true;
}

// Who holds the locks of `paths` of the repository at `repo`.
SVNStatus ReadOwners(const std::string& repo, const std::vector<SVNFsPath>& paths,
                     std::map<std::string, Json::Value>* owners) {
  std::vector<Json::Value> lines;
  STATUS_TRY(RunOnRepository(
      repo, kMaxAnswer, [&](SVNFsWork& w) { return OwnersWork(w, paths); }, &lines));
  owners->clear();
  for (const Json::Value& line : lines) (*owners)[line["path"].asString()] = line["owner"];
  return SVNStatus();
}

}  // namespace

SVNStatus ListLocks(const std::string& repo, const SVNFsPath& path, long start, long limit,
                    Json::Value* page) {
  std::vector<Json::Value> lines;
  STATUS_TRY_WITH(RunOnRepository(
                      repo, kMaxAnswer,
                      [&](SVNFsWork& w) { return ListWork(w, path, start, limit); }, &lines),
                  "Read the locks of %s failed.", repo.c_str());
  if (lines.empty()) return STATUS_ERROR(kFailed, "The locks of %s came without a count.", repo.c_str());
  Json::Value& out = *page = Json::Value(Json::objectValue);
  out["total"] = lines[0]["total"];
  Json::Value& locks = out["locks"] = Json::Value(Json::arrayValue);
  for (size_t i = 1; i < lines.size(); ++i) locks.append(std::move(lines[i]));
  return SVNStatus();
}

SVNStatus RemoveLocks(const std::string& repo, const std::vector<SVNFsPath>& paths,
                      std::vector<SVNRemovedLock>* removed, std::vector<std::string>* unlocked) {
  removed->clear();
  unlocked->clear();
  // Who holds them first: what a removal stopped half-way took is known.
  std::map<std::string, Json::Value> before, after;
  STATUS_TRY_WITH(ReadOwners(repo, paths, &before), "Read the locks of %s failed.", repo.c_str());
  std::vector<SVNFsPath> locked;
  for (const SVNFsPath& path : paths) {
    if (before.count(path.str()))
      locked.push_back(path);
    else
      unlocked->push_back(path.str());
  }
  if (locked.empty()) return SVNStatus();
  std::vector<Json::Value> lines;
  SVNStatus status = RunOnRepository(
      repo, kMaxAnswer, [&](SVNFsWork& w) { return RemoveWork(w, locked); }, &lines);
  if (status.ok()) {
    std::set<std::string> went;
    for (const Json::Value& line : lines) {
      removed->push_back({line["path"].asString(), line["owner"]});
      went.insert(line["path"].asString());
    }
    for (const SVNFsPath& path : locked)  // unlocked meanwhile by their owners
      if (!went.count(path.str())) unlocked->push_back(path.str());
    return status;
  }
  STATUS_WITH(status, "Remove the locks of %s failed.", repo.c_str());
  SVNStatus read = ReadOwners(repo, locked, &after);
  if (!read.ok()) return status.Then(std::move(read));
  for (const SVNFsPath& path : locked)
    if (!after.count(path.str())) removed->push_back({path.str(), before[path.str()]});
  return status;
}
