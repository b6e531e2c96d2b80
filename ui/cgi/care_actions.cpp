// care_actions.cpp: the actions of a repository's daily care: its history
// of commits ("log"), its locks ("locks", "lock_remove"), its uncommitted
// transactions ("txns", "txn_remove"), the disk use of them all ("usage"),
// and packing and upgrading it ("pack", "upgrade", run as jobs).

#include <limits.h>
#include <stdlib.h>
#include <syslog.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "jobs/jobs.h"
#include "store/commits.h"
#include "store/json_text.h"
#include "store/package.h"
#include "store/repo_locks.h"
#include "store/root.h"
#include "store/txns.h"
#include "store/usage.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

namespace {

// The most entries one page holds.
constexpr long kMaxPage = 1000;
// The most paths or transactions one removal names.
constexpr Json::ArrayIndex kMaxRemovals = 1000;

// "start" (default 0) and "limit" (default 50, at most kMaxPage): digits
// only.
bool ReadPage(SVNRequest& req, long* start, long* limit) {
  const std::string startText = req.In("start", "0"), limitText = req.In("limit", "50");
  if (!IsDigits(startText) || !IsDigits(limitText)) return false;
  // Digits only, so the one way out of range is up.
  *start = std::min(strtol(startText.c_str(), nullptr, 10), long(INT_MAX));
  *limit = std::min(strtol(limitText.c_str(), nullptr, 10), kMaxPage);
  return true;
}

// The "path" parameter: a path in the repository, "/" when absent.
SVNStatus ReadPath(SVNRequest& req, SVNWhere where, SVNFsPath* path) {
  const std::string text = req.In("path");
  if (text.empty()) return SVNStatus();
  std::optional<SVNFsPath> checked = SVNFsPath::Of(text);
  if (!checked)
    return STATUS_ERROR_AT(where, kFailed, "%s is not a path in a repository.",
                           Printable(text.substr(0, 256)).c_str());
  *path = *checked;
  return SVNStatus();
}

// A JSON list of texts, each taken by `take` (false: refused); duplicates
// dropped.  `what` names the parameter in the log.
SVNStatus ReadList(const std::string& text, const char* what, SVNWhere where,
                   const std::function<bool(const std::string&)>& take) {
  Json::Value list;
  unsigned line = 0, column = 0;
  if (!ParseJson(text, &list, &line, &column) || !list.isArray() || list.empty() ||
      list.size() > kMaxRemovals)
    return STATUS_ERROR_AT(where, kFailed, "%s is not a list of 1 to %u texts (line %u, column %u).",
                           what, kMaxRemovals, line, column);
  std::set<std::string> seen;
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    if (!list[i].isString() || (seen.insert(list[i].asString()).second && !take(list[i].asString())))
      return STATUS_ERROR_AT(where, kFailed, "Entry %u of %s is refused.", i, what);
  }
  return SVNStatus();
}

Json::Value Texts(const std::vector<std::string>& texts) {
  Json::Value list(Json::arrayValue);
  for (const std::string& t : texts) list.append(t);
  return list;
}

// A transaction's id, as FSFS and FSX make them ("12-3a").
bool IsTxnId(const std::string& id) {
  return !id.empty() && id.size() <= 64 &&
         id.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-") ==
             std::string::npos;
}

}  // namespace

// ---- History ----

SVNReply LogAction(SVNRequest& req) {
  SVNLogQuery query;
  if (!ReadPage(req, &query.start, &query.limit)) return REPLY_ERROR(kFailed, "Invalid argument");
  REPLY_TRY(ReadPath(req, HERE, &query.path));
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  Json::Value page;
  REPLY_TRY_WITH(ReadLog(RepoPath(name), query, &page), "The history of %s cannot be read.",
                 Printable(name).c_str());
  page["path"] = query.path.str();
  return SVNReply::Data(std::move(page));
}

// ---- Locks ----

SVNReply LocksAction(SVNRequest& req) {
  long start = 0, limit = 0;
  if (!ReadPage(req, &start, &limit)) return REPLY_ERROR(kFailed, "Invalid argument");
  SVNFsPath path;
  REPLY_TRY(ReadPath(req, HERE, &path));
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  Json::Value page;
  REPLY_TRY_WITH(ListLocks(RepoPath(name), path, start, limit, &page),
                 "The locks of %s cannot be read.", Printable(name).c_str());
  return SVNReply::Data(std::move(page));
}

SVNReply LockRemoveAction(SVNRequest& req) {
  std::vector<SVNFsPath> paths;
  REPLY_TRY(ReadList(req.In("paths"), "paths", HERE, [&](const std::string& text) {
    std::optional<SVNFsPath> path = SVNFsPath::Of(text);
    if (path) paths.push_back(*path);
    return path.has_value();
  }));
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  std::vector<SVNRemovedLock> removed;
  std::vector<std::string> unlocked;
  SVNStatus status = RemoveLocks(RepoPath(name), paths, &removed, &unlocked);
  Json::Value gone(Json::arrayValue);
  for (const SVNRemovedLock& lock : removed) {
    Json::Value item;
    item["path"] = lock.path;
    item["owner"] = lock.owner;
    gone.append(std::move(item));
  }
  Json::Value changed;
  changed["removed"] = gone;
  if (!removed.empty()) req.changes().set("locks", changed);
  REPLY_TRY_WITH(status, "Remove locks of %s failed.", Printable(name).c_str());
  Json::Value data;
  data["removed"] = std::move(gone);
  data["unlocked"] = Texts(unlocked);
  return SVNReply::Data(std::move(data));
}

// ---- Transactions ----

SVNReply TxnsAction(SVNRequest& req) {
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  std::vector<SVNTxn> txns;
  REPLY_TRY_WITH(ListTxns(RepoPath(name), &txns), "The transactions of %s cannot be read.",
                 Printable(name).c_str());
  Json::Value data(Json::arrayValue);
  for (const SVNTxn& t : txns) {
    Json::Value item;
    item["id"] = t.id;
    item["base"] = t.base >= 0 ? Json::Value(Json::Int64(t.base)) : Json::Value();
    item["author"] = t.author;
    item["created"] = t.created;
    item["age"] = t.age >= 0 ? Json::Value(Json::Int64(t.age)) : Json::Value();
    item["live"] = t.age < 0 || t.age < kLiveSeconds;
    data.append(std::move(item));
  }
  return SVNReply::Data(std::move(data));
}

namespace {

// What a removal of the transactions `asked` (every one when `all`) does
// with each: removes it, keeps it (live, and not forced), or finds it
// missing.  kBusy, with a reason, for a live one named without force.
struct TxnChoice {
  std::vector<std::string> targets, kept, missing;
};
SVNStatus ChooseTxns(const std::vector<SVNTxn>& txns, const std::vector<std::string>& asked,
                     bool all, bool force, TxnChoice* choice) {
  std::map<std::string, const SVNTxn*> there;
  for (const SVNTxn& t : txns) there[t.id] = &t;
  for (const std::string& id : asked) {
    auto t = there.find(id);
    const bool live = t != there.end() && (t->second->age < 0 || t->second->age < kLiveSeconds);
    if (t == there.end()) {
      choice->missing.push_back(id);
    } else if (live && !force && !all) {
      return STATUS_ERROR(kBusy, "Transaction %s is live.", id.c_str())
          .Reason("A commit may be in progress: the transaction " + id +
                  " changed less than 10 minutes ago. Remove it only when no commit can be "
                  "under way.");
    } else {
      (live && !force ? choice->kept : choice->targets).push_back(id);
    }
  }
  return SVNStatus();
}

}  // namespace

SVNReply TxnRemoveAction(SVNRequest& req) {
  const std::string list = req.In("txns"), force = req.In("force");
  if (!force.empty() && force != "yes" && force != "no")
    return REPLY_ERROR(kFailed, "Invalid argument");
  std::vector<std::string> asked;
  if (!list.empty())
    REPLY_TRY(ReadList(list, "txns", HERE, [&](const std::string& id) {
      asked.push_back(id);
      return IsTxnId(id);
    }));
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  std::vector<SVNTxn> txns;
  REPLY_TRY_WITH(ListTxns(RepoPath(name), &txns), "The transactions of %s cannot be read.",
                 Printable(name).c_str());
  if (list.empty())
    for (const SVNTxn& t : txns) asked.push_back(t.id);
  TxnChoice choice;
  REPLY_TRY(ChooseTxns(txns, asked, list.empty(), force == "yes", &choice));
  std::vector<std::string> removed;
  SVNStatus status;
  if (!choice.targets.empty()) status = RemoveTxns(RepoPath(name), choice.targets, &removed);
  Json::Value changed;
  changed["removed"] = Texts(removed);
  if (!removed.empty()) req.changes().set("txns", changed);
  if (force == "yes") req.changes().set("force", true);
  REPLY_TRY_WITH(status, "Remove transactions of %s failed.", Printable(name).c_str());
  Json::Value data;
  data["removed"] = Texts(removed);
  data["kept"] = Texts(choice.kept);
  data["missing"] = Texts(choice.missing);
  return SVNReply::Data(std::move(data));
}

// ---- Disk use ----

namespace {

Json::Value Bytes(long long bytes) { return bytes >= 0 ? Json::Value(Json::Int64(bytes)) : Json::Value(); }

Json::Value Disk(const SVNDiskSpace& space) {
  Json::Value disk;
  disk["free"] = Bytes(space.free);
  disk["size"] = Bytes(space.size);
  return disk;
}

}  // namespace

SVNReply UsageAction(SVNRequest&) {
  SVNUsage usage;
  ReadUsage(&usage);
  Json::Value data, repos(Json::arrayValue);
  long long total = 0, unknown = 0, unmeasured = 0;
  for (const SVNRepoUsage& r : usage.repositories) {
    Json::Value item;
    item["name"] = r.name;
    item["size"] = Bytes(r.size);
    if (!r.measured) item["measured"] = false;
    if (r.size >= 0) total += r.size;
    unknown += r.size < 0 ? 1 : 0;
    unmeasured += r.measured ? 0 : 1;
    repos.append(std::move(item));
  }
  data["repositories"] = std::move(repos);
  data["total"] = Json::Int64(total);
  data["unknown"] = Json::Int64(unknown);
  data["unmeasured"] = Json::Int64(unmeasured);
  data["backups"] = usage.backupDir ? Bytes(usage.backups) : Json::Value();
  data["disks"]["repositories"] = Disk(usage.root);
  data["disks"]["backups"] = usage.backupDir ? Disk(usage.backupDisk) : Json::Value();
  data["same_disk"] = usage.sameDisk;
  return SVNReply::Data(std::move(data));
}

// ---- Packing and upgrading ----

namespace {

// Starts the job `kind` ("pack", "upgrade") on the repository the request
// names, unless a commit may be in progress.
SVNReply StartMaintenance(SVNRequest& req, const char* kind) {
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  REPLY_TRY(CheckNoLiveCommit(name));
  SVNJob job;
  SVNStatus status = StartJob(Package().adminProgram, kind, name, {kind, "--", name}, -1, &job);
  return SVNReply::Started(std::move(status), job.id, __LINE__);
}

}  // namespace

SVNReply PackAction(SVNRequest& req) { return StartMaintenance(req, "pack"); }

SVNReply UpgradeAction(SVNRequest& req) {
  // Older Subversion versions cannot read the result: only when asked
  // twice.
  if (req.In("confirm") != "yes") return REPLY_ERROR(kFailed, "Upgrade without confirm=yes.");
  return StartMaintenance(req, "upgrade");
}
