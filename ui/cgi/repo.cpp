// repo.cpp: a repository's settings file and its accounts, and the making
// of a new repository.
//
// Both conf files are read and written only through the utility library,
// which keeps every write atomic and faithful to what svnserve reads.

#include "repo.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "layout.h"
#include "nlibc.h"
#include "paths.h"
#include "rules.h"
#include "store.h"
#include "work_dir.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kUsers[] = "users";

// A repository's files, below its directory.
const char kConfDir[] = "/conf";
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

SVNStatus SVNRepo::initPath(const std::string& dirname) {
  if (dirname.empty()) return STATUS_ERROR(kFailed, "Argument error.");
  if (!IsValidName(dirname)) {
    SVNStatus status = STATUS_ERROR(kFailed, "Path have illegal symbol.");
    return STATUS_WITH(status, "dirname is not legal.");
  }
  name = dirname;
  path = RepoPath(dirname);
  return SVNStatus();
}

SVNStatus SVNRepo::open(const std::string& dirname, Scope scope, std::unique_ptr<SVNRepo>* out,
                        const std::string& at) {
  std::unique_ptr<SVNRepo> repo(new SVNRepo);
  SVNStatus status = repo->initPath(dirname);
  if (!status.ok()) {
    if (!dirname.empty()) STATUS_WITH(status, "Init path failed.");
    return status;
  }
  if (!at.empty()) repo->path = at;
  int flags = repo->openFlags = scope == kUpdate ? NLIBC_CONF_LOCK : 0;
  status = repo->loadSettings(repo->path + kSettingsFile, flags);
  if (status.ok() && scope != kSettings) {
    status = repo->loadAccounts(repo->path + kConfDir, flags | NLIBC_CONF_OPTIONAL);
    if (!status.ok()) STATUS_WITH(status, "Get account from file %s failed.", repo->accountFile.c_str());
  }
  if (status.ok()) *out = std::move(repo);
  return status;
}

SVNStatus SVNRepo::create(const std::string& dirname, const std::string& realmText,
                          const std::string& anonText, const SVNAccountList& list,
                          bool standardLayout, const std::string& author, const Fill& fill) {
  if (dirname.empty() || anonText.empty()) return STATUS_ERROR(kFailed, "Argument error.");
  SVNRepo repo;
  SVNStatus status = repo.initPath(dirname);
  if (!status.ok()) return STATUS_WITH(status, "Init path failed.");
  // Every argument is checked before anything is made.
  SVNAccounts checked;
  if (!realmText.empty() && !(status = CheckSetting("realm", realmText)).ok())
    return STATUS_WITH(status, "Set realm failed.");
  if (!(status = CheckSetting("anon-access", anonText)).ok())
    return STATUS_WITH(status, "Set anonymous permission failed.");
  if (!(status = CheckAccounts(list, &checked)).ok())
    return STATUS_WITH(status, "Set accounts failed");
  return repo.build(realmText, anonText, list, standardLayout, author, fill);
}

SVNStatus SVNRepo::build(const std::string& realmText, const std::string& anonText,
                         const SVNAccountList& list, bool standardLayout,
                         const std::string& author, const Fill& fill) {
  SVNWorkItem item;
  SVNStatus status = item.create("add");
  if (!status.ok()) return status;
  // Made in the item, where no one else looks: each file is written once,
  // in place, and synced; then the whole appears under the root at once.
  const std::string built = item.path() + "/" + name;
  if (NLIBCExec(SVN_ADMIN_TOOL, "create", built.c_str(), nullptr, nullptr) < 0) {
    status = STATUS_ERROR(kFailed, "Execute command [%s create %s] failed.[0x%04X]",
                          SVN_ADMIN_TOOL, built.c_str(), NLIBCErrGet());
  } else if (fill && !(status = fill(built)).ok()) {
    STATUS_WITH(status, "Fill the new repository %s failed.", name.c_str());
  } else if (standardLayout && !(status = MakeStandardLayout(built, author)).ok()) {
    STATUS_WITH(status, "Make the standard layout of %s failed.", name.c_str());
  } else {
    status = loadSettings(built + kSettingsFile, 0);
  }
  for (SVNSettingId id : {kAnonAccess, kAuthAccess, kPasswordDb}) {
    if (status.ok() && NLIBCConfActivate(settings.p, "general", Setting(id).name) < 0) {
      status = STATUS_ERROR(kFailed, "Failed to uncomment %s in file %s[0x%04X]", Setting(id).name,
                            settingsFile.c_str(), NLIBCErrGet());
      STATUS_WITH(status, "uncomment line failed [%s][0x%04X]", built.c_str(), NLIBCErrGet());
    }
  }
  if (status.ok() && !realmText.empty() && !(status = setRealm(realmText)).ok())
    STATUS_WITH(status, "Set realm failed.");
  if (status.ok() && !(status = setAnonymousPermission(anonText)).ok())
    STATUS_WITH(status, "Set anonymous permission failed.");
  if (status.ok() && (!(status = loadAccounts(built + kConfDir, 0)).ok() ||
                      !(status = setAccounts(list)).ok()))
    STATUS_WITH(status, "Set accounts failed");
  // Only files of the new repository are rewritten in place.
  const int inPlace =
      accountFile.compare(0, built.size() + 1, built + "/") == 0 ? NLIBC_SAVE_IN_PLACE : 0;
  if (status.ok() &&
      ((passwd.p != nullptr && NLIBCConfSave(passwd.p, inPlace | NLIBC_SAVE_PRIVATE) < 0) ||
       NLIBCConfSave(settings.p, accountsInSettings ? NLIBC_SAVE_IN_PLACE | NLIBC_SAVE_PRIVATE
                                                    : NLIBC_SAVE_IN_PLACE) < 0 ||
       (passwd.p != nullptr && NLIBCConfSync(passwd.p) < 0) || NLIBCConfSync(settings.p) < 0))
    status = STATUS_ERROR(kFailed, "Write the new repository's settings failed.[0x%04X]",
                          NLIBCErrGet());
  if (status.ok() && !(status = MoveNoReplace(built, path)).ok())
    STATUS_WITH(status, "Move the new repository to %s failed.", path.c_str());
  if (!status.ok()) {
    item.discard();
    return status;
  }
  SyncDir(SVN_REPO_ROOT).Log();
  rmdir(item.path().c_str());
  return SVNStatus();
}

// ---- Settings file ----

SVNStatus SVNRepo::loadSettings(const std::string& file, int flags) {
  settingsFile = file;
  settings.reset(NLIBCConfOpen(file.c_str(), flags));
  if (settings.p == nullptr)
    return STATUS_ERROR(kFailed, "Get anon-access from file %s failed.[0x%04X]", file.c_str(),
                        NLIBCErrGet());
  anon = setting(kAnonAccess).value_or("");
  realm = setting(kRealm).value_or("");
  return SVNStatus();
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
  SVNStatus status = CheckSetting(s.name, value);
  if (!status.ok()) return status;
  if (NLIBCConfSet(settings.p, s.section, s.name, value) < 0)
    return STATUS_ERROR(kFailed, "Set key %s failed[0x%04X]", s.name, NLIBCErrGet());
  return SVNStatus();
}

SVNStatus SVNRepo::setRealm(const std::string& newRealm) {
  SVNStatus status = setSetting(kRealm, newRealm.empty() ? nullptr : newRealm.c_str());
  if (status.ok()) realm = newRealm;
  return status;
}

SVNStatus SVNRepo::setAnonymousPermission(const std::string& permission) {
  SVNStatus status = CheckSetting("anon-access", permission);
  if (status.ok()) status = setSetting(kAnonAccess, permission.c_str());
  if (status.ok()) anon = permission;
  return status;
}

// ---- Accounts ----

SVNStatus SVNRepo::loadAccounts(const std::string& confDir, int flags) {
  // Where svnserve takes accounts from: password-db, relative to conf/.
  // Without one (or with SASL, which keeps accounts elsewhere) no account
  // logs in, and conf/passwd is the file that writing accounts makes the
  // one.
  std::optional<std::string> db = setting(kPasswordDb);
  std::string value = usesSasl() || !db ? std::string() : CanonicalPath(*db);
  accountFile = value.empty()      ? confDir + "/passwd"
                : value[0] == '/' ? value
                                  : confDir + "/" + value;
  // password-db may name the settings file itself: then both are edited
  // in that one file.  Told by where the names lead, not by the files'
  // inode numbers: an edit under way replaces both files, and a new one
  // may take the number the other just freed.
  const std::string accountsAt = RealLocation(accountFile);
  accountsInSettings = !accountsAt.empty() && accountsAt == RealLocation(settingsFile);
  SVNStringHash hash;
  SVNStringList list;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr)
    return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  if ((list.p = NLIBCSzListAlloc(512)) == nullptr)
    return STATUS_ERROR(kFailed, "NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
  if (!accountsInSettings) passwd.reset(NLIBCConfOpen(accountFile.c_str(), flags));
  if ((!accountsInSettings && passwd.p == nullptr) ||
      NLIBCConfGetSection(accountConf(), kUsers, &hash.p) < 0)
    return STATUS_ERROR(kFailed, "Failed to get section users from %s[0x%04X]",
                        accountFile.c_str(), NLIBCErrGet());
  if (NLIBCSzHashEnumKey(hash.p, &list.p) < 0)
    return STATUS_ERROR(kFailed, "NLIBCSzHashEnumKey Fail, nimberr=[0x%04X]", NLIBCErrGet());
  for (int i = 0; i < list.p->nItem && !value.empty(); ++i) {
    const char* szKey = NLIBCSzListGet(list.p, i);
    const char* szValue = NLIBCSzHashGetValue(hash.p, szKey);
    if (szKey[0] == '#') continue;
    // Requests and answers are UTF-8: such an account could be shown but
    // never sent back, and an edit would drop it.
    if (!NLIBCStrValidUtf8(szKey, strlen(szKey)) || !NLIBCStrValidUtf8(szValue, strlen(szValue)))
      return STATUS_ERROR(kFailed, "Accounts in %s are not UTF-8: edited by hand.",
                          accountFile.c_str());
    accounts[szKey] = szValue;
  }
  return SVNStatus();
}

bool SVNRepo::usesSasl() const { return SettingOn(settingUsed(kUseSasl)); }

SVNStatus SVNRepo::setAccounts(const SVNAccountList& json) {
  SVNAccounts list;
  SVNStatus status = CheckAccounts(json, &list);
  if (!status.ok()) return status;
  if (usesSasl()) {
    if (list.empty()) return SVNStatus();  // as it is: no account of ours logs in
    return STATUS_ERROR(kFailed, "Accounts of %s are SASL's, not a password file's.",
                        name.c_str());
  }
  // svnserve reads no accounts without a password-db: name the one
  // written.
  if (!setting(kPasswordDb) && !(status = setSetting(kPasswordDb, "passwd")).ok())
    return status;
  accounts.swap(list);
  if (!(status = writeAccounts()).ok()) {
    accounts.swap(list);
    return STATUS_WITH(status, "Write back account failed.");
  }
  accountsChanged = true;
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

// ---- Rules and saving ----

SVNStatus SVNRepo::openRules(std::unique_ptr<SVNRules>* rules) const {
  return SVNRules::Open(*this, openFlags, rules);
}

SVNStatus SVNRepo::save(SVNRules* rules) {
  // The rules and the accounts first, the settings that point at them
  // last (but rules turned off after the settings that turn them off); if
  // a later file cannot be written the earlier ones are put back.
  const bool rulesFirst = rules == nullptr || rules->writeFirst();
  PNLIBCONF rulesFile = rules != nullptr ? rules->file() : nullptr;
  return SaveAll({
      {rulesFirst ? rulesFile : nullptr, 0, "rules"},
      {accountsChanged ? passwd.p : nullptr, NLIBC_SAVE_PRIVATE, "account"},
      {settings.p, accountsInSettings ? NLIBC_SAVE_PRIVATE : 0, "settings"},
      {rulesFirst ? nullptr : rulesFile, 0, "rules"},
  });
}
