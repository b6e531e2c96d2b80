// jobs_support.h: what tests of backups, restores and verifies share:
// tar archives made entry by entry (hostile ones too), multipart bodies,
// waiting for a job, running svn-admin, a real svnserve, history made by
// the real svn client.
#ifndef TESTS_SUPPORT_JOBS_SUPPORT_H_
#define TESTS_SUPPORT_JOBS_SUPPORT_H_

#include <json/value.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "cgi_run.h"

namespace jobs {

// One entry of a tar archive: a file (`data`), or a link to `target`
// (`kind` 'l' symbolic, 'h' hard), or a directory ('d').
struct TarEntry {
  TarEntry(std::string p, std::string d, char k = 'f', std::string t = "")
      : path(std::move(p)), data(std::move(d)), kind(k), target(std::move(t)) {}
  std::string path;
  std::string data;
  char kind;
  std::string target;
};

// The entries as a pax tar archive, gzip-compressed unless `gzip` is
// false.
std::string MakeTar(const std::vector<TarEntry>& entries, bool gzip = true);

// The entries of a tar(.gz) archive, as libarchive reads them; empty when
// it cannot be read.
std::vector<TarEntry> ReadTar(const std::string& archive);

// `entries` with their SHA256SUMS made again (at the end) for the files
// they hold: what a hostile author of a backup can do.
std::vector<TarEntry> WithSums(std::vector<TarEntry> entries);

// gzip of `data`.
std::string Gzip(const std::string& data);

// A multipart/form-data body of `fields` and, when `fileField` is not
// empty, a file part holding `file` (after the fields); *contentType is
// the header to send it with.
std::string Multipart(const Params& fields, const std::string& fileField,
                      const std::string& file, std::string* contentType);

// The record of the job `id` once it has ended (the program asked with
// "jobs"), or after `seconds`.  `program` is the test's svn.cgi,
// `packageDir` its package directory.
Json::Value WaitJob(const std::string& program, const std::string& packageDir,
                    const std::string& id, int seconds = 120);

// Waits until the job's record shows it has done `done` revisions.
bool WaitProgress(const std::string& packageDir, const std::string& id, long long done,
                  int seconds = 60);

// The process running the job `id` (from its record).
pid_t JobPid(const std::string& packageDir, const std::string& id);

// Runs `svn-admin ARGS` (as the current user, told with --user) and gives
// its standard output; *status is its exit status.
std::string Admin(const std::string& program, const std::string& args, int* status);

// Commits to the repository at `dir` with the real svn client, as
// `author` with log `message`: `script` runs in a working copy (a shell
// command line) before the commit.
bool Commit(const std::string& dir, const std::string& author, const std::string& message,
            const std::string& script);

// What svnlook says of every revision of the repository at `dir`: the
// UUID, then per revision its author, date, log and changed paths, and
// the tree of the youngest revision.
std::string History(const std::string& dir);

// svnserve serving `root` on a free loopback port, until destroyed.
class Svnserve {
 public:
  explicit Svnserve(const std::string& root);
  ~Svnserve();
  Svnserve(const Svnserve&) = delete;
  Svnserve& operator=(const Svnserve&) = delete;
  // Whether `svn ls` of the repository `name` succeeds as `user`
  // (anonymous when empty).
  bool Lists(const std::string& name, const std::string& user, const std::string& password) const;

 private:
  std::string root_;
  int port_ = 0;
  pid_t pid_ = 0;
};

}  // namespace jobs

#endif  // TESTS_SUPPORT_JOBS_SUPPORT_H_
