#include "cgi_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <sstream>

namespace {

std::string Header(const std::string& head, const std::string& name) {
  std::istringstream lines(head);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, name.size() + 2, name + ": ") == 0)
      return line.substr(name.size() + 2);
  }
  return "";
}

}  // namespace

CgiResult RunCgi(const std::string& program, const CgiEnv& env,
                 const std::string& body) {
  CgiResult r;
  char input[] = "/tmp/cgibodyXXXXXX";
  int in = mkstemp(input);
  if (in < 0) return r;
  if (write(in, body.data(), body.size()) != static_cast<ssize_t>(body.size()))
    return r;
  lseek(in, 0, SEEK_SET);
  unlink(input);
  char errPath[] = "/tmp/cgierrXXXXXX";
  int err = mkstemp(errPath);
  if (err < 0) return r;
  int out[2];
  if (pipe(out) != 0) return r;

  std::vector<std::string> vars;
  for (const auto& kv : env) vars.push_back(kv.first + "=" + kv.second);
  vars.push_back("PATH=/usr/bin:/bin");
  for (const char* pass :
       {"SYSLOG_CAPTURE", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
    if (getenv(pass) != nullptr && env.count(pass) == 0)
      vars.push_back(std::string(pass) + "=" + getenv(pass));
  std::vector<char*> envp;
  for (std::string& v : vars) envp.push_back(&v[0]);
  envp.push_back(nullptr);
  // CGI_WRAPPER (say "valgrind -q --error-exitcode=1") runs the program
  // under another one, which must then exit 0 too.
  std::vector<std::string> words;
  const char* wrapper = getenv("CGI_WRAPPER");
  std::istringstream wrapperWords(wrapper != nullptr ? wrapper : "");
  for (std::string w; wrapperWords >> w;) words.push_back(w);
  words.push_back(program);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err, 2);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  pid_t pid;
  int failed = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(in);
  close(out[1]);
  std::string raw;
  char buf[65536];
  ssize_t n;
  while (failed == 0 && (n = read(out[0], buf, sizeof buf)) > 0) raw.append(buf, n);
  close(out[0]);
  int status = 0;
  if (failed == 0) waitpid(pid, &status, 0);
  lseek(err, 0, SEEK_SET);
  while ((n = read(err, buf, sizeof buf)) > 0) r.errors.append(buf, n);
  close(err);
  unlink(errPath);
  if (failed != 0) return r;
  r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (wrapper != nullptr && r.exitStatus != 0)
    ADD_FAILURE() << wrapper << " reported errors for " << program << ":\n"
                  << r.errors;

  size_t split = raw.find("\r\n\r\n");
  std::string head = raw.substr(0, split);
  r.body = split == std::string::npos ? "" : raw.substr(split + 4);
  r.head = head;
  r.status = Header(head, "Status");
  r.contentType = Header(head, "Content-Type");
  Json::CharReaderBuilder builder;
  builder["strictRoot"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  r.isJson = reader->parse(r.body.data(), r.body.data() + r.body.size(),
                           &r.json, &errors);
  if (!r.isJson) r.json = Json::Value();
  return r;
}

bool BrowserSafe(const CgiResult& r) {
  return Header(r.head, "X-Content-Type-Options") == "nosniff" &&
         Header(r.head, "Content-Security-Policy") ==
             "default-src 'none'; frame-ancestors 'none'" &&
         Header(r.head, "Cache-Control") == "no-store";
}

Json::Value AccountList(const Params& accounts) {
  Json::Value json(Json::arrayValue);
  for (const auto& a : accounts) {
    Json::Value item;
    item["account"] = a.first;
    item["password"] = a.second;
    json.append(item);
  }
  return json;
}

std::string FormEncode(const Params& params) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const auto& kv : params) {
    if (!out.empty()) out += '&';
    for (const std::string* s : {&kv.first, &kv.second}) {
      for (unsigned char c : *s) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
          out += static_cast<char>(c);
        } else {
          out += '%';
          out += hex[c >> 4];
          out += hex[c & 15];
        }
      }
      if (s == &kv.first) out += '=';
    }
  }
  return out;
}

CgiEnv GetEnv(const std::string& query) {
  return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query},
          {"REMOTE_USER", "admin"},  {"REMOTE_ADDR", "192.0.2.7"},
          {"HTTP_HOST", "nas:5000"}, {"GATEWAY_INTERFACE", "CGI/1.1"}};
}

CgiEnv PostEnv(const std::string& body, const std::string& contentType) {
  CgiEnv env = GetEnv("");
  env["REQUEST_METHOD"] = "POST";
  env["CONTENT_TYPE"] = contentType;
  env["CONTENT_LENGTH"] = std::to_string(body.size());
  return env;
}
