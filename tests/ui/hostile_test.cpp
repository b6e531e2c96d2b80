// Hostile requests through the program: each gets a clear error or a
// faithful result, nothing outside the repository root is touched, and no
// password reaches the log.

#include <gtest/gtest.h>
#include <json/writer.h>
#include <unistd.h>

#include <set>

#include "cgi_run.h"
#include "program.h"
#include "sandbox.h"
#include "svn_config_reader.h"

namespace {

using namespace program;

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
    outside_ = sandbox::Dir() + "/outside";
    ASSERT_EQ(0, sandbox::Shell("svnadmin create '" + outside_ + "'"));
    ASSERT_TRUE(sandbox::CreateRepo("inside"));
    snapshot_ = Snapshot();
  }

  // Everything beside the root but the logs and the program's locks,
  // listed with checksums.
  std::string Snapshot() {
    std::string list = sandbox::Dir() + "/snapshot";
    sandbox::Shell("cd '" + sandbox::Dir() + "' && find . -path ./repo -prune -o "
                   "-path ./snapshot -prune -o -path ./syslog -prune -o -path ./var -prune "
                   "-o -path ./locks -prune -o -type f "
                   "-print0 | sort -z | xargs -0 md5sum > '" + list + "'");
    return sandbox::ReadFile(list);
  }

  void ExpectNothingOutsideTouched(const std::string& what) {
    EXPECT_EQ(snapshot_, Snapshot()) << what;
  }

  void ExpectNoSecretLogged(const std::vector<std::string>& secrets) {
    std::string log = sandbox::ReadFile(sandbox::LogFile());
    for (const std::string& s : secrets)
      EXPECT_EQ(std::string::npos, log.find(s)) << "logged: " << s;
  }

  std::string outside_, snapshot_;
};

TEST_F(Hostile, NamesNeverLeaveTheRoot) {
  const char* names[] = {
      "..", "../outside", "./../outside", "x/../../outside", "..%2Foutside",
      "%2e%2e", "%2E%2E%2Foutside", "%252e%252e%252foutside", ".%2e/outside",
      "inside/..", "inside/../../outside", "/", "/etc", "%2Fetc%2Fpasswd",
      "inside%2F..%2F..%2Foutside", "inside%00", "%00", "a%0Ab", "a%0D%0Ab",
      "%01%1B%7F", "-rf", "%2D%2Dhelp", "%25(x)s", "a..b", "..a", "a..",
      "inside%C0%AF..", "%C3%28"};
  for (const char* name : names) {
    for (const char* action : {"show", "acc_show", "add", "edit", "remove"}) {
      std::string query = std::string("action=") + action + "&name=" + name +
                          "&anon=none&realm=r&accounts=%5B%5D";
      CgiResult r = PostForm(query);
      EXPECT_EQ(0, r.exitStatus) << query;
      EXPECT_TRUE(r.isJson) << query << ": " << r.body;
      EXPECT_TRUE(r.json["data"].isNull()) << query;
    }
    ExpectNothingOutsideTouched(name);
  }
  // None of them made anything; a name with "%(" is made as it is.
  EXPECT_EQ((std::vector<std::string>{"inside"}), sandbox::Entries(sandbox::Root()));
  CgiResult r = Post({{"action", "add"}, {"name", "x%(y)s"}, {"anon", "read"},
                      {"accounts", "[]"}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_EQ(0, access(sandbox::RepoDir("x%(y)s").c_str(), F_OK));
  EXPECT_EQ(0, access((sandbox::RepoDir("inside") + "/conf/passwd").c_str(), F_OK));
}

TEST_F(Hostile, SettingsAndAccountsThatCannotBeStoredAreRefused) {
  const std::string conf = sandbox::RepoDir("inside") + "/conf/svnserve.conf";
  const std::string passwd = sandbox::RepoDir("inside") + "/conf/passwd";
  ASSERT_TRUE(Post({{"action", "edit"}, {"name", "inside"}, {"realm", "Kept"},
                    {"anon", "read"}, {"accounts", Accounts({{"keep", "Keep-Pw-1"}})}})
                  .json["success"].asBool());
  const std::string confBefore = sandbox::ReadFile(conf);
  const std::string passwdBefore = sandbox::ReadFile(passwd);
  struct {
    const char* name;
    std::string realm, accounts;
  } cases[] = {
      {"line break in realm", "a\n[users]\nevil = x", "[]"},
      {"CR in realm", "a\rb", "[]"},
      {"expansion in realm", "%(anon-access)s", "[]"},
      {"realm ending in a tab", "Kept\t", "[]"},
      {"line break in password", "Kept", Accounts({{"bob", "Secret-Pw-2\nevil = x"}})},
      {"password that would expand", "Kept", Accounts({{"bob", "Secret-Pw-3%(bob)s"}})},
      {"line break in name", "Kept", Accounts({{"bo\nb", "Secret-Pw-4"}})},
      {"bracket name", "Kept", Accounts({{"[bob]", "Secret-Pw-5"}})},
      {"names differing in case", "Kept",
       Accounts({{"Bob", "Secret-Pw-6"}, {"bob", "Secret-Pw-7"}})},
      {"NUL in password", "Kept", R"([{"account":"bob","password":"Secret-Pw-8\u0000x"}])"},
      {"deeply nested", "Kept", std::string(100000, '[')},
      {"not a list", "Kept", R"({"account":"bob","password":"Secret-Pw-9"})"},
  };
  for (const auto& c : cases) {
    CgiResult r = Post({{"action", "edit"}, {"name", "inside"}, {"realm", c.realm},
                        {"anon", "read"}, {"accounts", c.accounts}});
    EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    // A refused realm stops the edit before the accounts: both files stay.
    EXPECT_EQ(confBefore, sandbox::ReadFile(conf)) << c.name;
    EXPECT_EQ(passwdBefore, sandbox::ReadFile(passwd)) << c.name;
  }
  ExpectNoSecretLogged({"Secret-Pw-", "Keep-Pw-1"});
  ExpectNothingOutsideTouched("refusals");
}

TEST_F(Hostile, HugeInputs) {
  // Over the body limit: refused unread.
  std::string big(10 * 1024 * 1024, 'r');
  CgiResult r = Post({{"action", "edit"}, {"name", "inside"}, {"realm", big},
                      {"anon", "read"}, {"accounts", "[]"}});
  EXPECT_EQ("413 Payload Too Large", r.status);
  // The longest query string a CGI environment can carry (128 KiB per
  // variable): a clear error (and no change is made by GET).
  r = Get("action=edit&name=inside&anon=read&accounts=%5B%5D&realm=" +
            std::string(120000, 'r'));
  EXPECT_EQ(R"({"success":false})", r.body);

  // A list of many accounts that fits the limit is stored faithfully.
  Params many;
  for (int i = 0; i < 8000; ++i) many.emplace_back("u" + std::to_string(i), "p" + std::to_string(i));
  r = Post({{"action", "edit"}, {"name", "inside"}, {"realm", "Many"}, {"anon", "none"},
            {"accounts", Accounts(many)}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(sandbox::RepoDir("inside") + "/conf/passwd", &cfg, &error));
  EXPECT_EQ(8000u, cfg["users"].size());
  EXPECT_EQ("p7999", cfg["users"]["u7999"]);
}

TEST_F(Hostile, ARepositoryLinkedFromOutside) {
  // A link in the root to a repository elsewhere is a repository under the
  // link's name; removing it removes the link, never what it points to.
  ASSERT_EQ(0, symlink(outside_.c_str(), sandbox::RepoDir("linked").c_str()));
  CgiResult r = PostForm("action=show&name=linked");
  EXPECT_TRUE(r.json["success"].asBool());
  EXPECT_EQ("linked", r.json["data"]["name"].asString());
  r = PostForm("action=remove&name=linked");
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_NE(0, access(sandbox::RepoDir("linked").c_str(), F_OK));
  ExpectNothingOutsideTouched("linked");
}

TEST_F(Hostile, SpecialAndHugeFilesNeitherHangNorAreRead) {
  alarm(120);  // a request waiting on a FIFO would hang here
  struct {
    const char* name;
    const char* conf;    // shell commands run in the repository's conf/
    bool shown;          // "show" and the listing can read the settings
  } cases[] = {
      {"fifo-conf", "rm svnserve.conf && mkfifo svnserve.conf", false},
      {"zero-conf", "rm svnserve.conf && ln -s /dev/zero svnserve.conf", false},
      {"dir-conf", "rm svnserve.conf && mkdir svnserve.conf", false},
      {"big-conf", "truncate -s 40M svnserve.conf", false},
      // The account file is never read for the settings.
      {"fifo-passwd", "rm passwd && mkfifo passwd", true},
      {"zero-passwd", "rm passwd && ln -s /dev/zero passwd", true},
      {"garbage-passwd", "echo '  not a config' > passwd", true},
      {"big-passwd", "truncate -s 40M passwd", true},
  };
  std::set<std::string> listed;
  for (const auto& c : cases) {
    ASSERT_TRUE(sandbox::CreateRepo(c.name));
    sandbox::WriteFile(Conf(c.name), "[general]\nrealm = R\npassword-db = passwd\n");
    ASSERT_EQ(0, sandbox::Shell("cd '" + sandbox::RepoDir(c.name) + "/conf' && " + c.conf));
    if (c.shown) listed.insert(c.name);
    CgiResult r = PostForm(std::string("action=show&name=") + c.name);
    EXPECT_EQ(c.shown, r.json["data"]["realm"].asString() == "R") << c.name << r.body;
    // An account file that cannot be read lets no account in: shown so,
    // with the reason, never waited on or read whole.
    r = PostForm(std::string("action=acc_show&name=") + c.name);
    if (c.shown) {
      EXPECT_TRUE(r.json["account"].empty()) << c.name;
      EXPECT_NE("", r.json["reason"].asString()) << c.name;
    } else {
      EXPECT_EQ(R"({"success":false})", r.body) << c.name;
    }
  }
  CgiResult r = PostForm("action=load&limit=100");
  std::set<std::string> names;
  for (const Json::Value& s : r.json["data"]) names.insert(s["name"].asString());
  listed.insert("inside");
  EXPECT_EQ(listed, names);
  alarm(0);
}

}  // namespace
