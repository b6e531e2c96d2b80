// "rename" through the program and the real svnserve: what names the
// repository follows it (its rules, in its own file and, with consent, in
// a shared one; settings that reach it through the root), and a refused
// or failed rename changes nothing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "audit_log.h"
#include "program.h"
#include "sandbox.h"
#include "svnserve_fixture.h"

namespace {

using namespace program;

class Rename : public SvnserveFixture {
 protected:
  // A repository made by hand: these settings, accounts alice and bob.
  static void Repo(const std::string& name, const std::string& conf) {
    ASSERT_TRUE(sandbox::CreateRepo(name));
    sandbox::WriteFile(Conf(name), conf);
    sandbox::WriteFile(Passwd(name), "[users]\nalice = a pw\nbob = b pw\n");
  }
  static std::string Authz(const std::string& name) {
    return sandbox::RepoDir(name) + "/conf/authz";
  }
  static CgiResult RenameTo(const std::string& name, const std::string& to,
                            const std::string& shared = "") {
    Params params{{"action", "rename"}, {"name", name}, {"to", to}};
    if (!shared.empty()) params.emplace_back("shared", shared);
    return Post(params);
  }
};

TEST_F(Rename, ItsRulesAndSettingsFollowIt) {
  // The settings reach the account file through the root by the name;
  // rules name the repository, a glob among them.
  Repo("old", "[general]\nanon-access = none\npassword-db = ../../old/conf/passwd\n"
              "authz-db = authz\n");
  const std::string rules =
      "# the server's rules\n[/]\n* = r\nalice = rw\n[old:/trunk] for old\nbob =\n"
      "# kept\n[other:/x]\nalice = rw\n[:glob:old:/t*/secret]\nalice =\n";
  sandbox::WriteFile(Authz("old"), rules);
  ASSERT_EQ(0, sandbox::Shell("svn mkdir -q --parents -m t 'file://" + sandbox::RepoDir("old") +
                              "/trunk/secret'"));
  ASSERT_TRUE(Svn("ls", "alice", "a pw", "/trunk", "old"));
  ASSERT_FALSE(Svn("ls", "alice", "a pw", "/trunk/secret", "old"));
  ASSERT_FALSE(Svn("ls", "bob", "b pw", "/trunk", "old"));

  CgiResult r = RenameTo("old", "new");
  ASSERT_EQ(R"({"data":null,"success":true})", r.body) << sandbox::ReadFile(sandbox::LogFile());
  EXPECT_EQ((Lines{"new"}), sandbox::Entries(sandbox::Root()));
  EXPECT_TRUE(Svn("checkout", "alice", "a pw", " '" + sandbox::Dir() + "/wc'", "new"));
  EXPECT_FALSE(Svn("ls", "alice", "a pw", "", "old"));
  EXPECT_TRUE(Svn("ls", "bob", "b pw", "", "new"));
  EXPECT_FALSE(Svn("ls", "bob", "b pw", "/trunk", "new"));
  EXPECT_FALSE(Svn("ls", "alice", "a pw", "/trunk/secret", "new"));
  EXPECT_EQ("# the server's rules\n[/]\n* = r\nalice = rw\n[new:/trunk] for old\nbob =\n"
            "# kept\n[other:/x]\nalice = rw\n[:glob:new:/t*/secret]\nalice =\n",
            sandbox::ReadFile(Authz("new")));
  EXPECT_EQ("[general]\nanon-access = none\npassword-db = passwd\nauthz-db = authz\n",
            sandbox::ReadFile(Conf("new")));
}

// Its own settings that reach it through the root by its name reach the
// same files without the root, and svnserve lets its accounts in under
// the new name.
TEST_F(Rename, SettingsThatReachItThroughTheRootFollowIt) {
  const std::string root = sandbox::Root();
  const struct {
    std::string line, after;
  } cases[] = {
      {"password-db = ../../r0/conf/passwd", "password-db = passwd"},
      {"password-db = " + root + "/r1/conf/passwd", "password-db = passwd"},
      {"password-db = ../../r2/../r2/conf/passwd", "password-db = passwd"},
      {"password-db = ../conf/passwd", "password-db = ../conf/passwd"},  // not through the root
      {"authz-db = file://" + root + "/r4/rules", "authz-db = ^/rules"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const std::string name = "r" + std::to_string(i), to = "s" + std::to_string(i);
    const std::string more = cases[i].line.compare(0, 8, "authz-db") == 0 ? "password-db = passwd\n" : "";
    Repo(name, "[general]\nanon-access = none\n" + cases[i].line + "\n" + more);
    sandbox::WriteFile(sandbox::Dir() + "/rules", "[/]\n* = rw\n");
    ASSERT_EQ(0, sandbox::Shell("svnmucc -m rules put '" + sandbox::Dir() + "/rules' 'file://" +
                                sandbox::RepoDir(name) + "/rules' >/dev/null"));
    ASSERT_TRUE(Svn("ls", "alice", "a pw", "", name)) << cases[i].line;
    EXPECT_EQ(R"({"data":null,"success":true})", RenameTo(name, to).body) << cases[i].line;
    EXPECT_EQ("[general]\nanon-access = none\n" + cases[i].after + "\n" + more,
              sandbox::ReadFile(Conf(to)));
    EXPECT_TRUE(Svn("ls", "alice", "a pw", "", to)) << cases[i].line;
  }
}

TEST_F(Rename, RulesInASharedFileMoveWithConsent) {
  const std::string shared = sandbox::Root() + "/../authz";
  sandbox::WriteFile(shared, "[/]\n* = r\n[a:/]\nalice = rw\n[b:/]\n* =\n");
  for (const char* name : {"a", "b"})
    Repo(name, "[general]\nanon-access = none\npassword-db = passwd\n"
               "authz-db = ../../../authz\n");
  const std::string before = Snapshot();
  CgiResult r = RenameTo("a", "c");
  EXPECT_EQ("shared", r.json["errinfo"]["key"].asString()) << r.body;
  EXPECT_EQ(Json::Value("b"), r.json["errinfo"]["repositories"][0]);
  EXPECT_EQ(before, Snapshot());

  r = RenameTo("a", "c", "yes");
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_EQ("[/]\n* = r\n[c:/]\nalice = rw\n[b:/]\n* =\n", sandbox::ReadFile(shared));
  EXPECT_TRUE(Svn("mkdir -m x", "alice", "a pw", "/x", "c"));
  EXPECT_FALSE(Svn("ls", "alice", "a pw", "", "b"));
}

TEST_F(Rename, RefusalsAndFailuresChangeNothing) {
  Repo("old", "[general]\nanon-access = none\npassword-db = passwd\nauthz-db = authz\n");
  sandbox::WriteFile(Authz("old"), "[/]\n* = r\n[old:/x]\nbob =\n");
  Repo("other", "[general]\nanon-access = none\n");
  std::unique_ptr<program::HeldLocks> heldLocks;
  auto append = [](const std::string& file, const std::string& text) {
    sandbox::WriteFile(file, sandbox::ReadFile(file) + text);
  };
  const std::string otherConf = sandbox::ReadFile(Conf("other"));
  const std::string oldRules = sandbox::ReadFile(Authz("old"));
  struct {
    const char* name;
    std::function<bool()> setup;  // false: the case cannot be made here
    std::string name_, to;
    const char* key;              // "": the generic error
    bool reason;
    std::function<void()> cleanup;
  } cases[] = {
      {"the new name is a repository", nullptr, "old", "other", "exist", false, nullptr},
      {"the new name is a file",
       [] { sandbox::WriteFile(sandbox::Root() + "/file", "x"); return true; }, "old", "file",
       "exist", true, [] { unlink((sandbox::Root() + "/file").c_str()); }},
      {"the new name is an empty directory",
       [] { return mkdir((sandbox::Root() + "/empty").c_str(), 0755) == 0; }, "old", "empty",
       "exist", true, [] { rmdir((sandbox::Root() + "/empty").c_str()); }},
      {"the repository is gone", nullptr, "gone", "new", "nonexist", false, nullptr},
      {"a new name out of the root", nullptr, "old", "../new", "", false, nullptr},
      {"no new name", nullptr, "old", "", "", false, nullptr},
      {"rules for the new name are there",
       [&] { append(Authz("old"), "[new:/y]\nalice = r\n"); return true; }, "old", "new",
       "handmade", true, [&] { sandbox::WriteFile(Authz("old"), oldRules); }},
      {"a name a rule cannot hold", nullptr, "old", "n:ew", "handmade", true, nullptr},
      {"rules that cannot be read",
       [&] { return unlink(Authz("old").c_str()) == 0 && mkfifo(Authz("old").c_str(), 0644) == 0; },
       "old", "new", "handmade", true,
       [&] {
         unlink(Authz("old").c_str());
         sandbox::WriteFile(Authz("old"), oldRules);
       }},
      {"another repository's accounts are in it",
       [&] { append(Conf("other"), "password-db = ../../old/conf/passwd\n"); return true; },
       "old", "new", "shared", true, [&] { sandbox::WriteFile(Conf("other"), otherConf); }},
      {"another repository's rules are kept in it",
       [&] {
         append(Conf("other"), "authz-db = file://" + sandbox::RepoDir("old") + "/rules\n");
         return true;
       },
       "old", "new", "shared", true, [&] { sandbox::WriteFile(Conf("other"), otherConf); }},
      {"another change of it under way",
       [&] {
         RenameTo("old", "old");  // refused, having made the locks of its files
         heldLocks.reset(new program::HeldLocks);
         return heldLocks->size() > 0;
       },
       "old", "new", "busy", false, [&] { heldLocks.reset(); }},
      // The rules are written before the directory moves: put back when
      // it cannot.
      {"the root cannot change",
       [] { return sandbox::Shell("chattr +i '" + sandbox::Root() + "' 2>/dev/null") == 0; },
       "old", "new", "", false, [] { sandbox::Shell("chattr -i '" + sandbox::Root() + "'"); }},
  };
  for (const auto& c : cases) {
    if (c.setup && !c.setup()) {
      std::cout << "[ skipped  ] " << c.name << ": cannot be made here\n";
      continue;
    }
    const std::string before = Snapshot();
    CgiResult r = RenameTo(c.name_, c.to);
    EXPECT_EQ(before, Snapshot()) << c.name;
    if (c.cleanup) c.cleanup();
    if (*c.key == '\0') {
      EXPECT_EQ(R"({"success":false})", r.body) << c.name;
      continue;
    }
    EXPECT_EQ(c.key, r.json["errinfo"]["key"].asString()) << c.name << ": " << r.body;
    EXPECT_EQ(c.reason, r.json["errinfo"].isMember("reason")) << c.name << ": " << r.body;
  }
  EXPECT_EQ("405 Method Not Allowed", Get("action=rename&name=old&to=new").status);
}

// The history of a repository is what happened to it under every name it
// had, through chains of renames by any administrator, and nothing of
// another repository that had one of those names before or after.
TEST_F(Rename, TheHistoryFollowsItThroughItsNames) {
  auto as = [](const std::string& user, const Params& params) {
    const std::string body = FormEncode(params);
    CgiEnv env = PostEnv(body);
    env["REMOTE_USER"] = user;
    EXPECT_TRUE(RunCgi(SVN_CGI, env, body).json["success"].asBool()) << params[0].second;
  };
  auto add = [&](const std::string& name) {
    as("admin", {{"action", "add"}, {"name", name}, {"anon", "none"}, {"accounts", "[]"}});
  };
  auto realm = [&](const std::string& name) {
    as("admin", {{"action", "edit"}, {"name", name}, {"realm", "R"}, {"anon", "read"},
                 {"accounts", "[]"}});
  };
  add("a");                                                     // 1
  realm("a");                                                   // 2
  as("admin", {{"action", "rename"}, {"name", "a"}, {"to", "b"}});  // 3
  realm("b");                                                   // 4
  as("other", {{"action", "rename"}, {"name", "b"}, {"to", "c"}});  // 5
  add("a");                                                     // 6: another repository
  realm("a");                                                   // 7
  as("admin", {{"action", "rename"}, {"name", "a"}, {"to", "d"}});  // 8
  const long long first = audit_log::Records().front()["seq"].asInt64();
  struct {
    std::string query;
    std::vector<long long> seqs;  // from the first record, newest first
    long long total;
    bool exact;
  } cases[] = {
      {"name=c", {5, 4, 3, 2, 1}, 5, true},
      {"name=c&user=admin", {4, 3, 2, 1}, 4, true},
      {"name=c&start=1&limit=2", {4, 3}, 4, false},
      {"name=d", {8, 7, 6}, 3, true},
      {"name=a", {8, 7, 6}, 3, true},  // the name's last holder: renamed away
      {"name=b", {5, 4, 3, 2, 1}, 5, true},
  };
  for (const auto& c : cases) {
    Json::Value page = Get("action=audit&" + c.query).json["data"];
    std::vector<long long> seqs;
    for (const Json::Value& r : page["records"]) seqs.push_back(r["seq"].asInt64() - first + 1);
    EXPECT_EQ(c.seqs, seqs) << c.query << page;
    EXPECT_EQ(c.total, page["total"].asInt64()) << c.query;
    EXPECT_EQ(c.exact, page["exact"].asBool()) << c.query;
  }
}

}  // namespace
