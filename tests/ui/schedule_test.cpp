// Backup schedules: set through the program, run by svn-admin "scheduled"
// on a clock the test sets (--now), shown in the listing, "show" and the
// alerts, told in the system log and by mail.

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include <json/reader.h>

#include "schedule_fixture.h"

namespace {

using namespace program;

// The newest audit record.
Json::Value LastRecord() {
  return Get("action=audit&limit=1").json["data"]["records"][0];
}

TEST_F(Schedules, RefusedValuesAnswerWhichAndChangeNothing) {
  Add("repo");
  struct {
    Params params;
    const char* field;
  } cases[] = {
      {{{"all", "yes"}, {"every", "0"}}, "every"},
      {{{"all", "yes"}, {"every", "721"}}, "every"},
      {{{"all", "yes"}, {"every", "24 "}}, "every"},
      {{{"all", "yes"}, {"every", ""}}, "every"},
      {{{"all", "yes"}, {"at", "24:00"}}, "at"},
      {{{"all", "yes"}, {"at", "2:30"}}, "at"},
      {{{"all", "yes"}, {"keep", "0"}}, "keep"},
      {{{"all", "yes"}, {"keep", "1001"}}, "keep"},
      {{{"all", "yes"}, {"verify", "maybe"}}, "verify"},
      {{{"all", "yes"}, {"kind", "tar"}}, "kind"},
      {{{"all", "yes"}, {"notify", "ops@example.com\r\nBcc: spy@example.net"}}, "notify"},
      {{{"all", "yes"}, {"notify", "ops@example.com\nSubject: x"}}, "notify"},
      {{{"all", "yes"}, {"notify", "ops@example.com, spy@example.net"}}, "notify"},
      {{{"all", "yes"}, {"notify", "ops@example.com spy@example.net"}}, "notify"},
      {{{"all", "yes"}, {"notify", "-oQ/tmp/x@example.com"}}, "notify"},
      {{{"all", "yes"}, {"notify", "<ops@example.com>"}}, "notify"},
      {{{"all", "yes"}, {"notify", "nobody"}}, "notify"},
      {{{"name", "repo"}, {"notify", "ops@example.com"}}, "notify"},
      {{{"name", "repo"}, {"default", "yes"}, {"every", "6"}}, "default"},
  };
  const std::string before = Snapshot();
  for (const auto& c : cases) {
    CgiResult r = Edit(c.params);
    EXPECT_FALSE(r.json["success"].asBool()) << c.field << r.body;
    EXPECT_EQ("invalid", r.json["errinfo"]["key"].asString()) << c.field << r.body;
    EXPECT_EQ(c.field, r.json["errinfo"]["field"].asString()) << r.body;
    EXPECT_FALSE(r.json["errinfo"]["reason"].asString().empty()) << r.body;
    EXPECT_EQ("invalid", LastRecord()["outcome"].asString()) << c.field;
  }
  EXPECT_EQ(before, Snapshot());
  EXPECT_NE(0, access(ScheduleFile().c_str(), F_OK));
  // Neither a repository and all, nor none, nor a missing repository.
  for (const char* form : {"action=schedule_edit&all=yes&name=repo&every=6",
                           "action=schedule_edit&every=6", "action=schedule_edit&name=gone&every=6"})
    EXPECT_FALSE(PostForm(form).json["success"].asBool()) << form;
  int status = 0;
  for (const char* args : {"scheduled x", "backup repo --now 2026-01-02T03:04:05Z",
                           "scheduled --now yesterday", "scheduled --all"}) {
    jobs::Admin(kAdmin, args, &status);
    EXPECT_EQ(2, status) << args;
  }
  EXPECT_NE(std::string::npos, jobs::Admin(kAdmin, "--help", &status).find("--now"));
}

TEST_F(Schedules, SetShownAuditedAndFollowingRenames) {
  for (const char* name : {"repo", "other"}) Add(name);
  EXPECT_EQ("off", Get("action=schedule_show&all=yes").json["data"]["every"].asString());
  ASSERT_TRUE(Edit({{"all", "yes"}, {"every", "24"}, {"at", "02:30"}, {"keep", "3"},
                    {"verify", "yes"}, {"kind", "dump"}, {"notify", "ops@example.com"}})
                  .json["success"].asBool());
  Json::Value record = LastRecord();
  EXPECT_EQ("schedule_edit", record["action"].asString());
  EXPECT_EQ("off", record["changes"]["every"]["old"].asString()) << record;
  EXPECT_EQ(24, record["changes"]["every"]["new"].asInt()) << record;
  EXPECT_EQ("ops@example.com", record["changes"]["notify"]["new"].asString()) << record;
  ASSERT_TRUE(Edit({{"name", "repo"}, {"every", "6"}}).json["success"].asBool());
  EXPECT_EQ("own", LastRecord()["changes"]["schedule"]["new"].asString());
  struct {
    const char* query;
    const char* expected;
  } shown[] = {
      {"all=yes", R"({"at":"02:30","every":24,"keep":3,"kind":"dump","verify":true,)"
                  R"("notify":"ops@example.com"})"},
      {"name=repo", R"({"at":"02:30","every":6,"keep":3,"kind":"dump","verify":true,"own":true})"},
      {"name=other", R"({"at":"02:30","every":24,"keep":3,"kind":"dump","verify":true,"own":false})"},
  };
  for (const auto& s : shown) {
    Json::Value expected;
    ASSERT_TRUE(Json::Reader().parse(s.expected, expected));
    EXPECT_EQ(expected, Get(std::string("action=schedule_show&") + s.query).json["data"]) << s.query;
  }
  // The repository's schedule goes with it, under a name beyond ASCII with
  // a backslash, and with its removal.
  const std::string moved = "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82 \\ \xCE\xB2";  // Проект \ β
  const std::string as = FormEncode({{"name", moved}});
  ASSERT_TRUE(Post({{"action", "rename"}, {"name", "repo"}, {"to", moved}}).json["success"].asBool());
  EXPECT_EQ(6, Get("action=schedule_show&" + as).json["data"]["every"].asInt());
  EXPECT_FALSE(Get("action=schedule_show&name=repo").json["success"].asBool());
  EXPECT_FALSE(Get("action=show&" + as).json["data"]["backup"]["next"].isNull());
  ASSERT_TRUE(Post({{"action", "remove"}, {"name", moved}}).json["success"].asBool());
  Add(moved);  // a new one of that name has none of its own
  EXPECT_FALSE(Get("action=schedule_show&" + as).json["data"]["own"].asBool());
  // Back to the default.
  ASSERT_TRUE(Edit({{"name", "other"}, {"every", "off"}}).json["success"].asBool());
  ASSERT_TRUE(Edit({{"name", "other"}, {"default", "yes"}}).json["success"].asBool());
  EXPECT_FALSE(Get("action=schedule_show&name=other").json["data"]["own"].asBool());
}

TEST_F(Schedules, AFileBrokenByHandIsRefusedWithItsReason) {
  Add("repo");
  struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"not JSON", "{"},
      {"a member misspelt", R"({"format":1,"defualt":{"every":24}})"},
      {"hours out of range", R"({"format":1,"default":{"every":0}})"},
      {"a second address", R"({"format":1,"notify":"ops@example.com\nBcc: spy@example.net"})"},
      {"no repository name", R"({"format":1,"repositories":{"../x":{"every":1}}})"},
      {"too large", R"({"format":1,"default":{"every":24}})" + std::string(5 << 20, ' ')},
  };
  for (const auto& c : cases) {
    sandbox::Shell("mkdir -p -m 700 '" + sandbox::Dir() + "/var'");
    sandbox::WriteFile(ScheduleFile(), c.text);
    CgiResult shown = Get("action=schedule_show&all=yes");
    EXPECT_EQ("handmade", shown.json["errinfo"]["key"].asString()) << c.what << shown.body;
    EXPECT_NE(std::string::npos, shown.json["errinfo"]["reason"].asString().find("schedule file"))
        << c.what;
    EXPECT_EQ("handmade", Edit({{"all", "yes"}, {"every", "6"}}).json["errinfo"]["key"].asString())
        << c.what;
    EXPECT_EQ(c.text, sandbox::ReadFile(ScheduleFile())) << c.what;
    int status = 0;
    EXPECT_NE(std::string::npos, Scheduled(time(nullptr), &status).find("cannot be used")) << c.what;
    EXPECT_EQ(1, status) << c.what;
  }
}

TEST_F(Schedules, DailyBackupsOverASimulatedWeek) {
  Add("daily");
  ASSERT_TRUE(Edit({{"name", "daily"}, {"every", "24"}, {"at", "02:30"}, {"keep", "3"},
                    {"verify", "yes"}})
                  .json["success"].asBool());
  struct {
    int day, minute;  // after 02:00
    int backups;      // made by the call
  } calls[] = {
      {1, 31, 1}, {1, 32, 0},  // a minute apart: nothing twice
      {2, 31, 1}, {3, 40, 1}, {4, 31, 1}, {5, 31, 1}, {6, 31, 1}, {7, 31, 1},
      {10, 50, 1},             // two slots missed while off: one backup
      {10, 59, 0},
  };
  std::vector<std::string> made;
  for (const auto& c : calls) {
    int status = -1;
    const std::string out = Scheduled(Local(c.day, 2, c.minute), &status);
    EXPECT_EQ(0, status) << out;
    EXPECT_EQ(c.backups, Count(out, "daily: backed up revision 1 to ")) << c.day << out;
    EXPECT_EQ(c.backups, Count(out, ", no problems found")) << c.day << out;  // its test restore
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, 31, "daily: backed up revision 1 to ") == 0)
        made.push_back(line.substr(line.rfind('/') + 1));
  }
  ASSERT_EQ(8u, made.size());
  // The three newest are kept, each restored once to test it.
  EXPECT_EQ(std::vector<std::string>(made.rbegin(), made.rbegin() + 3), Backups_("daily"));
  const Json::Value kept = Get("action=backups&name=daily").json["data"];
  for (const Json::Value& b : kept) EXPECT_TRUE(b["tested"]["ok"].asBool()) << b;
  Json::Value shown = Get("action=show&name=daily").json["data"]["backup"];
  EXPECT_EQ(1, shown["last_good"]["rev"].asInt()) << shown;
  EXPECT_EQ(Iso(Local(10, 2, 50)), shown["last_good"]["time"].asString());
  EXPECT_EQ(Iso(Local(11, 2, 30)), shown["next"].asString());
  EXPECT_FALSE(shown["overdue"].asBool());
  // Each backup a job of svn-admin's, recorded.
  const Json::Value jobs = Get("action=jobs&name=daily").json["data"];
  EXPECT_EQ(16u, jobs.size());
  for (const Json::Value& job : jobs) EXPECT_EQ("done", job["state"].asString()) << job;
}

TEST_F(Schedules, OverdueRepositoriesAreMarked) {
  for (const char* name : {"late", "fresh", "off"}) Add(name);
  // A default schedule set three days ago, run once two days ago.
  const time_t since = time(nullptr) - 3 * 86400;
  sandbox::Shell("mkdir -p -m 700 '" + sandbox::Dir() + "/var'");
  sandbox::WriteFile(ScheduleFile(), R"({"format":1,"default":{"every":24,"at":"03:00","since":")" +
                                         Iso(since) + R"("},"repositories":{"off":{"every":"off"}}})");
  std::string out = Scheduled(since + 26 * 3600);
  EXPECT_EQ(1, Count(out, "late: backed up")) << out;
  // A schedule of its own, whose slots begin now.
  ASSERT_TRUE(Edit({{"name", "fresh"}, {"every", "12"}}).json["success"].asBool());
  Add("never");  // under the default since, never backed up
  struct {
    const char* name;
    bool overdue;
  } cases[] = {{"late", true}, {"fresh", false}, {"off", false}, {"never", true}};
  Json::Value alerts = Get("action=backup_alerts").json["data"];
  EXPECT_EQ(2, alerts["overdue_total"].asInt()) << alerts;
  for (const auto& c : cases) {
    EXPECT_EQ(c.overdue, Listed(c.name)["overdue"].asBool()) << c.name << Listed(c.name);
    Json::Value shown = Get(std::string("action=show&name=") + c.name).json["data"]["backup"];
    EXPECT_EQ(c.overdue, shown["overdue"].asBool()) << c.name << shown;
    bool alerted = false;
    for (const Json::Value& o : alerts["overdue"]) alerted = alerted || o["name"] == c.name;
    EXPECT_EQ(c.overdue, alerted) << c.name;
  }
  EXPECT_EQ(Iso(since + 26 * 3600),
            Get("action=show&name=late").json["data"]["backup"]["last_good"]["time"].asString());
}

TEST_F(Schedules, AFailedBackupIsLoggedAndMailedOnce) {
  for (const char* name : {"broken", "fine"}) Add(name);
  ASSERT_TRUE(Edit({{"all", "yes"}, {"every", "24"}, {"at", "02:30"},
                    {"notify", "ops@example.com"}}).json["success"].asBool());
  ASSERT_EQ(0, unlink((sandbox::RepoDir("broken") + "/db/current").c_str()));
  StandInSendmail();
  sandbox::ClearLog();
  int status = 0;
  std::string out = Scheduled(Local(1, 2, 31), &status);
  EXPECT_EQ(1, status) << out;
  EXPECT_EQ(1, Count(out, "fine: backed up")) << out;
  int lines = 0;
  for (const std::string& line : LogTexts())
    lines += line == "svn_job: The scheduled backup of broken failed: The repository's history "
                     "cannot be read.";
  EXPECT_EQ(1, lines) << ::testing::PrintToString(LogTexts());
  std::vector<std::string> mails = Mails();
  ASSERT_EQ(1u, mails.size());
  EXPECT_EQ(0u, mails[0].find("args: -t -i\nTo: ops@example.com\nSubject: ")) << mails[0];
  EXPECT_NE(std::string::npos, mails[0].find("- broken: the backup failed: The repository's history"))
      << mails[0];
  EXPECT_EQ(std::string::npos, mails[0].find("fine")) << mails[0];
  EXPECT_EQ(std::string::npos, mails[0].find("secret pw")) << mails[0];
  // Marked, and alerted, until a backup succeeds.
  EXPECT_TRUE(Listed("broken")["backup_failed"].asBool());
  EXPECT_TRUE(Listed("fine")["backup_failed"].isNull());
  Json::Value alerts = Get("action=backup_alerts").json["data"];
  ASSERT_EQ(1, alerts["failed_total"].asInt()) << alerts;
  EXPECT_EQ("broken", alerts["failed"][0]["name"].asString());
  EXPECT_EQ("backup", alerts["failed"][0]["kind"].asString());
  // A minute later nothing is due, and nothing is mailed again.
  Scheduled(Local(1, 2, 32), &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ(1u, Mails().size());
  // Without a mail program the log says so, once a run.
  unlink((sandbox::Dir() + "/bin/sendmail").c_str());
  sandbox::ClearLog();
  Scheduled(Local(2, 2, 31), &status);
  EXPECT_EQ(1, status);
  int missing = 0;
  for (const std::string& line : LogTexts())
    missing += line.find("bin/sendmail cannot be run") != std::string::npos;
  EXPECT_EQ(1, missing) << ::testing::PrintToString(LogTexts());
}

TEST_F(Schedules, ARepositoryWithARunningJobIsTakenAtTheNextCall) {
  Add("held");
  ASSERT_TRUE(Edit({{"name", "held"}, {"every", "24"}, {"at", "02:30"}}).json["success"].asBool());
  // A verify that takes a while holds the repository.
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  sandbox::Shell("rm -f '" + tool + "'");
  sandbox::WriteFile(tool, "#!/bin/sh\n[ \"$1\" = verify ] && sleep 3\nexec svnadmin \"$@\"\n");
  sandbox::Shell("chmod 755 '" + tool + "'");
  const std::string id = Start({{"action", "verify"}, {"name", "held"}});
  int status = -1;
  std::string out = Scheduled(Local(1, 2, 31), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(1, Count(out, "held: busy")) << out;
  EXPECT_TRUE(Backups_("held").empty());
  EXPECT_EQ("done", jobs::WaitJob(SVN_CGI, sandbox::Dir(), id)["state"].asString());
  out = Scheduled(Local(1, 2, 32), &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_EQ(1, Count(out, "held: backed up")) << out;
  EXPECT_EQ(1u, Backups_("held").size());
}

}  // namespace
