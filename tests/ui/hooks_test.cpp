// Hook presets through the program and the real svnserve: log messages
// that accounts may change, a read-only repository, and hooks made by hand
// left byte for byte as they are.

#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "program.h"
#include "sandbox.h"
#include "svnserve_fixture.h"

namespace {

using namespace program;

class Hooks : public SvnserveFixture {
 protected:
  void SetUp() override {
    SvnserveFixture::SetUp();
    ASSERT_EQ(R"({"data":null,"success":true})",
              Post({{"action", "add"}, {"name", "e2e"}, {"anon", "read"}, {"layout", "standard"},
                    {"accounts", Accounts({{"alice", "a pw"}})}})
                  .body);
  }
  static CgiResult Edit(Params more) {
    Params params{{"action", "hooks_edit"}, {"name", "e2e"}};
    params.insert(params.end(), more.begin(), more.end());
    return Post(params);
  }
  static Json::Value Shown() { return Get("action=hooks_show&name=e2e").json["data"]; }
  static std::string Hook(const std::string& file) {
    return sandbox::RepoDir("e2e") + "/hooks/" + file;
  }
  static Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
  }
};

const char kOk[] = R"({"data":null,"success":true})";

TEST_F(Hooks, LogEditsLetAnAccountChangeTheLogMessageOnly) {
  EXPECT_EQ(Parse(R"({"log_edits":false,"read_only":false})"), Shown());
  for (bool on : {false, true}) {
    ASSERT_EQ(kOk, Edit({{"log_edits", on ? "yes" : "no"}}).body);
    EXPECT_EQ(on, Shown()["log_edits"].asBool());
    for (const std::string prop : {"svn:log", "svn:author", "my:note"}) {
      EXPECT_EQ(on && prop == "svn:log",
                Svn("propset --revprop -r 1 " + prop + " 'new text'", "alice", "a pw"))
          << prop << ", log_edits " << on;
    }
  }
  EXPECT_EQ("new text\n", SvnSays("propget --revprop -r 1 svn:log", "", ""));
  struct stat st;
  ASSERT_EQ(0, stat(Hook("pre-revprop-change").c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  // Where anonymous users may write, svnserve asks nobody to log in for a
  // change of a revision property: the hook refuses anonymous users.
  ASSERT_EQ(kOk, Post({{"action", "edit"}, {"name", "e2e"}, {"anon", "write"},
                       {"accounts", Accounts({{"alice", "a pw"}})}})
                     .body);
  const std::string said = SvnSays("propset --revprop -r 1 svn:log 'anonymous'", "", "");
  EXPECT_NE(std::string::npos, said.find("by an account")) << said;
  EXPECT_EQ("new text\n", SvnSays("propget --revprop -r 1 svn:log", "", ""));
}

TEST_F(Hooks, AReadOnlyRepositoryRefusesCommitsSayingSo) {
  // A hooks directory its group may not enter: a hook of ours keeps them out too.
  ASSERT_EQ(0, chmod((sandbox::RepoDir("e2e") + "/hooks").c_str(), 0700));
  ASSERT_EQ(kOk, Edit({{"read_only", "yes"}}).body);
  EXPECT_EQ(Parse(R"({"log_edits":false,"read_only":true})"), Shown());
  struct stat st;
  ASSERT_EQ(0, stat(Hook("start-commit").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  const std::string said = SvnSays("mkdir -m x", "alice", "a pw", "/trunk/x");
  EXPECT_NE(std::string::npos, said.find("This repository is read-only.")) << said;
  EXPECT_FALSE(Svn("ls", "", "", "/trunk/x"));
  // Both presets in one request, then both off: nothing of ours stays.
  ASSERT_EQ(kOk, Edit({{"log_edits", "yes"}, {"read_only", "yes"}}).body);
  EXPECT_EQ(Parse(R"({"log_edits":true,"read_only":true})"), Shown());
  ASSERT_EQ(kOk, Edit({{"log_edits", "no"}, {"read_only", "no"}}).body);
  EXPECT_TRUE(Svn("mkdir -m x", "alice", "a pw", "/trunk/x"));
  EXPECT_EQ(-1, access(Hook("start-commit").c_str(), F_OK));
  EXPECT_EQ(-1, access(Hook("pre-revprop-change").c_str(), F_OK));
}

TEST_F(Hooks, HooksMadeByHandAreKeptByteForByte) {
  const std::string hook = Hook("pre-revprop-change");
  struct {
    const char* name;
    std::function<void()> make;
  } cases[] = {
      {"a script", [&] { sandbox::WriteFile(hook, "#!/bin/sh\nexit 0\n"); }},
      {"ours, changed",
       [&] {
         Edit({{"log_edits", "yes"}});
         sandbox::WriteFile(hook, sandbox::ReadFile(hook) + "# mine\n");
       }},
      {"ours, made not executable",
       [&] {
         Edit({{"log_edits", "yes"}});
         chmod(hook.c_str(), 0644);
       }},
      {"a link", [&] { symlink("../conf/svnserve.conf", hook.c_str()); }},
      {"a directory", [&] { mkdir(hook.c_str(), 0755); }},
      {"a FIFO", [&] { mkfifo(hook.c_str(), 0644); }},
      {"the hooks directory a link",
       [&] {
         const std::string dir = sandbox::RepoDir("e2e");
         sandbox::Shell("mv '" + dir + "/hooks' '" + dir + "/my-hooks' && ln -s my-hooks '" +
                        dir + "/hooks'");
       }},
  };
  for (const auto& c : cases) {
    c.make();
    const std::string before = Snapshot();
    const Json::Value shown = Shown();
    EXPECT_EQ("custom", shown["log_edits"].asString()) << c.name;
    const std::string reason = shown["reasons"]["log_edits"].asString();
    EXPECT_NE("", reason) << c.name;
    for (const char* word : {"yes", "no"}) {
      CgiResult r = Edit({{"log_edits", word}});
      EXPECT_EQ("handmade", r.json["errinfo"]["key"].asString()) << c.name << ": " << r.body;
      EXPECT_EQ(reason, r.json["errinfo"]["reason"].asString()) << c.name;
    }
    EXPECT_EQ(before, Snapshot()) << c.name;
    // The other preset is the page's all the same (unless hooks/ is not).
    const bool linked = shown["read_only"].isString();
    EXPECT_EQ(linked ? "handmade" : "", Edit({{"read_only", "yes"}}).json["errinfo"]["key"].asString())
        << c.name;
    EXPECT_EQ(!linked, Shown()["read_only"].asString() == "true") << c.name;
    Edit({{"read_only", "no"}});
    sandbox::Shell("cd '" + sandbox::RepoDir("e2e") + "' && rm -rf hooks/pre-revprop-change && "
                   "if [ -L hooks ]; then rm hooks && mv my-hooks hooks; fi");
  }
  // What is not a preset's word, or names no repository.
  EXPECT_EQ(R"({"success":false})", Edit({{"log_edits", "maybe"}}).body);
  EXPECT_EQ(R"({"success":false})", Edit({}).body);
  EXPECT_EQ("nonexist", Post({{"action", "hooks_edit"}, {"name", "gone"}, {"read_only", "yes"}})
                            .json["errinfo"]["key"].asString());
  EXPECT_EQ("nonexist", Get("action=hooks_show&name=gone").json["errinfo"]["key"].asString());
  EXPECT_EQ("405 Method Not Allowed", Get("action=hooks_edit&name=e2e&read_only=yes").status);
  EXPECT_EQ(Parse(R"({"log_edits":false,"read_only":false})"), Shown());
}

// With log edits on, an empty message is refused, and every change of a
// log message (the revision, who, the old message, the new one) reaches
// the audit log, whose directory stays the service user's alone; no text
// of a message runs anywhere.
TEST_F(Hooks, LogEditsRefuseEmptyMessagesAndRecordEveryChange) {
  ASSERT_EQ(kOk, Edit({{"log_edits", "yes"}}).body);
  const std::string pwned = sandbox::Dir() + "/pwned";
  struct {
    const char* name;
    std::string message;
    bool taken;
  } cases[] = {
      {"a message", "Better words", true},
      {"an empty one", "", false},
      {"blanks only", " \n\t\n", false},
      {"shell text", "$(touch '" + pwned + "') `touch '" + pwned + "'` \"; exit 0 '", true},
      {"lines beyond ASCII", "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\n\nsecond line\n", true},
  };
  const std::string file = sandbox::Dir() + "/message";
  std::string current = "Create standard layout";
  for (const auto& c : cases) {
    const long long before = Get("action=audit&name=e2e").json["data"]["total"].asInt64();
    sandbox::WriteFile(file, c.message);
    const std::string said =
        SvnSays("propset --revprop -r 1 svn:log -F '" + file + "'", "alice", "a pw");
    Json::Value page = Get("action=audit&name=e2e").json["data"];
    EXPECT_EQ(before + (c.taken ? 1 : 0), page["total"].asInt64()) << c.name << said;
    if (c.taken) {
      const Json::Value& r = page["records"][0];
      EXPECT_EQ("log_edit", r["action"].asString()) << c.name << r;
      EXPECT_EQ("alice", r["user"].asString()) << c.name;
      EXPECT_EQ("done", r["outcome"].asString()) << c.name;
      EXPECT_EQ(1, r["changes"]["rev"].asInt()) << c.name;
      EXPECT_EQ(current, r["changes"]["log"]["old"].asString()) << c.name;
      EXPECT_EQ(c.message, r["changes"]["log"]["new"].asString()) << c.name;
      current = c.message;
    } else {
      EXPECT_NE(std::string::npos, said.find("A log message may not be empty.")) << c.name << said;
    }
    EXPECT_EQ(current, SvnSays("propget --revprop -r 1 svn:log --strict", "", "")) << c.name;
  }
  EXPECT_NE(0, access(pwned.c_str(), F_OK));
  struct stat st;
  ASSERT_EQ(0, stat((sandbox::Dir() + "/var").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  ASSERT_EQ(0, stat((sandbox::Dir() + "/hook-records").c_str(), &st));
  EXPECT_EQ(03730u, st.st_mode & 07777);
  EXPECT_TRUE(sandbox::Entries(sandbox::Dir() + "/hook-records").empty());
}

// A log-edits hook of an earlier version is ours: on, and brought up to
// date when switched on; a post-revprop-change made by hand keeps the
// preset off and is never replaced.
TEST_F(Hooks, LogEditsHooksOfEarlierVersionsAndByHand) {
  const std::string earlier =
      "#!/bin/sh\n"
      "# svn.cgi preset: log-edits 1\n"
      "# Written by the repository administration page, which knows it by this\n"
      "# text: changed by hand, it is left to the hand.  svnserve runs it before a\n"
      "# revision property changes, for a user who may write the repository,\n"
      "# with REPOS REV USER PROPNAME ACTION (USER is empty for anonymous users;\n"
      "# ACTION is A, M or D).  It lets an account set or change the log\n"
      "# message (svn:log), and nothing else.\n"
      "if [ -n \"$3\" ] && [ \"$4\" = \"svn:log\" ] && { [ \"$5\" = \"M\" ] || [ \"$5\" = \"A\" ]; }; then\n"
      "  exit 0\n"
      "fi\n"
      "echo \"Only the log message (svn:log) of a revision may be changed, by an account.\" >&2\n"
      "exit 1\n";
  sandbox::WriteFile(Hook("pre-revprop-change"), earlier);
  ASSERT_EQ(0, chmod(Hook("pre-revprop-change").c_str(), 0750));
  EXPECT_EQ(Parse(R"({"log_edits":true,"read_only":false})"), Shown());
  ASSERT_EQ(kOk, Edit({{"log_edits", "yes"}}).body);
  EXPECT_NE(earlier, sandbox::ReadFile(Hook("pre-revprop-change")));
  EXPECT_EQ(0, access(Hook("post-revprop-change").c_str(), X_OK));
  EXPECT_FALSE(Svn("propset --revprop -r 1 svn:log ''", "alice", "a pw"));
  ASSERT_EQ(kOk, Edit({{"log_edits", "no"}}).body);
  EXPECT_NE(0, access(Hook("post-revprop-change").c_str(), F_OK));

  sandbox::WriteFile(Hook("post-revprop-change"), "#!/bin/sh\nexit 0\n");
  const std::string before = Snapshot();
  const Json::Value shown = Shown();
  EXPECT_EQ("custom", shown["log_edits"].asString());
  EXPECT_NE(std::string::npos, shown["reasons"]["log_edits"].asString().find("post-revprop-change"));
  EXPECT_EQ("handmade", Edit({{"log_edits", "yes"}}).json["errinfo"]["key"].asString());
  EXPECT_EQ(before, Snapshot());
}

}  // namespace
