// handler.h: the request handler of svn.cgi.  One process answers one
// request of the Subversion administration page: it authenticates the
// caller, runs the action "action" names (see actions.h) and answers with
// exactly one JSON response.
//
// The action returns one reply; the handler logs the reply's failure
// once, writes the audit record of an action that changes state (see
// audit_log.h) once the outcome is known (the action only notes what it
// changed), and writes the response.
#ifndef SVN_UI_CGI_HANDLER_H_
#define SVN_UI_CGI_HANDLER_H_

#include "ui/cgi/actions.h"
#include "ui/cgi/request.h"
#include "ui/cgi/upload.h"
#include "webform.h"

class SVNHandler : public ServerFormHandler {
 public:
  SVNHandler() : ServerFormHandler(false, nullptr), request_(&webMan, &upload_) {}
  ~SVNHandler() override {}

  // Authenticates the caller, runs the action "action" names and writes
  // its reply.
  void Process() override;
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

 private:
  // Writes `reply` as the response of `action`, after the audit record of
  // an action that changes state.
  void answer(const SVNAction& action, SVNReply reply);
  // Writes the audit record of this request of `action`, with `outcome`
  // ("done", an error key, "failed" or "refused"); a record that cannot be
  // written is logged, and the answer stands.
  void record(const SVNAction& action, const char* outcome);

  SVNUpload upload_;  // before the request, which refers to it
  SVNRequest request_;
};

#endif  // SVN_UI_CGI_HANDLER_H_
