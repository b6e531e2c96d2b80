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
// A file part named "upload" is streamed (WebMan::StreamUploads): echo
// then also gives "upload": "BYTES FNV1A32 complete|cut".

#include <stdio.h>

#include "webform.h"

class ProbeSink : public UploadSink {
 public:
  bool Begin(const std::string& field, const std::string&, WebMan&) override {
    return began = field == "upload";
  }
  void Data(const char* data, size_t size) override {
    bytes += size;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<unsigned char>(data[i])) * 16777619u;
  }
  void End(bool c) override { complete = c; }
  std::string Text() const {
    char text[64];
    snprintf(text, sizeof text, "%zu %08x %s", bytes, hash, complete ? "complete" : "cut");
    return text;
  }
  bool began = false, complete = false;
  size_t bytes = 0;
  unsigned hash = 2166136261u;
};

class Probe : public ServerFormHandler {
 public:
  Probe() : ServerFormHandler(false, nullptr) {}
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  void Process() override {
    webMan.StreamUploads(&sink_);
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
      if (sink_.began) body["upload"] = sink_.Text();
      webMan.WriteHeader("text/html; charset=\"UTF-8\"");
      webMan.WriteBody(body);
    }
  }

 private:
  ProbeSink sink_;
};

int main() {
  Probe probe;
  probe.Process();
  return 0;
}
