// svn_repo.h: one Subversion repository of the package, on disk.
//
// A repository is a directory directly under the repository root, made by
// the package's svnadmin, holding conf/svnserve.conf (the server's
// settings: realm, anonymous access) and conf/passwd (section [users]:
// account name = clear-text password).  An SVNRepo object is the in-memory
// model of one repository for the span of one request: it owns its fields,
// holds no file or handle between calls, and its destructor changes nothing
// on disk.
//
// Every failure is logged to syslog (LOG_ERR, "svn_repo:LINE ...") where it
// is detected.  Operations return 0 or -1; the two constructors throw
// instead (std::invalid_argument for a missing argument, std::runtime_error
// for anything else).  Nothing is rolled back after a failure.
#ifndef SVN_REPO_H_
#define SVN_REPO_H_

#include <json/value.h>

#include <map>
#include <string>

class SVNRepo {
 public:
  // Opens the existing repository `dirname`: reads its anonymous access
  // level and realm from the settings file (empty when a key is absent)
  // and its accounts from the account file.  Reads only.  Does not test
  // whether the repository exists (see isExist).
  // Throws std::invalid_argument for an empty name; std::runtime_error when
  // the name holds ".." or "/", or a file cannot be read.
  explicit SVNRepo(const std::string& dirname);

  // Creates the repository `dirname` with the package's svnadmin, makes the
  // settings lines anon-access, auth-access and password-db active, writes
  // `realm` (unless empty: the tool's realm line is then left alone) and
  // `anon` (written as given), and replaces the accounts by `accounts` (an
  // array of {"account","password"} objects, see setAccounts).
  // Throws std::invalid_argument for an empty name or access level;
  // std::runtime_error for every other failure.  What was done before a
  // failure stays on disk.
  SVNRepo(const std::string& dirname, const std::string& realm,
          const std::string& anon, const Json::Value& accounts);

  // True when `dirname` names a repository: a directory (or a link to
  // one) directly under the root holding both conf files.  A name holding
  // "/" names nothing directly under the root and is false; otherwise the
  // name is looked up as the path it spells (it is not checked for "..").
  // An empty name is false (and logged).
  static bool isExist(const std::string& dirname);

  // The repository root followed by "/" and `dirname`, unchecked.
  static std::string getRepoPath(const std::string& dirname);

  // Writes the realm into the settings file: an empty realm comments the
  // realm line out; otherwise the line is made active if needed and given
  // the value.  The field changes only on success.  0 or -1.
  int setRealm(const std::string& newRealm);

  // Writes the anonymous access level (any text) into the settings file.
  // The field changes only on success.  0 or -1.
  int setAnonymousPermission(const std::string& permission);

  std::string getName() const { return name; }
  std::string getRealm() const { return realm; }
  std::string getAnonymousPermission() const { return anon; }

  // Replaces the accounts by the account list `json` (an array of objects
  // with the string members "account" and "password"; a missing member
  // reads as empty, the later of two equal names wins) and rewrites the
  // account file's [users] section with them.  A value of another shape is
  // refused before anything changes.  When writing fails the object holds
  // the new list and the file is as the library left it.  0 or -1.
  int setAccounts(Json::Value json);

  // A copy of the accounts, ordered by name byte by byte.
  std::map<std::string, std::string> getAccounts() const { return accounts; }

 private:
  // -1 (logged) when the name holds ".." or "/", else 0.
  int checkPath(const std::string& dirtyInput);
  // Fills name and the three paths; -1 (logged, nothing changed) for an
  // empty name or one that fails checkPath.
  int initPath(const std::string& dirname);
  // Makes the commented-out settings line starting with `lineToken` an
  // active line starting in column 0.  0 or -1.
  int unComment(const std::string& file, const std::string& lineToken);
  // Adds the [users] pairs of the account file to `accounts`.  0 or -1.
  int getAccountFromFile();
  // Writes `accounts` as the account file's [users] section.  0 or -1.
  int writeBackAccount();

  std::map<std::string, std::string> accounts;
  std::string name;
  std::string realm;
  std::string anon;
  std::string path;
  std::string svnservePath;
  std::string passwdPath;
};

#endif  // SVN_REPO_H_
