// standard_layout.cpp: the standard layout of a new repository, committed through
// libsvn_repos.

#include "store/standard_layout.h"

#include <syslog.h>

#include "store/subversion.h"

#define LOG_MODULE "svn_fs"

SVNStatus MakeStandardLayout(const std::string& path, const std::string& author) {
  const SVNLibrary* lib = nullptr;
  STATUS_TRY(LoadSubversion(&lib));
  SVNPool pool(lib);
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
  if (err == nullptr) return SVNStatus();
  std::string why = lib->takeMessage(err);
  if (SVN_IS_VALID_REVNUM(made)) {  // committed; a post-commit hook complained
    LOG_LINE("After the layout of %s: %s", path.c_str(), why.c_str());
    return SVNStatus();
  }
  SVNStatus status = STATUS_ERROR(kFailed, "Make the layout of %s failed: %s", path.c_str(), why.c_str());
  if (txn != nullptr) {
    err = lib->abortTxn(txn, p);
    if (err != nullptr)
      STATUS_WITH(status, "Abort the layout failed: %s", lib->takeMessage(err).c_str());
  }
  return status;
}
