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
// over a bound (see AccessLoad, rules.h).
SVNStatus EffectiveAccess(const SVNRepo& repo, const SVNRules& rules,
                          const std::vector<std::string>& paths, SVNAccessTable* access);

#endif  // SVN_STORE_ACCESS_H_
