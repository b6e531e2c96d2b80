// facts.cpp: what a repository's own files say of it: its youngest
// revision, its size, and its history through Subversion's library.

#include "store/facts.h"

#include <dirent.h>
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

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "nlibc.h"
#include "store/subversion.h"

#define LOG_MODULE "svn_fs"

// Bounds of the process that reads a repository's facts.
constexpr rlim_t kFactsMemory = 1024L * 1024 * 1024;  // address space
constexpr long kFactsMillis = 5000;
constexpr size_t kFactsText = 16384;  // a longer author is not given
constexpr size_t kFactsLog = 1 << 20;  // the longest log message read
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
SVNStatus Openable(const std::string& path) {
  for (const char* file : {"/format", "/db/format", "/db/fs-type", "/db/uuid", "/db/current"}) {
    struct stat st;
    if (stat((path + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 4096)
      return STATUS_ERROR(kFailed, "%s%s is not a plain small file.", path.c_str(), file);
  }
  char type[8] = {0};
  int fd = open((path + "/db/fs-type").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ssize_t got = fd >= 0 ? read(fd, type, sizeof type - 1) : -1;
  if (fd >= 0) close(fd);
  if (got < 0 || (strncmp(type, "fsfs\n", 5) != 0 && strncmp(type, "fsx\n", 4) != 0))
    return STATUS_ERROR(kFailed, "%s is not an FSFS or FSX repository.", path.c_str());
  return SVNStatus();
}

// A date as Subversion reads svn:date, to the second in UTC, or "".
std::string Seconds(const SVNLibrary* lib, const std::string& date, apr_pool_t* pool) {
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
std::string Prop(const SVNLibrary* lib, apr_hash_t* props, const char* name) {
  auto* value = static_cast<svn_string_t*>(lib->hashGet(props, name, APR_HASH_KEY_STRING));
  return value != nullptr ? std::string(value->data, value->len) : std::string();
}

// ReadHistory's work, in the process that does it: the facts as four
// NUL-terminated texts (the revision in decimal), or "" on failure.
// Subversion's libraries, in the process that reads; null (logged) when
// they cannot be loaded.
const SVNLibrary* Library() {
  const SVNLibrary* lib = nullptr;
  SVNStatus loaded = LoadSubversion(&lib);
  loaded.Log();
  return lib;
}

// Opens the repository at `path` read-only and finds its youngest
// revision.
svn_error_t* OpenYoungest(const SVNLibrary* lib, const std::string& path, apr_pool_t* pool,
                          svn_fs_t** fs, svn_revnum_t* rev) {
  svn_repos_t* repos = nullptr;
  svn_error_t* err = lib->reposOpen(&repos, path.c_str(), nullptr, pool, pool);
  if (err == nullptr) *fs = lib->reposFs(repos);
  return err != nullptr ? err : lib->youngest(rev, *fs, pool);
}

// Opens the repository at `path` read-only and reads its UUID and the
// properties of revision *rev (the youngest for SVN_INVALID_REVNUM, then
// set); *props stays null when there is no such revision.
svn_error_t* RevisionProps(const SVNLibrary* lib, const std::string& path, apr_pool_t* pool,
                           svn_revnum_t* rev, const char** uuid, apr_hash_t** props) {
  svn_fs_t* fs = nullptr;
  svn_revnum_t youngest = SVN_INVALID_REVNUM;
  svn_error_t* err = OpenYoungest(lib, path, pool, &fs, &youngest);
  if (err == nullptr && *rev == SVN_INVALID_REVNUM) *rev = youngest;
  if (err == nullptr && *rev > youngest) return nullptr;
  if (err == nullptr) err = lib->uuid(fs, uuid, pool);
  return err != nullptr ? err : lib->revisionProplist(props, fs, *rev, TRUE, pool, pool);
}

std::string Facts(const std::string& path) {
  const SVNLibrary* lib = Library();
  if (lib == nullptr) return "";
  SVNPool pool(lib);
  svn_revnum_t rev = SVN_INVALID_REVNUM;
  const char* uuid = nullptr;
  apr_hash_t* props = nullptr;
  svn_error_t* err = RevisionProps(lib, path, pool.get(), &rev, &uuid, &props);
  if (err != nullptr) {
    LOG_LINE("Read the history of %s failed: %s", path.c_str(), lib->takeMessage(err).c_str());
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

namespace {

// Runs `work` in a child process of its own: the library reads further
// files as they are (settings, revision properties), and a hand-made
// repository may hold a FIFO or a huge file there.  The child dies with
// the request, leaves no core, writes nothing to the response and has
// bounded memory; its answer (at most `most` bytes) must come within
// kFactsMillis.  False, with *why, when it does not.
bool Bounded(const std::function<std::string()>& work, size_t most, std::string* got,
             const char** why) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *why = "no pipe";
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    *why = "no process";
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    struct rlimit none = {0, 0};
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() == 1 ||
        setrlimit(RLIMIT_CORE, &none) != 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
      _exit(1);
    struct rlimit memory = {kFactsMemory, kFactsMemory};
    std::string out =
        kBoundMemory && setrlimit(RLIMIT_AS, &memory) != 0 ? std::string() : work();
    for (size_t at = 0; at < out.size();) {
      ssize_t n = write(fds[1], out.data() + at, out.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  char buf[65536];
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
    if (n <= 0 || got->size() > most) done = true;
    if (n > 0) got->append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (late && kill(child, SIGKILL) != 0) LOG_LINE("kill failed: %s", strerror(errno));
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (reaped != child) status = W_EXITCODE(0, SIGKILL);  // as if it died
  *why = late ? "it took too long" : !WIFEXITED(status) ? "the reader died" : nullptr;
  return *why == nullptr;
}

// ReadRepositoryFile's work, in the process that does it: 'y' and the
// text, or "" on failure.
std::string FileText(const std::string& repo, const std::string& file) {
  const SVNLibrary* lib = Library();
  if (lib == nullptr) return "";
  SVNPool pool(lib);
  svn_fs_t* fs = nullptr;
  svn_revnum_t rev = SVN_INVALID_REVNUM;
  svn_fs_root_t* root = nullptr;
  svn_stream_t* stream = nullptr;
  std::string text = "y";
  svn_error_t* err = OpenYoungest(lib, repo, pool.get(), &fs, &rev);
  if (err == nullptr) err = lib->revisionRoot(&root, fs, rev, pool.get());
  if (err == nullptr) err = lib->fileContents(&stream, root, file.c_str(), pool.get());
  char chunk[65536];
  for (apr_size_t len = sizeof chunk; err == nullptr && len == sizeof chunk;) {
    err = lib->streamReadFull(stream, chunk, &len);
    if (err == nullptr) text.append(chunk, len);
    if (text.size() > NLIBC_CONF_MAX_SIZE + 1) {
      LOG_LINE("%s in %s is too large to read.", file.c_str(), repo.c_str());
      return "";
    }
  }
  if (err != nullptr) {
    LOG_LINE("Read %s in %s failed: %s", file.c_str(), repo.c_str(), lib->takeMessage(err).c_str());
    return "";
  }
  return text;
}

// ReadRevisionLog's work, in the process that does it: 'y', the UUID, a
// NUL and the message, or "" on failure.
std::string LogText(const std::string& path, long rev) {
  const SVNLibrary* lib = Library();
  if (lib == nullptr) return "";
  SVNPool pool(lib);
  svn_revnum_t wanted = rev;
  const char* uuid = nullptr;
  apr_hash_t* props = nullptr;
  svn_error_t* err = RevisionProps(lib, path, pool.get(), &wanted, &uuid, &props);
  if (err == nullptr && props == nullptr) {
    LOG_LINE("%s has no revision %ld.", path.c_str(), rev);
    return "";
  }
  if (err != nullptr) {
    LOG_LINE("Read the log of revision %ld of %s failed: %s", rev, path.c_str(),
             lib->takeMessage(err).c_str());
    return "";
  }
  return "y" + std::string(uuid) + '\0' + Prop(lib, props, "svn:log");
}

}  // namespace

SVNStatus ReadRevisionLog(const std::string& path, long rev, std::string* log,
                          std::string* uuid) {
  SVNStatus openable = Openable(path);
  if (!openable.ok()) return openable;
  std::string got;
  const char* why = nullptr;
  bool ok = Bounded([&] { return LogText(path, rev); }, kFactsLog, &got, &why);
  const size_t nul = got.find('\0');
  if (!ok || got.empty() || got[0] != 'y' || nul == std::string::npos || got.size() > kFactsLog)
    return STATUS_ERROR(kFailed, "Read the log of revision %ld of %s failed: %s.", rev,
                        path.c_str(), why != nullptr ? why : "no answer");
  uuid->assign(got, 1, nul - 1);
  log->assign(got, nul + 1, std::string::npos);
  return SVNStatus();
}

SVNStatus ReadHistory(const std::string& path, SVNHistory* facts) {
  SVNStatus openable = Openable(path);  // checked first: loading costs milliseconds
  if (!openable.ok()) return openable;
  std::string got;
  const char* why = nullptr;
  bool ok = Bounded([&path] { return Facts(path); }, 65536, &got, &why);
  std::vector<std::string> parts;
  for (size_t b = 0, e; (e = got.find('\0', b)) != std::string::npos; b = e + 1)
    parts.push_back(got.substr(b, e - b));
  if (!ok || parts.size() != 4)
    return STATUS_ERROR(kFailed, "Read the history of %s failed: %s.", path.c_str(),
                        why != nullptr ? why : "no answer");
  facts->rev = strtol(parts[0].c_str(), nullptr, 10);
  facts->uuid = parts[1];
  facts->updated = parts[2];
  facts->author = parts[3];
  return SVNStatus();
}

SVNStatus ReadRepositoryFile(const std::string& repo, const std::string& file,
                             std::string* text) {
  SVNStatus openable = Openable(repo);
  if (!openable.ok()) return openable;
  std::string got;
  const char* why = nullptr;
  bool ok = Bounded([&] { return FileText(repo, file); }, NLIBC_CONF_MAX_SIZE + 1, &got, &why);
  if (!ok || got.empty() || got[0] != 'y')
    return STATUS_ERROR(kFailed, "Read %s in %s failed: %s.", file.c_str(), repo.c_str(),
                        why != nullptr ? why : "no answer");
  text->assign(got, 1, std::string::npos);
  return SVNStatus();
}

long ReadRevision(const std::string& path) {
  // Never waits on a FIFO, never reads more than the number's line.
  int fd = open((path + "/db/current").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[32];
  struct stat st;
  ssize_t got = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, text, sizeof text) : -1;
  close(fd);
  // FSFS writes "N\n" (older formats "N NODE COPY\n"); Subversion takes
  // the leading number, of at most ten digits and below 2^31, whatever
  // follows it.
  long rev = 0;
  ssize_t i = 0;
  for (; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
    rev = i < 10 ? rev * 10 + (text[i] - '0') : rev;
  return i > 0 && i <= 10 && rev <= 2147483647 ? rev : -1;
}

std::string ReadUuid(const std::string& path) {
  int fd = open((path + "/db/uuid").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  char text[37];
  struct stat st;
  ssize_t got = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read(fd, text, sizeof text) : -1;
  close(fd);
  // 8-4-4-4-12 hex digits, then the end of the line or of the file.
  if (got < 36 || (got == 37 && text[36] != '\n')) return "";
  for (int i = 0; i < 36; ++i) {
    const char c = text[i];
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
      return "";
  }
  return std::string(text, 36);
}

namespace {

// Deeper than this, a repository is not one svnadmin made (its deepest
// files are four levels down).
constexpr int kMaxWalkDepth = 256;

}  // namespace

SVNStatus ReadSize(const std::string& path, long long* bytes) {
  // A walk without recursion: directories still to read, with their depth.
  // "/." follows a repository that is a link to its directory.  Entries
  // gone since their directory was read (a commit's transaction files)
  // are not there to count.
  std::vector<std::pair<std::string, int>> pending{{path + "/.", 0}};
  std::set<std::pair<dev_t, ino_t>> linked;  // files seen with several links
  long long total = 0;
  struct stat st;
  if (stat(pending[0].first.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return STATUS_ERROR(kFailed, "Walk %s failed: some entries cannot be read.", path.c_str());
  total += st.st_size;
  while (!pending.empty()) {
    const std::string dir = pending.back().first;
    const int depth = pending.back().second;
    pending.pop_back();
    if (depth >= kMaxWalkDepth)
      return STATUS_ERROR(kFailed, "Walk %s failed: some entries cannot be read.", path.c_str());
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (d == nullptr) {
      int err = errno;
      if (fd >= 0) close(fd);
      if (err == ENOENT) continue;
      return STATUS_ERROR(kFailed, "Walk %s failed: some entries cannot be read.", path.c_str());
    }
    bool readable = true;
    errno = 0;
    while (struct dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
      if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) readable = false;
        errno = 0;
        continue;
      }
      if (S_ISDIR(st.st_mode)) pending.emplace_back(dir + "/" + e->d_name, depth + 1);
      if (!S_ISDIR(st.st_mode) && st.st_nlink > 1 && !linked.insert({st.st_dev, st.st_ino}).second)
        continue;
      total += st.st_size;
    }
    if (errno != 0) readable = false;
    closedir(d);
    if (!readable)
      return STATUS_ERROR(kFailed, "Walk %s failed: some entries cannot be read.", path.c_str());
  }
  *bytes = total;
  return SVNStatus();
}
