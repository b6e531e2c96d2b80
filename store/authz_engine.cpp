// authz_engine.cpp: Subversion's authz parser and checker, loaded on demand.

#include "store/authz_engine.h"

#include <syslog.h>

#include "store/subversion.h"

#define LOG_MODULE "svn_authz"

struct SVNAuthzEngine::State {
  const SVNLibrary* lib;
  apr_pool_t* pool;
  apr_pool_t* scratch;  // of one check, cleared after it
  svn_authz_t* authz;
  ~State() { lib->poolDestroy(pool); }
};

SVNAuthzEngine::SVNAuthzEngine(std::unique_ptr<State> state) : state_(std::move(state)) {}
SVNAuthzEngine::~SVNAuthzEngine() {}

SVNStatus SVNAuthzEngine::Parse(const std::string& text, const std::string& groups,
                                std::unique_ptr<SVNAuthzEngine>* engine) {
  const SVNLibrary* e = nullptr;
  STATUS_TRY(LoadSubversion(&e));
  std::unique_ptr<State> s(new State{e, e->poolCreate(nullptr, nullptr), nullptr, nullptr});
  s->scratch = e->poolCreate(s->pool, nullptr);
  svn_string_t* str = e->stringCreate(text.data(), text.size(), s->pool);
  svn_stream_t* groupsStream =
      groups.empty() ? nullptr
                     : e->streamFromString(e->stringCreate(groups.data(), groups.size(), s->pool),
                                           s->pool);
  svn_error_t* err = e->authzParse(&s->authz, e->streamFromString(str, s->pool), groupsStream,
                                   nullptr, nullptr, s->pool, s->pool);
  if (err != nullptr)
    return STATUS_ERROR(kFailed, "Subversion refuses the rules: %s", e->takeMessage(err).c_str());
  engine->reset(new SVNAuthzEngine(std::move(s)));
  return SVNStatus();
}

bool SVNAuthzEngine::allows(const std::string& repo, const std::string& path,
                            const std::string& user, bool write) const {
  const SVNLibrary* e = state_->lib;
  svn_boolean_t granted = FALSE;
  svn_error_t* err = e->authzCheck(state_->authz, repo.c_str(), path.empty() ? nullptr : path.c_str(),
                                   user.empty() ? nullptr : user.c_str(),
                                   write ? svn_authz_write : svn_authz_read, &granted,
                                   state_->scratch);
  e->poolClear(state_->scratch);
  if (err != nullptr) {
    LOG_LINE("Check access failed: %s", e->takeMessage(err).c_str());
    return false;
  }
  return granted != FALSE;
}
