// changes.cpp: what a request changed, for its audit record.

#include "ui/cgi/changes.h"

#include <map>
#include <utility>

#include "store/repo.h"
#include "store/setting_table.h"

namespace {

Json::Value Text(const std::optional<std::string>& text) {
  return text ? Json::Value(*text) : Json::Value();
}

Json::Value OldNew(Json::Value old, Json::Value now) {
  Json::Value change(Json::objectValue);
  change["old"] = std::move(old);
  change["new"] = std::move(now);
  return change;
}

Json::Value Names(const std::vector<std::string>& names) {
  Json::Value list(Json::arrayValue);
  for (const std::string& n : names) list.append(n);
  return list;
}

// {"added": [...], "removed": [...], ...}, the empty lists left out.
Json::Value Lists(std::initializer_list<std::pair<const char*, Json::Value>> lists) {
  Json::Value object(Json::objectValue);
  for (const auto& l : lists)
    if (!l.second.empty()) object[l.first] = l.second;
  return object;
}

Json::Value Group(const std::string& name, const std::vector<std::string>& members) {
  Json::Value group(Json::objectValue);
  group["group"] = name;
  group["members"] = Names(members);
  return group;
}

Json::Value Rule(const SVNRules::Rule& r) {
  Json::Value rule(Json::objectValue);
  rule["path"] = r.path;
  rule["who"] = r.who;
  rule["access"] = r.access;
  return rule;
}

// The rules of `from` that `other` does not hold as they are.
Json::Value RulesNotIn(const std::vector<SVNRules::Rule>& from,
                       const std::vector<SVNRules::Rule>& other) {
  std::map<std::pair<std::string, std::string>, std::string> access;
  for (const SVNRules::Rule& r : other) access[{r.path, r.who}] = r.access;
  Json::Value list(Json::arrayValue);
  for (const SVNRules::Rule& r : from) {
    auto it = access.find({r.path, r.who});
    if (it == access.end() || it->second != r.access) list.append(Rule(r));
  }
  return list;
}

// The groups of `from` that `other` does not hold with the same members.
Json::Value GroupsNotIn(const SVNRules::Groups& from, const SVNRules::Groups& other) {
  Json::Value list(Json::arrayValue);
  for (const auto& g : from) {
    auto it = other.find(g.first);
    if (it == other.end() || it->second != g.second) list.append(Group(g.first, g.second));
  }
  return list;
}

}  // namespace

SVNChanges::Watch::Watch(SVNChanges* changes, const SVNRepo& repo, const SVNRules* rules)
    : changes_(changes), repo_(repo), rules_(rules), before_(Take(repo, rules)) {}

SVNChanges::Watch::~Watch() { changes_->compare(before_, Take(repo_, rules_)); }

SVNChanges::State SVNChanges::Take(const SVNRepo& repo, const SVNRules* rules) {
  State state;
  for (int id = 0; id < kSettingCount; ++id)
    state.settings.push_back(repo.setting(static_cast<SVNSettingId>(id)));
  state.accounts = repo.getAccounts();
  if (rules != nullptr) {
    state.rules = true;
    if (rules->active()) {
      state.groups = rules->groups();
      state.rulesInForce = rules->rules();
    }
  }
  return state;
}

void SVNChanges::compare(const State& old, const State& now) {
  for (int id = 0; id < kSettingCount; ++id)
    if (old.settings[id] != now.settings[id])
      json_[Setting(static_cast<SVNSettingId>(id)).name] =
          OldNew(Text(old.settings[id]), Text(now.settings[id]));
  // Accounts by name; of one in both, only whether its password differs.
  std::vector<std::string> added, removed, password;
  for (const auto& a : now.accounts) {
    auto it = old.accounts.find(a.first);
    if (it == old.accounts.end()) {
      added.push_back(a.first);
    } else if (it->second != a.second) {
      password.push_back(a.first);
    }
  }
  for (const auto& a : old.accounts)
    if (!now.accounts.count(a.first)) removed.push_back(a.first);
  Json::Value accounts = Lists(
      {{"added", Names(added)}, {"removed", Names(removed)}, {"password", Names(password)}});
  if (!accounts.empty()) json_["accounts"] = std::move(accounts);
  if (!old.rules || !now.rules) return;
  Json::Value groups = Lists({{"added", GroupsNotIn(now.groups, old.groups)},
                              {"removed", GroupsNotIn(old.groups, now.groups)}});
  if (!groups.empty()) json_["groups"] = std::move(groups);
  Json::Value rules = Lists({{"added", RulesNotIn(now.rulesInForce, old.rulesInForce)},
                             {"removed", RulesNotIn(old.rulesInForce, now.rulesInForce)}});
  if (!rules.empty()) json_["rules"] = std::move(rules);
}

void SVNChanges::created(const SVNNewRepo::Form& what) {
  if (!what.realm.empty()) json_["realm"] = OldNew(Json::Value(), what.realm);
  if (!what.anon.empty()) json_["anon-access"] = OldNew(Json::Value(), what.anon);
  if (!what.authAccess.empty()) json_["auth-access"] = OldNew(Json::Value(), what.authAccess);
  SVNAccounts names;  // in name order, each once
  for (const auto& a : what.accounts) names[a.first];
  std::vector<std::string> added;
  for (const auto& a : names) added.push_back(a.first);
  if (!added.empty()) json_["accounts"] = Lists({{"added", Names(added)}});
  if (what.standardLayout) json_["layout"] = "standard";
}

void SVNChanges::set(const std::string& key, Json::Value value) {
  json_[key] = std::move(value);
}
