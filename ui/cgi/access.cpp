// access.cpp: what each login may do where, as svnserve decides it.

#include "access.h"

#include <algorithm>

#include "repo.h"
#include "rules.h"
#include "settings.h"

#define LOG_MODULE "svn_repo"

SVNStatus EffectiveAccess(const SVNRepo& repo, const SVNRules& rules,
                          const std::vector<std::string>& paths, SVNAccessTable* access) {
  const std::string& name = repo.getName();
  const SVNAccounts& accounts = repo.getAccounts();
  const bool rulesActive = rules.active();
  const SVNAuthzEngine* engine = rules.engine();
  const std::set<std::string>& ruleNames = rules.names();
  const int authLevel = AccessLevel(repo.settingUsed(kAuthAccess));
  const int anonLevel = AccessLevel(repo.settingUsed(kAnonAccess));
  if (rulesActive && engine == nullptr)
    return STATUS_ERROR(kFailed, "Rules of %s cannot be checked.", name.c_str());
  // A table that large would take minutes and gigabytes to answer.
  if (paths.size() * (accounts.size() + 1) > SVNRules::kMaxAccessCells)
    return STATUS_ERROR(kFailed, "Access of %s is too large to show (%zu paths, %zu accounts).",
                        name.c_str(), paths.size(), accounts.size());
  // svnserve folds a login name as force-username-case says before it
  // asks the rules about it.
  const std::string folding = repo.settingUsed(kForceUsernameCase);
  auto rights = [&](int lvl, const std::string& user, const std::string& at) {
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
      anonLevel >= 2 && (!rulesActive || engine->allows(name, std::string(), std::string(), true));
  const char ownCeiling = anonymousCommits ? 1 : 2;  // what an account's own rights add
  // Without folding, an account logs in under any spelling of its name
  // (the password file ignores case) and the rules see that spelling: it
  // may do the most any spelling may.  Spellings no rule names are all
  // alike; one such login stands for them.
  const bool folds = folding == "lower" || folding == "upper";
  std::string unnamed = "unnamed-login";
  while (ruleNames.count(unnamed) != 0) unnamed += "-";
  std::vector<char> unnamedLevels;
  for (const auto& a : accounts) {
    if (a.first == "$anonymous") continue;  // not one the rules can name
    std::vector<std::string> spellings{a.first};
    bool other = false;  // a spelling no rule names
    if (folds) {
      spellings[0] = FoldLogin(spellings[0], folding);
    } else if (rulesActive) {
      size_t letters = 0;
      for (unsigned char c : a.first) letters += (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? 1 : 0;
      for (const std::string& n : ruleNames)
        if (n != a.first && FoldLogin(n, "lower") == FoldLogin(a.first, "lower"))
          spellings.push_back(n);
      // Of the 2^letters spellings, these are named or the account's own.
      other = letters > 0 && (letters >= 20 || (size_t(1) << letters) > spellings.size());
    }
    if (other && unnamedLevels.empty()) {
      unnamedLevels.resize(paths.size());
      for (size_t i = 0; i < paths.size(); ++i)
        unnamedLevels[i] = std::min(rights(authLevel, unnamed, paths[i]), ownCeiling);
    }
    std::vector<char>& levels = (*access)[a.first];
    levels = anonymous;
    for (const std::string& user : spellings)
      for (size_t i = 0; i < paths.size(); ++i)
        levels[i] = std::max(levels[i], std::min(rights(authLevel, user, paths[i]), ownCeiling));
    if (other)
      for (size_t i = 0; i < paths.size(); ++i) levels[i] = std::max(levels[i], unnamedLevels[i]);
  }
  return SVNStatus();
}
