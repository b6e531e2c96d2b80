// main.cpp: svn.cgi's entry point: the dispatch on "action" and the one
// response of each request.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <set>

#include "store/json_text.h"
#include "store/root.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

const char kBareType[] = "text/html; charset=\"UTF-8\"";

// The actions, and whether each changes state (then only POST serves it,
// and each request leaves one audit record, a refused one too).
struct Action {
  const char* name;
  SVNReply (SVNHandler::*run)();
  bool changes;
};

const Action kActions[] = {
    {"load", &SVNHandler::HandleFindAction, false},
    {"enum", &SVNHandler::HandleFindAction, false},
    {"find", &SVNHandler::HandleFindAction, false},
    {"show", &SVNHandler::HandleShowAction, false},
    {"add", &SVNHandler::HandleAddAction, true},
    {"remove", &SVNHandler::HandleRemoveAction, true},
    {"edit", &SVNHandler::HandleEditAction, true},
    {"acc_show", &SVNHandler::HandleShowAccountAction, false},
    {"rules_show", &SVNHandler::HandleRulesShowAction, false},
    {"rules_edit", &SVNHandler::HandleRulesEditAction, true},
    {"audit", &SVNHandler::HandleAuditAction, false},
    {"rename", &SVNHandler::HandleRenameAction, true},
    {"hooks_show", &SVNHandler::HandleHooksShowAction, false},
    {"hooks_edit", &SVNHandler::HandleHooksEditAction, true},
    {"backup", &SVNHandler::HandleBackupAction, true},
    {"backups", &SVNHandler::HandleBackupsAction, false},
    {"backup_get", &SVNHandler::HandleBackupGetAction, false},
    {"backup_remove", &SVNHandler::HandleBackupRemoveAction, true},
    {"restore", &SVNHandler::HandleRestoreAction, true},
    {"verify", &SVNHandler::HandleVerifyAction, true},
    {"jobs", &SVNHandler::HandleJobsAction, false},
    {"job_cancel", &SVNHandler::HandleJobCancelAction, true},
};

}  // namespace

SVNReply SVNReply::Data(Json::Value data) {
  SVNReply reply;
  reply.data = std::move(data);
  return reply;
}

SVNReply SVNReply::Bare(Json::Value body) {
  SVNReply reply;
  reply.bare = true;
  reply.data = std::move(body);
  return reply;
}

SVNReply SVNReply::Fail(SVNStatus status, int line) {
  SVNReply reply;
  reply.success = false;
  reply.status = std::move(status);
  reply.line = line;
  return reply;
}

std::string Printable(std::string name) {
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

void SVNHandler::Process() {
  webMan.StreamUploads(RestoreUploads());
  if (!Authenticate()) return;
  // The request is read: nothing started from here on (the repository
  // tool, a new repository's hooks) may read its body, which may hold
  // passwords.
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || dup2(null, STDIN_FILENO) < 0) {
    LOG_LINE("Detach the request body failed: %s", strerror(errno));
    if (null >= 0) close(null);
    ReportError();
    return;
  }
  close(null);
  const std::string action = webMan.In("action", nullptr);
  for (const Action& a : kActions) {
    if (action != a.name) continue;
    if (a.changes) audited_ = a.name;
    if (a.changes && webMan.Env("REQUEST_METHOD") != "POST") {
      record("refused");
      ReportMethodNotAllowed("POST");
      return;
    }
    answer((this->*a.run)());
    return;
  }
  ReportError();
}

void SVNHandler::answer(SVNReply reply) {
  reply.status.Log();
  if (audited_ != nullptr) {
    const char* key = reply.status.key();
    record(reply.success ? "done" : key != nullptr ? key : "failed");
  }
  if (const char* key = reply.status.key()) {
    SetFormErrInfo("error", key, reply.line);
    if (!reply.status.reason().empty()) AddFormErrInfo("reason", reply.status.reason());
    if (reply.status.code() == SVNStatus::kShared) {
      Json::Value names(Json::arrayValue);
      for (const std::string& n : reply.status.repositories()) names.append(n);
      AddFormErrInfo("repositories", names);
    }
  }
  if (reply.bare) {
    webMan.WriteHeader(kBareType);
    webMan.WriteBody(reply.data);
  } else if (reply.success) {
    ReportSuccess(std::move(reply.data));
  } else {
    ReportError();
  }
}

SVNStatus SVNHandler::openExisting(const std::string& name, SVNRepo::Scope scope,
                                   std::unique_ptr<SVNRepo>* repo) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str());
  SVNStatus status = SVNRepo::open(name, scope, repo);
  if (!status.ok()) STATUS_WITH(status, "SVN Repo construct failed.");
  if (!status.ok() && !RepoExists(name)) status.Recode(SVNStatus::kNotFound);  // gone meanwhile
  return status;
}

SVNStatus SVNHandler::consent(const std::string& name, const std::vector<std::string>& others) {
  // "yes", or the names the administrator agreed to reach (a JSON list):
  // then a repository that came to share the file since is asked about.
  const std::string agreed = webMan.In("shared", "");
  if (others.empty() || agreed == "yes") return SVNStatus();
  Json::Value names;
  unsigned line = 0, column = 0;
  if (ParseJson(agreed, &names, &line, &column) && names.isArray()) {
    std::set<std::string> listed;
    for (const Json::Value& n : names)
      if (n.isString()) listed.insert(n.asString());
    bool all = true;
    for (const std::string& other : others) all = all && listed.count(other) != 0;
    if (all) return SVNStatus();
  }
  return STATUS_ERROR(kShared, "A change of %s reaches %zu other repositories: not made without "
                               "consent.",
                      Printable(name).c_str(), others.size())
      .Repositories(others);
}

int main() {
  SVNHandler handler;
  handler.Process();
  return 0;
}
