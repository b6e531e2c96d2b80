// rules_actions.cpp: the actions on a repository's access rules:
// "rules_show" and "rules_edit".

#include <syslog.h>

#include <vector>

#include "store/access.h"
#include "store/json_text.h"
#include "store/rules.h"
#include "store/sharing.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

// Why rules cannot be written into a rules file that other repositories
// read as their groups file (groups-db), which svnserve refuses once it
// holds anything but groups; empty when none does.
std::string GroupsFileReason(const SVNSharing& sharing) {
  if (sharing.groupsDb.empty()) return std::string();
  std::string names;
  for (const std::string& n : sharing.groupsDb) names += (names.empty() ? "" : ", ") + n;
  return "This rules file is the groups file (groups-db) of " + names +
         ", which may hold groups alone: rules written here would make svnserve refuse "
         "every connection to them. Edit it by hand.";
}

// The groups, the rules and what each login may do at the root (while
// rules are in force a path no rule reaches is closed to everyone: shown,
// so that is seen), at each rule's path and at the paths of sections
// naming the repository.
SVNStatus ShowRules(const SVNRepo& repo, const SVNRules& rules, Json::Value* resp) {
  Json::Value shared(Json::arrayValue);
  const SVNSharing sharing = FindSharing(repo);
  for (const std::string& other : sharing.rules) shared.append(other);
  const std::string groupsFile = rules.editable() ? GroupsFileReason(sharing) : std::string();
  Json::Value groupList(Json::objectValue), ruleList(Json::arrayValue),
      effective(Json::arrayValue);
  for (const auto& g : rules.groups()) {
    Json::Value members(Json::arrayValue);
    for (const std::string& m : g.second) members.append(m);
    groupList[g.first] = std::move(members);
  }
  for (const SVNRules::Rule& r : rules.rules()) {
    Json::Value rule;
    rule["path"] = r.path;
    rule["who"] = r.who;
    rule["access"] = r.access;
    rule["scope"] = r.scope;
    ruleList.append(std::move(rule));
  }
  std::vector<std::string> paths = AccessPaths(rules);
  SVNAccessTable access;
  SVNStatus status = EffectiveAccess(repo, rules, paths, &access);
  if (!status.ok()) {  // shown without the table
    status.Log();
    paths.clear();
  }
  static const Json::StaticString kWords[] = {Json::StaticString(""), Json::StaticString("r"),
                                              Json::StaticString("rw")};
  for (size_t i = 0; i < paths.size(); ++i) {
    Json::Value& entry = effective.append(Json::Value(Json::objectValue));
    entry["path"] = paths[i];
    Json::Value& row = entry["access"] = Json::Value(Json::objectValue);
    for (const auto& a : access) row[a.first] = kWords[static_cast<int>(a.second[i])];
  }
  (*resp)["groups"] = std::move(groupList);
  (*resp)["rules"] = std::move(ruleList);
  (*resp)["effective"] = std::move(effective);
  (*resp)["shared"] = std::move(shared);
  (*resp)["editable"] = rules.editable() && groupsFile.empty();
  if (!rules.editable()) (*resp)["reason"] = rules.reason();
  if (!groupsFile.empty()) (*resp)["reason"] = groupsFile;
  return SVNStatus();
}

}  // namespace

SVNReply SVNHandler::HandleRulesShowAction() {
  const std::string name = webMan.In("name", "");
  if (name.empty()) return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  std::unique_ptr<SVNRepo> repo;
  std::unique_ptr<SVNRules> rules;
  Json::Value resp;
  SVNStatus status = openExisting(name, SVNRepo::kAccounts, &repo);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  if (!(status = repo->openRules(&rules)).ok()) {
    STATUS_WITH(status, "Get rules failed.");
  } else if (!(status = ShowRules(*repo, *rules, &resp)).ok()) {
    STATUS_WITH(status, "Fill rules into json failed.");
  } else {
    return SVNReply::Data(std::move(resp));
  }
  return SVNReply::Fail(std::move(status), __LINE__);
}

SVNReply SVNHandler::HandleRulesEditAction() {
  const std::string name = webMan.In("name", "");
  const std::string groupsText = webMan.In("groups", "");
  const std::string rulesText = webMan.In("rules", "");
  Json::Value groupsJson, rulesJson;
  SVNRules::Groups groups;
  std::vector<SVNRules::Rule> list;
  unsigned line = 0, column = 0;
  if (name.empty() || groupsText.empty() || rulesText.empty())
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Arguments Error"), __LINE__);
  if (!ParseJson(groupsText, &groupsJson, &line, &column) ||
      !ParseJson(rulesText, &rulesJson, &line, &column))
    return SVNReply::Fail(
        STATUS_ERROR(kFailed, "Failed to parse groups or rules [line %u, column %u]", line, column),
        __LINE__);
  if (!DecodeGroups(groupsJson, &groups) || !DecodeRules(rulesJson, &list))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Groups or rules are not of their form."),
                          __LINE__);
  std::unique_ptr<SVNRepo> repo;
  std::unique_ptr<SVNRules> rules;
  SVNStatus status = openExisting(name, SVNRepo::kUpdate, &repo);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  const SVNSharing sharing = FindSharing(*repo);
  if (!(status = repo->openRules(&rules)).ok())
    return SVNReply::Fail(STATUS_WITH(status, "Get rules failed."), __LINE__);
  SVNChanges::Watch watch(&changes_, *repo, rules.get());
  const std::string groupsFile = GroupsFileReason(sharing);
  if (!list.empty() && !groupsFile.empty()) {
    status = STATUS_ERROR(kHandmade, "Rules of %s would go in the groups file of others.",
                          name.c_str())
                 .Reason(groupsFile);
  } else if (!(status = rules->replace(groups, list, !sharing.rules.empty(), repo.get())).ok()) {
    STATUS_WITH(status, "Set rules failed.");
  } else {
    // Groups and rules for every repository using the file, and the
    // settings, reach those that share them.
    const std::vector<std::string> none;
    status = consent(name, Union(rules->changedForAll() ? sharing.rules : none,
                                 repo->settingsChanged() ? sharing.settings : none));
    if (status.ok() && !(status = repo->save(rules.get())).ok())
      STATUS_WITH(status, "Save repository %s failed.", name.c_str());
    if (status.ok()) return SVNReply::Data(Json::Value());
  }
  return SVNReply::Fail(std::move(status), __LINE__);
}
