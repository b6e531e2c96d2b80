// The audit log through the built program (made with a small rotation size,
// SVN_AUDIT_ROTATE_BYTES, and SVN_AUDIT_KEEP rotated files): one whole
// record per request that changes or tries to change something, no
// password in any file it writes, concurrent writers, rotation, files
// planted where the log goes, a full disk, and the "audit" action reading
// it back.

#include <gtest/gtest.h>
#include <json/writer.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>
#include <thread>

#include "audit_log.h"
#include "cgi_run.h"
#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

Json::Value ParseText(const std::string& text) {
  return audit_log::Parse(text);
}

int Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// A record as the program writes it, for logs made by hand.
std::string RecordLine(long long seq, const std::string& name, const std::string& user) {
  Json::Value r;
  r["seq"] = Json::Int64(seq);
  r["name"] = name;
  r["user"] = user;
  r["action"] = "edit";
  r["outcome"] = "done";
  r["changes"] = Json::Value(Json::objectValue);
  return Json::FastWriter().write(r);
}

// One page of "audit".
Json::Value Page(const std::string& query) {
  CgiResult r = Get("action=audit&" + query);
  EXPECT_TRUE(r.json["success"].asBool()) << query << ": " << r.body;
  return r.json["data"];
}

std::vector<long long> Seqs(const Json::Value& records) {
  std::vector<long long> seqs;
  for (const Json::Value& r : records) seqs.push_back(r["seq"].asInt64());
  return seqs;
}

class Audit : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  }
  void TearDown() override {
    if (mounted_) umount(audit_log::Dir().c_str());
  }
  bool mounted_ = false;
};

TEST_F(Audit, EachRequestThatChangesLeavesOneRecord) {
  const std::string rules = R"([{"path":"/","who":"*","access":"r"},)"
                            R"({"path":"/trunk","who":"@devs","access":"rw"}])";
  auto edit = [](const char* name, const char* realm, const Params& accounts) {
    return Params{{"action", "edit"}, {"name", name}, {"realm", realm}, {"anon", "none"},
                  {"accounts", Accounts(accounts)}};
  };
  auto rulesEdit = [](const char* groups, const std::string& list) {
    return Params{{"action", "rules_edit"}, {"name", "proj"}, {"groups", groups}, {"rules", list}};
  };
  const Params kept{{"alice", "Secret-A2"}, {"carol", "Secret-C1"}};
  struct {
    const char* what;
    Params params;  // a POST, or (with "get") a GET of the same
    const char* outcome;
    const char* changes;
  } steps[] = {
      {"add",
       {{"action", "add"}, {"name", "proj"}, {"realm", "Old"}, {"anon", "read"},
        {"accounts", Accounts({{"bob", "Secret-B1"}, {"alice", "Secret-A1"}})},
        {"layout", "standard"}},
       "done",
       R"({"realm":{"old":null,"new":"Old"},"anon-access":{"old":null,"new":"read"},)"
       R"("accounts":{"added":["alice","bob"]},"layout":"standard"})"},
      {"add of a name taken",
       {{"action", "add"}, {"name", "proj"}, {"anon", "read"},
        {"accounts", Accounts({{"x", "Secret-X1"}})}},
       "exist", "{}"},
      {"edit", edit("proj", "New", kept), "done",
       R"({"realm":{"old":"Old","new":"New"},"anon-access":{"old":"read","new":"none"},)"
       R"("accounts":{"added":["carol"],"removed":["bob"],"password":["alice"]}})"},
      {"edit that changes nothing", edit("proj", "New", kept), "done", "{}"},
      {"edit refused half-way: what it tried",
       edit("proj", "Tried", {{"dave", "Secret-D1"}, {"DAVE", "Secret-D2"}}), "failed",
       R"({"realm":{"old":"New","new":"Tried"}})"},
      {"edit of a missing repository", edit("nope", "R", {{"eve", "Secret-E1"}}), "nonexist",
       "{}"},
      {"rules", rulesEdit(R"({"devs":["Alice","carol"]})", rules), "done",
       R"({"authz-db":{"old":null,"new":"authz"},"force-username-case":{"old":null,"new":"lower"},)"
       R"("groups":{"added":[{"group":"devs","members":["alice","carol"]}]},)"
       R"("rules":{"added":[{"path":"/","who":"*","access":"r"},)"
       R"({"path":"/trunk","who":"@devs","access":"rw"}]}})"},
      {"rules changed",
       rulesEdit(R"({"devs":["alice"]})", R"([{"path":"/trunk","who":"@devs","access":"r"}])"),
       "done",
       R"({"groups":{"added":[{"group":"devs","members":["alice"]}],)"
       R"("removed":[{"group":"devs","members":["alice","carol"]}]},)"
       R"("rules":{"added":[{"path":"/trunk","who":"@devs","access":"r"}],)"
       R"("removed":[{"path":"/","who":"*","access":"r"},)"
       R"({"path":"/trunk","who":"@devs","access":"rw"}]}})"},
      {"rules refused", rulesEdit("{}", R"([{"path":"trunk","who":"*","access":"r"}])"),
       "failed", "{}"},
      {"rules off", rulesEdit("{}", "[]"), "done",
       R"({"authz-db":{"old":"authz","new":null},)"
       R"("groups":{"removed":[{"group":"devs","members":["alice"]}]},)"
       R"("rules":{"removed":[{"path":"/trunk","who":"@devs","access":"r"}]}})"},
      {"edit by GET", {{"get", ""}, {"action", "edit"}, {"name", "proj"}, {"anon", "read"},
                       {"accounts", Accounts({{"mallory", "Secret-M1"}})}},
       "refused", "{}"},
      {"backup removal: which one",
       {{"action", "backup_remove"}, {"name", "proj"}, {"file", "proj-20260102T030405Z-r1.tar.gz"}},
       "nonexist", R"({"file":"proj-20260102T030405Z-r1.tar.gz"})"},
      {"remove", {{"action", "remove"}, {"name", "proj"}}, "done", "{}"},
      {"remove again", {{"action", "remove"}, {"name", "proj"}}, "nonexist", "{}"},
  };
  long long seq = 0;
  for (const auto& s : steps) {
    Params params = s.params;
    const bool get = params[0].first == "get";
    if (get) params.erase(params.begin());
    CgiResult r = get ? Get(FormEncode(params)) : Post(params);
    EXPECT_EQ(s.outcome == std::string("done"), r.json["success"].asBool()) << s.what << r.body;
    std::vector<Json::Value> records = audit_log::Records();
    ASSERT_EQ(static_cast<size_t>(seq + 1), records.size()) << s.what;
    Json::Value rec = records.back();
    EXPECT_EQ(++seq, rec["seq"].asInt64()) << s.what;
    EXPECT_EQ(params[0].second, rec["action"].asString()) << s.what;
    EXPECT_EQ(params[1].second, rec["name"].asString()) << s.what;
    EXPECT_EQ(s.outcome, rec["outcome"].asString()) << s.what;
    EXPECT_EQ(ParseText(s.changes), rec["changes"]) << s.what;
    EXPECT_EQ("admin", rec["user"].asString()) << s.what;
    EXPECT_EQ("192.0.2.7", rec["addr"].asString()) << s.what;
    struct tm t = {};
    const std::string when = rec["time"].asString();  // UTC, to the second
    const char* end = strptime(when.c_str(), "%Y-%m-%dT%H:%M:%SZ", &t);
    ASSERT_TRUE(when.size() == 20 && end != nullptr && *end == '\0') << when;
    EXPECT_LE(std::abs(difftime(timegm(&t), time(nullptr))), 60) << when;
    EXPECT_EQ(8u, rec.size()) << s.what;
  }
  // Reads, and requests refused before their action is known, leave none.
  Get("action=load");
  Get("action=show&name=proj");
  Get("action=audit");
  CgiEnv env = GetEnv("action=remove&name=proj");
  env["HTTP_SEC_FETCH_SITE"] = "cross-site";
  RunCgi(SVN_CGI, env);
  EXPECT_EQ(static_cast<size_t>(seq), audit_log::Lines().size());
  // A record too long for a line is abridged.
  Params many;
  for (int i = 0; i < 6000; ++i)
    many.push_back({"account-" + std::to_string(i), "Secret-" + std::to_string(i)});
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "many"}, {"anon", "read"},
                    {"accounts", Accounts(many)}}).json["success"].asBool());
  const std::string line = audit_log::Lines().back();
  EXPECT_LT(line.size(), 64u * 1024);
  Json::Value rec = audit_log::Parse(line);
  EXPECT_TRUE(rec["abridged"].asBool());
  EXPECT_EQ(20u, rec["changes"]["accounts"]["added"].size());
  EXPECT_EQ(seq + 1, rec["seq"].asInt64());
  // No password sent, the refused ones included, is in any file written.
  EXPECT_EQ(std::string::npos, audit_log::AllText().find("Secret-"));
  EXPECT_EQ(0700, Mode(audit_log::Dir()));
  EXPECT_EQ(0600, Mode(audit_log::File(0)));
}

TEST_F(Audit, ConcurrentWritersLeaveOneWholeRecordEach) {
  const int kClients = 8, kRequests = 200;
  for (const char* name : {"r0", "r1"})
    ASSERT_TRUE(Post({{"action", "add"}, {"name", name}, {"anon", "read"}, {"accounts", "[]"}})
                    .json["success"].asBool());
  auto client = [](int c) {
    for (int i = 0; i < kRequests; ++i) {
      const std::string tag = std::to_string(c) + "-" + std::to_string(i);
      if (i % 2 == 0) {  // a change written, one refused
        Post({{"action", "edit"}, {"name", i % 4 ? "r1" : "r0"}, {"realm", "realm " + tag},
              {"anon", "read"}, {"accounts", "[]"}});
      } else {
        Post({{"action", "remove"}, {"name", "nope " + tag}});
      }
    }
  };
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) clients.emplace_back(client, c);
  for (std::thread& t : clients) t.join();

  const size_t total = 2 + kClients * kRequests;
  std::vector<std::string> lines = audit_log::Lines();
  ASSERT_EQ(total, lines.size());
  std::multiset<std::string> tags;
  std::set<long long> seqs;
  for (const std::string& line : lines) {
    Json::Value r = audit_log::Parse(line);
    ASSERT_TRUE(r.isObject()) << line;
    seqs.insert(r["seq"].asInt64());
    const Json::Value& realm = r["changes"]["realm"]["new"];
    const std::string name = r["name"].asString();
    if (realm.isString()) tags.insert(realm.asString().substr(6));
    if (name.compare(0, 5, "nope ") == 0) tags.insert(name.substr(5));
  }
  EXPECT_EQ(total, seqs.size());
  EXPECT_EQ(1, *seqs.begin());
  EXPECT_EQ(static_cast<long long>(total), *seqs.rbegin());
  EXPECT_EQ(static_cast<size_t>(kClients * kRequests), tags.size());
  EXPECT_EQ(tags.size(), std::set<std::string>(tags.begin(), tags.end()).size());
  // Rotated on the way, nothing dropped; read back across the files,
  // newest first, each record once.
  EXPECT_GE(audit_log::Files().size(), 5u);
  std::vector<long long> read;
  for (size_t start = 0; start < total; start += 1000) {
    Json::Value page = Page("start=" + std::to_string(start) + "&limit=5000");
    EXPECT_EQ(static_cast<long long>(total), page["total"].asInt64());
    EXPECT_TRUE(page["exact"].asBool());
    for (long long s : Seqs(page["records"])) read.push_back(s);
  }
  ASSERT_EQ(total, read.size());
  for (size_t i = 0; i < total; ++i) EXPECT_EQ(static_cast<long long>(total - i), read[i]);
}

TEST_F(Audit, RotationKeepsTheNewestFilesAndReadingPagesAndFilters) {
  // A log made by hand: the rotated files full, each of 10 records, the
  // current one just short of the rotation size, with lines that are no
  // records and a half-written one at its end.
  const int kPerFile = 10;
  sandbox::Shell("mkdir -m 700 '" + audit_log::Dir() + "'");
  std::vector<std::pair<std::string, std::string>> all;  // (name, user), oldest first
  long long seq = 0;
  auto fill = [&](const std::string& file, int records, const std::string& pad) {
    std::string text;
    for (int i = 0; i < records; ++i) {
      std::string name = "r" + std::to_string(seq % 7), user = "u" + std::to_string(seq % 3);
      text += RecordLine(++seq, name + pad, user);
      all.push_back({name + pad, user});
      if (i == 3) text += "not a record\n\n";
    }
    sandbox::WriteFile(file, text);
  };
  for (int i = SVN_AUDIT_KEEP; i >= 1; --i) fill(audit_log::File(i), kPerFile, "");
  fill(audit_log::File(0), 1, std::string(SVN_AUDIT_ROTATE_BYTES - 200, 'x'));
  sandbox::WriteFile(audit_log::File(0),
                     sandbox::ReadFile(audit_log::File(0)) + R"({"action":"ed)");
  sandbox::Shell("chmod 600 '" + audit_log::Dir() + "'/*");

  // The next record goes after the last whole one, and rotates: the
  // oldest file goes.
  sandbox::ClearLog();
  EXPECT_EQ("nonexist", Post({{"action", "remove"}, {"name", "r0"}}).json["errinfo"]["key"]
                            .asString());
  EXPECT_EQ((Lines{"ui: Repository r0 is not exist",
                   "svn_audit: A half-written audit record (13 bytes) was taken back."}),
            LogTexts());
  all.push_back({"r0", "admin"});
  all.erase(all.begin(), all.begin() + kPerFile);
  EXPECT_NE(0, access(audit_log::File(0).c_str(), F_OK));
  Json::Value newest = audit_log::Parse(audit_log::Lines().back());
  EXPECT_EQ(seq + 1, newest["seq"].asInt64());
  EXPECT_EQ(11, audit_log::Parse(audit_log::Lines().front())["seq"].asInt64());

  // Pages, newest first, of all records or those of one repository and
  // one administrator.  With a filter the count stops one past the page.
  std::reverse(all.begin(), all.end());
  struct {
    std::string name, user;
    size_t start, limit;
  } cases[] = {
      {"", "", 0, 50}, {"", "", 7, 5}, {"", "", 150, 50}, {"", "", 400, 5},
      {"r3", "", 0, 5}, {"r3", "", 20, 50}, {"", "u1", 3, 4}, {"r2", "u2", 0, 100},
      {"r2", "u2", 2, 3}, {"", "admin", 0, 1}, {"r9", "", 0, 5}, {"r1", "", 10, 0},
  };
  for (const auto& c : cases) {
    std::vector<long long> want;
    size_t matches = 0;
    for (size_t i = 0; i < all.size(); ++i) {
      if ((!c.name.empty() && all[i].first != c.name) ||
          (!c.user.empty() && all[i].second != c.user))
        continue;
      if (matches >= c.start && matches < c.start + c.limit)
        want.push_back(static_cast<long long>(seq + 1 - i));
      ++matches;
    }
    const std::string query = "name=" + c.name + "&user=" + c.user + "&start=" +
                              std::to_string(c.start) + "&limit=" + std::to_string(c.limit);
    Json::Value page = Page(query);
    EXPECT_EQ(want, Seqs(page["records"])) << query;
    const bool filtered = !c.name.empty() || !c.user.empty();
    const bool exact = !filtered || matches <= c.start + c.limit;
    EXPECT_EQ(exact, page["exact"].asBool()) << query;
    EXPECT_EQ(exact ? matches : c.start + c.limit + 1, page["total"].asUInt64()) << query;
  }
}

TEST_F(Audit, WhatIsPlantedWhereTheLogGoesIsNeverFollowed) {
  const std::string outside = sandbox::Dir() + "/outside";
  const std::string dir = audit_log::Dir(), file = audit_log::File(0);
  struct {
    const char* name;
    std::string make;
    bool written;
  } cases[] = {
      {"the log a link", "mkdir -m 700 " + dir + " && ln -s " + outside + " " + file, false},
      {"the directory a link", "mkdir -m 700 " + outside + "d && ln -s " + outside + "d " + dir,
       false},
      {"the log a FIFO", "mkdir -m 700 " + dir + " && mkfifo -m 600 " + file, false},
      {"the log a hard link", "mkdir -m 700 " + dir + " && ln " + outside + " " + file, false},
      {"the directory another user's", "mkdir -m 700 " + dir + " && chown nobody " + dir, false},
      {"the log another user's",
       "mkdir -m 700 " + dir + " && touch " + file + " && chown nobody " + file, false},
      {"a directory open to all", "mkdir -m 777 " + dir, true},
      {"a log open to all", "mkdir -m 700 " + dir + " && touch " + file + " && chmod 666 " + file,
       true},
  };
  for (const auto& c : cases) {
    if (c.make.find("chown") != std::string::npos && geteuid() != 0) continue;  // needs root
    sandbox::Reset();
    sandbox::WriteFile(outside, "kept\n");
    ASSERT_EQ(0, sandbox::Shell(c.make)) << c.name;
    CgiResult r = Post({{"action", "remove"}, {"name", "nope"}});
    EXPECT_EQ("nonexist", r.json["errinfo"]["key"].asString()) << c.name;  // the answer stands
    EXPECT_EQ("kept\n", sandbox::ReadFile(outside)) << c.name;
    Lines log = LogTexts();
    EXPECT_EQ(c.written, log.back().find("was not written") == std::string::npos) << c.name;
    if (c.written) {
      EXPECT_EQ("nope", audit_log::Last()["name"].asString()) << c.name;
      EXPECT_EQ(0700, Mode(dir)) << c.name;
      EXPECT_EQ(0600, Mode(file)) << c.name;
    }
  }
}

// A log damaged or written by hand: the records after it are numbered on
// from the last record a writer could have written, and the count stays
// what the numbers say.
TEST_F(Audit, NumbersPlantedByHandDoNotCarryOn) {
  struct {
    const char* name;
    std::string planted;  // after records 1 and 2
    long long next;       // the number of the record written then
  } cases[] = {
      {"the largest number", "{\"seq\":9223372036854775807,\"name\":\"x\"}\n", 3},
      {"past what JSON keeps", "{\"seq\":9007199254740993,\"name\":\"x\"}\n", 3},
      {"a negative number", "{\"seq\":-5,\"name\":\"x\"}\n", 3},
      {"the largest kept", "{\"seq\":9007199254740992,\"name\":\"x\"}\n", 9007199254740993LL},
  };
  for (const auto& c : cases) {
    sandbox::Reset();
    sandbox::Shell("mkdir -m 700 '" + audit_log::Dir() + "'");
    sandbox::WriteFile(audit_log::File(0), RecordLine(1, "a", "admin") + RecordLine(2, "a", "admin") +
                                               c.planted);
    Post({{"action", "remove"}, {"name", "nope"}});
    EXPECT_EQ(c.next, audit_log::Last()["seq"].asInt64()) << c.name;
    const Json::Value page = Page("limit=1");
    EXPECT_TRUE(page["total"].asInt64() > 0 && page["total"].asInt64() <= c.next) << c.name;
  }
}

// Lines damaged by hand among the records: paging through the log, with
// any page size, gives each record once, in order.
TEST_F(Audit, PagesOverDamagedLinesNeitherRepeatNorSkip) {
  sandbox::Shell("mkdir -m 700 '" + audit_log::Dir() + "'");
  sandbox::WriteFile(audit_log::File(0), RecordLine(1, "a", "admin") + "{broken\n" +
                                             RecordLine(2, "a", "admin") + "not json\n{\n" +
                                             RecordLine(3, "a", "admin") + "{\"seq\":\n" +
                                             RecordLine(4, "a", "admin"));
  for (int limit : {1, 2, 3, 50}) {
    std::vector<long long> seen;
    for (int start = 0; start < 20; start += limit) {
      const Json::Value page = Page("start=" + std::to_string(start) + "&limit=" +
                                    std::to_string(limit));
      for (long long seq : Seqs(page["records"])) seen.push_back(seq);
    }
    EXPECT_EQ(std::vector<long long>({4, 3, 2, 1}), seen) << "limit " << limit;
  }
}

TEST_F(Audit, AFullDiskLosesTheRecordNotTheAnswer) {
  sandbox::Shell("mkdir -m 700 '" + audit_log::Dir() + "'");
  if (mount("tmpfs", audit_log::Dir().c_str(), "tmpfs", 0, "size=64k,mode=700") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  mounted_ = true;
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "full"}, {"anon", "read"}, {"accounts", "[]"}})
                  .json["success"].asBool());
  // All but a few bytes taken: the next record cannot be written whole.
  sandbox::Shell("dd if=/dev/zero of='" + audit_log::Dir() + "/filler' bs=1k 2>/dev/null;"
                 "dd if=/dev/zero of='" + audit_log::Dir() + "/filler2' bs=1 2>/dev/null");
  sandbox::ClearLog();
  CgiResult r = Post({{"action", "edit"}, {"name", "full"}, {"realm", std::string(6000, 'r')},
                      {"anon", "none"}, {"accounts", "[]"}});
  EXPECT_EQ(R"({"data":null,"success":true})", r.body);
  Lines log = LogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(std::string::npos, log.back().find("was not written")) << log.back();
  EXPECT_EQ(1u, audit_log::Lines().size());
  for (const std::string& line : audit_log::Lines()) EXPECT_TRUE(audit_log::Parse(line).isObject());
  // Room again: the numbers run on.
  unlink((audit_log::Dir() + "/filler").c_str());
  Post({{"action", "remove"}, {"name", "full"}});
  EXPECT_EQ(2, audit_log::Last()["seq"].asInt64());
}

TEST_F(Audit, TheActionReadsOnlyAndChecksItsParameters) {
  EXPECT_EQ(ParseText(R"({"success":true,"data":{"total":0,"exact":true,"records":[]}})"),
            Get("action=audit").json);
  EXPECT_NE(0, access(audit_log::Dir().c_str(), F_OK));  // reading made nothing
  for (int i = 0; i < 3; ++i) Post({{"action", "remove"}, {"name", "n" + std::to_string(i)}});
  struct {
    const char* query;
    size_t records;  // or -1: refused
  } cases[] = {
      {"", 3}, {"&limit=2", 2}, {"&start=2", 1}, {"&start=99999999999&limit=1", 0},
      {"&limit=99999999999", 3}, {"&limit=-1", size_t(-1)}, {"&start=1.5", size_t(-1)},
      {"&limit=", size_t(-1)}, {"&name=n1", 1}, {"&user=someone", 0},
  };
  for (const auto& c : cases) {
    CgiResult r = Get(std::string("action=audit") + c.query);
    if (c.records == size_t(-1)) {
      EXPECT_EQ(R"({"success":false})", r.body) << c.query;
    } else {
      EXPECT_EQ(c.records, r.json["data"]["records"].size()) << c.query;
    }
  }
}

}  // namespace

// What hooks leave in the drop directory reaches the log once, in order
// with the requests' records; anything else planted there is removed
// unread (a link, a FIFO, a directory, a huge file, text that is no such
// record), and a writer's temporary file is left to its writer.
TEST_F(Audit, RecordsHooksLeaveAreTakenOnceAndNothingElse) {
  const std::string drop = sandbox::Dir() + "/hook-records", outside = sandbox::Dir() + "/outside";
  ASSERT_EQ(0, sandbox::Shell("mkdir -m 3730 '" + drop + "' && echo kept > '" + outside + "'"));
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "proj"}, {"anon", "read"}, {"accounts", "[]"}})
                  .json["success"].asBool());
  Json::Value left;
  left["kind"] = "log_edit";
  left["time"] = "2026-01-02T03:04:05Z";
  left["name"] = "proj";
  left["rev"] = 7;
  left["user"] = "alice";
  left["old"] = "before";
  left["new"] = "after";
  const std::string good = Json::FastWriter().write(left);
  Json::Value odd = left;
  odd["name"] = "../outside";
  const std::string id = "20260102T030405.000000Z-1-00000000";
  struct {
    const char* file;
    std::string make;  // a shell command in the drop directory
  } planted[] = {
      {"", "printf '%s' '" + good + "' > '" + id + ".json'"},
      {"link", "ln -s '" + outside + "' link.json"},
      {"fifo", "mkfifo fifo.json"},
      {"dir", "mkdir dir.json"},
      {"huge", "head -c 2000000 /dev/zero > huge.json"},
      {"junk", "echo '{\"kind\":' > junk.json"},
      {"odd", "printf '%s' '" + Json::FastWriter().write(odd) + "' > odd.json"},
      {"a writer's", "echo '{}' > .writing"},
  };
  for (const auto& p : planted)
    ASSERT_EQ(0, sandbox::Shell("cd '" + drop + "' && " + p.make)) << p.file;
  ASSERT_TRUE(Post({{"action", "edit"}, {"name", "proj"}, {"realm", "R"}, {"anon", "read"},
                    {"accounts", "[]"}})
                  .json["success"].asBool());
  std::vector<Json::Value> records = audit_log::Records();
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ("log_edit", records[1]["action"].asString()) << records[1];
  EXPECT_EQ("alice", records[1]["user"].asString());
  EXPECT_EQ("2026-01-02T03:04:05Z", records[1]["time"].asString());
  EXPECT_EQ(7, records[1]["changes"]["rev"].asInt());
  EXPECT_EQ("after", records[1]["changes"]["log"]["new"].asString());
  EXPECT_EQ("edit", records[2]["action"].asString());
  EXPECT_EQ(std::vector<std::string>{".writing"}, sandbox::Entries(drop));
  EXPECT_EQ("kept\n", sandbox::ReadFile(outside));
  EXPECT_EQ(03730, Mode(drop));
  // Read back, a record left is taken first; left again (a merge killed
  // before the file went), it is not taken twice.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(0, sandbox::Shell("cd '" + drop + "' && " +
                                std::regex_replace(planted[0].make, std::regex("-00000000"), "-1")));
    EXPECT_EQ(2, Page("name=proj&user=alice")["total"].asInt()) << i;
    EXPECT_EQ(4u, audit_log::Records().size()) << i;
    EXPECT_EQ(std::vector<std::string>{".writing"}, sandbox::Entries(drop)) << i;
  }
}
