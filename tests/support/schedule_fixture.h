// schedule_fixture.h: what the tests of backup schedules share: svn-admin
// "scheduled" run by a clock the test sets, times of the local day, the
// schedule file, and a stand-in mail program (the test's svn-admin is
// built to hand its mails to SANDBOX/bin/sendmail).
#ifndef TESTS_SUPPORT_SCHEDULE_FIXTURE_H_
#define TESTS_SUPPORT_SCHEDULE_FIXTURE_H_

#include <time.h>

#include <string>
#include <vector>

#include "backup_fixture.h"

namespace {

class Schedules : public Backups {
 protected:
  static std::string ScheduleFile() { return sandbox::Dir() + "/var/schedule.json"; }

  // "YYYY-MM-DDTHH:MM:SSZ" of `t`, as --now takes it.
  static std::string Iso(time_t t) {
    struct tm utc;
    char text[32];
    gmtime_r(&t, &utc);
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
  }

  // `days` after today, at `hour`:`minute` local time.
  static time_t Local(int days, int hour, int minute) {
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    tm.tm_mday += days;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return mktime(&tm);
  }

  // "svn-admin scheduled --now WHEN": what it printed; *status its exit
  // status.
  static std::string Scheduled(time_t when, int* status = nullptr) {
    int ignored = 0;
    return jobs::Admin(kAdmin, "scheduled --now " + Iso(when), status ? status : &ignored);
  }

  // How many lines of `output` hold `text`.
  static int Count(const std::string& output, const std::string& text) {
    int n = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
    return n;
  }

  static CgiResult Edit(const Params& params) {
    Params all{{"action", "schedule_edit"}};
    all.insert(all.end(), params.begin(), params.end());
    return Post(all);
  }

  // A repository "add" makes, with one commit and one account.
  static void Add(const std::string& name) {
    ASSERT_TRUE(Post({{"action", "add"}, {"name", name}, {"anon", "none"}, {"layout", "standard"},
                      {"accounts", Accounts({{"alice", "secret pw"}})}})
                    .json["success"]
                    .asBool())
        << name;
  }

  // The mail program: each mail handed to it is kept as mail-N.
  static void StandInSendmail() {
    const std::string tool = sandbox::Dir() + "/bin/sendmail";
    sandbox::WriteFile(tool, "#!/bin/sh\nn=$(ls '" + sandbox::Dir() + "' | grep -c '^mail-')\n"
                             "{ echo \"args: $*\"; cat; } > '" + sandbox::Dir() + "/mail-$n'\n");
    sandbox::Shell("chmod 755 '" + tool + "'");
  }

  static std::vector<std::string> Mails() {
    std::vector<std::string> mails;
    for (const std::string& f : sandbox::Entries(sandbox::Dir()))
      if (f.compare(0, 5, "mail-") == 0) mails.push_back(sandbox::ReadFile(sandbox::Dir() + "/" + f));
    return mails;
  }

  // The listing entry of `name` (null when not listed).
  static Json::Value Listed(const std::string& name) {
    const Json::Value listing = Get("action=load&sort=name").json;
    for (const Json::Value& entry : listing["data"])
      if (entry["name"] == name) return entry;
    return Json::Value();
  }
};

}  // namespace

#endif  // TESTS_SUPPORT_SCHEDULE_FIXTURE_H_
