// audit_actions.cpp: "audit", which reads the audit log back.

#include <limits.h>
#include <stdlib.h>
#include <syslog.h>
#include <time.h>

#include <algorithm>

#include "store/audit_log.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

namespace {

// The most records one page of "audit" holds.
const unsigned long kMaxAuditPage = 1000;

}  // namespace

SVNReply AuditAction(SVNRequest& req) {
  const std::string startText = req.In("start", "0");
  const std::string limitText = req.In("limit", "50");
  if (!IsDigits(startText) || !IsDigits(limitText))
    return REPLY_ERROR(kFailed, "Invalid argument");
  SVNAuditQuery query;
  query.name = req.In("name");
  query.user = req.In("user");
  // Digits only, so the one way out of range is up.
  query.start =
      std::min(strtoul(startText.c_str(), nullptr, 10), static_cast<unsigned long>(INT_MAX));
  query.limit = std::min(strtoul(limitText.c_str(), nullptr, 10), kMaxAuditPage);
  SVNAuditPage page;
  REPLY_TRY_WITH(AuditRead(query, &page), "Read the audit log failed.");
  Json::Value data(Json::objectValue), records(Json::arrayValue);
  for (Json::Value& r : page.records) records.append(std::move(r));
  data["total"] = Json::Int64(page.total);
  data["exact"] = page.exact;
  data["records"] = std::move(records);
  return SVNReply::Data(std::move(data));
}
