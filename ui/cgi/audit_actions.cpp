// audit_actions.cpp: the audit record of each request that changes state,
// and the "audit" action that reads the log back.

#include <limits.h>
#include <stdlib.h>
#include <syslog.h>
#include <time.h>

#include <algorithm>

#include "store/audit_log.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

// The most records one page of "audit" holds.
const unsigned long kMaxAuditPage = 1000;

// At least one character, all decimal digits.
bool IsDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

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

void SVNHandler::record(const char* outcome) {
  const std::string name = changes_.repository().value_or(webMan.In("name", ""));
  Json::Value r(Json::objectValue);
  r["time"] = Now();
  r["user"] = webMan.Env("REMOTE_USER");
  r["addr"] = webMan.Env("REMOTE_ADDR");
  r["action"] = audited_;
  r["name"] = name;
  r["outcome"] = outcome;
  r["changes"] = changes_.json();
  SVNStatus status = AuditAppend(std::move(r));
  if (status.ok()) return;
  STATUS_WITH(status, "The audit record of %s on %s (%s) was not written.", audited_,
              Printable(name).c_str(), outcome);
  status.Log();
}

SVNReply SVNHandler::HandleAuditAction() {
  const std::string startText = webMan.In("start", "0");
  const std::string limitText = webMan.In("limit", "50");
  if (!IsDigits(startText) || !IsDigits(limitText))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  SVNAuditQuery query;
  query.name = webMan.In("name", "");
  query.user = webMan.In("user", "");
  // Digits only, so the one way out of range is up.
  query.start =
      std::min(strtoul(startText.c_str(), nullptr, 10), static_cast<unsigned long>(INT_MAX));
  query.limit = std::min(strtoul(limitText.c_str(), nullptr, 10), kMaxAuditPage);
  SVNAuditPage page;
  SVNStatus status = AuditRead(query, &page);
  if (!status.ok())
    return SVNReply::Fail(STATUS_WITH(status, "Read the audit log failed."), __LINE__);
  Json::Value data(Json::objectValue), records(Json::arrayValue);
  for (Json::Value& r : page.records) records.append(std::move(r));
  data["total"] = Json::Int64(page.total);
  data["exact"] = page.exact;
  data["records"] = std::move(records);
  return SVNReply::Data(std::move(data));
}
