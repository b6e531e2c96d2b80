// svn-admin: backs up, verifies and restores the package's repositories.
// It runs the jobs the administration page starts (svn.cgi starts it
// detached as "svn-admin --job ID COMMAND...", see jobs.h), and is the
// command for schedules:
//
//   svn-admin backup NAME|--all [--kind hotcopy|dump] [--keep N] [--user USER]
//   svn-admin verify NAME|--all [--user USER]
//   svn-admin verify --file BACKUP NAME [--user USER]
//   svn-admin restore FILE NAME [--settings FILE] [--replace] [--new-uuid] [--user USER]
//   svn-admin pack NAME|--all [--user USER]
//   svn-admin upgrade NAME [--user USER]
//   svn-admin scheduled [--now TIME] [--user USER]
//
// It runs as the service user; run as root, it needs --user USER and
// becomes that user before anything else, in every mode.  The log-edits
// hook runs it as "svn-admin --user USER log-edited -- REPOS REV USER"
// (see log_edit.h), as svnserve's user.  Each repository's task is a
// job with a record the page shows, and one line on standard output; on a
// terminal, a progress bar on standard error.  Exit status: 0 when every
// task succeeded, 1 when one failed or was cancelled, 2 for a wrong
// command line.

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <locale.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jobs/jobs.h"
#include "store/backups.h"
#include "store/package.h"
#include "store/repo.h"
#include "store/root.h"
#include "store/schedule.h"
#include "store/work_dir.h"
#include "ui/admin/job_tasks.h"
#include "ui/admin/log_edit.h"
#include "ui/admin/maintenance.h"
#include "ui/admin/scheduled.h"
#include "ui/admin/tasks.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

namespace {

const char kUsage[] =
    "usage: svn-admin backup NAME|--all [--kind hotcopy|dump] [--keep N] [--user USER]\n"
    "       svn-admin verify NAME|--all [--user USER]\n"
    "       svn-admin verify --file BACKUP NAME [--user USER]   (a test restore)\n"
    "       svn-admin restore FILE NAME [--settings FILE] [--replace] [--new-uuid]\n"
    "                 [--user USER]\n"
    "       svn-admin pack NAME|--all [--user USER]\n"
    "       svn-admin upgrade NAME [--user USER]\n"
    "       svn-admin scheduled [--now TIME] [--user USER]   (what the schedules make due;\n"
    "                 --now YYYY-MM-DDTHH:MM:SSZ, in UTC, is for tests: the clock it runs by)\n";

struct Options {
  std::string command;
  std::vector<std::string> args;  // the positional ones after the command
  bool all = false;
  int keep = 0;
  std::string user, job, settings, spool, kind = "hotcopy", file, source;
  bool replace = false, newUuid = false;
  time_t now = 0;  // the clock of "scheduled" (--now); 0: the real one
};

bool Usage(const char* why) {
  fprintf(stderr, "svn-admin: %s\n%s", why, kUsage);
  return false;
}

bool Parse(int argc, char** argv, Options* o) {
  bool positional = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return Usage(("missing value of " + a).c_str());
      *out = argv[++i];
      return true;
    };
    std::string keep;
    if (positional || a.empty() || a[0] != '-' || a == "-") {
      if (o->command.empty())
        o->command = a;
      else
        o->args.push_back(a);
    } else if (a == "--") {
      positional = true;
    } else if (a == "--all") {
      o->all = true;
    } else if (a == "--keep") {
      if (!value(&keep)) return false;
      if (keep.empty() || keep.size() > 6 || keep.find_first_not_of("0123456789") != std::string::npos ||
          (o->keep = atoi(keep.c_str())) < 1)
        return Usage("--keep takes a number of backups, at least 1");
    } else if (a == "--now") {
      if (!value(&keep) || !ParseIsoTime(keep, &o->now))
        return Usage("--now takes a time in UTC: YYYY-MM-DDTHH:MM:SSZ");
    } else if (a == "--replace" || a == "--new-uuid") {
      (a == "--replace" ? o->replace : o->newUuid) = true;
    } else if (a == "--user" || a == "--job" || a == "--settings" || a == "--spool" ||
               a == "--kind" || a == "--file" || a == "--source") {
      std::string* to = a == "--user"     ? &o->user
                        : a == "--job"    ? &o->job
                        : a == "--settings" ? &o->settings
                        : a == "--spool"  ? &o->spool
                        : a == "--kind"   ? &o->kind
                        : a == "--file"   ? &o->file
                                          : &o->source;
      if (!value(to)) return false;
    } else if (a == "-h" || a == "--help") {
      fputs(kUsage, stdout);
      exit(0);
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  const size_t names = o->all ? 0 : 1;
  if (o->command == "log-edited") {
    // Run by a hook of ours (see log_edit.h), never as a job.
    if (o->all || o->keep > 0 || !o->job.empty() || !o->settings.empty() || !o->spool.empty() ||
        o->args.size() != 3)
      return Usage("log-edited takes a repository's path, a revision and a user");
  } else if (o->command == "backup" || o->command == "verify" || IsMaintenance(o->command)) {
    if (o->all && o->command == "upgrade") return Usage("upgrade one repository at a time");
    if (o->args.size() != names) return Usage("name one repository, or --all");
    if (o->keep > 0 && o->command != "backup") return Usage("--keep is for backups");
    if (o->kind != "hotcopy" && o->kind != "dump") return Usage("--kind is hotcopy or dump");
    if (!o->file.empty() && (o->command != "verify" || o->all))
      return Usage("--file names a backup of one repository to test-restore");
  } else if (o->command == "restore") {
    if (o->all || o->args.size() != 2) return Usage("restore takes a file and a new name");
  } else if (o->command == "scheduled") {
    if (o->all || !o->args.empty() || !o->job.empty()) return Usage("scheduled takes no name");
  } else {
    return Usage(o->command.empty() ? "no command" : "unknown command");
  }
  if (!o->job.empty() && !IsJobId(o->job)) return Usage("not a job id");
  if (o->now != 0 && o->command != "scheduled") return Usage("--now is for scheduled");
  // What the page hands a job (its upload, deleted at the end) is no
  // option for a command line.
  if (!o->spool.empty() && o->job.empty()) return Usage("--spool is for jobs the page starts");
  return true;
}

// Becomes `user` when run as root; refuses to go on as root otherwise.
// `asItself`: a user that is not root goes on as itself (a hook run by an
// svnserve that runs as a user in the service user's group).
bool BecomeUser(const std::string& user, bool asItself) {
  if (geteuid() != 0) {
    if (user.empty() || asItself) return true;
    struct passwd* pw = getpwnam(user.c_str());
    if (pw != nullptr && pw->pw_uid == geteuid()) return true;
    fprintf(stderr, "svn-admin: only root can become %s\n", user.c_str());
    return false;
  }
  if (user.empty()) {
    fprintf(stderr, "svn-admin: not run as root: name the service user (the one the web "
                    "server runs the page as) with --user USER\n");
    return false;
  }
  struct passwd* pw = getpwnam(user.c_str());
  if (pw == nullptr) {
    fprintf(stderr, "svn-admin: no user %s\n", user.c_str());
    return false;
  }
  if (initgroups(pw->pw_name, pw->pw_gid) != 0 || setgid(pw->pw_gid) != 0 ||
      setuid(pw->pw_uid) != 0 || getuid() != pw->pw_uid || geteuid() != pw->pw_uid) {
    fprintf(stderr, "svn-admin: becoming %s failed: %s\n", user.c_str(), strerror(errno));
    return false;
  }
  return true;
}

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// One repository's task as a job: its record kept up to date (progress
// at most four times a second), its line printed.  False when it did not
// succeed.
bool RunJob(const Options& o, const SVNName& name, SVNJobLock* lock, SVNJobLock* own,
            SVNJob* job) {
  const bool bar = o.job.empty() && isatty(STDERR_FILENO);
  double saved = 0;
  SVNProgress progress = [&](long long done, long long total) {
    if (done == job->done && total == job->total) return;
    job->done = done;
    job->total = total;
    if (Now() - saved >= 0.25 || done == total) {
      saved = Now();
      SaveJob(*job).Log();
      if (bar) {
        const int width = 30;
        int filled = total > 0 ? static_cast<int>(std::min(1.0, double(done) / total) * width) : 0;
        fprintf(stderr, "\r%s [%s%s] %lld/%lld", name.c_str(), std::string(filled, '#').c_str(),
                std::string(width - filled, '.').c_str(), done, total < 0 ? 0 : total);
        fflush(stderr);
      }
    }
  };
  SVNJobCommand c;
  c.command = o.command;
  c.kind = o.kind;
  c.keep = o.keep;
  c.file = o.command == "restore" ? o.args[0] : o.file;
  c.settings = o.settings;
  c.source = o.source;
  c.replace = o.replace;
  c.newUuid = o.newUuid;
  std::string line;
  Json::Value changes(Json::objectValue);
  std::string leftover;
  SVNStatus status = RunTask(c, name, progress, job, &line, &changes, &leftover);
  // What the program handed over goes before the end is recorded.
  if (!o.spool.empty()) DeleteTree(o.spool).Log();
  job->finished = IsoTime(time(nullptr));
  if (status.ok()) {
    job->state = "done";
  } else if (gCancelled) {
    job->state = "cancelled";
    line = "cancelled";
  } else {
    job->state = "failed";
    job->error = status.reason();
    if (job->error.empty()) job->error = "The job failed; the system log says why.";
    line = "failed: " + job->error;
  }
  status.Log();
  SaveJob(*job).Log();
  RecordJobEnd(*job, changes);
  RecordStanding(*job, c.command == "verify" && !c.file.empty(), o.now != 0 ? o.now : time(nullptr));
  lock->release();
  own->release();
  // Deleting a repository replaced takes long: the job is over before.
  if (!leftover.empty()) DeleteTree(leftover).Log();
  if (bar) fputs("\r\033[K", stderr);
  printf("%s: %s\n", name.c_str(), line.c_str());
  fflush(stdout);
  return status.ok();
}

// Whether `spool` is the item of the working directory svn.cgi handed
// this job: a directory directly in the working directory (not a link),
// the very one open as kJobKeptFd, whose lock that descriptor holds.
bool HandedOver(const std::string& spool) {
  struct stat kept, at;
  const size_t slash = spool.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : spool.substr(0, slash);
  const std::string item = slash == std::string::npos ? "" : spool.substr(slash + 1);
  return (dir == Package().workDir || dir == Package().hiddenWorkDir) && !item.empty() &&
         item != "." && item != ".." && fstat(kJobKeptFd, &kept) == 0 && S_ISDIR(kept.st_mode) &&
         lstat(spool.c_str(), &at) == 0 && S_ISDIR(at.st_mode) && at.st_dev == kept.st_dev &&
         at.st_ino == kept.st_ino && flock(kJobKeptFd, LOCK_EX | LOCK_NB) == 0;
}

// A job svn.cgi started: the locks it holds are ours, and the record is
// complete once the pipe closes.  What it was handed (--spool) is deleted
// at the end only when it is the item handed over with it.
bool RunStartedJob(const Options& o) {
  SVNJobLock lock, own;
  lock.adopt(kJobLockFd);
  own.adopt(kJobOwnFd);
  for (int fd : {kJobLockFd, kJobKeptFd, kJobOwnFd}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  char c;
  while (read(kJobGoFd, &c, 1) > 0 || errno == EINTR) {
  }
  close(kJobGoFd);
  SVNJob job;
  const std::optional<SVNName> name = SVNName::Of(o.command == "restore" ? o.args[1] : o.args[0]);
  SVNStatus status = ReadJob(o.job, &job);
  if (!status.ok() || !name || job.state != "running" || job.name != name->str() ||
      job.kind != o.command || !HoldsOwnLock(o.job, kJobOwnFd)) {
    STATUS_WITH(status, "Job %s is not this one to run.", o.job.c_str()).Log();
    return false;
  }
  if (!o.spool.empty() && !HandedOver(o.spool)) {
    STATUS_ERROR(kFailed, "Job %s: %s is not the item handed to it: left alone.", o.job.c_str(),
                 o.spool.c_str())
        .Log();
    return false;
  }
  SetJobProcess(getpid(), &job).Log();
  return RunJob(o, *name, &lock, &own, &job);
}

// Runs the command on the repository `text` names, as a job of its own;
// with `outcome`, a repository another job holds is left as it is (busy,
// nothing printed), and the job's end is told there.
bool RunCommand(const Options& o, const std::string& text, SVNRunOutcome* outcome = nullptr) {
  const std::optional<SVNName> name = SVNName::Of(text);
  SVNJobLock lock, own;
  SVNJob job;
  SVNStatus status;
  if (!name)
    status = STATUS_ERROR(kFailed, "%s is no name.", text.c_str())
                 .Reason(o.command == "restore" ? "That is not a name a repository can have."
                                                : "There is no such repository.");
  if (status.ok()) status = lock.acquire(*name, true);
  if (status.ok() && o.command != "restore") status = WaitForMoves(*name);
  const struct passwd* pw = getpwuid(geteuid());
  job.user = pw != nullptr ? pw->pw_name : std::to_string(geteuid());
  job.addr = "local";
  if (status.ok()) status = CreateJob(o.command, *name, getpid(), &lock, &own, &job);
  if (status.ok()) RecordJobStart(job);
  if (outcome != nullptr && (outcome->busy = status.code() == SVNStatus::kBusy)) return false;
  if (status.ok()) {
    const bool ok = RunJob(o, *name, &lock, &own, &job);
    if (outcome != nullptr) outcome->job = job;
    return ok;
  }
  std::string why = status.reason().empty() ? "the job could not be started" : status.reason();
  if (outcome != nullptr) outcome->job.state = "failed";
  if (outcome != nullptr) outcome->job.error = why;
  status.Log();
  printf("%s: failed: %s\n", text.c_str(), why.c_str());
  fflush(stdout);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Repository names and archive entries are UTF-8 whatever the caller's
  // locale (libarchive converts names through it).
  setlocale(LC_ALL, "C.UTF-8");
  umask(077);
  openlog("svn-admin", LOG_PID, LOG_USER);
  Options o;
  if (!Parse(argc, argv, &o)) return 2;
  CatchCancel();
  // Root becomes the service user in every mode, a job's and a hook's too.
  const bool hook = o.command == "log-edited";
  if (!BecomeUser(o.user, hook)) return 2;
  if (hook) return RecordLogEdit(o.args[0], o.args[1], o.args[2]) ? 0 : 1;
  if (!o.job.empty()) return RunStartedJob(o) ? 0 : 1;
  if (o.command == "scheduled") {
    return RunScheduled(o.now != 0 ? o.now : time(nullptr),
                        [&](const SVNJobCommand& c, const std::string& name) {
                          Options each = o;
                          each.command = c.command;
                          each.kind = c.kind;
                          each.keep = c.keep;
                          each.file = c.file;
                          SVNRunOutcome outcome;
                          RunCommand(each, name, &outcome);
                          return outcome;
                        });
  }
  std::vector<std::string> names;
  if (o.all) {
    WalkRoot("", [&](std::string name, const struct stat&) { names.push_back(std::move(name)); });
    std::sort(names.begin(), names.end());
  } else {
    names.push_back(o.command == "restore" ? o.args[1] : o.args[0]);
  }
  bool ok = true;
  for (const std::string& text : names) {
    if (gCancelled) break;
    ok = RunCommand(o, text) && ok;
  }
  return ok && !gCancelled ? 0 : 1;
}
