// svn_authz.h: Subversion's own authorization engine (libsvn_repos), for
// reading access rules exactly as svnserve reads them.
//
// The libraries are loaded when first needed, so that requests that do not
// ask about access rules pay nothing for them.  Every failure is logged to
// syslog (LOG_ERR, "svn_authz:LINE ...").
#ifndef SVN_AUTHZ_H_
#define SVN_AUTHZ_H_

#include <memory>
#include <string>

class SVNAuthz {
 public:
  // Parses `text` as an authz file with Subversion's parser, its groups
  // from `groups` when not empty (groups-db).  valid() tells whether
  // Subversion takes it.
  explicit SVNAuthz(const std::string& text, const std::string& groups = "");
  ~SVNAuthz();
  SVNAuthz(const SVNAuthz&) = delete;
  SVNAuthz& operator=(const SVNAuthz&) = delete;

  // False when the engine cannot be loaded or refuses the text (logged,
  // with Subversion's message).
  bool valid() const { return state_ != nullptr; }

  // Whether `user` (empty: an anonymous user) may read, or with `write`
  // write, `path` of the repository `repo`, by the rules alone.  False
  // when the text is not valid.  The engine keeps what it worked out for
  // the last user asked about: ask about one user's paths together.
  bool allows(const std::string& repo, const std::string& path,
              const std::string& user, bool write) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif  // SVN_AUTHZ_H_
