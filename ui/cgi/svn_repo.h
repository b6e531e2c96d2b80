// svn_repo.h: one Subversion repository of the package, on disk.
//
// A repository is a directory directly under the repository root, made by
// the package's svnadmin, holding conf/svnserve.conf (the server's
// settings, section [general]: realm, anonymous access, password-db) and
// the account file svnserve uses (password-db, by default conf/passwd;
// section [users]: account name = clear-text password).  An SVNRepo
// object is the model of one repository for the span of one request.
//
// Files are read and edited exactly where svnserve reads them: settings in
// [general] and accounts in [users] wherever those sections stand, the
// account file that password-db names (relative to conf/, or absolute;
// links followed, and kept, when written).  The setters only change the
// object; save() writes each changed file once, atomically, so a request
// that is refused part-way changes nothing on disk.  The account file is
// never readable by others once written.
//
// Every failure is logged to syslog (LOG_ERR, "svn_repo:LINE ...") where it
// is detected.  Operations return 0 or -1; the constructors throw instead
// (std::invalid_argument for a missing argument, std::runtime_error for
// anything else).
#ifndef SVN_REPO_H_
#define SVN_REPO_H_

#include <json/value.h>

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "nlibc.h"
#include "svn_fs.h"

class SVNAuthz;

class SVNRepo {
 public:
  // What the opening constructor reads.
  enum Scope {
    kSettings,  // the settings file only (the listing, "show")
    kAccounts,  // and the account file
    kUpdate,    // both, locked against other writers until destruction
  };

  // Opens the existing repository `dirname`: reads its anonymous access
  // level and realm (empty when a key is absent) and, unless `scope` is
  // kSettings, its accounts.  Changes nothing on disk.  Does not test
  // whether the repository exists (see isExist).
  // Throws std::invalid_argument for an empty name; std::runtime_error for
  // a name isValidName refuses, or a file that cannot be read.
  explicit SVNRepo(const std::string& dirname, Scope scope = kAccounts);

  // Creates the repository `dirname` with the package's svnadmin, makes the
  // settings lines anon-access, auth-access and password-db active, writes
  // `realm` (unless empty: the tool's realm line is then left alone) and
  // `anon`, and sets the accounts to `accounts` (see setAccounts).  Every
  // argument is checked before the tool runs.  The repository is made out
  // of svnserve's sight and appears under the root whole, with one rename
  // that never replaces an entry; on any failure nothing appears.
  // With `standardLayout`, revision 1 makes /trunk, /branches and /tags
  // (see MakeStandardLayout), by `author`, before the repository appears.
  // Throws std::invalid_argument for an empty name or access level;
  // NameTaken when another repository took the name meanwhile;
  // std::runtime_error for every other failure.  The object is not for
  // further changes: open the repository for that.
  SVNRepo(const std::string& dirname, const std::string& realm,
          const std::string& anon, const Json::Value& accounts,
          bool standardLayout = false, const std::string& author = "");

  struct NameTaken : std::runtime_error {
    NameTaken() : std::runtime_error("name taken") {}
  };

  ~SVNRepo();
  SVNRepo(const SVNRepo&) = delete;
  SVNRepo& operator=(const SVNRepo&) = delete;

  // Whether `dirname` can name a repository: one entry directly under
  // the root, so not empty, ".", or anything holding "..", "/" or a
  // control character (below U+0020, U+007F).  Logs nothing.
  static bool isValidName(const std::string& dirname);

  // True when `dirname` is a valid name of a repository: a directory (or
  // a link to one) under the root holding conf/svnserve.conf (its accounts
  // may be anywhere password-db says).  An empty name is false (and
  // logged).  `isDirectory`: the caller has seen that the entry is a
  // directory, which is then not looked at again.
  static bool isExist(const std::string& dirname, bool isDirectory = false);

  // The repository root followed by "/" and `dirname`, unchecked.
  static std::string getRepoPath(const std::string& dirname);

  // Takes the existing repository `dirname` off the root with one rename
  // (its name is then free and nothing serves it) and deletes it.  0 once
  // it has left the root: what cannot be deleted is logged and retried by
  // later requests, never listed or served.  -1 (logged, nothing changed)
  // when it cannot be moved.
  static int remove(const std::string& dirname);

  // Sets the realm: an empty realm comments the realm line out; otherwise
  // the line is made active if needed and given the value.  Changes the
  // object only (see save).  -1 (logged, nothing changed) for a realm the
  // settings file cannot hold faithfully.
  int setRealm(const std::string& newRealm);

  // Sets the anonymous access level (any text the file can hold), as
  // setRealm.
  int setAnonymousPermission(const std::string& permission);

  // The youngest revision as the repository's own files say (the first
  // number of db/current), read without the library; -1 when it cannot be
  // read.
  long getRevision() const;

  // The youngest revision, its date and author and the UUID, read through
  // Subversion's library (see ReadRepoFacts).  0, or -1 (logged).
  int getFacts(RepoFacts* facts) const;

  // The bytes of every entry of the repository's directory, itself
  // included: the sizes lstat gives (links are not followed; a file with
  // several links counts once), as "du -sb" counts.  -1 (logged) when a
  // part cannot be read.
  long long getSize() const;

  std::string getName() const { return name; }
  std::string getRealm() const { return realm; }
  std::string getAnonymousPermission() const { return anon; }

  // Replaces the accounts by the account list `json`: an array of objects
  // with the string members "account" and "password" (other members are
  // ignored; the later of two equal names wins).  Refused (-1, logged,
  // nothing changed) unless every element is such an object whose UTF-8
  // name and non-empty UTF-8 password the account file can hold, no two names
  // differing only in case.  Activates password-db = passwd when no
  // password-db is active (accounts of a repository that uses SASL are
  // not ours: only an empty list is taken).  Changes the object only
  // (see save).
  int setAccounts(Json::Value json);

  // A copy of the accounts, ordered by name byte by byte: those svnserve
  // lets log in (none without a password-db).
  std::map<std::string, std::string> getAccounts() const { return accounts; }

  // ---- Access rules ----
  //
  // Kept in the authz file (Subversion's authz format) that authz-db names,
  // relative to conf/; active when authz-db is, and otherwise conf/authz,
  // which then binds nobody.  We manage its [groups] section and its path
  // sections ("[/trunk]"); everything else in it stays as it is.

  // One rule: who ("alice", "@group", "*", "$anonymous", "$authenticated")
  // may do what ("rw", "r", or "" for nothing) at a path ("/", "/trunk").
  struct Rule {
    std::string path, who, access;
  };
  using Groups = std::map<std::string, std::vector<std::string>>;

  // Reads the groups and rules in force (none while authz-db is not
  // active; repeated entries joined as Subversion joins them).  Needs a
  // repository opened with its accounts.  -1 (logged) when the rules
  // cannot be read, or svnserve would refuse them.
  int getRules(Groups* groups, std::vector<Rule>* rules);

  // Whether rules bind the repository (authz-db is active).
  bool hasRules() const { return rulesActive; }

  // The paths of sections in force that name this repository
  // ("[NAME:/path]"): rules the page does not list, but whose effect
  // getAccess shows there.  After getRules.
  const std::vector<std::string>& namedPaths() const { return boundPaths; }

  // What each account that logs in, and "$anonymous", may do at each of
  // `paths`: (*access)[who][i] is 2 (read and write), 1 (read) or 0 at
  // paths[i], as svnserve decides: the access level of [general]
  // (auth-access, anon-access) and the rules, by Subversion's own engine,
  // for the login folded as force-username-case says (without folding,
  // the most any spelling of the name may: logins ignore case); an account
  // may always do what an anonymous user may (clients try that first).  After
  // getRules.  -1 (logged) when the engine cannot be used, or when the
  // table would hold more than kMaxAccessCells entries.
  static constexpr size_t kMaxAccessCells = 1000000;
  // The most members Subversion's expansion of the groups may visit in
  // all (it expands a subgroup again wherever it appears): nesting that
  // costs more is refused by setRules, and not read by getRules.
  static constexpr long long kMaxGroupExpansion = 100000;
  int getAccess(const std::vector<std::string>& paths,
                std::map<std::string, std::vector<char>>* access);

  // Replaces the groups and rules whole: every path absolute and
  // canonical, every name one the authz file can hold (UTF-8), groups
  // defined before use, never containing themselves and not nesting past
  // kMaxGroupExpansion, no (path, who) twice.
  // Account names are written in lower case and, with rules, svnserve is
  // told to fold logins so (force-username-case = lower): no spelling of a
  // login escapes a rule.  Activates authz-db when there are rules,
  // comments it out when there are none (the file stays).  After getRules, on a repository opened for
  // update; changes the object only (see save).  -1 (logged, nothing
  // changed) when refused, or when the file is not for the page to edit:
  // it lies outside conf/ (and may be shared), or holds what the page
  // cannot show or send back meaning the same (aliases, inverted entries,
  // a groups-db, rules naming this repository or globs, names that match
  // no login under force-username-case, anything this call would refuse).
  int setRules(const Groups& groups, const std::vector<Rule>& rules);

  // Writes what the setters changed: each file once, atomically, the rules
  // and the account file first.  When the settings cannot be written the
  // others are put back.  0 or -1 (logged).
  int save();

 private:
  // Owns one configuration file handle of the utility library.
  struct ConfFile {
    PNLIBCONF p = nullptr;
    ConfFile() = default;
    ConfFile(const ConfFile&) = delete;
    ConfFile& operator=(const ConfFile&) = delete;
    ~ConfFile() { NLIBCConfFree(p); }
  };

  // -1 (logged) when isValidName refuses the name, else 0.
  int checkPath(const std::string& dirtyInput);
  // Fills name and the three paths; -1 (logged, nothing changed) for an
  // empty name or one that fails checkPath.
  int initPath(const std::string& dirname);
  // Opens the settings file at `file` and reads realm and anon.  0 or -1.
  int loadSettings(const std::string& file, int flags);
  // Opens the account file password-db names (relative to `confDir`;
  // without one, confDir/passwd) and adds its [users] pairs to
  // `accounts`.  0 or -1.
  int getAccountFromFile(const std::string& confDir, int flags);
  // The handle the accounts are read from and written to.
  PNLIBCONF accountConf() const {
    return accountsInSettings ? settings.p : passwd.p;
  }
  // Whether svnserve takes accounts from SASL rather than password-db.
  bool usesSasl() const;
  // The value of password-db, empty for none.
  std::string passwordDb() const;
  // Makes the commented-out settings line of `key` active.  0 or -1.
  int unComment(const std::string& key);
  // Writes `accounts` into the account file's [users] section.  0 or -1.
  int writeBackAccount();
  // Builds the new repository in a working directory and moves it under
  // the root; the arguments are checked already.  Throws on failure.
  void create(const std::string& realmText, const std::string& anonText,
              const Json::Value& accountList, bool standardLayout,
              const std::string& author);

  std::map<std::string, std::string> accounts;
  std::string name;
  std::string realm;
  std::string anon;
  std::string path;
  std::string svnservePath;
  std::string passwdPath;   // the default account file, conf/passwd
  std::string settingsFile; // the settings file read (here, or being made)
  std::string accountFile;  // the account file svnserve reads
  bool accountsInSettings = false;  // password-db names the settings file
  int openFlags = 0;        // how the files were opened (locked or not)
  ConfFile authz;           // the rules, once read
  bool rulesActive = false; // authz-db names the file read
  bool rulesEditable = false;  // the file holds only what the page shows
  bool rulesFirst = true;   // save the rules before the settings
  bool accountsChanged = false;  // setAccounts took a list
  std::set<std::string> ruleNames;  // account names the rules in force use
  std::vector<std::string> boundPaths;  // of [NAME:/path] sections in force
  std::unique_ptr<SVNAuthz> engine;  // Subversion's view of the rules
  ConfFile settings;
  ConfFile passwd;
};

#endif  // SVN_REPO_H_
