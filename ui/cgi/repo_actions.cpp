// repo_actions.cpp: the actions on repositories as a whole: the listing,
// "show", "acc_show", "add", "edit" and "remove".

#include <limits.h>
#include <stdlib.h>
#include <syslog.h>

#include <time.h>

#include <algorithm>
#include <queue>
#include <set>
#include <vector>

#include "nlibc.h"
#include "store/access.h"
#include "store/backup_state.h"
#include "store/backups.h"
#include "store/create.h"
#include "store/facts.h"
#include "store/fs_format.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/setting_table.h"
#include "store/sharing.h"
#include "store/txns.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

namespace {

// "name", "realm" and "rev" of one repository of the listing (a name the
// walk of the root found), and its marks; nothing (logged) when it cannot
// be opened.
void Summarize(const std::string& name, const SVNStandings& standings, time_t now,
               Json::Value* data) {
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(*SVNName::Of(name), SVNRepo::kSettings, &repo);
  if (!status.ok()) {
    STATUS_WITH(status, "SVN Repo [%s] construct failed, assume it is not generate by nimbra.",
                name.c_str());
    status.Log();
    return;
  }
  Json::Value summary;
  summary["name"] = repo->getName().str();
  summary["realm"] = repo->getRealm();
  long rev = ReadRevision(repo->getPath());
  summary["rev"] = rev < 0 ? Json::Value() : Json::Value(Json::Int64(rev));
  // Marked when its last verify found problems.
  const Json::Value verified = ReadVerified(repo->getPath());
  if (verified.isObject() && !verified["ok"].asBool()) summary["verify_failed"] = true;
  // Marked when it is overdue, or its last backup failed.
  AddStandingMarks(standings, name, now, &summary);
  data->append(std::move(summary));
}

// Sets the facts of the repository's history and size in `resp`, each
// null when it cannot be read (logged).
void ShowFacts(const SVNRepo& repo, Json::Value* resp) {
  SVNHistory history;
  SVNStatus status = ReadHistory(repo.getPath(), &history);
  const bool known = status.ok();
  if (!known) {
    STATUS_WITH(status, "The history of %s cannot be read.", repo.getName().c_str());
    status.Log();
  }
  auto text = [known](const std::string& t) {
    return known && !t.empty() ? Json::Value(t) : Json::Value();
  };
  (*resp)["rev"] = known ? Json::Value(Json::Int64(history.rev)) : Json::Value();
  (*resp)["uuid"] = text(history.uuid);
  (*resp)["updated"] = text(history.updated);
  (*resp)["author"] = text(history.author);
  long long size = 0;
  status = ReadSize(repo.getPath(), &size);
  status.Log();
  (*resp)["size"] = status.ok() ? Json::Value(Json::Int64(size)) : Json::Value();
}

// Sets "format" in `resp`: the layout of the repository's file system,
// null when it cannot be read (logged).
void ShowFormat(const SVNRepo& repo, Json::Value* resp) {
  SVNFsFormat format;
  SVNStatus status = ReadFsFormat(repo.getPath(), &format);
  status.Log();
  (*resp)["format"] = status.ok() ? FsFormatJson(format) : Json::Value();
}

// An access level as svnserve applies it: only "read" and "write" grant
// anything.
const char* AccessWord(const std::string& level) {
  static const char* const kWords[] = {"none", "read", "write"};
  return kWords[AccessLevel(level)];
}

// The other repositories an edit of `repo` reaches: those that use its
// settings file or its account file, when it changed them.
std::vector<std::string> Reached(const SVNRepo& repo) {
  const bool settings = repo.settingsChanged(), accounts = repo.accountsChanged();
  if (!settings && !accounts) return {};
  const SVNSharing sharing = FindSharing(repo);
  const std::vector<std::string> none;
  return Union(settings ? sharing.settings : none, accounts ? sharing.accounts : none);
}

// The names as a JSON array.
Json::Value Names(const std::vector<std::string>& names) {
  Json::Value list(Json::arrayValue);
  for (const std::string& n : names) list.append(n);
  return list;
}

}  // namespace

// ---- Listing and search ----

SVNReply ListAction(SVNRequest& req) {
  const std::string query = req.In("query");
  const std::string startText = req.In("start", "0");
  const std::string limitText = req.In("limit", "50");
  const std::string sort = req.In("sort");
  if (!IsDigits(startText) || !IsDigits(limitText) || (!sort.empty() && sort != "name"))
    return REPLY_ERROR(kFailed, "Invalid argument");
  // Digits only, so the one way out of range is up: clamp to INT_MAX.
  const long start = std::min(strtol(startText.c_str(), nullptr, 10), long(INT_MAX));
  const long limit = std::min(strtol(limitText.c_str(), nullptr, 10), long(INT_MAX));
  // Only the matches on the page are opened (their settings only); the
  // rest are just counted, or in name order collected first: the first
  // start + limit names, the greatest on top, so that a page near the
  // start needs little memory however large the root.
  long count = 0;
  const size_t keep = static_cast<size_t>(start) + static_cast<size_t>(limit);
  std::priority_queue<std::string> first;
  std::vector<std::string> page;  // the page's names (in name order: last first)
  const bool byName = sort == "name";
  WalkRoot(query, [&](std::string name, const struct stat&) {
    if (byName) {
      if (first.size() < keep) {
        first.push(std::move(name));
      } else if (keep > 0 && name < first.top()) {
        first.pop();
        first.push(std::move(name));
      }
    } else if (count >= start && count - start < limit) {
      page.push_back(std::move(name));
    }
    ++count;
  });
  while (first.size() > static_cast<size_t>(start)) {
    page.push_back(first.top());
    first.pop();
  }
  if (byName) std::reverse(page.begin(), page.end());
  // The page's backup standings, in one read.
  SVNStandings standings;
  const std::set<std::string> shown(page.begin(), page.end());
  ReadStandings(&shown, &standings).Log();
  const time_t now = time(nullptr);
  Json::Value data(Json::arrayValue);
  for (const std::string& name : page) Summarize(name, standings, now, &data);
  Json::Value resp;
  resp["data"] = std::move(data);
  resp["total"] = static_cast<int>(std::min(count, long(INT_MAX)));
  return SVNReply::Data(std::move(resp));
}

// ---- Single-repository queries ----

SVNReply ShowAction(SVNRequest& req) {
  const std::string name = req.In("name");
  if (name.empty()) return REPLY_ERROR(kFailed, "Invalid argument");
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = OpenExisting(name, SVNRepo::kSettings, HERE, &repo);
  if (!status.ok()) {
    // Answered as a success without data, with the key when it is missing.
    SVNReply reply = SVNReply::Data(Json::Value());
    reply.status = std::move(status);
    reply.line = __LINE__;
    return reply;
  }
  Json::Value resp;
  resp["name"] = repo->getName().str();
  resp["realm"] = repo->getRealm();
  resp["anon"] = repo->getAnonymousPermission();
  ShowFormat(*repo, &resp);  // first: the libraries it loads serve the facts' reader too
  ShowFacts(*repo, &resp);
  resp["realm_set"] = repo->setting(kRealm).has_value();
  resp["verified"] = ReadVerified(repo->getPath());
  resp["backup"] = BackupStanding(repo->getName(), resp["uuid"].asString());
  resp["auth_access"] = AccessWord(repo->settingUsed(kAuthAccess));
  resp["sasl"] = repo->usesSasl();
  const SVNSharing sharing = FindSharing(*repo);
  Json::Value& shared = resp["shared"] = Json::Value(Json::objectValue);
  if (!sharing.settings.empty()) shared["settings"] = Names(sharing.settings);
  if (!sharing.accounts.empty()) shared["accounts"] = Names(sharing.accounts);
  if (!sharing.rules.empty()) shared["rules"] = Names(sharing.rules);
  return SVNReply::Data(std::move(resp));
}

SVNReply ShowAccountsAction(SVNRequest& req) {
  const std::string name = req.In("name");
  if (name.empty()) return REPLY_ERROR(kFailed, "Arguments Error");
  std::unique_ptr<SVNRepo> repo;
  REPLY_TRY(OpenExisting(name, SVNRepo::kAccounts, HERE, &repo));
  Json::Value list(Json::arrayValue);
  for (const auto& account : repo->getAccounts()) {
    Json::Value item;
    item["account"] = account.first;
    item["password"] = account.second;
    list.append(std::move(item));
  }
  Json::Value resp;
  resp["account"] = std::move(list);
  resp["shared"] = Names(FindSharing(*repo).accounts);
  resp["sasl"] = repo->usesSasl();
  resp["editable"] = repo->accountsReason().empty();
  if (!repo->accountsReason().empty()) resp["reason"] = repo->accountsReason();
  return SVNReply::Data(std::move(resp));
}

// ---- Creation and editing ----

SVNReply AddAction(SVNRequest& req) {
  SVNNewRepo::Form form;
  form.name = req.In("name");
  form.realm = req.In("realm");
  form.anon = req.In("anon");
  form.authAccess = req.In("auth_access");
  const std::string accountText = req.In("accounts");
  const std::string layout = req.In("layout");
  const std::string& name = form.name;
  if (!layout.empty() && layout != "standard") return REPLY_ERROR(kFailed, "Unknown layout.");
  if (RepoExists(name)) return REPLY_ERROR(kExists, "Repository %s is exist", name.c_str());
  REPLY_TRY(ParseAccounts(accountText, HERE, &form.accounts));
  if ((!form.anon.empty() && !SettingTakes(kAnonAccess, form.anon)) ||
      (!form.authAccess.empty() && !SettingTakes(kAuthAccess, form.authAccess)))
    return REPLY_ERROR(kFailed, "Unknown permission.");
  form.standardLayout = layout == "standard";
  form.author = req.Env("REMOTE_USER");
  // The store checks the rest before it makes anything.
  req.changes().created(form);
  std::optional<SVNNewRepo> what;
  SVNStatus status = SVNNewRepo::Check(form, &what);
  if (status.ok()) status = CreateRepo(*what);
  if (status.code() == SVNStatus::kExists)  // taken meanwhile
    return SVNReply::Fail(STATUS_WITH(status, "Repository %s is exist", name.c_str()), __LINE__);
  REPLY_TRY_WITH(status, "SVN Repo construct failed.");
  return SVNReply::Data(Json::Value());
}

SVNReply EditAction(SVNRequest& req) {
  const std::string name = req.In("name");
  const std::string realm = req.In("realm");
  const std::string anon = req.In("anon");
  const std::string accountText = req.In("accounts");
  const std::string authAccess = req.In("auth_access");
  SVNAccountList accounts;
  if (name.empty() || anon.empty()) return REPLY_ERROR(kFailed, "Arguments Error");
  if (!SettingTakes(kAnonAccess, anon) ||
      (!authAccess.empty() && !SettingTakes(kAuthAccess, authAccess)))
    return REPLY_ERROR(kFailed, "Unknown permission.");
  REPLY_TRY(ParseAccounts(accountText, HERE, &accounts));
  // Opened for update: no other writer comes between reading and writing
  // its files.  The setters change the object only; save() writes.
  std::unique_ptr<SVNRepo> repo;
  REPLY_TRY(OpenExisting(name, SVNRepo::kUpdate, HERE, &repo));
  // The accounts are logins of the rules' table, which must stay one that
  // can be shown; rules that cannot be read have none to keep.
  std::unique_ptr<SVNRules> rules;
  const double before = SVNRules::Open(*repo, &rules, SVNRules::kMeasure).ok()
                            ? AccessLoad(*repo, *rules)
                            : 0;
  SVNChanges::Watch watch(&req.changes(), *repo);
  REPLY_TRY_WITH(repo->setRealm(realm), "Set realm failed.");
  REPLY_TRY_WITH(repo->setAnonymousPermission(anon), "Set anonymous permission failed.");
  if (!authAccess.empty())
    REPLY_TRY_WITH(repo->setAuthAccess(authAccess), "Set account access failed.");
  REPLY_TRY_WITH(repo->setAccounts(accounts), "Set accounts failed");
  if (rules) REPLY_TRY_WITH(CheckAccessChange(*repo, *rules, before), "Set accounts failed");
  REPLY_TRY(req.consent(name, Reached(*repo)));  // it reaches other repositories
  REPLY_TRY_WITH(repo->save(), "Save repository %s failed.", name.c_str());
  return SVNReply::Data(Json::Value());
}

// ---- Removal ----

SVNReply RemoveAction(SVNRequest& req) {
  const std::string text = req.In("name");
  SVNName name;
  REPLY_TRY(FindRepo(text, HERE, &name));
  // Files in it that other repositories use (their logins or rules) go
  // with it: only with consent.
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kSettings, &repo);
  status.Log();
  status = req.consent(name, repo != nullptr ? FindSharing(*repo, true).inside
                                             : FindSharing(name, "", "", true).inside);
  repo.reset();
  REPLY_TRY(status);
  // Not from under a commit in progress.  One that begins as it goes
  // fails, and what it made goes with the repository.
  REPLY_TRY(CheckNoLiveCommit(name));
  // Off the root at once, then deleted; only a failure to move it off
  // fails the removal.
  status = RemoveRepo(name);
  if (status.ok()) return SVNReply::Data(Json::Value());
  STATUS_WITH(status, "Remove name %s failed.[0x%04X]", Printable(name).c_str(), NLIBCErrGet());
  // Another request may have removed it meanwhile.
  if (!RepoExists(name)) status.Recode(SVNStatus::kNotFound);
  return SVNReply::Fail(std::move(status), __LINE__);
}
