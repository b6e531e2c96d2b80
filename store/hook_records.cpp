// hook_records.cpp: the drop directory of hooks' records.

#include "store/hook_records.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "store/package.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_audit"

namespace {

// The owner's everything, the group's adding only; sticky and set-group.
constexpr mode_t kDropMode = 03730;
// A temporary file older than this was left by a killed writer.
constexpr time_t kLeftoverSeconds = 600;

const std::string kSuffix = ".json";

// The drop directories there may be, the package's first.
std::vector<std::string> DropDirs() {
  return {Package().hookRecordsDir, Package().hiddenHookRecordsDir};
}

// Opens `dir` as the service user's drop directory, giving it its mode;
// -1 when it is missing, or (logged) not a directory of this user's.
int OpenOwnDropDir(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0) {
    if (errno != ENOENT) LOG_LINE("Open %s failed: %s", dir.c_str(), strerror(errno));
    return -1;
  }
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid() ||
      ((st.st_mode & 07777) != kDropMode && fchmod(fd, kDropMode) != 0)) {
    LOG_LINE("%s is not a drop directory of this user's: left alone.", dir.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

// A name for a new record: the time (in order), the writer and chance.
std::string NewName() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char name[96];
  size_t at = strftime(name, sizeof name, "%Y%m%dT%H%M%S", &utc);
  unsigned char random[4] = {0, 0, 0, 0};
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
    random[0] = static_cast<unsigned char>(now.tv_nsec);
  snprintf(name + at, sizeof name - at, ".%06ldZ-%d-%02x%02x%02x%02x", now.tv_nsec / 1000,
           static_cast<int>(getpid()), random[0], random[1], random[2], random[3]);
  return name;
}

// Whether the drop directory `fd` (found as `dir`) may take a record: the
// service user's (the owner of the state directory), not a link, writable
// by no one else.
bool Trusted(int fd) {
  struct stat st, state;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWOTH) == 0 &&
         stat(Package().stateDir.c_str(), &state) == 0 && st.st_uid == state.st_uid;
}

// Writes `text` as the new file `name` of the directory `dir` (an O_PATH
// descriptor: the writer may not read it).
SVNStatus WriteNew(int dir, const std::string& name, const std::string& text) {
  const std::string temp = "." + name;
  int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
  bool ok = fd >= 0 && fchmod(fd, 0640) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  int err = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0)
    return SVNStatus();
  if (ok) err = errno;
  if (fd >= 0) unlinkat(dir, temp.c_str(), 0);
  return STATUS_ERROR(kFailed, "Leave the record %s failed: %s", name.c_str(), strerror(err));
}

// The record files of the directory `fd`, oldest first; temporary files a
// killed writer left are removed.
std::vector<std::string> RecordNames(int fd) {
  std::vector<std::string> names;
  int copy = dup(fd);
  DIR* d = copy >= 0 ? fdopendir(copy) : nullptr;
  if (d == nullptr) {
    if (copy >= 0) close(copy);
    return names;
  }
  while (struct dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    struct stat st;
    if (name[0] != '.') {
      names.push_back(name);
    } else if (name != "." && name != ".." &&
               fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               time(nullptr) - st.st_mtime > kLeftoverSeconds) {
      unlinkat(fd, name.c_str(), 0);
    }
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// The record in the file `name` of `dir`; null when it is none.
Json::Value ReadRecord(int dir, const std::string& name) {
  Json::Value record;
  int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0) return record;
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            static_cast<size_t>(st.st_size) <= kHookRecordMax;
  char buf[65536];
  while (ok) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    ok = text.size() <= kHookRecordMax;
  }
  close(fd);
  if (!ok || !ReadJson(text, &record) || !record.isObject()) record = Json::Value();
  return record;
}

}  // namespace

SVNStatus MakeHookRecordsDir() {
  for (const std::string& dir : DropDirs()) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) continue;
    int fd = OpenOwnDropDir(dir);
    if (fd < 0) return STATUS_ERROR(kFailed, "%s cannot take hooks' records.", dir.c_str());
    close(fd);
    return SVNStatus();
  }
  return STATUS_ERROR(kFailed, "No drop directory can be made at %s or %s: %s",
                      Package().hookRecordsDir.c_str(), Package().hiddenHookRecordsDir.c_str(),
                      strerror(errno));
}

SVNStatus WriteHookRecord(const Json::Value& record) {
  for (const std::string& dir : DropDirs()) {
    int fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) continue;
    if (fd < 0 || !Trusted(fd)) {
      SVNStatus status = STATUS_ERROR(kFailed, "%s is not the service user's drop directory: %s",
                                      dir.c_str(), fd < 0 ? strerror(errno) : "refused");
      if (fd >= 0) close(fd);
      return status;
    }
    SVNStatus status = WriteNew(fd, NewName() + kSuffix, record.toStyledString());
    close(fd);
    return status;
  }
  return STATUS_ERROR(kFailed, "There is no drop directory for hooks' records.");
}

void TakeHookRecords(size_t most,
                     const std::function<bool(const std::string& id, const Json::Value& record)>& take) {
  for (const std::string& dir : DropDirs()) {
    int fd = most > 0 ? OpenOwnDropDir(dir) : -1;
    if (fd < 0) continue;
    for (const std::string& name : RecordNames(fd)) {
      if (most == 0) break;
      --most;
      const Json::Value record = ReadRecord(fd, name);
      const bool isRecord = !record.isNull() && name.size() > kSuffix.size() &&
                            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
      if (isRecord && !take(name.substr(0, name.size() - kSuffix.size()), record)) break;
      if (!isRecord) LOG_LINE("%s/%s is no record of a hook: removed.", dir.c_str(), name.c_str());
      if (unlinkat(fd, name.c_str(), 0) != 0 && unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0)
        LOG_LINE("Remove %s/%s failed: %s", dir.c_str(), name.c_str(), strerror(errno));
    }
    close(fd);
  }
}
