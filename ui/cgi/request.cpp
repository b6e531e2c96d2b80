// request.cpp: the request an action reads, its reply, and the checks at
// the edge.

#include "ui/cgi/request.h"

#include <syslog.h>

#include <set>

#include "store/json_text.h"
#include "store/root.h"

#define LOG_MODULE "ui"

SVNReply SVNReply::Data(Json::Value data) {
  SVNReply reply;
  reply.data = std::move(data);
  return reply;
}

SVNReply SVNReply::Fail(SVNStatus status, int line) {
  SVNReply reply;
  reply.success = false;
  reply.status = std::move(status);
  reply.line = line;
  return reply;
}

SVNReply SVNReply::Started(SVNStatus status, const std::string& id, int line) {
  if (!status.ok()) return Fail(std::move(status), line);
  Json::Value data;
  data["job"] = id;
  SVNReply reply = Data(std::move(data));
  reply.job = id;
  return reply;
}

bool IsDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string Printable(std::string name) {
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

SVNStatus SVNRequest::consent(const std::string& name, const std::vector<std::string>& others) {
  // "yes", or the names the administrator agreed to reach (a JSON list):
  // then a repository that came to share the file since is asked about.
  const std::string agreed = In("shared");
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

SVNStatus FindRepo(const std::string& text, SVNWhere where, SVNName* name) {
  std::optional<SVNName> found;
  if (RepoExists(text)) found = SVNName::Of(text);
  if (!found)
    return STATUS_ERROR_AT(where, kNotFound, "Repository %s is not exist", Printable(text).c_str());
  *name = *found;
  return SVNStatus();
}

SVNStatus OpenExisting(const std::string& text, SVNRepo::Scope scope, SVNWhere where,
                       std::unique_ptr<SVNRepo>* repo) {
  SVNName name;
  STATUS_TRY(FindRepo(text, where, &name));
  SVNStatus status = SVNRepo::open(name, scope, repo);
  if (status.ok()) return status;
  STATUS_WITH_AT(status, where, "SVN Repo construct failed.");
  if (!RepoExists(name)) status.Recode(SVNStatus::kNotFound);  // gone meanwhile
  return status;
}

SVNStatus ParseAccounts(const std::string& text, SVNWhere where, SVNAccountList* accounts) {
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
  if (!status.ok()) STATUS_WITH_AT(status, where, "Parse accounts failed");
  return status;
}
