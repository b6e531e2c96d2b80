// floor_cgi: the least a CGI program linked like svn.cgi does: start, and
// print a fixed JSON response.  The benchmark's baseline for one request.
#include <json/value.h>

#include "webform.h"

class Fixed : public ServerFormHandler {
 public:
  Fixed() : ServerFormHandler(false, nullptr) {}
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}
  void Process() override {
    Json::Value data;
    data["name"] = "repo";
    data["realm"] = "Realm";
    data["anon"] = "read";
    ReportSuccess(data);
  }
};

int main() {
  Fixed handler;
  handler.Process();
  return 0;
}
