// End to end: repositories made and edited through the program, and
// repositories made or edited by hand, are served by the real svnserve
// (on 127.0.0.1, an ephemeral port) exactly as the program shows and as
// it was asked, checked with the real svn client.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "cgi_run.h"
#include "net.h"
#include "program.h"
#include "sandbox.h"
#include "svnserve_fixture.h"

extern char** environ;

namespace {

using namespace program;

const char kProgram[] = SVN_CGI;

using SvnserveEndToEnd = SvnserveFixture;

TEST_F(SvnserveEndToEnd, AccessFollowsWhatThePageAskedFor) {
  CgiResult r = Request({{"action", "add"}, {"name", "e2e"}, {"realm", "E2E"},
                         {"anon", "none"},
                         {"accounts", R"([{"account":"alice","password":"a pw"},)"
                                      R"({"account":"bob","password":"b#pw"}])"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);

  EXPECT_FALSE(Svn("ls", "", ""));
  EXPECT_TRUE(Svn("ls", "alice", "a pw"));
  EXPECT_TRUE(Svn("ls", "bob", "b#pw"));
  EXPECT_FALSE(Svn("ls", "alice", "b#pw"));
  EXPECT_FALSE(Svn("ls", "carol", "a pw"));
  EXPECT_TRUE(Svn("mkdir -m trunk", "alice", "a pw", "/trunk"));

  r = Request({{"action", "edit"}, {"name", "e2e"}, {"realm", "Renamed"},
               {"anon", "read"},
               {"accounts", R"([{"account":"carol","password":"c=pw"}])"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_TRUE(Svn("ls", "", ""));
  EXPECT_FALSE(Svn("mkdir -m anon", "", "", "/anon"));
  EXPECT_FALSE(Svn("mkdir -m old", "alice", "a pw", "/old"));  // no longer an account
  EXPECT_TRUE(Svn("mkdir -m branches", "carol", "c=pw", "/branches"));

  r = Request({{"action", "remove"}, {"name", "e2e"}});
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  EXPECT_FALSE(Svn("ls", "", ""));
  EXPECT_FALSE(Svn("ls", "carol", "c=pw"));
}

// Repositories made or edited by hand: what "show" and "acc_show" answer
// is what svnserve does, what they answer can be sent back, and an edit
// takes effect where svnserve reads.
TEST_F(SvnserveEndToEnd, HandMadeRepositoriesAreShownAndEditedAsSvnserveReadsThem) {
  const std::string longPw(600, 'p');
  const std::string users = "[users]\nold = old pw\n";
  struct {
    const char* name;
    std::string conf;    // svnserve.conf; empty: the tool's own
    std::string passwd;  // conf/passwd
    std::function<void(const std::string& dir)> more;
    const char* realm;   // as "show" answers
    const char* anon;
    bool anonReads;      // what svnserve does before the edit
    Params accounts;     // as "acc_show" answers
    bool replaceable = true;  // an edit may replace the accounts
  } cases[] = {
      {"[sasl] before [general]",
       "[sasl]\nuse-sasl = false\n[general]\nanon-access = write\n"
       "password-db = passwd\nrealm = Hand\n",
       users, nullptr, "Hand", "write", true, {{"old", "old pw"}}},
      {"no [general]", "[sasl]\nuse-sasl = false\n", users, nullptr, "", "", true, {}},
      {"no realm line at all", "[general]\nanon-access = none\npassword-db = passwd\n",
       users, nullptr, "", "none", false, {{"old", "old pw"}}},
      {"plain svnadmin create", "", users, nullptr, "", "", true, {}},
      {"another password file",
       "[general]\nanon-access = read\npassword-db = team-users\n",
       "[users]\nstale = stale pw\n",
       [&](const std::string& dir) { sandbox::WriteFile(dir + "/conf/team-users", users); },
       "", "read", true, {{"old", "old pw"}}},
      {"the password file a link to a shared one",
       "[general]\nanon-access = read\npassword-db = passwd\n", "",
       [&](const std::string& dir) {
         sandbox::WriteFile(sandbox::Dir() + "/shared-passwd", users);
         sandbox::Shell("rm '" + dir + "/conf/passwd' && ln -s ../../../shared-passwd '" +
                        dir + "/conf/passwd'");
       },
       "", "read", true, {{"old", "old pw"}}},
      {"a password of 600 bytes",
       "[general]\nanon-access = read\npassword-db = passwd\n",
       "[users]\nold = " + longPw + "\n", nullptr, "", "read", true, {{"old", longPw}}},
      {"expansions", "[general]\nw = wri\nanon-access = %(w)ste\npassword-db = passwd\n",
       "[users]\nold = old %(x)s\nx = pw\n", nullptr, "", "write", true,
       {{"old", "old pw"}, {"x", "pw"}}},
      {"a literal %(", "[general]\nanon-access = read\npassword-db = passwd\n",
       "[users]\nold = 50%(x\n", nullptr, "", "read", true, {{"old", "50%(x"}}},
      {"accounts in the settings file",
       "[general]\nanon-access = read\npassword-db = svnserve.conf\n[users]\nold = old pw\n",
       "[users]\nstale = stale pw\n", nullptr, "", "read", true, {{"old", "old pw"}}},
      {"a password-db Subversion canonicalizes",
       "[general]\nanon-access = read\npassword-db = ./passwd/.\n", users, nullptr,
       "", "read", true, {{"old", "old pw"}}},
      {"no conf/passwd at all",
       "[general]\nanon-access = read\npassword-db = users\n", "",
       [&](const std::string& dir) {
         sandbox::Shell("mv '" + dir + "/conf/passwd' '" + dir + "/conf/users'");
         sandbox::WriteFile(dir + "/conf/users", users);
       },
       "", "read", true, {{"old", "old pw"}}},
      // svnserve also lets in what [DEFAULT] holds: shown, kept when sent
      // back, and not to be dropped by an edit that cannot drop it.
      {"accounts from [DEFAULT]", "[general]\nanon-access = read\npassword-db = passwd\n",
       "[DEFAULT]\nbase = top pw\n[users]\nold = %(base)s\n", nullptr, "", "read", true,
       {{"base", "top pw"}, {"old", "top pw"}}, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "hand" + std::to_string(n++), dir = sandbox::RepoDir(name);
    ASSERT_TRUE(sandbox::CreateRepo(name));
    if (!c.conf.empty()) sandbox::WriteFile(Conf(name), c.conf);
    if (!c.passwd.empty()) sandbox::WriteFile(Passwd(name), c.passwd);
    if (c.more) c.more(dir);

    CgiResult shown = Get("action=show&name=" + name);
    EXPECT_EQ(c.realm, shown.json["data"]["realm"].asString()) << c.name;
    EXPECT_EQ(c.anon, shown.json["data"]["anon"].asString()) << c.name;
    EXPECT_EQ(c.anonReads, Svn("ls", "", "", "", name)) << c.name;
    CgiResult listed = Get("action=acc_show&name=" + name);
    EXPECT_EQ(AccountList(c.accounts), listed.json["account"]) << c.name;
    for (const auto& a : c.accounts)
      EXPECT_TRUE(Svn("ls", a.first, a.second, "", name)) << c.name << ": " << a.first;

    // What was shown goes back unchanged...
    const std::string anon = c.anon[0] != '\0' ? c.anon : "read";
    CgiResult r = Post({{"action", "edit"}, {"name", name}, {"realm", c.realm},
                        {"anon", anon}, {"accounts", Json::FastWriter().write(listed.json["account"])}});
    EXPECT_EQ(R"({"data":null,"success":true})", r.body) << c.name;
    for (const auto& a : c.accounts)
      EXPECT_TRUE(Svn("ls", a.first, a.second, "", name)) << c.name << ": " << a.first;

    // ...and an edit is what svnserve then does.
    const std::string before = Snapshot();
    r = Post({{"action", "edit"}, {"name", name}, {"realm", "Edited"}, {"anon", "none"},
              {"accounts", Accounts({{"carol", "carol pw"}})}});
    if (!c.replaceable) {
      EXPECT_EQ(R"({"success":false})", r.body) << c.name;
      EXPECT_EQ(before, Snapshot()) << c.name;
      continue;
    }
    EXPECT_EQ(R"({"data":null,"success":true})", r.body) << c.name;
    EXPECT_FALSE(Svn("ls", "", "", "", name)) << c.name;
    EXPECT_TRUE(Svn("ls", "carol", "carol pw", "", name)) << c.name;
    EXPECT_FALSE(Svn("ls", "old", "old pw", "", name)) << c.name;
    EXPECT_EQ(AccountList({{"carol", "carol pw"}}),
              Get("action=acc_show&name=" + name).json["account"]) << c.name;
    shown = Get("action=show&name=" + name);
    EXPECT_EQ("Edited", shown.json["data"]["realm"].asString()) << c.name;
    EXPECT_EQ("none", shown.json["data"]["anon"].asString()) << c.name;
  }
  // The shared file was written through its link, which stays.
  struct stat st;
  ASSERT_EQ(0, lstat(Passwd("hand5").c_str(), &st));  // the linked one
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(std::string::npos,
            sandbox::ReadFile(sandbox::Dir() + "/shared-passwd").find("carol = carol pw"));
  ASSERT_EQ(0, stat((sandbox::Dir() + "/shared-passwd").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 07);  // no one else reads passwords
}

// An account without a password would let anyone log in as it: refused,
// whole, before anything changes.
// The facts "show" and the listing give are what Subversion's own tools
// say, after the standard layout and after a commit through svnserve; a
// repository whose history cannot be read still shows its settings.
TEST_F(SvnserveEndToEnd, FactsAreWhatSvnlookSays) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "none"}, {"layout", "standard"},
                    {"accounts", Accounts({{"alice", "a pw"}})}}).json["success"].asBool());
  const std::string repo = sandbox::RepoDir("e2e");
  EXPECT_EQ("branches/\ntags/\ntrunk/\n", sandbox::Output("svn ls 'file://" + repo + "'"));
  auto svnlook = [&](const char* what) {
    std::string text = sandbox::Output(std::string("svnlook ") + what + " '" + repo + "'");
    return text.substr(0, text.find('\n'));
  };
  struct {
    const char* after;
    const char* command;  // run as alice
    const char* author;
  } steps[] = {{"the layout", nullptr, "admin"}, {"a commit", "mkdir -m 'src'", "alice"}};
  for (const auto& step : steps) {
    if (step.command != nullptr) {
      ASSERT_TRUE(Svn(step.command, "alice", "a pw", "/trunk/src"));
    }
    const std::string before = Snapshot();
    Json::Value data = Post({{"action", "show"}, {"name", "e2e"}}).json["data"];
    EXPECT_EQ(before, Snapshot()) << step.after;  // read-only
    std::string date = svnlook("date").substr(0, 19);  // "2026-01-02 03:04:05 +0000 (...)"
    date[10] = 'T';
    EXPECT_EQ(svnlook("youngest"), std::to_string(data["rev"].asInt64())) << step.after;
    EXPECT_EQ(data["rev"], Post({{"action", "load"}}).json["data"][0]["rev"]) << step.after;
    EXPECT_EQ(svnlook("uuid"), data["uuid"].asString()) << step.after;
    EXPECT_EQ(date + "Z", data["updated"].asString()) << step.after;
    EXPECT_EQ(step.author, svnlook("author")) << step.after;
    EXPECT_EQ(step.author, data["author"].asString()) << step.after;
    std::string du = sandbox::Output("du -sb '" + repo + "'");
    EXPECT_EQ(du.substr(0, du.find('\t')), std::to_string(data["size"].asInt64())) << step.after;
  }

  // A repository that is a link to its directory is measured there; an
  // author too long to give leaves the other facts.
  symlink(repo.c_str(), (repo + "-link").c_str());
  std::string du = sandbox::Output("du -sb '" + repo + "/'");
  EXPECT_EQ(du.substr(0, du.find('\t')),
            std::to_string(Post({{"action", "show"}, {"name", "e2e-link"}}).json["data"]["size"].asInt64()));
  unlink((repo + "-link").c_str());
  sandbox::Shell("head -c 20000 /dev/zero | tr '\\0' a > '" + sandbox::Dir() + "/author' && svnadmin "
                 "setrevprop '" + repo + "' -r 2 svn:author '" + sandbox::Dir() + "/author'");
  Json::Value longAuthor = Post({{"action", "show"}, {"name", "e2e"}}).json["data"];
  EXPECT_EQ(2, longAuthor["rev"].asInt());
  EXPECT_TRUE(longAuthor["author"].isNull());

  // What a hand-made or damaged repository may hold where the library
  // reads: the facts are null, the rest is shown.
  struct {
    const char* name;
    const char* make;  // in db/
    bool revListed;
  } hostile[] = {
      {"a FIFO for the youngest revision", "mv current c && mkfifo current", false},
      {"a FIFO for the settings", "rm fsfs.conf && mkfifo fsfs.conf", true},
      {"revision properties without end", "ln -sf /dev/zero revprops/0/2", true},
      {"a huge sparse settings file", "truncate -s 64G fsfs.conf", true},
      {"another kind of repository", "printf 'bdb\\n' > fs-type", true},
  };
  sandbox::Shell("cp -a '" + repo + "/db' '" + sandbox::Dir() + "/db-kept'");
  setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  for (const auto& c : hostile) {
    sandbox::Shell("rm -rf '" + repo + "/db' && cp -a '" + sandbox::Dir() + "/db-kept' '" + repo +
                   "/db' && cd '" + repo + "/db' && " + c.make);
    sandbox::ClearLog();
    Json::Value shown = Post({{"action", "show"}, {"name", "e2e"}}).json;
    EXPECT_EQ("e2e", shown["data"]["name"].asString()) << c.name;
    for (const char* fact : {"rev", "uuid", "updated", "author"})
      EXPECT_TRUE(shown["data"][fact].isNull()) << c.name << ": " << fact;
    EXPECT_NE(std::string::npos, sandbox::ReadFile(sandbox::LogFile()).find("svn_fs:")) << c.name;
    EXPECT_EQ(c.revListed, Post({{"action", "load"}}).json["data"][0]["rev"].isInt()) << c.name;
  }
  unsetenv("LD_PRELOAD");
}

TEST_F(SvnserveEndToEnd, NoAccountWithoutAPassword) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "none"},
                    {"accounts", Accounts({{"alice", "a pw"}})}}).json["success"].asBool());
  for (const char* list : {R"([{"account":"bob","password":""}])", R"([{"account":"bob"}])"}) {
    EXPECT_EQ(R"({"success":false})",
              Post({{"action", "edit"}, {"name", "e2e"}, {"anon", "none"},
                    {"accounts", list}}).body) << list;
    EXPECT_FALSE(Svn("ls", "bob", "", "")) << list;
    EXPECT_TRUE(Svn("ls", "alice", "a pw")) << list;
  }
}

// The account list acc_show answers goes back unchanged (to change only
// the realm), whatever a hand put in the file that the page would not
// write itself; a new entry of that kind is still refused.
TEST_F(SvnserveEndToEnd, AnAccountListReadGoesBackAsItStands) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "none"},
                    {"accounts", Accounts({{"alice", "a pw"}})}}).json["success"].asBool());
  const std::string passwd = Passwd("e2e");
  sandbox::WriteFile(passwd, sandbox::ReadFile(passwd) + "guest = \n$anonymous = x pw\n");
  ASSERT_TRUE(Svn("ls", "guest", ""));
  auto shown = [] { return Get("action=acc_show&name=e2e").json; };
  ASSERT_TRUE(shown()["editable"].asBool());
  auto with = [&](const Params& more) {
    Json::Value list = shown()["account"];
    for (const auto& m : more) list.append(AccountList({m})[0]);
    return Json::FastWriter().write(list);
  };
  struct {
    const char* name;
    Params more;  // added to the list as shown
    bool taken;
  } cases[] = {
      {"as shown", {}, true},
      {"with a new account", {{"bob", "b pw"}}, true},
      {"with a new account without a password", {{"carol", ""}}, false},
      {"with a new reserved name", {{"$authenticated", "y pw"}}, false},
      {"with a standing name in other capitals", {{"Guest", "g pw"}}, false},
      {"with a password for the standing one", {{"guest", "g pw"}}, true},
  };
  std::string realm;  // as the last edit taken set it
  for (const auto& c : cases) {
    const std::string before = sandbox::ReadFile(passwd), asked = realm + "+";
    CgiResult r = Post({{"action", "edit"}, {"name", "e2e"}, {"realm", asked}, {"anon", "none"},
                        {"accounts", with(c.more)}});
    EXPECT_EQ(c.taken, r.json["success"].asBool()) << c.name << r.body;
    if (c.taken) realm = asked;
    EXPECT_EQ(realm, Get("action=show&name=e2e").json["data"]["realm"].asString()) << c.name;
    if (c.more.empty() || !c.taken) {
      EXPECT_EQ(before, sandbox::ReadFile(passwd)) << c.name;
    }
  }
  EXPECT_TRUE(Svn("ls", "guest", "g pw"));
  EXPECT_TRUE(Svn("ls", "bob", "b pw"));
  EXPECT_TRUE(Svn("ls", "alice", "a pw"));
  EXPECT_NE(std::string::npos, sandbox::ReadFile(passwd).find("\n$anonymous = x pw\n"));
}

// Access rules: what rules_show says each account may do where is what
// svnserve lets it do, and removing every rule restores the access levels.
TEST_F(SvnserveEndToEnd, AccessRulesAreWhatSvnserveEnforces) {
  const Params people{{"alice", "a pw"}, {"bob", "b pw"}, {"carol", "c pw"}};
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "read"},
                    {"accounts", Accounts(people)}}).json["success"].asBool());
  for (const char* dir : {"/trunk", "/tags", "/secret"})
    ASSERT_TRUE(Svn("mkdir -m made", "alice", "a pw", dir));
  auto edit = [&](const std::string& groups, const std::string& rules) {
    return Post({{"action", "rules_edit"}, {"name", "e2e"}, {"groups", groups},
                 {"rules", rules}});
  };
  CgiResult r = edit(R"({"devs": ["alice", "carol"]})",
                     R"([{"path": "/", "who": "*", "access": "r"},)"
                     R"( {"path": "/trunk", "who": "@devs", "access": "rw"},)"
                     R"( {"path": "/tags", "who": "@devs", "access": "r"},)"
                     R"( {"path": "/secret", "who": "*", "access": ""},)"
                     R"( {"path": "/secret", "who": "carol", "access": "rw"}])");
  ASSERT_EQ(R"({"data":null,"success":true})", r.body);
  CgiResult shown = Get("action=rules_show&name=e2e");
  ASSERT_TRUE(shown.json["success"].asBool()) << shown.body;
  EXPECT_EQ(2u, shown.json["data"]["groups"]["devs"].size());
  EXPECT_EQ(5u, shown.json["data"]["rules"].size());
  // Each account (and an anonymous user) at each rule's path: svnserve
  // allows exactly what "effective" says.  4 paths, 3 accounts and
  // anonymous:
  EXPECT_EQ(16, ExpectEnforced(shown.json["data"]["effective"], people, "e2e", "rules"));
  EXPECT_EQ("rw", shown.json["data"]["effective"][1]["access"]["alice"].asString());
  EXPECT_EQ("r", shown.json["data"]["effective"][1]["access"]["bob"].asString());
  EXPECT_EQ("", shown.json["data"]["effective"][3]["access"]["alice"].asString());

  // No rules: authz-db is commented out, the file kept, and the access
  // levels alone decide again.
  ASSERT_EQ(R"({"data":null,"success":true})", edit("{}", "[]").body);
  EXPECT_TRUE(Svn("mkdir -m free", "bob", "b pw", "/tags/free"));
  EXPECT_TRUE(Svn("ls", "", "", "/secret"));
  EXPECT_EQ(0, access((sandbox::RepoDir("e2e") + "/conf/authz").c_str(), F_OK));
  CgiResult none = Get("action=rules_show&name=e2e");
  EXPECT_EQ(0u, none.json["data"]["rules"].size());
}

// A client takes the anonymous login whenever it is offered, and a commit
// asks for write access anywhere before any path: while anonymous users
// may write somewhere, an account's commit is made anonymously, and its
// own rules do not count.  effective says so, for every access level.
TEST_F(SvnserveEndToEnd, EffectiveFollowsTheAnonymousAccessLevel) {
  const Params people{{"alice", "a pw"}, {"bob", "b pw"}};
  const std::string open = R"({"path": "/branches", "who": "*", "access": "rw"},)";
  struct {
    const char* anon;
    bool anonymousWrites;  // somewhere
    const char* aliceOnTrunk;
  } cases[] = {
      {"read", true, "rw"}, {"write", true, "r"}, {"none", true, "rw"}, {"write", false, "rw"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string repo = "anon" + std::to_string(n++);
    const std::string what = std::string(c.anon) + (c.anonymousWrites ? "" : ", /branches closed");
    ASSERT_TRUE(Post({{"action", "add"}, {"name", repo}, {"anon", c.anon}, {"layout", "standard"},
                      {"accounts", Accounts(people)}}).json["success"].asBool());
    ASSERT_EQ(R"({"data":null,"success":true})",
              Post({{"action", "rules_edit"}, {"name", repo}, {"groups", "{}"},
                    {"rules", std::string(R"([{"path": "/", "who": "*", "access": "r"},)") +
                                  (c.anonymousWrites ? open : "") +
                                  R"( {"path": "/trunk", "who": "alice", "access": "rw"}])"}})
                  .body) << what;
    CgiResult shown = Get("action=rules_show&name=" + repo);
    ASSERT_TRUE(shown.json["success"].asBool()) << what << ": " << shown.body;
    const Json::Value& effective = shown.json["data"]["effective"];
    for (const Json::Value& e : effective) {
      if (e["path"] == "/trunk") {
        EXPECT_EQ(c.aliceOnTrunk, e["access"]["alice"].asString()) << what;
      }
    }
    EXPECT_EQ(c.anonymousWrites ? 9 : 6, ExpectEnforced(effective, people, repo, what));
  }
}

TEST_F(SvnserveEndToEnd, NoSpellingOfALoginEscapesItsRules) {
  // Logins are checked against the account file regardless of case; the
  // rules must hold for every spelling, and an account may always do what
  // an anonymous user may.
  const Params people{{"alice", "a pw"}, {"Carol", "c pw"}};
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "read"},
                    {"accounts", Accounts(people)}}).json["success"].asBool());
  for (const char* dir : {"/trunk", "/secret", "/pub"})
    ASSERT_TRUE(Svn("mkdir -m made", "alice", "a pw", dir));
  ASSERT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "rules_edit"}, {"name", "e2e"}, {"groups", "{}"},
                  {"rules", R"([{"path": "/trunk", "who": "Carol", "access": "rw"},)"
                            R"( {"path": "/secret", "who": "$authenticated", "access": "rw"},)"
                            R"( {"path": "/secret", "who": "alice", "access": ""},)"
                            R"( {"path": "/pub", "who": "alice", "access": ""},)"
                            R"( {"path": "/pub", "who": "$anonymous", "access": "r"}])"}})
                .body);
  CgiResult shown = Get("action=rules_show&name=e2e");
  ASSERT_TRUE(shown.json["success"].asBool()) << shown.body;
  EXPECT_EQ("carol", shown.json["data"]["rules"][0]["who"].asString());
  const Json::Value& effective = shown.json["data"]["effective"];
  ASSERT_EQ(4u, effective.size());
  EXPECT_EQ("/", effective[0]["path"].asString());  // no rule reaches it
  EXPECT_EQ("r", effective[3]["access"]["alice"].asString());  // as anonymous
  struct Login {
    std::string shownAs, user, password;
  } logins[] = {{"$anonymous", "", ""}, {"alice", "alice", "a pw"}, {"alice", "ALICE", "a pw"},
                {"alice", "Alice", "a pw"}, {"Carol", "Carol", "c pw"}, {"Carol", "carol", "c pw"}};
  int n = 0;
  for (const Json::Value& e : effective) {
    const std::string path = e["path"].asString();
    for (const Login& l : logins) {
      const std::string said = e["access"][l.shownAs].asString();
      const std::string dir = (path == "/" ? "" : path) + "/new" + std::to_string(n++);
      EXPECT_EQ(said != "", Svn("ls", l.user, l.password, path)) << l.user << " reads " << path;
      EXPECT_EQ(said == "rw", Svn("mkdir -m try", l.user, l.password, dir))
          << l.user << " writes " << path;
    }
  }
}

// A hand-made authz file without force-username-case: a login may use
// any spelling of its name, and the rules see that spelling; effective
// gives each account the most any spelling may do.
TEST_F(SvnserveEndToEnd, HandMadeRulesAreShownForEverySpellingOfALogin) {
  const Params people{{"alice", "a pw"}, {"q", "q pw"}};
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "e2e"}, {"anon", "none"},
                    {"accounts", Accounts(people)}}).json["success"].asBool());
  ASSERT_TRUE(Svn("mkdir -m made", "alice", "a pw", "/secret"));
  const std::string conf = sandbox::ReadFile(Conf("e2e"));
  struct {
    const char* name;
    const char* authz;
    const char* groups;  // groups-db, or none
    int who;             // of people
    const char* access;  // on /secret
    const char* spelling;  // a login that may do that
  } cases[] = {
      {"a rule for one spelling", "[/]\n* = r\n[/secret]\n* =\nAlice = rw\n", nullptr, 0, "rw",
       "Alice"},
      {"a rule other spellings escape", "[/]\n* = rw\n[/secret]\nalice =\n", nullptr, 0, "rw",
       "ALICE"},
      {"a group with one spelling", "[groups]\nops = ALICE\n[/]\n* = r\n[/secret]\n* =\n@ops = r\n",
       nullptr, 0, "r", "ALICE"},
      {"a rule naming the repository", "[/]\n* = r\n[e2e:/secret]\n* =\naLice = rw\n", nullptr, 0,
       "rw", "aLice"},
      {"an alias of one spelling", "[aliases]\nboss = ALIce\n[/]\n* = r\n[/secret]\n* =\n&boss = rw\n",
       nullptr, 0, "rw", "ALIce"},
      {"an inverted entry", "[/]\n* = rw\n[/secret]\n~aLice = r\n", nullptr, 0, "rw", "aLice"},
      {"a groups file with one spelling", "[/]\n* = r\n[/secret]\n* =\n@ops = rw\n",
       "[groups]\nops = ALICE\n", 0, "rw", "ALICE"},
      {"the one other spelling", "[/]\n* = rw\n[/secret]\nq = r\n", nullptr, 1, "rw", "Q"},
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string settings = conf;
    settings.insert(settings.find("[general]\n") + 10,
                    c.groups != nullptr ? "authz-db = authz\ngroups-db = groups\n" : "authz-db = authz\n");
    sandbox::WriteFile(Conf("e2e"), settings);
    sandbox::WriteFile(sandbox::RepoDir("e2e") + "/conf/authz", c.authz);
    sandbox::WriteFile(sandbox::RepoDir("e2e") + "/conf/groups", c.groups != nullptr ? c.groups : "");
    CgiResult shown = Get("action=rules_show&name=e2e");
    const Json::Value* secret = nullptr;
    for (const Json::Value& e : shown.json["data"]["effective"])
      if (e["path"] == "/secret") secret = &e;
    ASSERT_NE(nullptr, secret) << c.name << ": " << shown.body;
    const std::string& account = people[c.who].first;
    const std::string& password = people[c.who].second;
    EXPECT_EQ(c.access, (*secret)["access"][account].asString()) << c.name;
    EXPECT_TRUE(Svn("ls", c.spelling, password, "/secret")) << c.name;
    EXPECT_EQ(std::string(c.access) == "rw", Svn("mkdir -m try", c.spelling, password,
                                                  "/secret/new" + std::to_string(n++)))
        << c.name;
  }
}

// The locations of password-db, authz-db and groups-db lead where svnserve
// reads them: authz-db and groups-db may be URLs (told as written, the
// scheme in any case), password-db never is; an empty password-db names
// conf/ itself.  What the program shows is what svnserve does (nothing,
// over an account file or settings it refuses), and an edit that answers
// success lets its account in.
TEST_F(SvnserveEndToEnd, PathSettingsLeadWhereSvnserveReads) {
  const Params people{{"alice", "a pw"}};
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "holder"}, {"anon", "read"}, {"layout", "standard"},
                    {"accounts", Accounts(people)}}).json["success"].asBool());
  sandbox::WriteFile(sandbox::Dir() + "/authz", "[groups]\ndevs = alice\n[/]\n* = r\n@devs = rw\n");
  ASSERT_EQ(0, sandbox::Shell("svn import -q -m rules '" + sandbox::Dir() + "/authz' 'file://" +
                              sandbox::Root() + "/holder/trunk/authz'"));
  sandbox::WriteFile(sandbox::Dir() + "/groups", "[groups]\ndevs = alice\n");
  ASSERT_EQ(0, sandbox::Shell("svn import -q -m groups '" + sandbox::Dir() + "/groups' 'file://" +
                              sandbox::Root() + "/holder/trunk/groups'"));
  const std::string url = "file://" + sandbox::Root() + "/holder/trunk/authz";
  struct {
    std::string settings;  // added to [general]
    size_t rules;          // rules_show's
    bool accountsEditable;
    bool served;  // svnserve serves the repository
    bool mended = false;  // by an edit of the accounts
  } cases[] = {
      {"authz-db = " + url + "\n", 2, true, true},
      {"authz-db = FILE://" + url.substr(7) + "\n", 2, true, true},
      {"authz-db = file:" + sandbox::Root() + "/holder/trunk/authz\n", 0, true, false},  // a path
      {"authz-db = x://host/authz\n", 0, true, false},
      {"authz-db = authz\ngroups-db = " + url.substr(0, url.size() - 5) + "groups\n", 2, true,
       true},
      {"authz-db = authz\ngroups-db = " + url + "\n", 2, true, false},  // more than groups
      {"password-db =\n", 2, false, false},  // rules not in force, as conf/authz holds them
      {"password-db = ^/passwd\n", 2, true, false},
      {"authz-db = authz\npassword-db =\n", 2, false, false},  // rules in force, nobody in
      {"authz-db = authz\npassword-db = missing\n", 2, true, false, true},
      {"authz-db = authz\n[sasl]\nuse-sasl = maybe\n[general]\n", 2, true, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string repo = "loc" + std::to_string(n++);
    ASSERT_TRUE(Post({{"action", "add"}, {"name", repo}, {"anon", "read"},
                      {"accounts", Accounts(people)}}).json["success"].asBool());
    std::string settings = sandbox::ReadFile(Conf(repo));
    if (c.settings.find("password-db") != std::string::npos)
      settings.replace(settings.find("password-db = passwd\n"), 21, "");
    settings.insert(settings.find("[general]\n") + 10, c.settings);
    sandbox::WriteFile(Conf(repo), settings);
    sandbox::WriteFile(sandbox::RepoDir(repo) + "/conf/authz",
                       std::string(c.settings.find("groups-db") != std::string::npos
                                       ? ""
                                       : "[groups]\ndevs = alice\n") +
                           "[/]\n* = r\n@devs = rw\n");
    CgiResult shown = Get("action=rules_show&name=" + repo);
    ASSERT_TRUE(shown.json["success"].asBool()) << c.settings << shown.body;
    EXPECT_EQ(c.rules, shown.json["data"]["rules"].size()) << c.settings << shown.body;
    ExpectEnforced(shown.json["data"]["effective"], people, repo, c.settings);
    CgiResult accounts = Get("action=acc_show&name=" + repo);
    EXPECT_EQ(c.accountsEditable, accounts.json["editable"].asBool()) << c.settings;
    EXPECT_EQ(c.served, Svn("info", "", "", "", repo)) << c.settings;
    CgiResult edited = Post({{"action", "edit"}, {"name", repo}, {"anon", "none"},
                             {"accounts", Accounts({{"dave", "d pw"}})}});
    if (edited.json["success"].asBool()) {
      EXPECT_EQ(c.served || c.mended, Svn("info", "dave", "d pw", "", repo)) << c.settings;
    }
  }
}

}  // namespace
