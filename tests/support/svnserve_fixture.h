// svnserve_fixture.h: a test fixture with the real svnserve serving the
// sandbox's repository root on 127.0.0.1 (an ephemeral port), requests to
// the test's own svn.cgi, and the real svn client to check what svnserve
// then lets each login do.
#ifndef TESTS_SUPPORT_SVNSERVE_FIXTURE_H_
#define TESTS_SUPPORT_SVNSERVE_FIXTURE_H_

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>

#include "cgi_run.h"
#include "net.h"
#include "sandbox.h"

extern char** environ;

#ifdef SVN_CGI
class SvnserveFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    port_ = net::FreePort();
    std::string portText = std::to_string(port_), root = sandbox::Root();
    const char* argv[] = {"svnserve", "-d", "--foreground", "--listen-host",
                          "127.0.0.1", "--listen-port", portText.c_str(), "-r",
                          root.c_str(), nullptr};
    ASSERT_EQ(0, posix_spawnp(&server_, "svnserve", nullptr, nullptr,
                              const_cast<char**>(argv), environ));
    ASSERT_TRUE(net::WaitFor(port_, true));
  }

  void TearDown() override {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
  }

  CgiResult Request(const Params& params) {
    std::string body = FormEncode(params);
    return RunCgi(SVN_CGI, PostEnv(body), body);
  }

  // Runs an svn client command on the repository's URL (+ `path`) as
  // `user` (empty for anonymous); true when it succeeds.
  bool Svn(const std::string& command, const std::string& user,
           const std::string& password, const std::string& path = "",
           const std::string& repo = "e2e") {
    return sandbox::Shell(SvnCommand(command, user, password, path, repo) +
                          " >/dev/null 2>&1") == 0;
  }

  // The same command's output, stderr included.
  std::string SvnSays(const std::string& command, const std::string& user,
                      const std::string& password, const std::string& path = "",
                      const std::string& repo = "e2e") {
    return sandbox::Output(SvnCommand(command, user, password, path, repo) + " 2>&1");
  }

  std::string SvnCommand(const std::string& command, const std::string& user,
                         const std::string& password, const std::string& path,
                         const std::string& repo) {
    std::string cmd = "svn " + command + " --non-interactive --no-auth-cache" +
                      " --config-dir '" + sandbox::Dir() + "/svnconfig'" +
                      " svn://127.0.0.1:" + std::to_string(port_) + "/" + repo + path;
    if (!user.empty()) cmd += " --username '" + user + "' --password '" + password + "'";
    return cmd;
  }

  // Checks that svnserve lets each login of `effective` (a rules_show
  // answer's) read and write each path exactly as it says, logging in
  // with the passwords of `people`; the number of cells checked.
  int ExpectEnforced(const Json::Value& effective, const Params& people,
                     const std::string& repo, const std::string& what) {
    int n = 0;
    for (const Json::Value& e : effective) {
      const std::string path = e["path"].asString();
      for (const std::string& who : e["access"].getMemberNames()) {
        const std::string said = e["access"][who].asString();
        std::string user = who == "$anonymous" ? "" : who, pw;
        for (const auto& p : people)
          if (p.first == user) pw = p.second;
        const std::string dir = (path == "/" ? "" : path) + "/new" + std::to_string(n++);
        EXPECT_EQ(said != "", Svn("ls", user, pw, path, repo)) << what << ": " << who << " reads " << path;
        EXPECT_EQ(said == "rw", Svn("mkdir -m try", user, pw, dir, repo))
            << what << ": " << who << " writes " << path;
      }
    }
    return n;
  }

  int port_ = 0;
  pid_t server_ = 0;
};

#endif

#endif  // TESTS_SUPPORT_SVNSERVE_FIXTURE_H_
