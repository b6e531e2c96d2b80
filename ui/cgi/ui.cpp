// ui.cpp: the svn.cgi program.  One process answers one request of the
// Subversion administration page: it authenticates the caller, dispatches
// on the "action" parameter and answers with exactly one JSON response.
//
// Every failure is logged to syslog (LOG_ERR, "ui:LINE ...") by each step
// that gives up; the response carries only the generic error or the error
// key "exist"/"nonexist".  No action takes a lock, and nothing is rolled
// back after a failure.

#include <dirent.h>
#include <json/reader.h>
#include <json/value.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <exception>
#include <string>

#include "nlibc.h"
#include "svn_paths.h"
#include "svn_repo.h"
#include "webform.h"

#define UI_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "ui", __LINE__, ##__VA_ARGS__)

namespace {

const char kBareType[] = "text/html; charset=\"UTF-8\"";

}  // namespace

class SVNHandler : public ServerFormHandler {
 public:
  SVNHandler() : ServerFormHandler(false, nullptr) {}
  ~SVNHandler() override {}

  // Authenticates the caller and runs the action that "action" names.
  void Process() override;
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  // "add": creates a repository from "name", "realm", "anon", "accounts".
  virtual void HandleAddAction();
  // "remove": deletes the repository "name".
  virtual void HandleRemoveAction();
  // "edit": replaces the realm, access level and accounts of "name".
  virtual void HandleEditAction();
  // "show": the name, realm and access level of "name".
  virtual void HandleShowAction();

  // "acc_show": the accounts of "name", as a bare body.
  void HandleShowAccountAction();
  // "load", "enum", "find": a page of the repositories whose names hold
  // "query", as a bare body.
  void HandleFindAction();

 private:
  // Fills resp["data"] with the summaries of the matches numbered from
  // `start` to `start` + `limit` - 1 and resp["total"] with the number of
  // matches.  -1 (resp untouched) for a negative start or limit.
  int getRepositorys(Json::Value& resp, std::string substr, int start,
                     int limit);
  // Deletes the repository's directory.  0, or -1 (logged).
  int removeRepository(const std::string& repoName);
  // At least one character, all decimal digits.
  bool isNumber(const std::string& s);
  // A non-empty path naming a directory (links followed).
  bool isDirExist(const std::string& path);
  // Sets "name", "realm" and "anon" of resp.  Always 0.
  int showRepo(const SVNRepo& repo, Json::Value& resp);
  // Sets resp["account"] to the account list.  Always 0.
  int showAccount(const SVNRepo& repo, Json::Value& resp);
  // Parses the accounts text as JSON into ret.  0, or -1 (logged) when it
  // is empty or does not parse.
  int parseAccountObj(const std::string& accounts, Json::Value& ret);
};

void SVNHandler::Process() {
  if (!Authenticate()) return;
  std::string action = webMan.In("action", nullptr);
  if (action == "load" || action == "enum" || action == "find") {
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
  if (!isNumber(startText) || !isNumber(limitText)) {
    UI_LOG("Invalid argument");
    ReportError();
    return;
  }
  // Digits only, so the one way out of range is up: clamp to INT_MAX.
  long start = strtol(startText.c_str(), nullptr, 10);
  long limit = strtol(limitText.c_str(), nullptr, 10);
  if (start > INT_MAX) start = INT_MAX;
  if (limit > INT_MAX) limit = INT_MAX;
  if (getRepositorys(resp, query, static_cast<int>(start),
                     static_cast<int>(limit)) == -1) {
    UI_LOG("getRepository failed.");
    ReportError();
    return;
  }
  webMan.WriteHeader(kBareType);
  webMan.WriteBody(resp);
}

int SVNHandler::getRepositorys(Json::Value& resp, std::string substr,
                               int start, int limit) {
  Json::Value data(Json::arrayValue);
  if (start < 0 || limit < 0) {
    UI_LOG("Argument error.");
    return -1;
  }
  int count = 0;
  DIR* dir = opendir(SVN_REPO_ROOT);
  while (dir != nullptr) {
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The tests have no side effects, so the cheapest go first: the search
    // text, then the directory test, which needs no stat when the
    // directory itself says the entry is one.
    if (!substr.empty() && strstr(name.c_str(), substr.c_str()) == nullptr)
      continue;
    std::string fullPath = SVNRepo::getRepoPath(name);
    if (entry->d_type != DT_DIR && !isDirExist(fullPath)) continue;
    if (!SVNRepo::isExist(name)) continue;
    // Only the matches on the page are opened; the rest are just counted.
    if (count >= start && count - start < limit) {
      try {
        SVNRepo repo(name);
        Json::Value summary;
        summary["name"] = repo.getName();
        summary["realm"] = repo.getRealm();
        data.append(summary);
      } catch (const std::exception&) {
        UI_LOG("SVN Repo [%s] construct failed, assume it is not generate by nimbra.",
               name.c_str());
      }
    }
    ++count;
  }
  resp["data"] = data;
  resp["total"] = count;
  if (dir != nullptr) closedir(dir);
  return 0;
}

// ---- Single-repository queries ----

void SVNHandler::HandleShowAction() {
  std::string name = webMan.In("name", "");
  Json::Value resp;
  bool hasError = false;
  if (name.empty()) {
    UI_LOG("Invalid argument");
    ReportError();
    return;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", name.c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    ReportSuccess(resp);
    return;
  }
  SVNRepo* repo = nullptr;
  try {
    repo = new SVNRepo(name);
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    ReportSuccess(resp);
    return;
  }
  if (showRepo(*repo, resp) < 0) {
    UI_LOG("fill repo information into json failed.");
    hasError = true;
  }
  delete repo;
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(resp);
  }
}

void SVNHandler::HandleShowAccountAction() {
  std::string name = webMan.In("name", "");
  Json::Value resp;
  bool hasError = false;
  if (name.empty()) {
    UI_LOG("Arguments Error");
    ReportError();
    return;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", name.c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    ReportError();
    return;
  }
  SVNRepo* repo = nullptr;
  try {
    repo = new SVNRepo(name);
  } catch (const std::exception&) {
    UI_LOG("SVN Repo construct failed.");
    ReportError();
    return;
  }
  if (showAccount(*repo, resp) < 0) {
    UI_LOG("Fill account information into json failed.");
    hasError = true;
  }
  delete repo;
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
  Json::Reader reader;
  bool parsed = false;
  std::string why;
  try {
    parsed = reader.parse(accounts, ret, true);
    why = reader.getFormattedErrorMessages();
  } catch (const std::exception& e) {  // nesting beyond the reader's limit
    why = e.what();
  }
  if (!parsed) {
    // The text holds passwords: log its size and the parser's complaint,
    // never the text itself.
    for (char& c : why)
      if (c == '\n' || c == '\r') c = ' ';
    while (!why.empty() && why.back() == ' ') why.pop_back();
    UI_LOG("Failed to parse account info from accounts string [%zu bytes: %s]",
           accounts.size(), why.c_str());
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
  bool ok = false;
  if (SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is exist", name.c_str());
    SetFormErrInfo("error", "exist", __LINE__);
  } else if (parseAccountObj(accountStr, accountsObj) < 0) {
    UI_LOG("Parse accounts failed");
  } else {
    try {
      SVNRepo* repo = new SVNRepo(name, realm, anon, accountsObj);
      delete repo;
      ok = true;
    } catch (const std::exception&) {
      UI_LOG("SVN Repo construct failed.");
    }
  }
  if (ok) {
    ReportSuccess(resp);
  } else {
    ReportError();
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
  SVNRepo* repo = nullptr;

  if (name.empty() || anon.empty()) {
    UI_LOG("Arguments Error");
    goto done;
  }
  if (anon != "read" && anon != "write" && anon != "none") {
    UI_LOG("Unknown permission.");
    goto done;
  }
  if (parseAccountObj(accountStr, accountsObj) < 0) {
    UI_LOG("Parse accounts failed");
    goto done;
  }
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", name.c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    goto done;
  }
  try {
    repo = new SVNRepo(name);
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
  } else {
    hasError = false;
  }
  delete repo;

done:
  if (hasError) {
    ReportError();
  } else {
    ReportSuccess(resp);
  }
}

// ---- Removal ----

void SVNHandler::HandleRemoveAction() {
  Json::Value resp;
  std::string name = webMan.In("name", "");
  if (!SVNRepo::isExist(name)) {
    UI_LOG("Repository %s is not exist", name.c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    ReportError();
    return;
  }
  if (removeRepository(name) < 0) {
    UI_LOG("Remove name %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
    ReportError();
    return;
  }
  ReportSuccess(resp);
}

int SVNHandler::removeRepository(const std::string& repoName) {
  if (repoName.empty() || repoName.find("..") != std::string::npos) {
    UI_LOG("Arguments Error");
    return -1;
  }
  if (!SVNRepo::isExist(repoName)) {
    UI_LOG("Repository %s is not exist", repoName.c_str());
    SetFormErrInfo("error", "nonexist", __LINE__);
    return -1;
  }
  std::string removeTarget = SVNRepo::getRepoPath(repoName);
  if (!isDirExist(removeTarget)) {
    UI_LOG("Repository %s is not exist [%s]", repoName.c_str(),
           removeTarget.c_str());
    return -1;
  }
  if (NLIBCExec("/bin/rm", "-rf", removeTarget.c_str(), nullptr, nullptr) < 0) {
    UI_LOG("Executed command [/bin/rm -rf %s] failed.[0x%04X]",
           removeTarget.c_str(), NLIBCErrGet());
    return -1;
  }
  return 0;
}

int main() {
  SVNHandler handler;
  handler.Process();
  return 0;
}
