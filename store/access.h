// access.h: what each login may do where, as svnserve decides it, and
// what it costs to work that out.
#ifndef SVN_STORE_ACCESS_H_
#define SVN_STORE_ACCESS_H_

#include <map>
#include <string>
#include <vector>

#include "store/status.h"

class SVNRepo;
class SVNRules;

// By login ("$anonymous" for an anonymous user), what it may do at each
// path: 2 (read and write), 1 (read) or 0.
using SVNAccessTable = std::map<std::string, std::vector<char>>;

// The paths "rules_show" answers for: the root while rules are in force
// (a path no rule reaches is closed to everyone) and each rule's path (of
// either scope), each once.
std::vector<std::string> AccessPaths(const SVNRules& rules);

// The share of the bounds that the table of AccessPaths for `repo` under
// `rules` uses: at most 1 when it can be shown.  Subversion's engine is
// asked about every path for each login it may tell apart (an anonymous
// user, each spelling of each account's name the rules name, see
// EffectiveAccess, and one for the spellings they do not name), and goes
// through the rules (SVNRules::ruleWork) once for each such login and, as
// it reads them, once for each user name they use: both are bounded
// (SVNRules::kMaxAccessCells, kMaxRuleWork), and so is the expansion of
// the groups (kMaxGroupExpansion).  Cheap: nothing is asked of the
// engine.
double AccessLoad(const SVNRepo& repo, const SVNRules& rules);

// What the program writes it can always show again: fails when `repo` and
// `rules`, as changed, give a table over a bound that, before the change,
// used `before` (AccessLoad) of the bounds, unless the change leaves it no
// larger.
SVNStatus CheckAccessChange(const SVNRepo& repo, const SVNRules& rules, double before);

// What each account of `repo` that logs in, and "$anonymous", may do at
// each of `paths` (access[who][i] for paths[i]), as svnserve decides: the
// access level of [general] (auth-access, anon-access) and `rules`, by
// Subversion's own engine, for the login folded as force-username-case
// says (without folding, the most any spelling of the name may: logins
// ignore case); an account may always do what an anonymous user may
// (clients try that first), and while anonymous users may write somewhere
// it writes only where they may (its commits are made anonymously).
// Nobody may do anything where svnserve refuses every connection (rules
// it refuses, an account file it cannot read through).
// Fails, before asking the engine anything, when the table of `paths` is
// over a bound (see AccessLoad).
SVNStatus EffectiveAccess(const SVNRepo& repo, const SVNRules& rules,
                          const std::vector<std::string>& paths, SVNAccessTable* access);

#endif  // SVN_STORE_ACCESS_H_
