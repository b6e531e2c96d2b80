// rules_actions.cpp: the actions on a repository's access rules:
// "rules_show" and "rules_edit".

#include <syslog.h>

#include <vector>

#include "store/access.h"
#include "store/json_text.h"
#include "store/rules.h"
#include "store/sharing.h"
#include "ui/cgi/actions.h"

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

SVNReply RulesShowAction(SVNRequest& req) {
  const std::string name = req.In("name");
  if (name.empty()) return REPLY_ERROR(kFailed, "Arguments Error");
  std::unique_ptr<SVNRepo> repo;
  std::unique_ptr<SVNRules> rules;
  Json::Value resp;
  REPLY_TRY(OpenExisting(name, SVNRepo::kAccounts, HERE, &repo));
  REPLY_TRY_WITH(SVNRules::Open(*repo, &rules), "Get rules failed.");
  REPLY_TRY_WITH(ShowRules(*repo, *rules, &resp), "Fill rules into json failed.");
  return SVNReply::Data(std::move(resp));
}

namespace {

// The "groups" and "rules" texts of a rules_edit.
SVNStatus ParseRules(const std::string& groupsText, const std::string& rulesText,
                     SVNRules::Groups* groups, std::vector<SVNRules::Rule>* rules) {
  Json::Value groupsJson, rulesJson;
  unsigned line = 0, column = 0;
  if (!ParseJson(groupsText, &groupsJson, &line, &column) ||
      !ParseJson(rulesText, &rulesJson, &line, &column))
    return STATUS_ERROR(kFailed, "Failed to parse groups or rules [line %u, column %u]", line,
                        column);
  if (!DecodeGroups(groupsJson, groups) || !DecodeRules(rulesJson, rules))
    return STATUS_ERROR(kFailed, "Groups or rules are not of their form.");
  return SVNStatus();
}

}  // namespace

SVNReply RulesEditAction(SVNRequest& req) {
  const std::string name = req.In("name");
  const std::string groupsText = req.In("groups");
  const std::string rulesText = req.In("rules");
  SVNRules::Groups groups;
  std::vector<SVNRules::Rule> list;
  if (name.empty() || groupsText.empty() || rulesText.empty())
    return REPLY_ERROR(kFailed, "Arguments Error");
  REPLY_TRY(ParseRules(groupsText, rulesText, &groups, &list));
  std::unique_ptr<SVNRepo> repo;
  std::unique_ptr<SVNRules> rules;
  REPLY_TRY(OpenExisting(name, SVNRepo::kUpdate, HERE, &repo));
  const SVNSharing sharing = FindSharing(*repo);
  REPLY_TRY_WITH(SVNRules::Open(*repo, &rules), "Get rules failed.");
  SVNChanges::Watch watch(&req.changes(), *repo, rules.get());
  const std::string groupsFile = GroupsFileReason(sharing);
  if (!list.empty() && !groupsFile.empty())
    return SVNReply::Fail(STATUS_ERROR(kHandmade, "Rules of %s would go in the groups file of "
                                       "others.", name.c_str())
                              .Reason(groupsFile),
                          __LINE__);
  REPLY_TRY_WITH(rules->replace(groups, list, !sharing.rules.empty(), repo.get()),
                 "Set rules failed.");
  // Groups and rules for every repository using the file, and the
  // settings, reach those that share them.
  const std::vector<std::string> none;
  REPLY_TRY(req.consent(name, Union(rules->changedForAll() ? sharing.rules : none,
                                    repo->settingsChanged() ? sharing.settings : none)));
  REPLY_TRY_WITH(SaveRepoAndRules(repo.get(), rules.get()), "Save repository %s failed.",
                 name.c_str());
  return SVNReply::Data(Json::Value());
}
