// repo.cpp: a repository's settings file and its accounts, and the making
// of a new repository.
//
// Both conf files are read and written only through the utility library,
// which keeps every write atomic and faithful to what svnserve reads.

#include "store/repo.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "nlibc.h"
#include "store/package.h"
#include "store/root.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kUsers[] = "users";

// A repository's files, below its directory.
const char kSettingsFile[] = "/conf/svnserve.conf";

// The library takes C strings: a NUL byte would silently cut the text.
bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Whether `value` can be written as `key`; refused as a failed write of
// the key, which it would be.
SVNStatus CheckSetting(const char* key, const std::string& value) {
  if (HasNul(value) || NLIBCConfCheckValue(key, value.c_str()) < 0)
    return STATUS_ERROR(kFailed, "Set key %s failed[0x%04X]", key,
                        HasNul(value) ? NLIBC_E_BADCHAR : NLIBCErrGet());
  return SVNStatus();
}

}  // namespace

// ---- Opening and creating ----

SVNRepo::~SVNRepo() {}

SVNStatus SVNNewRepo::Check(const Form& form, std::optional<SVNNewRepo>* checked) {
  if (form.name.empty() || form.anon.empty()) return STATUS_ERROR(kFailed, "Argument error.");
  SVNNewRepo what;
  STATUS_TRY_WITH(SVNName::Check(form.name, &what.name), "Init path failed.");
  if (!form.realm.empty()) STATUS_TRY_WITH(CheckSetting("realm", form.realm), "Set realm failed.");
  STATUS_TRY_WITH(CheckSetting("anon-access", form.anon), "Set anonymous permission failed.");
  if (!form.authAccess.empty())
    STATUS_TRY_WITH(CheckSetting("auth-access", form.authAccess), "Set account access failed.");
  STATUS_TRY_WITH(CheckAccounts(form.accounts, &what.accounts), "Set accounts failed");
  what.realm = form.realm;
  what.anon = form.anon;
  what.authAccess = form.authAccess;
  what.standardLayout = form.standardLayout;
  what.author = form.author;
  *checked = std::move(what);
  return SVNStatus();
}

SVNStatus SVNRepo::open(const SVNName& name, Scope scope, std::unique_ptr<SVNRepo>* out,
                        const std::string& at) {
  std::unique_ptr<SVNRepo> repo(new SVNRepo);
  repo->name = name;
  repo->path = at.empty() ? RepoPath(name) : at;
  // An update writes its files under locks of its own (see locks.h), never
  // under the library's lock of their directories.
  int flags = repo->openFlags_ = scope == kUpdate ? NLIBC_CONF_UNLOCKED : 0;
  SVNStatus status = repo->loadSettings(repo->path + kSettingsFile, flags);
  // An update reads the files it may write under their locks: those the
  // settings name, then the settings again, until the files they name
  // are the ones locked.
  for (int tries = 0; status.ok() && scope == kUpdate && !repo->locks.holds(repo->updateFiles());
       ++tries) {
    if (tries == 3) {
      status = STATUS_ERROR(kBusy, "The files of %s change while they are locked.", name.c_str());
    } else if ((status = repo->locks.take(repo->updateFiles())).ok()) {
      status = repo->loadSettings(repo->path + kSettingsFile, flags);
    }
  }
  if (status.ok() && scope != kSettings) {
    status = repo->loadAccounts(flags | NLIBC_CONF_OPTIONAL);
    if (!status.ok())
      STATUS_WITH(status, "Get account from file %s failed.", repo->accountFile_.c_str());
  }
  if (status.ok()) *out = std::move(repo);
  return status;
}

SVNStatus SVNRepo::openNew(const SVNNewRepo& what, const std::string& dir,
                           std::unique_ptr<SVNRepo>* out) {
  std::unique_ptr<SVNRepo> repo(new SVNRepo);
  repo->name = what.name;
  repo->path = dir;
  STATUS_TRY(repo->loadSettings(dir + kSettingsFile, 0));
  STATUS_TRY(repo->setUp(what));
  *out = std::move(repo);
  return SVNStatus();
}

SVNStatus SVNRepo::setUp(const SVNNewRepo& what) {
  for (SVNSettingId id : {kAnonAccess, kAuthAccess, kPasswordDb}) {
    if (NLIBCConfActivate(settings.p, "general", Setting(id).name) < 0) {
      SVNStatus status = STATUS_ERROR(kFailed, "Failed to uncomment %s in file %s[0x%04X]",
                                      Setting(id).name, settingsFile.c_str(), NLIBCErrGet());
      return STATUS_WITH(status, "uncomment line failed [%s][0x%04X]", path.c_str(),
                         NLIBCErrGet());
    }
  }
  if (!what.realm.empty()) STATUS_TRY_WITH(setRealm(what.realm), "Set realm failed.");
  STATUS_TRY_WITH(setAnonymousPermission(what.anon), "Set anonymous permission failed.");
  if (!what.authAccess.empty())
    STATUS_TRY_WITH(setAuthAccess(what.authAccess), "Set account access failed.");
  STATUS_TRY_WITH(loadAccounts(0), "Set accounts failed");
  STATUS_TRY_WITH(replaceAccounts(what.accounts), "Set accounts failed");
  return SVNStatus();
}

SVNStatus SVNRepo::saveNew() {
  // Only files of the new repository are rewritten in place.
  const int inPlace =
      accountFile_.compare(0, path.size() + 1, path + "/") == 0 ? NLIBC_SAVE_IN_PLACE : 0;
  if (passwd.p != nullptr &&
      (NLIBCConfSave(passwd.p, inPlace | NLIBC_SAVE_PRIVATE) < 0 || NLIBCConfSync(passwd.p) < 0)) {
    SVNStatus status = STATUS_ERROR(kFailed, "Write the new repository's account file %s "
                                    "failed.[0x%04X]", accountFile_.c_str(), NLIBCErrGet());
    STATUS_WITH(status, "Write back account failed.");
    return STATUS_WITH(status, "Set accounts failed");
  }
  const int flags = accountsInSettings ? NLIBC_SAVE_IN_PLACE | NLIBC_SAVE_PRIVATE
                                       : NLIBC_SAVE_IN_PLACE;
  if (NLIBCConfSave(settings.p, flags) < 0 || NLIBCConfSync(settings.p) < 0)
    return STATUS_ERROR(kFailed, "Write the new repository's settings failed.[0x%04X]",
                        NLIBCErrGet());
  return SVNStatus();
}

// ---- Settings file ----

SVNStatus SVNRepo::loadSettings(const std::string& file, int flags) {
  settingsFile = file;
  settings.reset(NLIBCConfOpen(file.c_str(), flags));
  if (settings.p == nullptr)
    return STATUS_ERROR(kFailed, "Get anon-access from file %s failed.[0x%04X]", file.c_str(),
                        NLIBCErrGet());
  unsigned long size = 0;
  const char* text = NLIBCConfText(settings.p, &size);
  settingsText.assign(text, size);
  anon = setting(kAnonAccess).value_or("");
  realm = setting(kRealm).value_or("");
  refusesConnections_ = !SettingIsYesNo(settingUsed(kUseSasl));
  // Where svnserve takes accounts from: password-db, relative to conf/.
  // Without one (or with SASL, which keeps accounts elsewhere) no account
  // logs in, and conf/passwd is the file that writing accounts makes the
  // one.
  const std::string confDir = file.substr(0, file.rfind('/'));
  const std::optional<std::string> passwordDb = setting(kPasswordDb);
  std::string db = usesSasl() || !passwordDb ? std::string() : locate(kPasswordDb, *passwordDb);
  loginsActive = !db.empty();
  accountFile_ = loginsActive ? db : confDir + "/passwd";
  const std::optional<std::string> authzDb = setting(kAuthzDb);
  rulesFile_ = !authzDb ? confDir + "/authz"
               : RepositoryLocation(*authzDb) ? std::string()
                                               : locate(kAuthzDb, *authzDb);
  // password-db may name the settings file itself: then both are edited
  // in that one file.  Told by where the names lead, not by the files'
  // inode numbers: an edit under way replaces both files, and a new one
  // may take the number the other just freed.
  const std::string accountsAt = RealLocation(accountFile_);
  accountsInSettings = !accountsAt.empty() && accountsAt == RealLocation(settingsFile);
  return SVNStatus();
}

std::string SVNRepo::locate(SVNSettingId id, const std::string& value) const {
  const std::string final = RepoPath(name);
  const std::string found = SettingLocation(id, value, final + "/conf");
  if (path == final || RepositoryLocation(found) || found.empty()) return found;
  const std::string lexical = LexicalPath(found), home = LexicalPath(final);
  if (lexical.compare(0, home.size() + 1, home + "/") != 0) return found;
  return path + lexical.substr(home.size());
}

bool SVNRepo::settingsChanged() const {
  unsigned long size = 0;
  const char* text = NLIBCConfText(settings.p, &size);
  return text != nullptr && settingsText.compare(0, std::string::npos, text, size) != 0;
}

bool SVNRepo::accountsChanged() const {
  if (accountsInSettings) return settingsChanged();
  unsigned long size = 0;
  const char* text = NLIBCConfText(passwd.p, &size);
  return text != nullptr && accountsText.compare(0, std::string::npos, text, size) != 0;
}

SVNStatus SVNRepo::setSetting(SVNSettingId id, const char* value) {
  const SVNSetting& s = Setting(id);
  if (value == nullptr) {
    if (NLIBCConfComment(settings.p, s.section, s.name) < 0)
      return STATUS_ERROR(kFailed, "Failed to uncomment %s in file %s[0x%04X]",
                          id == kRealm ? "realm = " : s.name, settingsFile.c_str(),
                          NLIBCErrGet());
    return SVNStatus();
  }
  STATUS_TRY(CheckSetting(s.name, value));
  if (NLIBCConfSet(settings.p, s.section, s.name, value) < 0)
    return STATUS_ERROR(kFailed, "Set key %s failed[0x%04X]", s.name, NLIBCErrGet());
  return SVNStatus();
}

SVNStatus SVNRepo::setRealm(const std::string& newRealm) {
  SVNStatus status = setSetting(kRealm, newRealm.empty() ? nullptr : newRealm.c_str());
  if (status.ok()) realm = newRealm;
  return status;
}

SVNStatus SVNRepo::setAuthAccess(const std::string& level) {
  return setSetting(kAuthAccess, level.c_str());
}

SVNStatus SVNRepo::setAnonymousPermission(const std::string& permission) {
  SVNStatus status = CheckSetting("anon-access", permission);
  if (status.ok()) status = setSetting(kAnonAccess, permission.c_str());
  if (status.ok()) anon = permission;
  return status;
}

// ---- Accounts ----

SVNStatus SVNRepo::loadAccounts(int flags) {
  if (usesSasl())
    accountsReason_ =
        "SASL decides who logs in to this repository (use-sasl): its accounts are kept there, "
        "not in a file this page edits.";
  SVNStringHash hash;
  SVNStringList list;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr)
    return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  if ((list.p = NLIBCSzListAlloc(512)) == nullptr)
    return STATUS_ERROR(kFailed, "NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
  if (!accountsInSettings) passwd.reset(NLIBCConfOpen(accountFile_.c_str(), flags));
  if (!accountsInSettings && loginsActive) {
    // svnserve skips an account file it may not open, and refuses every
    // connection over one that is missing or that it cannot read through.
    struct stat st;
    refusesConnections_ = refusesConnections_ || (stat(accountFile_.c_str(), &st) != 0
                                                      ? errno != EACCES
                                                      : !S_ISREG(st.st_mode));
  }
  if (!accountsInSettings && passwd.p == nullptr) {
    // svnserve skips an account file it cannot read, and refuses every
    // connection over one it cannot parse: shown so, left to the hand.
    const int code = NLIBCErrGet();
    if (code == NLIBC_E_SYNTAX && loginsActive) refusesConnections_ = true;
    if (code != NLIBC_E_READ && code != NLIBC_E_SYNTAX)
      return STATUS_ERROR(kFailed, "Failed to get section users from %s[0x%04X]",
                          accountFile_.c_str(), code);
    LOG_LINE("Failed to get section users from %s[0x%04X]", accountFile_.c_str(), code);
    accountsReason_ =
        code == NLIBC_E_SYNTAX
            ? "The account file does not read as svnserve reads it, which then refuses every "
              "connection to this repository: mend it by hand."
            : "The account file cannot be read (it is not a plain file, or too large), so no "
              "account logs in: mend it by hand.";
    return SVNStatus();
  }
  if (NLIBCConfGetSection(accountConf(), kUsers, &hash.p) < 0)
    return STATUS_ERROR(kFailed, "Failed to get section users from %s[0x%04X]",
                        accountFile_.c_str(), NLIBCErrGet());
  if (NLIBCSzHashEnumKey(hash.p, &list.p) < 0)
    return STATUS_ERROR(kFailed, "NLIBCSzHashEnumKey Fail, nimberr=[0x%04X]", NLIBCErrGet());
  unsigned long size = 0;
  const char* text = NLIBCConfText(accountConf(), &size);
  accountsText.assign(text != nullptr ? text : "", text != nullptr ? size : 0);
  for (int i = 0; i < list.p->nItem && loginsActive; ++i) {
    const char* szKey = NLIBCSzListGet(list.p, i);
    const char* szValue = NLIBCSzHashGetValue(hash.p, szKey);
    if (szKey[0] == '#') continue;
    // Requests and answers are UTF-8: such an account could be shown but
    // never sent back, and an edit would drop it.
    if (!NLIBCStrValidUtf8(szKey, strlen(szKey)) || !NLIBCStrValidUtf8(szValue, strlen(szValue))) {
      LOG_LINE("Accounts in %s are not UTF-8: edited by hand.", accountFile_.c_str());
      accountsReason_ =
          "The account file holds names or passwords that are not UTF-8 (it was edited in "
          "another encoding): its accounts can be shown but not changed here.";
      continue;
    }
    accounts[szKey] = szValue;
  }
  return SVNStatus();
}

std::vector<std::string> SVNRepo::updateFiles() const {
  std::vector<std::string> files{settingsFile, accountFile_};
  if (!rulesFile_.empty()) files.push_back(rulesFile_);
  return files;
}

bool SVNRepo::usesSasl() const { return SettingOn(settingUsed(kUseSasl)); }

SVNStatus SVNRepo::setAccounts(const SVNAccountList& list) {
  SVNAccounts checked;
  STATUS_TRY(CheckAccounts(list, &checked, accounts));
  return replaceAccounts(checked);
}

SVNStatus SVNRepo::replaceAccounts(const SVNAccounts& checked) {
  if (checked == accounts) return SVNStatus();  // as they are
  if (!accountsReason_.empty())
    return STATUS_ERROR(kHandmade, "Accounts of %s are left to the hand.", name.c_str())
        .Reason(accountsReason_);
  // svnserve reads no accounts without a password-db: name the one
  // written.
  if (!setting(kPasswordDb)) STATUS_TRY(setSetting(kPasswordDb, "passwd"));
  SVNAccounts was = accounts;
  accounts = checked;
  SVNStatus status = writeAccounts();
  if (!status.ok()) {
    accounts.swap(was);
    return STATUS_WITH(status, "Write back account failed.");
  }
  return SVNStatus();
}

SVNStatus SVNRepo::writeAccounts() {
  SVNStringHash hash;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr)
    return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  for (const auto& account : accounts) {
    // The password stays out of the log.
    if (NLIBCSzHashSetValue(&hash.p, account.first.c_str(), account.second.c_str()) < 0)
      return STATUS_ERROR(kFailed, "Set Hash key %s failed.[0x%04X]", account.first.c_str(),
                          NLIBCErrGet());
  }
  if (accountConf() == nullptr || NLIBCConfSetSection(accountConf(), kUsers, hash.p) < 0)
    return STATUS_ERROR(kFailed, "Set section users failed.[0x%04X]",
                        accountConf() == nullptr ? NLIBC_E_ARG : NLIBCErrGet());
  return SVNStatus();
}

// ---- Saving ----

SVNStatus SVNRepo::save(PNLIBCONF rules, bool rulesFirst) {
  // The rules and the accounts first, the settings that point at them
  // last (but rules turned off after the settings that turn them off); if
  // a later file cannot be written the earlier ones are put back.
  return SaveAll({
      {rulesFirst ? rules : nullptr, 0, "rules"},
      {accountsChanged() && !accountsInSettings ? passwd.p : nullptr, NLIBC_SAVE_PRIVATE,
       "account"},
      {settingsChanged() ? settings.p : nullptr, accountsInSettings ? NLIBC_SAVE_PRIVATE : 0,
       "settings"},
      {rulesFirst ? nullptr : rules, 0, "rules"},
  });
}

SVNStatus SVNRepo::restore() {
  SVNStatus status;
  // The settings first: they may point at the account file.
  for (PNLIBCONF conf : {settings.p, passwd.p}) {
    if (conf != nullptr && NLIBCConfRestore(conf) < 0 && status.ok())
      status = STATUS_ERROR(kFailed, "Put back the files of %s failed.[0x%04X]", name.c_str(),
                            NLIBCErrGet());
  }
  return status;
}
