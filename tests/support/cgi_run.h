// cgi_run.h: runs a CGI program as the web server would, for tests.
#ifndef TESTS_SUPPORT_CGI_RUN_H_
#define TESTS_SUPPORT_CGI_RUN_H_

#include <json/value.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

using CgiEnv = std::map<std::string, std::string>;
using Params = std::vector<std::pair<std::string, std::string>>;

struct CgiResult {
  int exitStatus = -1;      // the program's exit status; -1 if killed
  std::string status;       // the "Status:" header, empty when absent
  std::string contentType;  // the "Content-Type:" header
  std::string head;         // every header line, as written
  std::string body;         // everything after the blank line
  std::string errors;       // what the program wrote to stderr
  Json::Value json;         // the body parsed, null when it is not JSON
  bool isJson = false;
};

// Runs `program` with exactly `env` as its environment (plus PATH and,
// when set in the test's own environment, SYSLOG_CAPTURE, LD_PRELOAD and
// the sanitizers' options)
// and `body` on its standard input.  Its stderr is kept apart, as a web
// server keeps it for its error log.
CgiResult RunCgi(const std::string& program, const CgiEnv& env,
                 const std::string& body = "");

// Whether every header that keeps a browser from acting on a response is
// there: nosniff, a policy that forbids scripts and framing, no caching.
bool BrowserSafe(const CgiResult& r);

// An account list: [{"account": name, "password": password}, ...].
Json::Value AccountList(const Params& accounts);

// application/x-www-form-urlencoded text of `params`.
std::string FormEncode(const Params& params);

// The environment of an authenticated same-origin GET with this query.
CgiEnv GetEnv(const std::string& query);

// The environment of an authenticated same-origin POST of `body`.
CgiEnv PostEnv(const std::string& body,
               const std::string& contentType =
                   "application/x-www-form-urlencoded");

#endif  // TESTS_SUPPORT_CGI_RUN_H_
