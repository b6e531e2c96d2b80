// rules_cost.cpp: what working out the table of what each login may do
// costs.

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "store/repo.h"
#include "store/rules.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

// svnserve folds a login as force-username-case says before it asks the
// rules about it.  Without folding, an account logs in under any spelling
// of its name (the password file ignores case) and the rules see that
// spelling: each spelling the rules name is asked about, and one they do
// not name stands for the others, which are all alike.
SVNLogins LoginsOf(const SVNRepo& repo, const SVNRules& rules) {
  const std::string folding = repo.settingUsed(kForceUsernameCase);
  const bool folds = folding == "lower" || folding == "upper";
  std::map<std::string, std::vector<std::string>> named;  // by the name in lower case
  if (!folds && rules.active())
    for (const std::string& n : rules.names()) named[FoldLogin(n, "lower")].push_back(n);
  SVNLogins logins;
  bool unnamed = false;
  for (const auto& a : repo.getAccounts()) {
    if (a.first == "$anonymous") continue;  // not one the rules can name
    SVNLogins::Account one{&a.first, {folds ? FoldLogin(a.first, folding) : a.first}};
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

double TableLoad(const SVNRules& rules, size_t paths, const SVNLogins& logins) {
  if (paths == 0) return 0;
  double load = double(paths) * double(logins.count) / double(SVNRules::kMaxAccessCells);
  if (rules.active()) {
    load = std::max(load, double(rules.ruleWork()) * double(rules.userNames() + logins.count) /
                              double(SVNRules::kMaxRuleWork));
    load = std::max(load, double(rules.groupExpansion()) / double(SVNRules::kMaxGroupExpansion));
  }
  return load;
}


std::vector<std::string> AccessPaths(const SVNRules& rules) {
  std::vector<std::string> paths;
  std::set<std::string> seen;
  if (rules.active() && seen.insert("/").second) paths.push_back("/");
  for (const SVNRules::Rule& r : rules.rules())
    if (seen.insert(r.path).second) paths.push_back(r.path);
  return paths;
}

double AccessLoad(const SVNRepo& repo, const SVNRules& rules) {
  return TableLoad(rules, AccessPaths(rules).size(), LoginsOf(repo, rules));
}

SVNStatus CheckAccessChange(const SVNRepo& repo, const SVNRules& rules, double before) {
  const double after = AccessLoad(repo, rules);
  if (after <= 1 || after <= before) return SVNStatus();
  return STATUS_ERROR(kFailed,
                      "What the logins of %s may do would be too much to show (%.0f%% of a bound, "
                      "%.0f%% before).",
                      repo.getName().c_str(), after * 100, before * 100);
}
