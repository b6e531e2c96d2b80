// svn_repo.cpp: a repository's layout, its settings file and its accounts.
//
// Both conf files are read and written only through the utility library,
// which keeps every write atomic and faithful to what svnserve reads.

#include "svn_repo.h"

#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <stdexcept>

#include "nlibc.h"
#include "svn_paths.h"

#define REPO_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "svn_repo", __LINE__, ##__VA_ARGS__)

namespace {

const int kBufSize = 512;

// Owns one hash or list of the utility library, freed on every path.
struct SzHash {
  PNLIBSZHASH p = nullptr;
  ~SzHash() {
    if (p != nullptr) NLIBCSzHashFree(p);
  }
};

struct SzList {
  PNLIBSZLIST p = nullptr;
  ~SzList() {
    if (p != nullptr) NLIBCSzListFree(p);
  }
};

// The library takes C strings: a NUL byte would silently cut the text.
bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// An account list: an array of objects whose "account" and "password"
// members, where present, are strings.
bool IsAccountList(const Json::Value& json) {
  if (!json.isArray()) return false;
  for (const Json::Value& item : json) {
    if (!item.isObject()) return false;
    for (const char* member : {"account", "password"})
      if (item.isMember(member) && !item[member].isString()) return false;
  }
  return true;
}

}  // namespace

// ---- Layout ----

std::string SVNRepo::getRepoPath(const std::string& dirname) {
  return std::string(SVN_REPO_ROOT) + "/" + dirname;
}

int SVNRepo::checkPath(const std::string& dirtyInput) {
  // A name is one directory directly under the root: ".." would climb out
  // of it, and "/" would reach below it (through links, anywhere).
  if (dirtyInput.find("..") != std::string::npos ||
      dirtyInput.find('/') != std::string::npos) {
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
  passwdPath = path + "/conf/passwd";
  svnservePath = path + "/conf/svnserve.conf";
  return 0;
}

bool SVNRepo::isExist(const std::string& dirname) {
  std::string repoPath = getRepoPath(dirname);
  std::string passwd = repoPath + "/conf/passwd";
  std::string svnserve = repoPath + "/conf/svnserve.conf";
  if (dirname.empty()) {
    REPO_LOG("Argument error.");
    return false;
  }
  if (dirname.find('/') != std::string::npos) return false;
  struct stat st;
  if (stat(repoPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return NLIBCFileExist(passwd.c_str()) != 0 &&
         NLIBCFileExist(svnserve.c_str()) != 0;
}

// ---- Opening and creating ----

SVNRepo::SVNRepo(const std::string& dirname) {
  char szBuf[kBufSize] = {0};
  if (dirname.empty()) {
    REPO_LOG("Argument error.");
    throw std::invalid_argument("dirname == \"\"");
  }
  if (initPath(dirname) < 0) {
    REPO_LOG("Init path failed.");
    throw std::runtime_error("Initialize path failed");
  }
  if (NLIBCFileGetKeyValue(svnservePath.c_str(), "anon-access", szBuf, kBufSize,
                           0) < 0) {
    REPO_LOG("Get anon-access from file %s failed.[0x%04X]",
             svnservePath.c_str(), NLIBCErrGet());
    throw std::runtime_error("Get anon-access from file " + svnservePath +
                             " failed.");
  }
  anon = szBuf;
  memset(szBuf, 0, sizeof szBuf);
  if (NLIBCFileGetKeyValue(svnservePath.c_str(), "realm", szBuf, kBufSize, 0) <
      0) {
    REPO_LOG("Get realm from file %s failed.[0x%04X]", svnservePath.c_str(),
             NLIBCErrGet());
    throw std::runtime_error("Get realm from file " + svnservePath +
                             " failed.");
  }
  realm = szBuf;
  if (getAccountFromFile() < 0) {
    REPO_LOG("Get account from file %s failed.", passwdPath.c_str());
    throw std::runtime_error("Get account from file " + passwdPath +
                             " failed.");
  }
}

SVNRepo::SVNRepo(const std::string& dirname, const std::string& realm,
                 const std::string& anon, const Json::Value& accounts) {
  if (dirname.empty() || anon.empty()) {
    REPO_LOG("Argument error.");
    throw std::invalid_argument("Argument error");
  }
  if (initPath(dirname) < 0) {
    REPO_LOG("Init path failed.");
    throw std::runtime_error("Initialize path failed");
  }
  if (NLIBCExec(SVN_ADMIN_TOOL, "create", path.c_str(), nullptr, nullptr) < 0) {
    REPO_LOG("Execute command [%s create %s] failed.[0x%04X]", SVN_ADMIN_TOOL,
             path.c_str(), NLIBCErrGet());
    throw std::runtime_error("execute command failed");
  }
  for (const char* token : {"anon-access = ", "auth-access = ", "password-db = "}) {
    if (unComment(svnservePath, token) < 0) {
      REPO_LOG("uncomment line failed [%s][0x%04X]", svnservePath.c_str(),
               NLIBCErrGet());
      throw std::runtime_error("uncomment line failed");
    }
  }
  if (!realm.empty() && setRealm(realm) < 0) {
    REPO_LOG("Set realm failed.");
    throw std::runtime_error("set realm failed.");
  }
  if (setAnonymousPermission(anon) < 0) {
    REPO_LOG("Set anonymous permission failed.");
    throw std::runtime_error("set anonymous permission failed.");
  }
  if (setAccounts(accounts) < 0) {
    REPO_LOG("Set accounts failed");
    throw std::runtime_error("Set accounts failed");
  }
}

// ---- Settings file ----

int SVNRepo::unComment(const std::string& file, const std::string& lineToken) {
  char szBuf[kBufSize] = {0};
  if (file.empty() || lineToken.empty()) {
    REPO_LOG("Argument error.");
    return -1;
  }
  if (NLIBCFileLineComment(file.c_str(), lineToken.c_str(), 1) < 0) {
    REPO_LOG("Failed to uncomment %s in file %s[0x%04X]", lineToken.c_str(),
             file.c_str(), NLIBCErrGet());
    return -1;
  }
  if (NLIBCFileGetLine(file.c_str(), lineToken.c_str(), szBuf, kBufSize, 0) <
      0) {
    REPO_LOG("Get line error.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  if (NLIBCStrTrimSpace(szBuf, 0) < 0) {
    REPO_LOG("TrimSpace failed.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  if (NLIBCFileSetLine(file.c_str(), lineToken.c_str(), szBuf, 0) < 0) {
    REPO_LOG("set new line [%s] to file [%s] failed.[0x%04X]", szBuf,
             file.c_str(), NLIBCErrGet());
    return -1;
  }
  return 0;
}

int SVNRepo::setRealm(const std::string& newRealm) {
  char szBuf[kBufSize] = {0};
  if (newRealm.empty()) {
    if (NLIBCFileLineComment(svnservePath.c_str(), "realm =", 0) < 0) {
      REPO_LOG("Failed to uncomment %s in file %s[0x%04X]", "realm = ",
               svnservePath.c_str(), NLIBCErrGet());
      return -1;
    }
    realm.clear();
    return 0;
  }
  int found = NLIBCFileGetKeyValue(svnservePath.c_str(), "realm", szBuf,
                                   kBufSize, 0);
  if (found < 0) {
    REPO_LOG("Get realm from file %s failed.[0x%04X]", svnservePath.c_str(),
             NLIBCErrGet());
    return -1;
  }
  if (found == 0 && unComment(svnservePath, "realm =") < 0) {
    REPO_LOG("uncomment line failed [%s][0x%04X]", svnservePath.c_str(),
             NLIBCErrGet());
    return -1;
  }
  if (HasNul(newRealm) ||
      NLIBCFileSetKeyValue(svnservePath.c_str(), "realm", newRealm.c_str(),
                           0) < 0) {
    REPO_LOG("Set key realm failed[0x%04X]",
             HasNul(newRealm) ? NLIBC_E_BADCHAR : NLIBCErrGet());
    return -1;
  }
  realm = newRealm;
  return 0;
}

int SVNRepo::setAnonymousPermission(const std::string& permission) {
  if (HasNul(permission) ||
      NLIBCFileSetKeyValue(svnservePath.c_str(), "anon-access",
                           permission.c_str(), 0) < 0) {
    REPO_LOG("Set key anon-access failed[0x%04X]",
             HasNul(permission) ? NLIBC_E_BADCHAR : NLIBCErrGet());
    return -1;
  }
  anon = permission;
  return 0;
}

// ---- Accounts ----

int SVNRepo::getAccountFromFile() {
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
  if (NLIBCFileGetSection(passwdPath.c_str(), "users", &hash.p) < 0) {
    REPO_LOG("Failed to get section users from %s[0x%04X]", passwdPath.c_str(),
             NLIBCErrGet());
    return -1;
  }
  if (NLIBCSzHashEnumKey(hash.p, &list.p) < 0) {
    REPO_LOG("NLIBCSzHashEnumKey Fail, nimberr=[0x%04X]", NLIBCErrGet());
    return -1;
  }
  for (int i = 0; i < list.p->nItem; ++i) {
    const char* szKey = NLIBCSzListGet(list.p, i);
    const char* szValue = NLIBCSzHashGetValue(hash.p, szKey);
    if (szKey[0] == '#') continue;
    accounts[szKey] = szValue;
  }
  return 0;
}

int SVNRepo::setAccounts(Json::Value json) {
  if (!IsAccountList(json)) {
    REPO_LOG("Accounts are not a list of account objects.");
    return -1;
  }
  accounts.clear();
  for (Json::Value::ArrayIndex i = 0; i < json.size(); ++i) {
    const Json::Value& item = json[i];
    accounts[item["account"].asString()] = item["password"].asString();
  }
  if (writeBackAccount() < 0) {
    REPO_LOG("Write back account failed.");
    return -1;
  }
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
    if (HasNul(account.first) || HasNul(account.second) ||
        NLIBCSzHashSetValue(&hash.p, account.first.c_str(),
                            account.second.c_str()) < 0) {
      REPO_LOG("Set Hash key %s failed.[0x%04X]", account.first.c_str(),
               HasNul(account.first) || HasNul(account.second)
                   ? NLIBC_E_BADCHAR
                   : NLIBCErrGet());
      return -1;
    }
  }
  if (NLIBCFileSetSection(passwdPath.c_str(), "users", nullptr, hash.p, 0) < 0) {
    REPO_LOG("Set section users failed.[0x%04X]", NLIBCErrGet());
    return -1;
  }
  return 0;
}
