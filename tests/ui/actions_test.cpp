// The administration actions, driven through the built program as the web
// server drives it, against a sandbox repository root.

#include <dirent.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "cgi_run.h"
#include "program.h"
#include "sandbox.h"
#include "store/locks.h"
#include "svn_config_reader.h"

namespace {

// A rules_show answer that lists the rules but not what each login may
// do: its table would be over a bound.
bool TableWithheld(const CgiResult& r) {
  return r.json["success"].asBool() && r.json["data"]["rules"].size() > 0 &&
         r.json["data"]["effective"].empty();
}

using namespace program;

const char kProgram[] = SVN_CGI;
const char kBareType[] = "text/html; charset=\"UTF-8\"";

Json::Value ParseJson(const std::string& text) {
  Json::Value v;
  Json::Reader().parse(text, v);
  return v;
}

// A directory with the two conf files: all the listing needs.
void SyntheticRepo(const std::string& name, const std::string& realm = "") {
  sandbox::Shell("mkdir -p '" + sandbox::RepoDir(name) + "/conf'");
  sandbox::WriteFile(Conf(name), "[general]\nrealm = " + realm + "\n");
  sandbox::WriteFile(Passwd(name), "[users]\n");
}

// The repository root's entries in the order the OS lists them.
std::vector<std::string> DirectoryOrder() {
  std::vector<std::string> names;
  DIR* dir = opendir(sandbox::Root().c_str());
  while (struct dirent* e = readdir(dir))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  closedir(dir);
  return names;
}

class Actions : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  }
};

// ---- Listing ----

TEST_F(Actions, ListingCountsMatchesAndOpensOnlyThePage) {
  SyntheticRepo("alpha", "A");
  SyntheticRepo("gamma", "G");
  SyntheticRepo("delta", "D");
  sandbox::WriteFile(sandbox::Root() + "/notes.txt", "x");
  sandbox::Shell("mkdir '" + sandbox::RepoDir("beta") + "'");
  // gamma's settings cannot be read (svnserve would refuse them too).
  sandbox::WriteFile(Conf("gamma"), "  broken\n");
  std::vector<std::string> matches;
  for (const std::string& n : DirectoryOrder())
    if (n == "alpha" || n == "gamma" || n == "delta") matches.push_back(n);

  for (int start = 0; start <= 3; ++start) {
    sandbox::ClearLog();
    CgiResult r = Get("action=load&start=" + std::to_string(start) + "&limit=2");
    EXPECT_EQ(kBareType, r.contentType);
    Json::Value expected(Json::arrayValue);
    bool gammaOnPage = false;
    for (int i = start; i < start + 2 && i < 3; ++i) {
      if (matches[i] == "gamma") {
        gammaOnPage = true;
        continue;
      }
      Json::Value s;
      s["name"] = matches[i];
      s["realm"] = matches[i] == "alpha" ? "A" : "D";
      expected.append(s);
    }
    EXPECT_EQ(expected, WithoutFacts(r.json)["data"]) << "start " << start;
    EXPECT_EQ(3, r.json["total"].asInt());
    EXPECT_EQ(2u, r.json.getMemberNames().size());
    Lines log = LogTexts();
    EXPECT_EQ(gammaOnPage,
              !log.empty() &&
                  log.back() == "ui: SVN Repo [gamma] construct failed, assume it "
                                "is not generate by nimbra.")
        << "start " << start;
  }
}

TEST_F(Actions, ListingPagesAndClamps) {
  for (int i = 0; i < 60; ++i) SyntheticRepo("r" + std::to_string(i));
  CgiResult all = Get("action=load");  // default page: 50
  ASSERT_EQ(50u, all.json["data"].size());
  EXPECT_EQ(60, all.json["total"].asInt());

  std::vector<std::string> seen;
  for (int start = 0; start < 60; start += 7) {
    CgiResult page = Get("action=find&start=" + std::to_string(start) + "&limit=7");
    for (const Json::Value& s : page.json["data"]) seen.push_back(s["name"].asString());
  }
  EXPECT_EQ(60u, std::set<std::string>(seen.begin(), seen.end()).size());

  struct {
    const char* query;
    unsigned size;
  } cases[] = {
      {"start=0&limit=0", 0},
      {"start=60&limit=5", 0},
      {"start=99999999999&limit=5", 0},
      {"start=007&limit=99999999999", 53},
      {"start=55&limit=000010", 5},
  };
  for (const auto& c : cases) {
    CgiResult r = Get(std::string("action=enum&") + c.query);
    EXPECT_EQ(c.size, r.json["data"].size()) << c.query;
    EXPECT_EQ(60, r.json["total"].asInt()) << c.query;
  }
}

TEST_F(Actions, ListingInNameOrder) {
  const std::vector<std::string> sorted = {"B", "a10", "a2", "b", "b-1", "\xc3\xa9t\xc3\xa9"};
  for (const char* name : {"b", "\xc3\xa9t\xc3\xa9", "a2", "B", "a10", "b-1"}) SyntheticRepo(name);
  std::vector<std::string> seen;
  for (int start = 0; start < 6; start += 2) {
    CgiResult r = Get("action=load&sort=name&limit=2&start=" + std::to_string(start));
    EXPECT_EQ(6, r.json["total"].asInt());
    for (const Json::Value& s : r.json["data"]) seen.push_back(s["name"].asString());
  }
  EXPECT_EQ(sorted, seen);
  CgiResult found = Get("action=find&query=b&sort=name&start=1&limit=1");
  EXPECT_EQ("b-1", found.json["data"][0]["name"].asString());
  EXPECT_EQ(2, found.json["total"].asInt());
  EXPECT_EQ(6, Get("action=load&sort=").json["total"].asInt());  // directory order
  for (const char* sort : {"Name", "size", "name%20"})
    EXPECT_EQ(R"({"success":false})", Get(std::string("action=load&sort=") + sort).body)
        << sort;
}

TEST_F(Actions, ListingReadsTheRevisionFromTheRepositorysFiles) {
  struct {
    const char* name;
    const char* make;  // in the repository's db/
    Json::Value rev;
  } cases[] = {
      {"current", "printf '42\\n' > current", 42},
      {"old format", "printf '7 2b 1\\n' > current", 7},
      {"no file", "true", Json::Value()},
      {"not a number", "printf 'x\\n' > current", Json::Value()},
      {"no line end", "printf '42' > current", 42},
      {"a carriage return", "printf '42\\r\\n' > current", 42},
      {"ten digits", "printf '1234567890\\n' > current", 1234567890},
      {"eleven digits", "printf '12345678901\\n' > current", Json::Value()},
      {"the last revision there can be", "printf '2147483647\\n' > current", 2147483647},
      {"past it", "printf '2147483648\\n' > current", Json::Value()},
      {"a FIFO", "mkfifo current", Json::Value()},
      {"a directory", "mkdir current", Json::Value()},
  };
  for (const auto& c : cases) {
    sandbox::Reset();
    SyntheticRepo("r");
    sandbox::Shell("mkdir '" + sandbox::RepoDir("r") + "/db' && cd '" + sandbox::RepoDir("r") +
                   "/db' && " + c.make);
    CgiResult r = Get("action=load");
    ASSERT_EQ(1u, r.json["data"].size()) << c.name;
    EXPECT_EQ(c.rev, r.json["data"][0]["rev"]) << c.name;
  }
}

TEST_F(Actions, ListingRefusesPagingThatIsNotDigits) {
  for (const char* query : {"start=-1", "start=%2B1", "start=1.5", "start=+1",
                            "start=", "limit=", "limit=1%20", "limit=0x10",
                            "start=%EF%BC%91", "start=-0"}) {
    sandbox::ClearLog();
    CgiResult r = Get(std::string("action=load&") + query);
    EXPECT_EQ(R"({"success":false})", r.body) << query;
    EXPECT_EQ(Lines{"ui: Invalid argument"}, LogTexts()) << query;
  }
}

TEST_F(Actions, SearchIsACaseSensitiveSubstring) {
  for (const char* name : {"abc", "xabcx", "abc1", "ABC", "a-bc"})
    SyntheticRepo(name);
  std::set<std::string> found;
  CgiResult r = Get("action=find&query=abc");
  for (const Json::Value& s : r.json["data"]) found.insert(s["name"].asString());
  EXPECT_EQ((std::set<std::string>{"abc", "xabcx", "abc1"}), found);
  EXPECT_EQ(3, r.json["total"].asInt());
  EXPECT_EQ(5, Get("action=find&query=").json["total"].asInt());
}

TEST_F(Actions, ListingOddEntries) {
  SyntheticRepo("real", "R");
  SyntheticRepo("a..b");  // no name can reach it: neither counted nor listed
  SyntheticRepo("ctl\x01");
  // Names that are not UTF-8 can be neither sent nor shown as they are
  // (not as U+FFFD, which a real name may hold).
  SyntheticRepo("zz\xff");
  SyntheticRepo("zz\xed\xa0\x80");  // a surrogate
  SyntheticRepo("zz\xef\xbf\xbd", "R");  // U+FFFD
  symlink(sandbox::RepoDir("real").c_str(), sandbox::RepoDir("link").c_str());
  symlink("/nonexistent", sandbox::RepoDir("dangling").c_str());
  CgiResult r = Get("action=load");
  EXPECT_EQ(3, r.json["total"].asInt());
  std::set<std::string> names;
  for (const Json::Value& s : r.json["data"]) {
    names.insert(s["name"].asString());
    EXPECT_EQ("R", s["realm"].asString());
  }
  EXPECT_EQ((std::set<std::string>{"real", "link", "zz\xef\xbf\xbd"}), names);
  EXPECT_EQ(1, Get("action=find&query=zz").json["total"].asInt());

  sandbox::Shell("rm -rf '" + sandbox::Root() + "'");
  r = Get("action=load");
  EXPECT_EQ(ParseJson(R"({"data":[],"total":0})"), r.json);
}

// ---- Show and account view ----

TEST_F(Actions, ShowAndAccountView) {
  ASSERT_TRUE(sandbox::CreateRepo("fresh"));  // nothing set in its files
  CgiResult r = Get("action=show&name=fresh");
  EXPECT_EQ(ParseJson(R"({"success":true,"data":{"name":"fresh","realm":"","anon":""}})"),
            WithoutFacts(r.json));
  r = Get("action=acc_show&name=fresh");
  EXPECT_EQ(kBareType, r.contentType);
  EXPECT_EQ(ParseJson(R"({"account":[]})"), WithoutFacts(r.json));

  // No password-db is active: svnserve lets no account in, and none is
  // shown, until one is.
  sandbox::WriteFile(Passwd("fresh"), "[users]\nbob = b\nalice = a\nZed = z\n");
  EXPECT_EQ(ParseJson(R"({"account":[]})"), WithoutFacts(Get("action=acc_show&name=fresh").json));
  sandbox::WriteFile(Conf("fresh"), "[general]\npassword-db = passwd\n");
  r = Get("action=acc_show&name=fresh");
  EXPECT_EQ(ParseJson(R"({"account":[{"account":"Zed","password":"z"},)"
                      R"({"account":"alice","password":"a"},)"
                      R"({"account":"bob","password":"b"}]})"),
            WithoutFacts(r.json));
}

TEST_F(Actions, ShowAndAccountViewFailures) {
  SyntheticRepo("broken");
  sandbox::WriteFile(Conf("broken"), "  broken\n");
  SyntheticRepo("a..b");
  SyntheticRepo("latin1");  // accounts could be shown, never sent back
  sandbox::WriteFile(Conf("latin1"), "[general]\npassword-db = passwd\n");
  sandbox::WriteFile(Passwd("latin1"), "[users]\ncaf\xe9 = pw\n");
  struct {
    const char* name;
    const char* show;
    const char* accShow;
  } cases[] = {
      {"missing",
       R"({"success":true,"data":null,"errinfo":{"sec":"error","key":"nonexist"}})",
       R"({"success":false,"errinfo":{"sec":"error","key":"nonexist"}})"},
      {"broken", R"({"success":true,"data":null})", R"({"success":false})"},
      {"a..b",
       R"({"success":true,"data":null,"errinfo":{"sec":"error","key":"nonexist"}})",
       R"({"success":false,"errinfo":{"sec":"error","key":"nonexist"}})"},
      {"latin1", R"({"success":true,"data":{"anon":"","name":"latin1","realm":""}})",
       R"({"account":[]})"},
      {"", R"({"success":false})", R"({"success":false})"},
  };
  for (const auto& c : cases) {
    for (const char* action : {"show", "acc_show"}) {
      CgiResult r = Post({{"action", action}, {"name", c.name}});
      Json::Value expected =
          ParseJson(std::string(action) == "show" ? c.show : c.accShow);
      if (r.json.isMember("errinfo")) {
        EXPECT_TRUE(r.json["errinfo"]["line"].isInt());
        r.json["errinfo"].removeMember("line");
      }
      if ((r.json.isMember("data") && r.json["data"].isObject()) || r.json.isMember("account"))
        r.json = WithoutFacts(r.json);
      EXPECT_EQ(expected, r.json) << action << " " << c.name;
    }
  }
  sandbox::ClearLog();
  Post({{"action", "show"}, {"name", ""}});
  Post({{"action", "acc_show"}, {"name", ""}});
  EXPECT_EQ((Lines{"ui: Invalid argument", "ui: Arguments Error"}), LogTexts());
}

// ---- Creation ----

TEST_F(Actions, AddCreatesWhatWasAsked) {
  CgiResult r = Post({{"action", "add"}, {"name", "proj"}, {"realm", "Proj Realm"},
                      {"anon", "none"},
                      {"accounts", Accounts({{"bob", "b pw"}, {"alice", "a:pw"}})}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  SvnConfig conf, passwd;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(Conf("proj"), &conf, &error)) << error;
  ASSERT_TRUE(SvnReadConfig(Passwd("proj"), &passwd, &error)) << error;
  EXPECT_EQ((std::map<std::string, std::string>{{"anon-access", "none"},
                                                {"auth-access", "write"},
                                                {"password-db", "passwd"},
                                                {"realm", "Proj Realm"}}),
            conf["general"]);
  EXPECT_EQ((std::map<std::string, std::string>{{"alice", "a:pw"}, {"bob", "b pw"}}),
            passwd["users"]);
  EXPECT_TRUE(sandbox::Log().empty());

  // The same name again: "exist", and the accounts text is not looked at.
  const std::string before = sandbox::ReadFile(Passwd("proj"));
  r = Post({{"action", "add"}, {"name", "proj"}, {"anon", "read"},
            {"accounts", "not json"}});
  EXPECT_FALSE(r.json["success"].asBool());
  EXPECT_EQ("exist", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(before, sandbox::ReadFile(Passwd("proj")));
  EXPECT_EQ(Lines{"ui: Repository proj is exist"}, LogTexts());
}

TEST_F(Actions, AddEdgeCases) {
  struct {
    const char* name;
    Params params;
    bool created;
    Lines log;
  } cases[] = {
      {"empty accounts", {{"name", "n1"}, {"anon", "read"}, {"accounts", ""}}, false,
       {"ui: Account is empty", "ui: Parse accounts failed"}},
      {"unclosed array",
       {{"name", "n2"}, {"anon", "read"},
        {"accounts", R"([{"account":"a","password":"hunter2")"}},
       false, {}},
      {"empty name", {{"name", ""}, {"anon", "read"}, {"accounts", "[]"}}, false,
       {"svn_repo: Argument error.", "svn_repo: Argument error.",
        "ui: SVN Repo construct failed."}},
      {"empty anon", {{"name", "n3"}, {"anon", ""}, {"accounts", "[]"}}, false,
       {"svn_repo: Argument error.", "ui: SVN Repo construct failed."}},
      {"no accounts", {{"name", "n4"}, {"anon", "read"}, {"accounts", "[]"}}, true, {}},
      {"odd access word", {{"name", "n5"}, {"anon", "READ"}, {"accounts", "[]"}},
       false, {"ui: Unknown permission."}},
      {"comments in the list",
       {{"name", "n6"}, {"anon", "write"},
        {"accounts", "// list\n[{\"account\":\"a\",\"password\":\"p\"}]"}},
       true, {}},
  };
  for (const auto& c : cases) {
    sandbox::ClearLog();
    Params params = c.params;
    params.insert(params.begin(), {"action", "add"});
    CgiResult r = Post(params);
    EXPECT_EQ(c.created ? R"({"data":null,"success":true})" : R"({"success":false})",
              r.body)
        << c.name;
    const std::string& name = c.params[0].second;
    if (!name.empty()) {
      EXPECT_EQ(c.created, access(sandbox::RepoDir(name).c_str(), F_OK) == 0) << c.name;
    }
    Lines log = LogTexts();
    if (!c.log.empty()) {
      EXPECT_EQ(c.log, log) << c.name;
    }
    for (const std::string& line : log)
      EXPECT_EQ(std::string::npos, line.find("hunter2")) << c.name;
  }
  // The unparsable text is logged without its content.
  sandbox::ClearLog();
  Post({{"action", "add"}, {"name", "n7"}, {"anon", "read"},
        {"accounts", R"([{"account":"a","password":"hunter2")"}});
  Lines log = LogTexts();
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ("ui: Failed to parse account info from accounts string [36 bytes, "
            "line 1, column 37]", log[0]);
  EXPECT_EQ("ui: Parse accounts failed", log[1]);

  // An empty realm leaves the tool's realm line alone.
  SvnConfig conf;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(Conf("n4"), &conf, &error));
  EXPECT_EQ(0u, conf["general"].count("realm"));
}

// A new repository gives others nothing, whatever umask the web server
// gives the program: directories 0750, files at most 0640 (svnadmin's hook
// templates keep their execute bits), and the service user's group reads
// everything, as svnserve may run in it.
TEST_F(Actions, NewRepositoriesAreTheServiceUsersAndItsGroups) {
  for (mode_t mask : {022, 000}) {
    const std::string name = "umask" + std::to_string(mask);
    const mode_t was = umask(mask);
    CgiResult r = Post({{"action", "add"}, {"name", name}, {"anon", "read"}, {"layout", "standard"},
                        {"accounts", Accounts({{"alice", "a pw"}})}});
    umask(was);
    ASSERT_EQ(R"({"data":null,"success":true})", r.body) << name;
    std::istringstream entries(
        sandbox::Output("find '" + sandbox::RepoDir(name) + "' -printf '%m %y %p\\n'"));
    int n = 0;
    for (std::string line; std::getline(entries, line); ++n) {
      const unsigned mode = std::stoul(line, nullptr, 8) & 0777;
      if (line.find(" d ") != std::string::npos) {
        EXPECT_EQ(0750u, mode) << line;
      } else {
        EXPECT_EQ(0u, mode & 027) << line;
        EXPECT_EQ(040u, mode & 040) << line;
      }
    }
    EXPECT_LT(30, n) << name;
  }
}

// ---- Editing ----

TEST_F(Actions, EditChecksItsParametersInOrder) {
  ASSERT_TRUE(sandbox::CreateRepo("repo"));
  const std::string conf = sandbox::ReadFile(Conf("repo"));
  const std::string passwd = sandbox::ReadFile(Passwd("repo"));
  struct {
    const char* name;
    Params params;
    const char* key;  // error key, or "" for the generic error
    Lines log;
  } cases[] = {
      {"no name", {{"anon", "read"}, {"accounts", "[]"}}, "", {"ui: Arguments Error"}},
      {"no anon", {{"name", "repo"}, {"accounts", "[]"}}, "", {"ui: Arguments Error"}},
      {"case of the word", {{"name", "repo"}, {"anon", "Read"}, {"accounts", "[]"}},
       "", {"ui: Unknown permission."}},
      {"missing, bad word", {{"name", "nope"}, {"anon", "all"}, {"accounts", "[]"}},
       "", {"ui: Unknown permission."}},
      {"empty accounts", {{"name", "repo"}, {"anon", "read"}, {"accounts", ""}}, "",
       {"ui: Account is empty", "ui: Parse accounts failed"}},
      {"missing", {{"name", "nope"}, {"anon", "read"}, {"accounts", "[]"}},
       "nonexist", {"ui: Repository nope is not exist"}},
      {"accounts not a list", {{"name", "repo"}, {"anon", "read"}, {"accounts", "{}"}},
       "", {}},
  };
  for (const auto& c : cases) {
    sandbox::ClearLog();
    Params params = c.params;
    params.insert(params.begin(), {"action", "edit"});
    params.emplace_back("realm", "Changed");
    CgiResult r = Post(params);
    EXPECT_FALSE(r.json["success"].asBool()) << c.name;
    EXPECT_EQ(c.key, r.json["errinfo"]["key"].asString()) << c.name;
    if (!c.log.empty()) {
      EXPECT_EQ(c.log, LogTexts()) << c.name;
    }
  }
  // Not one of them changed a byte.
  EXPECT_EQ(passwd, sandbox::ReadFile(Passwd("repo")));
  EXPECT_EQ(conf, sandbox::ReadFile(Conf("repo")));
}

TEST_F(Actions, EditReplacesRealmAccessAndAccounts) {
  Post({{"action", "add"}, {"name", "e"}, {"realm", "Old"}, {"anon", "read"},
        {"accounts", Accounts({{"old", "1"}})}});
  auto edit = [](const char* realm, const char* anon, const std::string& accounts) {
    return Post({{"action", "edit"}, {"name", "e"}, {"realm", realm},
                 {"anon", anon}, {"accounts", accounts}});
  };
  CgiResult r = edit("New", "write", Accounts({{"x", "1"}, {"y", "2"}}));
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_EQ(ParseJson(R"({"success":true,"data":{"name":"e","realm":"New","anon":"write"}})"),
            WithoutFacts(Get("action=show&name=e").json));
  CgiResult accounts = Get("action=acc_show&name=e");
  accounts.json = WithoutFacts(accounts.json);
  EXPECT_EQ(ParseJson(R"({"account":[{"account":"x","password":"1"},{"account":"y","password":"2"}]})"),
            accounts.json);

  // What acc_show returns can be sent back unchanged.
  const std::string before = sandbox::ReadFile(Passwd("e"));
  const std::string list = Json::FastWriter().write(accounts.json["account"]);
  EXPECT_EQ(R"({"data":null,"success":true})", edit("New", "write", list).body);
  EXPECT_EQ(before, sandbox::ReadFile(Passwd("e")));

  // An empty realm comments the line out; an empty list removes everyone.
  EXPECT_EQ(R"({"data":null,"success":true})", edit("", "none", "[]").body);
  SvnConfig conf, passwd;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(Conf("e"), &conf, &error));
  ASSERT_TRUE(SvnReadConfig(Passwd("e"), &passwd, &error));
  EXPECT_EQ(0u, conf["general"].count("realm"));
  EXPECT_EQ("none", conf["general"]["anon-access"]);
  EXPECT_TRUE(passwd["users"].empty());
  EXPECT_EQ(R"({"data":null,"success":true})", edit("", "none", "[]").body);
  EXPECT_TRUE(sandbox::Log().empty());
}

// ---- Removal ----

TEST_F(Actions, RemoveDeletesOnlyTheRepository) {
  ASSERT_TRUE(sandbox::CreateRepo("gone"));
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "remove"}, {"name", "gone"}}).body);
  EXPECT_NE(0, access(sandbox::RepoDir("gone").c_str(), F_OK));
  CgiResult r = Post({{"action", "remove"}, {"name", "gone"}});
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "add"}, {"name", "gone"}, {"anon", "read"},
                  {"accounts", "[]"}}).body);

  // A link is removed, not what it points to.
  ASSERT_EQ(0, sandbox::Shell("svnadmin create '" + sandbox::Dir() + "/elsewhere'"));
  symlink((sandbox::Dir() + "/elsewhere").c_str(), sandbox::RepoDir("link").c_str());
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "remove"}, {"name", "link"}}).body);
  EXPECT_EQ(0, access((sandbox::Dir() + "/elsewhere/conf/passwd").c_str(), F_OK));

  sandbox::ClearLog();
  r = Post({{"action", "remove"}, {"name", ""}});
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_EQ((Lines{"svn_repo: Argument error.", "ui: Repository  is not exist"}),
            LogTexts());

  // A name with ".." names no repository, even where a directory of that
  // name exists: it is never removed.
  SyntheticRepo("a..b");
  sandbox::ClearLog();
  r = Post({{"action", "remove"}, {"name", "a..b"}});
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(0, access(sandbox::RepoDir("a..b").c_str(), F_OK));
  EXPECT_EQ(Lines{"ui: Repository a..b is not exist"}, LogTexts());
}

TEST_F(Actions, SaslKeepsTheAccountsElsewhere) {
  ASSERT_TRUE(sandbox::CreateRepo("sasl"));
  sandbox::WriteFile(Conf("sasl"), "[general]\npassword-db = passwd\n"
                                   "[sasl]\nuse-sasl = Yes\n");
  sandbox::WriteFile(Passwd("sasl"), "[users]\nold = old pw\n");
  Json::Value shown = Get("action=acc_show&name=sasl").json;
  EXPECT_NE("", shown["reason"].asString());
  shown.removeMember("reason");
  EXPECT_EQ(ParseJson(R"({"account":[],"editable":false,"sasl":true,"shared":[]})"), shown);
  EXPECT_TRUE(Get("action=show&name=sasl").json["data"]["sasl"].asBool());
  const std::string before = Snapshot();
  CgiResult r = Post({{"action", "edit"}, {"name", "sasl"}, {"anon", "none"},
                      {"accounts", Accounts({{"carol", "pw"}})}});
  EXPECT_EQ("handmade", r.json["errinfo"]["key"].asString());
  EXPECT_NE("", r.json["errinfo"]["reason"].asString());
  EXPECT_EQ(before, Snapshot());
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "edit"}, {"name", "sasl"}, {"anon", "none"},
                  {"accounts", "[]"}}).body);
  EXPECT_EQ("[users]\nold = old pw\n", sandbox::ReadFile(Passwd("sasl")));
}

// ---- All or nothing ----

TEST_F(Actions, RefusedRequestsChangeNothing) {
  ASSERT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "add"}, {"name", "kept"}, {"realm", "Kept"},
                  {"anon", "read"}, {"accounts", Accounts({{"keep", "Secret-0"}})}})
                .body);
  sandbox::CountToolRuns();
  const std::string before = Snapshot();
  const std::string list = Accounts({{"bob", "Secret-1"}});
  auto add = [&](const char* name, const char* realm, const char* anon,
                 const std::string& accounts) {
    return Params{{"action", "add"}, {"name", name}, {"realm", realm},
                  {"anon", anon}, {"accounts", accounts}};
  };
  auto edit = [&](const char* realm, const char* anon, const std::string& accounts) {
    return Params{{"action", "edit"}, {"name", "kept"}, {"realm", realm},
                  {"anon", anon}, {"accounts", accounts}};
  };
  struct {
    const char* name;
    Params params;
  } cases[] = {
      {"the root itself", add(".", "R", "none", list)},
      {"its parent", add("..", "R", "none", list)},
      {"below an entry", add("kept/sub", "R", "none", list)},
      {"a control character", add("a\x01" "b", "R", "none", list)},
      {"a line break", add("a\nb", "R", "none", list)},
      {"DEL", add("a\x7f", "R", "none", list)},
      {"the working directory", add("..work", "R", "none", list)},
      {"realm with a line break", add("new", "a\n[users]\nevil = x", "none", list)},
      {"realm with an expansion", add("new", "%(anon-access)s", "none", list)},
      {"access word svnserve does not know", add("new", "R", "bogus", list)},
      {"no access word", add("new", "R", "", list)},
      {"accounts an object", add("new", "R", "none", "{}")},
      {"text after the list", add("new", "R", "none", "[]garbage")},
      {"a list never closed", add("new", "R", "none", "[{\"account\":\"a\"")},
      {"a member given twice",
       add("new", "R", "none", R"([{"account":"a","account":"b","password":"Secret-2"}])")},
      {"a line break in a name", add("new", "R", "none", Accounts({{"bo\nb", "Secret-3"}}))},
      {"an empty password", add("new", "R", "none", Accounts({{"bob", ""}}))},
      {"no password", add("new", "R", "none", R"([{"account":"bob"}])")},
      {"a name the rules reserve", add("new", "R", "none", Accounts({{"$anonymous", "S-7"}}))},
      {"names differing in case",
       add("new", "R", "none", Accounts({{"bob", "Secret-4"}, {"Bob", "Secret-5"}}))},
      {"a password that is a number",
       add("new", "R", "none", R"([{"account":"bob","password":12345678901e99999}])")},
      {"edit: accounts an object", edit("Changed", "write", "{}")},
      {"edit: a password that would expand",
       edit("Changed", "write", Accounts({{"bob", "Secret-6%(bob)s"}}))},
      {"edit: an empty password", edit("Changed", "write", Accounts({{"bob", ""}}))},
      {"edit: realm with a line break", edit("a\nb", "write", list)},
      {"edit: access word in capitals", edit("Changed", "READ", list)},
      {"remove: the root itself", {{"action", "remove"}, {"name", "."}}},
  };
  std::vector<std::pair<const char*, Params>> layouts;
  for (const char* word : {"Standard", "flat", "standard "}) {
    layouts.push_back({word, add("new", "R", "none", list)});
    layouts.back().second.push_back({"layout", word});
  }
  for (const auto& c : layouts) {
    CgiResult r = Post(c.second);
    EXPECT_FALSE(r.json["success"].asBool()) << "layout " << c.first << ": " << r.body;
    EXPECT_EQ(before, Snapshot()) << "layout " << c.first;
  }
  for (const auto& c : cases) {
    CgiResult r = Post(c.params);
    EXPECT_FALSE(r.json["success"].asBool()) << c.name << ": " << r.body;
    EXPECT_EQ(before, Snapshot()) << c.name;
  }
  // Changes by GET are refused before anything is read.
  for (const char* action : {"add", "edit", "remove"}) {
    CgiResult r = Get(std::string("action=") + action +
                      "&name=kept&anon=none&realm=R&accounts=%5B%5D");
    EXPECT_EQ("405 Method Not Allowed", r.status) << action;
    EXPECT_NE(std::string::npos, r.head.find("Allow: POST\r\n")) << action;
    EXPECT_EQ(R"({"success":false})", r.body) << action;
  }
  EXPECT_EQ(before, Snapshot());
  EXPECT_EQ(0, sandbox::ToolRuns());
  // No password, nor anything the parser quotes, reaches the log.
  std::string log = sandbox::ReadFile(sandbox::LogFile());
  for (const char* secret : {"Secret-", "12345678901e99999", "garbage"})
    EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
}

TEST_F(Actions, RemovalLeavesTheRootAtOnceAndLeftoversGo) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "stuck"}, {"anon", "read"},
                    {"accounts", "[]"}}).json["success"].asBool());
  // A mount point inside the repository: it cannot be deleted.
  const std::string mnt = sandbox::RepoDir("stuck") + "/db/mnt";
  sandbox::Shell("mkdir '" + mnt + "'");
  if (sandbox::Shell("mount -t tmpfs tmpfs '" + mnt + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  sandbox::ClearLog();
  CgiResult r = Post({{"action", "remove"}, {"name", "stuck"}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_TRUE(sandbox::Entries(sandbox::Root()).empty());
  EXPECT_EQ(0, Get("action=load").json["total"].asInt());
  Lines work = sandbox::Entries(sandbox::WorkDir());
  ASSERT_EQ(1u, work.size());
  EXPECT_EQ(0u, work[0].find("del-"));
  Lines log = LogTexts();
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(0u, log[0].find("svn_repo: Executed command [/bin/rm -rf "));
  EXPECT_EQ(0u, log[1].find("svn_repo: Remains of stuck are kept in "));
  // Nothing serves what is being deleted: it is no repository any more.
  EXPECT_NE(0, access((sandbox::WorkDir() + "/" + work[0] + "/stuck/format").c_str(), F_OK));
  // The name is free at once.
  EXPECT_TRUE(Post({{"action", "add"}, {"name", "stuck"}, {"anon", "read"},
                    {"accounts", "[]"}}).json["success"].asBool());

  // Remains that can be deleted, and an add killed half-way, go with the
  // next change once they are a minute old.
  const std::string item = sandbox::WorkDir() + "/" + work[0];
  sandbox::Shell("umount '" + item + "/stuck/db/mnt'");
  sandbox::Shell("mkdir -p '" + sandbox::WorkDir() + "/add-Kil1ed/half/conf'");
  sandbox::Shell("touch -d '-2 min' '" + item + "' '" + sandbox::WorkDir() + "/add-Kil1ed'");
  EXPECT_TRUE(Post({{"action", "remove"}, {"name", "stuck"}}).json["success"].asBool());
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
  EXPECT_TRUE(sandbox::Entries(sandbox::Root()).empty());
}

TEST_F(Actions, RemovalWaitsForAnEditUnderWay) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "busy"}, {"anon", "read"},
                    {"accounts", "[]"}}).json["success"].asBool());
  ASSERT_TRUE(Post({{"action", "edit"}, {"name", "busy"}, {"anon", "read"},
                    {"accounts", "[]"}}).json["success"].asBool());
  // An edit holds the locks of the files it updates from reading to writing.
  HeldLocks edit;
  ASSERT_LT(0u, edit.size());
  // A job waits for them too: a removal moves the repository under them.
  EXPECT_EQ("busy",
            Post({{"action", "backup"}, {"name", "busy"}}).json["errinfo"]["key"].asString());
  std::thread remove([] { Post({{"action", "remove"}, {"name", "busy"}}); });
  usleep(300 * 1000);
  EXPECT_EQ(Lines{"busy"}, sandbox::Entries(sandbox::Root()));  // still waiting
  edit.release();
  remove.join();
  EXPECT_TRUE(sandbox::Entries(sandbox::Root()).empty());
}

// Another process that holds a lock of `dir` for at most 30 seconds, as
// another local user when the test runs as root.
class ForeignLock {
 public:
  explicit ForeignLock(const std::string& dir) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                            setuid(65534) != 0))
        _exit(1);
      int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1) _exit(1);
      alarm(30);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char c;
    held_ = pid_ > 0 && read(ready[0], &c, 1) == 1;
    close(ready[0]);
  }
  ~ForeignLock() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
  }
  bool held() const { return held_; }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

// Only requests hold updates up.  One that holds the locks of the files
// a repository's update writes makes the others wait a few seconds, and
// then answer "busy" having changed nothing, then or later.  A lock of a
// repository's conf/, which any local user who can read it can take,
// holds nothing up.
TEST_F(Actions, OnlyRequestsHoldUpdatesUp) {
  const std::string alice = Accounts({{"alice", "a pw"}});
  auto change = [&](int i, const std::string& name) {
    const Params changes[] = {
        {{"action", "edit"}, {"name", name}, {"anon", "none"}, {"accounts", alice}},
        {{"action", "rules_edit"}, {"name", name}, {"groups", "{}"},
         {"rules", R"([{"path": "/", "who": "alice", "access": "r"}])"}},
        {{"action", "remove"}, {"name", name}}};
    return changes[i];
  };
  using Clock = std::chrono::steady_clock;
  // The wait, and the program's start and work (under valgrind too).
  const auto bound = std::chrono::milliseconds(SVNLocks::kWaitMs) + std::chrono::seconds(10);

  for (int i = 0; i < 3; ++i) {
    const std::string name = "held" + std::to_string(i);
    ASSERT_TRUE(Post({{"action", "add"}, {"name", name}, {"anon", "read"},
                      {"accounts", alice}}).json["success"].asBool());
    ASSERT_TRUE(Post(change(1, name)).json["success"].asBool()) << name;  // its locks made
  }
  const std::string before = Snapshot();
  CgiResult answers[3];
  Clock::duration took[3];
  {
    HeldLocks other;
    ASSERT_LT(0u, other.size());
    std::thread requests[3];
    for (int i = 0; i < 3; ++i)
      requests[i] = std::thread([&, i] {
        const auto start = Clock::now();
        answers[i] = Post(change(i, "held" + std::to_string(i)));
        took[i] = Clock::now() - start;
      });
    for (std::thread& t : requests) t.join();
  }
  usleep(500 * 1000);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ("busy", answers[i].json["errinfo"]["key"].asString()) << answers[i].body;
    EXPECT_LT(took[i], bound) << change(i, "")[0].second;
  }
  EXPECT_EQ(before, Snapshot());

  for (int i = 0; i < 3; ++i) {
    // Made before new repositories gave others nothing: anyone reads it.
    const std::string name = "open" + std::to_string(i);
    ASSERT_TRUE(sandbox::CreateRepo(name));
    ASSERT_TRUE(Post({{"action", "edit"}, {"name", name}, {"anon", "read"},
                      {"accounts", alice}}).json["success"].asBool());
    ForeignLock other(sandbox::RepoDir(name) + "/conf");
    ASSERT_TRUE(other.held()) << name;
    const auto start = Clock::now();
    CgiResult r = Post(change(i, name));
    EXPECT_LT(Clock::now() - start, bound) << change(i, "")[0].second;
    EXPECT_EQ(R"({"data":null,"success":true})", r.body) << change(i, "")[0].second;
  }
}

// ---- Access rules ----

TEST_F(Actions, RulesThatCannotBeKeptChangeNothing) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "ruled"}, {"anon", "read"},
                    {"accounts", Accounts({{"alice", "pw"}})}}).json["success"].asBool());
  const std::string fine = R"([{"path": "/trunk", "who": "alice", "access": "rw"}])";
  auto rule = [](const std::string& path, const std::string& who, const std::string& access) {
    return R"([{"path": ")" + path + R"(", "who": ")" + who + R"(", "access": ")" +
           access + R"("}])";
  };
  struct {
    const char* name;
    std::string groups, rules;
  } cases[] = {
      {"a relative path", "{}", rule("trunk", "alice", "r")},
      {"a trailing slash", "{}", rule("/trunk/", "alice", "r")},
      {"an empty segment", "{}", rule("//trunk", "alice", "r")},
      {"a dot", "{}", rule("/a/./b", "alice", "r")},
      {"a dot dot", "{}", rule("/a/../b", "alice", "r")},
      {"a bracket", "{}", rule("/a]b", "alice", "r")},
      {"a line break", "{}", rule("/a\nb", "alice", "r")},
      {"write alone", "{}", rule("/a", "alice", "w")},
      {"another word", "{}", rule("/a", "alice", "read")},
      {"an inverted who", "{}", rule("/a", "~alice", "r")},
      {"an alias", "{}", rule("/a", "&boss", "r")},
      {"an empty who", "{}", rule("/a", "", "r")},
      {"an undefined group", "{}", rule("/a", "@devs", "r")},
      {"a group name with @", R"({"@devs": ["alice"]})", fine},
      {"a member with a comma", R"({"devs": ["a,b"]})", fine},
      {"a member that is an alias", R"({"devs": ["&boss"]})", fine},
      {"a member group undefined", R"({"devs": ["@ops"]})", fine},
      {"a group in itself", R"({"devs": ["@devs"]})", fine},
      {"a group in itself through another", R"({"devs": ["@ops"], "ops": ["@devs"]})", fine},
      {"a rule twice", "{}", R"([{"path": "/a", "who": "alice", "access": "r"},)"
                             R"( {"path": "/a", "who": "alice", "access": "rw"}])"},
      {"rules not a list", "{}", R"({"path": "/a"})"},
      {"groups not an object", "[]", fine},
      {"a member not a string", R"({"devs": [1]})", fine},
      {"a rule without access", "{}", R"([{"path": "/a", "who": "alice"}])"},
      {"a path not UTF-8", "{}", rule("/a\\udc80", "alice", "r")},
      {"a group name not UTF-8", R"({"d\udc80": ["alice"]})", fine},
  };
  const std::string before = Snapshot();
  for (const auto& c : cases) {
    CgiResult r = Post({{"action", "rules_edit"}, {"name", "ruled"}, {"groups", c.groups},
                        {"rules", c.rules}});
    EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    EXPECT_EQ(before, Snapshot()) << c.name;
  }
  // Groups that Subversion would expand for hours (each group holds the
  // next two: 1.6 times the work per level), and a cycle of 60,000
  // groups, which a recursive check would crash on (sent as the raw form
  // it is, to fit the body's limit).
  auto id = [](int i) {
    std::string t;
    for (; i > 0 || t.empty(); i /= 36) t.insert(t.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[i % 36]);
    return t;
  };
  std::string ladder = "{", cycle = "{";
  for (int i = 0; i < 40; ++i)
    ladder += "\"g" + id(i) + "\":[\"@g" + id(i + 1) + "\",\"@g" + id(i + 2) + "\"],";
  ladder += "\"g" + id(40) + "\":[\"alice\"],\"g" + id(41) + "\":[\"alice\"]}";
  for (int i = 0; i < 60000; ++i)
    cycle += (i ? ",\"" : "\"") + id(i) + "\":[\"@" + id((i + 1) % 60000) + "\"]";
  cycle += "}";
  // The same work without a single account: every reference is a visit.
  std::string bare = "{\"g0\":[]", chain = "{\"g0\":[]";
  for (int i = 1; i < 30; ++i)
    bare += ",\"g" + id(i) + "\":[\"@g" + id(i - 1) + "\",\"@g" + id(i - 1) + "\"]";
  for (int i = 1; i < 20000; ++i) chain += ",\"g" + id(i) + "\":[\"@g" + id(i - 1) + "\"]";
  bare += "}";
  chain += "}";
  struct {
    const char* name;
    std::string groups;
    const char* why;
  } big[] = {{"a ladder of groups", ladder,
              "svn_repo: Groups nest too deeply: Subversion would expand them slowly."},
             {"a long cycle", cycle, "svn_repo: A group contains itself."},
             {"a ladder of empty groups", bare,
              "svn_repo: Groups nest too deeply: Subversion would expand them slowly."},
             {"a long chain", chain,
              "svn_repo: Groups nest too deeply: Subversion would expand them slowly."}};
  for (const auto& c : big) {
    sandbox::ClearLog();
    CgiResult r = PostForm("action=rules_edit&name=ruled&rules=[]&groups=" + c.groups);
    EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    EXPECT_EQ(before, Snapshot()) << c.name;
    Lines log = LogTexts();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), c.why)) << c.name;
  }
  CgiResult r = Post({{"action", "rules_edit"}, {"name", "nope"}, {"groups", "{}"},
                      {"rules", fine}});
  EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString());
  EXPECT_EQ("405 Method Not Allowed",
            Get("action=rules_edit&name=ruled&groups=%7B%7D&rules=%5B%5D").status);

  // What the page does not manage stays; what it cannot show is not
  // rewritten.
  const std::string authz = sandbox::RepoDir("ruled") + "/conf/authz";
  sandbox::WriteFile(authz, "# kept\n[other:/x]\nalice = r\n[groups]\n[/old]\nalice = r\n");
  r = Post({{"action", "rules_edit"}, {"name", "ruled"}, {"groups", R"({"devs": ["alice"]})"},
            {"rules", rule("/trunk", "@devs", "rw")}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_EQ("# kept\n[other:/x]\nalice = r\n[groups]\ndevs = alice\n\n[/trunk]\n@devs = rw\n",
            sandbox::ReadFile(authz));
  sandbox::WriteFile(authz, "[aliases]\nboss = alice\n[/]\n&boss = rw\n");
  const std::string aliased = Snapshot();
  EXPECT_TRUE(Get("action=rules_show&name=ruled").json["success"].asBool());
  r = Post({{"action", "rules_edit"}, {"name", "ruled"}, {"groups", "{}"}, {"rules", fine}});
  EXPECT_EQ("handmade", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(aliased, Snapshot());
}

// What the program writes it can always show again: a change of accounts
// or rules that would take the table of what each login may do over a
// bound is refused, changing nothing.  A table over a bound by other means
// (accounts added by hand) is not shown, and every change that does not
// make it larger is taken, rules_edit without rules first.
TEST_F(Actions, RulesAndAccountsStayShowable) {
  auto accounts = [](int n) {
    Params list;
    for (int i = 0; i < n; ++i) list.push_back({"u" + std::to_string(i), "pw"});
    return Accounts(list);
  };
  auto rules = [](int n) {
    std::string list;
    for (int i = 0; i < n; ++i)
      list += std::string(i ? "," : "[") + R"({"path": "/p)" + std::to_string(i) +
              R"(", "who": "u)" + std::to_string(i) + R"(", "access": "rw"})";
    return list + "]";
  };
  // 601 paths (the root too) for 1,001 logins (an anonymous user too):
  // within 1,000,000 entries.
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "big"}, {"anon", "read"},
                    {"accounts", accounts(1000)}}).json["success"].asBool());
  ASSERT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "rules_edit"}, {"name", "big"}, {"groups", "{}"},
                  {"rules", rules(600)}}).body);
  const std::string within = Snapshot();
  const Params over[] = {
      {{"action", "edit"}, {"name", "big"}, {"anon", "read"}, {"accounts", accounts(2000)}},
      {{"action", "rules_edit"}, {"name", "big"}, {"groups", "{}"}, {"rules", rules(1000)}},
  };
  for (const Params& request : over) {
    EXPECT_EQ(R"({"success":false})", Post(request).body) << request[0].second;
    EXPECT_EQ(within, Snapshot()) << request[0].second;
  }

  std::string byHand;
  for (int i = 0; i < 1000; ++i) byHand += "hand" + std::to_string(i) + " = pw\n";
  sandbox::WriteFile(Passwd("big"), sandbox::ReadFile(Passwd("big")) + byHand);
  EXPECT_TRUE(TableWithheld(Get("action=rules_show&name=big")));
  EXPECT_EQ(R"({"data":null,"success":true})",  // fewer than 2,000, still over
            Post({{"action", "edit"}, {"name", "big"}, {"anon", "read"},
                  {"accounts", accounts(1900)}}).body);
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "rules_edit"}, {"name", "big"}, {"groups", "{}"},
                  {"rules", "[]"}}).body);
  EXPECT_TRUE(Get("action=rules_show&name=big").json["success"].asBool());
}

// Without force-username-case (rules made by hand), each spelling of a
// name that the rules use is a login of its own to Subversion's engine,
// which also works out, as it reads the rules, what each name they use may
// do: 16,000 spellings of one account over 20,000 paths would take it
// minutes.  Both count toward the bounds: such a table is refused at once,
// and an account that would make one cannot be added.
TEST_F(Actions, EverySpellingCountsTowardTheBounds) {
  const std::string account = "abcdefghijklmn";
  struct {
    const char* name;
    size_t spellings, paths;
    bool shown;  // without the account
  } cases[] = {
      {"600 KB: 16,000 spellings over 20,000 paths", 16000, 20000, false},
      {"2,000 spellings over 600 paths", 2000, 600, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string repo = "spelled" + std::to_string(n++);
    ASSERT_TRUE(Post({{"action", "add"}, {"name", repo}, {"anon", "read"},
                      {"accounts", Accounts({{"alice", "pw"}})}}).json["success"].asBool());
    std::vector<std::string> spellings;
    for (unsigned bits = 1; spellings.size() < c.spellings; ++bits) {
      std::string s = account;
      for (size_t i = 0; i < s.size(); ++i)
        if (bits >> i & 1) s[i] = static_cast<char>(s[i] - 'a' + 'A');
      spellings.push_back(s);
    }
    std::string authz = "[/]\n* = r\n";
    for (size_t p = 0; p < c.paths; ++p)
      authz += "[/p" + std::to_string(p) + "]\n" + spellings[p % spellings.size()] + " = rw\n";
    for (size_t i = c.paths; i < spellings.size(); ++i)
      authz += spellings[i] + " = r\n";  // the rest, in the last section
    sandbox::WriteFile(sandbox::RepoDir(repo) + "/conf/authz", authz);
    std::string conf = sandbox::ReadFile(Conf(repo));
    conf.insert(conf.find("[general]\n") + 10, "authz-db = authz\n");
    sandbox::WriteFile(Conf(repo), conf);
    EXPECT_EQ(c.shown, !TableWithheld(Get("action=rules_show&name=" + repo))) << c.name;
    const std::string before = Snapshot();
    CgiResult r = Post({{"action", "edit"}, {"name", repo}, {"anon", "read"},
                        {"accounts", Accounts({{"alice", "pw"}, {account, "pw"}})}});
    EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    EXPECT_EQ(before, Snapshot()) << c.name;

    sandbox::WriteFile(Passwd(repo), sandbox::ReadFile(Passwd(repo)) + account + " = pw\n");
    sandbox::ClearLog();
    r = Get("action=rules_show&name=" + repo);
    EXPECT_TRUE(TableWithheld(r)) << c.name;
    Lines log = LogTexts();
    ASSERT_FALSE(log.empty()) << c.name;
    EXPECT_EQ(0u, log[0].find("svn_repo: Access of " + repo + " is too large to show (")) << log[0];
  }
}

TEST_F(Actions, HandMadeRuleSettingsAreLeftToTheHand) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "hand"}, {"accounts", Accounts({{"alice", "pw"}})},
                    {"anon", "read"}}).json["success"].asBool());
  const std::string conf = sandbox::ReadFile(Conf("hand"));
  const std::string authz = sandbox::RepoDir("hand") + "/conf/authz";
  const std::string rules = R"([{"path": "/", "who": "alice", "access": "rw"}])";
  struct {
    const char* name;
    std::string settings, authz;
    bool editable;  // rules_show answers all the same, with the reason if not
    std::string groups = "[groups]\n";  // conf/groups
  } cases[] = {
      {"a separate groups file", "groups-db = groups\nauthz-db = authz\n",
       "[/]\nalice = rw\n", false},
      {"rules not in UTF-8", "authz-db = authz\n", "[/caf\xe9]\nalice = rw\n", false},
      {"authz-db naming no file", "authz-db = missing\n", "", false},
      {"authz-db empty", "authz-db =\n", "", false},
      {"authz-db in a repository", "authz-db = file:///srv/authz\n", "", false},
      {"rules svnserve refuses", "authz-db = authz\n", "[/]\n@nobody = rw\n", false},
      {"a file outside conf/ no other repository uses", "authz-db = ../shared-authz\n", "",
       true},
      {"rules naming this repository", "authz-db = authz\n", "[/]\n* = r\n[hand:/x]\n* =\n", true},
      {"the same, not yet in force", "", "[hand:/x]\n* =\n", true},
      {"a glob rule", "authz-db = authz\n", "[/]\n* = r\n[:glob:/t/**]\nalice = rw\n", false},
      {"a name no folded login matches", "authz-db = authz\nforce-username-case = lower\n",
       "[/]\nAlice = rw\n", false},
      {"an empty name", "authz-db = authz\n", "[/]\n= rw\n", false},
      {"a groups file nesting too deeply", "groups-db = groups\nauthz-db = authz\n",
       "[/]\n@g0 = rw\n", false, [] {
         std::string g = "[groups]\ng30 = alice\n";
         for (int i = 29; i >= 0; --i)
           g += "g" + std::to_string(i) + " = @g" + std::to_string(i + 1) + ", @g" +
                std::to_string(i + 1) + "\n";
         return g;
       }()},
  };
  for (const auto& c : cases) {
    std::string settings = conf;
    settings.insert(settings.find("[general]\n") + 10, c.settings);
    sandbox::WriteFile(Conf("hand"), settings);
    sandbox::WriteFile(sandbox::RepoDir("hand") + "/conf/groups", c.groups);
    sandbox::WriteFile(authz, c.authz);
    sandbox::WriteFile(sandbox::RepoDir("hand") + "/shared-authz", c.authz);
    CgiResult shown = Get("action=rules_show&name=hand");
    EXPECT_TRUE(shown.json["success"].asBool()) << c.name;
    EXPECT_EQ(c.editable, shown.json["data"]["editable"].asBool()) << c.name;
    EXPECT_EQ(c.editable, shown.json["data"]["reason"].asString().empty()) << c.name;
    const std::string before = Snapshot();
    CgiResult r = Post({{"action", "rules_edit"}, {"name", "hand"}, {"groups", "{}"},
                        {"rules", rules}});
    EXPECT_EQ(c.editable, r.json["success"].asBool()) << c.name;
    if (!c.editable) {
      EXPECT_EQ("handmade", r.json["errinfo"]["key"].asString()) << c.name;
      EXPECT_EQ(shown.json["data"]["reason"], r.json["errinfo"]["reason"]) << c.name;
      EXPECT_EQ(before, Snapshot()) << c.name;
    }
  }
  // A conf/ that leads to one another repository uses too: its settings
  // and rules are shared, and change only with consent.
  sandbox::WriteFile(Conf("hand"), conf);
  sandbox::WriteFile(authz, "");
  sandbox::Shell("cd '" + sandbox::Root() + "' && mv hand/conf ../shared-conf && "
                 "ln -s ../../shared-conf hand/conf && svnadmin create other && "
                 "rm -r other/conf && ln -s ../../shared-conf other/conf");
  const std::string before = Snapshot();
  CgiResult r = Post({{"action", "rules_edit"}, {"name", "hand"}, {"groups", "{}"},
                      {"rules", rules}});
  EXPECT_EQ("shared", r.json["errinfo"]["key"].asString());
  EXPECT_EQ(ParseJson(R"(["other"])"), r.json["errinfo"]["repositories"]);
  EXPECT_EQ(before, Snapshot());
}

// ---- Hostile names ----

TEST_F(Actions, NoRequestReachesOutsideTheRoot) {
  // A repository beside the root, and a link inside the root to its parent.
  const std::string outside = sandbox::Dir() + "/outside";
  ASSERT_EQ(0, sandbox::Shell("svnadmin create '" + outside + "'"));
  symlink(sandbox::Dir().c_str(), sandbox::RepoDir("up").c_str());
  const std::string conf = sandbox::ReadFile(outside + "/conf/svnserve.conf");
  const std::string passwd = sandbox::ReadFile(outside + "/conf/passwd");
  const char* names[] = {"../outside", "%2e%2e/outside", "%2E%2E%2Foutside",
                         "up/outside", "up%2Foutside", outside.c_str(),
                         "./../outside", "..", "%2e%2e", "up/../outside",
                         "../outside%00", "up/new"};
  for (const char* name : names) {
    for (const char* action : {"show", "acc_show", "edit", "remove", "add"}) {
      std::string query = std::string("action=") + action + "&name=" + name +
                          "&anon=none&realm=Hacked&accounts=" +
                          "%5B%7B%22account%22%3A%22x%22%2C%22password%22%3A%22y%22%7D%5D";
      CgiResult r = RunCgi(kProgram, PostEnv(query), query);
      EXPECT_EQ(0, r.exitStatus) << query;
      EXPECT_TRUE(r.isJson) << query;
      EXPECT_TRUE(r.json["data"].isNull()) << query;
      EXPECT_FALSE(r.json["success"].asBool() && action != std::string("show"))
          << query;
    }
  }
  EXPECT_EQ(conf, sandbox::ReadFile(outside + "/conf/svnserve.conf"));
  EXPECT_EQ(passwd, sandbox::ReadFile(outside + "/conf/passwd"));
  EXPECT_NE(0, access((sandbox::Dir() + "/new").c_str(), F_OK));
  EXPECT_EQ(0, access(sandbox::Root().c_str(), F_OK));
}

}  // namespace
