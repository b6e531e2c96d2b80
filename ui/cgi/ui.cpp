// ui.cpp: the svn.cgi program: one request of the Subversion administration
// page, dispatched on its "action" parameter.

#include <json/value.h>
#include <syslog.h>

#include <string>

#include "webform.h"

#define UI_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, "ui", __LINE__, ##__VA_ARGS__)

class SVNHandler : public ServerFormHandler {
 public:
  SVNHandler() : ServerFormHandler(false, nullptr) {}
  ~SVNHandler() override {}

  void Process() override;
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  virtual void HandleAddAction();
  virtual void HandleRemoveAction();
  virtual void HandleEditAction();
  virtual void HandleShowAction();

  void HandleShowAccountAction();
  void HandleFindAction();
};

void SVNHandler::Process() {
  if (!Authenticate()) return;
  std::string action = webMan.In("action", nullptr);
  if (action == "load" || action == "enum" || action == "find") {
    HandleFindAction();
  } else if (action == "show") {
    HandleShowAction();
  } else if (action == "add") {
    HandleAddAction();
  } else if (action == "remove") {
    HandleRemoveAction();
  } else if (action == "edit") {
    HandleEditAction();
  } else if (action == "acc_show") {
    HandleShowAccountAction();
  } else {
    ReportError();
  }
}

void SVNHandler::HandleFindAction() { ReportError(); }
void SVNHandler::HandleShowAction() { ReportError(); }
void SVNHandler::HandleShowAccountAction() { ReportError(); }
void SVNHandler::HandleAddAction() { ReportError(); }
void SVNHandler::HandleEditAction() { ReportError(); }
void SVNHandler::HandleRemoveAction() { ReportError(); }

int main() {
  SVNHandler handler;
  handler.Process();
  return 0;
}
