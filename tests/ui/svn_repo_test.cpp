// SVNRepo on real repositories made by svnadmin in a sandbox package
// directory: names and existence, opening, creating, the settings file and
// the accounts, with files checked by Subversion's own reader and log
// lines checked where they are the only sign of a failure.

#include "svn_repo.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "cgi_run.h"
#include "nlibc.h"
#include "sandbox.h"
#include "svn_config_reader.h"

namespace {

using Accounts = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string ConfPath(const std::string& name) {
  return sandbox::RepoDir(name) + "/conf/svnserve.conf";
}
std::string PasswdPath(const std::string& name) {
  return sandbox::RepoDir(name) + "/conf/passwd";
}

// Log lines without their line numbers: "svn_repo:123 text" -> "text".
Lines LogTexts() {
  Lines texts;
  for (const std::string& line : sandbox::Log()) {
    EXPECT_EQ(0u, line.find("svn_repo:")) << line;
    size_t blank = line.find(' ');
    texts.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
  }
  return texts;
}

// What svnserve would read from a repository's two files.
struct Seen {
  std::map<std::string, std::string> general;
  Accounts users;
};

Seen SvnserveSees(const std::string& name) {
  Seen seen;
  SvnConfig conf, passwd;
  std::string error;
  EXPECT_TRUE(SvnReadConfig(ConfPath(name), &conf, &error)) << error;
  EXPECT_TRUE(SvnReadConfig(PasswdPath(name), &passwd, &error)) << error;
  seen.general = conf["general"];
  seen.users = passwd["users"];
  return seen;
}

class SVNRepoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    ASSERT_TRUE(sandbox::CreateRepo("template"));
    templateConf_ = sandbox::ReadFile(ConfPath("template"));
    templatePasswd_ = sandbox::ReadFile(PasswdPath("template"));
    sandbox::ClearLog();
  }

  // The tool's settings file with the three lines the creation activates.
  std::string CreatedConf(const std::string& anon) {
    std::string text = templateConf_;
    for (const char* line : {"# auth-access = write", "# password-db = passwd"})
      text.replace(text.find(line), 2, "");
    text.replace(text.find("# anon-access = read"), 20, "anon-access = " + anon);
    return text;
  }

  std::string templateConf_, templatePasswd_;
};

TEST_F(SVNRepoTest, ExistenceFollowsTheDirectoryAndBothFiles) {
  const std::string root = sandbox::Root();
  ASSERT_TRUE(sandbox::CreateRepo("real"));
  sandbox::WriteFile(root + "/file.txt", "x");
  sandbox::Shell("mkdir -p " + root + "/nopasswd/conf " + root + "/noconf/conf " +
                 root + "/empty " + root + "/sub");
  sandbox::WriteFile(root + "/nopasswd/conf/svnserve.conf", "[general]\n");
  sandbox::WriteFile(root + "/noconf/conf/passwd", "[users]\n");
  symlink((root + "/real").c_str(), (root + "/link").c_str());
  symlink((root + "/file.txt").c_str(), (root + "/filelink").c_str());
  symlink((root + "/gone").c_str(), (root + "/dangling").c_str());

  struct {
    const char* name;
    bool exists;
  } cases[] = {
      {"real", true},      {"link", true},        {"real..", false},
      {"sub/../real", false}, {"./real", false},  {"real/", false},
      {"file.txt", false}, {"nopasswd", false},   {"noconf", false},
      {"empty", false},    {"missing", false},    {"filelink", false},
      {"dangling", false}, {"real/conf", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.exists, SVNRepo::isExist(c.name)) << c.name;
  EXPECT_TRUE(sandbox::Log().empty());  // only the empty name is logged

  EXPECT_FALSE(SVNRepo::isExist(""));
  EXPECT_EQ(Lines{"Argument error."}, LogTexts());
  EXPECT_EQ(root + "/", SVNRepo::getRepoPath(""));
  EXPECT_EQ(root + "/a/../b", SVNRepo::getRepoPath("a/../b"));
}

TEST_F(SVNRepoTest, OpeningRefusesBadNamesWithTheirLogLines) {
  try {
    SVNRepo repo("");
    FAIL() << "opened an empty name";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("dirname == \"\"", e.what());
  }
  EXPECT_EQ(Lines{"Argument error."}, LogTexts());

  ASSERT_TRUE(sandbox::CreateRepo("x"));
  for (const char* name : {"..", "a..b", "sub/../x", "x/..", "sub/x", "/x", "x/"}) {
    sandbox::ClearLog();
    try {
      SVNRepo repo(name);
      FAIL() << "opened " << name;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ("Initialize path failed", e.what()) << name;
    }
    EXPECT_EQ((Lines{"Path have illegal symbol.", "dirname is not legal.",
                     "Init path failed."}),
              LogTexts())
        << name;
  }
  // Single dots and blanks pass the name test; such names then fail only
  // because nothing is there.
  for (const char* name : {"a.b", "with blank", ".", "-rf"}) {
    sandbox::ClearLog();
    EXPECT_THROW(SVNRepo repo(name), std::runtime_error) << name;
    Lines log = LogTexts();
    ASSERT_FALSE(log.empty()) << name;
    EXPECT_EQ(0u, log[0].find("Get anon-access from file")) << name;
  }
}

TEST_F(SVNRepoTest, OpeningReadsWhatTheFilesHold) {
  SVNRepo fresh("template");  // every setting still commented out
  EXPECT_EQ("template", fresh.getName());
  EXPECT_EQ("", fresh.getRealm());
  EXPECT_EQ("", fresh.getAnonymousPermission());
  EXPECT_TRUE(fresh.getAccounts().empty());

  sandbox::WriteFile(ConfPath("template"),
                     "[general]\nanon-access = write\nrealm = Team\n");
  sandbox::WriteFile(PasswdPath("template"),
                     "[users]\nbob = 1\nalice = two words\n");
  SVNRepo repo("template");
  EXPECT_EQ("Team", repo.getRealm());
  EXPECT_EQ("write", repo.getAnonymousPermission());
  EXPECT_EQ((Accounts{{"alice", "two words"}, {"bob", "1"}}), repo.getAccounts());
  EXPECT_TRUE(sandbox::Log().empty());
}

TEST_F(SVNRepoTest, OpeningFailsAtTheFirstUnreadableFile) {
  // A settings file that cannot be read: the realm and accounts are not read.
  ASSERT_TRUE(sandbox::CreateRepo("noconf"));
  sandbox::Shell("rm " + ConfPath("noconf") + " && mkdir " + ConfPath("noconf"));
  try {
    SVNRepo repo("noconf");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ("Get anon-access from file " + ConfPath("noconf") + " failed.",
              e.what());
  }
  EXPECT_EQ(Lines{"Get anon-access from file " + ConfPath("noconf") +
                  " failed.[0x0003]"},
            LogTexts());

  ASSERT_TRUE(sandbox::CreateRepo("nopasswd"));
  sandbox::WriteFile(PasswdPath("nopasswd"), "  indented\n");  // svnserve refuses it
  sandbox::ClearLog();
  EXPECT_THROW(SVNRepo repo("nopasswd"), std::runtime_error);
  EXPECT_EQ((Lines{"Failed to get section users from " + PasswdPath("nopasswd") +
                       "[0x0006]",
                   "Get account from file " + PasswdPath("nopasswd") + " failed."}),
            LogTexts());
}

TEST_F(SVNRepoTest, CreatingWritesExactlyWhatWasAsked) {
  Json::Value accounts = AccountList(
      {{"b", "pb"}, {"a", "pa"}, {"ab", "p ab"}, {"C", "#1 = x"}, {"a", "pa2"}});
  SVNRepo repo("new", "Team Realm", "none", accounts);
  EXPECT_EQ("Team Realm", repo.getRealm());
  EXPECT_EQ("none", repo.getAnonymousPermission());
  EXPECT_EQ((Accounts{{"C", "#1 = x"}, {"a", "pa2"}, {"ab", "p ab"}, {"b", "pb"}}),
            repo.getAccounts());

  std::string conf = CreatedConf("none");
  conf.replace(conf.find("# realm = My First Repository"), 29,
               "realm = Team Realm");
  EXPECT_EQ(conf, sandbox::ReadFile(ConfPath("new")));
  EXPECT_EQ(templatePasswd_ + "C = #1 = x\na = pa2\nab = p ab\nb = pb\n",
            sandbox::ReadFile(PasswdPath("new")));

  Seen seen = SvnserveSees("new");
  EXPECT_EQ((std::map<std::string, std::string>{{"anon-access", "none"},
                                                {"auth-access", "write"},
                                                {"password-db", "passwd"},
                                                {"realm", "Team Realm"}}),
            seen.general);
  EXPECT_EQ(repo.getAccounts(), seen.users);
  EXPECT_TRUE(sandbox::Log().empty());

  SVNRepo opened("new");
  EXPECT_EQ("Team Realm", opened.getRealm());
  EXPECT_EQ("none", opened.getAnonymousPermission());
  EXPECT_EQ(repo.getAccounts(), opened.getAccounts());
}

TEST_F(SVNRepoTest, CreatingWithEmptyRealmOddAccessAndNoAccounts) {
  SVNRepo repo("plain", "", "bogus", Json::Value(Json::arrayValue));
  EXPECT_EQ("", repo.getRealm());
  EXPECT_EQ(CreatedConf("bogus"), sandbox::ReadFile(ConfPath("plain")));
  EXPECT_EQ(templatePasswd_, sandbox::ReadFile(PasswdPath("plain")));
  Seen seen = SvnserveSees("plain");
  EXPECT_EQ(0u, seen.general.count("realm"));
  EXPECT_EQ("bogus", seen.general["anon-access"]);
  EXPECT_TRUE(seen.users.empty());
}

TEST_F(SVNRepoTest, CreatingManyAccounts) {
  std::vector<std::pair<std::string, std::string>> list;
  for (int i = 0; i < 1500; ++i)
    list.emplace_back("user" + std::to_string(i), "pw" + std::to_string(i));
  SVNRepo repo("many", "r", "read", AccountList(list));
  Seen seen = SvnserveSees("many");
  EXPECT_EQ(1500u, seen.users.size());
  EXPECT_EQ("pw1499", seen.users["user1499"]);
  EXPECT_EQ(1500u, SVNRepo("many").getAccounts().size());
}

TEST_F(SVNRepoTest, CreatingRefusesMissingArgumentsBeforeTheTool) {
  for (auto args : std::vector<std::pair<std::string, std::string>>{
           {"", "read"}, {"noanon", ""}}) {
    sandbox::ClearLog();
    try {
      SVNRepo repo(args.first, "r", args.second, Json::Value(Json::arrayValue));
      FAIL();
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ("Argument error", e.what());
    }
    EXPECT_EQ(Lines{"Argument error."}, LogTexts());
  }
  EXPECT_NE(0, access(sandbox::RepoDir("noanon").c_str(), F_OK));
  EXPECT_THROW(SVNRepo("x/../y", "", "read", Json::Value(Json::arrayValue)),
               std::runtime_error);
  EXPECT_NE(0, access(sandbox::RepoDir("y").c_str(), F_OK));
}

TEST_F(SVNRepoTest, CreatingReportsAFailingTool) {
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  struct {
    const char* tool;  // what bin/svnadmin is, or null for nothing
    const char* code;
  } cases[] = {{"/bin/false", "0x000F"}, {nullptr, "0x000E"}};
  for (const auto& c : cases) {
    sandbox::Shell("rm -f '" + tool + "'");
    if (c.tool != nullptr) sandbox::Shell("ln -s " + std::string(c.tool) + " '" + tool + "'");
    sandbox::ClearLog();
    try {
      SVNRepo repo("new", "", "read", Json::Value(Json::arrayValue));
      FAIL();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ("execute command failed", e.what());
    }
    EXPECT_EQ(Lines{"Execute command [" + tool + " create " +
                    sandbox::RepoDir("new") + "] failed.[" + c.code + "]"},
              LogTexts());
    EXPECT_NE(0, access(sandbox::RepoDir("new").c_str(), F_OK));
  }
  sandbox::Shell("ln -sf \"$(command -v svnadmin)\" '" + tool + "'");
  // An existing repository is not made again.
  sandbox::ClearLog();
  EXPECT_THROW(SVNRepo("template", "", "read", Json::Value(Json::arrayValue)),
               std::runtime_error);
  EXPECT_EQ(templateConf_, sandbox::ReadFile(ConfPath("template")));
}

TEST_F(SVNRepoTest, ACreationFailingPartWayKeepsWhatItWrote) {
  // The access level cannot be written: the repository stays, configured
  // up to the realm, and exists for the next request.
  EXPECT_THROW(SVNRepo("half", "Half", "re\nad", Json::Value(Json::arrayValue)),
               std::runtime_error);
  EXPECT_TRUE(SVNRepo::isExist("half"));
  Seen seen = SvnserveSees("half");
  EXPECT_EQ("Half", seen.general["realm"]);
  EXPECT_EQ("read", seen.general["anon-access"]);  // the tool's value
  EXPECT_EQ("write", seen.general["auth-access"]);
  EXPECT_EQ((Lines{"Set key anon-access failed[0x0009]",
                   "Set anonymous permission failed."}),
            LogTexts());
}

TEST_F(SVNRepoTest, SetRealmOnActiveCommentedAndEmptyLines) {
  SVNRepo repo("r", "First", "read", Json::Value(Json::arrayValue));
  std::string withFirst = sandbox::ReadFile(ConfPath("r"));
  ASSERT_EQ(0, repo.setRealm("Second"));
  std::string expected = withFirst;
  expected.replace(expected.find("realm = First"), 13, "realm = Second");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));

  // Emptying comments the line out; emptying again succeeds unchanged.
  ASSERT_EQ(0, repo.setRealm(""));
  EXPECT_EQ("", repo.getRealm());
  expected.replace(expected.find("realm = Second"), 14, "# realm = Second");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  ASSERT_EQ(0, repo.setRealm(""));
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ("", SVNRepo("r").getRealm());

  // A commented line is made active again.
  ASSERT_EQ(0, repo.setRealm("Third"));
  expected.replace(expected.find("# realm = Second"), 16, "realm = Third");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ("Third", SvnserveSees("r").general["realm"]);
  EXPECT_TRUE(sandbox::Log().empty());
}

TEST_F(SVNRepoTest, FailedSettersChangeNeitherFieldNorFile) {
  SVNRepo repo("r", "Kept", "read", Json::Value(Json::arrayValue));
  const std::string before = sandbox::ReadFile(ConfPath("r"));
  struct {
    const char* realm;
    const char* logged;
  } cases[] = {
      {"two\nlines", "Set key realm failed[0x0009]"},
      {"   ", "Set key realm failed[0x000B]"},  // svnserve would read ""
      {"%(anon-access)s", "Set key realm failed[0x000B]"},
  };
  for (const auto& c : cases) {
    sandbox::ClearLog();
    EXPECT_EQ(-1, repo.setRealm(c.realm)) << c.realm;
    EXPECT_EQ("Kept", repo.getRealm());
    EXPECT_EQ(Lines{c.logged}, LogTexts()) << c.realm;
  }
  sandbox::ClearLog();
  EXPECT_EQ(-1, repo.setAnonymousPermission(std::string("no\0ne", 5)));
  EXPECT_EQ("read", repo.getAnonymousPermission());
  EXPECT_EQ(Lines{"Set key anon-access failed[0x0009]"}, LogTexts());
  EXPECT_EQ(before, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ(0, repo.setAnonymousPermission("whatever"));
  EXPECT_EQ("whatever", SvnserveSees("r").general["anon-access"]);
}

TEST_F(SVNRepoTest, SetAccountsReplacesTheWholeList) {
  SVNRepo repo("r", "", "read", AccountList({{"old", "1"}, {"kept", "2"}}));
  Json::Value next = AccountList({{"kept", "new"}, {"z", "3"}});
  next[0]["extra"] = 5;  // other members are ignored
  Json::Value noPassword;
  noPassword["account"] = "nopw";
  next.append(noPassword);
  ASSERT_EQ(0, repo.setAccounts(next));
  Accounts expected{{"kept", "new"}, {"nopw", ""}, {"z", "3"}};
  EXPECT_EQ(expected, repo.getAccounts());
  EXPECT_EQ(expected, SvnserveSees("r").users);

  ASSERT_EQ(0, repo.setAccounts(Json::Value(Json::arrayValue)));
  EXPECT_TRUE(SvnserveSees("r").users.empty());
  EXPECT_EQ(templatePasswd_, sandbox::ReadFile(PasswdPath("r")));
  EXPECT_TRUE(SVNRepo("r").getAccounts().empty());
}

TEST_F(SVNRepoTest, SetAccountsRefusesWhatCannotBeStoredFaithfully) {
  SVNRepo repo("r", "", "read", AccountList({{"alice", "secret-a"}}));
  const std::string before = sandbox::ReadFile(PasswdPath("r"));
  auto parse = [](const char* text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
  };
  struct {
    const char* name;
    Json::Value list;
    bool changesMap;  // shape refusals leave the map alone
  } cases[] = {
      {"object instead of array", parse(R"({"account":"a","password":"p"})"), false},
      {"scalar", parse("42"), false},
      {"element not an object", parse(R"([{"account":"a"}, "b"])"), false},
      {"password a number", parse(R"([{"account":"a","password":7}])"), false},
      {"no account member", parse(R"([{"password":"pw-empty-name"}])"), true},
      {"names equal but for case", parse(R"([{"account":"Bob","password":"pw-1"},)"
                                         R"({"account":"bob","password":"pw-2"}])"),
       true},
      {"line break in password", parse(R"([{"account":"a","password":"pw\nx"}])"), true},
      {"NUL in password", parse(R"([{"account":"a","password":"pw\u0000x"}])"), true},
      {"name with =", parse(R"([{"account":"a=b","password":"pw-eq"}])"), true},
      {"expansion in password", parse(R"([{"account":"a","password":"%(x)s"}])"), true},
      {"long password", AccountList({{"a", std::string(600, 'p')}}), true},
  };
  for (const auto& c : cases) {
    sandbox::ClearLog();
    EXPECT_EQ(-1, repo.setAccounts(c.list)) << c.name;
    EXPECT_EQ(before, sandbox::ReadFile(PasswdPath("r"))) << c.name;
    if (!c.changesMap) {
      EXPECT_EQ((Accounts{{"alice", "secret-a"}}), repo.getAccounts()) << c.name;
    }
    Lines log = LogTexts();
    ASSERT_FALSE(log.empty()) << c.name;
    if (c.changesMap) {
      EXPECT_EQ("Write back account failed.", log.back()) << c.name;
    }
    for (const std::string& line : log)
      EXPECT_EQ(std::string::npos, line.find("pw")) << c.name << ": " << line;
  }
}

}  // namespace
