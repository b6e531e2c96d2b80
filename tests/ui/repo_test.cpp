// The repository store on real repositories made by svnadmin in a sandbox
// package directory: names and existence, opening, creating, the settings
// file and the accounts, with files checked by Subversion's own reader and
// log lines checked where they are the only sign of a failure.

#include "store/repo.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgi_run.h"
#include "nlibc.h"
#include "program.h"
#include "sandbox.h"
#include "store/access.h"
#include "store/create.h"
#include "store/json_text.h"
#include "store/root.h"
#include "store/rules.h"
#include "svn_config_reader.h"

namespace {

using Accounts = std::map<std::string, std::string>;
using program::Lines;

std::string ConfPath(const std::string& name) { return program::Conf(name); }
std::string PasswdPath(const std::string& name) { return program::Passwd(name); }

// The log lines of the store (and of the decoding of account lists),
// without their prefix: "svn_repo:123 text" -> "text".
Lines LogTexts() {
  Lines texts;
  for (const std::string& line : program::LogTexts()) {
    EXPECT_TRUE(line.find("svn_repo: ") == 0 || line.find("ui: ") == 0) << line;
    texts.push_back(line.substr(line.find(' ') + 1));
  }
  return texts;
}

// Opens `name` as the store's callers do, the name checked first, or
// null; a failure is logged.
std::unique_ptr<SVNRepo> Open(const std::string& name,
                              SVNRepo::Scope scope = SVNRepo::kAccounts) {
  std::unique_ptr<SVNRepo> repo;
  SVNName checked;
  SVNStatus status = SVNName::Check(name, &checked);
  if (status.ok()) status = SVNRepo::open(checked, scope, &repo);
  status.Log();
  return repo;
}

// Creates `name`; the failure, if any, is logged.
bool Create(const std::string& name, const std::string& realm, const std::string& anon,
            const Json::Value& list) {
  SVNNewRepo::Form form;
  form.name = name;
  form.realm = realm;
  form.anon = anon;
  std::optional<SVNNewRepo> what;
  SVNStatus status = DecodeAccounts(list, &form.accounts);
  if (status.ok()) status = SVNNewRepo::Check(form, &what);
  if (status.ok()) status = CreateRepo(*what);
  status.Log();
  return status.ok();
}

// Sets the accounts of `repo` to the account list `list`; logged.
int SetAccounts(SVNRepo* repo, const Json::Value& list) {
  SVNAccountList accounts;
  SVNStatus status = DecodeAccounts(list, &accounts);
  if (status.ok()) status = repo->setAccounts(accounts);
  status.Log();
  return status.ok() ? 0 : -1;
}

// A setter's or save's outcome, logged: 0 or -1.
int Done(SVNStatus status) {
  status.Log();
  return status.ok() ? 0 : -1;
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

TEST_F(SVNRepoTest, ExistenceFollowsTheDirectoryAndItsSettings) {
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
      {"file.txt", false}, {"nopasswd", true},    {"noconf", false},
      {"empty", false},    {"missing", false},    {"filelink", false},
      {"dangling", false}, {"real/conf", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.exists, RepoExists(c.name)) << c.name;
  EXPECT_TRUE(sandbox::Log().empty());  // only the empty name is logged

  EXPECT_FALSE(RepoExists(""));
  EXPECT_EQ(Lines{"Argument error."}, LogTexts());
  EXPECT_EQ(root + "/", RepoPath(""));
  EXPECT_EQ(root + "/a/../b", RepoPath("a/../b"));
}

TEST_F(SVNRepoTest, OpeningRefusesBadNamesWithTheirLogLines) {
  EXPECT_EQ(nullptr, Open("")) << "opened an empty name";
  EXPECT_EQ(Lines{"Argument error."}, LogTexts());

  ASSERT_TRUE(sandbox::CreateRepo("x"));
  for (const char* name : {"..", "a..b", "sub/../x", "x/..", "sub/x", "/x", "x/",
                           ".", "a\nb", "tab\there", "\x7f", "..work"}) {
    sandbox::ClearLog();
    EXPECT_EQ(nullptr, Open(name)) << "opened " << name;
    EXPECT_EQ((Lines{"Path have illegal symbol.", "dirname is not legal."}), LogTexts())
        << name;
  }
  // Single dots and blanks pass the name test; such names then fail only
  // because nothing is there.
  for (const char* name : {"a.b", "with blank", ".hidden", "-rf", "%(x)s"}) {
    sandbox::ClearLog();
    EXPECT_EQ(nullptr, Open(name)) << name;
    Lines log = LogTexts();
    ASSERT_FALSE(log.empty()) << name;
    EXPECT_EQ(0u, log[0].find("Get anon-access from file")) << name;
  }
}

TEST_F(SVNRepoTest, OpeningReadsWhatTheFilesHold) {
  auto fresh = Open("template");  // every setting still commented out
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ("template", fresh->getName());
  EXPECT_EQ("", fresh->getRealm());
  EXPECT_EQ("", fresh->getAnonymousPermission());
  EXPECT_TRUE(fresh->getAccounts().empty());

  sandbox::WriteFile(ConfPath("template"),
                     "[general]\nanon-access = write\nrealm = Team\n"
                     "password-db = passwd\n");
  sandbox::WriteFile(PasswdPath("template"),
                     "[users]\nbob = 1\nalice = two words\n");
  auto repo = Open("template");
  ASSERT_NE(nullptr, repo);
  EXPECT_EQ("Team", repo->getRealm());
  EXPECT_EQ("write", repo->getAnonymousPermission());
  EXPECT_EQ((Accounts{{"alice", "two words"}, {"bob", "1"}}), repo->getAccounts());
  EXPECT_TRUE(sandbox::Log().empty());
}

TEST_F(SVNRepoTest, OpeningFailsAtTheFirstUnreadableFile) {
  // A settings file that cannot be read: the realm and accounts are not read.
  ASSERT_TRUE(sandbox::CreateRepo("noconf"));
  sandbox::Shell("rm " + ConfPath("noconf") + " && mkdir " + ConfPath("noconf"));
  EXPECT_EQ(nullptr, Open("noconf"));
  EXPECT_EQ(Lines{"Get anon-access from file " + ConfPath("noconf") +
                  " failed.[0x0003]"},
            LogTexts());

  ASSERT_TRUE(sandbox::CreateRepo("nopasswd"));
  // An account file svnserve refuses, or cannot read: the repository
  // opens all the same, with no account and the reason; the accounts are
  // left to the hand.
  sandbox::WriteFile(ConfPath("nopasswd"), "[general]\npassword-db = passwd\n");
  for (const char* how : {"echo '  indented' >", "mkfifo"}) {
    sandbox::Shell("rm -f '" + PasswdPath("nopasswd") + "' && " + how + " '" +
                   PasswdPath("nopasswd") + "'");
    sandbox::ClearLog();
    auto repo = Open("nopasswd");
    ASSERT_NE(nullptr, repo) << how;
    EXPECT_TRUE(repo->getAccounts().empty()) << how;
    EXPECT_NE("", repo->accountsReason()) << how;
    EXPECT_EQ(0u, LogTexts().at(0).find("Failed to get section users from " +
                                        PasswdPath("nopasswd") + "[0x000"))
        << how;
    EXPECT_EQ(0, SetAccounts(repo.get(), AccountList({})));
    EXPECT_EQ(-1, SetAccounts(repo.get(), AccountList({{"a", "pw"}})));
  }
}

TEST_F(SVNRepoTest, CreatingWritesExactlyWhatWasAsked) {
  Json::Value accounts = AccountList(
      {{"b", "pb"}, {"a", "pa"}, {"ab", "p ab"}, {"C", "#1 = x"}, {"a", "pa2"}});
  ASSERT_TRUE(Create("new", "Team Realm", "none", accounts));
  const Accounts created{{"C", "#1 = x"}, {"a", "pa2"}, {"ab", "p ab"}, {"b", "pb"}};

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
  EXPECT_EQ(created, seen.users);
  EXPECT_TRUE(sandbox::Log().empty());

  auto opened = Open("new");
  ASSERT_NE(nullptr, opened);
  EXPECT_EQ("Team Realm", opened->getRealm());
  EXPECT_EQ("none", opened->getAnonymousPermission());
  EXPECT_EQ(created, opened->getAccounts());
}

TEST_F(SVNRepoTest, CreatingWithEmptyRealmOddAccessAndNoAccounts) {
  ASSERT_TRUE(Create("plain", "", "bogus", Json::Value(Json::arrayValue)));
  EXPECT_EQ("", Open("plain")->getRealm());
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
  ASSERT_TRUE(Create("many", "r", "read", AccountList(list)));
  Seen seen = SvnserveSees("many");
  EXPECT_EQ(1500u, seen.users.size());
  EXPECT_EQ("pw1499", seen.users["user1499"]);
  EXPECT_EQ(1500u, Open("many")->getAccounts().size());
}

TEST_F(SVNRepoTest, CreatingRefusesMissingArgumentsBeforeTheTool) {
  for (auto args : std::vector<std::pair<std::string, std::string>>{
           {"", "read"}, {"noanon", ""}}) {
    sandbox::ClearLog();
    EXPECT_FALSE(Create(args.first, "r", args.second, Json::Value(Json::arrayValue)));
    EXPECT_EQ(Lines{"Argument error."}, LogTexts());
  }
  EXPECT_NE(0, access(sandbox::RepoDir("noanon").c_str(), F_OK));
  EXPECT_FALSE(Create("x/../y", "", "read", Json::Value(Json::arrayValue)));
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
    EXPECT_FALSE(Create("new", "", "read", Json::Value(Json::arrayValue)));
    Lines log = LogTexts();
    ASSERT_EQ(1u, log.size());
    const std::string prefix = "Execute command [" + tool + " create " +
                               sandbox::WorkDir() + "/add-";
    EXPECT_EQ(0u, log[0].find(prefix)) << log[0];
    EXPECT_NE(std::string::npos,
              log[0].find("/new] failed.[" + std::string(c.code) + "]")) << log[0];
    EXPECT_EQ(sandbox::Entries(sandbox::Root()), Lines{"template"});
    EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
  }
  sandbox::Shell("ln -sf \"$(command -v svnadmin)\" '" + tool + "'");
  // An existing repository is neither made again nor replaced.
  sandbox::ClearLog();
  EXPECT_FALSE(Create("template", "", "read", Json::Value(Json::arrayValue)));
  EXPECT_EQ(templateConf_, sandbox::ReadFile(ConfPath("template")));
  EXPECT_EQ("Repository template is exist", LogTexts().back());
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
}

TEST_F(SVNRepoTest, ARefusedOrFailedCreationLeavesNothing) {
  sandbox::CountToolRuns();
  Json::Value none(Json::arrayValue);
  Json::Value nameless;
  nameless[0]["password"] = "pw";
  struct {
    const char* name;
    std::string realm, anon;
    Json::Value accounts;
    Lines log;
  } refused[] = {
      {"line break in the access word", "R", "re\nad", none,
       {"Set key anon-access failed[0x0009]", "Set anonymous permission failed."}},
      {"expansion in the realm", "%(anon-access)s", "read", none,
       {"Set key realm failed[0x000B]", "Set realm failed."}},
      {"no password", "R", "read", AccountList({{"bob", ""}}),
       {"Account 1 has no password.", "Set accounts failed"}},
      {"no name", "R", "read", nameless,
       {"Account 1 cannot be stored.[0x000A]", "Set accounts failed"}},
      {"names differing in case", "R", "read",
       AccountList({{"bob", "pw-1"}, {"Bob", "pw-2"}}),
       {"Accounts cannot be stored.[0x000C]", "Set accounts failed"}},
      {"not a list", "R", "read", Json::Value("x"),
       {"Accounts are not a list of account objects."}},
  };
  for (const auto& c : refused) {
    sandbox::ClearLog();
    EXPECT_FALSE(Create("new", c.realm, c.anon, c.accounts)) << c.name;
    EXPECT_EQ(c.log, LogTexts()) << c.name;
  }
  EXPECT_EQ(0, sandbox::ToolRuns());  // all refused before the tool ran

  // A template without the lines to activate: the tool ran, nothing
  // appears, and the working directory is emptied.
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  sandbox::WriteFile(tool, "#!/bin/sh\nsvnadmin \"$@\" && "
                           "sed -i '/auth-access/d' \"$2/conf/svnserve.conf\"\n");
  sandbox::ClearLog();
  EXPECT_FALSE(Create("new", "R", "read", none));
  EXPECT_EQ("uncomment line failed", std::string(LogTexts().back()).substr(0, 21));
  EXPECT_EQ(sandbox::Entries(sandbox::Root()), Lines{"template"});
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
}

TEST_F(SVNRepoTest, SetRealmOnActiveCommentedAndEmptyLines) {
  ASSERT_TRUE(Create("r", "First", "read", Json::Value(Json::arrayValue)));
  auto opened = Open("r", SVNRepo::kUpdate);
  ASSERT_NE(nullptr, opened);
  SVNRepo& repo = *opened;
  std::string withFirst = sandbox::ReadFile(ConfPath("r"));
  ASSERT_EQ(0, Done(repo.setRealm("Second")));
  EXPECT_EQ(withFirst, sandbox::ReadFile(ConfPath("r")));  // not yet saved
  ASSERT_EQ(0, Done(repo.save()));
  std::string expected = withFirst;
  expected.replace(expected.find("realm = First"), 13, "realm = Second");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));

  // Emptying comments the line out; emptying again succeeds unchanged.
  ASSERT_EQ(0, Done(repo.setRealm("")));
  EXPECT_EQ("", repo.getRealm());
  ASSERT_EQ(0, Done(repo.save()));
  expected.replace(expected.find("realm = Second"), 14, "# realm = Second");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  ASSERT_EQ(0, Done(repo.setRealm("")));
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ("", Open("r")->getRealm());

  // A commented line is made active again.
  ASSERT_EQ(0, Done(repo.setRealm("Third")));
  ASSERT_EQ(0, Done(repo.save()));
  expected.replace(expected.find("# realm = Second"), 16, "realm = Third");
  EXPECT_EQ(expected, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ("Third", SvnserveSees("r").general["realm"]);
  EXPECT_TRUE(sandbox::Log().empty());
}

TEST_F(SVNRepoTest, FailedSettersChangeNeitherFieldNorFile) {
  ASSERT_TRUE(Create("r", "Kept", "read", Json::Value(Json::arrayValue)));
  auto opened = Open("r", SVNRepo::kUpdate);
  ASSERT_NE(nullptr, opened);
  SVNRepo& repo = *opened;
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
    EXPECT_EQ(-1, Done(repo.setRealm(c.realm))) << c.realm;
    EXPECT_EQ("Kept", repo.getRealm());
    EXPECT_EQ(Lines{c.logged}, LogTexts()) << c.realm;
  }
  sandbox::ClearLog();
  EXPECT_EQ(-1, Done(repo.setAnonymousPermission(std::string("no\0ne", 5))));
  EXPECT_EQ("read", repo.getAnonymousPermission());
  EXPECT_EQ(Lines{"Set key anon-access failed[0x0009]"}, LogTexts());
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_EQ(before, sandbox::ReadFile(ConfPath("r")));
  EXPECT_EQ(0, Done(repo.setAnonymousPermission("whatever")));
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_EQ("whatever", SvnserveSees("r").general["anon-access"]);
}

TEST_F(SVNRepoTest, SetAccountsReplacesTheWholeList) {
  ASSERT_TRUE(Create("r", "", "read", AccountList({{"old", "1"}, {"kept", "2"}})));
  struct stat st;
  ASSERT_EQ(0, stat(PasswdPath("r").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);  // passwords are no one else's
  auto opened = Open("r", SVNRepo::kUpdate);
  ASSERT_NE(nullptr, opened);
  SVNRepo& repo = *opened;
  Json::Value next = AccountList({{"kept", "new"}, {"z", "3"}, {"nopw", "x"}});
  next[0]["extra"] = 5;  // other members are ignored
  ASSERT_EQ(0, SetAccounts(&repo, next));
  ASSERT_EQ(0, Done(repo.save()));
  Accounts expected{{"kept", "new"}, {"nopw", "x"}, {"z", "3"}};
  EXPECT_EQ(expected, repo.getAccounts());
  EXPECT_EQ(expected, SvnserveSees("r").users);

  ASSERT_EQ(0, SetAccounts(&repo, Json::Value(Json::arrayValue)));
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_TRUE(SvnserveSees("r").users.empty());
  EXPECT_EQ(templatePasswd_, sandbox::ReadFile(PasswdPath("r")));
  EXPECT_TRUE(Open("r")->getAccounts().empty());
}

TEST_F(SVNRepoTest, SetAccountsRefusesWhatCannotBeStoredFaithfully) {
  ASSERT_TRUE(Create("r", "", "read", AccountList({{"alice", "secret-a"}})));
  auto opened = Open("r", SVNRepo::kUpdate);
  ASSERT_NE(nullptr, opened);
  SVNRepo& repo = *opened;
  const std::string before = sandbox::ReadFile(PasswdPath("r"));
  auto parse = [](const char* text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
  };
  struct {
    const char* name;
    Json::Value list;
  } cases[] = {
      {"object instead of array", parse(R"({"account":"a","password":"p"})")},
      {"scalar", parse("42")},
      {"element not an object", parse(R"([{"account":"a"}, "b"])")},
      {"password a number", parse(R"([{"account":"a","password":7}])")},
      {"no account member", parse(R"([{"password":"pw-empty-name"}])")},
      {"no password member", parse(R"([{"account":"a"}])")},
      {"empty password", parse(R"([{"account":"a","password":""}])")},
      {"names equal but for case", parse(R"([{"account":"Bob","password":"pw-1"},)"
                                         R"({"account":"bob","password":"pw-2"}])")},
      {"line break in password", parse(R"([{"account":"a","password":"pw\nx"}])")},
      {"NUL in password", parse(R"([{"account":"a","password":"pw\u0000x"}])")},
      {"name with =", parse(R"([{"account":"a=b","password":"pw-eq"}])")},
      {"password that would expand", parse(R"([{"account":"a","password":"pw%(a)s"}])")},
      {"password not UTF-8", AccountList({{"a", "pw\x8a"}})},
      {"name not UTF-8", AccountList({{"b\xe9", "pw-latin1"}})},
  };
  for (const auto& c : cases) {
    sandbox::ClearLog();
    EXPECT_EQ(-1, SetAccounts(&repo, c.list)) << c.name;
    EXPECT_EQ((Accounts{{"alice", "secret-a"}}), repo.getAccounts()) << c.name;
    Lines log = LogTexts();
    ASSERT_FALSE(log.empty()) << c.name;
    for (const std::string& line : log)
      EXPECT_EQ(std::string::npos, line.find("pw")) << c.name << ": " << line;
  }
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_EQ(before, sandbox::ReadFile(PasswdPath("r")));
  // A long password is no reason to refuse.
  ASSERT_EQ(0, SetAccounts(&repo, AccountList({{"a", std::string(600, 'p')}})));
  ASSERT_EQ(0, Done(repo.save()));
  EXPECT_EQ(std::string(600, 'p'), SvnserveSees("r").users["a"]);
}

TEST_F(SVNRepoTest, AccessTablesHaveABound) {
  ASSERT_TRUE(Create("r", "", "read", AccountList({{"alice", "1"}})));
  auto repo = Open("r", SVNRepo::kAccounts);
  ASSERT_NE(nullptr, repo);
  std::unique_ptr<SVNRules> rules;
  ASSERT_EQ(0, Done(SVNRules::Open(*repo, &rules)));
  SVNAccessTable access;
  ASSERT_EQ(0, Done(EffectiveAccess(*repo, *rules, {"/", "/a"}, &access)));
  EXPECT_EQ((std::map<std::string, std::vector<char>>{{"$anonymous", {1, 1}}, {"alice", {2, 2}}}),
            access);
  // Two entries a path: one path more than the bound allows.
  std::vector<std::string> paths(SVNRules::kMaxAccessCells / 2 + 1, "/");
  access.clear();
  EXPECT_EQ(-1, Done(EffectiveAccess(*repo, *rules, paths, &access)));
  EXPECT_TRUE(access.empty());
}

}  // namespace
