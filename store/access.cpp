// access.cpp: what each login may do where, as svnserve decides it.

#include "store/access.h"

#include <algorithm>
#include <set>
#include <utility>

#include "store/repo.h"
#include "store/rules.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

SVNStatus EffectiveAccess(const SVNRepo& repo, const SVNRules& rules,
                          const std::vector<std::string>& paths, SVNAccessTable* access) {
  const std::string& name = repo.getName();
  const bool rulesActive = rules.active();
  const SVNAuthzEngine* engine = rules.engine();
  const int authLevel = AccessLevel(repo.settingUsed(kAuthAccess));
  const int anonLevel = AccessLevel(repo.settingUsed(kAnonAccess));
  // A table over the bounds would take minutes and gigabytes to answer:
  // refused before the engine is asked anything.
  const SVNLogins logins = LoginsOf(repo, rules);
  const double load = TableLoad(rules, paths.size(), logins);
  if (load > 1)
    return STATUS_ERROR(kFailed,
                        "Access of %s is too large to show (%zu paths, %zu logins, %lld names, "
                        "rules %lld, groups %lld: %.0f%% of a bound).",
                        name.c_str(), paths.size(), logins.count, rules.userNames(),
                        rules.ruleWork(), rules.groupExpansion(), load * 100);
  if (rulesActive && engine == nullptr && !rules.refused())
    return STATUS_ERROR(kFailed, "Rules of %s cannot be checked.", name.c_str());
  // Over rules it refuses, or an account file it cannot read through,
  // svnserve refuses every connection.
  const bool refused = (rulesActive && engine == nullptr) || repo.refusesConnections();
  auto rights = [&](int lvl, const std::string& user, const std::string& at) {
    if (refused) return static_cast<char>(0);
    const bool r = lvl >= 1 && (!rulesActive || engine->allows(name, at, user, false));
    const bool w = r && lvl >= 2 && (!rulesActive || engine->allows(name, at, user, true));
    return static_cast<char>(w ? 2 : r ? 1 : 0);
  };
  // One user at a time: the engine works out each user's rules once.
  // A client takes the anonymous login whenever it is offered and logs in
  // only when a request needs it: an account may always do what an
  // anonymous user may.
  std::vector<char>& anonymous = (*access)["$anonymous"];
  anonymous.resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) anonymous[i] = rights(anonLevel, std::string(), paths[i]);
  // A commit asks for write access anywhere before any path: while
  // anonymous users may write somewhere, it goes ahead anonymously and
  // every path is checked for an anonymous user, whatever the account.
  // Only otherwise is the client asked to log in for it.
  const bool anonymousCommits =
      anonLevel >= 2 &&
      (!rulesActive || (engine != nullptr && engine->allows(name, std::string(), std::string(), true)));
  const char ownCeiling = anonymousCommits ? 1 : 2;  // what an account's own rights add
  // An account may do the most any of its logins may.
  std::string unnamed = "unnamed-login";
  while (rules.names().count(unnamed) != 0) unnamed += "-";
  std::vector<char> unnamedLevels;
  for (const SVNLogins::Account& a : logins.accounts) {
    if (a.other && unnamedLevels.empty()) {
      unnamedLevels.resize(paths.size());
      for (size_t i = 0; i < paths.size(); ++i)
        unnamedLevels[i] = std::min(rights(authLevel, unnamed, paths[i]), ownCeiling);
    }
    std::vector<char>& levels = (*access)[*a.name];
    levels = anonymous;
    for (const std::string& user : a.spellings)
      for (size_t i = 0; i < paths.size(); ++i)
        levels[i] = std::max(levels[i], std::min(rights(authLevel, user, paths[i]), ownCeiling));
    if (a.other)
      for (size_t i = 0; i < paths.size(); ++i) levels[i] = std::max(levels[i], unnamedLevels[i]);
  }
  return SVNStatus();
}
