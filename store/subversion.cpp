// subversion.cpp: Subversion's libraries, loaded on demand.

#include "store/subversion.h"

#include <dlfcn.h>
#include <locale.h>

#define LOG_MODULE "svn_lib"

namespace {

// Finds `name` in `library`, storing it in *fn.
template <typename Fn>
bool Bind(void* library, const char* name, Fn* fn) {
  *fn = library != nullptr ? reinterpret_cast<Fn>(dlsym(library, name)) : nullptr;
  return *fn != nullptr;
}

}  // namespace

std::string SVNLibrary::takeMessage(svn_error_t* err) const {
  char message[512];
  std::string text = bestMessage(err, message, sizeof message);
  errorClear(err);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

SVNStatus LoadSubversion(const SVNLibrary** out) {
  static SVNLibrary lib;
  static SVNStatus state = STATUS_ERROR(kFailed, "Subversion's libraries are not loaded.");
  static bool tried = false;
  *out = nullptr;
  if (tried) {
    if (state.ok()) *out = &lib;
    return state;
  }
  tried = true;
  // Subversion converts every path and message between UTF-8 and the
  // encoding of the locale's character class: a name beyond ASCII needs a
  // UTF-8 one, set here, before the libraries' first call, for every
  // request that uses them (that category alone: half the cost of all).
  if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
    return state = STATUS_ERROR(kFailed, "Set the locale C.UTF-8 failed.");
  // Symbols are bound when first called: most of these libraries' are
  // never called here, and binding them all costs milliseconds.
  void* apr = dlopen("libapr-1.so.0", RTLD_LAZY | RTLD_GLOBAL);
  void* subr = dlopen("libsvn_subr-1.so.1", RTLD_LAZY | RTLD_GLOBAL);
  void* fs = dlopen("libsvn_fs-1.so.1", RTLD_LAZY | RTLD_GLOBAL);
  void* repos = dlopen("libsvn_repos-1.so.1", RTLD_LAZY | RTLD_GLOBAL);
  apr_status_t (*aprInitialize)(void) = nullptr;
  if (!Bind(apr, "apr_initialize", &aprInitialize) ||
      !Bind(apr, "apr_pool_destroy", &lib.poolDestroy) ||
      !Bind(apr, "apr_pool_clear", &lib.poolClear) ||
      !Bind(apr, "apr_hash_make", &lib.hashMake) ||
      !Bind(apr, "apr_hash_get", &lib.hashGet) ||
      !Bind(apr, "apr_hash_set", &lib.hashSet) ||
      !Bind(subr, "svn_pool_create_ex", &lib.poolCreate) ||
      !Bind(subr, "svn_string_ncreate", &lib.stringCreate) ||
      !Bind(subr, "svn_stream_from_string", &lib.streamFromString) ||
      !Bind(subr, "svn_err_best_message", &lib.bestMessage) ||
      !Bind(subr, "svn_error_clear", &lib.errorClear) ||
      !Bind(repos, "svn_repos_authz_parse2", &lib.authzParse) ||
      !Bind(repos, "svn_repos_authz_check_access", &lib.authzCheck) ||
      !Bind(repos, "svn_repos_open3", &lib.reposOpen) ||
      !Bind(repos, "svn_repos_fs", &lib.reposFs) ||
      !Bind(fs, "svn_fs_youngest_rev", &lib.youngest) ||
      !Bind(fs, "svn_fs_get_uuid", &lib.uuid) ||
      !Bind(fs, "svn_fs_revision_proplist2", &lib.revisionProplist) ||
      !Bind(repos, "svn_repos_fs_begin_txn_for_commit2", &lib.beginTxn) ||
      !Bind(fs, "svn_fs_txn_root", &lib.txnRoot) ||
      !Bind(fs, "svn_fs_make_dir", &lib.makeDir) ||
      !Bind(repos, "svn_repos_fs_commit_txn", &lib.commitTxn) ||
      !Bind(fs, "svn_fs_abort_txn", &lib.abortTxn) ||
      !Bind(subr, "svn_time_from_cstring", &lib.timeFromCstring) ||
      !Bind(fs, "svn_fs_revision_root", &lib.revisionRoot) ||
      !Bind(fs, "svn_fs_file_contents", &lib.fileContents) ||
      !Bind(subr, "svn_stream_read_full", &lib.streamReadFull) ||
      !Bind(repos, "svn_repos_find_root_path", &lib.findRootPath) ||
      !Bind(subr, "svn_uri_get_dirent_from_file_url", &lib.direntFromFileUrl) ||
      !Bind(subr, "svn_uri_canonicalize_safe", &lib.uriCanonicalize)) {
    const char* why = dlerror();
    return state = STATUS_ERROR(kFailed, "Load Subversion's libraries failed: %s",
                                why != nullptr ? why : "");
  }
  if (aprInitialize() != APR_SUCCESS)
    return state = STATUS_ERROR(kFailed, "apr_initialize failed.");
  state = SVNStatus();
  *out = &lib;
  return state;
}
