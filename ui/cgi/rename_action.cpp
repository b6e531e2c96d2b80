// rename_action.cpp: "rename".

#include <syslog.h>

#include "jobs/jobs.h"
#include "store/facts.h"
#include "store/rename.h"
#include "store/root.h"
#include "store/sharing.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

SVNReply RenameAction(SVNRequest& req) {
  const std::string name = req.In("name");
  const std::string toText = req.In("to");
  if (name.empty() || toText.empty()) return REPLY_ERROR(kFailed, "Arguments Error");
  const std::optional<SVNName> to = SVNName::Of(toText);
  if (!to)
    return REPLY_ERROR(kFailed, "The new name %s cannot name a repository.",
                       Printable(toText).c_str());
  SVNName from;
  REPLY_TRY(FindRepo(name, HERE, &from));
  // Its files' locks first: a job that starts meanwhile waits for them
  // (see WaitForMoves).
  std::unique_ptr<SVNRepo> repo;
  SVNJobLock jobs;
  REPLY_TRY(OpenExisting(name, SVNRepo::kUpdate, HERE, &repo));
  REPLY_TRY(CheckNotBusy(name, &jobs));
  Json::Value renamed;
  renamed["old"] = name;
  renamed["new"] = toText;
  req.changes().set("name", renamed);
  // Files of others it changes, and files in it others find by its name
  // (the rename cuts them off): only with consent.
  REPLY_TRY_WITH(RenameRepo(repo.get(), *to,
                            [&](const SVNRenameReach& reach) {
                              SVNStatus s = req.consent(name, Union(reach.changed, reach.cutOff));
                              if (s.code() == SVNStatus::kShared && !reach.cutOff.empty())
                                s.Reason("Other repositories use files in this repository's "
                                         "directory by its name (their accounts, rules or "
                                         "settings): renamed, it is no longer where they look.");
                              return s;
                            }),
                 "Rename %s to %s failed.", Printable(name).c_str(), Printable(toText).c_str());
  // Its jobs follow it: the page lists them under the new name.
  FollowRename(name, *to, ReadUuid(RepoPath(*to)));
  return SVNReply::Data(Json::Value());
}
