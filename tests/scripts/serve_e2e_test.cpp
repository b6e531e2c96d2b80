// The serve script end to end: lighttpd with the program and svnserve on
// ephemeral loopback ports over a sandbox package directory, used through
// real HTTP and the real svn client.

#include <gtest/gtest.h>
#include <unistd.h>

#include "cgi_run.h"
#include "net.h"
#include "sandbox.h"
#include "serve.h"

namespace {

const char kServe[] = SOURCE_DIR "/scripts/serve";

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    std::string log;
    ASSERT_TRUE(server_.Start(kServe, SVN_CGI, sandbox::Dir(), &log)) << log;
  }

  ServeFixture::Response Admin(const Params& params, const std::string& headers = "") {
    return server_.Post(params, true, headers);
  }

  bool Svn(const std::string& command, const std::string& url,
           const std::string& user = "", const std::string& password = "") {
    std::string cmd = "cd '" + sandbox::Dir() + "' && svn " + command +
                      " --non-interactive --no-auth-cache --config-dir '" +
                      sandbox::Dir() + "/svnconfig' ";
    if (!url.empty())
      cmd += "svn://127.0.0.1:" + std::to_string(server_.svnPort()) + "/" + url;
    if (!user.empty()) cmd += " --username " + user + " --password " + password;
    return sandbox::Shell(cmd + " >/dev/null 2>&1") == 0;
  }

  ServeFixture server_;
};

TEST_F(Serve, AdministerAndUseRepositoriesOverRealServers) {
  // The web server authenticates; the program refuses other sites.
  EXPECT_EQ(401, server_.Post({{"action", "load"}}, false).code);
  EXPECT_EQ(401, server_.Post({{"action", "load"}}, false,
                              "Authorization: Basic YWRtaW46d3Jvbmc=\r\n").code);
  ServeFixture::Response r = Admin({{"action", "remove"}, {"name", "x"}},
                                   "Origin: http://evil.example\r\n");
  EXPECT_EQ(403, r.code);
  EXPECT_EQ("forbidden", r.json["errinfo"]["key"].asString());

  const std::string alice = R"([{"account":"alice","password":"a1"}])";
  r = Admin({{"action", "add"}, {"name", "team"}, {"realm", "Team"},
             {"anon", "none"}, {"accounts", alice}});
  ASSERT_EQ(200, r.code);
  EXPECT_TRUE(r.json["success"].asBool());
  r = Admin({{"action", "load"}});
  EXPECT_EQ(1, r.json["total"].asInt());

  EXPECT_FALSE(Svn("ls", "team"));
  ASSERT_TRUE(Svn("checkout", "team wc", "alice", "a1"));
  sandbox::WriteFile(sandbox::Dir() + "/wc/readme", "hello\n");
  ASSERT_TRUE(Svn("add wc/readme", ""));
  EXPECT_TRUE(Svn("commit -m first wc", "", "alice", "a1"));
  EXPECT_FALSE(Svn("ls", "team", "alice", "wrong"));

  r = Admin({{"action", "edit"}, {"name", "team"}, {"realm", "Team"},
             {"anon", "read"}, {"accounts", alice}});
  EXPECT_TRUE(r.json["success"].asBool());
  EXPECT_TRUE(Svn("ls", "team/readme"));

  r = Admin({{"action", "remove"}, {"name", "team"}});
  EXPECT_TRUE(r.json["success"].asBool());
  r = Admin({{"action", "show"}, {"name", "team"}});
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_FALSE(Svn("ls", "team"));
  EXPECT_FALSE(Svn("ls", "team", "alice", "a1"));

  // The banner says who svnserve runs as: the user the program runs as.
  const std::string user = getuid() == 0 ? "www-data" : sandbox::Output("id -un | tr -d '\\n'");
  EXPECT_NE(std::string::npos, sandbox::ReadFile(sandbox::Dir() + "/serve.log")
                                   .find("svn.cgi and svnserve both as " + user))
      << sandbox::ReadFile(sandbox::Dir() + "/serve.log");

  // SIGTERM to the script stops both servers.
  server_.Stop(false);
  EXPECT_TRUE(net::WaitFor(server_.webPort(), false));
  EXPECT_TRUE(net::WaitFor(server_.svnPort(), false));
}

}  // namespace
