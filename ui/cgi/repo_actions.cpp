// repo_actions.cpp: the actions on repositories as a whole: the listing,
// "show", "acc_show", "add", "edit" and "remove".

#include <limits.h>
#include <stdlib.h>
#include <syslog.h>

#include <queue>
#include <vector>

#include "nlibc.h"
#include "store/access.h"
#include "store/backups.h"
#include "store/facts.h"
#include "store/json_text.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/setting_table.h"
#include "store/sharing.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

// At least one character, all decimal digits.
bool IsNumber(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// "name", "realm" and "rev" of one repository of the listing; nothing
// (logged) when it cannot be opened.
void Summarize(const std::string& name, Json::Value* data) {
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kSettings, &repo);
  if (!status.ok()) {
    STATUS_WITH(status, "SVN Repo [%s] construct failed, assume it is not generate by nimbra.",
                name.c_str());
    status.Log();
    return;
  }
  Json::Value summary;
  summary["name"] = repo->getName();
  summary["realm"] = repo->getRealm();
  long rev = ReadRevision(repo->getPath());
  summary["rev"] = rev < 0 ? Json::Value() : Json::Value(Json::Int64(rev));
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

SVNReply SVNHandler::HandleFindAction() {
  const std::string query = webMan.In("query", "");
  const std::string startText = webMan.In("start", "0");
  const std::string limitText = webMan.In("limit", "50");
  const std::string sort = webMan.In("sort", "");
  if (!IsNumber(startText) || !IsNumber(limitText) || (!sort.empty() && sort != "name"))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  // Digits only, so the one way out of range is up: clamp to INT_MAX.
  const long start = std::min(strtol(startText.c_str(), nullptr, 10), long(INT_MAX));
  const long limit = std::min(strtol(limitText.c_str(), nullptr, 10), long(INT_MAX));
  // Only the matches on the page are opened (their settings only); the
  // rest are just counted, or in name order collected first: the first
  // start + limit names, the greatest on top, so that a page near the
  // start needs little memory however large the root.
  Json::Value data(Json::arrayValue);
  long count = 0;
  const size_t keep = static_cast<size_t>(start) + static_cast<size_t>(limit);
  std::priority_queue<std::string> first;
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
      Summarize(name, &data);
    }
    ++count;
  });
  std::vector<std::string> page;  // the page's names, last first
  while (first.size() > static_cast<size_t>(start)) {
    page.push_back(first.top());
    first.pop();
  }
  for (auto name = page.rbegin(); name != page.rend(); ++name) Summarize(*name, &data);
  Json::Value resp;
  resp["data"] = std::move(data);
  resp["total"] = static_cast<int>(std::min(count, long(INT_MAX)));
  return SVNReply::Bare(std::move(resp));
}

// ---- Single-repository queries ----

SVNReply SVNHandler::HandleShowAction() {
  const std::string name = webMan.In("name", "");
  if (name.empty()) return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = openExisting(name, SVNRepo::kSettings, &repo);
  if (!status.ok()) {
    // Answered as a success without data, with the key when it is missing.
    SVNReply reply = SVNReply::Data(Json::Value());
    reply.status = std::move(status);
    reply.line = __LINE__;
    return reply;
  }
  Json::Value resp;
  resp["name"] = repo->getName();
  resp["realm"] = repo->getRealm();
  resp["anon"] = repo->getAnonymousPermission();
  ShowFacts(*repo, &resp);
  resp["realm_set"] = repo->setting(kRealm).has_value();
  resp["verified"] = ReadVerified(repo->getPath());
  resp["auth_access"] = AccessWord(repo->settingUsed(kAuthAccess));
  resp["sasl"] = repo->usesSasl();
  const SVNSharing sharing = FindSharing(*repo);
  Json::Value& shared = resp["shared"] = Json::Value(Json::objectValue);
  if (!sharing.settings.empty()) shared["settings"] = Names(sharing.settings);
  if (!sharing.accounts.empty()) shared["accounts"] = Names(sharing.accounts);
  if (!sharing.rules.empty()) shared["rules"] = Names(sharing.rules);
  return SVNReply::Data(std::move(resp));
}

SVNReply SVNHandler::HandleShowAccountAction() {
  const std::string name = webMan.In("name", "");
  if (name.empty()) return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = openExisting(name, SVNRepo::kAccounts, &repo);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
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
  return SVNReply::Bare(std::move(resp));
}

// ---- Creation and editing ----

SVNStatus SVNHandler::parseAccounts(const std::string& text, SVNAccountList* accounts) {
  SVNStatus status;
  Json::Value json;
  unsigned line = 0, column = 0;
  if (text.empty()) {
    status = STATUS_ERROR(kFailed, "Account is empty");
  } else if (!ParseJson(text, &json, &line, &column)) {
    status = STATUS_ERROR(kFailed,
                          "Failed to parse account info from accounts string [%zu bytes, "
                          "line %u, column %u]",
                          text.size(), line, column);
  } else {
    status = DecodeAccounts(json, accounts);
  }
  if (!status.ok()) STATUS_WITH(status, "Parse accounts failed");
  return status;
}

SVNReply SVNHandler::HandleAddAction() {
  SVNNewRepo what;
  what.name = webMan.In("name", "");
  what.realm = webMan.In("realm", "");
  what.anon = webMan.In("anon", "");
  what.authAccess = webMan.In("auth_access", "");
  const std::string accountText = webMan.In("accounts", "");
  const std::string layout = webMan.In("layout", "");
  const std::string& name = what.name;
  SVNStatus status;
  if (!layout.empty() && layout != "standard")
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Unknown layout."), __LINE__);
  if (RepoExists(name))
    return SVNReply::Fail(STATUS_ERROR(kExists, "Repository %s is exist", name.c_str()), __LINE__);
  if (!(status = parseAccounts(accountText, &what.accounts)).ok())
    return SVNReply::Fail(std::move(status), __LINE__);
  if ((!what.anon.empty() && !SettingTakes(kAnonAccess, what.anon)) ||
      (!what.authAccess.empty() && !SettingTakes(kAuthAccess, what.authAccess)))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Unknown permission."), __LINE__);
  what.standardLayout = layout == "standard";
  what.author = webMan.Env("REMOTE_USER");
  // The store checks the rest before it makes anything.
  changes_.created(what);
  status = SVNRepo::create(what);
  if (status.code() == SVNStatus::kExists)  // taken meanwhile
    return SVNReply::Fail(STATUS_WITH(status, "Repository %s is exist", name.c_str()), __LINE__);
  if (!status.ok())
    return SVNReply::Fail(STATUS_WITH(status, "SVN Repo construct failed."), __LINE__);
  return SVNReply::Data(Json::Value());
}

SVNReply SVNHandler::HandleEditAction() {
  const std::string name = webMan.In("name", "");
  const std::string realm = webMan.In("realm", "");
  const std::string anon = webMan.In("anon", "");
  const std::string accountText = webMan.In("accounts", "");
  const std::string authAccess = webMan.In("auth_access", "");
  SVNAccountList accounts;
  SVNStatus status;
  if (name.empty() || anon.empty())
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  if (!SettingTakes(kAnonAccess, anon) ||
      (!authAccess.empty() && !SettingTakes(kAuthAccess, authAccess)))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Unknown permission."), __LINE__);
  if (!(status = parseAccounts(accountText, &accounts)).ok())
    return SVNReply::Fail(std::move(status), __LINE__);
  // Opened for update: no other writer comes between reading and writing
  // its files.  The setters change the object only; save() writes.
  std::unique_ptr<SVNRepo> repo;
  if (!(status = openExisting(name, SVNRepo::kUpdate, &repo)).ok())
    return SVNReply::Fail(std::move(status), __LINE__);
  // The accounts are logins of the rules' table, which must stay one that
  // can be shown; rules that cannot be read have none to keep.
  std::unique_ptr<SVNRules> rules;
  const double before =
      repo->openRules(&rules, SVNRules::kMeasure).ok() ? AccessLoad(*repo, *rules) : 0;
  SVNChanges::Watch watch(&changes_, *repo);
  if (!(status = repo->setRealm(realm)).ok()) {
    STATUS_WITH(status, "Set realm failed.");
  } else if (!(status = repo->setAnonymousPermission(anon)).ok()) {
    STATUS_WITH(status, "Set anonymous permission failed.");
  } else if (!authAccess.empty() && !(status = repo->setAuthAccess(authAccess)).ok()) {
    STATUS_WITH(status, "Set account access failed.");
  } else if (!(status = repo->setAccounts(accounts)).ok()) {
    STATUS_WITH(status, "Set accounts failed");
  } else if (rules && !(status = CheckAccessChange(*repo, *rules, before)).ok()) {
    STATUS_WITH(status, "Set accounts failed");
  } else if (!(status = consent(name, Reached(*repo))).ok()) {
    // refused: the change reaches other repositories
  } else if (!(status = repo->save()).ok()) {
    STATUS_WITH(status, "Save repository %s failed.", name.c_str());
  } else {
    return SVNReply::Data(Json::Value());
  }
  return SVNReply::Fail(std::move(status), __LINE__);
}

// ---- Removal ----

SVNReply SVNHandler::HandleRemoveAction() {
  const std::string name = webMan.In("name", "");
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  // Files in it that other repositories use (their logins or rules) go
  // with it: only with consent.
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kSettings, &repo);
  status.Log();
  status = consent(name, repo != nullptr ? FindSharing(*repo, true).inside
                                         : FindSharing(name, "", "", true).inside);
  repo.reset();
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  // Off the root at once, then deleted; only a failure to move it off
  // fails the removal.
  status = RemoveRepo(name);
  if (status.ok()) return SVNReply::Data(Json::Value());
  STATUS_WITH(status, "Remove name %s failed.[0x%04X]", Printable(name).c_str(), NLIBCErrGet());
  // Another request may have removed it meanwhile.
  if (!RepoExists(name)) status.Recode(SVNStatus::kNotFound);
  return SVNReply::Fail(std::move(status), __LINE__);
}
