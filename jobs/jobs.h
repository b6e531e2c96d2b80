// jobs.h: jobs: backups, restores and verifies, which take longer than a
// web server lets a request run.
//
// A job is a run of svn-admin, in a process of its own: started detached
// by the program (see StartJob), or run by a schedule.  It keeps its
// record in $SVN_PACKAGE_DIR/jobs/ID.json: what it does, how far it got,
// how it ended.  One job at a time works on a repository: from start to
// end it holds the repository's job lock (jobs/locks/D, D the name as
// FileNameOf makes it), whose file names the job that holds it.  A record
// that says "running" while its job does not hold that lock belongs to a
// job that died (killed, the machine restarted): it reads as failed.  The
// newest kMaxJobs records are kept.  All of it is the service user's
// alone (0700, 0600).
//
// A job runs exactly as long as its own process holds its own lock
// (jobs/ID.lock), which nothing else ever takes: a removal, a rename or
// the next job holding the repository's job lock never makes a dead job
// look alive.  A cancel signals only the process it can prove is the
// job's: the pid, the start time and the session its record names.
#ifndef SVN_JOBS_JOBS_H_
#define SVN_JOBS_JOBS_H_

#include <json/value.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "store/job_lock.h"
#include "store/name.h"
#include "store/status.h"

// What a job started by the program finds open: the repository's job
// lock, a pipe that ends once its record is complete (it waits for that
// before it writes the record), what the starter kept for it (or
// nothing), and its own lock.
constexpr int kJobLockFd = 3;
constexpr int kJobGoFd = 4;
constexpr int kJobKeptFd = 5;
constexpr int kJobOwnFd = 6;

constexpr size_t kMaxJobs = 300;

struct SVNJob {
  std::string id;
  std::string kind;   // "backup", "restore", "verify", "pack", "upgrade"
  std::string name;   // the repository's
  std::string state;  // "running", "done", "failed", "cancelled"
  std::string started, finished;  // "YYYY-MM-DDTHH:MM:SSZ"; finished empty while running
  long long done = 0;    // work done, in `unit`s
  long long total = -1;  // work in all; -1 while unknown
  std::string unit = "bytes";  // "revisions" in records written before bytes were counted
  std::string file;      // the backup made (its file name), if any
  long rev = -1;         // the revision backed up, restored or verified; -1 while unknown
  std::string error;     // why it failed, a sentence
  std::string notes;     // what a person should know of how it ended, a sentence or more
  std::string user, addr;  // who asked for it, from where ("local": svn-admin's command line)
  pid_t pid = 0;         // the process running it
  // What tells that process from a later one given the same pid: its
  // start time (clock ticks since boot) and session, as /proc says.
  unsigned long long pidStart = 0;
  pid_t session = 0;
  std::string uuid;  // of its repository when it started, if known
  std::string now;   // the repository's name since a rename, if renamed
};

// Whether `id` has the form of a job's id.
bool IsJobId(const std::string& id);

// Makes the record of a new job `kind` on `name` (state running, started
// now, by the process `pid`: 0 while the process is yet to be started),
// with a new id, asked for by `job->user` at `job->addr`, and drops the
// oldest records past kMaxJobs.  The caller holds the repository's job
// lock (`lock`), which is marked with the id; *own holds the job's own
// lock from then on (the job's process must hold it for as long as it
// runs).
SVNStatus CreateJob(const std::string& kind, const std::string& name, pid_t pid,
                    SVNJobLock* lock, SVNJobLock* own, SVNJob* job);

// Whether `fd` holds the own lock of the job `id`: the process holding it
// is the one that runs the job.
bool HoldsOwnLock(const std::string& id, int fd);

// Sets job->pid to `pid` and what tells that process from a later one
// with its pid (its start time and session).
SVNStatus SetJobProcess(pid_t pid, SVNJob* job);

// Writes the record (durably once the job has ended).
SVNStatus SaveJob(const SVNJob& job);

// Reads the record `id` (kNotFound when there is none); a running record
// whose job died reads as failed.
SVNStatus ReadJob(const std::string& id, SVNJob* job);

// The records, of `name` or `id` when not empty, newest first.  Those of
// `name` are the jobs of the repository that has the name now: run under
// it, or under a name it had before a rename (see FollowRename); not
// those of another repository that had the name before.
std::vector<SVNJob> ListJobs(const std::string& name, const std::string& id);

// After the repository `from` was renamed to `to`: the records of its
// jobs (those of `from`, run on the repository `uuid` names, or on one of
// unknown UUID) say that it is `to` now.
void FollowRename(const std::string& from, const std::string& to, const std::string& uuid);

// A record as the actions answer it: id, kind, name, state, started,
// finished, progress {done, total, unit}, file, rev, error, notes (null
// when not known).
Json::Value JobJson(const SVNJob& job);

// Starts `program` with "--job ID", "--user" this user and `args` as the
// job `kind` on `name` (ID: its record's), asked for by `job->user` at
// `job->addr`, detached: in
// a session of its own, its standard streams on /dev/null, at lower CPU
// and I/O priority, holding the repository's job lock (kBusy when another
// holds it), its own lock, and `kept` (-1 for none) open as kJobKeptFd.
// Returns once it runs, with its record in *job.
SVNStatus StartJob(const std::string& program, const std::string& kind,
                   const SVNName& name, const std::vector<std::string>& args, int kept,
                   SVNJob* job);

// The environment of a job and of the tools it runs: no variable of a
// request's, only PATH, HOME, TMPDIR and TZ of ours, and LC_ALL=C.UTF-8
// (repository names may be any UTF-8).
std::vector<std::string> JobEnvironment();

// Lowers this process's CPU and I/O priority to a job's (nice 10, the
// lowest best-effort I/O level): backups give way to the server's own
// work.  What it starts inherits them.
void LowerPriority();

// Pointers to `strings` (which must outlive them), ending in a null: an
// argv or an envp.
std::vector<char*> Pointers(std::vector<std::string>& strings);

// Asks the running job `id` to stop (it leaves nothing half-made) and
// waits up to `millis` for it to end; *job is its record then.
// kNotFound when there is no such job; kFailed, signalling nothing, when
// the process its record names cannot be proven to be the job's (another
// pid, start time or session).
SVNStatus CancelJob(const std::string& id, int millis, SVNJob* job);

#endif  // SVN_JOBS_JOBS_H_
