// serve.h: a test fixture that runs scripts/serve over the test's sandbox
// package directory (lighttpd with the test's copy of svn.cgi, and
// svnserve) on ephemeral loopback ports, and speaks HTTP to it.
#ifndef TESTS_SUPPORT_SERVE_H_
#define TESTS_SUPPORT_SERVE_H_

#include <json/value.h>
#include <sys/types.h>

#include <string>

#include "cgi_run.h"

class ServeFixture {
 public:
  static constexpr const char* kPassword = "test pw";

  // Puts `cgi` in place as PACKAGE_DIR/ui/svn.cgi and starts the
  // servers; false (with the script's output in *log) when they do not
  // come up.
  bool Start(const std::string& serveScript, const std::string& cgi,
             const std::string& packageDir, std::string* log);
  // Sends SIGTERM to the script alone, or (`group`) to all it started.
  void Stop(bool group);
  ~ServeFixture() { Stop(true); }

  int webPort() const { return web_; }
  int svnPort() const { return svn_; }

  struct Response {
    int code = 0;          // HTTP status, 0 when no answer came
    std::string body;
    Json::Value json;      // the body parsed; null when not JSON
  };
  // POSTs the form `params` to /svn.cgi over one connection, with the
  // admin's credentials unless `auth` is false, and extra header lines.
  Response Post(const Params& params, bool auth = true,
                const std::string& headers = "") const;

 private:
  int web_ = 0, svn_ = 0;
  pid_t serve_ = 0;
};

#endif  // TESTS_SUPPORT_SERVE_H_
