// schedule_actions.cpp: the backup schedules ("schedule_show",
// "schedule_edit"), and what the page says of failed and overdue backups
// ("backup_alerts").
//
// svn-admin's "scheduled" runs what the schedules make due (see
// schedule.h); these actions only read and change the schedules.

#include <syslog.h>
#include <time.h>

#include <algorithm>
#include <optional>
#include <set>

#include "store/backup_state.h"
#include "store/backups.h"
#include "store/root.h"
#include "store/schedule.h"
#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

namespace {

// A text no request can hold (it is not UTF-8): a parameter left out.
const char kAbsent[] = "\xff";

// The most entries of each list of backup_alerts.
const size_t kMostAlerts = 20;

SVNStatus Refused(const char* field, const std::string& why) {
  return STATUS_ERROR(kInvalid, "The schedule's %s is refused: %s", field, why.c_str())
      .Field(field)
      .Reason(why);
}

// "all=yes", or the existing repository "name" (one of the two).
SVNStatus Whose(SVNRequest& req, bool* all, SVNName* name) {
  *all = req.In("all") == "yes";
  const std::string text = req.In("name");
  if (*all == !text.empty() || (!*all && !req.In("all").empty()))
    return STATUS_ERROR(kFailed, "Name one repository, or all=yes.");
  return *all ? SVNStatus() : FindRepo(text, HERE, name);
}

// What an edit asks for: each value it gives (checked), or none.
struct Asked {
  std::optional<int> every, at, keep;
  std::optional<bool> verify;
  std::optional<std::string> kind, notify;
  bool followDefault = false;  // drop the repository's own schedule
};

// Reads the values an edit gives, each checked: kInvalid, naming the
// first refused, before anything changes.
SVNStatus ReadAsked(SVNRequest& req, bool all, Asked* a) {
  std::string text, why;
  auto given = [&](const char* key) { return (text = req.In(key, kAbsent)) != kAbsent; };
  int number = 0;
  bool truth = false;
  std::string word;
  if (given("every") && !ParseEvery(text, &number, &why)) return Refused("every", why);
  if (given("every")) a->every = number;
  if (given("at") && !ParseAt(text, &number, &why)) return Refused("at", why);
  if (given("at")) a->at = number;
  if (given("keep") && !ParseKeep(text, &number, &why)) return Refused("keep", why);
  if (given("keep")) a->keep = number;
  if (given("verify") && !ParseVerify(text, &truth, &why)) return Refused("verify", why);
  if (given("verify")) a->verify = truth;
  if (given("kind") && !ParseKind(text, &word, &why)) return Refused("kind", why);
  if (given("kind")) a->kind = word;
  if (given("notify") && !all)
    return Refused("notify", "Mails go where the default schedule says.");
  if (given("notify") && !CheckNotify(text, &why)) return Refused("notify", why);
  if (given("notify")) a->notify = text;
  if (given("default") && (text != "yes" || all || a->every || a->at || a->keep || a->verify ||
                           a->kind))
    return Refused("default", "A repository follows the default schedule (default=yes), or "
                              "is given a schedule of its own: not both.");
  a->followDefault = given("default");
  return SVNStatus();
}

// Notes in `changes` each value of the schedule that differs.
void NoteChanges(const SVNSchedule& was, const SVNSchedule& now, SVNChanges* changes) {
  auto note = [&](const char* key, const Json::Value& old, const Json::Value& neu) {
    if (old == neu) return;
    Json::Value change;
    change["old"] = old;
    change["new"] = neu;
    changes->set(key, change);
  };
  const Json::Value a = ScheduleJson(was), b = ScheduleJson(now);
  for (const char* key : {"every", "at", "keep", "verify", "kind"}) note(key, a[key], b[key]);
}

// `s` with what `a` asks; a new "since" when the slots change.
SVNSchedule Apply(SVNSchedule s, const Asked& a, time_t now) {
  const SVNSchedule was = s;
  s.every = a.every.value_or(s.every);
  s.at = a.at.value_or(s.at);
  s.keep = a.keep.value_or(s.keep);
  s.verify = a.verify.value_or(s.verify);
  s.kind = a.kind.value_or(s.kind);
  if (s.every != was.every || s.at != was.at) s.since = now;
  return s;
}

}  // namespace

SVNReply ScheduleShowAction(SVNRequest& req) {
  bool all = false;
  SVNName name;
  REPLY_TRY(Whose(req, &all, &name));
  SVNSchedules schedules;
  REPLY_TRY(ReadSchedules(&schedules));
  Json::Value data = ScheduleJson(all ? schedules.fallback : schedules.of(name));
  if (all) data["notify"] = schedules.notify;
  if (!all) data["own"] = schedules.own.count(name) > 0;
  return SVNReply::Data(std::move(data));
}

SVNReply ScheduleEditAction(SVNRequest& req) {
  bool all = false;
  SVNName name;
  REPLY_TRY(Whose(req, &all, &name));
  Asked asked;
  REPLY_TRY(ReadAsked(req, all, &asked));
  if (all) req.changes().set("all", true);
  SVNScheduleUpdate update;
  REPLY_TRY(update.open());
  SVNSchedules& schedules = update.schedules();
  const bool own = !all && schedules.own.count(name) > 0;
  const SVNSchedule was = all ? schedules.fallback : schedules.of(name);
  const SVNSchedule after =
      asked.followDefault ? schedules.fallback : Apply(was, asked, time(nullptr));
  NoteChanges(was, after, &req.changes());
  bool changed = !(ScheduleJson(was) == ScheduleJson(after));
  if (!all && own == asked.followDefault) {
    Json::Value change;
    change["old"] = own ? "own" : "default";
    change["new"] = own ? "default" : "own";
    req.changes().set("schedule", change);
    changed = true;
  }
  if (asked.notify && *asked.notify != schedules.notify) {
    Json::Value change;
    change["old"] = schedules.notify;
    change["new"] = *asked.notify;
    req.changes().set("notify", change);
    schedules.notify = *asked.notify;
    changed = true;
  }
  if (!changed) return SVNReply::Data(Json::Value());
  if (all)
    schedules.fallback = after;
  else if (asked.followDefault)
    schedules.own.erase(name);
  else
    schedules.own[name] = after;
  REPLY_TRY_WITH(update.save(true), "Save the schedules failed.");
  return SVNReply::Data(Json::Value());
}

Json::Value BackupStanding(const std::string& name, const std::string& uuid) {
  SVNSchedules schedules;
  SVNStatus status = ReadSchedules(&schedules);
  status.Log();
  SVNStandings standings;
  const std::set<std::string> only{name};
  ReadStandings(&only, &standings).Log();
  return StandingJson(standings, name, uuid, status.ok() ? &schedules.of(name) : nullptr,
                      time(nullptr));
}

namespace {

Json::Value Overdue(const std::string& name, const SVNStanding* line, time_t at) {
  Json::Value v;
  v["name"] = name;
  v["since"] = IsoTime(at);
  v["last_good"] = line != nullptr && line->good != 0 ? Json::Value(IsoTime(line->good))
                                                      : Json::Value();
  return v;
}

// The first kMostAlerts of `list`, by `before`, with their number.
template <typename Less>
Json::Value Listed(std::vector<Json::Value> list, Less before, const char* total, Json::Value* out) {
  std::sort(list.begin(), list.end(), before);
  (*out)[total] = static_cast<int>(list.size());
  Json::Value shown(Json::arrayValue);
  for (size_t i = 0; i < list.size() && i < kMostAlerts; ++i) shown.append(list[i]);
  return shown;
}

}  // namespace

SVNReply BackupAlertsAction(SVNRequest&) {
  SVNStandings standings;
  ReadStandings(nullptr, &standings).Log();
  const time_t now = time(nullptr);
  std::vector<Json::Value> failed, overdue;
  time_t newest = 0;
  for (const auto& line : standings.repos) {
    const SVNStanding& s = line.second;
    const bool late = s.overdueAt != 0 && now > s.overdueAt;
    if ((!s.backupFailing && !s.verifyFailing && !late) || !RepoExists(line.first)) continue;
    if (s.backupFailing || s.verifyFailing) {
      Json::Value f;
      f["name"] = line.first;
      f["time"] = IsoTime(s.failed);
      f["kind"] = s.kind;
      f["job"] = s.job.empty() ? Json::Value() : Json::Value(s.job);
      f["error"] = s.why;
      failed.push_back(f);
      newest = std::max(newest, s.failed);
    }
    if (late) overdue.push_back(Overdue(line.first, &s, s.overdueAt));
    if (late) newest = std::max(newest, s.overdueAt);
  }
  // Those that follow the default and were never backed up, once it is late.
  if (standings.defaultOverdueAt != 0 && now > standings.defaultOverdueAt) {
    WalkRoot("", [&](std::string name, const struct stat&) {
      if (standings.repos.count(name) == 0)
        overdue.push_back(Overdue(name, nullptr, standings.defaultOverdueAt));
    });
    newest = std::max(newest, standings.defaultOverdueAt);
  }
  Json::Value data;
  data["failed"] = Listed(failed, [](const Json::Value& a, const Json::Value& b) {
    return a["time"].asString() > b["time"].asString();
  }, "failed_total", &data);
  data["overdue"] = Listed(overdue, [](const Json::Value& a, const Json::Value& b) {
    return a["name"].asString() < b["name"].asString();
  }, "overdue_total", &data);
  data["newest"] = newest != 0 ? Json::Value(IsoTime(newest)) : Json::Value();
  return SVNReply::Data(std::move(data));
}
