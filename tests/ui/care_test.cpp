// A repository's daily care through the program, with the real svnserve
// and svn client at work on it: its history of commits, the locks people
// take, what interrupted commits leave behind and how moves wait for live
// ones, packing and upgrading (jobs of the test's svn-admin), and disk use.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "audit_log.h"
#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"
#include "store/name.h"
#include "store/txns.h"
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

  // "usage"'s data, the sizes it gives, and those "du -sb" counts.
  static Json::Value Usage() { return Get("action=usage").json["data"]; }
  static std::map<std::string, long long> Sizes(const Json::Value& data) {
    std::map<std::string, long long> sizes;
    for (const Json::Value& r : data["repositories"]) sizes[r["name"].asString()] = r["size"].asInt64();
    return sizes;
  }
  static std::map<std::string, long long> Measured() {
    std::map<std::string, long long> sizes;
    for (const std::string& name : sandbox::Entries(sandbox::Root()))
      sizes[name] = atoll(sandbox::Output("du -sb '" + sandbox::RepoDir(name) + "'").c_str());
    return sizes;
  }
  static std::string Cache() { return sandbox::Dir() + "/var/usage.cache"; }

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

TEST_F(Care, ALockTakenWithSvnLockIsListedAndRemovedAndItsOwnerCommitsAsSubversionSays) {
  WorkingCopy alice = Alice(), bob = Bob();
  ASSERT_TRUE(alice.Run("printf 'f\\n' > trunk/f.txt && printf 'g\\n' > trunk/g.txt && "
                        "svn add -q trunk/*.txt && svn commit -q -m files && "
                        "svn lock -q -m 'On holiday' trunk/f.txt && svn lock -q trunk/g.txt"));
  ASSERT_TRUE(bob.Run("printf 'bob\\n' >> trunk/f.txt"));
  EXPECT_NE(std::string::npos, bob.Says("svn commit -m bob").find("locked by 'alice'"));

  struct {
    std::string query;
    std::vector<std::string> paths;
    int total;
  } pages[] = {
      {"", {"/trunk/f.txt", "/trunk/g.txt"}, 2},
      {"&limit=1", {"/trunk/f.txt"}, 2},
      {"&start=1", {"/trunk/g.txt"}, 2},
      {"&path=/trunk/g.txt", {"/trunk/g.txt"}, 1},
      {"&path=/branches", {}, 0},
  };
  for (const auto& p : pages) {
    CgiResult r = Get("action=locks&name=e2e" + p.query);
    ASSERT_TRUE(r.json["success"].asBool()) << p.query << r.body;
    std::vector<std::string> paths;
    for (const Json::Value& l : r.json["data"]["locks"]) paths.push_back(l["path"].asString());
    EXPECT_EQ(p.paths, paths) << p.query;
    EXPECT_EQ(p.total, r.json["data"]["total"].asInt()) << p.query;
  }
  const Json::Value f = Get("action=locks&name=e2e").json["data"]["locks"][0];
  EXPECT_EQ("alice", f["owner"].asString());
  EXPECT_EQ("On holiday", f["comment"].asString());
  EXPECT_TRUE(std::regex_match(f["created"].asString(), std::regex("\\d{4}-.*Z")));
  EXPECT_TRUE(f["expires"].isNull());
  EXPECT_TRUE(Get("action=locks&name=e2e").json["data"]["locks"][1]["comment"].isNull());

  // Refused whole, before anything is removed.
  for (const char* bad : {"", "[]", "/trunk/f.txt", R"(["trunk/f.txt"])", R"(["/trunk/f.txt",7])"}) {
    EXPECT_EQ("", Key(Post({{"action", "lock_remove"}, {"name", "e2e"}, {"paths", bad}}))) << bad;
  }
  EXPECT_EQ(2, Get("action=locks&name=e2e").json["data"]["total"].asInt());

  CgiResult r = Post({{"action", "lock_remove"}, {"name", "e2e"},
                      {"paths", R"(["/trunk/f.txt","/trunk/none","/trunk/f.txt"])"}});
  ASSERT_TRUE(r.json["success"].asBool()) << r.body;
  EXPECT_EQ(R"([{"owner":"alice","path":"/trunk/f.txt"}])" "\n",
            Json::FastWriter().write(r.json["data"]["removed"]));
  EXPECT_EQ("/trunk/none", r.json["data"]["unlocked"][0].asString());
  EXPECT_EQ(r.json["data"]["removed"], audit_log::Last()["changes"]["locks"]["removed"]);
  EXPECT_EQ("lock_remove", audit_log::Last()["action"].asString());
  EXPECT_TRUE(bob.Run("svn commit -q -m bob"));

  // Its owner's working copy holds a lock that is gone: "svn status -u"
  // says it was broken, and the next commit goes through and drops it.
  ASSERT_TRUE(Post({{"action", "lock_remove"}, {"name", "e2e"}, {"paths", R"(["/trunk/g.txt"])"}})
                  .json["success"]
                  .asBool());
  EXPECT_TRUE(std::regex_search(alice.Says("svn status -u trunk/g.txt"),
                                std::regex("^ {5}B +[0-9]+ +trunk/g.txt", std::regex::multiline)));
  EXPECT_TRUE(alice.Run("printf 'g2\\n' >> trunk/g.txt && svn commit -q -m g"));
  EXPECT_EQ("", alice.Says("svn status trunk/g.txt"));
  EXPECT_EQ(0, Get("action=locks&name=e2e").json["data"]["total"].asInt());
}

TEST_F(Care, ATransactionAKilledCommitLeftIsListedAndRemovedWhileALiveOneHoldsMovesBack) {
  WorkingCopy alice = Alice();
  const std::string repo = sandbox::RepoDir("e2e");
  auto txns = [] { return Get("action=txns&name=e2e").json["data"]; };
  // The hook kills the server's process that runs the commit.
  PreCommit("kill -9 $PPID");
  EXPECT_FALSE(alice.Run("svn mkdir -q -m killed ^/trunk/k"));
  ASSERT_EQ(1u, txns().size());
  const std::string id = txns()[0]["id"].asString();
  EXPECT_EQ(1, txns()[0]["base"].asInt());
  EXPECT_EQ("alice", txns()[0]["author"].asString());
  EXPECT_TRUE(txns()[0]["live"].asBool());
  EXPECT_LT(txns()[0]["age"].asInt(), 600);

  // Young, it may be a commit in progress.
  for (const Params& move : {Params{{"action", "rename"}, {"to", "moved"}}, Params{{"action", "remove"}},
                             Params{{"action", "pack"}}, Params{{"action", "txn_remove"}, {"txns", "[\"" + id + "\"]"}}}) {
    Params params = move;
    params.emplace_back("name", "e2e");
    CgiResult r = Post(params);
    EXPECT_EQ("busy", Key(r)) << params[0].second;
    EXPECT_NE(std::string::npos, r.json["errinfo"]["reason"].asString().find("A commit may be in progress"))
        << params[0].second;
  }
  CgiResult r = Post({{"action", "txn_remove"}, {"name", "e2e"}});
  EXPECT_EQ(std::vector<std::string>{id}, std::vector<std::string>{r.json["data"]["kept"][0].asString()});
  EXPECT_EQ(0u, r.json["data"]["removed"].size());

  // Twenty minutes later it is one an interrupted commit left.
  sandbox::Shell("cd '" + repo + "/db' && touch -h -d '20 minutes ago' transactions/" + id +
                 ".txn transactions/" + id + ".txn/* txn-protorevs/" + id + ".*");
  EXPECT_FALSE(txns()[0]["live"].asBool());
  EXPECT_GE(txns()[0]["age"].asInt(), 1200);
  r = Post({{"action", "txn_remove"}, {"name", "e2e"}});
  EXPECT_EQ(id, r.json["data"]["removed"][0].asString()) << r.body;
  EXPECT_EQ(id, audit_log::Last()["changes"]["txns"]["removed"][0].asString());
  EXPECT_EQ("", sandbox::Output("svnadmin lstxns '" + repo + "'"));

  // A young one goes with force.
  EXPECT_FALSE(alice.Run("svn mkdir -q -m killed ^/trunk/k"));
  const std::string young = txns()[0]["id"].asString();
  r = Post({{"action", "txn_remove"}, {"name", "e2e"}, {"txns", "[\"" + young + "\"]"}, {"force", "yes"}});
  EXPECT_EQ(young, r.json["data"]["removed"][0].asString()) << r.body;
  EXPECT_TRUE(audit_log::Last()["changes"]["force"].asBool());
  EXPECT_EQ(0u, txns().size());

  // A commit in progress (its hook takes a while) holds a rename back,
  // and goes through whole.
  PreCommit("sleep 3");
  ASSERT_TRUE(alice.Run("(svn mkdir -m live ^/trunk/live > ../live.out 2>&1 &)"));
  for (int i = 0; i < 200 && txns().size() == 0; ++i) usleep(20000);
  EXPECT_EQ("busy", Key(Post({{"action", "rename"}, {"name", "e2e"}, {"to", "moved"}})));
  for (int i = 0; i < 300 && sandbox::ReadFile(sandbox::Dir() + "/live.out").find("Committed") ==
                                 std::string::npos; ++i)
    usleep(20000);
  EXPECT_NE(std::string::npos, sandbox::ReadFile(sandbox::Dir() + "/live.out").find("Committed revision 2."));
  EXPECT_EQ("", sandbox::Output("svnadmin lstxns '" + repo + "'"));
  EXPECT_EQ("ok", Key(Post({{"action", "rename"}, {"name", "e2e"}, {"to", "moved"}})));
  EXPECT_TRUE(Svn("ls", "alice", "a pw", "/trunk/live", "moved"));
}

TEST_F(Care, ARestoreInPlaceWaitsForNoLiveCommit) {
  int status = -1;
  const std::string line = jobs::Admin(SVN_ADMIN, "backup e2e", &status);
  ASSERT_EQ(0, status) << line;
  const std::string file = line.substr(line.rfind(" to ") + 4, line.size() - line.rfind(" to ") - 5);
  const std::string repo = sandbox::RepoDir("e2e");
  // A commit's transaction, written to a moment ago.
  PreCommit("kill -9 $PPID");
  EXPECT_FALSE(Alice().Run("svn mkdir -q -m killed ^/trunk/k"));
  const std::string txn = sandbox::Output("svnadmin lstxns '" + repo + "'");
  ASSERT_NE("", txn);

  // Busy at the request, and in the job (from the command line, which no
  // request checks): the repository stays as it is.
  CgiResult r = Post({{"action", "restore"}, {"name", "e2e"},
                      {"file", file.substr(file.rfind('/') + 1)}, {"replace", "yes"}});
  EXPECT_EQ("busy", Key(r)) << r.body;
  EXPECT_NE(std::string::npos, r.json["errinfo"]["reason"].asString().find("A commit may be in progress"));
  const std::string out = jobs::Admin(SVN_ADMIN, "restore --replace -- '" + file + "' e2e", &status);
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, out.find("e2e: failed: A commit may be in progress")) << out;
  EXPECT_EQ(txn, sandbox::Output("svnadmin lstxns '" + repo + "'"));

  // Once it is one an interrupted commit left, the restore goes ahead.
  sandbox::Shell("cd '" + repo + "/db' && touch -h -d '20 minutes ago' transactions/*.txn "
                 "transactions/*.txn/* txn-protorevs/*");
  EXPECT_EQ("e2e: restored revision 1 from " + file + "\n",
            jobs::Admin(SVN_ADMIN, "restore --replace -- '" + file + "' e2e", &status));
  EXPECT_EQ(0, status);
  EXPECT_EQ("", sandbox::Output("svnadmin lstxns '" + repo + "'"));
}

TEST_F(Care, PackAndUpgradeOfAFormat4RepositoryRunAsJobsAndLeaveItValid) {
  const std::string dir = sandbox::RepoDir("old");
  // Format 4 (Subversion 1.6), with shards of 4 revisions: 0-3 and 4-7
  // complete, 8-10 not.
  ASSERT_EQ(0, sandbox::Shell("svnadmin create --compatible-version 1.6 '" + dir + "' && sed -i "
                              "'s/^layout sharded 1000$/layout sharded 4/' '" + dir + "/db/format'"));
  ASSERT_EQ("4\nlayout sharded 4\n", sandbox::ReadFile(dir + "/db/format"));
  ASSERT_EQ(0, sandbox::Shell("for i in 1 2 3 4 5 6 7 8 9 10; do svn mkdir -q -m \"d$i\" "
                              "\"file://" + dir + "/d$i\" || exit 1; done"));
  auto format = [] { return Get("action=show&name=old").json["data"]["format"]; };
  auto run = [](const Params& params) {
    CgiResult r = Post(params);
    EXPECT_TRUE(r.json["success"].asBool()) << r.body;
    return jobs::WaitJob(SVN_CGI, sandbox::Dir(), r.json["data"]["job"].asString());
  };
  struct Step {
    Params request;      // empty: none
    int progress;        // the job's progress at its end, done of total
    const char* format;  // "show"'s format after it
  } steps[] = {
      {{}, 0, R"({"newest":8,"number":4,"packable":2,"packed":0,"shards":4,"type":"fsfs","upgrade":true})"},
      {{{"action", "pack"}, {"name", "old"}}, 8,  // revisions in the shards packed
       R"({"newest":8,"number":4,"packable":0,"packed":2,"shards":4,"type":"fsfs","upgrade":true})"},
      {{{"action", "upgrade"}, {"name", "old"}, {"confirm", "yes"}}, 1,
       R"({"newest":8,"number":8,"packable":0,"packed":2,"shards":4,"type":"fsfs","upgrade":false})"},
      {{{"action", "pack"}, {"name", "old"}}, 0,
       R"({"newest":8,"number":8,"packable":0,"packed":2,"shards":4,"type":"fsfs","upgrade":false})"},
  };
  for (const Step& step : steps) {
    const std::string what = step.request.empty() ? "before" : step.request[0].second;
    if (!step.request.empty()) {
      Json::Value job = run(step.request);
      EXPECT_EQ("done", job["state"].asString()) << what << job;
      EXPECT_EQ(what, job["kind"].asString());
      EXPECT_EQ(step.progress, job["progress"]["done"].asInt()) << what;
      EXPECT_EQ(step.progress, job["progress"]["total"].asInt()) << what;
      EXPECT_EQ(job["id"], audit_log::Last()["changes"]["job"]) << what;
    }
    EXPECT_EQ(std::string(step.format) + "\n", Json::FastWriter().write(format())) << what;
    EXPECT_EQ(0, sandbox::Shell("svnadmin verify -q '" + dir + "'")) << what;
    EXPECT_TRUE(Svn("ls", "", "", "/d10", "old")) << what;
  }

  // An upgrade older Subversion versions cannot read needs its confirmation.
  sandbox::Shell("rm -rf '" + dir + "' && svnadmin create --compatible-version 1.6 '" + dir + "'");
  EXPECT_EQ("", Key(Post({{"action", "upgrade"}, {"name", "old"}})));
  EXPECT_EQ(4, format()["number"].asInt());
  // A schedule runs them with svn-admin; one upgrade at a time.
  int status = -1;
  EXPECT_EQ("old: upgraded from format 4 to 8\n", jobs::Admin(SVN_ADMIN, "upgrade old", &status));
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, jobs::Admin(SVN_ADMIN, "pack --all", &status).find("old: packed 0 shards, 0 in all"));
  EXPECT_EQ(0, status);
  jobs::Admin(SVN_ADMIN, "upgrade --all", &status);
  EXPECT_EQ(2, status);
}

TEST_F(Care, DiskUseIsMeasuredAgainAsRepositoriesChange) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "b"}, {"anon", "read"}, {"accounts", "[]"}})
                  .json["success"]
                  .asBool());
  Json::Value data = Usage();
  EXPECT_EQ(Measured(), Sizes(data));
  EXPECT_EQ(Measured()["b"] + Measured()["e2e"], data["total"].asInt64());
  EXPECT_EQ(0, data["unknown"].asInt());
  EXPECT_GT(data["disks"]["repositories"]["free"].asInt64(), 0);
  EXPECT_TRUE(data["backups"].isNull());  // no backup yet
  struct stat st;
  ASSERT_EQ(0, stat(Cache().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // A commit, a lock, a repository replaced under its name: measured again.
  WorkingCopy alice = Alice();
  ASSERT_TRUE(alice.Run("head -c 50000 /dev/urandom > trunk/blob && svn add -q trunk/blob && "
                        "svn commit -q -m blob"));
  EXPECT_EQ(Measured(), Sizes(Usage()));
  ASSERT_TRUE(alice.Run("svn lock -q trunk/blob"));
  EXPECT_EQ(Measured(), Sizes(Usage()));
  ASSERT_TRUE(Post({{"action", "remove"}, {"name", "b"}}).json["success"].asBool());
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "b"}, {"anon", "read"}, {"accounts", "[]"},
                    {"layout", "standard"}}).json["success"].asBool());
  EXPECT_EQ(Measured(), Sizes(Usage()));

  // The backups too, and the file systems' free space.
  int status = -1;
  jobs::Admin(SVN_ADMIN, "backup e2e", &status);
  ASSERT_EQ(0, status);
  data = Usage();
  EXPECT_EQ(atoll(sandbox::Output("du -sb '" + sandbox::Dir() + "/backup'").c_str()),
            data["backups"].asInt64());
  EXPECT_TRUE(data["same_disk"].asBool());
  EXPECT_GT(data["disks"]["backups"]["size"].asInt64(), 0);
}

TEST_F(Care, DiskUseIsTheRepositoriesOwnWhateverTheCacheHolds) {
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "b"}, {"anon", "read"}, {"accounts", "[]"}})
                  .json["success"]
                  .asBool());
  EXPECT_EQ(Measured(), Sizes(Usage()));
  // The marks the cache keeps of each repository as it stands.
  const std::string real = sandbox::ReadFile(Cache()), head = real.substr(0, real.find('\n') + 1);
  auto marks = [&real](const std::string& name) {
    const std::string line = real.substr(real.find("\n" + name + "\t") + 1);
    return line.substr(name.size() + 1, line.find('\t', name.size() + 1) - name.size() - 1);
  };
  const std::string now = std::to_string(time(nullptr)), e = "e2e\t" + marks("e2e") + "\t";
  struct {
    const char* what;
    std::string text;
  } caches[] = {
      {"not a cache", "not a cache at all\n\x01\xff\n"},
      {"other marks", head + "e2e\t1.2.3\t5\t" + now + "\n"},
      {"another repository's marks", head + "e2e\t" + marks("b") + "\t5\t" + now + "\n"},
      {"a day old", head + e + "5\t0\n"},
      {"measured in the future", head + e + "5\t99999999999\n"},
      {"a size too large", head + e + "99999999999999999999999\t" + now + "\n"},
      {"a negative size", head + e + "-5\t" + now + "\n"},
      {"a field too many", head + e + "5\t" + now + "\tmore\n"},
      {"no line end", head + e + "5\t" + now},
  };
  for (const auto& c : caches) {
    sandbox::WriteFile(Cache(), c.text);
    EXPECT_EQ(Measured(), Sizes(Usage())) << c.what;
  }
  for (const char* odd : {"ln -s ../elsewhere", "mkfifo", "ln ../elsewhere"}) {
    sandbox::WriteFile(sandbox::Dir() + "/elsewhere", head + e + "5\t" + now + "\n");
    sandbox::Shell("rm -f '" + Cache() + "' && " + odd + " '" + Cache() + "'");
    EXPECT_EQ(Measured(), Sizes(Usage())) << odd;
  }
  // What the service user's own cache holds for a repository as it
  // stands is taken: it is not walked again.
  sandbox::WriteFile(Cache(), head + e + "5\t" + now + "\n");
  EXPECT_EQ(5, Sizes(Usage())["e2e"]);
}

// As "rename" and "remove" move a repository: new commits held back
// first.  One that begins meanwhile waits, then finds the repository
// gone and fails before it makes a transaction.
TEST_F(Care, ACommitThatBeginsWhileAMoveHoldsCommitsBackLeavesNoTransaction) {
  WorkingCopy alice = Alice();
  ASSERT_TRUE(alice.Run("svn info >/dev/null"));  // checked out
  SVNCommitHold hold;
  ASSERT_TRUE(CheckNoLiveCommit(*SVNName::Of("e2e"), &hold).ok());
  const std::string rc = sandbox::Dir() + "/late.rc";
  ASSERT_TRUE(alice.Run("( (svn mkdir -m late ^/trunk/late >/dev/null 2>&1; echo $? > '" + rc + "') &)"));
  usleep(1000 * 1000);
  EXPECT_EQ("", sandbox::ReadFile(rc));  // waiting
  ASSERT_EQ(0, rename(sandbox::RepoDir("e2e").c_str(), sandbox::RepoDir("moved").c_str()));
  hold.release();
  for (int i = 0; i < 500 && sandbox::ReadFile(rc).empty(); ++i) usleep(20000);
  EXPECT_NE("0\n", sandbox::ReadFile(rc));
  EXPECT_EQ("", sandbox::Output("svnadmin lstxns '" + sandbox::RepoDir("moved") + "'"));
  EXPECT_EQ("1\n", sandbox::Output("svnlook youngest '" + sandbox::RepoDir("moved") + "'"));
}

// "show"'s format as the repository's own files say it, whatever they
// hold: what cannot be read is not made up, and nothing waits on them.
TEST_F(Care, TheFormatIsReadFromFilesMadeByHandWithoutGuessing) {
  const std::string db = sandbox::RepoDir("e2e") + "/db";
  struct {
    const char* what;
    std::string setup;   // a shell command in db/
    const char* format;  // "show"'s, "null" when unknown
  } cases[] = {
      {"as made", "true",
       R"({"newest":8,"number":8,"packable":0,"packed":0,"shards":1000,"type":"fsfs","upgrade":false})"},
      {"not sharded", "printf '8\\nlayout linear\\n' > format",
       R"({"newest":8,"number":8,"packable":0,"packed":0,"shards":null,"type":"fsfs","upgrade":false})"},
      {"a shard size out of range", "printf '8\\nlayout sharded 99999999999\\n' > format",
       R"({"newest":8,"number":8,"packable":0,"packed":0,"shards":null,"type":"fsfs","upgrade":false})"},
      {"packed past the youngest", "printf '4\\nlayout sharded 1\\n' > format && echo 7 > min-unpacked-rev",
       R"({"newest":8,"number":4,"packable":0,"packed":7,"shards":1,"type":"fsfs","upgrade":true})"},
      {"no number", "printf 'x\\n' > format", "null"},
      {"a FIFO", "rm format && mkfifo format", "null"},
      {"a Berkeley DB", "echo bdb > fs-type",
       R"({"newest":null,"number":null,"packable":0,"packed":0,"shards":null,"type":"bdb","upgrade":false})"},
  };
  const std::string saved = sandbox::Dir() + "/saved-db";
  sandbox::Shell("cp -a '" + db + "' '" + saved + "'");
  for (const auto& c : cases) {
    sandbox::Shell("rm -rf '" + db + "' && cp -a '" + saved + "' '" + db + "' && cd '" + db +
                   "' && " + c.setup);
    CgiResult r = Get("action=show&name=e2e");
    EXPECT_EQ(std::string(c.format) + "\n", Json::FastWriter().write(r.json["data"]["format"]))
        << c.what;
  }
}

// What the actions take and refuse, before anything changes.
TEST_F(Care, RequestsAreCheckedBeforeAnythingChanges) {
  // Changes only by POST: a link or an image from another site changes
  // nothing, and leaves its refusal on record.
  for (const char* action : {"lock_remove", "txn_remove", "pack", "upgrade"}) {
    CgiResult r = Get(std::string("action=") + action + "&name=e2e&paths=%5B%22%2Fa%22%5D&confirm=yes");
    EXPECT_EQ("405 Method Not Allowed", r.status) << action;
    EXPECT_EQ("refused", audit_log::Last()["outcome"].asString()) << action;
  }
  const std::string before = Snapshot();
  struct {
    const char* what;
    Params params;
    const char* key;  // "" for the generic error
  } refused[] = {
      {"a lock of none", {{"action", "lock_remove"}, {"name", "none"}, {"paths", R"(["/a"])"}}, "nonexist"},
      {"no paths", {{"action", "lock_remove"}, {"name", "e2e"}}, ""},
      {"paths not a list", {{"action", "lock_remove"}, {"name", "e2e"}, {"paths", R"({"/a":1})"}}, ""},
      {"a path with a control character",
       {{"action", "lock_remove"}, {"name", "e2e"}, {"paths", R"(["/a"])"}}, ""},
      {"transactions of none", {{"action", "txn_remove"}, {"name", "none"}}, "nonexist"},
      {"a transaction id as a path", {{"action", "txn_remove"}, {"name", "e2e"}, {"txns", R"(["../1-1"])"}}, ""},
      {"an empty list", {{"action", "txn_remove"}, {"name", "e2e"}, {"txns", "[]"}}, ""},
      {"force a word", {{"action", "txn_remove"}, {"name", "e2e"}, {"force", "always"}}, ""},
      {"pack of none", {{"action", "pack"}, {"name", "none"}}, "nonexist"},
      {"upgrade unconfirmed", {{"action", "upgrade"}, {"name", "e2e"}, {"confirm", "y"}}, ""},
      {"upgrade of none", {{"action", "upgrade"}, {"name", "none"}, {"confirm", "yes"}}, "nonexist"},
  };
  for (const auto& c : refused) {
    CgiResult r = Post(c.params);
    EXPECT_FALSE(r.json["success"].asBool()) << c.what;
    EXPECT_EQ(c.key, r.json["errinfo"]["key"].asString()) << c.what;
  }
  for (const char* read : {"action=txns&name=none", "action=locks&name=none", "action=log&name=none"})
    EXPECT_EQ("nonexist", Key(Get(read))) << read;
  EXPECT_EQ(before, Snapshot());
}

}  // namespace
