// Every action on repositories whose names are beyond ASCII: Cyrillic,
// Greek, CJK, and combining marks, with Subversion's own tools and the
// real svn client where the history matters.

#include <gtest/gtest.h>

#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

class Names : public ::testing::Test {
 protected:
  void SetUp() override { sandbox::Reset(); }
};

std::string Query(const std::string& action, const std::string& name, const std::string& more = "") {
  return "action=" + action + "&" + FormEncode({{"name", name}}) + more;
}

// Runs the job a request starts: its record once it ended.
Json::Value Job(const Params& params) {
  CgiResult r = Post(params);
  EXPECT_TRUE(r.json["success"].asBool()) << r.body;
  return jobs::WaitJob(SVN_CGI, sandbox::Dir(), r.json["data"]["job"].asString());
}

TEST_F(Names, EveryActionTakesNamesBeyondAscii) {
  const char* const kNames[] = {
      "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82-\xC3\x9C",  // Проект-Ü
      "\xCE\x88\xCF\x81\xCE\xB3\xCE\xBF \xCE\xB1\xCE\xB2\xCE\xB3",  // Έργο αβγ
      "\xE9\xA1\xB9\xE7\x9B\xAE-\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88",  // 项目-テスト
      "Cafe\xCC\x81-n\xCC\x83",  // e and n with combining marks
  };
  for (const std::string name : kNames) {
    const std::string copy = name + " copy", renamed = name + " \xE2\x86\x92";  // →
    SCOPED_TRACE(name);
    // add (with the standard layout, committed through Subversion's
    // libraries), a commit by the real svn client, show.
    ASSERT_TRUE(Post({{"action", "add"}, {"name", name}, {"realm", name}, {"anon", "read"},
                      {"layout", "standard"}, {"accounts", Accounts({{"alice", "a pw"}})}})
                    .json["success"].asBool());
    ASSERT_TRUE(jobs::Commit(sandbox::RepoDir(name), "carol", name,
                             "printf x > 'trunk/" + name + "'"));
    Json::Value shown = Get(Query("show", name)).json["data"];
    EXPECT_EQ(2, shown["rev"].asInt()) << shown;
    EXPECT_EQ("carol", shown["author"].asString()) << shown;
    EXPECT_EQ(36u, shown["uuid"].asString().size()) << shown;
    EXPECT_EQ(20u, shown["updated"].asString().size()) << shown;
    EXPECT_EQ(name, shown["realm"].asString());
    // The listings and the account view.
    for (const char* listing : {"load", "enum", "find"}) {
      Json::Value list = Get(std::string("action=") + listing + "&" +
                             FormEncode({{"query", name}})).json;
      ASSERT_EQ(1, list["total"].asInt()) << listing << list;
      EXPECT_EQ(name, list["data"][0]["name"].asString()) << listing;
      EXPECT_EQ(2, list["data"][0]["rev"].asInt()) << listing;
    }
    EXPECT_EQ("alice", Get(Query("acc_show", name)).json["account"][0]["account"].asString());
    // Edits, rules, hooks.
    EXPECT_TRUE(Post({{"action", "edit"}, {"name", name}, {"realm", renamed}, {"anon", "none"},
                      {"accounts", Accounts({{"alice", "a pw"}, {"bob", "b pw"}})}})
                    .json["success"].asBool());
    EXPECT_TRUE(Post({{"action", "rules_edit"}, {"name", name}, {"groups", "{}"},
                      {"rules", R"([{"path":"/trunk","who":"bob","access":"r"}])"}})
                    .json["success"].asBool());
    Json::Value rules = Get(Query("rules_show", name)).json["data"];
    EXPECT_EQ("r", rules["effective"][1]["access"]["bob"].asString()) << rules;
    EXPECT_TRUE(Post({{"action", "hooks_edit"}, {"name", name}, {"read_only", "yes"}})
                    .json["success"].asBool());
    EXPECT_TRUE(Get(Query("hooks_show", name)).json["data"]["read_only"].asBool());
    EXPECT_FALSE(jobs::Commit(sandbox::RepoDir(name), "carol", "refused", "printf y > trunk/y"));
    EXPECT_TRUE(Post({{"action", "hooks_edit"}, {"name", name}, {"read_only", "no"}})
                    .json["success"].asBool());
    // Jobs: a backup, its listing and download, a verify, a restore from
    // it under another such name, a cancel of an ended job, removal.
    Json::Value backup = Job({{"action", "backup"}, {"name", name}});
    ASSERT_EQ("done", backup["state"].asString()) << backup;
    const std::string file = backup["file"].asString();
    EXPECT_EQ(file, Get(Query("backups", name)).json["data"][0]["file"].asString());
    EXPECT_EQ("application/gzip",
              Get(Query("backup_get", name, "&" + FormEncode({{"file", file}}))).contentType);
    EXPECT_EQ("done", Job({{"action", "verify"}, {"name", name}})["state"].asString());
    Json::Value restored = Job({{"action", "restore"}, {"name", copy}, {"file", file}});
    EXPECT_EQ("done", restored["state"].asString()) << restored;
    EXPECT_EQ(2, Get(Query("show", copy)).json["data"]["rev"].asInt());
    EXPECT_EQ(2u, Get(Query("jobs", name)).json["data"].size());
    EXPECT_EQ("done", Post({{"action", "job_cancel"}, {"id", backup["id"].asString()}})
                          .json["data"]["state"].asString());
    EXPECT_TRUE(Post({{"action", "backup_remove"}, {"name", name}, {"file", file}})
                    .json["success"].asBool());
    EXPECT_TRUE(Get(Query("backups", name)).json["data"].empty());
    // Renamed and removed; the history names each.
    EXPECT_TRUE(Post({{"action", "rename"}, {"name", name}, {"to", renamed}})
                    .json["success"].asBool());
    EXPECT_EQ(2, Get(Query("show", renamed)).json["data"]["rev"].asInt());
    for (const std::string& gone : {renamed, copy})
      EXPECT_TRUE(Post({{"action", "remove"}, {"name", gone}}).json["success"].asBool()) << gone;
    Json::Value history = Get(Query("audit", copy)).json["data"];
    EXPECT_EQ(3, history["total"].asInt()) << history;
    EXPECT_EQ("remove", history["records"][0]["action"].asString());
    EXPECT_EQ("job_end", history["records"][1]["action"].asString());
    EXPECT_EQ("restore", history["records"][2]["action"].asString());
  }
  EXPECT_TRUE(sandbox::Entries(sandbox::Root()).empty());
}

}  // namespace
