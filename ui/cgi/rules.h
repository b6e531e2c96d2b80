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

  // The most entries (paths x accounts) a table of what accounts may do
  // holds.
  static constexpr size_t kMaxAccessCells = 1000000;
  // The most members Subversion's expansion of the groups may visit in
  // all (it expands a subgroup again wherever it appears, on every
  // svnserve connection): nesting that costs more is refused by replace,
  // and not read by Open.
  static constexpr long long kMaxGroupExpansion = 100000;

  // Reads the rules of `repo` (opened with its accounts; `flags`: as its
  // files were opened, for an update or not): the groups and rules in force,
  // repeated entries joined as Subversion joins them.  Fails when the
  // rules are not in a file of their own, cannot be read, or svnserve
  // would refuse them.
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
  // Subversion's engine over the rules in force; null while none bind.
  const SVNAuthzEngine* engine() const { return engine_.get(); }

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
  // force-username-case, anything this call would refuse).
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
  std::unique_ptr<SVNAuthzEngine> engine_;
};

#endif  // SVN_CGI_RULES_H_
