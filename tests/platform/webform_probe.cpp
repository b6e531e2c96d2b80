// webform_probe: a CGI program over the web form framework alone, so that
// tests can watch the framework read requests and write responses.
//
// After Authenticate, the parameter "mode" chooses the answer:
//   echo     bare body {"<name>": In(name)} for the names below, plus the
//            defaults of absent parameters
//   success  ReportSuccess(In("value")), after SetFormErrInfo when "key"
//            is given
//   error    ReportError(), after SetFormErrInfo when "key" is given
//   twice    ReportSuccess then ReportError: only the first is written

#include "webform.h"

class Probe : public ServerFormHandler {
 public:
  Probe() : ServerFormHandler(false, nullptr) {}
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  void Process() override {
    if (!Authenticate()) return;
    std::string mode = webMan.In("mode", "echo");
    std::string key = webMan.In("key", "");
    if (!key.empty()) SetFormErrInfo("error", key.c_str(), 42);
    if (mode == "success") {
      ReportSuccess(Json::Value(webMan.In("value", "")));
    } else if (mode == "error") {
      ReportError();
    } else if (mode == "twice") {
      ReportSuccess(Json::Value("first"));
      ReportError();
    } else {
      Json::Value body;
      for (const char* name : {"action", "name", "realm", "accounts", "ACTION"})
        body[name] = webMan.In(name, "(absent)");
      body["nullDefault"] = webMan.In("absent", nullptr);
      webMan.WriteHeader("text/html; charset=\"UTF-8\"");
      webMan.WriteBody(body);
    }
  }
};

int main() {
  Probe probe;
  probe.Process();
  return 0;
}
