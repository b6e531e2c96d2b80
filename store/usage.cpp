// usage.cpp: disk use, with the repositories' sizes cached.

#include "store/usage.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <unordered_map>

#include "store/backups.h"
#include "store/facts.h"
#include "store/name.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"

#define LOG_MODULE "svn_repo"

namespace {

const char kCacheHead[] = "svn.cgi usage cache 1\n";
// An entry older than this is measured again.
constexpr long long kCacheSeconds = 24 * 60 * 60;
// The cache's bound: far more than a million repositories' lines.
constexpr size_t kMaxCache = 256u << 20;

struct Entry {
  std::string marks;
  long long size = -1;
  long long at = 0;  // when it was measured (seconds since 1970)
};

using Cache = std::unordered_map<std::string, Entry>;

std::string CachePath() { return Package().stateDir + "/usage.cache"; }

unsigned long long Nanos(const struct timespec& t) {
  return static_cast<unsigned long long>(t.tv_sec) * 1000000000ULL +
         static_cast<unsigned long long>(t.tv_nsec);
}

// What the repository's files say that changes with every change of its
// size but those of a few bytes: see usage.h.  FSFS keeps a lock of every
// path in a file named by the MD5 of the path, in db/locks/ABC/ (its
// first three digits), and lists every lock in the file of "/" as well,
// whose directory (666: MD5 of "/" is 6666cd76...) thus changes with
// every lock taken or removed.  The files are looked up from `root`, a
// descriptor of the root (-1: by their whole paths), as every one of a
// thousand repositories is.
std::string Marks(int root, const std::string& name, const struct stat& settings) {
  const int at = root >= 0 ? root : AT_FDCWD;
  const std::string dir = root >= 0 ? name : RepoPath(name);
  struct stat current = {}, db = {}, txns = {}, locks = {};
  fstatat(at, (dir + "/db/current").c_str(), &current, AT_SYMLINK_NOFOLLOW);
  fstatat(at, (dir + "/db").c_str(), &db, AT_SYMLINK_NOFOLLOW);
  fstatat(at, (dir + "/db/transactions").c_str(), &txns, AT_SYMLINK_NOFOLLOW);
  fstatat(at, (dir + "/db/locks/666").c_str(), &locks, AT_SYMLINK_NOFOLLOW);
  std::string marks;
  marks.reserve(160);
  for (unsigned long long n :
       {static_cast<unsigned long long>(settings.st_dev), static_cast<unsigned long long>(settings.st_ino),
        Nanos(settings.st_mtim), static_cast<unsigned long long>(current.st_ino),
        Nanos(current.st_mtim), static_cast<unsigned long long>(current.st_size), Nanos(db.st_mtim),
        Nanos(txns.st_mtim), Nanos(locks.st_mtim)}) {
    char hex[17];
    int digit = 16;
    hex[digit] = '\0';
    do {
      hex[--digit] = "0123456789abcdef"[n & 15];
      n >>= 4;
    } while (n != 0);
    if (!marks.empty()) marks += '.';
    marks += hex + digit;
  }
  return marks;
}

// A number of up to 18 digits, or -1.
long long Number(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return strtoll(text.c_str(), nullptr, 10);
}

// The cache's entries: lines "NAME\tMARKS\tSIZE\tWHEN"; any other line
// is passed over.
Cache ReadCache() {
  Cache cache;
  std::string text;
  if (!ReadPrivateFile(CachePath(), kMaxCache, &text) || text.compare(0, sizeof kCacheHead - 1,
                                                                      kCacheHead) != 0)
    return cache;
  for (size_t at = sizeof kCacheHead - 1, end; (end = text.find('\n', at)) != std::string::npos;
       at = end + 1) {
    const std::string line = text.substr(at, end - at);
    size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
    if (t1 == std::string::npos || t2 == std::string::npos || t3 == std::string::npos ||
        line.find('\t', t3 + 1) != std::string::npos)
      continue;
    Entry e{line.substr(t1 + 1, t2 - t1 - 1), Number(line.substr(t2 + 1, t3 - t2 - 1)),
            Number(line.substr(t3 + 1))};
    if (e.size >= 0 && e.at >= 0) cache.emplace(line.substr(0, t1), std::move(e));
  }
  return cache;
}

void WriteCache(const Cache& cache) {
  std::string text = kCacheHead;
  for (const auto& [name, e] : cache)
    text += name + "\t" + e.marks + "\t" + std::to_string(e.size) + "\t" + std::to_string(e.at) +
            "\n";
  SVNStatus status = PrivateDir(Package().stateDir, true, true);
  if (status.ok()) status = WritePrivateFile(CachePath(), text, false);
  if (!status.ok()) STATUS_WITH(status, "The cache of sizes was not written.").Log();
}

long long Millis() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

SVNDiskSpace Space(const std::string& path) {
  SVNDiskSpace space;
  struct statvfs vfs;
  if (statvfs(path.c_str(), &vfs) != 0) return space;
  space.free = static_cast<long long>(vfs.f_bavail) * static_cast<long long>(vfs.f_frsize);
  space.size = static_cast<long long>(vfs.f_blocks) * static_cast<long long>(vfs.f_frsize);
  return space;
}

// The sizes of the repositories, from the cache where its entry holds.
void Repositories(SVNUsage* usage) {
  const Cache cache = ReadCache();
  Cache now;
  bool changed = false;
  const long long start = Millis(), seconds = time(nullptr);
  const int root = open(Package().repoRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  WalkRoot("", [&](std::string name, const struct stat& settings) {
    SVNRepoUsage repo;
    repo.name = name;
    const std::string path = RepoPath(name);
    Entry e{Marks(root, name, settings)};
    auto hit = cache.find(name);
    if (hit != cache.end() && hit->second.marks == e.marks && hit->second.at <= seconds &&
        seconds - hit->second.at < kCacheSeconds) {
      e = hit->second;
    } else if (Millis() - start < kMeasureMillis) {
      SVNStatus status = ReadSize(path, &e.size);
      status.Log();
      e.at = seconds;
      changed = true;
    } else {
      repo.measured = false;
    }
    repo.size = e.size;
    if (e.size >= 0) now.emplace(std::move(name), std::move(e));
    usage->repositories.push_back(std::move(repo));
  });
  if (root >= 0) close(root);
  if (changed || now.size() != cache.size()) WriteCache(now);
}

}  // namespace

void ReadUsage(SVNUsage* usage) {
  *usage = SVNUsage();
  Repositories(usage);
  usage->root = Space(Package().repoRoot);
  std::string dir;
  SVNStatus status = BackupDir(false, &dir);
  usage->backupDir = status.ok();
  if (!status.ok()) {  // none yet, or not one to use (logged): not known
    if (status.code() != SVNStatus::kNotFound) status.Log();
    return;
  }
  usage->backupDisk = Space(dir);
  struct stat root, backups;
  usage->sameDisk = stat(Package().repoRoot.c_str(), &root) == 0 &&
                    stat(dir.c_str(), &backups) == 0 && root.st_dev == backups.st_dev;
  status = ReadSize(dir, &usage->backups);
  status.Log();
}
