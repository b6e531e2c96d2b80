// subversion.h: the functions of Subversion's libraries (and APR's) that the
// program uses, found when first needed.
//
// The libraries are loaded with dlopen by the requests that need them
// (access rules, a repository's facts, a new repository's layout), so
// that every other request pays nothing for them.
#ifndef SVN_STORE_SUBVERSION_H_
#define SVN_STORE_SUBVERSION_H_

#include <apr_hash.h>
#include <apr_pools.h>
#include <svn_error.h>
#include <svn_fs.h>
#include <svn_io.h>
#include <svn_repos.h>
#include <svn_string.h>

#include <string>

#include "store/status.h"

struct SVNLibrary {
  apr_pool_t* (*poolCreate)(apr_pool_t*, apr_allocator_t*);
  void (*poolDestroy)(apr_pool_t*);
  void (*poolClear)(apr_pool_t*);
  apr_hash_t* (*hashMake)(apr_pool_t*);
  void* (*hashGet)(apr_hash_t*, const void*, apr_ssize_t);
  void (*hashSet)(apr_hash_t*, const void*, apr_ssize_t, const void*);
  svn_string_t* (*stringCreate)(const char*, apr_size_t, apr_pool_t*);
  svn_stream_t* (*streamFromString)(const svn_string_t*, apr_pool_t*);
  const char* (*bestMessage)(const svn_error_t*, char*, apr_size_t);
  void (*errorClear)(svn_error_t*);
  // Access rules.
  svn_error_t* (*authzParse)(svn_authz_t**, svn_stream_t*, svn_stream_t*,
                             svn_repos_authz_warning_func_t, void*, apr_pool_t*,
                             apr_pool_t*);
  svn_error_t* (*authzCheck)(svn_authz_t*, const char*, const char*, const char*,
                             svn_repos_authz_access_t, svn_boolean_t*, apr_pool_t*);
  // Repositories.
  svn_error_t* (*reposOpen)(svn_repos_t**, const char*, apr_hash_t*, apr_pool_t*,
                            apr_pool_t*);
  svn_fs_t* (*reposFs)(svn_repos_t*);
  svn_error_t* (*youngest)(svn_revnum_t*, svn_fs_t*, apr_pool_t*);
  svn_error_t* (*uuid)(svn_fs_t*, const char**, apr_pool_t*);
  svn_error_t* (*revisionProplist)(apr_hash_t**, svn_fs_t*, svn_revnum_t, svn_boolean_t,
                                   apr_pool_t*, apr_pool_t*);
  svn_error_t* (*beginTxn)(svn_fs_txn_t**, svn_repos_t*, svn_revnum_t, apr_hash_t*,
                           apr_pool_t*);
  svn_error_t* (*txnRoot)(svn_fs_root_t**, svn_fs_txn_t*, apr_pool_t*);
  svn_error_t* (*makeDir)(svn_fs_root_t*, const char*, apr_pool_t*);
  svn_error_t* (*commitTxn)(const char**, svn_repos_t*, svn_revnum_t*, svn_fs_txn_t*,
                            apr_pool_t*);
  svn_error_t* (*abortTxn)(svn_fs_txn_t*, apr_pool_t*);
  svn_error_t* (*timeFromCstring)(apr_time_t*, const char*, apr_pool_t*);
  svn_error_t* (*revisionRoot)(svn_fs_root_t**, svn_fs_t*, svn_revnum_t, apr_pool_t*);
  svn_error_t* (*fileContents)(svn_stream_t**, svn_fs_root_t*, const char*, apr_pool_t*);
  svn_error_t* (*streamReadFull)(svn_stream_t*, char*, apr_size_t*);
  const char* (*findRootPath)(const char*, apr_pool_t*);
  svn_error_t* (*direntFromFileUrl)(const char**, const char*, apr_pool_t*);
  svn_error_t* (*uriCanonicalize)(const char**, const char**, const char*, apr_pool_t*,
                                  apr_pool_t*);

  // Subversion's message for `err`, which is cleared, on one line
  // (control characters, which hooks' output may hold, become '?').
  std::string takeMessage(svn_error_t* err) const;
};

// Loads the libraries once per process, with the character class of the
// UTF-8 locale C.UTF-8 (set for the whole process: Subversion converts
// paths through it), and sets
// *lib to their functions; a failure (logged as "svn_lib") is given again
// to every later call.
SVNStatus LoadSubversion(const SVNLibrary** lib);

// An APR pool of its own, destroyed with its holder.
class SVNPool {
 public:
  explicit SVNPool(const SVNLibrary* lib) : lib_(lib), pool_(lib->poolCreate(nullptr, nullptr)) {}
  ~SVNPool() { lib_->poolDestroy(pool_); }
  SVNPool(const SVNPool&) = delete;
  SVNPool& operator=(const SVNPool&) = delete;
  apr_pool_t* get() const { return pool_; }

 private:
  const SVNLibrary* lib_;
  apr_pool_t* pool_;
};

#endif  // SVN_STORE_SUBVERSION_H_
