// svn_repo.cpp: a repository's layout, its settings file and its accounts,
// and the working directory where repositories are made and deleted.
//
// Both conf files are read and written only through the utility library,
// which keeps every write atomic and faithful to what svnserve reads.

#include "svn_repo.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <ctype.h>
#include <set>
#include <stdexcept>
#include <vector>

#include "svn_authz.h"
#include "svn_paths.h"

#define REPO_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "svn_repo", __LINE__, ##__VA_ARGS__)

namespace {

const char kGeneral[] = "general";
const char kUsers[] = "users";

// A repository's files, below its directory.
const char kConfDir[] = "/conf";
const char kSettingsFile[] = "/conf/svnserve.conf";
const char kAccountFile[] = "/conf/passwd";

// Owns one hash or list of the utility library, freed on every path.
struct SzHash {
  PNLIBSZHASH p = nullptr;
  SzHash() = default;
  SzHash(const SzHash&) = delete;
  SzHash& operator=(const SzHash&) = delete;
  ~SzHash() { NLIBCSzHashFree(p); }
};

struct SzList {
  PNLIBSZLIST p = nullptr;
  SzList() = default;
  SzList(const SzList&) = delete;
  SzList& operator=(const SzList&) = delete;
  ~SzList() { NLIBCSzListFree(p); }
};

// The library takes C strings: a NUL byte would silently cut the text.
bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// Whether `value` can be written as `key`: 0, or -1 (logged as a failed
// write of the key, which it would be).
int CheckSetting(const char* key, const std::string& value) {
  if (HasNul(value) || NLIBCConfCheckValue(key, value.c_str()) < 0) {
    REPO_LOG("Set key %s failed[0x%04X]", key,
             HasNul(value) ? NLIBC_E_BADCHAR : NLIBCErrGet());
    return -1;
  }
  return 0;
}

// Reads the account list `json` into *accounts: an array of objects whose
// "account" and "password" members are strings, each name with a
// non-empty password, all of which the account file can hold.  0, or -1
// (logged by position in the list: names and passwords stay out of the
// log).
int ReadAccountList(const Json::Value& json,
                    std::map<std::string, std::string>* accounts) {
  if (!json.isArray()) {
    REPO_LOG("Accounts are not a list of account objects.");
    return -1;
  }
  std::map<std::string, unsigned> position;  // of the element that wins
  for (Json::Value::ArrayIndex i = 0; i < json.size(); ++i) {
    const Json::Value& item = json[i];
    bool shaped = item.isObject();
    for (const char* member : {"account", "password"})
      shaped = shaped && (!item.isMember(member) || item[member].isString());
    if (!shaped) {
      REPO_LOG("Account %u is not an account object.", i + 1);
      return -1;
    }
    std::string name = item["account"].asString();
    // Access rules name the anonymous and the logged-in user so: an
    // account of that name could never be given rules of its own.
    if (name == "$anonymous" || name == "$authenticated") {
      REPO_LOG("Account %u has a reserved name.", i + 1);
      return -1;
    }
    (*accounts)[name] = item["password"].asString();
    position[name] = i + 1;
  }
  SzHash hash;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr) {
    REPO_LOG("Hash Alloc failed.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  for (const auto& account : *accounts) {
    if (account.second.empty()) {
      REPO_LOG("Account %u has no password.", position[account.first]);
      return -1;
    }
    // What is read back must be what was written: the reader refuses
    // account files that are not UTF-8.
    if (HasNul(account.first) || HasNul(account.second) ||
        !NLIBCStrValidUtf8(account.first.data(), account.first.size()) ||
        !NLIBCStrValidUtf8(account.second.data(), account.second.size())) {
      REPO_LOG("Account %u cannot be stored.[0x%04X]", position[account.first],
               NLIBC_E_BADCHAR);
      return -1;
    }
    if (NLIBCSzHashSetValue(&hash.p, account.first.c_str(),
                            account.second.c_str()) < 0) {
      REPO_LOG("Set Hash key failed.[0x%04X]", NLIBCErrGet());
      return -1;
    }
  }
  if (NLIBCConfCheckSection(hash.p) < 0) {
    int code = NLIBCErrGet();
    // Name the account that cannot be stored on its own, if one is.
    for (const auto& account : *accounts) {
      SzHash one;
      if ((one.p = NLIBCSzHashAlloc(1)) != nullptr &&
          NLIBCSzHashSetValue(&one.p, account.first.c_str(),
                              account.second.c_str()) == 0 &&
          NLIBCConfCheckSection(one.p) < 0) {
        REPO_LOG("Account %u cannot be stored.[0x%04X]", position[account.first],
                 NLIBCErrGet());
        return -1;
      }
    }
    REPO_LOG("Accounts cannot be stored.[0x%04X]", code);
    return -1;
  }
  return 0;
}

// The real location of `file`, which may not exist yet ("" when its
// directory cannot be resolved).
std::string RealLocation(const std::string& file) {
  char real[PATH_MAX];
  if (realpath(file.c_str(), real) != nullptr) return real;
  size_t slash = file.rfind('/');
  if (slash == std::string::npos || realpath(file.substr(0, slash).c_str(), real) == nullptr)
    return "";
  return std::string(real) + file.substr(slash);
}

// A path as Subversion takes it (svn_dirent_internal_style): empty
// segments and "." segments dropped, ".." kept.
std::string CanonicalPath(const std::string& path) {
  std::string out = !path.empty() && path[0] == '/' ? "/" : "";
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(begin, end - begin);
    if (!segment.empty() && segment != ".") {
      if (!out.empty() && out.back() != '/') out += '/';
      out += segment;
    }
    begin = end + 1;
  }
  return out == "/" && path.empty() ? std::string() : out;
}

// Makes a directory's entries durable.  0, or -1 (logged).
int SyncDir(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) REPO_LOG("Sync directory %s failed: %s", dir.c_str(), strerror(errno));
  return ok ? 0 : -1;
}

// Renames `from` to `to`, never replacing what is at `to`.
int MoveNoReplace(const std::string& from, const std::string& to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                   RENAME_NOREPLACE);
}

// Deletes `dir` and everything in it (links removed, not followed).
int DeleteTree(const std::string& dir) {
  if (NLIBCExec("/bin/rm", "-rf", dir.c_str(), nullptr, nullptr) < 0) {
    REPO_LOG("Executed command [/bin/rm -rf %s] failed.[0x%04X]", dir.c_str(),
             NLIBCErrGet());
    return -1;
  }
  return 0;
}

// ---- The working directory ----

// Where repositories are made and deleted: beside the root when the
// package directory allows, else under it; on the root's file system, so
// that one rename moves a repository in or out.  Empty when neither can
// be used.
std::string WorkDir() {
  struct stat root, st;
  if (stat(SVN_REPO_ROOT, &root) != 0) return std::string();
  for (const char* dir : {SVN_WORK_DIR, SVN_HIDDEN_WORK_DIR}) {
    if (mkdir(dir, 0700) != 0 && errno != EEXIST) continue;
    if (lstat(dir, &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_dev == root.st_dev && access(dir, W_OK | X_OK) == 0)
      return dir;
  }
  return std::string();
}

// One request's own directory in the working directory, locked for as
// long as the object lives, so that no other request takes it for the
// leftover of a request that was killed.
class WorkItem {
 public:
  WorkItem() = default;
  WorkItem(const WorkItem&) = delete;
  WorkItem& operator=(const WorkItem&) = delete;
  ~WorkItem() {
    if (fd_ >= 0) close(fd_);
  }

  // Makes the item, named KIND-XXXXXX.  0, or -1 (logged).
  int Create(const std::string& work, const char* kind) {
    std::string tmpl = work + "/" + kind + "-XXXXXX";
    if (mkdtemp(&tmpl[0]) == nullptr) {
      REPO_LOG("Make a directory in %s failed: %s", work.c_str(), strerror(errno));
      return -1;
    }
    path_ = tmpl;
    fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || flock(fd_, LOCK_EX) != 0) {
      REPO_LOG("Lock %s failed: %s", path_.c_str(), strerror(errno));
      return -1;
    }
    return 0;
  }

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Deletes what ended requests left in the working directory: items that
// no request holds and that have not changed for a minute (a younger one
// may belong to a request that has not locked it yet).  What cannot be
// deleted stays for a later request, and is logged each time.
void RemoveLeftovers(const std::string& work) {
  std::vector<std::string> items;
  if (DIR* dir = opendir(work.c_str())) {
    while (struct dirent* e = readdir(dir))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
        items.push_back(work + "/" + e->d_name);
    closedir(dir);
  }
  for (const std::string& item : items) {
    int fd = open(item.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 &&
        time(nullptr) - st.st_mtime > 60 && DeleteTree(item) < 0)
      REPO_LOG("Remains in %s are kept for a later try.", item.c_str());
    close(fd);
  }
}

}  // namespace

// ---- Layout ----

std::string SVNRepo::getRepoPath(const std::string& dirname) {
  // Room for the settings file's name too (isExist adds it).
  std::string path;
  path.reserve(sizeof SVN_REPO_ROOT + dirname.size() + sizeof kSettingsFile);
  path.append(SVN_REPO_ROOT, sizeof SVN_REPO_ROOT - 1).append(1, '/').append(dirname);
  return path;
}

bool SVNRepo::isValidName(const std::string& dirname) {
  if (dirname.empty() || dirname == "." ||
      dirname.find("..") != std::string::npos ||
      dirname.find('/') != std::string::npos)
    return false;
  for (unsigned char c : dirname)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

int SVNRepo::checkPath(const std::string& dirtyInput) {
  if (!isValidName(dirtyInput)) {
    REPO_LOG("Path have illegal symbol.");
    return -1;
  }
  return 0;
}

int SVNRepo::initPath(const std::string& dirname) {
  if (dirname.empty()) {
    REPO_LOG("Argument error.");
    return -1;
  }
  if (checkPath(dirname) < 0) {
    REPO_LOG("dirname is not legal.");
    return -1;
  }
  name = dirname;
  path = getRepoPath(dirname);
  passwdPath = path + kAccountFile;
  svnservePath = path + kSettingsFile;
  return 0;
}

bool SVNRepo::isExist(const std::string& dirname, bool isDirectory) {
  if (dirname.empty()) {
    REPO_LOG("Argument error.");
    return false;
  }
  if (!isValidName(dirname)) return false;
  // One string for both looks: the listing asks this of every entry.
  std::string file = getRepoPath(dirname);
  struct stat st;
  if (!isDirectory && (stat(file.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
    return false;
  file += kSettingsFile;
  return NLIBCFileExist(file.c_str()) != 0;
}

int SVNRepo::remove(const std::string& dirname) {
  if (!isValidName(dirname)) {
    REPO_LOG("Path have illegal symbol.");
    return -1;
  }
  std::string work = WorkDir();
  WorkItem trash;
  if (work.empty()) {
    REPO_LOG("No working directory beside or under %s.", SVN_REPO_ROOT);
    return -1;
  }
  if (trash.Create(work, "del") < 0) return -1;
  // An edit holds its conf directory's lock from reading to writing: wait
  // for those under way, so that none writes after the move (into the
  // removed repository, or one made under the name since).
  const std::string moved = trash.Path() + "/" + dirname;
  int confFd = open((getRepoPath(dirname) + kConfDir).c_str(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (confFd >= 0 && flock(confFd, LOCK_EX) != 0) {
    REPO_LOG("Lock %s failed: %s", dirname.c_str(), strerror(errno));
    close(confFd);
    rmdir(trash.Path().c_str());
    return -1;
  }
  int moveRc = MoveNoReplace(getRepoPath(dirname), moved);
  int moveErrno = errno;
  if (confFd >= 0) close(confFd);
  if (moveRc != 0) {
    REPO_LOG("Move %s out of the root failed: %s", dirname.c_str(),
             strerror(moveErrno));
    rmdir(trash.Path().c_str());
    return -1;
  }
  // Gone from the root: whatever follows, the removal has happened.  The
  // working directory may be under the root: without its format file the
  // repository can no longer be opened there while it is deleted.
  struct stat st;
  if (lstat(moved.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    unlink((moved + "/format").c_str());
  SyncDir(SVN_REPO_ROOT);
  if (DeleteTree(trash.Path()) < 0)
    REPO_LOG("Remains of %s are kept in %s for a later try.", dirname.c_str(),
             trash.Path().c_str());
  RemoveLeftovers(work);
  return 0;
}

// ---- Opening and creating ----

SVNRepo::SVNRepo(const std::string& dirname, Scope scope) {
  if (dirname.empty()) {
    REPO_LOG("Argument error.");
    throw std::invalid_argument("dirname == \"\"");
  }
  if (initPath(dirname) < 0) {
    REPO_LOG("Init path failed.");
    throw std::runtime_error("Initialize path failed");
  }
  int flags = openFlags = scope == kUpdate ? NLIBC_CONF_LOCK : 0;
  if (loadSettings(svnservePath, flags) < 0)
    throw std::runtime_error("Get anon-access from file " + svnservePath +
                             " failed.");
  if (scope != kSettings &&
      getAccountFromFile(path + kConfDir, flags | NLIBC_CONF_OPTIONAL) < 0) {
    REPO_LOG("Get account from file %s failed.", accountFile.c_str());
    throw std::runtime_error("Get account from file " + accountFile +
                             " failed.");
  }
}

SVNRepo::SVNRepo(const std::string& dirname, const std::string& realmText,
                 const std::string& anonText, const Json::Value& accountList,
                 bool standardLayout, const std::string& author) {
  if (dirname.empty() || anonText.empty()) {
    REPO_LOG("Argument error.");
    throw std::invalid_argument("Argument error");
  }
  if (initPath(dirname) < 0) {
    REPO_LOG("Init path failed.");
    throw std::runtime_error("Initialize path failed");
  }
  // Every argument is checked before anything is made.
  if (!realmText.empty() && CheckSetting("realm", realmText) < 0) {
    REPO_LOG("Set realm failed.");
    throw std::runtime_error("set realm failed.");
  }
  if (CheckSetting("anon-access", anonText) < 0) {
    REPO_LOG("Set anonymous permission failed.");
    throw std::runtime_error("set anonymous permission failed.");
  }
  std::map<std::string, std::string> checked;
  if (ReadAccountList(accountList, &checked) < 0) {
    REPO_LOG("Set accounts failed");
    throw std::runtime_error("Set accounts failed");
  }
  create(realmText, anonText, accountList, standardLayout, author);
}

SVNRepo::~SVNRepo() {}

void SVNRepo::create(const std::string& realmText, const std::string& anonText,
                     const Json::Value& accountList, bool standardLayout,
                     const std::string& author) {
  const std::string work = WorkDir();
  if (work.empty()) {
    REPO_LOG("No working directory beside or under %s.", SVN_REPO_ROOT);
    throw std::runtime_error("no working directory");
  }
  RemoveLeftovers(work);
  WorkItem item;
  if (item.Create(work, "add") < 0) throw std::runtime_error("no working directory");
  // Made in the item, where no one else looks: each file is written once,
  // in place, and synced; then the whole appears under the root at once.
  const std::string built = item.Path() + "/" + name;
  const char* failed = nullptr;
  if (NLIBCExec(SVN_ADMIN_TOOL, "create", built.c_str(), nullptr, nullptr) < 0) {
    REPO_LOG("Execute command [%s create %s] failed.[0x%04X]", SVN_ADMIN_TOOL,
             built.c_str(), NLIBCErrGet());
    failed = "execute command failed";
  } else if (standardLayout && MakeStandardLayout(built, author) < 0) {
    REPO_LOG("Make the standard layout of %s failed.", name.c_str());
    failed = "layout failed";
  } else if (loadSettings(built + kSettingsFile, 0) < 0) {
    failed = "Get anon-access from file failed.";
  }
  for (const char* key : {"anon-access", "auth-access", "password-db"}) {
    if (failed == nullptr && unComment(key) < 0) {
      REPO_LOG("uncomment line failed [%s][0x%04X]", built.c_str(), NLIBCErrGet());
      failed = "uncomment line failed";
    }
  }
  if (failed == nullptr && !realmText.empty() && setRealm(realmText) < 0) {
    REPO_LOG("Set realm failed.");
    failed = "set realm failed.";
  }
  if (failed == nullptr && setAnonymousPermission(anonText) < 0) {
    REPO_LOG("Set anonymous permission failed.");
    failed = "set anonymous permission failed.";
  }
  if (failed == nullptr && (getAccountFromFile(built + kConfDir, 0) < 0 ||
                            setAccounts(accountList) < 0)) {
    REPO_LOG("Set accounts failed");
    failed = "Set accounts failed";
  }
  // Only files of the new repository are rewritten in place.
  const int inPlace =
      accountFile.compare(0, built.size() + 1, built + "/") == 0 ? NLIBC_SAVE_IN_PLACE : 0;
  if (failed == nullptr &&
      ((passwd.p != nullptr &&
        NLIBCConfSave(passwd.p, inPlace | NLIBC_SAVE_PRIVATE) < 0) ||
       NLIBCConfSave(settings.p, accountsInSettings
                                     ? NLIBC_SAVE_IN_PLACE | NLIBC_SAVE_PRIVATE
                                     : NLIBC_SAVE_IN_PLACE) < 0 ||
       (passwd.p != nullptr && NLIBCConfSync(passwd.p) < 0) ||
       NLIBCConfSync(settings.p) < 0)) {
    REPO_LOG("Write the new repository's settings failed.[0x%04X]", NLIBCErrGet());
    failed = "write failed";
  }
  bool taken = false;
  if (failed == nullptr && MoveNoReplace(built, path) != 0) {
    taken = errno == EEXIST;
    REPO_LOG("Move the new repository to %s failed: %s", path.c_str(),
             strerror(errno));
    failed = "move failed";
  }
  if (failed != nullptr) {
    DeleteTree(item.Path());
    if (taken) throw NameTaken();
    throw std::runtime_error(failed);
  }
  SyncDir(SVN_REPO_ROOT);
  rmdir(item.Path().c_str());
  // The handles name files of the working directory: drop them.
  NLIBCConfFree(settings.p);
  NLIBCConfFree(passwd.p);
  settings.p = passwd.p = nullptr;
}

// ---- Settings file ----

int SVNRepo::loadSettings(const std::string& file, int flags) {
  settingsFile = file;
  if ((settings.p = NLIBCConfOpen(file.c_str(), flags)) == nullptr) {
    REPO_LOG("Get anon-access from file %s failed.[0x%04X]", file.c_str(),
             NLIBCErrGet());
    return -1;
  }
  const char* value = NLIBCConfGet(settings.p, kGeneral, "anon-access");
  anon = value != nullptr ? value : "";
  value = NLIBCConfGet(settings.p, kGeneral, "realm");
  realm = value != nullptr ? value : "";
  return 0;
}

int SVNRepo::unComment(const std::string& key) {
  if (NLIBCConfActivate(settings.p, kGeneral, key.c_str()) < 0) {
    REPO_LOG("Failed to uncomment %s in file %s[0x%04X]", key.c_str(),
             svnservePath.c_str(), NLIBCErrGet());
    return -1;
  }
  return 0;
}

int SVNRepo::setRealm(const std::string& newRealm) {
  if (newRealm.empty()) {
    if (NLIBCConfComment(settings.p, kGeneral, "realm") < 0) {
      REPO_LOG("Failed to uncomment %s in file %s[0x%04X]", "realm = ",
               svnservePath.c_str(), NLIBCErrGet());
      return -1;
    }
    realm.clear();
    return 0;
  }
  if (CheckSetting("realm", newRealm) < 0) return -1;
  if (NLIBCConfSet(settings.p, kGeneral, "realm", newRealm.c_str()) < 0) {
    REPO_LOG("Set key realm failed[0x%04X]", NLIBCErrGet());
    return -1;
  }
  realm = newRealm;
  return 0;
}

int SVNRepo::setAnonymousPermission(const std::string& permission) {
  if (CheckSetting("anon-access", permission) < 0) return -1;
  if (NLIBCConfSet(settings.p, kGeneral, "anon-access", permission.c_str()) < 0) {
    REPO_LOG("Set key anon-access failed[0x%04X]", NLIBCErrGet());
    return -1;
  }
  anon = permission;
  return 0;
}

// ---- Accounts ----

int SVNRepo::getAccountFromFile(const std::string& confDir, int flags) {
  // Where svnserve takes accounts from: password-db, relative to conf/.
  // Without one (or with SASL, which keeps accounts elsewhere) no account
  // logs in, and conf/passwd is the file that writing accounts makes the
  // one.
  std::string value = usesSasl() ? std::string() : CanonicalPath(passwordDb());
  accountFile = value.empty()      ? confDir + "/passwd"
                : value[0] == '/' ? value
                                  : confDir + "/" + value;
  // password-db may name the settings file itself: then both are edited
  // in that one file.  Told by where the names lead, not by the files'
  // inode numbers: an edit under way replaces both files, and a new one
  // may take the number the other just freed.
  const std::string accountsAt = RealLocation(accountFile);
  accountsInSettings = !accountsAt.empty() && accountsAt == RealLocation(settingsFile);
  SzHash hash;
  SzList list;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr) {
    REPO_LOG("Hash Alloc failed.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  if ((list.p = NLIBCSzListAlloc(512)) == nullptr) {
    REPO_LOG("NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
    return -1;
  }
  if ((!accountsInSettings &&
       (passwd.p = NLIBCConfOpen(accountFile.c_str(), flags)) == nullptr) ||
      NLIBCConfGetSection(accountConf(), kUsers, &hash.p) < 0) {
    REPO_LOG("Failed to get section users from %s[0x%04X]", accountFile.c_str(),
             NLIBCErrGet());
    return -1;
  }
  if (NLIBCSzHashEnumKey(hash.p, &list.p) < 0) {
    REPO_LOG("NLIBCSzHashEnumKey Fail, nimberr=[0x%04X]", NLIBCErrGet());
    return -1;
  }
  for (int i = 0; i < list.p->nItem && !value.empty(); ++i) {
    const char* szKey = NLIBCSzListGet(list.p, i);
    const char* szValue = NLIBCSzHashGetValue(hash.p, szKey);
    if (szKey[0] == '#') continue;
    // Requests and answers are UTF-8: such an account could be shown but
    // never sent back, and an edit would drop it.
    if (!NLIBCStrValidUtf8(szKey, strlen(szKey)) ||
        !NLIBCStrValidUtf8(szValue, strlen(szValue))) {
      REPO_LOG("Accounts in %s are not UTF-8: edited by hand.",
               accountFile.c_str());
      return -1;
    }
    accounts[szKey] = szValue;
  }
  return 0;
}

bool SVNRepo::usesSasl() const {
  const char* sasl = NLIBCConfGet(settings.p, "sasl", "use-sasl");
  for (const char* yes : {"true", "yes", "on", "1"})
    if (sasl != nullptr && strcasecmp(sasl, yes) == 0) return true;
  return false;
}

std::string SVNRepo::passwordDb() const {
  const char* db = NLIBCConfGet(settings.p, kGeneral, "password-db");
  return db != nullptr ? db : std::string();
}

int SVNRepo::setAccounts(Json::Value json) {
  std::map<std::string, std::string> list;
  if (ReadAccountList(json, &list) < 0) return -1;
  if (usesSasl()) {
    if (list.empty()) return 0;  // as it is: no account of ours logs in
    REPO_LOG("Accounts of %s are SASL's, not a password file's.", name.c_str());
    return -1;
  }
  // svnserve reads no accounts without a password-db: name the one
  // written.
  if (passwordDb().empty() &&
      NLIBCConfSet(settings.p, kGeneral, "password-db", "passwd") < 0) {
    REPO_LOG("Set key password-db failed[0x%04X]", NLIBCErrGet());
    return -1;
  }
  accounts.swap(list);
  if (writeBackAccount() < 0) {
    accounts.swap(list);
    REPO_LOG("Write back account failed.");
    return -1;
  }
  accountsChanged = true;
  return 0;
}

int SVNRepo::writeBackAccount() {
  SzHash hash;
  if ((hash.p = NLIBCSzHashAlloc(512)) == nullptr) {
    REPO_LOG("Hash Alloc failed.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  for (const auto& account : accounts) {
    // The password stays out of the log.
    if (NLIBCSzHashSetValue(&hash.p, account.first.c_str(),
                            account.second.c_str()) < 0) {
      REPO_LOG("Set Hash key %s failed.[0x%04X]", account.first.c_str(),
               NLIBCErrGet());
      return -1;
    }
  }
  if (accountConf() == nullptr ||
      NLIBCConfSetSection(accountConf(), kUsers, hash.p) < 0) {
    REPO_LOG("Set section users failed.[0x%04X]",
             accountConf() == nullptr ? NLIBC_E_ARG : NLIBCErrGet());
    return -1;
  }
  return 0;
}

int SVNRepo::save() {
  // The rules and the accounts first, the settings that point at them
  // last (but rules turned off after the settings that turn them off); if
  // a later file cannot be written the earlier ones are put back.
  struct {
    PNLIBCONF conf;
    int flags;
    const char* what;
  } files[] = {
      {rulesFirst ? authz.p : nullptr, 0, "rules"},
      {accountsChanged ? passwd.p : nullptr, NLIBC_SAVE_PRIVATE, "account"},
      {settings.p, accountsInSettings ? NLIBC_SAVE_PRIVATE : 0, "settings"},
      {rulesFirst ? nullptr : authz.p, 0, "rules"},
  };
  for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i) {
    if (files[i].conf == nullptr || NLIBCConfSave(files[i].conf, files[i].flags) == 0)
      continue;
    REPO_LOG("Write %s file failed.[0x%04X]", files[i].what, NLIBCErrGet());
    for (size_t j = 0; j <= i; ++j)
      if (files[j].conf != nullptr && NLIBCConfRestore(files[j].conf) < 0)
        REPO_LOG("Put back %s file failed.[0x%04X]", files[j].what, NLIBCErrGet());
    return -1;
  }
  return 0;
}

// ---- History and size ----

long SVNRepo::getRevision() const {
  // Never waits on a FIFO, never reads more than the number's line.
  int fd = open((path + "/db/current").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[32];
  struct stat st;
  ssize_t got = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, text, sizeof text) : -1;
  close(fd);
  // FSFS writes "N\n" (older formats "N NODE COPY\n"); Subversion takes
  // the leading number, of at most ten digits and below 2^31, whatever
  // follows it.
  long rev = 0;
  ssize_t i = 0;
  for (; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
    rev = i < 10 ? rev * 10 + (text[i] - '0') : rev;
  return i > 0 && i <= 10 && rev <= 2147483647 ? rev : -1;
}

int SVNRepo::getFacts(RepoFacts* facts) const { return ReadRepoFacts(path, facts); }

namespace {

// What one walk of a tree has counted so far (nftw gives no context).
struct Walk {
  long long bytes = 0;
  bool complete = true;
  std::set<std::pair<dev_t, ino_t>> linked;  // files seen with several links
} walk;

// Deeper than this, a repository is not one svnadmin made (its deepest
// files are four levels down); the walk, which recurses, stops there.
constexpr int kMaxWalkDepth = 256;

int CountEntry(const char*, const struct stat* st, int type, struct FTW* at) {
  if (at->level > kMaxWalkDepth) {
    walk.complete = false;
    return 1;  // stops the walk
  }
  // An entry gone since its directory was read (a commit's transaction
  // files) is not there to count.
  if ((type == FTW_NS || type == FTW_DNR) && errno != ENOENT) walk.complete = false;
  if (type == FTW_NS) return 0;
  if (!S_ISDIR(st->st_mode) && st->st_nlink > 1 &&
      !walk.linked.insert({st->st_dev, st->st_ino}).second)
    return 0;
  walk.bytes += st->st_size;
  return 0;
}

}  // namespace

long long SVNRepo::getSize() const {
  // "/." follows a repository that is a link to its directory.  A
  // directory removed while the walk opens it (a commit's transaction)
  // fails the walk: it is tried again.
  int rc = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    walk = Walk();
    errno = 0;
    rc = nftw((path + "/.").c_str(), CountEntry, 16, FTW_PHYS);
    if (!(rc < 0 && errno == ENOENT)) break;
  }
  if (rc != 0 || !walk.complete) {
    REPO_LOG("Walk %s failed: some entries cannot be read.", path.c_str());
    walk = Walk();
    return -1;
  }
  long long bytes = walk.bytes;
  walk = Walk();
  return bytes;
}

// ---- Access rules ----

namespace {

const char kGroups[] = "groups";

// Names Subversion's authz reads as something else than an account or
// group: "@group", "$token", "&alias", "*", "~inverted".
bool SpecialFirst(const std::string& name) {
  return !name.empty() && strchr("@$&*~", name[0]) != nullptr;
}

// A name the authz file can hold as an option name: an account or group.
bool AuthzName(const std::string& name) {
  return !name.empty() && !SpecialFirst(name) && !HasNul(name) &&
         NLIBCConfCheckValue(name.c_str(), "r") == 0;
}

// An absolute, canonical path as authz rules take them: "/", "/a/b"; no
// empty, "." or ".." segment, no trailing "/", no control character, no
// "]" (which would end the section's name).
bool RulePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7F || c == ']') return false;
  if (path == "/") return true;
  for (size_t b = 1; b <= path.size();) {
    size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    std::string segment = path.substr(b, e - b);
    if (segment.empty() || segment == "." || segment == "..") return false;
    b = e + 1;
  }
  return true;
}

// The rights an authz value grants, as Subversion reads it ('r' and 'w',
// blanks ignored): "rw", "r" or "".
std::string Rights(const std::string& value) {
  bool r = value.find('r') != std::string::npos;
  bool w = value.find('w') != std::string::npos;
  return r && w ? "rw" : r ? "r" : "";
}

// Splits a group's members as Subversion does: at commas, blanks trimmed,
// empty ones dropped.
std::vector<std::string> Members(const std::string& value) {
  std::vector<std::string> members;
  for (size_t b = 0; b <= value.size();) {
    size_t e = value.find(',', b);
    if (e == std::string::npos) e = value.size();
    std::string m = value.substr(b, e - b);
    m.erase(0, m.find_first_not_of(" \t\v\f\r\n"));
    m.erase(m.find_last_not_of(" \t\v\f\r\n") + 1);
    if (!m.empty()) members.push_back(m);
    b = e + 1;
  }
  return members;
}

// How many members Subversion visits when it expands every group: it
// expands a subgroup again wherever it appears, so a few hundred bytes of
// nested groups can cost it (and svnserve, on every connection) hours.
// Counted in Kahn's order, without recursion, up to `limit` + 1; -1 when
// a group contains itself, directly or through others.
long long GroupExpansion(const SVNRepo::Groups& groups, long long limit) {
  std::map<std::string, size_t> index;
  for (const auto& g : groups) index.emplace(g.first, index.size());
  std::vector<long long> size(groups.size(), 0);
  std::vector<size_t> pending(groups.size(), 0);
  std::vector<std::vector<size_t>> parents(groups.size());  // once per reference
  size_t i = 0;
  for (const auto& g : groups) {
    for (const std::string& m : g.second) {
      ++size[i];  // every member is a visit, a subgroup's too
      auto sub = m[0] == '@' ? index.find(m.substr(1)) : index.end();
      if (sub != index.end()) {
        parents[sub->second].push_back(i);
        ++pending[i];
      }
    }
    ++i;
  }
  std::vector<size_t> ready;
  for (i = 0; i < groups.size(); ++i)
    if (pending[i] == 0) ready.push_back(i);
  size_t done = 0;
  long long total = 0;
  while (!ready.empty()) {
    size_t g = ready.back();
    ready.pop_back();
    ++done;
    size[g] = std::min(size[g], limit + 1);
    total = std::min(total + size[g], limit + 1);
    for (size_t p : parents[g]) {
      size[p] = std::min(size[p] + size[g], limit + 1);
      if (--pending[p] == 0) ready.push_back(p);
    }
  }
  return done < groups.size() ? -1 : total;
}

// Names as the rules take them once logins are folded to lower case.
std::string Lower(std::string n) {
  for (char& c : n) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return n;
}

// Whether setRules takes `groups` and `rules` as they stand; logs why not
// when `log`.
bool RulesAcceptable(const SVNRepo::Groups& groups, const std::vector<SVNRepo::Rule>& rules,
                     bool log) {
  auto utf8 = [](const std::string& t) { return NLIBCStrValidUtf8(t.data(), t.size()) != 0; };
  for (const auto& g : groups) {
    bool ok = AuthzName(g.first) && utf8(g.first);
    for (const std::string& m : g.second)
      ok = ok && !m.empty() && m.find(',') == std::string::npos && utf8(m) &&
           (m[0] == '@' ? groups.count(m.substr(1)) == 1 : AuthzName(m));
    if (!ok) {
      if (log)
        REPO_LOG("Group %s cannot be kept (its name or a member).",
                 AuthzName(g.first) && utf8(g.first) ? g.first.c_str() : "?");
      return false;
    }
  }
  long long work = GroupExpansion(groups, SVNRepo::kMaxGroupExpansion);
  if (work < 0 || work > SVNRepo::kMaxGroupExpansion) {
    if (log && work < 0) REPO_LOG("A group contains itself.");
    if (log && work >= 0) REPO_LOG("Groups nest too deeply: Subversion would expand them slowly.");
    return false;
  }
  std::set<std::pair<std::string, std::string>> seen;
  for (size_t i = 0; i < rules.size(); ++i) {
    const SVNRepo::Rule& r = rules[i];
    bool who = r.who == "*" || r.who == "$anonymous" || r.who == "$authenticated" ||
               (!r.who.empty() && r.who[0] == '@' ? groups.count(r.who.substr(1)) == 1
                                                  : AuthzName(r.who));
    if (!RulePath(r.path) || !utf8(r.path) || !who || !utf8(r.who) ||
        (r.access != "rw" && r.access != "r" && !r.access.empty()) ||
        !seen.insert({r.path, r.who}).second) {
      if (log) REPO_LOG("Rule %zu cannot be kept (its path, who, access, or twice).", i + 1);
      return false;
    }
  }
  return true;
}

// Account names folded as setRules writes them.
void LowerAccounts(SVNRepo::Groups* groups, std::vector<SVNRepo::Rule>* rules) {
  for (auto& g : *groups)
    for (std::string& m : g.second)
      if (!m.empty() && m[0] != '@') m = Lower(m);
  for (SVNRepo::Rule& r : *rules)
    if (!r.who.empty() && !SpecialFirst(r.who)) r.who = Lower(r.who);
}


// The strings of a list of the utility library.
std::vector<std::string> Strings(PNLIBSZLIST list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->nItem; ++i) out.push_back(NLIBCSzListGet(list, i));
  return out;
}

}  // namespace

int SVNRepo::getRules(Groups* groups, std::vector<Rule>* rules) {
  // authz-db absent: no rules in force; present, even empty, it is what
  // svnserve reads, and must be a file it can read.
  const char* value = NLIBCConfGet(settings.p, kGeneral, "authz-db");
  rulesActive = value != nullptr;
  std::string db = CanonicalPath(value != nullptr ? value : "authz");
  if (db.empty() || db.find("://") != std::string::npos || db.compare(0, 2, "^/") == 0) {
    REPO_LOG("Rules of %s are not in a file of theirs (%s).", name.c_str(), db.c_str());
    return -1;
  }
  const std::string file = db[0] == '/' ? db : path + kConfDir + "/" + db;
  const int flags = openFlags | NLIBC_CONF_EXACT | (rulesActive ? 0 : NLIBC_CONF_OPTIONAL);
  SzList sections, names, values;
  if ((authz.p = NLIBCConfOpen(file.c_str(), flags)) == nullptr ||
      (sections.p = NLIBCSzListAlloc(16)) == nullptr ||
      (names.p = NLIBCSzListAlloc(16)) == nullptr ||
      (values.p = NLIBCSzListAlloc(16)) == nullptr ||
      NLIBCConfGetSections(authz.p, &sections.p) < 0) {
    REPO_LOG("Read rules from %s failed.[0x%04X]", file.c_str(), NLIBCErrGet());
    return -1;
  }
  // Only a file of this repository's own is ours to edit: a file outside
  // conf/ may be shared, and its rules then bind other repositories too.
  // (conf/ itself may not lead elsewhere either).
  const std::string conf = RealLocation(path + kConfDir);
  rulesEditable = !conf.empty() && conf == RealLocation(path + "/.") + kConfDir &&
                  RealLocation(file).compare(0, conf.size() + 1, conf + "/") == 0;
  // A separate groups file (groups-db) is for editing by hand.
  const char* groupsDb = NLIBCConfGet(settings.p, kGeneral, "groups-db");
  std::string groupsText;
  Groups dbGroups;  // of the groups file
  // A login name the file uses, inverted ("~name") or not.
  auto noteName = [this](const std::string& n) {
    std::string plain = !n.empty() && n[0] == '~' ? n.substr(1) : n;
    if (!plain.empty() && !SpecialFirst(plain)) ruleNames.insert(plain);
  };
  if (groupsDb != nullptr) rulesEditable = false;
  if (groupsDb != nullptr && rulesActive) {
    std::string g = CanonicalPath(groupsDb);
    ConfFile groupsFile;
    groupsFile.p = g.empty() ? nullptr
                             : NLIBCConfOpen((g[0] == '/' ? g : path + kConfDir + "/" + g).c_str(),
                                             NLIBC_CONF_EXACT);
    unsigned long size = 0;
    const char* text = NLIBCConfText(groupsFile.p, &size);
    if (text == nullptr) {
      REPO_LOG("Read groups of %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
      return -1;
    }
    groupsText.assign(text, size);
    SzList names, values;
    if ((names.p = NLIBCSzListAlloc(16)) != nullptr &&
        (values.p = NLIBCSzListAlloc(16)) != nullptr &&
        NLIBCConfGetEntries(groupsFile.p, kGroups, &names.p, &values.p) == 0) {
      std::vector<std::string> group = Strings(names.p), members = Strings(values.p);
      for (size_t i = 0; i < group.size(); ++i)
        for (const std::string& m : dbGroups[group[i]] = Members(members[i])) noteName(m);
    }
  }
  // What the file says; whether or not it binds, it is what an edit keeps.
  Groups readGroups;
  std::vector<Rule> readRules;
  std::map<std::pair<std::string, std::string>, size_t> at;  // (path, who)
  auto utf8 = [](const std::string& t) { return NLIBCStrValidUtf8(t.data(), t.size()) != 0; };
  const std::vector<std::string> all = Strings(sections.p);
  for (const std::string& section : all) {
    bool isGroups = section == kGroups, isPath = section[0] == '/';
    if (!isGroups && !isPath) {
      // "[NAME:/path]" and globs for this repository bind it in ways the
      // page does not show; other repositories' rules and [aliases] are
      // kept as they are.  The names they use are logins all the same.
      size_t colon = section.find(':');
      std::string repo = section.substr(0, colon);
      bool binds = colon != std::string::npos && (repo == name || repo.empty());
      if (binds) {
        rulesEditable = false;
        if (section.compare(colon, 6, ":glob:") != 0) boundPaths.push_back(section.substr(colon + 1));
      }
      if ((binds || section == "aliases") &&
          NLIBCConfGetEntries(authz.p, section.c_str(), &names.p, &values.p) == 0) {
        for (const std::string& n : Strings(section == "aliases" ? values.p : names.p))
          noteName(n);
      }
      continue;
    }
    if (NLIBCConfGetEntries(authz.p, section.c_str(), &names.p, &values.p) < 0) continue;
    std::vector<std::string> who = Strings(names.p), what = Strings(values.p);
    for (size_t i = 0; i < who.size(); ++i) {
      if (!utf8(what[i])) rulesEditable = false;
      if (isGroups) {
        readGroups[who[i]] = Members(what[i]);
        for (const std::string& m : readGroups[who[i]]) {
          if (m[0] == '&') rulesEditable = false;
          noteName(m);
        }
        continue;
      }
      if (who[i][0] == '~' || who[i][0] == '&') rulesEditable = false;
      noteName(who[i]);
      auto known = at.find({section, who[i]});
      if (known == at.end()) {
        at[{section, who[i]}] = readRules.size();
        readRules.push_back({section, who[i], Rights(what[i])});
      } else {  // repeated entries add up
        Rule& r = readRules[known->second];
        r.access = Rights(r.access + what[i]);
      }
    }
  }
  // What cannot go to the page and come back meaning the same is edited
  // by hand: anything setRules would refuse, and names that can match no
  // login because svnserve folds logins to another case.
  const char* fold = NLIBCConfGet(settings.p, kGeneral, "force-username-case");
  const std::string folding = fold != nullptr ? fold : "";
  for (const std::string& n : ruleNames) {
    std::string folded = n;
    for (char& c : folded)
      c = static_cast<char>(folding == "upper" ? toupper(static_cast<unsigned char>(c))
                                               : tolower(static_cast<unsigned char>(c)));
    if ((folding == "lower" || folding == "upper") && folded != n) rulesEditable = false;
  }
  Groups asWritten = readGroups;
  std::vector<Rule> rulesAsWritten = readRules;
  LowerAccounts(&asWritten, &rulesAsWritten);
  if (!RulesAcceptable(asWritten, rulesAsWritten, false)) rulesEditable = false;
  if (!rulesActive) {  // none in force
    ruleNames.clear();
    boundPaths.clear();
    return 0;
  }
  // svnserve refuses every connection over rules it cannot read, and
  // crawls over groups that nest too deeply; neither is given to the
  // engine, nor a file whose table could never be shown.
  Groups expanded = dbGroups;
  expanded.insert(readGroups.begin(), readGroups.end());
  long long work = GroupExpansion(expanded, kMaxGroupExpansion);
  if (work < 0 || work > kMaxGroupExpansion ||
      all.size() > kMaxAccessCells / (accounts.size() + 1)) {
    REPO_LOG("Rules of %s are not valid, or too large to use (%zu sections).", name.c_str(),
             all.size());
    return -1;
  }
  unsigned long size = 0;
  const char* text = NLIBCConfText(authz.p, &size);
  engine.reset(new SVNAuthz(std::string(text, size), groupsText));
  if (!engine->valid()) {
    REPO_LOG("Rules of %s are not valid.", name.c_str());
    return -1;
  }
  groups->swap(readGroups);
  rules->swap(readRules);
  return 0;
}

int SVNRepo::getAccess(const std::vector<std::string>& paths,
                       std::map<std::string, std::vector<char>>* access) {
  // svnserve's access levels: only "read" and "write" grant anything.
  auto level = [&](const char* key, const char* fallback) {
    const char* v = NLIBCConfGet(settings.p, kGeneral, key);
    std::string word = v != nullptr ? v : fallback;
    return word == "write" ? 2 : word == "read" ? 1 : 0;
  };
  const int authLevel = level("auth-access", "write"), anonLevel = level("anon-access", "read");
  if (rulesActive && (engine == nullptr || !engine->valid())) {
    REPO_LOG("Rules of %s cannot be checked.", name.c_str());
    return -1;
  }
  // A table that large would take minutes and gigabytes to answer.
  if (paths.size() * (accounts.size() + 1) > kMaxAccessCells) {
    REPO_LOG("Access of %s is too large to show (%zu paths, %zu accounts).", name.c_str(),
             paths.size(), accounts.size());
    return -1;
  }
  // svnserve folds a login name as force-username-case says before it
  // asks the rules about it.
  const char* fold = NLIBCConfGet(settings.p, kGeneral, "force-username-case");
  const std::string folding = fold != nullptr ? fold : "none";
  auto rights = [&](int lvl, const std::string& user, const std::string& at) {
    const bool r = lvl >= 1 && (!rulesActive || engine->allows(name, at, user, false));
    const bool w = r && lvl >= 2 && (!rulesActive || engine->allows(name, at, user, true));
    return static_cast<char>(w ? 2 : r ? 1 : 0);
  };
  // One user at a time: the engine works out each user's rules once.
  // A client tries without logging in first: an account may always do
  // what an anonymous user may.
  std::vector<char>& anonymous = (*access)["$anonymous"];
  anonymous.resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) anonymous[i] = rights(anonLevel, std::string(), paths[i]);
  // Without folding, an account logs in under any spelling of its name
  // (the password file ignores case) and the rules see that spelling: it
  // may do the most any spelling may.  Spellings no rule names are all
  // alike; one such login stands for them.
  const bool folds = folding == "lower" || folding == "upper";
  std::string unnamed = "unnamed-login";
  while (ruleNames.count(unnamed) != 0) unnamed += "-";
  std::vector<char> unnamedLevels;
  for (const auto& a : accounts) {
    if (a.first == "$anonymous") continue;  // not one the rules can name
    std::vector<std::string> spellings{a.first};
    bool other = false;  // a spelling no rule names
    if (folds) {
      for (char& c : spellings[0])
        c = static_cast<char>(folding == "lower" ? tolower(static_cast<unsigned char>(c))
                                                 : toupper(static_cast<unsigned char>(c)));
    } else if (rulesActive) {
      size_t letters = 0;
      for (unsigned char c : a.first) letters += isalpha(c) ? 1 : 0;
      for (const std::string& n : ruleNames)
        if (n != a.first && Lower(n) == Lower(a.first)) spellings.push_back(n);
      // Of the 2^letters spellings, these are named or the account's own.
      other = letters > 0 && (letters >= 20 || (size_t(1) << letters) > spellings.size());
    }
    if (other && unnamedLevels.empty()) {
      unnamedLevels.resize(paths.size());
      for (size_t i = 0; i < paths.size(); ++i)
        unnamedLevels[i] = rights(authLevel, unnamed, paths[i]);
    }
    std::vector<char>& levels = (*access)[a.first];
    levels = anonymous;
    for (const std::string& user : spellings)
      for (size_t i = 0; i < paths.size(); ++i)
        levels[i] = std::max(levels[i], rights(authLevel, user, paths[i]));
    if (other)
      for (size_t i = 0; i < paths.size(); ++i) levels[i] = std::max(levels[i], unnamedLevels[i]);
  }
  return 0;
}

int SVNRepo::setRules(const Groups& requestedGroups, const std::vector<Rule>& requested) {
  if (authz.p == nullptr || !rulesEditable) {
    REPO_LOG("Rules of %s hold what the page cannot show (aliases, inverted entries, "
             "another groups file, rules for this repository by name or glob, names no "
             "login matches, bytes that are not UTF-8) or lie outside conf/: they are "
             "edited by hand.",
             name.c_str());
    return -1;
  }
  // svnserve checks logins folded to lower case once rules bind (see
  // below), so that no spelling of an account escapes a rule naming it:
  // account names in rules and groups are written in lower case.
  Groups groups = requestedGroups;
  std::vector<Rule> rules = requested;
  LowerAccounts(&groups, &rules);
  if (!RulesAcceptable(groups, rules, true)) return -1;
  // One edit: [groups], each rule's path section, and the path sections
  // no rule keeps removed.
  std::vector<std::string> paths;
  std::map<std::string, size_t> pathAt;
  for (const Rule& r : rules)
    if (pathAt.emplace(r.path, paths.size()).second) paths.push_back(r.path);
  std::vector<std::unique_ptr<SzHash>> hashes(paths.size() + 1);
  for (auto& h : hashes) {
    h.reset(new SzHash);
    if ((h->p = NLIBCSzHashAlloc(8)) == nullptr) return -1;
  }
  bool ok = true;
  for (const auto& g : groups) {
    std::string members;
    for (const std::string& m : g.second) members += (members.empty() ? "" : ", ") + m;
    ok = ok && NLIBCSzHashSetValue(&hashes[0]->p, g.first.c_str(), members.c_str()) == 0;
  }
  for (const Rule& r : rules)
    ok = ok && NLIBCSzHashSetValue(&hashes[pathAt[r.path] + 1]->p, r.who.c_str(),
                                   r.access.c_str()) == 0;
  std::vector<const char*> names{kGroups};
  std::vector<PNLIBSZHASH> pairs{hashes[0]->p};
  for (size_t i = 0; i < paths.size(); ++i) {
    names.push_back(paths[i].c_str());
    pairs.push_back(hashes[i + 1]->p);
  }
  SzList sections;
  ok = ok && (sections.p = NLIBCSzListAlloc(16)) != nullptr &&
       NLIBCConfGetSections(authz.p, &sections.p) == 0;
  std::vector<std::string> existing = ok ? Strings(sections.p) : std::vector<std::string>();
  for (const std::string& section : existing)
    if (section[0] == '/' && !pathAt.count(section)) {
      names.push_back(section.c_str());
      pairs.push_back(nullptr);
    }
  if (!ok || NLIBCConfSetSections(authz.p, static_cast<int>(names.size()), names.data(),
                                  pairs.data()) < 0) {
    REPO_LOG("Write the rules of %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
    return -1;
  }
  // Rules bind once authz-db names their file, with logins folded to lower
  // case; without rules authz-db is commented out and the file kept.
  if (!rules.empty() &&
      ((!rulesActive && NLIBCConfSet(settings.p, kGeneral, "authz-db", "authz") < 0) ||
       NLIBCConfSet(settings.p, kGeneral, "force-username-case", "lower") < 0)) {
    REPO_LOG("Set key authz-db failed[0x%04X]", NLIBCErrGet());
    return -1;
  }
  if (rules.empty() && rulesActive && NLIBCConfComment(settings.p, kGeneral, "authz-db") < 0) {
    REPO_LOG("Comment out authz-db failed[0x%04X]", NLIBCErrGet());
    return -1;
  }
  // Turned off, the settings go first: rules emptied while authz-db still
  // named them would let nobody in.
  rulesFirst = !(rulesActive && rules.empty());
  rulesActive = !rules.empty();
  // Subversion must read the file as meant.
  unsigned long size = 0;
  const char* text = NLIBCConfText(authz.p, &size);
  engine.reset(new SVNAuthz(std::string(text, size)));
  if (!engine->valid()) {
    REPO_LOG("The rules of %s would not be valid.", name.c_str());
    return -1;
  }
  return 0;
}
