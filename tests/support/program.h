// program.h: requests to the test's own copy of svn.cgi (SVN_CGI, set by
// the build per program test) as the web server sends them, and what
// tests read back: the repositories' files and the program's log.
#ifndef TESTS_SUPPORT_PROGRAM_H_
#define TESTS_SUPPORT_PROGRAM_H_

#include <fcntl.h>
#include <json/writer.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cgi_run.h"
#include "sandbox.h"

namespace program {

using Lines = std::vector<std::string>;

#ifdef SVN_CGI
// An authenticated same-origin POST of `params`.
inline CgiResult Post(const Params& params) {
  std::string body = FormEncode(params);
  return RunCgi(SVN_CGI, PostEnv(body), body);
}

// The same, of a form that is encoded already.
inline CgiResult PostForm(const std::string& form) {
  return RunCgi(SVN_CGI, PostEnv(form), form);
}

// An authenticated same-origin GET with this query.
inline CgiResult Get(const std::string& query) {
  return RunCgi(SVN_CGI, GetEnv(query));
}
#endif

// A "show", listing or account view answer with the facts of the
// repositories' history, size, format, last verify and backups, and what
// they share with others, taken out: what tests of the settings and
// accounts compare.
inline Json::Value WithoutFacts(Json::Value answer) {
  auto strip = [](Json::Value& entry) {
    for (const char* fact : {"rev", "uuid", "updated", "author", "size", "verified", "backup",
                             "shared", "sasl", "auth_access", "realm_set", "editable", "reason",
                             "format"})
      if (entry.isObject()) entry.removeMember(fact);
  };
  if (answer.isMember("account")) {  // the account view's bare body
    strip(answer);
    return answer;
  }
  Json::Value& data = answer["data"];
  if (data.isArray())
    for (Json::Value& entry : data) strip(entry);
  else
    strip(data);
  return answer;
}

// The "accounts" parameter of an account list.
inline std::string Accounts(const Params& list) {
  return Json::FastWriter().write(AccountList(list));
}

inline std::string Conf(const std::string& name) {
  return sandbox::RepoDir(name) + "/conf/svnserve.conf";
}
inline std::string Passwd(const std::string& name) {
  return sandbox::RepoDir(name) + "/conf/passwd";
}

// The log lines with their line numbers dropped: "ui:88 text" ->
// "ui: text".
inline Lines LogTexts() {
  Lines texts;
  for (const std::string& line : sandbox::Log()) {
    size_t colon = line.find(':'), blank = line.find(' ');
    texts.push_back(blank == std::string::npos
                        ? line
                        : line.substr(0, colon + 1) + line.substr(blank));
  }
  return texts;
}

// Every file and directory under the sandbox but the logs (the syslog
// capture, the audit log in var/) and the program's lock files, with the
// contents, modes and link targets: what a request that changes nothing
// leaves as it was.
inline std::string Snapshot() {
  std::string list = sandbox::Dir() + "/.snapshot";
  sandbox::Shell("cd '" + sandbox::Dir() + "' && find . -path ./syslog -prune -o "
                 "-path ./.snapshot -prune -o -path ./tool-runs -prune -o -path ./var -prune -o "
                 "-path ./locks -prune -o -path ./repo/..locks -prune -o "
                 "-printf '%p %M %l\\n' -type f -exec md5sum {} + | sort > '" +
                 list + "'");
  return sandbox::ReadFile(list);
}

// Holds, as another request would, every lock the program has made so far
// (the files of its lock directory), until released or destroyed.
class HeldLocks {
 public:
  HeldLocks() {
    const std::string dir = sandbox::Dir() + "/locks";
    for (const std::string& name : sandbox::Entries(dir)) {
      int fd = open((dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0 && flock(fd, LOCK_EX) == 0) fds_.push_back(fd);
    }
  }
  ~HeldLocks() { release(); }
  HeldLocks(const HeldLocks&) = delete;
  HeldLocks& operator=(const HeldLocks&) = delete;
  size_t size() const { return fds_.size(); }
  void release() {
    for (int fd : fds_) close(fd);
    fds_.clear();
  }

 private:
  std::vector<int> fds_;
};

}  // namespace program

#endif  // TESTS_SUPPORT_PROGRAM_H_
