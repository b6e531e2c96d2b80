// Setups made by hand, as administrators run svnserve for many
// repositories: one account file, one rules file or one settings file for
// several of them; rules kept in a repository; hand-made settings.  What
// is shared is said, changed only with consent, and then what svnserve
// enforces for every repository that uses it; what cannot be changed here
// says why and blocks nothing else.

#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include "program.h"
#include "sandbox.h"
#include "svn_config_reader.h"
#include "svnserve_fixture.h"

namespace {

using namespace program;

class Shared : public SvnserveFixture {
 protected:
  // Makes each of `names` a repository whose settings are `conf`.
  void Repos(const std::vector<std::string>& names, const std::string& conf) {
    for (const std::string& n : names) {
      ASSERT_TRUE(sandbox::CreateRepo(n));
      sandbox::WriteFile(Conf(n), conf);
    }
  }

  static Json::Value Parse(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
  }

  // "rules" of rules_show, sent back as they are, plus `more`.
  static std::string RulesPlus(const Json::Value& shown, const std::string& more) {
    Json::Value rules = shown["data"]["rules"];
    if (!more.empty()) rules.append(Parse(more));
    return Json::FastWriter().write(rules);
  }
};

TEST_F(Shared, OneAccountAndRulesFileForThreeRepositories) {
  const std::string passwd = "[users]\n# the team\nalice = a pw\n# the boss\nbob = b pw\n";
  const std::string authz =
      "# rules of the server\n[groups]\nteam = alice, bob\n[/]\n@team = r\n"
      "[a:/]\nalice = rw\n[b:/]\nbob = rw\n";
  sandbox::WriteFile(sandbox::Root() + "/../passwd", passwd);
  sandbox::WriteFile(sandbox::Root() + "/../authz", authz);
  Repos({"a", "b", "c"},
        "[general]\nanon-access = none\npassword-db = ../../../passwd\n"
        "authz-db = ../../../authz\n");

  // What is shared, and with whom.
  EXPECT_EQ(Parse(R"({"accounts":["b","c"],"rules":["b","c"]})"),
            Get("action=show&name=a").json["data"]["shared"]);
  EXPECT_EQ(Parse(R"(["b","c"])"), Get("action=acc_show&name=a").json["shared"]);
  CgiResult rules = Get("action=rules_show&name=a");
  EXPECT_EQ(Parse(R"(["b","c"])"), rules.json["data"]["shared"]);
  EXPECT_EQ(Parse(R"([{"path":"/","who":"@team","access":"r","scope":"all"},)"
                  R"({"path":"/","who":"alice","access":"rw","scope":"repository"}])"),
            rules.json["data"]["rules"]);

  // A change of the shared files needs consent; without it nothing changes.
  const std::string accounts = Accounts({{"alice", "a pw"}, {"bob", "new pw"}});
  struct {
    const char* name;
    Params params;
  } refused[] = {
      {"a new password", {{"action", "edit"}, {"name", "a"}, {"anon", "none"},
                          {"accounts", accounts}}},
      {"a rule for all", {{"action", "rules_edit"}, {"name", "a"}, {"groups", R"({"team":["alice","bob"]})"},
                          {"rules", RulesPlus(rules.json, R"({"path":"/x","who":"*","access":"r","scope":"all"})")}}},
      {"the groups", {{"action", "rules_edit"}, {"name", "a"}, {"groups", R"({"team":["alice"]})"},
                      {"rules", RulesPlus(rules.json, "")}}},
  };
  for (const auto& c : refused) {
    const std::string before = Snapshot();
    CgiResult r = Post(c.params);
    EXPECT_EQ("shared", r.json["errinfo"]["key"].asString()) << c.name;
    EXPECT_EQ(Parse(R"(["b","c"])"), r.json["errinfo"]["repositories"]) << c.name;
    EXPECT_EQ(before, Snapshot()) << c.name;
  }

  // What leaves them as they are needs none: the same accounts, a realm of
  // its own, a rule for this repository alone (where a shared file keeps
  // them, its other sections byte for byte).
  EXPECT_TRUE(Post({{"action", "edit"}, {"name", "a"}, {"realm", "A"}, {"anon", "none"},
                    {"accounts", Accounts({{"alice", "a pw"}, {"bob", "b pw"}})}})
                  .json["success"].asBool());
  EXPECT_EQ(passwd, sandbox::ReadFile(sandbox::Root() + "/../passwd"));
  EXPECT_TRUE(Post({{"action", "rules_edit"}, {"name", "a"}, {"groups", R"({"team":["alice","bob"]})"},
                    {"rules", RulesPlus(rules.json, R"({"path":"/x","who":"bob","access":""})")}})
                  .json["success"].asBool());
  EXPECT_EQ("# rules of the server\n[groups]\nteam = alice, bob\n[/]\n@team = r\n"
            "[a:/]\nalice = rw\n[b:/]\nbob = rw\n\n[a:/x]\nbob = \n",
            sandbox::ReadFile(sandbox::Root() + "/../authz"));

  // With consent the file is written once, comments and lines in place,
  // and every repository that uses it obeys.
  // Consent names whom it reaches: a list that leaves one out is none.
  EXPECT_TRUE(Svn("ls", "bob", "b pw", "", "c"));
  const Params newPassword{{"action", "edit"}, {"name", "a"}, {"anon", "none"},
                           {"accounts", accounts}};
  Params partly = newPassword, agreed = newPassword;
  partly.emplace_back("shared", R"(["b"])");
  agreed.emplace_back("shared", R"(["b","c"])");
  EXPECT_EQ("shared", Post(partly).json["errinfo"]["key"].asString());
  CgiResult r = Post(agreed);
  EXPECT_TRUE(r.json["success"].asBool()) << r.body;
  EXPECT_EQ("[users]\n# the team\nalice = a pw\n# the boss\nbob = new pw\n",
            sandbox::ReadFile(sandbox::Root() + "/../passwd"));
  for (const char* repo : {"a", "b", "c"}) {
    EXPECT_FALSE(Svn("ls", "bob", "b pw", "", repo)) << repo;
    EXPECT_TRUE(Svn("ls", "bob", "new pw", "", repo)) << repo;
  }
  EXPECT_FALSE(Svn("mkdir -m x", "alice", "a pw", "/x", "c"));
  r = Post({{"action", "rules_edit"}, {"name", "a"}, {"groups", R"({"team":["alice","bob"]})"},
            {"shared", "yes"},
            {"rules", RulesPlus(rules.json, R"({"path":"/","who":"alice","access":"rw","scope":"all"})")}});
  EXPECT_TRUE(r.json["success"].asBool()) << r.body;
  EXPECT_TRUE(Svn("mkdir -m x", "alice", "a pw", "/x", "c"));
}

TEST_F(Shared, OneSettingsFileForTwoRepositories) {
  sandbox::WriteFile(sandbox::Dir() + "/shared.conf",
                     "[general]\nanon-access = read\nrealm = Shared\n");
  for (const char* n : {"p", "q"}) {
    ASSERT_TRUE(sandbox::CreateRepo(n));
    sandbox::Shell(std::string("ln -sf ../../../shared.conf '") + Conf(n) + "'");
  }
  EXPECT_EQ(Parse(R"({"settings":["q"]})"), Get("action=show&name=p").json["data"]["shared"]);
  EXPECT_TRUE(Get("action=show&name=p").json["data"]["realm_set"].asBool());
  ASSERT_TRUE(sandbox::CreateRepo("plain"));  // no realm line: svnserve announces the UUID
  EXPECT_FALSE(Get("action=show&name=plain").json["data"]["realm_set"].asBool());
  const Params edit{{"action", "edit"}, {"name", "p"}, {"realm", "Both"}, {"anon", "none"},
                    {"accounts", "[]"}};
  const std::string before = Snapshot();
  EXPECT_EQ("shared", Post(edit).json["errinfo"]["key"].asString());
  EXPECT_EQ(before, Snapshot());
  Params agreed = edit;
  agreed.emplace_back("shared", "yes");
  EXPECT_TRUE(Post(agreed).json["success"].asBool());
  EXPECT_EQ("Both", Get("action=show&name=q").json["data"]["realm"].asString());
  EXPECT_FALSE(Svn("ls", "", "", "", "q"));
  EXPECT_TRUE(sandbox::Output("ls -l '" + Conf("q") + "'").find("->") != std::string::npos);

  // Removing one takes no file of the other's with it: its link goes, the
  // file stays.  A repository whose accounts live in another's conf/ goes
  // only with consent.
  EXPECT_TRUE(Post({{"action", "remove"}, {"name", "p"}}).json["success"].asBool());
  EXPECT_EQ("Both", Get("action=show&name=q").json["data"]["realm"].asString());
  Repos({"r"}, "[general]\npassword-db = ../../q/conf/passwd\n");
  CgiResult r = Post({{"action", "remove"}, {"name", "q"}});
  EXPECT_EQ("shared", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(Parse(R"(["r"])"), r.json["errinfo"]["repositories"]);
  EXPECT_TRUE(Post({{"action", "remove"}, {"name", "q"}, {"shared", "yes"}}).json["success"].asBool());
}

TEST_F(Shared, BoundsCountWhatBindsTheRepository) {
  // 100 repositories x 10 sections in one rules file.
  std::string authz = "[groups]\n";
  for (int n = 0; n < 100; ++n)
    for (int s = 0; s < 10; ++s)
      authz += "[r" + std::to_string(n) + ":/p" + std::to_string(s) + "]\n* = r\n";
  sandbox::WriteFile(sandbox::Dir() + "/authz", authz);
  std::string accounts = "[users]\n";
  for (int i = 0; i < 900; ++i) accounts += "user" + std::to_string(i) + " = pw\n";
  sandbox::WriteFile(sandbox::Dir() + "/passwd", accounts);
  Repos({"r7"}, "[general]\npassword-db = ../../../passwd\nauthz-db = ../../../authz\n");
  CgiResult r = Get("action=rules_show&name=r7");
  ASSERT_TRUE(r.json["success"].asBool()) << r.body;
  EXPECT_EQ(10u, r.json["data"]["rules"].size());
  EXPECT_EQ(11u, r.json["data"]["effective"].size());  // and the root
}

TEST_F(Shared, RulesKeptInTheRepository) {
  Repos({"in"}, "[general]\nanon-access = none\npassword-db = passwd\nauthz-db = ^/authz\n");
  sandbox::WriteFile(Passwd("in"), "[users]\nalice = a pw\n");
  sandbox::WriteFile(sandbox::Dir() + "/rules", "[/]\nalice = r\n");
  ASSERT_EQ(0, sandbox::Shell("svn import -q -m rules '" + sandbox::Dir() + "/rules' 'file://" +
                              sandbox::RepoDir("in") + "/authz'"));
  CgiResult r = Get("action=rules_show&name=in");
  ASSERT_TRUE(r.json["success"].asBool()) << r.body;
  EXPECT_FALSE(r.json["data"]["editable"].asBool());
  EXPECT_NE(std::string::npos, r.json["data"]["reason"].asString().find("^/authz"));
  EXPECT_EQ(Parse(R"([{"path":"/","who":"alice","access":"r","scope":"all"}])"),
            r.json["data"]["rules"]);
  EXPECT_EQ("r", r.json["data"]["effective"][0]["access"]["alice"].asString());
  // The rest of the repository is the page's all the same.
  EXPECT_TRUE(Post({{"action", "edit"}, {"name", "in"}, {"anon", "none"},
                    {"accounts", Accounts({{"alice", "new pw"}})}})
                  .json["success"].asBool());
  EXPECT_TRUE(Svn("ls", "alice", "new pw", "", "in"));
  EXPECT_EQ("handmade", Post({{"action", "rules_edit"}, {"name", "in"}, {"groups", "{}"},
                              {"rules", "[]"}})
                            .json["errinfo"]["key"].asString());
}

TEST_F(Shared, HandMadeSettingsAndAccountFiles) {
  // Access for accounts, read as svnserve reads it, and changed.
  Repos({"ro"}, "[general]\nanon-access = none\nauth-access = read\npassword-db = passwd\n");
  sandbox::WriteFile(Passwd("ro"), "[users]\nalice = a pw\n");
  EXPECT_EQ("read", Get("action=show&name=ro").json["data"]["auth_access"].asString());
  EXPECT_FALSE(Svn("mkdir -m x", "alice", "a pw", "/x", "ro"));
  EXPECT_TRUE(Post({{"action", "edit"}, {"name", "ro"}, {"anon", "none"}, {"auth_access", "write"},
                    {"accounts", Accounts({{"alice", "a pw"}})}})
                  .json["success"].asBool());
  EXPECT_EQ("write", Get("action=show&name=ro").json["data"]["auth_access"].asString());
  EXPECT_TRUE(Svn("mkdir -m x", "alice", "a pw", "/x", "ro"));

  // Values [DEFAULT] gives are changed where svnserve takes them first.
  Repos({"dflt"}, "[DEFAULT]\nrealm = Everywhere\nanon-access = read\n[general]\n"
                  "password-db = passwd\n");
  EXPECT_TRUE(Post({{"action", "edit"}, {"name", "dflt"}, {"realm", "Here"}, {"anon", "none"},
                    {"accounts", "[]"}})
                  .json["success"].asBool());
  SvnConfig seen;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(Conf("dflt"), &seen, &error)) << error;
  EXPECT_EQ("Here", seen["general"]["realm"]);
  EXPECT_EQ("none", seen["general"]["anon-access"]);

  // An account file in Latin-1: shown as far as it can be, the rest of
  // the repository edited, the accounts left to the hand.
  Repos({"latin"}, "[general]\npassword-db = passwd\n");
  sandbox::WriteFile(Passwd("latin"), "[users]\nalice = a pw\ncaf\xe9 = pw\n");
  CgiResult shown = Get("action=acc_show&name=latin");
  EXPECT_EQ(Parse(R"([{"account":"alice","password":"a pw"}])"), shown.json["account"]);
  EXPECT_FALSE(shown.json["editable"].asBool());
  EXPECT_NE("", shown.json["reason"].asString());
  const std::string passwd = sandbox::ReadFile(Passwd("latin"));
  EXPECT_TRUE(Post({{"action", "edit"}, {"name", "latin"}, {"realm", "L"}, {"anon", "none"},
                    {"accounts", Json::FastWriter().write(shown.json["account"])}})
                  .json["success"].asBool());
  CgiResult r = Post({{"action", "edit"}, {"name", "latin"}, {"realm", "L"}, {"anon", "none"},
                      {"accounts", Accounts({{"bob", "b pw"}})}});
  EXPECT_EQ("handmade", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(shown.json["reason"], r.json["errinfo"]["reason"]);
  EXPECT_EQ(passwd, sandbox::ReadFile(Passwd("latin")));
}

// Files that do not exist are shared only when their names lead to one
// place: two account files in directories that are missing are not one.
TEST_F(Shared, MissingFilesAreSharedOnlyWhereTheyLeadToOnePlace) {
  struct {
    const char* db1;
    const char* db2;
    bool shared;
  } cases[] = {
      {"none/passwd", "none/passwd", false},
      {"none/passwd", "other/passwd", false},
      {"/nonexistent-dir/passwd", "/nonexistent-dir/passwd", true},
      {"missing", "../../one3/conf/missing", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string one = "one" + std::to_string(n), two = "two" + std::to_string(n++);
    Repos({one}, std::string("[general]\npassword-db = ") + c.db1 + "\n");
    Repos({two}, std::string("[general]\npassword-db = ") + c.db2 + "\n");
    const Json::Value shared = Get("action=show&name=" + one).json["data"]["shared"];
    EXPECT_EQ(c.shared ? Parse("{\"accounts\":[\"" + two + "\"]}") : Parse("{}"), shared)
        << c.db1 << " " << c.db2;
  }
}

// A repository without rules in force whose rules file others use (it
// lies in its conf/): rules_show gives the groups and rules that bind once
// they are in force, and an edit that sends them back with rules of its
// own leaves the others' rules as they were, and as svnserve enforces them;
// a file others read as their groups file (groups-db) takes no rules.
TEST_F(Shared, RulesNotInForceHereAreKeptForOthers) {
  const Params people{{"alice", "a pw"}, {"bob", "b pw"}};
  struct {
    const char* uses;    // how "other" uses off/conf/authz
    const char* authz;   // off/conf/authz
    bool takesRules;
  } cases[] = {
      {"authz-db = ../../off0/conf/authz\n",
       "[groups]\ndevs = alice\n[/]\n* = r\n[other0:/]\n@devs = rw\n", true},
      {"authz-db = authz\ngroups-db = ../../off1/conf/authz\n", "[groups]\ndevs = alice\n",
       false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string off = "off" + std::to_string(n), other = "other" + std::to_string(n++);
    Repos({off, other}, std::string("[general]\nanon-access = read\npassword-db = passwd\n"));
    for (const std::string& r : {off, other}) sandbox::WriteFile(Passwd(r), "[users]\nalice = a pw\nbob = b pw\n");
    sandbox::WriteFile(Conf(other), std::string("[general]\nanon-access = read\npassword-db = passwd\n") +
                                        c.uses);
    sandbox::WriteFile(sandbox::RepoDir(off) + "/conf/authz", c.authz);
    sandbox::WriteFile(sandbox::RepoDir(other) + "/conf/authz", "[/]\n* = r\n@devs = rw\n");
    const Json::Value before = Get("action=rules_show&name=" + other).json["data"]["effective"];
    CgiResult shown = Get("action=rules_show&name=" + off);
    ASSERT_TRUE(shown.json["success"].asBool()) << c.uses << shown.body;
    EXPECT_EQ(Parse(R"({"devs":["alice"]})"), shown.json["data"]["groups"]) << c.uses;
    EXPECT_EQ(c.takesRules, shown.json["data"]["editable"].asBool()) << c.uses;
    CgiResult r = Post({{"action", "rules_edit"}, {"name", off},
                        {"groups", Json::FastWriter().write(shown.json["data"]["groups"])},
                        {"rules", RulesPlus(shown.json, R"({"path":"/","who":"bob","access":"rw"})")}});
    EXPECT_EQ(c.takesRules ? "" : "handmade", r.json["errinfo"]["key"].asString()) << c.uses;
    const Json::Value after = Get("action=rules_show&name=" + other).json["data"]["effective"];
    EXPECT_EQ(before, after) << c.uses;
    EXPECT_GT(ExpectEnforced(after, people, other, c.uses), 0) << c.uses;
  }
}

// Shared is what a change reaches: a link to the file, or to its
// directory, is the file; a hard link is another name, which the change
// (the file replaced whole) parts from it.  svnserve then lets in, at the
// other repository, exactly what was said.
TEST_F(Shared, AChangeReachesWhatIsSaidToShareIt) {
  struct {
    const char* name;
    const char* make;  // in the sandbox root, linking two/conf's account file to one's
    bool shared;
  } cases[] = {
      {"a symbolic link", "ln -sf ../../%1/conf/passwd %2/conf/passwd", true},
      {"a link to the directory", "rm -rf %2/conf && ln -s ../%1/conf %2/conf", true},
      {"a hard link", "ln -f %1/conf/passwd %2/conf/passwd", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string one = "h" + std::to_string(n), two = "k" + std::to_string(n++);
    Repos({one, two}, "[general]\nanon-access = none\npassword-db = passwd\n");
    sandbox::WriteFile(Passwd(one), "[users]\nalice = a pw\n");
    std::string make = c.make;
    for (size_t at; (at = make.find('%')) != std::string::npos;)
      make.replace(at, 2, make[at + 1] == '1' ? one : two);
    ASSERT_EQ(0, sandbox::Shell("cd '" + sandbox::Root() + "' && " + make)) << c.name;
    ASSERT_TRUE(Svn("ls", "alice", "a pw", "", two)) << c.name;
    const Json::Value shared = Get("action=show&name=" + one).json["data"]["shared"];
    EXPECT_EQ(c.shared, shared.isMember("accounts")) << c.name << ": " << shared;
    CgiResult r = Post({{"action", "edit"}, {"name", one}, {"anon", "none"}, {"shared", "yes"},
                        {"accounts", Accounts({{"bob", "b pw"}})}});
    ASSERT_TRUE(r.json["success"].asBool()) << c.name << ": " << r.body;
    EXPECT_EQ(c.shared, Svn("ls", "bob", "b pw", "", two)) << c.name;
    EXPECT_EQ(!c.shared, Svn("ls", "alice", "a pw", "", two)) << c.name;
  }
}

TEST_F(Shared, AddOverEntriesThatAreNotRepositories) {
  const std::string root = sandbox::Root();
  sandbox::Shell("mkdir '" + root + "/empty' '" + root + "/full' && touch '" + root +
                 "/full/x' '" + root + "/file' && ln -s full '" + root + "/link'");
  const Params add{{"action", "add"}, {"anon", "read"}, {"accounts", "[]"}};
  struct {
    const char* name;
    bool made;
  } cases[] = {{"empty", true}, {"full", false}, {"file", false}, {"link", false}};
  for (const auto& c : cases) {
    Params params = add;
    params.emplace_back("name", c.name);
    const std::string before = Snapshot();
    CgiResult r = Post(params);
    EXPECT_EQ(c.made, r.json["success"].asBool()) << c.name;
    if (c.made) {
      EXPECT_TRUE(Svn("ls", "", "", "", c.name)) << c.name;
      continue;
    }
    EXPECT_EQ("exist", r.json["errinfo"]["key"].asString()) << c.name;
    EXPECT_NE("", r.json["errinfo"]["reason"].asString()) << c.name;
    EXPECT_EQ(before, Snapshot()) << c.name;
  }
}

}  // namespace
