// rules.h: a repository's access rules, in the authz file its settings
// name (Subversion's authz format).
//
// The file is the one authz-db names, relative to conf/; while authz-db is
// active the rules bind, and otherwise conf/authz is read, which then binds
// nobody.  The page manages its [groups] section and its path sections
// ("[/trunk]"); everything else in it stays as it is.  What the page cannot
// show or send back meaning the same is left to be edited by hand.
#ifndef SVN_CGI_RULES_H_
#define SVN_CGI_RULES_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "authz_engine.h"
#include "conf_file.h"
#include "status.h"

class SVNRepo;

class SVNRules {
 public:
  // One rule: who ("alice", "@group", "*", "$anonymous", "$authenticated")
  // may do what ("rw", "r", or "" for nothing) at a path ("/", "/trunk").
  struct Rule {
    std::string path, who, access;
  };
  using Groups = std::map<std::string, std::vector<std::string>>;

  // The bounds of a table of what each login may do where (see
  // access.h), which rules_show answers, and which every change of rules
  // or accounts keeps: the most entries it holds (paths x the logins
  // Subversion's engine is asked about: an anonymous user, the spellings
  // of the accounts' names)...
  static constexpr size_t kMaxAccessCells = 1000000;
  // ...the most the engine goes through working it out (ruleWork() for
  // each such login and each user name the rules use: half a second or
  // so)...
  static constexpr long long kMaxRuleWork = 50000000;
  // ...and the most members Subversion's expansion of the groups may
  // visit in all (it expands a subgroup again wherever it appears, on
  // every svnserve connection): nesting that costs more is refused by
  // replace, and not given to the engine by Open.
  static constexpr long long kMaxGroupExpansion = 100000;

  // Reads the rules of `repo` (opened with its accounts; `flags`: as its
  // files were opened, for an update or not): the groups and rules in force,
  // repeated entries joined as Subversion joins them.  Fails when the
  // rules are not in a file of their own, cannot be read, or svnserve
  // would refuse them; never for their size: rules whose table is over a
  // bound (see access.h) are read, but not given to the engine.
  static SVNStatus Open(const SVNRepo& repo, int flags, std::unique_ptr<SVNRules>* rules);
  // The file the rules of `repo` are read from (the one authz-db names,
  // or conf/authz without one); empty when authz-db names no file.
  static std::string FileOf(const SVNRepo& repo);
  ~SVNRules();
  SVNRules(const SVNRules&) = delete;
  SVNRules& operator=(const SVNRules&) = delete;

  // Whether the rules bind the repository (authz-db is active).
  bool active() const { return active_; }
  // The groups and the rules of path sections, as the file holds them.
  const Groups& groups() const { return groups_; }
  const std::vector<Rule>& rules() const { return rules_; }
  // The paths of sections in force that name this repository
  // ("[NAME:/path]"): rules the page does not list, but whose effect the
  // access table shows there.
  const std::vector<std::string>& namedPaths() const { return namedPaths_; }
  // The login names the rules in force use (inverted or not), as written.
  const std::set<std::string>& names() const { return names_; }
  // Subversion's engine over the rules in force; null while none bind, or
  // while their table is over a bound.
  const SVNAuthzEngine* engine() const { return engine_.get(); }
  // What the engine goes through, reading the rules, for each user name
  // they use (userNames()), and then for each login it is asked about:
  // the sections of rules in the file (all but [groups] and [aliases])
  // and their entries.
  long long ruleWork() const { return ruleWork_; }
  long long userNames() const { return userNames_; }
  // How many members Subversion visits expanding the groups in force, up
  // to kMaxGroupExpansion + 1.
  long long groupExpansion() const { return groupExpansion_; }

  // Replaces the groups and rules whole: every path absolute and
  // canonical, every name one the authz file can hold (UTF-8), groups
  // defined before use, never containing themselves and not nesting past
  // kMaxGroupExpansion, no (path, who) twice.  Account names are written
  // in lower case and, with rules, svnserve is told to fold logins so
  // (force-username-case = lower, in `repo`'s settings): no spelling of a
  // login escapes a rule.  authz-db is activated when there are rules, and
  // commented out when there are none (the file stays).  Changes this
  // object and `repo` only (see SVNRepo::save).  Refused, nothing changed,
  // when the file is not for the page to edit: it lies outside conf/ (and
  // may be shared), or holds what the page cannot show or send back
  // meaning the same (aliases, inverted entries, a groups-db, rules naming
  // this repository or globs, names that match no login under
  // force-username-case, anything this call would refuse), or when the
  // table of what each login may do under the new rules would be over a
  // bound (see access.h).
  SVNStatus replace(const Groups& groups, const std::vector<Rule>& rules, SVNRepo* repo);

  // For SVNRepo::save: the file (null when unread) and whether it is
  // written before the settings (it is, unless the rules are turned off).
  PNLIBCONF file() const { return file_.p; }
  bool writeFirst() const { return writeFirst_; }

 private:
  SVNRules() = default;
  SVNStatus read(const SVNRepo& repo, int flags);

  std::string repoName_;
  SVNConfFile file_;
  bool active_ = false;
  bool editable_ = false;
  bool writeFirst_ = true;
  Groups groups_;
  std::vector<Rule> rules_;
  std::vector<std::string> namedPaths_;
  std::set<std::string> names_;
  long long ruleWork_ = 0;
  long long userNames_ = 0;
  long long groupExpansion_ = 0;
  std::unique_ptr<SVNAuthzEngine> engine_;
};

#endif  // SVN_CGI_RULES_H_
