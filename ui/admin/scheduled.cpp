// scheduled.cpp: running what the schedules make due, and noting how jobs
// end.

#include "ui/admin/scheduled.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "store/backup_state.h"
#include "store/backups.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"
#include "ui/admin/mail.h"
#include "ui/admin/tasks.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

namespace {

// A repository whose schedule's slot `slot` is due.
struct Due {
  std::string name;
  SVNSchedule schedule;
  time_t slot;
};

// What a run tells: the jobs that failed, the repositories overdue.
struct Report {
  struct Failure {
    std::string name, kind, why, job;
  };
  std::vector<Failure> failed;
  std::vector<std::pair<std::string, time_t>> overdue;  // name, last good (0: never)
  bool news = false;  // something the last mail did not tell
};

// Control characters of `text` (a sentence of svnadmin's may hold line
// breaks) as blanks: one line of a log or a mail.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

// The lock of one run (var/scheduled.lock), held until the process ends:
// false when another run holds it.
bool TakeRunLock() {
  SVNStatus status = PrivateDir(Package().stateDir, true, true);
  const std::string path = Package().stateDir + "/scheduled.lock";
  int fd = status.ok() ? open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
  if (status.ok() && fd < 0)
    status = STATUS_ERROR(kFailed, "Open %s failed: %s", path.c_str(), strerror(errno));
  if (!status.ok()) {
    status.Log();
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // kept open: held
  close(fd);
  return false;
}

// The repositories whose latest slot is not yet run, in name order.
std::vector<Due> FindDue(const std::vector<std::string>& names, const SVNSchedules& schedules,
                         const SVNStandings& standings, time_t now) {
  std::vector<Due> due;
  // The default's slot once: each is a few conversions of local time.
  const time_t fallbackSlot = LatestSlot(schedules.fallback, now);
  for (const std::string& name : names) {
    auto own = schedules.own.find(name);
    const SVNSchedule& s = own == schedules.own.end() ? schedules.fallback : own->second;
    const time_t slot = own == schedules.own.end() ? fallbackSlot : LatestSlot(s, now);
    auto line = standings.repos.find(name);
    const time_t run = line == standings.repos.end() ? 0 : line->second.slot;
    if (slot != 0 && slot > run) due.push_back({name, s, slot});
  }
  return due;
}

// Whether the times the standings say repositories are overdue are those
// the schedules make (a schedule file edited by hand changes them).
bool Current(const SVNSchedules& schedules, const SVNStandings& standings) {
  if (standings.defaultOverdueAt != OverdueAt(schedules.fallback, 0)) return false;
  for (const auto& own : schedules.own)
    if (standings.repos.count(own.first) == 0) return false;
  for (const auto& line : standings.repos)
    if (line.second.overdueAt != OverdueAt(schedules.of(line.first), line.second.good))
      return false;
  return true;
}

// Notes the slot of `d` as run.
void RecordSlot(const Due& d) {
  SVNScheduleUpdate update;
  SVNStatus status = update.open(true);
  if (status.ok()) {
    update.standings().repos[d.name].slot = d.slot;
    status = update.save(false);
  }
  STATUS_WITH(status, "The slot of %s was not noted as run: it runs again at the next call.",
              d.name.c_str()).Log();
}

void Failed(const std::string& name, const char* kind, const SVNJob& job, Report* report) {
  const std::string why = OneLine(job.error.empty() ? "it stopped." : job.error);
  LOG_LINE("The scheduled %s of %s failed: %s", kind, name.c_str(), why.c_str());
  report->failed.push_back({name, kind, why, job.id});
}

// Runs the jobs of `d`: its backup, its test restore, the removal of its
// oldest backups; false when it was busy (to be taken at the next call).
bool RunDue(const Due& d, const SVNRunJob& run, Report* report) {
  SVNJobCommand backup;
  backup.command = "backup";
  backup.kind = d.schedule.kind;
  // Backups past "keep" go once the new one is known to restore.
  backup.keep = d.schedule.verify ? 0 : d.schedule.keep;
  const SVNRunOutcome made = run(backup, d.name);
  if (made.busy) {
    printf("%s: busy: another job runs on it; it is backed up at the next call\n", d.name.c_str());
    return false;
  }
  if (made.job.state == "failed") Failed(d.name, "backup", made.job, report);
  if (made.job.state != "done" || !d.schedule.verify) return true;
  SVNBackup file;
  SVNJobCommand test;
  test.command = "verify";
  SVNStatus found = FindBackup(d.name, made.job.file, &file);
  test.file = file.path;
  SVNRunOutcome tested;
  if (found.ok()) {
    tested = run(test, d.name);
  } else {
    found.Log();
    tested.job.state = "failed";
    tested.job.error = "The new backup was not found to test-restore.";
  }
  if (tested.job.state == "done")
    KeepNewestBackups(*SVNName::Of(d.name), d.schedule.keep, made.job.file);
  else if (tested.busy)
    printf("%s: busy: its new backup was not test-restored\n", d.name.c_str());
  else if (tested.job.state == "failed")
    Failed(d.name, "test restore", tested.job, report);
  return true;
}

// The repositories of `names` overdue at `now`, as `standings` say; news
// when `mailing` and one was not told of yet (noted as told).
void FindOverdue(const std::vector<std::string>& names, const SVNStandings& standings,
                 time_t now, bool mailing, Report* report) {
  std::vector<std::pair<std::string, time_t>> untold;
  for (const std::string& name : names) {
    const time_t at = standings.overdueAt(name);
    if (at == 0 || now <= at) continue;
    auto line = standings.repos.find(name);
    const bool known = line != standings.repos.end();
    report->overdue.emplace_back(name, known ? line->second.good : 0);
    if (mailing && (!known || line->second.mailed != at)) untold.emplace_back(name, at);
  }
  if (untold.empty()) return;
  report->news = true;
  SVNScheduleUpdate update;
  SVNStatus status = update.open(true);
  for (const auto& told : untold)
    if (status.ok()) update.standings().repos[told.first].mailed = told.second;
  if (status.ok()) status = update.save(false);
  status.Log();
}

std::string Host() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  std::string out;
  for (const char* p = host; *p != '\0'; ++p)
    if (isalnum(static_cast<unsigned char>(*p)) || *p == '.' || *p == '-') out += *p;
  return out.empty() ? "this server" : out;
}

// The mail of `report` to `to`: names, kinds of jobs, reasons and times,
// nothing of the repositories' settings or accounts.
std::string Mail(const std::string& to, const Report& report, time_t now) {
  const std::string host = Host();
  std::string m = "To: " + to + "\nSubject: Subversion backups on " + host + ": " +
                  std::to_string(report.failed.size()) + " failed, " +
                  std::to_string(report.overdue.size()) + " overdue\n" +
                  "Auto-Submitted: auto-generated\nMIME-Version: 1.0\n"
                  "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n" +
                  "The scheduled backups on " + host + " at " + IsoTime(now) + ":\n";
  if (!report.failed.empty()) m += "\nFailed:\n";
  for (const auto& f : report.failed)
    m += "- " + OneLine(f.name) + ": the " + f.kind + " failed: " + f.why + " (job " + f.job + ")\n";
  if (!report.overdue.empty()) m += "\nOverdue (no good backup within their schedule and an hour):\n";
  for (const auto& o : report.overdue)
    m += "- " + OneLine(o.first) + ": " +
         (o.second != 0 ? "last good backup " + IsoTime(o.second) : "never backed up") + "\n";
  return m + "\nThe administration page has the details.\n";
}

void Tell(const std::string& to, const Report& report, time_t now) {
  if (to.empty() || (report.failed.empty() && !report.news)) return;
  SVNStatus sent = SendMail(Mail(to, report, now));
  STATUS_WITH(sent, "The mail about %zu failed jobs and %zu overdue repositories was not sent.",
              report.failed.size(), report.overdue.size()).Log();
}

}  // namespace

int RunScheduled(time_t now, const SVNRunJob& run) {
  if (!TakeRunLock()) {
    printf("scheduled: another run is under way; it runs what is due\n");
    return 0;
  }
  SVNSchedules schedules;
  SVNStatus status = ReadSchedules(&schedules);
  if (!status.ok()) {
    printf("scheduled: %s\n", status.reason().c_str());
    status.Log();
    return 1;
  }
  SVNStandings standings;
  ReadStandings(nullptr, &standings, true).Log();
  std::vector<std::string> names;
  WalkRoot("", [&](std::string name, const struct stat&) { names.push_back(std::move(name)); });
  std::sort(names.begin(), names.end());
  if (!Current(schedules, standings)) {
    SVNScheduleUpdate update;
    status = update.open(true);
    if (status.ok()) status = update.save(false);
    status.Log();
  }
  Report report;
  const std::vector<Due> due = FindDue(names, schedules, standings, now);
  if (!due.empty()) LowerPriority();  // finding nothing due is quick; jobs give way
  for (const Due& d : due) {
    if (gCancelled) break;
    if (RunDue(d, run, &report) && !gCancelled) RecordSlot(d);
  }
  if (!due.empty()) ReadStandings(nullptr, &standings, true).Log();  // as the jobs left them
  FindOverdue(names, standings, now, !schedules.notify.empty(), &report);
  Tell(schedules.notify, report, now);
  fflush(stdout);
  return report.failed.empty() && !gCancelled ? 0 : 1;
}

void RecordStanding(const SVNJob& job, bool testRestore, time_t now) {
  const bool failed = job.state == "failed";
  if ((job.kind != "backup" && job.kind != "verify") || (!failed && job.state != "done")) return;
  SVNBackup made;
  const bool good = job.kind == "backup" && !failed;
  if (good) FindBackup(job.name, job.file, &made).Log();
  SVNScheduleUpdate update;
  SVNStatus status = update.open(true);
  if (status.ok()) {
    SVNStanding& s = update.standings().repos[job.name];
    if (good) {
      s.good = now;
      s.rev = job.rev;
      s.file = job.file;
      s.uuid = made.uuid;
    }
    if (failed) {
      s.failed = now;
      s.kind = testRestore ? "test restore" : job.kind;
      s.job = job.id;
      s.why = job.error;
    }
    if (job.kind == "backup" || (testRestore && failed)) s.backupFailing = failed;
    if (job.kind == "verify" && !testRestore) s.verifyFailing = failed;
    status = update.save(false);
  }
  STATUS_WITH(status, "Where %s stands with its backups was not noted.", job.name.c_str()).Log();
}
