// authz_engine.h: Subversion's own authorization engine (libsvn_repos),
// which reads access rules exactly as svnserve reads them.
//
// The libraries are loaded when first needed (see subversion.h), so that
// requests that do not ask about access rules pay nothing for them.
#ifndef SVN_STORE_AUTHZ_ENGINE_H_
#define SVN_STORE_AUTHZ_ENGINE_H_

#include <memory>
#include <string>

#include "store/status.h"

class SVNAuthzEngine {
 public:
  // Parses `text` as an authz file with Subversion's parser, its groups
  // from `groups` when not empty (a groups-db).  Fails ("svn_authz", with
  // Subversion's message) when the engine cannot be loaded or Subversion
  // refuses the text.
  static SVNStatus Parse(const std::string& text, const std::string& groups,
                         std::unique_ptr<SVNAuthzEngine>* engine);
  ~SVNAuthzEngine();
  SVNAuthzEngine(const SVNAuthzEngine&) = delete;
  SVNAuthzEngine& operator=(const SVNAuthzEngine&) = delete;

  // Whether `user` (empty: an anonymous user) may read, or with `write`
  // write, `path` of the repository `repo` (empty: anywhere in it, as
  // svnserve asks before a commit), by the rules alone.  A check the
  // engine cannot make is logged and denied.  The engine keeps what it
  // worked out for the last user asked about: ask about one user's paths
  // together.
  bool allows(const std::string& repo, const std::string& path, const std::string& user,
              bool write) const;

 private:
  struct State;
  explicit SVNAuthzEngine(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

#endif  // SVN_STORE_AUTHZ_ENGINE_H_
