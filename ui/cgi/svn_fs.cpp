// svn_fs.cpp: a repository's facts and its standard layout, through
// libsvn_repos and libsvn_fs.

#include "svn_fs.h"

#include <sys/stat.h>
#include <syslog.h>

#include "svn_lib.h"

#define FS_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, "svn_fs", __LINE__, ##__VA_ARGS__)

namespace {

// The files every open of a repository reads.  Anything but a plain file
// there (a FIFO, a device) would stop the library for good: such a
// repository is not opened.
bool PlainFiles(const std::string& path) {
  for (const char* file : {"/format", "/db/format", "/db/fs-type", "/db/uuid", "/db/current"}) {
    struct stat st;
    if (stat((path + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      FS_LOG("%s%s is not a plain file.", path.c_str(), file);
      return false;
    }
  }
  return true;
}

// "YYYY-MM-DDTHH:MM:SS[.ffffff]Z" to the second, or "" for another text.
std::string Seconds(const char* date) {
  std::string d = date;
  const std::string shape = "dddd-dd-ddTdd:dd:dd";
  if (d.size() < shape.size() + 1) return "";
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? (d[i] < '0' || d[i] > '9') : d[i] != shape[i]) return "";
  size_t end = shape.size();
  if (d[end] == '.')
    for (++end; end < d.size() && d[end] >= '0' && d[end] <= '9';) ++end;
  if (end + 1 != d.size() || d[end] != 'Z') return "";
  return d.substr(0, shape.size()) + "Z";
}

// The text of the revision property `name` in `props`, or "".
std::string Prop(const SvnLib* lib, apr_hash_t* props, const char* name) {
  auto* value = static_cast<svn_string_t*>(lib->hashGet(props, name, APR_HASH_KEY_STRING));
  return value != nullptr ? std::string(value->data, value->len) : std::string();
}

}  // namespace

int ReadRepoFacts(const std::string& path, RepoFacts* facts) {
  if (!PlainFiles(path)) return -1;  // checked first: loading costs milliseconds
  const SvnLib* lib = SvnLibLoad();
  if (lib == nullptr) return -1;
  SvnPool pool(lib);
  svn_repos_t* repos = nullptr;
  svn_revnum_t rev = SVN_INVALID_REVNUM;
  const char* uuid = nullptr;
  apr_hash_t* props = nullptr;
  svn_error_t* err = lib->reposOpen(&repos, path.c_str(), nullptr, pool.get(), pool.get());
  svn_fs_t* fs = err == nullptr ? lib->reposFs(repos) : nullptr;
  if (err == nullptr) err = lib->youngest(&rev, fs, pool.get());
  if (err == nullptr) err = lib->uuid(fs, &uuid, pool.get());
  if (err == nullptr)
    err = lib->revisionProplist(&props, fs, rev, FALSE, pool.get(), pool.get());
  if (err != nullptr) {
    FS_LOG("Read the history of %s failed: %s", path.c_str(), lib->takeMessage(err).c_str());
    return -1;
  }
  facts->rev = rev;
  facts->uuid = uuid;
  facts->updated = Seconds(Prop(lib, props, "svn:date").c_str());
  facts->author = Prop(lib, props, "svn:author");
  return 0;
}

int MakeStandardLayout(const std::string& path, const std::string& author) {
  const SvnLib* lib = SvnLibLoad();
  if (lib == nullptr) return -1;
  SvnPool pool(lib);
  apr_pool_t* p = pool.get();
  svn_repos_t* repos = nullptr;
  svn_fs_txn_t* txn = nullptr;
  svn_fs_root_t* root = nullptr;
  svn_revnum_t rev = SVN_INVALID_REVNUM, made = SVN_INVALID_REVNUM;
  const char* conflict = nullptr;
  const std::string log = "Create standard layout";
  apr_hash_t* props = lib->hashMake(p);
  lib->hashSet(props, "svn:log", APR_HASH_KEY_STRING, lib->stringCreate(log.data(), log.size(), p));
  if (!author.empty())
    lib->hashSet(props, "svn:author", APR_HASH_KEY_STRING,
                 lib->stringCreate(author.data(), author.size(), p));
  svn_error_t* err = lib->reposOpen(&repos, path.c_str(), nullptr, p, p);
  if (err == nullptr) err = lib->youngest(&rev, lib->reposFs(repos), p);
  if (err == nullptr) err = lib->beginTxn(&txn, repos, rev, props, p);
  if (err == nullptr) err = lib->txnRoot(&root, txn, p);
  for (const char* dir : {"/trunk", "/branches", "/tags"})
    if (err == nullptr) err = lib->makeDir(root, dir, p);
  if (err == nullptr) err = lib->commitTxn(&conflict, repos, &made, txn, p);
  if (err == nullptr) return 0;
  std::string why = lib->takeMessage(err);
  if (SVN_IS_VALID_REVNUM(made)) {  // committed; a post-commit hook complained
    FS_LOG("After the layout of %s: %s", path.c_str(), why.c_str());
    return 0;
  }
  FS_LOG("Make the layout of %s failed: %s", path.c_str(), why.c_str());
  if (txn != nullptr) {
    err = lib->abortTxn(txn, p);
    if (err != nullptr) FS_LOG("Abort the layout failed: %s", lib->takeMessage(err).c_str());
  }
  return -1;
}
