// svn_authz.cpp: Subversion's authz parser and checker, loaded on demand.

#include "svn_authz.h"

#include <syslog.h>

#include "svn_lib.h"

#define AUTHZ_LOG(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, "svn_authz", __LINE__, ##__VA_ARGS__)

struct SVNAuthz::State {
  const SvnLib* lib;
  apr_pool_t* pool;
  apr_pool_t* scratch;  // of one check, cleared after it
  svn_authz_t* authz;
  ~State() { lib->poolDestroy(pool); }
};

SVNAuthz::SVNAuthz(const std::string& text, const std::string& groups) {
  const SvnLib* e = SvnLibLoad();
  if (e == nullptr) return;
  std::unique_ptr<State> s(new State{e, e->poolCreate(nullptr, nullptr), nullptr, nullptr});
  s->scratch = e->poolCreate(s->pool, nullptr);
  svn_string_t* str = e->stringCreate(text.data(), text.size(), s->pool);
  svn_stream_t* groupsStream =
      groups.empty() ? nullptr
                     : e->streamFromString(e->stringCreate(groups.data(), groups.size(), s->pool),
                                           s->pool);
  svn_error_t* err = e->authzParse(&s->authz, e->streamFromString(str, s->pool),
                                   groupsStream, nullptr, nullptr, s->pool, s->pool);
  if (err != nullptr) {
    AUTHZ_LOG("Subversion refuses the rules: %s", e->takeMessage(err).c_str());
    return;
  }
  state_ = std::move(s);
}

SVNAuthz::~SVNAuthz() {}

bool SVNAuthz::allows(const std::string& repo, const std::string& path,
                      const std::string& user, bool write) const {
  if (state_ == nullptr) return false;
  const SvnLib* e = state_->lib;
  svn_boolean_t granted = FALSE;
  svn_error_t* err = e->authzCheck(state_->authz, repo.c_str(), path.c_str(),
                                   user.empty() ? nullptr : user.c_str(),
                                   write ? svn_authz_write : svn_authz_read,
                                   &granted, state_->scratch);
  e->poolClear(state_->scratch);
  if (err != nullptr) {
    AUTHZ_LOG("Check access failed: %s", e->takeMessage(err).c_str());
    return false;
  }
  return granted != FALSE;
}
