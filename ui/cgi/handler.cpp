// handler.cpp: the dispatch on "action" and the one response of each
// request.

#include "ui/cgi/handler.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "store/audit_log.h"

#define LOG_MODULE "ui"

namespace {

const char kBareType[] = "text/html; charset=\"UTF-8\"";

// Now, in UTC to the second: "2026-01-02T03:04:05Z".
std::string Now() {
  time_t now = time(nullptr);
  struct tm utc;
  char text[32];
  if (now == static_cast<time_t>(-1) || gmtime_r(&now, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "";
  return text;
}

}  // namespace

void SVNHandler::Process() {
  webMan.StreamUploads(&upload_);
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
  const SVNAction* action = FindAction(webMan.In("action", nullptr));
  if (action == nullptr) {
    ReportError();
    return;
  }
  if ((action->flags & kChangesState) && webMan.Env("REQUEST_METHOD") != "POST") {
    record(*action, "refused");
    ReportMethodNotAllowed("POST");
    return;
  }
  answer(*action, action->run(request_));
}

void SVNHandler::answer(const SVNAction& action, SVNReply reply) {
  reply.status.Log();
  if (reply.success && !reply.job.empty()) request_.changes().set("job", reply.job);
  if (action.flags & (kChangesState | kRecorded)) {
    const char* key = reply.status.key();
    record(action, reply.success ? "done" : key != nullptr ? key : "failed");
  }
  if (const char* key = reply.status.key()) {
    SetFormErrInfo("error", key, reply.line);
    if (!reply.status.reason().empty()) AddFormErrInfo("reason", reply.status.reason());
    if (!reply.status.field().empty()) AddFormErrInfo("field", reply.status.field());
    if (reply.status.code() == SVNStatus::kShared) {
      Json::Value names(Json::arrayValue);
      for (const std::string& n : reply.status.repositories()) names.append(n);
      AddFormErrInfo("repositories", names);
    }
  }
  if (reply.success && (action.flags & kBareBody)) {
    webMan.WriteHeader(kBareType);
    webMan.WriteBody(reply.data);
  } else if (reply.success) {
    ReportSuccess(std::move(reply.data));
  } else {
    ReportError();
  }
}

void SVNHandler::record(const SVNAction& action, const char* outcome) {
  SVNChanges& changes = request_.changes();
  const std::string name = changes.repository().value_or(webMan.In("name", ""));
  Json::Value r(Json::objectValue);
  r["time"] = Now();
  r["user"] = webMan.Env("REMOTE_USER");
  r["addr"] = webMan.Env("REMOTE_ADDR");
  r["action"] = action.name;
  r["name"] = name;
  r["outcome"] = outcome;
  r["changes"] = changes.json();
  SVNStatus status = AuditAppend(std::move(r));
  if (status.ok()) return;
  STATUS_WITH(status, "The audit record of %s on %s (%s) was not written.", action.name,
              Printable(name).c_str(), outcome);
  status.Log();
}
