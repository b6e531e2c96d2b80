// schedule.h: the backup schedules: how often each repository is backed
// up and from what time of day, how many of its backups are kept, whether
// each new one is test-restored and of which kind it is; and where mails
// about failures go.
//
// One file of the package's private state (scheduleFile, see package.h:
// var/schedule.json, the service user's, 0600) holds the default, which
// every repository follows unless it has a schedule of its own, the
// address mails go to, and the repositories' own schedules by name:
//
//   {"format": 1,
//    "default": {"every": 24, "at": "02:30", "keep": 7, "verify": false,
//                "kind": "hotcopy", "since": "2026-01-02T03:04:05Z"},
//    "notify": "admin@example.com",
//    "repositories": {"NAME": {"every": "off", ...}}}
//
// "every" is the hours between backups (1 to 720) or "off"; "since" when
// "every" or "at" last changed (slots before it are not the schedule's).
// A member left out of a repository's schedule is the default's.  The file
// may be edited by hand; one that is not of this form (a link, another
// owner's, over kMaxScheduleFile, not JSON, an unknown member, a value out
// of range, an address that is not one) is refused whole with a reason
// that names what is wrong, nothing is scheduled while it is, and the
// program never writes over it.  Without the file nothing is scheduled.
//
// The slots of a schedule, in local time: for every 24 hours or fewer,
// each day at "at", then every "every" hours until midnight (02:30, 08:30,
// 14:30, 20:30 for 6); for longer ones every "every" hours from "at" on
// the day of "since".
#ifndef SVN_STORE_SCHEDULE_H_
#define SVN_STORE_SCHEDULE_H_

#include <json/value.h>
#include <time.h>

#include <map>
#include <string>

#include "store/status.h"

constexpr size_t kMaxScheduleFile = 4 << 20;

struct SVNSchedule {
  int every = 0;                 // hours between backups, 1 to 720; 0: off
  int at = 2 * 60 + 30;          // the first slot of a day, in minutes after midnight
  int keep = 7;                  // the repository's own backups kept, 1 to 1,000
  bool verify = false;           // test-restore each new backup
  std::string kind = "hotcopy";  // or "dump"
  time_t since = 0;              // when "every" or "at" last changed
};

struct SVNSchedules {
  SVNSchedule fallback;  // the default
  std::string notify;    // where mails go; empty: nowhere
  std::map<std::string, SVNSchedule> own;  // by repository name
  // The schedule `name` follows.
  const SVNSchedule& of(const std::string& name) const {
    auto it = own.find(name);
    return it == own.end() ? fallback : it->second;
  }
};

// Each value as schedule_edit takes it (the text of its parameter) and the
// file holds it: false, with a sentence for people in *why, when it is
// refused.
bool ParseEvery(const std::string& text, int* every, std::string* why);
bool ParseAt(const std::string& text, int* at, std::string* why);
bool ParseKeep(const std::string& text, int* keep, std::string* why);
bool ParseVerify(const std::string& text, bool* verify, std::string* why);
bool ParseKind(const std::string& text, std::string* kind, std::string* why);
// One mail address, and nothing a mail header could take for more: no
// blank, line break, comma or other character outside A-Z a-z 0-9 and
// "._%+-=" before the "@" and A-Z a-z 0-9 "." "-" after it, no leading
// "-" or "."; at most 254 characters.  Empty: none.
bool CheckNotify(const std::string& text, std::string* why);

// "off" or the hours; "HH:MM".
std::string EveryText(int every);
std::string AtText(int at);

// A time as "YYYY-MM-DDTHH:MM:SSZ" (UTC) reads.
bool ParseIsoTime(const std::string& text, time_t* when);

// Reads the schedules: the defaults without a file; kHandmade, with the
// reason, for a file that is not one.
SVNStatus ReadSchedules(SVNSchedules* schedules);

// Writes the schedules whole, durably (the caller holds their lock, see
// SVNScheduleUpdate in backup_state.h).
SVNStatus WriteSchedules(const SVNSchedules& schedules);

// The latest slot of `s` at or before `now` (and not before `s.since`),
// 0 when there is none or `s` is off.
time_t LatestSlot(const SVNSchedule& s, time_t now);
// The first slot of `s` after `after` (and not before `s.since`), 0 when
// `s` is off.
time_t NextSlot(const SVNSchedule& s, time_t after);
// When a repository following `s` whose last good backup was taken at
// `good` (0: never) is overdue: its schedule's hours and one more after
// that backup, or after the schedule began, whichever is later; 0 when `s`
// is off.
time_t OverdueAt(const SVNSchedule& s, time_t good);

// `s` as schedule_show answers it: {"every", "at", "keep", "verify",
// "kind"}.
Json::Value ScheduleJson(const SVNSchedule& s);

#endif  // SVN_STORE_SCHEDULE_H_
