// rename_action.cpp: "rename".

#include <syslog.h>

#include "store/rename.h"
#include "store/root.h"
#include "store/sharing.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

SVNReply SVNHandler::HandleRenameAction() {
  const std::string name = webMan.In("name", "");
  const std::string to = webMan.In("to", "");
  if (name.empty() || to.empty())
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  if (!IsValidName(to))
    return SVNReply::Fail(
        STATUS_ERROR(kFailed, "The new name %s cannot name a repository.", Printable(to).c_str()),
        __LINE__);
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  // Its files' locks first: a job that starts meanwhile waits for them
  // (see WaitForMoves).
  std::unique_ptr<SVNRepo> repo;
  SVNJobLock jobs;
  SVNStatus status = openExisting(name, SVNRepo::kUpdate, &repo);
  if (status.ok()) status = CheckNotBusy(name, &jobs);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  Json::Value renamed;
  renamed["old"] = name;
  renamed["new"] = to;
  changes_.set("name", renamed);
  // Files of others it changes, and files in it others find by its name
  // (the rename cuts them off): only with consent.
  status = RenameRepo(repo.get(), to, [&](const SVNRenameReach& reach) {
    SVNStatus s = consent(name, Union(reach.changed, reach.cutOff));
    if (s.code() == SVNStatus::kShared && !reach.cutOff.empty())
      s.Reason("Other repositories use files in this repository's directory by its name (their "
               "accounts, rules or settings): renamed, it is no longer where they look.");
    return s;
  });
  if (!status.ok())
    return SVNReply::Fail(STATUS_WITH(status, "Rename %s to %s failed.", Printable(name).c_str(),
                                      Printable(to).c_str()),
                          __LINE__);
  return SVNReply::Data(Json::Value());
}
