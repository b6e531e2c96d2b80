// backup_state.cpp: the standings' file, and the updates of both files.

#include "store/backup_state.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <string_view>

#include "store/backups.h"
#include "store/package.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_backup"

namespace {

const char kHeader[] = "svn-admin backup state 1";
const size_t kMaxStateFile = 64 << 20;
const size_t kMaxWhy = 1000;  // bytes of a failure's sentence kept

void Escape(const std::string& text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '\\': *out += "\\\\"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += c;
    }
  }
}

std::string Unescape(const char* from, const char* to) {
  std::string out;
  out.reserve(static_cast<size_t>(to - from));
  for (const char* p = from; p < to; ++p) {
    if (*p != '\\' || p + 1 == to) {
      out += *p;
      continue;
    }
    const char c = *++p;
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

long long Number(const std::string& text) { return strtoll(text.c_str(), nullptr, 10); }

void Set(SVNStanding* s, const std::string& key, const std::string& value) {
  if (key == "uuid") s->uuid = value;
  else if (key == "good") s->good = Number(value);
  else if (key == "rev") s->rev = static_cast<long>(Number(value));
  else if (key == "file") s->file = value;
  else if (key == "failed") s->failed = Number(value);
  else if (key == "kind") s->kind = value;
  else if (key == "job") s->job = value;
  else if (key == "why") s->why = value;
  else if (key == "bfail") s->backupFailing = value == "1";
  else if (key == "vfail") s->verifyFailing = value == "1";
  else if (key == "slot") s->slot = Number(value);
  else if (key == "overdue") s->overdueAt = Number(value);
  else if (key == "mailed") s->mailed = Number(value);
}

// Reads the fields of one line, [from, to), after its first; with
// `timesOnly`, its times and flags alone.
void ReadFields(const char* from, const char* to, bool timesOnly, SVNStanding* s) {
  while (from < to) {
    const char* end = static_cast<const char*>(memchr(from, '\t', static_cast<size_t>(to - from)));
    if (end == nullptr) end = to;
    const char* eq = static_cast<const char*>(memchr(from, '=', static_cast<size_t>(end - from)));
    const std::string_view key(from, eq != nullptr ? static_cast<size_t>(eq - from) : 0);
    const bool text = key == "uuid" || key == "file" || key == "kind" || key == "job" || key == "why";
    if (eq != nullptr && !(timesOnly && text)) Set(s, std::string(key), Unescape(eq + 1, end));
    from = end + 1;
  }
}

void Field(const char* key, const std::string& value, std::string* out) {
  if (value.empty()) return;
  *out += '\t';
  *out += key;
  *out += '=';
  Escape(value, out);
}

void Field(const char* key, long long value, std::string* out) {
  if (value != 0) Field(key, std::to_string(value), out);
}

std::string Text(const SVNStandings& standings) {
  std::string out = kHeader;
  Field("overdue", standings.defaultOverdueAt, &out);
  out += '\n';
  for (const auto& line : standings.repos) {
    const SVNStanding& s = line.second;
    Escape(line.first, &out);
    Field("uuid", s.uuid, &out);
    Field("good", s.good, &out);
    if (s.rev >= 0) Field("rev", std::to_string(s.rev), &out);
    Field("file", s.file, &out);
    Field("failed", s.failed, &out);
    Field("kind", s.kind, &out);
    Field("job", s.job, &out);
    Field("why", s.why.substr(0, kMaxWhy), &out);
    Field("bfail", s.backupFailing ? 1 : 0, &out);
    Field("vfail", s.verifyFailing ? 1 : 0, &out);
    Field("slot", s.slot, &out);
    Field("overdue", s.overdueAt, &out);
    Field("mailed", s.mailed, &out);
    out += '\n';
  }
  return out;
}

// The names of `only` as the file writes them, to find their lines
// without decoding the others.
std::set<std::string, std::less<>> Escaped(const std::set<std::string>& only) {
  std::set<std::string, std::less<>> escaped;
  for (const std::string& name : only) {
    std::string e;
    Escape(name, &e);
    escaped.insert(std::move(e));
  }
  return escaped;
}

// Reads `text`, the file; false when it is not one.
bool Parse(const std::string& text, const std::set<std::string>* only, bool timesOnly,
           SVNStandings* out) {
  const std::set<std::string, std::less<>> wanted = only ? Escaped(*only) : decltype(wanted)();
  const char* p = text.data();
  const char* end = p + text.size();
  const char* nl = static_cast<const char*>(memchr(p, '\n', text.size()));
  const size_t header = sizeof kHeader - 1;
  if (nl == nullptr || static_cast<size_t>(nl - p) < header || memcmp(p, kHeader, header) != 0 ||
      (p[header] != '\t' && p[header] != '\n'))
    return false;
  SVNStanding first;
  ReadFields(p + header + 1, nl, true, &first);
  out->defaultOverdueAt = first.overdueAt;
  for (p = nl + 1; p < end; p = nl + 1) {
    nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    if (nl == nullptr) return false;  // cut short
    const char* tab = static_cast<const char*>(memchr(p, '\t', static_cast<size_t>(nl - p)));
    if (tab == nullptr) tab = nl;
    if (only != nullptr &&
        wanted.find(std::string_view(p, static_cast<size_t>(tab - p))) == wanted.end())
      continue;
    ReadFields(tab + 1, nl, timesOnly, &out->repos[Unescape(p, tab)]);
  }
  return true;
}

}  // namespace

SVNStatus ReadStandings(const std::set<std::string>* only, SVNStandings* standings,
                        bool timesOnly) {
  *standings = SVNStandings();
  const std::string& path = Package().backupStateFile;
  std::string text;
  if (!ReadPrivateFile(path, kMaxStateFile, &text)) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) return SVNStatus();
    return STATUS_ERROR(kFailed, "%s is not a file of this user's of at most 64 MiB: not read.",
                        path.c_str());
  }
  if (Parse(text, only, timesOnly, standings)) return SVNStatus();
  *standings = SVNStandings();
  return STATUS_ERROR(kFailed, "%s is damaged: read as empty, and written anew with the next "
                      "change.", path.c_str());
}

// ---- Updates ----

SVNStatus SVNScheduleUpdate::open(bool anySchedules) {
  STATUS_TRY_WITH(lock_.take({Package().scheduleFile}), "Wait for the schedules failed.");
  SVNStatus status = ReadSchedules(&schedules_);
  schedulesRead_ = status.ok();
  if (!status.ok() && !anySchedules) return status;
  status.Log();
  ReadStandings(nullptr, &standings_).Log();
  read_ = Text(standings_);
  return SVNStatus();
}

SVNStatus SVNScheduleUpdate::save(bool schedulesChanged) {
  if (schedulesChanged) {
    if (!schedulesRead_)
      return STATUS_ERROR(kHandmade, "The schedule file was refused: it is not written over.");
    STATUS_TRY(WriteSchedules(schedules_));
  }
  if (schedulesRead_) {
    for (const auto& own : schedules_.own) standings_.repos[own.first];
    for (auto& line : standings_.repos)
      line.second.overdueAt = OverdueAt(schedules_.of(line.first), line.second.good);
    standings_.defaultOverdueAt = OverdueAt(schedules_.fallback, 0);
  }
  const std::string text = Text(standings_);
  if (text == read_) return SVNStatus();
  STATUS_TRY(PrivateDir(Package().stateDir, true, true));
  STATUS_TRY(WritePrivateFile(Package().backupStateFile, text, true));
  read_ = text;
  return SVNStatus();
}

namespace {

// Moves `from`'s entry of `map` to `to` (dropped when `to` is empty);
// whether there was one.
template <typename Map>
bool MoveEntry(Map* map, const std::string& from, const std::string& to) {
  auto it = map->find(from);
  if (it == map->end()) return false;
  if (!to.empty()) (*map)[to] = it->second;
  map->erase(from);
  return true;
}

// MoveScheduled to `to`, or ForgetScheduled without.
void Follow(const std::string& name, const std::string& to) {
  SVNScheduleUpdate update;
  SVNStatus status = update.open(true);
  if (status.ok()) {
    const bool own = MoveEntry(&update.schedules().own, name, to);
    MoveEntry(&update.standings().repos, name, to);
    status = update.save(own);
  }
  if (status.ok()) return;
  if (to.empty())
    STATUS_WITH(status, "%s is removed, but its schedule and backup standing stay.", name.c_str());
  else
    STATUS_WITH(status, "%s is renamed to %s, but its schedule and backup standing stay under "
                "the old name.", name.c_str(), to.c_str());
  status.Log();
}

}  // namespace

void MoveScheduled(const std::string& from, const std::string& to) { Follow(from, to); }

void ForgetScheduled(const std::string& name) { Follow(name, ""); }

// ---- Answers ----

void AddStandingMarks(const SVNStandings& standings, const std::string& name, time_t now,
                      Json::Value* summary) {
  const time_t overdue = standings.overdueAt(name);
  if (overdue != 0 && now > overdue) (*summary)["overdue"] = true;
  auto it = standings.repos.find(name);
  if (it != standings.repos.end() && it->second.backupFailing) (*summary)["backup_failed"] = true;
}

Json::Value StandingJson(const SVNStandings& standings, const std::string& name,
                         const std::string& uuid, const SVNSchedule* s, time_t now) {
  auto it = standings.repos.find(name);
  SVNStanding none;
  const bool mine = it != standings.repos.end() &&
                    (it->second.uuid.empty() || uuid.empty() || it->second.uuid == uuid);
  const SVNStanding& line = mine ? it->second : none;
  Json::Value v(Json::objectValue);
  v["last_good"] = Json::Value();
  if (line.good != 0) {
    v["last_good"]["time"] = IsoTime(line.good);
    v["last_good"]["rev"] = line.rev < 0 ? Json::Value() : Json::Value(Json::Int64(line.rev));
    v["last_good"]["file"] = line.file.empty() ? Json::Value() : Json::Value(line.file);
  }
  v["last_failed"] = Json::Value();
  if (line.failed != 0) {
    Json::Value& f = v["last_failed"];
    f["time"] = IsoTime(line.failed);
    f["kind"] = line.kind;
    f["job"] = line.job.empty() ? Json::Value() : Json::Value(line.job);
    f["error"] = line.why;
  }
  v["failing"] = line.backupFailing || line.verifyFailing;
  const time_t latest = s != nullptr ? LatestSlot(*s, now) : 0;
  time_t next = latest > line.slot ? latest : 0;  // due: at the next call
  if (next == 0 && s != nullptr) next = NextSlot(*s, std::max(now, line.slot));
  v["next"] = next != 0 ? Json::Value(IsoTime(next)) : Json::Value();
  const time_t overdue = s != nullptr ? OverdueAt(*s, line.good) : line.overdueAt;
  v["overdue"] = overdue != 0 && now > overdue;
  return v;
}
