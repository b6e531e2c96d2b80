// rules_text.h: the authz file's text as Subversion reads it, and what
// the page may write into it: the helpers of the rules' room (rules.cpp
// reads, rules_edit.cpp writes, rules_cost.cpp measures).
#ifndef SVN_STORE_RULES_TEXT_H_
#define SVN_STORE_RULES_TEXT_H_

#include <string>
#include <vector>

#include "nlibc.h"
#include "store/rules.h"
#include "store/status.h"

namespace authz_text {

// The section of the groups.
extern const char kGroups[];

// Names Subversion's authz reads as something else than an account or
// group: "@group", "$token", "&alias", "*", "~inverted".
bool SpecialFirst(const std::string& name);

// A name the authz file can hold as an option name: an account or group.
bool AuthzName(const std::string& name);

// An absolute, canonical path as authz rules take them: "/", "/a/b"; no
// empty, "." or ".." segment, no trailing "/", no control character, no
// "]" (which would end the section's name).
bool RulePath(const std::string& path);

// The rights an authz value grants, as Subversion reads it ('r' and 'w',
// blanks ignored): "rw", "r" or "".
std::string Rights(const std::string& value);

// Splits a group's members as Subversion does: at commas, blanks trimmed,
// empty ones dropped.
std::vector<std::string> Members(const std::string& value);

// How many members Subversion visits when it expands every group: it
// expands a subgroup again wherever it appears, so a few hundred bytes of
// nested groups can cost it (and svnserve, on every connection) hours.
// Counted up to `limit` + 1; -1 when a group contains itself, directly or
// through others.
long long GroupExpansion(const SVNRules::Groups& groups, long long limit);

// Whether replace takes `groups` and `rules` as they stand; *why (when
// given) says why not.
bool RulesAcceptable(const SVNRules::Groups& groups, const std::vector<SVNRules::Rule>& rules,
                     SVNStatus* why);

// Account names folded as replace writes them.
void LowerAccounts(SVNRules::Groups* groups, std::vector<SVNRules::Rule>* rules);

// The strings of a list of the utility library.
std::vector<std::string> Strings(PNLIBSZLIST list);

// What Subversion's engine goes through over the rules of `file` (and the
// groups `more`, of a groups file): *work, every section of rules (all but
// [groups] and [aliases]) and every entry of those, which it goes through
// once for each user name the rules use (*names: of entries, groups and
// aliases) when it reads them, and once for each login it is asked about.
// The most there is when the file cannot be listed.
void MeasureRules(PNLIBCONF file, const SVNRules::Groups& more, long long* work,
                  long long* names);

// The section of a rule: "/path" for every repository using the file,
// "NAME:/path" for repository NAME alone.
std::string SectionOf(const SVNRules::Rule& r, const std::string& repo);

// Whether a repository's name can stand in a section's name: a name
// holding ':' or ']' would be read as another section.
bool NameInSection(const std::string& repo);

}  // namespace authz_text

#endif  // SVN_STORE_RULES_TEXT_H_
