// svn_fs.cpp: a repository's facts and its standard layout, through
// libsvn_repos and libsvn_fs.

#include "svn_fs.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "svn_lib.h"

#define FS_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, "svn_fs", __LINE__, ##__VA_ARGS__)

// Bounds of the process that reads a repository's facts.
constexpr rlim_t kFactsMemory = 1024L * 1024 * 1024;  // address space
constexpr long kFactsMillis = 5000;
constexpr size_t kFactsText = 16384;  // a longer author is not given
// AddressSanitizer reserves terabytes of address space up front.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kBoundMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kBoundMemory = false;
#else
constexpr bool kBoundMemory = true;
#endif
#else
constexpr bool kBoundMemory = true;
#endif

namespace {

// The files every open of a repository reads first.  The library is
// given only an FSFS or FSX repository (opening a Berkeley DB one writes
// its environment) whose files here are plain and small; the rest it
// reads under ReadRepoFacts' bounds.
bool Openable(const std::string& path) {
  for (const char* file : {"/format", "/db/format", "/db/fs-type", "/db/uuid", "/db/current"}) {
    struct stat st;
    if (stat((path + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 4096) {
      FS_LOG("%s%s is not a plain small file.", path.c_str(), file);
      return false;
    }
  }
  char type[8] = {0};
  int fd = open((path + "/db/fs-type").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ssize_t got = fd >= 0 ? read(fd, type, sizeof type - 1) : -1;
  if (fd >= 0) close(fd);
  if (got < 0 || (strncmp(type, "fsfs\n", 5) != 0 && strncmp(type, "fsx\n", 4) != 0)) {
    FS_LOG("%s is not an FSFS or FSX repository.", path.c_str());
    return false;
  }
  return true;
}

// A date as Subversion reads svn:date, to the second in UTC, or "".
std::string Seconds(const SvnLib* lib, const std::string& date, apr_pool_t* pool) {
  apr_time_t when = 0;
  svn_error_t* err = lib->timeFromCstring(&when, date.c_str(), pool);
  if (err != nullptr) {
    lib->errorClear(err);
    return "";
  }
  time_t seconds = static_cast<time_t>(when / APR_USEC_PER_SEC);
  struct tm utc;
  char text[32];
  if (gmtime_r(&seconds, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "";
  return text;
}

// The text of the revision property `name` in `props`, or "".
std::string Prop(const SvnLib* lib, apr_hash_t* props, const char* name) {
  auto* value = static_cast<svn_string_t*>(lib->hashGet(props, name, APR_HASH_KEY_STRING));
  return value != nullptr ? std::string(value->data, value->len) : std::string();
}

// ReadRepoFacts' work, in the process that does it: the facts as four
// NUL-terminated texts (the revision in decimal), or "" on failure.
std::string Facts(const std::string& path) {
  const SvnLib* lib = SvnLibLoad();
  if (lib == nullptr) return "";
  SvnPool pool(lib);
  svn_repos_t* repos = nullptr;
  svn_revnum_t rev = SVN_INVALID_REVNUM;
  const char* uuid = nullptr;
  apr_hash_t* props = nullptr;
  svn_error_t* err = lib->reposOpen(&repos, path.c_str(), nullptr, pool.get(), pool.get());
  svn_fs_t* fs = err == nullptr ? lib->reposFs(repos) : nullptr;
  if (err == nullptr) err = lib->youngest(&rev, fs, pool.get());
  if (err == nullptr) err = lib->uuid(fs, &uuid, pool.get());
  if (err == nullptr)
    err = lib->revisionProplist(&props, fs, rev, FALSE, pool.get(), pool.get());
  if (err != nullptr) {
    FS_LOG("Read the history of %s failed: %s", path.c_str(), lib->takeMessage(err).c_str());
    return "";
  }
  std::string out = std::to_string(rev);
  for (const std::string& text : {std::string(uuid), Seconds(lib, Prop(lib, props, "svn:date"),
                                                             pool.get()),
                                  Prop(lib, props, "svn:author")})
    out += '\0' + (text.size() > kFactsText ? std::string() : text.substr(0, text.find('\0')));
  return out + '\0';
}

}  // namespace

int ReadRepoFacts(const std::string& path, RepoFacts* facts) {
  if (!Openable(path)) return -1;  // checked first: loading costs milliseconds
  // The library reads further files (settings, revision properties) as
  // they are, and a hand-made repository may hold a FIFO or a huge file
  // there: it works in a child of its own, with bounded memory and time.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    FS_LOG("pipe failed: %s", strerror(errno));
    return -1;
  }
  pid_t child = fork();
  if (child < 0) {
    FS_LOG("fork failed: %s", strerror(errno));
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (child == 0) {
    // Dies with the request, leaves no core, writes nothing to the
    // response.
    close(fds[0]);
    struct rlimit none = {0, 0};
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1 ||
        setrlimit(RLIMIT_CORE, &none) != 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
      _exit(1);
    struct rlimit memory = {kFactsMemory, kFactsMemory};
    std::string out = kBoundMemory && setrlimit(RLIMIT_AS, &memory) != 0 ? std::string()
                                                                        : Facts(path);
    for (size_t at = 0; at < out.size();) {
      ssize_t n = write(fds[1], out.data() + at, out.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string got;
  char buf[4096];
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  bool late = false, done = false;
  while (!done && !late) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    long left = kFactsMillis - ((now.tv_sec - start.tv_sec) * 1000 +
                                (now.tv_nsec - start.tv_nsec) / 1000000);
    struct pollfd in = {fds[0], POLLIN, 0};
    int ready = left > 0 ? poll(&in, 1, static_cast<int>(left)) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      late = true;
      break;
    }
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || got.size() > 65536) done = true;
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (late && kill(child, SIGKILL) != 0) FS_LOG("kill failed: %s", strerror(errno));
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped != child) status = W_EXITCODE(0, SIGKILL);  // as if it died
  std::vector<std::string> parts;
  for (size_t b = 0, e; (e = got.find('\0', b)) != std::string::npos; b = e + 1)
    parts.push_back(got.substr(b, e - b));
  if (late || parts.size() != 4 || !WIFEXITED(status)) {
    FS_LOG("Read the history of %s failed: %s.", path.c_str(),
           late ? "it took too long" : !WIFEXITED(status) ? "the reader died" : "no answer");
    return -1;
  }
  facts->rev = strtol(parts[0].c_str(), nullptr, 10);
  facts->uuid = parts[1];
  facts->updated = parts[2];
  facts->author = parts[3];
  return 0;
}

int MakeStandardLayout(const std::string& path, const std::string& author) {
  const SvnLib* lib = SvnLibLoad();
  if (lib == nullptr) return -1;
  SvnPool pool(lib);
  apr_pool_t* p = pool.get();
  svn_repos_t* repos = nullptr;
  svn_fs_txn_t* txn = nullptr;
  svn_fs_root_t* root = nullptr;
  svn_revnum_t rev = SVN_INVALID_REVNUM, made = SVN_INVALID_REVNUM;
  const char* conflict = nullptr;
  const std::string log = "Create standard layout";
  apr_hash_t* props = lib->hashMake(p);
  lib->hashSet(props, "svn:log", APR_HASH_KEY_STRING, lib->stringCreate(log.data(), log.size(), p));
  if (!author.empty())
    lib->hashSet(props, "svn:author", APR_HASH_KEY_STRING,
                 lib->stringCreate(author.data(), author.size(), p));
  svn_error_t* err = lib->reposOpen(&repos, path.c_str(), nullptr, p, p);
  if (err == nullptr) err = lib->youngest(&rev, lib->reposFs(repos), p);
  if (err == nullptr) err = lib->beginTxn(&txn, repos, rev, props, p);
  if (err == nullptr) err = lib->txnRoot(&root, txn, p);
  for (const char* dir : {"/trunk", "/branches", "/tags"})
    if (err == nullptr) err = lib->makeDir(root, dir, p);
  if (err == nullptr) err = lib->commitTxn(&conflict, repos, &made, txn, p);
  if (err == nullptr) return 0;
  std::string why = lib->takeMessage(err);
  if (SVN_IS_VALID_REVNUM(made)) {  // committed; a post-commit hook complained
    FS_LOG("After the layout of %s: %s", path.c_str(), why.c_str());
    return 0;
  }
  FS_LOG("Make the layout of %s failed: %s", path.c_str(), why.c_str());
  if (txn != nullptr) {
    err = lib->abortTxn(txn, p);
    if (err != nullptr) FS_LOG("Abort the layout failed: %s", lib->takeMessage(err).c_str());
  }
  return -1;
}
