// rules.h: a repository's access rules, in the authz file its settings
// name (Subversion's authz format).
//
// The file is the one authz-db names, relative to conf/; while authz-db is
// active the rules bind, and otherwise conf/authz is read, which then binds
// nobody.  The page manages its [groups] section and its path sections
// ("[/trunk]"); everything else in it stays as it is.  What the page cannot
// show or send back meaning the same is left to be edited by hand.
#ifndef SVN_STORE_RULES_H_
#define SVN_STORE_RULES_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/authz_engine.h"
#include "store/conf_file.h"
#include "store/status.h"

class SVNRepo;

class SVNRules {
 public:
  // One rule: who ("alice", "@group", "*", "$anonymous", "$authenticated")
  // may do what ("rw", "r", or "" for nothing) at a path ("/", "/trunk"),
  // for every repository that uses the file (`scope` "all": a "[/path]"
  // section) or this one only ("repository": "[NAME:/path]").
  struct Rule {
    std::string path, who, access, scope;
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
  // replace, and not given to the engine.
  static constexpr long long kMaxGroupExpansion = 100000;

  // Reads the rules of `repo` (opened with its accounts; its rules file is
  // opened as its files were, see SVNRepo::openFlags): from the file
  // authz-db names (conf/authz while it names none), or from the youngest
  // revision of a repository ("^/...", "file://...").  Rules that cannot
  // be edited here, or that svnserve refuses, are read all the same, with
  // a reason; so are rules whose table is over a bound (see AccessLoad),
  // but they are not given to the engine.  Fails only when a file cannot
  // be read at all.  `use`: 0, or kMeasure.
  static SVNStatus Open(const SVNRepo& repo, std::unique_ptr<SVNRules>* rules, int use = 0);
  // A use of Open: the rules are read to be measured (see AccessLoad), not
  // to be asked about: Subversion's engine is not loaded for them.
  static constexpr int kMeasure = 0x1000;
  ~SVNRules();
  SVNRules(const SVNRules&) = delete;
  SVNRules& operator=(const SVNRules&) = delete;

  // Whether the rules bind the repository (authz-db is active).
  bool active() const { return active_; }
  // The groups and the rules that bind this repository, as the file holds
  // them; while none bind (authz-db off), those that would once it names
  // the file, which an edit keeps unless it changes them: the file may be
  // in force for other repositories.
  const Groups& groups() const { return groups_; }
  const std::vector<Rule>& rules() const { return rules_; }
  // The login names the rules in force use (inverted or not), as written.
  const std::set<std::string>& names() const { return names_; }
  // Subversion's engine over the rules in force; null while none bind,
  // while their table is over a bound, or when svnserve refuses them (then
  // it refuses every connection: see refused()).
  const SVNAuthzEngine* engine() const { return engine_.get(); }
  bool refused() const { return refused_; }
  // What the engine goes through, reading the rules, for each user name
  // they use (userNames()), and then for each login it is asked about:
  // the sections of rules in the file (all but [groups] and [aliases])
  // and their entries.
  long long ruleWork() const { return ruleWork_; }
  long long userNames() const { return userNames_; }
  // How many members Subversion visits expanding the groups in force, up
  // to kMaxGroupExpansion + 1.
  long long groupExpansion() const { return groupExpansion_; }

  // Whether the page may change the rules (replace); if not, why, in one
  // sentence for a person.
  bool editable() const { return reason_.empty(); }
  const std::string& reason() const { return reason_; }

  // Replaces the rules that bind this repository and the groups whole:
  // every path absolute and canonical, every name one the authz file can
  // hold (UTF-8), groups defined before use, never containing themselves
  // and not nesting past kMaxGroupExpansion, no (scope, path, who) twice.
  // A rule without a scope goes where the file keeps this repository's
  // rules: "[/path]" in a file no other repository uses (`shared` false),
  // "[NAME:/path]" in one that others use.  Other repositories' sections,
  // and everything else in the file, stay as they are.  Account names are
  // written in lower case and, with rules, svnserve is told to fold logins
  // so (force-username-case = lower, in `repo`'s settings): no spelling of
  // a login escapes a rule.  authz-db is activated when there are rules,
  // and commented out when there are none (the file stays).  Changes this
  // object and `repo` only (see SVNRepo::save).  Refused (kHandmade, with
  // the reason) when the rules are not editable, and when the table of
  // what each login may do under the new rules would be over a bound (see
  // access.h): what the program writes it can always show again.
  SVNStatus replace(const Groups& groups, const std::vector<Rule>& rules, bool shared,
                    SVNRepo* repo);

  // After replace: whether the groups, or rules every repository using
  // the file obeys, changed.
  bool changedForAll() const { return changedForAll_; }

  // The rules file as read, a file kept in a repository included (null
  // when it could not be read): for reading; file() is what may be
  // written.
  PNLIBCONF readFile() const { return file_.p; }

  // For SVNRepo::save (see SaveRepoAndRules): the file (null when none
  // may be written) and whether it is written before the settings (it
  // is, unless the rules are turned off).
  PNLIBCONF file() const { return inRepository_ ? nullptr : file_.p; }
  bool writeFirst() const { return writeFirst_; }

 private:
  SVNRules() = default;
  // Reading, in this order: the file (false when it cannot be read), a
  // groups file, the sections (what binds this repository, and whether
  // the page can show it), the bounds of the groups (false when over),
  // and Subversion's engine.
  SVNStatus read(const SVNRepo& repo, int flags, bool engine);
  bool readFile(const SVNRepo& repo, int flags);
  void readGroupsFile(const SVNRepo& repo, Groups* groups, std::string* text);
  SVNStatus classify(const SVNRepo& repo);
  SVNStatus readSection(const std::string& section,
                        std::map<std::pair<std::string, std::string>, size_t>* at);
  void readGroup(const std::string& group, const std::string& value);
  bool measure(const Groups& dbGroups);
  void checkWithEngine(const std::string& groupsText);
  // Notes a login name the file uses, inverted ("~name") or not.
  void noteName(const std::string& name);
  // Replacing, in this order: the new groups and rules checked and
  // written as they are written (scopes, names in lower case), their
  // sections written, authz-db and force-username-case switched, and the
  // result checked as a later read would.
  SVNStatus prepare(bool shared, Groups* groups, std::vector<Rule>* rules) const;
  SVNStatus writeSections(const Groups& groups, const std::vector<Rule>& rules);
  SVNStatus switchRules(SVNRepo* repo, bool on);
  SVNStatus checkReplaced(const SVNRepo& repo);
  // The text at `location` (a path setting's value) as svnserve reads it:
  // a file, or a file in a repository.
  SVNStatus load(const SVNRepo& repo, const std::string& location, int flags,
                 SVNConfFile* conf);
  // Notes why the rules cannot be edited, unless a reason is known.
  void handmade(const std::string& why);

  std::string repoName_;
  SVNConfFile file_;
  bool active_ = false;
  bool inRepository_ = false;  // read from a repository: never written
  bool refused_ = false;
  bool changedForAll_ = false;
  bool writeFirst_ = true;
  std::string reason_;
  Groups groups_;  // in force
  std::vector<Rule> rules_;
  Groups fileGroups_;  // as the file holds them, in force or not
  std::vector<Rule> fileRules_;
  std::set<std::string> names_;
  long long ruleWork_ = 0;
  long long userNames_ = 0;
  long long groupExpansion_ = 0;
  std::unique_ptr<SVNAuthzEngine> engine_;
};

// Writes what `repo` and `rules` changed (see SVNRepo::save).
SVNStatus SaveRepoAndRules(SVNRepo* repo, SVNRules* rules);

// What working out the table of what each login may do where costs (see
// access.h), and its bounds.

// The logins Subversion's engine is asked about for the accounts of a
// repository: for each account the spellings of its name it is asked
// about (without folding, each one the rules name and the account's own),
// and whether it has others no rule names (asked about once for all).
struct SVNLogins {
  struct Account {
    const std::string* name;
    std::vector<std::string> spellings;
    bool other = false;
  };
  std::vector<Account> accounts;
  size_t count = 1;  // in all: an anonymous user, the spellings, one unnamed
};
SVNLogins LoginsOf(const SVNRepo& repo, const SVNRules& rules);

// The share of the bounds a table of `paths` paths for `logins` uses.
double TableLoad(const SVNRules& rules, size_t paths, const SVNLogins& logins);

// The paths "rules_show" answers for: the root while rules are in force
// (a path no rule reaches is closed to everyone) and each rule's path (of
// either scope), each once.
std::vector<std::string> AccessPaths(const SVNRules& rules);

// The share of the bounds that the table of AccessPaths for `repo` under
// `rules` uses: at most 1 when it can be shown.  Subversion's engine is
// asked about every path for each login it may tell apart (see
// LoginsOf), and goes through the rules (SVNRules::ruleWork) once for
// each such login and, as it reads them, once for each user name they
// use: both are bounded (SVNRules::kMaxAccessCells, kMaxRuleWork), and so
// is the expansion of the groups (kMaxGroupExpansion).  Cheap: nothing is
// asked of the engine.
double AccessLoad(const SVNRepo& repo, const SVNRules& rules);

// What the program writes it can always show again: fails when `repo` and
// `rules`, as changed, give a table over a bound that, before the change,
// used `before` (AccessLoad) of the bounds, unless the change leaves it no
// larger.
SVNStatus CheckAccessChange(const SVNRepo& repo, const SVNRules& rules, double before);

#endif  // SVN_STORE_RULES_H_
