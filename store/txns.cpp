// txns.cpp: a repository's uncommitted transactions.

#include "store/txns.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "store/fs_reader.h"
#include "store/root.h"

#define LOG_MODULE "svn_repo"

namespace {

// Where FSFS (first) and FSX keep their transactions.
const char* const kTxnDirs[] = {"/db/transactions/", "/db/txns/"};

// How long the check waits for new commits to be held back.
constexpr long kHoldMillis = 3000;

// The answer's bound.
constexpr size_t kMaxAnswer = 16u << 20;

long long NowSeconds() { return static_cast<long long>(time(nullptr)); }

// The files a commit in progress writes to: the transaction's directory
// (new entries), its list of changes and properties, its new contents.
std::vector<std::string> WrittenFiles(const std::string& repo, const std::string& id) {
  std::vector<std::string> files;
  for (const char* dir : kTxnDirs) {
    const std::string txn = repo + dir + id + ".txn";
    for (const char* file : {"", "/changes", "/props", "/rev"}) files.push_back(txn + file);
  }
  files.push_back(repo + "/db/txn-protorevs/" + id + ".rev");
  return files;
}

// Takes the lock of new transactions of the repository at `repo` on a
// descriptor of its own, waiting at most kHoldMillis: the descriptor, -1
// when there is no such lock (*status stays success), or -1 with kBusy.
int HoldNewTransactions(const std::string& repo, SVNStatus* status) {
  const std::string path = repo + "/db/txn-current-lock";
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return -1;
  }
  for (long waited = 0;; waited += 10) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kHoldMillis) break;
    usleep(10000);
  }
  close(fd);
  *status = STATUS_ERROR(kBusy, "New commits of %s could not be held back.", repo.c_str())
                .Reason("A commit may be in progress: new commits could not be held back for "
                        "the change. Try again in a moment.");
  return -1;
}

// The youngest live transaction of the repository at `repo`: its age, or
// -1 when there is none.
long long YoungestLive(const std::string& repo) {
  long long youngest = -1;
  for (const char* sub : kTxnDirs) {
    const std::string dir = repo + sub;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);  // where svnserve writes
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
      if (fd >= 0) close(fd);
      continue;
    }
    while (struct dirent* e = readdir(d)) {
      const size_t n = strlen(e->d_name);
      if (n <= 4 || strcmp(e->d_name + n - 4, ".txn") != 0) continue;
      const long long age = TxnAge(repo, std::string(e->d_name, n - 4));
      if (age >= 0 && age < kLiveSeconds && (youngest < 0 || age < youngest)) youngest = age;
    }
    closedir(d);
  }
  return youngest;
}

}  // namespace

void SVNCommitHold::release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

long long TxnAge(const std::string& repo, const std::string& id) {
  long long newest = -1;
  for (const std::string& file : WrittenFiles(repo, id)) {
    struct stat st;
    if (lstat(file.c_str(), &st) == 0)
      newest = std::max(newest, static_cast<long long>(st.st_mtime));
  }
  return newest < 0 ? -1 : std::max(0LL, NowSeconds() - newest);
}

SVNStatus CheckNoLiveCommit(const SVNName& name, SVNCommitHold* hold) {
  const std::string repo = RepoPath(name);
  SVNStatus status;
  if (hold != nullptr) {
    hold->release();
    hold->fd_ = HoldNewTransactions(repo, &status);
    STATUS_TRY(status);
  }
  const long long age = YoungestLive(repo);
  if (age < 0) return SVNStatus();
  if (hold != nullptr) hold->release();
  return STATUS_ERROR(kBusy, "%s has a transaction written to %lld seconds ago.", name.c_str(),
                      age)
      .Reason("A commit may be in progress: the repository has a transaction that changed " +
              std::to_string(age) +
              " seconds ago. Try again when it has ended; a transaction an interrupted commit "
              "left can be removed once it is 10 minutes old.");
}

namespace {

// The work of the listing: one line per transaction, {"id", "base",
// "author", "created"}.
bool ListWork(SVNFsWork& w) {
  apr_array_header_t* names = nullptr;
  if (!w.ok(w.lib->listTxns(&names, w.fs, w.pool), "List the transactions")) return false;
  for (int i = 0; i < names->nelts; ++i) {
    const char* id = reinterpret_cast<const char**>(names->elts)[i];
    Json::Value line;
    line["id"] = id;
    line["base"] = -1;
    svn_fs_txn_t* txn = nullptr;
    apr_hash_t* props = nullptr;
    svn_error_t* err = w.lib->openTxn(&txn, w.fs, id, w.pool);
    if (err == nullptr) line["base"] = Json::Int64(w.lib->txnBase(txn));
    if (err == nullptr) err = w.lib->txnProplist(&props, txn, w.pool);
    if (err != nullptr) w.lib->errorClear(err);  // a dead one: its id only
    auto prop = [&](const char* key) {
      return props == nullptr ? nullptr
                              : static_cast<const svn_string_t*>(
                                    w.lib->hashGet(props, key, APR_HASH_KEY_STRING));
    };
    line["author"] = PropText(prop("svn:author"), 16384);
    line["created"] = SvnDate(w.lib, prop("svn:date"), w.pool);
    w.line(line);
  }
  return true;
}

// The work of the removal: each of `ids` aborted, or purged when that
// fails.
bool RemoveWork(SVNFsWork& w, const std::vector<std::string>& ids) {
  bool all = true;
  for (const std::string& id : ids) {
    svn_fs_txn_t* txn = nullptr;
    svn_error_t* err = w.lib->openTxn(&txn, w.fs, id.c_str(), w.pool);
    if (err == nullptr) err = w.lib->abortTxn(txn, w.pool);
    if (err != nullptr) {
      w.lib->errorClear(err);
      err = w.lib->purgeTxn(w.fs, id.c_str(), w.pool);
    }
    all = w.ok(err, "Remove a transaction") && all;
  }
  return all;
}

}  // namespace

SVNStatus ListTxns(const std::string& repo, std::vector<SVNTxn>* txns) {
  std::vector<Json::Value> lines;
  STATUS_TRY_WITH(RunOnRepository(repo, kMaxAnswer, ListWork, &lines),
                  "List the transactions of %s failed.", repo.c_str());
  txns->clear();
  for (const Json::Value& line : lines) {
    SVNTxn txn;
    txn.id = line["id"].asString();
    txn.base = line["base"].asInt64();
    txn.author = line["author"];
    txn.created = line["created"];
    txn.age = TxnAge(repo, txn.id);
    txns->push_back(std::move(txn));
  }
  std::sort(txns->begin(), txns->end(),
            [](const SVNTxn& a, const SVNTxn& b) { return a.id < b.id; });
  return SVNStatus();
}

SVNStatus RemoveTxns(const std::string& repo, const std::vector<std::string>& ids,
                     std::vector<std::string>* removed) {
  std::vector<Json::Value> lines;
  SVNStatus status = RunOnRepository(
      repo, kMaxAnswer, [&](SVNFsWork& w) { return RemoveWork(w, ids); }, &lines);
  if (!status.ok()) STATUS_WITH(status, "Remove transactions of %s failed.", repo.c_str());
  // What went is what is no longer there.
  std::vector<SVNTxn> left;
  SVNStatus listed = ListTxns(repo, &left);
  removed->clear();
  if (!listed.ok()) return status.Then(std::move(listed));
  std::set<std::string> there;
  for (const SVNTxn& t : left) there.insert(t.id);
  for (const std::string& id : ids)
    if (!there.count(id)) removed->push_back(id);
  return status;
}
