// The serve script end to end: lighttpd with the program and svnserve on
// ephemeral loopback ports over a sandbox package directory, used through
// real HTTP (curl) and the real svn client.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "cgi_run.h"
#include "net.h"
#include "sandbox.h"

extern char** environ;

namespace {

const char kServe[] = SOURCE_DIR "/scripts/serve";
const char kPassword[] = "test pw";

struct Http {
  int code = 0;
  Json::Value json;
};

class Serve : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    sandbox::Shell("mkdir -p '" + sandbox::Dir() + "/ui' && cp '" SVN_CGI "' '" +
                   sandbox::Dir() + "/ui/svn.cgi'");
    web_ = net::FreePort();
    svn_ = net::FreePort();
    std::string web = std::to_string(web_), svn = std::to_string(svn_),
                dir = sandbox::Dir();
    const char* argv[] = {"bash", kServe, "--package-dir", dir.c_str(), "--port",
                          web.c_str(), "--svn-port", svn.c_str(), nullptr};
    setenv("SVN_ADMIN_PASSWORD", kPassword, 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::string log = dir + "/serve.log";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    ASSERT_EQ(0, posix_spawnp(&serve_, "bash", &fa, &attr,
                              const_cast<char**>(argv), environ));
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ASSERT_TRUE(net::WaitFor(web_, true) && net::WaitFor(svn_, true))
        << sandbox::ReadFile(log);
  }

  void TearDown() override {
    if (serve_ > 0) {
      kill(-serve_, SIGTERM);
      waitpid(serve_, nullptr, 0);
    }
  }

  // A request through the web server; `args` are curl's.
  Http Curl(const std::string& args) {
    std::string body = sandbox::Dir() + "/body";
    std::string cmd = "curl -s -o '" + body + "' -w '%{http_code}' " + args +
                      " 'http://127.0.0.1:" + std::to_string(web_) + "/svn.cgi'";
    Http r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr || fscanf(p, "%d", &r.code) != 1) r.code = -1;
    if (p != nullptr) pclose(p);
    Json::Reader().parse(sandbox::ReadFile(body), r.json);
    return r;
  }

  Http Admin(const std::string& args) {
    return Curl("-u 'admin:" + std::string(kPassword) + "' " + args);
  }

  bool Svn(const std::string& command, const std::string& url,
           const std::string& user = "", const std::string& password = "") {
    std::string cmd = "cd '" + sandbox::Dir() + "' && svn " + command +
                      " --non-interactive --no-auth-cache --config-dir '" +
                      sandbox::Dir() + "/svnconfig' ";
    if (!url.empty()) cmd += "svn://127.0.0.1:" + std::to_string(svn_) + "/" + url;
    if (!user.empty()) cmd += " --username " + user + " --password " + password;
    return sandbox::Shell(cmd + " >/dev/null 2>&1") == 0;
  }

  int web_ = 0, svn_ = 0;
  pid_t serve_ = 0;
};

TEST_F(Serve, AdministerAndUseRepositoriesOverRealServers) {
  // The web server authenticates; the program refuses other sites.
  EXPECT_EQ(401, Curl("-d action=load").code);
  EXPECT_EQ(401, Curl("-u admin:wrong -d action=load").code);
  Http r = Admin("-H 'Origin: http://evil.example' -d action=remove -d name=x");
  EXPECT_EQ(403, r.code);
  EXPECT_EQ("forbidden", r.json["errinfo"]["key"].asString());

  r = Admin("--data-urlencode action=add --data-urlencode name=team "
            "--data-urlencode realm=Team --data-urlencode anon=none "
            "--data-urlencode 'accounts=[{\"account\":\"alice\",\"password\":\"a1\"}]'");
  ASSERT_EQ(200, r.code);
  EXPECT_TRUE(r.json["success"].asBool());
  r = Admin("-d action=load");
  EXPECT_EQ(1, r.json["total"].asInt());

  EXPECT_FALSE(Svn("ls", "team"));
  ASSERT_TRUE(Svn("checkout", "team wc", "alice", "a1"));
  sandbox::WriteFile(sandbox::Dir() + "/wc/readme", "hello\n");
  ASSERT_TRUE(Svn("add wc/readme", ""));
  EXPECT_TRUE(Svn("commit -m first wc", "", "alice", "a1"));
  EXPECT_FALSE(Svn("ls", "team", "alice", "wrong"));

  r = Admin("--data-urlencode action=edit --data-urlencode name=team "
            "--data-urlencode realm=Team --data-urlencode anon=read "
            "--data-urlencode 'accounts=[{\"account\":\"alice\",\"password\":\"a1\"}]'");
  EXPECT_TRUE(r.json["success"].asBool());
  EXPECT_TRUE(Svn("ls", "team/readme"));

  r = Admin("-d action=remove -d name=team");
  EXPECT_TRUE(r.json["success"].asBool());
  r = Admin("-d action=show -d name=team");
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_FALSE(Svn("ls", "team"));
  EXPECT_FALSE(Svn("ls", "team", "alice", "a1"));

  // SIGTERM to the script stops both servers.
  kill(serve_, SIGTERM);
  waitpid(serve_, nullptr, 0);
  serve_ = 0;
  EXPECT_TRUE(net::WaitFor(web_, false));
  EXPECT_TRUE(net::WaitFor(svn_, false));
}

}  // namespace
