// End to end: repositories made and edited through the program are served
// by the real svnserve (on 127.0.0.1, an ephemeral port) exactly as asked,
// checked with the real svn client.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgi_run.h"
#include "net.h"
#include "sandbox.h"

extern char** environ;

namespace {

const char kProgram[] = SVN_CGI;

class SvnserveEndToEnd : public ::testing::Test {
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
    return RunCgi(kProgram, PostEnv(body), body);
  }

  // Runs an svn client command on the repository's URL (+ `path`) as
  // `user` (empty for anonymous); true when it succeeds.
  bool Svn(const std::string& command, const std::string& user,
           const std::string& password, const std::string& path = "") {
    std::string cmd = "svn " + command + " --non-interactive --no-auth-cache" +
                      " --config-dir '" + sandbox::Dir() + "/svnconfig'" +
                      " svn://127.0.0.1:" + std::to_string(port_) + "/e2e" + path;
    if (!user.empty()) cmd += " --username '" + user + "' --password '" + password + "'";
    return sandbox::Shell(cmd + " >/dev/null 2>&1") == 0;
  }

  int port_ = 0;
  pid_t server_ = 0;
};

TEST_F(SvnserveEndToEnd, AccessFollowsWhatThePageAskedFor) {
  CgiResult r = Request({{"action", "add"}, {"name", "e2e"}, {"realm", "E2E"},
                         {"anon", "none"},
                         {"accounts", R"([{"account":"alice","password":"a pw"},)"
                                      R"({"account":"bob","password":"b#pw"}])"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);

  EXPECT_FALSE(Svn("ls", "", ""));
  EXPECT_TRUE(Svn("ls", "alice", "a pw"));
  EXPECT_TRUE(Svn("ls", "bob", "b#pw"));
  EXPECT_FALSE(Svn("ls", "alice", "b#pw"));
  EXPECT_FALSE(Svn("ls", "carol", "a pw"));
  EXPECT_TRUE(Svn("mkdir -m trunk", "alice", "a pw", "/trunk"));

  r = Request({{"action", "edit"}, {"name", "e2e"}, {"realm", "Renamed"},
               {"anon", "read"},
               {"accounts", R"([{"account":"carol","password":"c=pw"}])"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_TRUE(Svn("ls", "", ""));
  EXPECT_FALSE(Svn("mkdir -m anon", "", "", "/anon"));
  EXPECT_FALSE(Svn("mkdir -m old", "alice", "a pw", "/old"));  // no longer an account
  EXPECT_TRUE(Svn("mkdir -m branches", "carol", "c=pw", "/branches"));

  r = Request({{"action", "remove"}, {"name", "e2e"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_FALSE(Svn("ls", "", ""));
  EXPECT_FALSE(Svn("ls", "carol", "c=pw"));
}

}  // namespace
