// svn_authz.cpp: Subversion's authz parser and checker, loaded on demand.

#include "svn_authz.h"

#include <apr_pools.h>
#include <dlfcn.h>
#include <svn_error.h>
#include <svn_io.h>
#include <svn_repos.h>
#include <svn_string.h>
#include <syslog.h>

#define AUTHZ_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "svn_authz", __LINE__, ##__VA_ARGS__)

namespace {

// The functions used, found in the libraries when first needed.
struct Engine {
  apr_status_t (*aprInitialize)(void);
  apr_pool_t* (*poolCreate)(apr_pool_t*, apr_allocator_t*);
  void (*poolDestroy)(apr_pool_t*);
  void (*poolClear)(apr_pool_t*);
  svn_string_t* (*stringCreate)(const char*, apr_size_t, apr_pool_t*);
  svn_stream_t* (*streamFromString)(const svn_string_t*, apr_pool_t*);
  svn_error_t* (*parse)(svn_authz_t**, svn_stream_t*, svn_stream_t*,
                        svn_repos_authz_warning_func_t, void*, apr_pool_t*,
                        apr_pool_t*);
  svn_error_t* (*check)(svn_authz_t*, const char*, const char*, const char*,
                        svn_repos_authz_access_t, svn_boolean_t*, apr_pool_t*);
  const char* (*bestMessage)(const svn_error_t*, char*, apr_size_t);
  void (*errorClear)(svn_error_t*);
};

// Finds `name` in `library`, storing it in *fn.
template <typename Fn>
bool Bind(void* library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(dlsym(library, name));
  return *fn != nullptr;
}

// The engine, or null when its libraries cannot be loaded (logged once).
const Engine* Load() {
  static Engine engine;
  static int state = 0;  // 0 not tried, 1 loaded, -1 failed
  if (state != 0) return state > 0 ? &engine : nullptr;
  state = -1;
  void* apr = dlopen("libapr-1.so.0", RTLD_NOW | RTLD_GLOBAL);
  void* subr = dlopen("libsvn_subr-1.so.1", RTLD_NOW | RTLD_GLOBAL);
  void* repos = dlopen("libsvn_repos-1.so.1", RTLD_NOW | RTLD_GLOBAL);
  if (apr == nullptr || subr == nullptr || repos == nullptr ||
      !Bind(apr, "apr_initialize", &engine.aprInitialize) ||
      !Bind(apr, "apr_pool_destroy", &engine.poolDestroy) ||
      !Bind(apr, "apr_pool_clear", &engine.poolClear) ||
      !Bind(subr, "svn_pool_create_ex", &engine.poolCreate) ||
      !Bind(subr, "svn_string_ncreate", &engine.stringCreate) ||
      !Bind(subr, "svn_stream_from_string", &engine.streamFromString) ||
      !Bind(subr, "svn_err_best_message", &engine.bestMessage) ||
      !Bind(subr, "svn_error_clear", &engine.errorClear) ||
      !Bind(repos, "svn_repos_authz_parse2", &engine.parse) ||
      !Bind(repos, "svn_repos_authz_check_access", &engine.check)) {
    AUTHZ_LOG("Load Subversion's libraries failed: %s", dlerror());
    return nullptr;
  }
  if (engine.aprInitialize() != APR_SUCCESS) {
    AUTHZ_LOG("apr_initialize failed.");
    return nullptr;
  }
  state = 1;
  return &engine;
}

}  // namespace

struct SVNAuthz::State {
  const Engine* engine;
  apr_pool_t* pool;
  apr_pool_t* scratch;  // of one check, cleared after it
  svn_authz_t* authz;
  ~State() { engine->poolDestroy(pool); }
};

SVNAuthz::SVNAuthz(const std::string& text, const std::string& groups) {
  const Engine* e = Load();
  if (e == nullptr) return;
  std::unique_ptr<State> s(new State{e, e->poolCreate(nullptr, nullptr), nullptr, nullptr});
  s->scratch = e->poolCreate(s->pool, nullptr);
  svn_string_t* str = e->stringCreate(text.data(), text.size(), s->pool);
  svn_stream_t* groupsStream =
      groups.empty() ? nullptr
                     : e->streamFromString(e->stringCreate(groups.data(), groups.size(), s->pool),
                                           s->pool);
  svn_error_t* err = e->parse(&s->authz, e->streamFromString(str, s->pool),
                              groupsStream, nullptr, nullptr, s->pool, s->pool);
  if (err != nullptr) {
    char message[512];
    AUTHZ_LOG("Subversion refuses the rules: %s",
              e->bestMessage(err, message, sizeof message));
    e->errorClear(err);
    return;
  }
  state_ = std::move(s);
}

SVNAuthz::~SVNAuthz() {}

bool SVNAuthz::allows(const std::string& repo, const std::string& path,
                      const std::string& user, bool write) const {
  if (state_ == nullptr) return false;
  const Engine* e = state_->engine;
  svn_boolean_t granted = FALSE;
  svn_error_t* err = e->check(state_->authz, repo.c_str(), path.c_str(),
                              user.empty() ? nullptr : user.c_str(),
                              write ? svn_authz_write : svn_authz_read,
                              &granted, state_->scratch);
  e->poolClear(state_->scratch);
  if (err != nullptr) {
    char message[512];
    AUTHZ_LOG("Check access failed: %s", e->bestMessage(err, message, sizeof message));
    e->errorClear(err);
    return false;
  }
  return granted != FALSE;
}
