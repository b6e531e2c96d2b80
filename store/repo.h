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
#ifndef SVN_STORE_REPO_H_
#define SVN_STORE_REPO_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/accounts.h"
#include "store/conf_file.h"
#include "store/locks.h"
#include "store/name.h"
#include "store/setting_table.h"
#include "store/status.h"

// What a new repository is made with, checked: every value is one the
// settings and account files can hold (see Check), before anything is
// made.
class SVNNewRepo {
 public:
  // The values as a request or a command gives them.
  struct Form {
    std::string name;
    std::string realm;       // empty: the tool's realm line is left alone
    std::string anon;        // anon-access
    std::string authAccess;  // auth-access; empty: svnserve's default (write)
    SVNAccountList accounts;
    bool standardLayout = false;  // /trunk, /branches, /tags in revision 1
    std::string author;           // of that revision
  };

  // Checks `form`: the name (see SVNName::Check) and an access level are
  // given, the realm and the access levels can be written, the accounts
  // pass CheckAccounts.  Each refusal is logged with the line of the
  // step that would have failed ("Set realm failed.", ...).
  static SVNStatus Check(const Form& form, std::optional<SVNNewRepo>* checked);

  SVNName name;
  std::string realm, anon, authAccess;
  SVNAccounts accounts;
  bool standardLayout = false;
  std::string author;

 private:
  SVNNewRepo() = default;
};

class SVNRepo {
 public:
  // What open() reads.
  enum Scope {
    kSettings,  // the settings file only (the listing, "show")
    kAccounts,  // and the account file
    kUpdate,    // both, under the locks of the files an update may write
                // (see locks.h) until destruction
  };

  // Opens the existing repository `name`: reads its settings and, unless
  // `scope` is kSettings, its accounts.  Changes nothing on disk.  Fails
  // for a settings file that cannot be read; kBusy when the locks of an
  // update cannot be had.  `at`, when not empty, is where the repository
  // lies instead of under the root (one being made in the working
  // directory; not for an update).
  static SVNStatus open(const SVNName& name, Scope scope, std::unique_ptr<SVNRepo>* repo,
                        const std::string& at = std::string());

  // Opens the repository the package's svnadmin has just made at `dir`
  // (in the working directory) to be `what.name`, and sets it up as
  // `what` says, in memory: the settings anon-access, auth-access and
  // password-db made active, the realm, the access levels and the
  // accounts set.  saveNew() writes it.
  static SVNStatus openNew(const SVNNewRepo& what, const std::string& dir,
                           std::unique_ptr<SVNRepo>* repo);

  ~SVNRepo();
  SVNRepo(const SVNRepo&) = delete;
  SVNRepo& operator=(const SVNRepo&) = delete;

  const SVNName& getName() const { return name; }
  const std::string& getRealm() const { return realm; }
  const std::string& getAnonymousPermission() const { return anon; }
  // The repository's directory.
  const std::string& getPath() const { return path; }
  // The accounts svnserve lets log in (none without a password-db, or
  // with SASL), those the page can show: UTF-8 (see accountsReason).
  const SVNAccounts& getAccounts() const { return accounts; }
  // Why the accounts cannot be changed here, one sentence for a person
  // (SASL decides logins, the account file is not UTF-8); empty when they
  // can.
  const std::string& accountsReason() const { return accountsReason_; }
  // Whether SASL, not password-db, decides who logs in.
  bool usesSasl() const;
  // Whether svnserve refuses every connection, anonymous ones too, over
  // its settings (a use-sasl that is no yes/no word) or the account file
  // password-db names: one that is missing, not a plain file, or does not
  // parse (known once the accounts are read).
  bool refusesConnections() const { return refusesConnections_; }

  // The account file edits write (what password-db names, or conf/passwd
  // without one), and the rules file rules edits write (what authz-db
  // names, or conf/authz; empty when the rules are kept in a repository).
  const std::string& accountFile() const { return accountFile_; }
  const std::string& rulesFile() const { return rulesFile_; }

  // Whether the setters changed the settings file's text, or the account
  // file's.
  bool settingsChanged() const;
  bool accountsChanged() const;

  // The settings file as read (and changed by the setters).
  PNLIBCONF settingsConf() const { return settings.p; }

  // The value svnserve gets for a setting, if any (see settings.h).
  std::optional<std::string> setting(SVNSettingId id) const { return SettingIn(settings.p, id); }
  // Where the path setting `id` = `value` leads, as svnserve finds it once
  // the repository is in its place under the root (see SettingLocation;
  // relative to its conf/): for a repository opened elsewhere (`at`), a
  // file inside it is found there, one outside where it will be.
  std::string locate(SVNSettingId id, const std::string& value) const;

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

  // Sets what accounts that log in may do (auth-access), as setRealm.
  SVNStatus setAuthAccess(const std::string& level);

  // Sets or comments out (`value` null) a setting, as setRealm.
  SVNStatus setSetting(SVNSettingId id, const char* value);

  // Replaces the accounts by `list`, checked (see CheckAccounts): what the
  // account file holds may be sent back as it stands.
  SVNStatus setAccounts(const SVNAccountList& list);
  // Replaces the accounts by `checked`.  Activates password-db = passwd
  // when no password-db is active.  Accounts as getAccounts holds them
  // change nothing.  Otherwise refused (kHandmade, with accountsReason)
  // where the accounts cannot be changed here.
  SVNStatus replaceAccounts(const SVNAccounts& checked);

  // How the files were opened (for an update or not): the flags of
  // NLIBCConfOpen a file read along with them takes.
  int openFlags() const { return openFlags_; }

  // Writes what the setters changed, and `rules` (a rules file's handle,
  // see rules.h) when given: each file once, atomically, the rules and the
  // account file before the settings that point at them (the rules after
  // them when not `rulesFirst`: rules turned off).  When a file cannot be
  // written the others are put back.
  SVNStatus save(PNLIBCONF rules = nullptr, bool rulesFirst = true);

  // Writes the files of a repository openNew made, in place (nothing else
  // reads them yet), and syncs them.
  SVNStatus saveNew();

  // Puts back the account and settings files a save() wrote, after a
  // later step of the same change failed.
  SVNStatus restore();

 private:
  SVNRepo() = default;
  // Opens the settings file at `file` and reads realm, anon, and where the
  // account and rules files are.
  SVNStatus loadSettings(const std::string& file, int flags);
  // The files an update may read and write: settings, accounts, rules.
  std::vector<std::string> updateFiles() const;
  // Opens the account file and reads its [users] pairs.
  SVNStatus loadAccounts(int flags);
  // The handle the accounts are read from and written to.
  PNLIBCONF accountConf() const { return accountsInSettings ? settings.p : passwd.p; }
  // Writes `accounts` into the account file's [users] section.
  SVNStatus writeAccounts();
  // Makes anon-access, auth-access and password-db active and sets what
  // `what` gives, for openNew.
  SVNStatus setUp(const SVNNewRepo& what);

  SVNLocks locks;  // of an update: released after everything else
  SVNAccounts accounts;
  SVNName name;
  std::string realm;
  std::string anon;
  std::string path;
  std::string settingsFile;  // the settings file read (here, or being made)
  std::string accountFile_;  // the account file svnserve reads
  std::string rulesFile_;    // the rules file
  std::string accountsReason_;
  std::string settingsText;  // as read, to tell whether it changed
  std::string accountsText;
  bool accountsInSettings = false;  // password-db names the settings file
  bool loginsActive = false;        // svnserve reads the account file
  bool refusesConnections_ = false;
  int openFlags_ = 0;
  SVNConfFile settings;
  SVNConfFile passwd;
};

#endif  // SVN_STORE_REPO_H_
