// schedule.cpp: the schedules' file, its values, and the slots.

#include "store/schedule.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>

#include "store/backups.h"
#include "store/name.h"
#include "store/package.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_backup"

namespace {

const int kDayMinutes = 24 * 60;

bool Digits(const std::string& text, size_t most) {
  return !text.empty() && text.size() <= most &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

bool Refuse(std::string* why, const char* sentence) {
  *why = sentence;
  return false;
}

// `base`'s local day moved by `days`, at `minutes` after its midnight.
time_t Local(time_t base, int days, int minutes) {
  struct tm tm;
  localtime_r(&base, &tm);
  tm.tm_mday += days;
  tm.tm_hour = minutes / 60;
  tm.tm_min = minutes % 60;
  tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

// The number of slots of a day for `s` (every 24 hours or fewer).
int SlotsInDay(const SVNSchedule& s) { return (kDayMinutes - 1 - s.at) / (s.every * 60) + 1; }

}  // namespace

bool ParseEvery(const std::string& text, int* every, std::string* why) {
  if (text == "off") {
    *every = 0;
    return true;
  }
  if (!Digits(text, 3) || atoi(text.c_str()) < 1 || atoi(text.c_str()) > 720)
    return Refuse(why, "Hours between backups are a whole number from 1 to 720, or off.");
  *every = atoi(text.c_str());
  return true;
}

bool ParseAt(const std::string& text, int* at, std::string* why) {
  if (text.size() != 5 || text[2] != ':' || !Digits(text.substr(0, 2), 2) ||
      !Digits(text.substr(3), 2) || atoi(text.c_str()) > 23 || atoi(text.c_str() + 3) > 59)
    return Refuse(why, "The first backup of a day is at a time from 00:00 to 23:59 (HH:MM).");
  *at = atoi(text.c_str()) * 60 + atoi(text.c_str() + 3);
  return true;
}

bool ParseKeep(const std::string& text, int* keep, std::string* why) {
  if (!Digits(text, 4) || atoi(text.c_str()) < 1 || atoi(text.c_str()) > 1000)
    return Refuse(why, "The backups to keep are a whole number from 1 to 1,000.");
  *keep = atoi(text.c_str());
  return true;
}

bool ParseVerify(const std::string& text, bool* verify, std::string* why) {
  if (text != "yes" && text != "no") return Refuse(why, "Test-restoring is yes or no.");
  *verify = text == "yes";
  return true;
}

bool ParseKind(const std::string& text, std::string* kind, std::string* why) {
  if (text != "hotcopy" && text != "dump") return Refuse(why, "A backup is a hotcopy or a dump.");
  *kind = text;
  return true;
}

bool CheckNotify(const std::string& text, std::string* why) {
  const char* refused =
      "Mails go to one address, such as admin@example.com: no blank, line break, comma or "
      "other sign, and no leading “-”.";
  if (text.empty()) return true;
  const size_t at = text.find('@');
  if (text.size() > 254 || at == std::string::npos || at == 0 || at + 1 == text.size() ||
      text[0] == '-' || text[0] == '.' || text[at + 1] == '-' || text[at + 1] == '.')
    return Refuse(why, refused);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == at) continue;
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-';
    if (!plain && (i > at || c == '\0' || !strchr("_%+=", c))) return Refuse(why, refused);
  }
  return true;
}

std::string EveryText(int every) { return every == 0 ? "off" : std::to_string(every); }

std::string AtText(int at) {
  char text[8];
  snprintf(text, sizeof text, "%02d:%02d", at / 60 % 24, at % 60);
  return text;
}

bool ParseIsoTime(const std::string& text, time_t* when) {
  struct tm tm = {};
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z')
    return false;
  for (size_t i : {0, 5, 8, 11, 14, 17})
    if (!Digits(text.substr(i, i == 0 ? 4 : 2), 4)) return false;
  tm.tm_year = atoi(text.c_str()) - 1900;
  tm.tm_mon = atoi(text.c_str() + 5) - 1;
  tm.tm_mday = atoi(text.c_str() + 8);
  tm.tm_hour = atoi(text.c_str() + 11);
  tm.tm_min = atoi(text.c_str() + 14);
  tm.tm_sec = atoi(text.c_str() + 17);
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 || tm.tm_min > 59 ||
      tm.tm_sec > 60)
    return false;
  *when = timegm(&tm);
  return *when != static_cast<time_t>(-1);
}

// ---- The file ----

namespace {

// The text of a JSON value that the file may give as a number or a word
// ("every", "keep"), or a truth ("verify").
std::string ValueText(const Json::Value& v) {
  if (v.isUInt()) return std::to_string(v.asUInt());
  if (v.isBool()) return v.asBool() ? "yes" : "no";
  return v.isString() ? v.asString() : std::string("?");
}

// Reads one schedule of the file over `s` (which holds what a member left
// out is); false with the reason in *why.
bool ReadOne(const Json::Value& v, const std::string& whose, SVNSchedule* s, std::string* why) {
  if (!v.isObject()) return Refuse(why, (whose + " is not an object.").c_str());
  for (const std::string& key : v.getMemberNames()) {
    const Json::Value& m = v[key];
    std::string said;
    bool ok = key == "every"    ? ParseEvery(ValueText(m), &s->every, &said)
              : key == "at"     ? m.isString() && ParseAt(m.asString(), &s->at, &said)
              : key == "keep"   ? ParseKeep(ValueText(m), &s->keep, &said)
              : key == "verify" ? m.isBool() && ParseVerify(ValueText(m), &s->verify, &said)
              : key == "kind"   ? m.isString() && ParseKind(m.asString(), &s->kind, &said)
              : key == "since"  ? m.isString() && ParseIsoTime(m.asString(), &s->since)
                                : (said = "it is not a member a schedule has.", false);
    if (!ok) {
      *why = whose + ": \"" + key + "\" is refused" + (said.empty() ? "." : ": " + said);
      return false;
    }
  }
  return true;
}

bool ReadAll(const Json::Value& v, SVNSchedules* out, std::string* why) {
  if (!v.isObject()) return Refuse(why, "It is not a JSON object.");
  for (const std::string& key : v.getMemberNames())
    if (key != "format" && key != "default" && key != "notify" && key != "repositories")
      return Refuse(why, ("\"" + key + "\" is not a member the file has.").c_str());
  if (!v["format"].isInt() || v["format"].asInt() != 1)
    return Refuse(why, "It is not of format 1.");
  if (!v["default"].isNull() && !ReadOne(v["default"], "The default", &out->fallback, why))
    return false;
  if (!v["notify"].isNull() && (!v["notify"].isString() || !CheckNotify(v["notify"].asString(), why)))
    return Refuse(why, ("\"notify\": " + (why->empty() ? "not a text." : *why)).c_str());
  out->notify = v["notify"].asString();
  const Json::Value& repos = v["repositories"];
  if (!repos.isNull() && !repos.isObject()) return Refuse(why, "\"repositories\" is not an object.");
  for (const std::string& name : repos.getMemberNames()) {
    if (!IsValidName(name)) return Refuse(why, ("\"" + name + "\" is no repository name.").c_str());
    SVNSchedule s = out->fallback;
    if (!ReadOne(repos[name], "The schedule of " + name, &s, why)) return false;
    out->own[name] = s;
  }
  return true;
}

Json::Value FileJson(const SVNSchedule& s) {
  Json::Value v = ScheduleJson(s);
  v["verify"] = s.verify;
  if (s.every == 0) v["every"] = "off";
  v["since"] = IsoTime(s.since);
  return v;
}

}  // namespace

SVNStatus ReadSchedules(SVNSchedules* schedules) {
  *schedules = SVNSchedules();
  const std::string& path = Package().scheduleFile;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return SVNStatus();
    return STATUS_ERROR(kFailed, "Stat %s failed: %s", path.c_str(), strerror(errno));
  }
  std::string text, why;
  Json::Value v;
  if (!ReadPrivateFile(path, kMaxScheduleFile, &text))
    why = "It is not a file of the service user's of at most 4 MiB.";
  else if (!ReadJson(text, &v))
    why = "It is not JSON.";
  else
    ReadAll(v, schedules, &why);
  if (why.empty()) return SVNStatus();
  *schedules = SVNSchedules();
  return STATUS_ERROR(kHandmade, "The schedule file %s is refused: %s", path.c_str(), why.c_str())
      .Reason("The schedule file " + path + " cannot be used (" + why +
              ") Nothing is scheduled until it is mended by hand, or removed.");
}

SVNStatus WriteSchedules(const SVNSchedules& schedules) {
  Json::Value v(Json::objectValue);
  v["format"] = 1;
  v["default"] = FileJson(schedules.fallback);
  if (!schedules.notify.empty()) v["notify"] = schedules.notify;
  Json::Value& repos = v["repositories"] = Json::Value(Json::objectValue);
  for (const auto& own : schedules.own) repos[own.first] = FileJson(own.second);
  STATUS_TRY(PrivateDir(Package().stateDir, true, true));
  return WritePrivateFile(Package().scheduleFile, v.toStyledString(), true);
}

// ---- Slots ----

time_t LatestSlot(const SVNSchedule& s, time_t now) {
  if (s.every == 0 || now < s.since) return 0;
  time_t found = 0;
  if (s.every <= 24) {
    for (int day = 0; day >= -1 && found == 0; --day)
      for (int k = SlotsInDay(s) - 1; k >= 0 && found == 0; --k) {
        const time_t t = Local(now, day, s.at + k * s.every * 60);
        if (t <= now) found = t;
      }
  } else {
    const time_t anchor = Local(s.since, 0, s.at);
    const long period = s.every * 3600L;
    if (now >= anchor) found = anchor + (now - anchor) / period * period;
  }
  return found >= s.since ? found : 0;
}

time_t NextSlot(const SVNSchedule& s, time_t after) {
  if (s.every == 0) return 0;
  const time_t from = std::max(after, s.since - 1);
  if (s.every > 24) {
    const time_t anchor = Local(s.since, 0, s.at);
    const long period = s.every * 3600L;
    return from < anchor ? anchor : anchor + ((from - anchor) / period + 1) * period;
  }
  for (int day = 0; day <= 1; ++day)
    for (int k = 0; k < SlotsInDay(s); ++k) {
      const time_t t = Local(from, day, s.at + k * s.every * 60);
      if (t > from) return t;
    }
  return Local(from, 2, s.at);
}

time_t OverdueAt(const SVNSchedule& s, time_t good) {
  if (s.every == 0) return 0;
  return std::max(good, s.since) + (s.every + 1) * 3600L;
}

Json::Value ScheduleJson(const SVNSchedule& s) {
  Json::Value v(Json::objectValue);
  v["every"] = s.every == 0 ? Json::Value("off") : Json::Value(s.every);
  v["at"] = AtText(s.at);
  v["keep"] = s.keep;
  v["verify"] = s.verify;
  v["kind"] = s.kind;
  return v;
}
