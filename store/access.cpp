// access.cpp: what each login may do where, as svnserve decides it, and
// what that costs to work out.

#include "store/access.h"

#include <algorithm>
#include <set>
#include <utility>

#include "store/repo.h"
#include "store/rules.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

namespace {

// The logins of one account that the rules may tell apart.
struct AccountLogins {
  const std::string* account;
  std::vector<std::string> spellings;  // asked about each
  bool other = false;                  // it has spellings no rule names
};

// The logins the engine is asked about for the accounts of `repo`.
struct Logins {
  std::vector<AccountLogins> accounts;
  size_t count = 1;  // in all: an anonymous user, the spellings, one unnamed
};

// svnserve folds a login as force-username-case says before it asks the
// rules about it.  Without folding, an account logs in under any spelling
// of its name (the password file ignores case) and the rules see that
// spelling: each spelling the rules name is asked about, and one they do
// not name stands for the others, which are all alike.
Logins LoginsOf(const SVNRepo& repo, const SVNRules& rules) {
  const std::string folding = repo.settingUsed(kForceUsernameCase);
  const bool folds = folding == "lower" || folding == "upper";
  std::map<std::string, std::vector<std::string>> named;  // by the name in lower case
  if (!folds && rules.active())
    for (const std::string& n : rules.names()) named[FoldLogin(n, "lower")].push_back(n);
  Logins logins;
  bool unnamed = false;
  for (const auto& a : repo.getAccounts()) {
    if (a.first == "$anonymous") continue;  // not one the rules can name
    AccountLogins one{&a.first, {folds ? FoldLogin(a.first, folding) : a.first}};
    auto same = named.find(FoldLogin(a.first, "lower"));
    if (same != named.end())
      for (const std::string& n : same->second)
        if (n != a.first) one.spellings.push_back(n);
    if (!folds && rules.active()) {
      size_t letters = 0;
      for (unsigned char c : a.first) letters += (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? 1 : 0;
      // Of the 2^letters spellings, these are named or the account's own.
      one.other = letters > 0 && (letters >= 20 || (size_t(1) << letters) > one.spellings.size());
    }
    logins.count += one.spellings.size();
    unnamed = unnamed || one.other;
    logins.accounts.push_back(std::move(one));
  }
  if (unnamed) ++logins.count;
  return logins;
}

// The share of the bounds a table of `paths` paths for `logins` uses.
double Load(const SVNRules& rules, size_t paths, const Logins& logins) {
  if (paths == 0) return 0;
  double load = double(paths) * double(logins.count) / double(SVNRules::kMaxAccessCells);
  if (rules.active()) {
    load = std::max(load, double(rules.ruleWork()) * double(rules.userNames() + logins.count) /
                              double(SVNRules::kMaxRuleWork));
    load = std::max(load, double(rules.groupExpansion()) / double(SVNRules::kMaxGroupExpansion));
  }
  return load;
}

}  // namespace

std::vector<std::string> AccessPaths(const SVNRules& rules) {
  std::vector<std::string> paths;
  std::set<std::string> seen;
  if (rules.active() && seen.insert("/").second) paths.push_back("/");
  for (const SVNRules::Rule& r : rules.rules())
    if (seen.insert(r.path).second) paths.push_back(r.path);
  return paths;
}

double AccessLoad(const SVNRepo& repo, const SVNRules& rules) {
  return Load(rules, AccessPaths(rules).size(), LoginsOf(repo, rules));
}

SVNStatus CheckAccessChange(const SVNRepo& repo, const SVNRules& rules, double before) {
  const double after = AccessLoad(repo, rules);
  if (after <= 1 || after <= before) return SVNStatus();
  return STATUS_ERROR(kFailed,
                      "What the logins of %s may do would be too much to show (%.0f%% of a bound, "
                      "%.0f%% before).",
                      repo.getName().c_str(), after * 100, before * 100);
}

SVNStatus EffectiveAccess(const SVNRepo& repo, const SVNRules& rules,
                          const std::vector<std::string>& paths, SVNAccessTable* access) {
  const std::string& name = repo.getName();
  const bool rulesActive = rules.active();
  const SVNAuthzEngine* engine = rules.engine();
  const int authLevel = AccessLevel(repo.settingUsed(kAuthAccess));
  const int anonLevel = AccessLevel(repo.settingUsed(kAnonAccess));
  // A table over the bounds would take minutes and gigabytes to answer:
  // refused before the engine is asked anything.
  const Logins logins = LoginsOf(repo, rules);
  const double load = Load(rules, paths.size(), logins);
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
  for (const AccountLogins& a : logins.accounts) {
    if (a.other && unnamedLevels.empty()) {
      unnamedLevels.resize(paths.size());
      for (size_t i = 0; i < paths.size(); ++i)
        unnamedLevels[i] = std::min(rights(authLevel, unnamed, paths[i]), ownCeiling);
    }
    std::vector<char>& levels = (*access)[*a.account];
    levels = anonymous;
    for (const std::string& user : a.spellings)
      for (size_t i = 0; i < paths.size(); ++i)
        levels[i] = std::max(levels[i], std::min(rights(authLevel, user, paths[i]), ownCeiling));
    if (a.other)
      for (size_t i = 0; i < paths.size(); ++i) levels[i] = std::max(levels[i], unnamedLevels[i]);
  }
  return SVNStatus();
}
