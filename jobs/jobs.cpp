// jobs.cpp: job records, and starting and stopping jobs.

#include "jobs/jobs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "store/backups.h"
#include "store/facts.h"
#include "store/locks.h"
#include "store/name.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"

#define LOG_MODULE "svn_job"

namespace {

// ioprio_set(2)'s values, from <linux/ioprio.h>, which is not C++ in every
// version of the kernel's headers (a parameter named "class"): the best
// effort class (2, above bit 13) at its lowest level (7), for this process.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioBestEffortLowest = (2 << 13) | 7;

const size_t kIdSize = 32;  // YYYYMMDDTHHMMSS.uuuuuuZ-xxxxxxxx: in time order

std::string RecordPath(const std::string& id) { return Package().jobsDir + "/" + id + ".json"; }

bool Text(const Json::Value& v, std::string* out) {
  if (v.isString()) *out = v.asString();
  return v.isString() || v.isNull();
}

// A record's text as the job wrote it; false when it is not one.
bool Parse(const std::string& text, SVNJob* job) {
  Json::Value r;
  if (!ReadJson(text, &r) || !r.isObject()) return false;
  const Json::Value& progress = r["progress"];
  bool ok = Text(r["id"], &job->id) && Text(r["kind"], &job->kind) && Text(r["name"], &job->name) &&
            Text(r["state"], &job->state) && Text(r["started"], &job->started) &&
            Text(r["finished"], &job->finished) && Text(r["file"], &job->file) &&
            Text(r["error"], &job->error) && Text(r["uuid"], &job->uuid) &&
            Text(r["now"], &job->now) && progress.isObject() &&
            progress["done"].isInt64() && (progress["total"].isInt64() || progress["total"].isNull()) &&
            r["pid"].isInt() && (r["pid_start"].isUInt64() || r["pid_start"].isNull()) &&
            (r["session"].isInt() || r["session"].isNull());
  if (!ok) return false;
  job->done = progress["done"].asInt64();
  job->total = progress["total"].isNull() ? -1 : progress["total"].asInt64();
  job->unit = progress["unit"].isString() ? progress["unit"].asString() : "revisions";
  Text(r["notes"], &job->notes);
  job->rev = r["rev"].isInt64() ? static_cast<long>(r["rev"].asInt64()) : -1;
  Text(r["user"], &job->user);
  Text(r["addr"], &job->addr);
  job->pid = r["pid"].asInt();
  job->pidStart = r["pid_start"].isNull() ? 0 : r["pid_start"].asUInt64();
  job->session = r["session"].isNull() ? 0 : r["session"].asInt();
  return true;
}

// The file of the job's own lock, beside its record.
std::string OwnLockPath(const std::string& id) { return Package().jobsDir + "/" + id + ".lock"; }

// Takes the own lock of the job `id` into *own.
SVNStatus TakeOwnLock(const std::string& id, SVNJobLock* own) {
  const std::string path = OwnLockPath(id);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fd < 0 || fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    SVNStatus status = STATUS_ERROR(kFailed, "Lock %s failed: %s", path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return status;
  }
  own->adopt(fd);
  return SVNStatus();
}

// Whether the job `id` runs: a process holds its own lock.
bool OwnLockHeld(const std::string& id) {
  int fd = open(OwnLockPath(id).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  bool held = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  close(fd);
  return held;
}

// The start time (clock ticks since boot) and session of the process
// `pid`, from /proc/PID/stat; false when it cannot be read.
bool ProcessIdentity(pid_t pid, unsigned long long* start, pid_t* session) {
  std::string text;
  if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", 4096, false, &text)) return false;
  // "PID (COMMAND) STATE PPID PGRP SESSION ...": the command may hold
  // anything, ")" too; the fields after its last ")" are plain numbers.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::vector<std::string> fields;
  for (size_t b = close + 2, e; b < text.size(); b = e + 1) {
    e = text.find(' ', b);
    if (e == std::string::npos) e = text.size();
    fields.push_back(text.substr(b, e - b));
  }
  // SESSION is the 6th field of the line, the start time the 22nd.
  if (fields.size() < 20) return false;
  char* end = nullptr;
  *session = static_cast<pid_t>(strtol(fields[3].c_str(), &end, 10));
  if (*end != '\0') return false;
  *start = strtoull(fields[19].c_str(), &end, 10);
  return *end == '\0' && *start > 0;
}

// The ids of the records there are, newest first.
std::vector<std::string> Ids() {
  std::vector<std::string> ids;
  if (DIR* d = opendir(Package().jobsDir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() == kIdSize + 5 && n.compare(kIdSize, 5, ".json") == 0 &&
          IsJobId(n.substr(0, kIdSize)))
        ids.push_back(n.substr(0, kIdSize));
    }
    closedir(d);
  }
  std::sort(ids.rbegin(), ids.rend());
  return ids;
}

// Drops the oldest records of ended jobs past kMaxJobs, and their locks.
void Prune() {
  std::vector<std::string> ids = Ids();
  for (size_t i = kMaxJobs; i < ids.size(); ++i) {
    SVNJob job;
    if (ReadJob(ids[i], &job).ok() && job.state == "running") continue;
    unlink(RecordPath(ids[i]).c_str());
    unlink(OwnLockPath(ids[i]).c_str());
  }
}

// The record `id` as it was written (a running job that died still says
// running); false when there is none or it cannot be read.
bool ReadRecord(const std::string& id, SVNJob* job) {
  std::string text;
  return IsJobId(id) && ReadPrivateFile(RecordPath(id), 1 << 20, &text) && Parse(text, job) &&
         job->id == id;
}

}  // namespace

// ---- Records ----

bool IsJobId(const std::string& id) {
  static const char kForm[] = "ddddddddTdddddd.ddddddZ-xxxxxxxx";
  if (id.size() != kIdSize) return false;
  for (size_t i = 0; i < kIdSize; ++i) {
    char c = id[i], f = kForm[i];
    bool digit = c >= '0' && c <= '9';
    if (f == 'd' ? !digit : f == 'x' ? !(digit || (c >= 'a' && c <= 'f')) : c != f) return false;
  }
  return true;
}

SVNStatus CreateJob(const std::string& kind, const std::string& name, pid_t pid,
                    SVNJobLock* lock, SVNJobLock* own, SVNJob* job) {
  STATUS_TRY(PrivateDir(Package().jobsDir, true, false));
  SVNStatus status;
  Prune();
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned char random[4];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
      return STATUS_ERROR(kFailed, "getrandom failed: %s", strerror(errno));
    struct tm utc;
    char id[64];
    gmtime_r(&now.tv_sec, &utc);
    strftime(id, sizeof id, "%Y%m%dT%H%M%S", &utc);
    snprintf(id + 15, sizeof id - 15, ".%06dZ-%02x%02x%02x%02x",
             static_cast<int>(now.tv_nsec / 1000 % 1000000), random[0], random[1], random[2],
             random[3]);
    // Claims the id; SaveJob replaces the empty file.
    int fd = open(RecordPath(id).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return STATUS_ERROR(kFailed, "Make the record of a job failed: %s", strerror(errno));
    close(fd);
    SVNJob asked = *job;
    *job = SVNJob();
    job->user = asked.user;
    job->addr = asked.addr;
    job->id = id;
    job->kind = kind;
    job->name = name;
    job->state = "running";
    job->started = IsoTime(now.tv_sec);
    if (IsValidName(name)) job->uuid = ReadUuid(RepoPath(name));
    if (!(status = TakeOwnLock(id, own)).ok() ||
        (pid > 0 && !(status = SetJobProcess(pid, job)).ok()) ||
        !(status = lock->mark(job->id)).ok() || !(status = SaveJob(*job)).ok()) {
      own->release();
      unlink(RecordPath(id).c_str());
      unlink(OwnLockPath(id).c_str());
      return status;
    }
    return SVNStatus();
  }
  return STATUS_ERROR(kFailed, "No free id for a job.");
}

bool HoldsOwnLock(const std::string& id, int fd) {
  struct stat held, file;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  // Taken again by the description that holds it, it is granted.
  return IsJobId(id) && fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
         lstat(OwnLockPath(id).c_str(), &file) == 0 && held.st_dev == file.st_dev &&
         held.st_ino == file.st_ino && fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

SVNStatus SetJobProcess(pid_t pid, SVNJob* job) {
  job->pid = pid;
  if (!ProcessIdentity(pid, &job->pidStart, &job->session))
    return STATUS_ERROR(kFailed, "Read /proc/%d/stat failed: %s", static_cast<int>(pid),
                        strerror(errno));
  return SVNStatus();
}

SVNStatus SaveJob(const SVNJob& job) {
  Json::Value r;
  r["id"] = job.id;
  r["kind"] = job.kind;
  r["name"] = job.name;
  r["state"] = job.state;
  r["started"] = job.started;
  r["finished"] = job.finished.empty() ? Json::Value() : Json::Value(job.finished);
  r["progress"]["done"] = Json::Int64(job.done);
  r["progress"]["total"] = job.total < 0 ? Json::Value() : Json::Value(Json::Int64(job.total));
  r["progress"]["unit"] = job.unit;
  r["file"] = job.file.empty() ? Json::Value() : Json::Value(job.file);
  r["error"] = job.error.empty() ? Json::Value() : Json::Value(job.error);
  r["notes"] = job.notes.empty() ? Json::Value() : Json::Value(job.notes);
  if (job.rev >= 0) r["rev"] = Json::Int64(job.rev);
  r["user"] = job.user;
  r["addr"] = job.addr;
  r["pid"] = static_cast<int>(job.pid);
  if (job.pidStart > 0) r["pid_start"] = Json::UInt64(job.pidStart);
  if (job.session > 0) r["session"] = static_cast<int>(job.session);
  if (!job.uuid.empty()) r["uuid"] = job.uuid;
  if (!job.now.empty()) r["now"] = job.now;
  return WritePrivateFile(RecordPath(job.id), r.toStyledString(), job.state != "running");
}

SVNStatus ReadJob(const std::string& id, SVNJob* job) {
  std::string text;
  const std::string path = RecordPath(id);
  if (!IsJobId(id) || !PrivateDir(Package().jobsDir, false, false).ok() ||
      !ReadPrivateFile(path, 1 << 20, &text))
    return STATUS_ERROR(kNotFound, "No job %s.", id.c_str());
  SVNJob read;
  if (!Parse(text, &read) || read.id != id)
    return STATUS_ERROR(kFailed, "The record %s cannot be read.", path.c_str());
  if (read.state == "running" && !OwnLockHeld(read.id)) {
    // Checked again: it may have ended between the two reads.
    if (ReadPrivateFile(path, 1 << 20, &text) && Parse(text, &read) && read.state == "running") {
      struct stat st;
      read.state = "failed";
      read.error = "The job stopped unexpectedly: it was killed, or the machine restarted.";
      read.finished = IsoTime(stat(path.c_str(), &st) == 0 ? st.st_mtime : time(nullptr));
    }
  }
  *job = read;
  return SVNStatus();
}

std::vector<SVNJob> ListJobs(const std::string& name, const std::string& id) {
  // Another repository that had the name before has another UUID.
  const std::string uuid = IsValidName(name) ? ReadUuid(RepoPath(name)) : "";
  std::vector<SVNJob> jobs;
  for (const std::string& each : Ids()) {
    SVNJob job;
    if ((!id.empty() && each != id) || !ReadJob(each, &job).ok()) continue;
    const std::string& current = job.now.empty() ? job.name : job.now;
    if (name.empty() ||
        (current == name && (job.uuid.empty() || uuid.empty() || job.uuid == uuid)))
      jobs.push_back(job);
  }
  return jobs;
}

void FollowRename(const std::string& from, const std::string& to, const std::string& uuid) {
  for (const std::string& id : Ids()) {
    SVNJob job;
    if (!ReadRecord(id, &job) || (job.now.empty() ? job.name : job.now) != from ||
        (!job.uuid.empty() && !uuid.empty() && job.uuid != uuid))
      continue;
    job.now = to;
    SVNStatus saved = SaveJob(job);
    if (!saved.ok()) {
      STATUS_WITH(saved, "The job %s of %s does not follow it to %s.", id.c_str(), from.c_str(),
                  to.c_str());
      saved.Log();
    }
  }
}

Json::Value JobJson(const SVNJob& job) {
  auto text = [](const std::string& t) { return t.empty() ? Json::Value() : Json::Value(t); };
  Json::Value r;
  r["id"] = job.id;
  r["kind"] = job.kind;
  r["name"] = job.name;
  r["state"] = job.state;
  r["started"] = text(job.started);
  r["finished"] = text(job.finished);
  r["progress"]["done"] = Json::Int64(job.done);
  r["progress"]["total"] = job.total < 0 ? Json::Value() : Json::Value(Json::Int64(job.total));
  r["progress"]["unit"] = job.unit;
  r["file"] = text(job.file);
  r["rev"] = job.rev < 0 ? Json::Value() : Json::Value(Json::Int64(job.rev));
  r["error"] = text(job.error);
  r["notes"] = text(job.notes);
  return r;
}

// ---- Starting and stopping ----

namespace {

// Takes the job lock of `name` for a new job `kind`: a job that has just
// recorded its end lets go of the lock a moment later, and a start right
// after it waits for that; a job on an existing repository waits for a
// removal or rename under way.
SVNStatus TakeJobLock(const SVNName& name, const std::string& kind, SVNJobLock* lock) {
  SVNStatus status = lock->acquire(name, true);
  for (int i = 0; i < 10 && status.code() == SVNStatus::kBusy; ++i) {
    usleep(25 * 1000);
    status = lock->acquire(name, true);
  }
  if (status.ok() && kind != "restore") status = WaitForMoves(name);
  return status;
}

// In the child: the descriptors a job finds (`from`: its repository's
// lock, its go pipe, what it is handed or -1, its own lock, and the pipe
// that reports a failed exec) in their places, standard streams on
// /dev/null, everything else closed, in a session of its own at lower
// priority; then the program.
[[noreturn]] void ExecJob(std::vector<char*>& argp, std::vector<char*>& envp, const int from[5]) {
  // Moved out of the way first, so that no move below overwrites
  // another's source.
  int high[5];
  for (int i = 0; i < 5; ++i) high[i] = from[i] >= 0 ? fcntl(from[i], F_DUPFD_CLOEXEC, 10) : -1;
  const int report = kJobOwnFd + 1;
  int null = open("/dev/null", O_RDWR);
  bool ok = setsid() >= 0 && null >= 0 && high[0] >= 0 && high[1] >= 0 && high[3] >= 0 &&
            high[4] >= 0;
  for (int fd = 0; ok && fd < 3; ++fd) ok = dup2(null, fd) == fd;
  ok = ok && dup2(high[0], kJobLockFd) == kJobLockFd && dup2(high[1], kJobGoFd) == kJobGoFd &&
       (high[2] < 0 || dup2(high[2], kJobKeptFd) == kJobKeptFd) &&
       dup2(high[3], kJobOwnFd) == kJobOwnFd && dup3(high[4], report, O_CLOEXEC) == report;
  if (ok) {
    if (syscall(SYS_close_range, report + 1, ~0U, 0) != 0)
      for (int fd = report + 1; fd < 1024; ++fd) close(fd);
    LowerPriority();
    execve(argp[0], argp.data(), envp.data());
  }
  int err = errno;
  if (write(report, &err, sizeof err) < 0) _exit(126);
  _exit(127);
}

// Starts `argv` as a job's process holding `lock`, `go`, `kept` and `own`
// (see ExecJob); *child once it runs.
SVNStatus Spawn(std::vector<std::string> argv, int lock, int go, int kept, int own,
                pid_t* child) {
  std::vector<std::string> env = JobEnvironment();
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0)
    return STATUS_ERROR(kFailed, "pipe failed: %s", strerror(errno));
  *child = fork();
  if (*child == 0) {
    const int from[] = {lock, go, kept, own, report[1]};
    ExecJob(argp, envp, from);
  }
  int err = errno;
  close(report[1]);
  if (*child < 0) {
    close(report[0]);
    return STATUS_ERROR(kFailed, "fork failed: %s", strerror(err));
  }
  // Nothing comes back when the program runs: the pipe closes on exec.
  int execErr = 0;
  ssize_t got;
  while ((got = read(report[0], &execErr, sizeof execErr)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (got == 0) return SVNStatus();
  waitpid(*child, nullptr, 0);
  return STATUS_ERROR(kFailed, "Start %s failed: %s", argv[0].c_str(),
                      got > 0 ? strerror(execErr) : "no answer");
}

// Sends `sig` to the job's process, once it is proven to be the one its
// record names: the same pid, start time and session.  A pidfd holds the
// process while it is looked at, so that a process given the pid since
// is never signalled.
SVNStatus SignalJob(const SVNJob& job, int sig) {
  const int pid = static_cast<int>(job.pid);
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0 && errno == ESRCH) return SVNStatus();  // gone already
  if (pidfd < 0 && errno != ENOSYS)
    return STATUS_ERROR(kFailed, "pidfd_open of process %d failed: %s", pid, strerror(errno));
  unsigned long long start = 0;
  pid_t session = 0;
  SVNStatus status;
  if (!ProcessIdentity(job.pid, &start, &session)) {
    if (errno == ENOENT || errno == ESRCH) {  // gone meanwhile
      if (pidfd >= 0) close(pidfd);
      return SVNStatus();
    }
    status = STATUS_ERROR(kFailed, "Process %d of job %s cannot be looked at: nothing signalled.",
                          pid, job.id.c_str());
  } else if (job.pidStart == 0 || start != job.pidStart || session != job.session) {
    status = STATUS_ERROR(kFailed, "Process %d is not that of job %s (it started at %llu in "
                          "session %d, the job at %llu in session %d): nothing signalled.",
                          pid, job.id.c_str(), start, static_cast<int>(session), job.pidStart,
                          static_cast<int>(job.session));
  } else if ((pidfd >= 0 ? syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0)
                         : kill(job.pid, sig)) != 0 &&
             errno != ESRCH) {
    status = STATUS_ERROR(kFailed, "Signal job %s (process %d) failed: %s", job.id.c_str(), pid,
                          strerror(errno));
  }
  if (pidfd >= 0) close(pidfd);
  return status;
}

}  // namespace

SVNStatus StartJob(const std::string& program, const std::string& kind,
                   const SVNName& name, const std::vector<std::string>& args, int kept,
                   SVNJob* job) {
  SVNJobLock lock, own;
  STATUS_TRY(TakeJobLock(name, kind, &lock));
  STATUS_TRY(CreateJob(kind, name, 0, &lock, &own, job));
  std::vector<std::string> argv{program, "--job", job->id};
  // svn-admin run as root goes on only as the user it is told: this one.
  if (const struct passwd* pw = getpwuid(geteuid())) argv.insert(argv.end(), {"--user", pw->pw_name});
  argv.insert(argv.end(), args.begin(), args.end());
  int go[2] = {-1, -1};
  pid_t child = -1;
  SVNStatus status;
  if (pipe2(go, O_CLOEXEC) != 0) {
    status = STATUS_ERROR(kFailed, "pipe failed: %s", strerror(errno));
  } else {
    status = Spawn(argv, lock.fd(), go[0], kept, own.fd(), &child);
    close(go[0]);
  }
  if (!status.ok()) {
    if (go[1] >= 0) close(go[1]);
    job->state = "failed";
    job->finished = IsoTime(time(nullptr));
    job->error = "The job could not be started.";
    SaveJob(*job).Log();
    return status;
  }
  // Without its start time a cancel could not prove it is the job's: it
  // is named all the same, and a cancel then signals nothing.
  SetJobProcess(child, job).Log();
  status = SaveJob(*job);
  close(go[1]);  // the job may go on
  return status;
}

void LowerPriority() {
  setpriority(PRIO_PROCESS, 0, 10);
  syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioBestEffortLowest);
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(&s[0]);
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> JobEnvironment() {
  std::vector<std::string> env{"LC_ALL=C.UTF-8"};
  for (const char* keep : {"PATH", "HOME", "TMPDIR", "TZ"})
    if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
  return env;
}

SVNStatus CancelJob(const std::string& id, int millis, SVNJob* job) {
  SVNStatus status = ReadJob(id, job);
  if (!status.ok() || job->state != "running") return status;
  // The request starting it has yet to say which process runs it.
  if (job->pid <= 0)
    return STATUS_ERROR(kBusy, "Job %s is starting: it cannot be cancelled yet.", id.c_str());
  STATUS_TRY(SignalJob(*job, SIGTERM));
  for (int waited = 0; waited < millis && OwnLockHeld(id); waited += 50) usleep(50 * 1000);
  return ReadJob(id, job);
}
