// ui.cpp: the svn.cgi program.  One process answers one request of the
// Subversion administration page: it authenticates the caller, dispatches
// on the "action" parameter and answers with exactly one JSON response.
//
// Every handler checks all of its input before it changes anything, and
// answers once, on its one way out.  Every failure is logged to syslog
// (LOG_ERR, "ui:LINE ...") by each step that gives up; the response
// carries only the generic error or the error key "exist"/"nonexist".
// "add", "edit" and "remove" change state and are served only by POST.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <json/reader.h>
#include <json/value.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <exception>
#include <map>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <vector>

#include "nlibc.h"
#include "svn_paths.h"
#include "svn_repo.h"
#include "webform.h"

#define UI_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "ui", __LINE__, ##__VA_ARGS__)

namespace {

const char kBareType[] = "text/html; charset=\"UTF-8\"";

bool IsPermission(const std::string& anon) {
  return anon == "read" || anon == "write" || anon == "none";
}

// Where ParseJson last found a text wrong (1-based; 0 when it cannot say).
unsigned jsonLine = 0, jsonColumn = 0;

// Parses `text` as exactly one JSON value (comments allowed, nothing after
// it, no member twice, nesting at most 64 deep).  0, or -1 with the place
// of the fault in jsonLine and jsonColumn: the text itself, which may hold
// passwords, never reaches a log line, and neither does the parser's
// complaint, which may quote it.
int ParseJson(const std::string& text, Json::Value* ret) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  builder["allowSpecialFloats"] = false;
  builder["stackLimit"] = 64;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string why;
  bool parsed = false;
  try {
    parsed = reader->parse(text.data(), text.data() + text.size(), ret, &why);
  } catch (const std::exception&) {  // nesting beyond the limit
    why.clear();
  }
  if (parsed) return 0;
  if (sscanf(why.c_str(), "* Line %u, Column %u", &jsonLine, &jsonColumn) != 2)
    jsonLine = jsonColumn = 0;
  return -1;
}

// The groups of a "groups" parameter: an object whose members are arrays
// of strings.
bool ReadGroups(const Json::Value& json, SVNRepo::Groups* groups) {
  if (!json.isObject()) return false;
  for (const std::string& name : json.getMemberNames()) {
    const Json::Value& members = json[name];
    if (!members.isArray()) return false;
    std::vector<std::string>& list = (*groups)[name];
    for (const Json::Value& m : members) {
      if (!m.isString()) return false;
      list.push_back(m.asString());
    }
  }
  return true;
}

// The rules of a "rules" parameter: an array of objects whose "path",
// "who" and "access" are strings.
bool ReadRules(const Json::Value& json, std::vector<SVNRepo::Rule>* rules) {
  if (!json.isArray()) return false;
  for (const Json::Value& r : json) {
    if (!r.isObject() || !r["path"].isString() || !r["who"].isString() ||
        !r["access"].isString())
      return false;
    rules->push_back({r["path"].asString(), r["who"].asString(), r["access"].asString()});
  }
  return true;
}

// A name as it may stand in a log line: control characters, which the
// request may hold, become '?'.
std::string Printable(std::string name) {
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

}  // namespace

class SVNHandler : public ServerFormHandler {
 public:
  SVNHandler() : ServerFormHandler(false, nullptr) {}
  ~SVNHandler() override {}

  // Authenticates the caller and runs the action that "action" names.
  void Process() override;
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  // "add": creates a repository from "name", "realm", "anon", "accounts"
  // and "layout" ("standard": /trunk, /branches, /tags in revision 1).
  virtual void HandleAddAction();
  // "remove": deletes the repository "name".
  virtual void HandleRemoveAction();
  // "edit": replaces the realm, access level and accounts of "name".
  virtual void HandleEditAction();
  // "show": the name, realm and access level of "name", and the facts of
  // its history and size.
  virtual void HandleShowAction();

  // "acc_show": the accounts of "name", as a bare body.
  void HandleShowAccountAction();
  // "rules_show": the groups, access rules and what each account may do
  // where, of "name".
  void HandleRulesShowAction();
  // "rules_edit": replaces the groups and rules of "name" by "groups" and
  // "rules" (JSON texts).
  void HandleRulesEditAction();
  // "load", "enum", "find": a page of the repositories whose names hold
  // "query", as a bare body.
  void HandleFindAction();

 private:
  // Fills resp["data"] with the summaries of the matches numbered from
  // `start` to `start` + `limit` - 1 (in directory order, or `byName` in
  // byte order of their names) and resp["total"] with the number of
  // matches.  -1 (resp untouched) for a negative start or limit.
  int getRepositorys(Json::Value& resp, std::string substr, int start,
                     int limit, bool byName);
  // Takes the repository off the root and deletes it.  0, or -1 (logged).
  int removeRepository(const std::string& repoName);
  // At least one character, all decimal digits.
  bool isNumber(const std::string& s);
  // A non-empty path naming a directory (links followed).
  bool isDirExist(const std::string& path);
  // Sets "name", "realm" and "anon" of resp.  Always 0.
  int showRepo(const SVNRepo& repo, Json::Value& resp);
  // Sets "rev", "uuid", "updated", "author" and "size" of resp, each null
  // when it cannot be read (logged).
  void showFacts(const SVNRepo& repo, Json::Value& resp);
  // Sets resp["account"] to the account list.  Always 0.
  int showAccount(const SVNRepo& repo, Json::Value& resp);
  // Parses the accounts text as one JSON value into ret.  0, or -1
  // (logged) when it is empty or does not parse.
  int parseAccountObj(const std::string& accounts, Json::Value& ret);
  // Sets "groups", "rules" and "effective" of resp.  0, or -1 when what
  // accounts may do cannot be found out.
  int showRules(SVNRepo& repo, const SVNRepo::Groups& groups,
                const std::vector<SVNRepo::Rule>& rules, Json::Value& resp);
};

void SVNHandler::Process() {
  if (!Authenticate()) return;
  // The request is read: nothing started from here on (the repository
  // tool, a new repository's hooks) may read its body, which may hold
  // passwords.
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDIN_FILENO) < 0) {
    UI_LOG("Detach the request body failed: %s", strerror(errno));
    if (null >= 0) close(null);
    ReportError();
    return;
  }
  close(null);
  std::string action = webMan.In("action", nullptr);
  if ((action == "add" || action == "remove" || action == "edit" ||
       action == "rules_edit") &&
      webMan.Env("REQUEST_METHOD") != "POST") {
    ReportMethodNotAllowed("POST");
  } else if (action == "load" || action == "enum" || action == "find") {
    HandleFindAction();
  } else if (action == "show") {
    HandleShowAction();
  } else if (action == "add") {
    HandleAddAction();
  } else if (action == "remove") {
    HandleRemoveAction();
  } else if (action == "edit") {
    HandleEditAction();
  } else if (action == "acc_show") {
    HandleShowAccountAction();
  } else if (action == "rules_show") {
    HandleRulesShowAction();
  } else if (action == "rules_edit") {
    HandleRulesEditAction();
  } else {
    ReportError();
  }
}

// ---- JSON views ----

int SVNHandler::showRepo(const SVNRepo& repo, Json::Value& resp) {
  resp["name"] = repo.getName();
  resp["realm"] = repo.getRealm();
  resp["anon"] = repo.getAnonymousPermission();
  return 0;
}

void SVNHandler::showFacts(const SVNRepo& repo, Json::Value& resp) {
  RepoFacts facts;
  bool known = repo.getFacts(&facts) == 0;
  if (!known) UI_LOG("The history of %s cannot be read.", repo.getName().c_str());
  auto text = [known](const std::string& t) {
    return known && !t.empty() ? Json::Value(t) : Json::Value();
  };
  resp["rev"] = known ? Json::Value(Json::Int64(facts.rev)) : Json::Value();
  resp["uuid"] = text(facts.uuid);
  resp["updated"] = text(facts.updated);
  resp["author"] = text(facts.author);
  long long size = repo.getSize();
  resp["size"] = size < 0 ? Json::Value() : Json::Value(Json::Int64(size));
}

int SVNHandler::showAccount(const SVNRepo& repo, Json::Value& resp) {
  Json::Value list(Json::arrayValue);
  for (const auto& account : repo.getAccounts()) {
    Json::Value item;
    item["account"] = account.first;
    item["password"] = account.second;
    list.append(item);
  }
  resp["account"] = list;
  return 0;
}

// ---- Listing and search ----

bool SVNHandler::isNumber(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

bool SVNHandler::isDirExist(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SVNHandler::HandleFindAction() {
  Json::Value resp;
  std::string query = webMan.In("query", "");
  std::string startText = webMan.In("start", "0");
  std::string limitText = webMan.In("limit", "50");
  std::string sort = webMan.In("sort", "");
  long start = 0, limit = 0;
  bool hasError = true;
  if (!isNumber(startText) || !isNumber(limitText) || (!sort.empty() && sort != "name")) {
    UI_LOG("Invalid argument");
    goto done;
  }
  // Digits only, so the one way out of range is up: clamp to INT_MAX.
  start = strtol(startText.c_str(), nullptr, 10);
  limit = strtol(limitText.c_str(), nullptr, 10);
  if (start > INT_MAX) start = INT_MAX;
  if (limit > INT_MAX) limit = INT_MAX;
  if (getRepositorys(resp, query, static_cast<int>(start),
                     static_cast<int>(limit), sort == "name") == -1) {
    UI_LOG("getRepository failed.");
    goto done;
  }
  hasError = false;

done:
  if (hasError) {
    ReportError();
  } else {
    webMan.WriteHeader(kBareType);
    webMan.WriteBody(resp);
  }
}

int SVNHandler::getRepositorys(Json::Value& resp, std::string substr,
                               int start, int limit, bool byName) {
  Json::Value data(Json::arrayValue);
  if (start < 0 || limit < 0) {
    UI_LOG("Argument error.");
    return -1;
  }
  // Only the matches on the page are opened (their settings only); the
  // rest are just counted, or in name order collected first.
  auto summarize = [&data](const std::string& name) {
    try {
      SVNRepo repo(name, SVNRepo::kSettings);
      Json::Value summary;
      summary["name"] = repo.getName();
      summary["realm"] = repo.getRealm();
      long rev = repo.getRevision();
      summary["rev"] = rev < 0 ? Json::Value() : Json::Value(Json::Int64(rev));
      data.append(std::move(summary));
    } catch (const std::exception&) {
      UI_LOG("SVN Repo [%s] construct failed, assume it is not generate by nimbra.",
             name.c_str());
    }
  };
  int count = 0;
  // In name order: the first `keep` names, the greatest on top, so that
  // a page near the start needs little memory however large the root.
  const size_t keep = static_cast<size_t>(start) + static_cast<size_t>(limit);
  std::priority_queue<std::string> first;
  DIR* dir = opendir(SVN_REPO_ROOT);
  while (dir != nullptr) {
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The tests have no side effects, so the cheapest go first: the search
    // text, then the existence test, which needs no look at the entry
    // when the directory itself says it is a directory.
    if (!substr.empty() && strstr(name.c_str(), substr.c_str()) == nullptr)
      continue;
    if (!SVNRepo::isExist(name, entry->d_type == DT_DIR)) continue;
    if (byName) {
      if (first.size() < keep) {
        first.push(std::move(name));
      } else if (keep > 0 && name < first.top()) {
        first.pop();
        first.push(std::move(name));
      }
    } else if (count >= start && count - start < limit) {
      summarize(name);
    }
    ++count;
  }
  if (dir != nullptr) closedir(dir);
  std::vector<std::string> page;  // the page's names, last first
  while (first.size() > static_cast<size_t>(start)) {
    page.push_back(first.top());
    first.pop();
  }
  for (auto name = page.rbegin(); name != page.rend(); ++name) summarize(*name);
  resp["data"] = data;
  resp["total"] = count;
  return 0;
}

// ---- Single-repository queries ----

void SVNHandler::HandleShowAction() {
  std::string name = webMan.In("name", "");
  Json::Value resp;
  bool hasError = true;
  std::unique_ptr<SVNRepo> repo;
  if (name.empty()) {
    UI_LOG("Invalid argument");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    hasError = false;
    goto done;
  }
  try {
    repo.reset(new SVNRepo(name, SVNRepo::kSettings));
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    hasError = false;  // answered as success without data
    goto done;
  }
  if (showRepo(*repo, resp) < 0) {
    UI_LOG("fill repo information into json failed.");
    goto done;
  }
  showFacts(*repo, resp);
  hasError = false;

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

void SVNHandler::HandleShowAccountAction() {
  std::string name = webMan.In("name", "");
  Json::Value resp;
  bool hasError = true;
  std::unique_ptr<SVNRepo> repo;
  if (name.empty()) {
    UI_LOG("Arguments Error");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  try {
    repo.reset(new SVNRepo(name, SVNRepo::kAccounts));
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    goto done;
  }
  if (showAccount(*repo, resp) < 0) {
    UI_LOG("Fill account information into json failed.");
    goto done;
  }
  hasError = false;

done:
  if (hasError) {
    ReportError();
  } else {
    webMan.WriteHeader(kBareType);
    webMan.WriteBody(resp);
  }
}

// ---- Creation ----

int SVNHandler::parseAccountObj(const std::string& accounts, Json::Value& ret) {
  if (accounts.empty()) {
    UI_LOG("Account is empty");
    return -1;
  }
  if (ParseJson(accounts, &ret) < 0) {
    UI_LOG("Failed to parse account info from accounts string [%zu bytes, "
           "line %u, column %u]",
           accounts.size(), jsonLine, jsonColumn);
    return -1;
  }
  return 0;
}

void SVNHandler::HandleAddAction() {
  Json::Value resp;
  Json::Value accountsObj;
  std::string name = webMan.In("name", "");
  std::string realm = webMan.In("realm", "");
  std::string anon = webMan.In("anon", "");
  std::string accountStr = webMan.In("accounts", "");
  std::string layout = webMan.In("layout", "");
  bool hasError = true;
  std::unique_ptr<SVNRepo> repo;

  if (!layout.empty() && layout != "standard") {
    UI_LOG("Unknown layout.");
    goto done;
  }
  if (SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is exist", name.c_str());
    SetFormErrInfo("error", "exist", __LINE__);
    goto done;
  }
  if (parseAccountObj(accountStr, accountsObj) < 0) {
    UI_LOG("Parse accounts failed");
    goto done;
  }
  if (!anon.empty() && !IsPermission(anon)) {
    UI_LOG("Unknown permission.");
    goto done;
  }
  // The store checks the rest before it makes anything.
  try {
    repo.reset(new SVNRepo(name, realm, anon, accountsObj, layout == "standard",
                           webMan.Env("REMOTE_USER")));
    hasError = false;
  } catch (const SVNRepo::NameTaken&) {
    UI_LOG("Repository %s is exist", name.c_str());  // taken meanwhile
    SetFormErrInfo("error", "exist", __LINE__);
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
  }

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

// ---- Editing ----

void SVNHandler::HandleEditAction() {
  Json::Value resp;
  Json::Value accountsObj;
  bool hasError = true;
  std::string name = webMan.In("name", "");
  std::string realm = webMan.In("realm", "");
  std::string anon = webMan.In("anon", "");
  std::string accountStr = webMan.In("accounts", "");
  std::unique_ptr<SVNRepo> repo;

  if (name.empty() || anon.empty()) {
    UI_LOG("Arguments Error");
    goto done;
  }
  if (!IsPermission(anon)) {
    UI_LOG("Unknown permission.");
    goto done;
  }
  if (parseAccountObj(accountStr, accountsObj) < 0) {
    UI_LOG("Parse accounts failed");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  // Opened for update: no other writer comes between reading and writing
  // its files.  The setters change the object only; save() writes.
  try {
    repo.reset(new SVNRepo(name, SVNRepo::kUpdate));
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    goto done;
  }
  if (repo->setRealm(realm) < 0) {
    UI_LOG("Set realm failed.");
  } else if (repo->setAnonymousPermission(anon) < 0) {
    UI_LOG("Set anonymous permission failed.");
  } else if (repo->setAccounts(accountsObj) < 0) {
    UI_LOG("Set accounts failed");
  } else if (repo->save() < 0) {
    UI_LOG("Save repository %s failed.", name.c_str());
  } else {
    hasError = false;
  }

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

// ---- Access rules ----

int SVNHandler::showRules(SVNRepo& repo, const SVNRepo::Groups& groups,
                          const std::vector<SVNRepo::Rule>& rules,
                          Json::Value& resp) {
  Json::Value groupList(Json::objectValue), ruleList(Json::arrayValue),
      effective(Json::arrayValue);
  for (const auto& g : groups) {
    Json::Value members(Json::arrayValue);
    for (const std::string& m : g.second) members.append(m);
    groupList[g.first] = members;
  }
  // With rules in force a path no rule reaches is closed to everyone:
  // show the root too, so that is seen.
  std::vector<std::string> paths;
  std::set<std::string> seen;
  if (repo.hasRules() && seen.insert("/").second) paths.push_back("/");
  for (const SVNRepo::Rule& r : rules) {
    Json::Value rule;
    rule["path"] = r.path;
    rule["who"] = r.who;
    rule["access"] = r.access;
    ruleList.append(rule);
    if (seen.insert(r.path).second) paths.push_back(r.path);
  }
  for (const std::string& p : repo.namedPaths())
    if (seen.insert(p).second) paths.push_back(p);
  std::map<std::string, std::vector<char>> access;
  if (repo.getAccess(paths, &access) < 0) return -1;
  static const Json::StaticString kWords[] = {Json::StaticString(""), Json::StaticString("r"),
                                              Json::StaticString("rw")};
  for (size_t i = 0; i < paths.size(); ++i) {
    Json::Value& entry = effective.append(Json::Value(Json::objectValue));
    entry["path"] = paths[i];
    Json::Value& row = entry["access"] = Json::Value(Json::objectValue);
    for (const auto& a : access) row[a.first] = kWords[static_cast<int>(a.second[i])];
  }
  resp["groups"] = std::move(groupList);
  resp["rules"] = std::move(ruleList);
  resp["effective"] = std::move(effective);
  return 0;
}

void SVNHandler::HandleRulesShowAction() {
  std::string name = webMan.In("name", "");
  Json::Value resp;
  bool hasError = true;
  std::unique_ptr<SVNRepo> repo;
  SVNRepo::Groups groups;
  std::vector<SVNRepo::Rule> rules;
  if (name.empty()) {
    UI_LOG("Arguments Error");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  try {
    repo.reset(new SVNRepo(name, SVNRepo::kAccounts));
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    goto done;
  }
  if (repo->getRules(&groups, &rules) < 0) {
    UI_LOG("Get rules failed.");
    goto done;
  }
  if (showRules(*repo, groups, rules, resp) < 0) {
    UI_LOG("Fill rules into json failed.");
    goto done;
  }
  hasError = false;

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

void SVNHandler::HandleRulesEditAction() {
  Json::Value resp, groupsObj, rulesObj;
  bool hasError = true;
  std::string name = webMan.In("name", "");
  std::string groupsText = webMan.In("groups", "");
  std::string rulesText = webMan.In("rules", "");
  std::unique_ptr<SVNRepo> repo;
  SVNRepo::Groups groups, oldGroups;
  std::vector<SVNRepo::Rule> rules, oldRules;

  if (name.empty() || groupsText.empty() || rulesText.empty()) {
    UI_LOG("Arguments Error");
    goto done;
  }
  if (ParseJson(groupsText, &groupsObj) < 0 || ParseJson(rulesText, &rulesObj) < 0) {
    UI_LOG("Failed to parse groups or rules [line %u, column %u]", jsonLine,
           jsonColumn);
    goto done;
  }
  if (!ReadGroups(groupsObj, &groups) || !ReadRules(rulesObj, &rules)) {
    UI_LOG("Groups or rules are not of their form.");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  try {
    repo.reset(new SVNRepo(name, SVNRepo::kUpdate));
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    goto done;
  }
  if (repo->getRules(&oldGroups, &oldRules) < 0) {
    UI_LOG("Get rules failed.");
  } else if (repo->setRules(groups, rules) < 0) {
    UI_LOG("Set rules failed.");
  } else if (repo->save() < 0) {
    UI_LOG("Save repository %s failed.", name.c_str());
  } else {
    hasError = false;
  }

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

// ---- Removal ----

void SVNHandler::HandleRemoveAction() {
  Json::Value resp;
  std::string name = webMan.In("name", "");
  bool hasError = true;
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", Printable(name).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  if (removeRepository(name) < 0) {
    UI_LOG("Remove name %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
    goto done;
  }
  hasError = false;

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(std::move(resp));
  }
}

int SVNHandler::removeRepository(const std::string& repoName) {
  if (repoName.empty() || repoName.find("..") != std::string::npos) {
    UI_LOG("Arguments Error");
    return -1;
  }
  if (!SVNRepo::isExist(repoName)) {
    UI_LOG("Repository %s is not exist", Printable(repoName).c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    return -1;
  }
  std::string removeTarget = SVNRepo::getRepoPath(repoName);
  if (!isDirExist(removeTarget)) {
    UI_LOG("Repository %s is not exist [%s]", repoName.c_str(),
           removeTarget.c_str());
    return -1;
  }
  // Off the root at once, then deleted; only a failure to move it off
  // fails the removal.
  if (SVNRepo::remove(repoName) < 0) {
    // Another request may have removed it meanwhile.
    if (!SVNRepo::isExist(repoName))
      SetFormErrInfo("error", "nonexist", __LINE__);
    return -1;
  }
  return 0;
}

int main() {
  SVNHandler handler;
  handler.Process();
  return 0;
}
