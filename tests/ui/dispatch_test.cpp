// svn.cgi's entry and dispatch, run as the web server runs it.

#include <gtest/gtest.h>

#include "cgi_run.h"
#include "sandbox.h"

namespace {

const char kProgram[] = SVN_CGI;

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  }
};

TEST_F(Dispatch, UnknownActionsGetTheGenericErrorAndNoLogLine) {
  const char* queries[] = {"",           "action=",        "action=LOAD",
                           "action=Load", "action=+load",   "action=load+",
                           "action=acc-show", "action=HandleLoadAction",
                           "action=apply", "Action=load"};
  for (const char* q : queries) {
    sandbox::ClearLog();
    CgiResult r = RunCgi(kProgram, GetEnv(q));
    EXPECT_EQ(0, r.exitStatus) << q;
    EXPECT_EQ("", r.status) << q;
    EXPECT_EQ("application/json; charset=\"UTF-8\"", r.contentType) << q;
    EXPECT_EQ(R"({"success":false})", r.body) << q;
    EXPECT_TRUE(sandbox::Log().empty()) << q;
  }
}

TEST_F(Dispatch, RefusedRequestsRunNoAction) {
  ASSERT_TRUE(sandbox::CreateRepo("keep"));
  const std::string before = sandbox::ReadFile(sandbox::RepoDir("keep") +
                                               "/conf/svnserve.conf");
  for (const char* query : {"action=remove&name=keep",
                            "action=edit&name=keep&anon=none&accounts=%5B%5D",
                            "action=add&name=new&anon=read&accounts=%5B%5D"}) {
    CgiEnv env = GetEnv(query);
    env.erase("REMOTE_USER");
    CgiResult r = RunCgi(kProgram, env);
    EXPECT_EQ(0, r.exitStatus) << query;
    EXPECT_EQ("403 Forbidden", r.status) << query;
    env = GetEnv(query);
    env["HTTP_SEC_FETCH_SITE"] = "cross-site";
    EXPECT_EQ("403 Forbidden", RunCgi(kProgram, env).status) << query;
  }
  EXPECT_EQ(before, sandbox::ReadFile(sandbox::RepoDir("keep") +
                                      "/conf/svnserve.conf"));
  EXPECT_NE(0, access(sandbox::RepoDir("new").c_str(), F_OK));
  EXPECT_TRUE(sandbox::Log().empty());
}

TEST_F(Dispatch, ListingHasThreeNames) {
  ASSERT_TRUE(sandbox::CreateRepo("one"));
  CgiResult load = RunCgi(kProgram, GetEnv("action=load&start=0&limit=10"));
  for (const char* action : {"enum", "find"}) {
    CgiResult r = RunCgi(kProgram, GetEnv(std::string("action=") + action +
                                          "&start=0&limit=10"));
    EXPECT_EQ(load.body, r.body) << action;
    EXPECT_EQ(load.contentType, r.contentType) << action;
  }
}

}  // namespace
