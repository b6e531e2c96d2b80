// A repository's daily care through the program, with the real svnserve
// and svn client at work on it: its history of commits, the locks people
// take, what interrupted commits leave behind and how moves wait for live
// ones, packing and upgrading (jobs of the test's svn-admin), and disk use.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "audit_log.h"
#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"
#include "svnserve_fixture.h"
#include "working_copy.h"

namespace {

using namespace program;

class Care : public SvnserveFixture {
 protected:
  void SetUp() override {
    SvnserveFixture::SetUp();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
    ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "none"}, {"layout", "standard"},
                      {"accounts", Accounts({{"alice", "a pw"}, {"bob", "b pw"}})}})
                    .json["success"]
                    .asBool());
  }

  std::string Url() const { return "svn://127.0.0.1:" + std::to_string(port_) + "/e2e"; }
  WorkingCopy Alice() const { return WorkingCopy(Url(), "alice", "a pw", "wc-alice"); }
  WorkingCopy Bob() const { return WorkingCopy(Url(), "bob", "b pw", "wc-bob"); }

  // The revisions of a "log" answer, newest first.
  static std::vector<long> Revisions(const Json::Value& page) {
    std::vector<long> revs;
    for (const Json::Value& r : page["revisions"]) revs.push_back(r["rev"].asInt());
    return revs;
  }

  // Installs `script` as the repository's pre-commit hook.
  static void PreCommit(const std::string& script) {
    const std::string hook = sandbox::RepoDir("e2e") + "/hooks/pre-commit";
    sandbox::WriteFile(hook, "#!/bin/sh\n" + script + "\n");
    chmod(hook.c_str(), 0755);
  }

  // The answer's error key: "" for the generic error, "ok" for a success.
  static std::string Key(const CgiResult& r) {
    return r.json["success"].asBool() ? "ok" : r.json["errinfo"]["key"].asString();
  }
};

TEST_F(Care, TheLogOfABranchyRepositoryFollowsPathsAcrossMovesAPageAtATime) {
  WorkingCopy alice = Alice(), bob = Bob();
  ASSERT_TRUE(alice.Run("printf 'one\\n' > trunk/a.c && svn add -q trunk/a.c && "
                        "svn commit -q -m 'Add a.c'"));                                     // r2
  ASSERT_TRUE(bob.Run("svn copy -q -m 'Branch b1' ^/trunk ^/branches/b1"));                 // r3
  ASSERT_TRUE(bob.Run("svn update -q && printf 'fix\\n' >> branches/b1/a.c && "
                      "svn commit -q -m 'Fix on b1'"));                                     // r4
  ASSERT_TRUE(alice.Run("svn update -q && svn mv -q trunk/a.c trunk/b.c && "
                        "svn commit -q -m 'Rename a.c to b.c'"));                           // r5
  ASSERT_TRUE(alice.Run("printf 'two\\n' >> trunk/b.c && svn commit -q -m 'Edit b.c'"));  // r6
  ASSERT_TRUE(bob.Run("svn copy -q -m 'Branch b2' ^/trunk ^/branches/b2"));                 // r7

  struct {
    std::string query;
    std::vector<long> revs;
    bool more;
  } pages[] = {
      {"", {7, 6, 5, 4, 3, 2, 1}, false},
      {"&path=/trunk/b.c", {6, 5, 2}, false},  // back across the move to a.c
      {"&path=/branches/b1", {4, 3, 2, 1}, false},  // and across the branch to trunk
      {"&path=/trunk", {6, 5, 2, 1}, false},
      {"&limit=2", {7, 6}, true},
      {"&start=2&limit=2", {5, 4}, true},
      {"&start=6&limit=2", {1}, false},
      {"&start=7", {}, false},
      {"&path=/trunk/b.c&start=1&limit=1", {5}, true},
      {"&path=/trunk/a.c", {}, false},  // gone: no history to follow
  };
  for (const auto& p : pages) {
    CgiResult r = Get("action=log&name=e2e" + p.query);
    ASSERT_TRUE(r.json["success"].asBool()) << p.query << r.body;
    EXPECT_EQ(p.revs, Revisions(r.json["data"])) << p.query;
    EXPECT_EQ(p.more, r.json["data"]["more"].asBool()) << p.query;
    EXPECT_EQ(7, r.json["data"]["youngest"].asInt()) << p.query;
    EXPECT_EQ(p.query != "&path=/trunk/a.c", r.json["data"]["found"].asBool()) << p.query;
  }

  // Each revision as svn log -v tells it.
  const Json::Value all = Get("action=log&name=e2e").json["data"]["revisions"];
  const char* authors[] = {"bob", "alice", "alice", "bob", "bob", "alice", "admin"};
  const char* messages[] = {"Branch b2", "Edit b.c", "Rename a.c to b.c", "Fix on b1",
                            "Branch b1", "Add a.c", "Create standard layout"};
  for (Json::ArrayIndex i = 0; i < all.size(); ++i) {
    EXPECT_EQ(authors[i], all[i]["author"].asString()) << i;
    EXPECT_EQ(0u, all[i]["message"].asString().find(messages[i])) << i;
    EXPECT_TRUE(std::regex_match(all[i]["date"].asString(),
                                 std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")));
  }
  EXPECT_EQ(Json::Value::null, all[0]["message_cut"]);
  Json::Value moved;
  moved["count"] = 2;
  moved["paths"][0]["path"] = "/trunk/a.c";
  moved["paths"][0]["action"] = "D";
  moved["paths"][0]["kind"] = "file";
  moved["paths"][1]["path"] = "/trunk/b.c";
  moved["paths"][1]["action"] = "A";
  moved["paths"][1]["kind"] = "file";
  moved["paths"][1]["copyfrom"]["path"] = "/trunk/a.c";
  moved["paths"][1]["copyfrom"]["rev"] = 4;
  EXPECT_EQ(moved, all[2]["changes"]);
  EXPECT_EQ("/branches/b1", all[4]["changes"]["paths"][0]["path"].asString());
  EXPECT_EQ("/trunk", all[4]["changes"]["paths"][0]["copyfrom"]["path"].asString());
  EXPECT_EQ(3, all[6]["changes"]["count"].asInt());

  for (const char* bad : {"&start=x", "&limit=-1", "&path=trunk", "&path=/trunk/", "&path=/a/../b",
                          "&path=/a//b", "&path=/a%01b"})
    EXPECT_EQ("", Key(Get(std::string("action=log&name=e2e") + bad))) << bad;
  EXPECT_EQ("nonexist", Key(Get("action=log&name=none")));
}

}  // namespace
