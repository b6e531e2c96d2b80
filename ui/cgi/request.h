// request.h: what an action of svn.cgi gets and gives: the request it
// reads (SVNRequest) and the one reply it returns (SVNReply); and the
// checks every action makes at the edge, each logged at its caller's own
// line.
//
// An action checks all of its input before it changes anything and
// returns one reply; the handler (handler.h) logs the reply's failure once
// and writes the response once.  The response carries the generic error or
// an error key the page acts on ("exist", "nonexist", ...); the cause goes
// to the system log.
#ifndef SVN_UI_CGI_REQUEST_H_
#define SVN_UI_CGI_REQUEST_H_

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "store/accounts.h"
#include "store/name.h"
#include "store/repo.h"
#include "store/status.h"
#include "ui/cgi/changes.h"
#include "webform.h"

class SVNUpload;

// What an action answers.
struct SVNReply {
  bool success = true;
  Json::Value data;  // the data of a success (the body of a bare one)
  SVNStatus status;  // a failure, logged once; its key (if any) is sent
  int line = 0;      // where the action decided, sent with the key
  std::string job;   // the job an action that runs one started

  // A success carrying `data`.
  static SVNReply Data(Json::Value data);
  // A failure: `status`'s key, or the generic error.
  static SVNReply Fail(SVNStatus status, int line);
  // The job `id` started ({"job": ID}), or the failure to start it.
  static SVNReply Started(SVNStatus status, const std::string& id, int line);
};

// Returns, from an action, the failure of `expr` (an SVNStatus) as its
// reply, decided at this line; REPLY_TRY_WITH adds the action's line
// first.
#define REPLY_TRY(expr)                                                  \
  do {                                                                   \
    SVNStatus reply_try_ = (expr);                                       \
    if (!reply_try_.ok()) return SVNReply::Fail(std::move(reply_try_), __LINE__); \
  } while (0)
#define REPLY_TRY_WITH(expr, ...)                                        \
  do {                                                                   \
    SVNStatus reply_try_ = (expr);                                       \
    if (!reply_try_.ok()) {                                              \
      STATUS_WITH(reply_try_, __VA_ARGS__);                              \
      return SVNReply::Fail(std::move(reply_try_), __LINE__);            \
    }                                                                    \
  } while (0)
// A failure made here, answered.
#define REPLY_ERROR(code, ...) SVNReply::Fail(STATUS_ERROR(code, __VA_ARGS__), __LINE__)

// One request, as an action sees it.
class SVNRequest {
 public:
  SVNRequest(WebMan* web, SVNUpload* upload) : web_(*web), upload_(upload) {}
  SVNRequest(const SVNRequest&) = delete;
  SVNRequest& operator=(const SVNRequest&) = delete;

  // The parameter `name`, or `def` when the request has none.
  std::string In(const char* name, const char* def = "") { return web_.In(name, def); }
  // The CGI variable `name` (REMOTE_USER, ...), empty when not set.
  std::string Env(const char* name) const { return web_.Env(name); }
  WebMan& web() { return web_; }

  // What the request changed, for its audit record (see changes.h).
  SVNChanges& changes() { return changes_; }

  // The file the request uploaded (an action that takes an upload).
  SVNUpload& upload() { return *upload_; }

  // A change of `name` that reaches the repositories `others` too: refused
  // (kShared, naming them) unless the request's "shared" says "yes", or
  // lists them all (a JSON list of names).
  SVNStatus consent(const std::string& name, const std::vector<std::string>& others);

 private:
  WebMan& web_;
  SVNChanges changes_;
  SVNUpload* upload_;
};

// Whether `s` is at least one character, all decimal digits (paging
// parameters).
bool IsDigits(const std::string& s);

// A name as it may stand in a log line: control characters, which the
// request may hold, become '?'.
std::string Printable(std::string name);

// The existing repository `text` names, in *name: kNotFound ("Repository
// %s is not exist", logged at `where`) when there is none.
SVNStatus FindRepo(const std::string& text, SVNWhere where, SVNName* name);

// Opens the existing repository `text` names: kNotFound as FindRepo when
// there is none (or not any more); a failure to open it gets "SVN Repo
// construct failed." at `where`.
SVNStatus OpenExisting(const std::string& text, SVNRepo::Scope scope, SVNWhere where,
                       std::unique_ptr<SVNRepo>* repo);

// Parses and decodes the "accounts" text: "Account is empty", or
// "Failed to parse account info ...", then "Parse accounts failed" at
// `where`.
SVNStatus ParseAccounts(const std::string& text, SVNWhere where, SVNAccountList* accounts);

#endif  // SVN_UI_CGI_REQUEST_H_
