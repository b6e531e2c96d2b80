// repo.h: one Subversion repository of the package: its settings file and
// its accounts.
//
// A repository is a directory directly under the repository root (see
// store.h), made by the package's svnadmin, holding conf/svnserve.conf
// (the server's settings: realm, access levels, password-db, ...; see
// settings.h) and the account file svnserve uses (password-db, by
// default conf/passwd; section [users]: account name = clear-text
// password).  An SVNRepo is the model of one repository for the span of
// one request.
//
// Files are read and edited exactly where svnserve reads them: settings in
// [general] and accounts in [users] wherever those sections stand, the
// account file that password-db names (relative to conf/, or absolute;
// links followed, and kept, when written).  The setters only change the
// object; save() writes each changed file once, atomically, so a request
// that is refused part-way changes nothing on disk.  The account file is
// never readable by others once written.
#ifndef SVN_CGI_REPO_H_
#define SVN_CGI_REPO_H_

#include <functional>
#include <memory>
#include <string>

#include "accounts.h"
#include "conf_file.h"
#include "settings.h"
#include "status.h"

class SVNRules;

class SVNRepo {
 public:
  // What open() reads.
  enum Scope {
    kSettings,  // the settings file only (the listing, "show")
    kAccounts,  // and the account file
    kUpdate,    // both, locked against other writers until destruction
  };

  // Opens the existing repository `name`: reads its settings and, unless
  // `scope` is kSettings, its accounts.  Changes nothing on disk.  Fails
  // for a name IsValidName refuses, or a file that cannot be read.  `at`,
  // when not empty, is where the repository lies instead of under the
  // root (one being made in the working directory).
  static SVNStatus open(const std::string& name, Scope scope, std::unique_ptr<SVNRepo>* repo,
                        const std::string& at = std::string());

  // Creates the repository `name` with the package's svnadmin, makes the
  // settings anon-access, auth-access and password-db active, writes
  // `realm` (unless empty: the tool's realm line is then left alone) and
  // `anon`, and sets the accounts to `accounts`.  Every argument is checked
  // before the tool runs.  The repository is made in the working directory
  // (see work_dir.h) and appears under the root whole, with one rename
  // that never replaces an entry; on any failure nothing appears (kExists
  // when another repository took the name meanwhile).  With
  // `standardLayout`, revision 1 makes /trunk, /branches and /tags (see
  // layout.h), by `author`, before the repository appears.  `fill`, when
  // given, runs on the new repository's directory right after the tool
  // made it (a restore loads its history there); its failure is the
  // creation's.
  using Fill = std::function<SVNStatus(const std::string& dir)>;
  static SVNStatus create(const std::string& name, const std::string& realm,
                          const std::string& anon, const SVNAccountList& accounts,
                          bool standardLayout, const std::string& author,
                          const Fill& fill = nullptr);

  ~SVNRepo();
  SVNRepo(const SVNRepo&) = delete;
  SVNRepo& operator=(const SVNRepo&) = delete;

  const std::string& getName() const { return name; }
  const std::string& getRealm() const { return realm; }
  const std::string& getAnonymousPermission() const { return anon; }
  // The repository's directory.
  const std::string& getPath() const { return path; }
  // The accounts svnserve lets log in (none without a password-db).
  const SVNAccounts& getAccounts() const { return accounts; }

  // The value svnserve gets for a setting, if any (see settings.h).
  std::optional<std::string> setting(SVNSettingId id) const { return SettingIn(settings.p, id); }
  // The value svnserve uses: the file's, or its fallback.
  std::string settingUsed(SVNSettingId id) const { return SettingUsed(settings.p, id); }

  // Sets the realm: an empty realm comments the realm line out; otherwise
  // the line is made active if needed and given the value.  Refused
  // (nothing changed) for a realm the settings file cannot hold
  // faithfully.
  SVNStatus setRealm(const std::string& newRealm);

  // Sets the anonymous access level (any text the file can hold), as
  // setRealm.
  SVNStatus setAnonymousPermission(const std::string& permission);

  // Sets or comments out (`value` null) a setting, as setRealm.
  SVNStatus setSetting(SVNSettingId id, const char* value);

  // Replaces the accounts by `list` (see CheckAccounts).  Activates
  // password-db = passwd when no password-db is active (accounts of a
  // repository that uses SASL are not ours: only an empty list is taken).
  SVNStatus setAccounts(const SVNAccountList& list);

  // The access rules that bind this repository (see rules.h), read from
  // the file its settings name, locked as the repository is.
  SVNStatus openRules(std::unique_ptr<SVNRules>* rules) const;

  // Writes what the setters (and `rules`, when given) changed: each file
  // once, atomically, the rules and the account file before the settings
  // that point at them (rules turned off after).  When a file cannot be
  // written the others are put back.
  SVNStatus save(SVNRules* rules = nullptr);

 private:
  SVNRepo() = default;
  // Fills name and the paths; fails for an empty name or one that
  // IsValidName refuses.
  SVNStatus initPath(const std::string& dirname);
  // Opens the settings file at `file` and reads realm and anon.
  SVNStatus loadSettings(const std::string& file, int flags);
  // Opens the account file password-db names (relative to `confDir`;
  // without one, confDir/passwd) and reads its [users] pairs.
  SVNStatus loadAccounts(const std::string& confDir, int flags);
  // The handle the accounts are read from and written to.
  PNLIBCONF accountConf() const { return accountsInSettings ? settings.p : passwd.p; }
  // Whether svnserve takes logins from SASL rather than password-db.
  bool usesSasl() const;
  // Writes `accounts` into the account file's [users] section.
  SVNStatus writeAccounts();
  // Builds a new repository in a working directory and moves it under
  // the root; the arguments are checked already.
  SVNStatus build(const std::string& realmText, const std::string& anonText,
                  const SVNAccountList& list, bool standardLayout, const std::string& author,
                  const Fill& fill);

  SVNAccounts accounts;
  std::string name;
  std::string realm;
  std::string anon;
  std::string path;
  std::string settingsFile;  // the settings file read (here, or being made)
  std::string accountFile;   // the account file svnserve reads
  bool accountsInSettings = false;  // password-db names the settings file
  bool accountsChanged = false;     // setAccounts took a list
  int openFlags = 0;                // how the files were opened (locked or not)
  SVNConfFile settings;
  SVNConfFile passwd;
};

#endif  // SVN_CGI_REPO_H_
