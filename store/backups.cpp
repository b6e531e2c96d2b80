// backups.cpp: the backup directory, its names, and verify records.

#include "store/backups.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>

#include "store/package.h"
#include "store/private_file.h"
#include "store/work_dir.h"

#define LOG_MODULE "svn_backup"

namespace {

const size_t kMaxFileName = 160;  // of FileNameOf's result
const char kNameFile[] = "/.name";
const char kVerified[] = "/verified";
const char kSuffix[] = ".tar.gz";
const char kTemporary[] = ".part-";

// FNV-1a, 64 bits: tells long names apart that share their beginning.
unsigned long long Hash(const std::string& text) {
  unsigned long long h = 14695981039346656037ULL;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
  return h;
}

// Whatever the locale says.
bool AsciiAlnum(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool Digits(const std::string& s, size_t from, size_t n) {
  if (from + n > s.size()) return false;
  for (size_t i = from; i < from + n; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// Splits a backup's file name into the directory name D, the time and
// the revision; false when it is not the name of a backup.
bool ParseFileName(const std::string& file, std::string* dir, std::string* time, long* rev) {
  // D-YYYYMMDDTHHMMSSZ-rREV.tar.gz
  const size_t suffix = sizeof kSuffix - 1;
  if (file.size() <= suffix || file.compare(file.size() - suffix, suffix, kSuffix) != 0)
    return false;
  size_t r = file.rfind("-r");
  if (r == std::string::npos || r < 17) return false;
  size_t revDigits = file.size() - suffix - (r + 2);
  if (revDigits < 1 || revDigits > 10 || !Digits(file, r + 2, revDigits)) return false;
  size_t t = r - 16;  // "YYYYMMDDTHHMMSSZ"
  if (file[t - 1] != '-' || !Digits(file, t, 8) || file[t + 8] != 'T' ||
      !Digits(file, t + 9, 6) || file[t + 15] != 'Z')
    return false;
  *dir = file.substr(0, t - 1);
  if (dir->empty() || dir->size() > kMaxFileName || (*dir)[0] == '.' || (*dir)[0] == '-')
    return false;
  for (char c : *dir)
    if (!AsciiAlnum(static_cast<unsigned char>(c)) && !strchr("_.-%~", c)) return false;
  *rev = strtol(file.c_str() + r + 2, nullptr, 10);
  if (*rev > 2147483647L) return false;
  *time = file.substr(t, 4) + "-" + file.substr(t + 4, 2) + "-" + file.substr(t + 6, 2) + "T" +
          file.substr(t + 9, 2) + ":" + file.substr(t + 11, 2) + ":" + file.substr(t + 13, 2) +
          "Z";
  return true;
}


SVNTested ParseTested(const Json::Value& t) {
  SVNTested tested;
  if (!t.isObject() || !t["time"].isString() || !t["ok"].isBool()) return tested;
  tested.time = t["time"].asString();
  tested.ok = t["ok"].asBool();
  tested.rev = t["rev"].isInt64() ? static_cast<long>(t["rev"].asInt64()) : -1;
  tested.error = t["error"].isString() ? t["error"].asString() : "";
  return tested;
}

// Fills in what the file beside `b` says, when it says it of this file.
void ReadInfo(SVNBackup* b) {
  std::string text;
  Json::Value info;
  if (!ReadPrivateFile(BackupInfoPath(b->path), 64 * 1024, &text) || !ReadJson(text, &info) ||
      !info.isObject() || !info["size"].isInt64() || info["size"].asInt64() != b->size)
    return;
  if (info["kind"].isString()) b->kind = info["kind"].asString();
  if (info["sha256"].isString()) b->sha256 = info["sha256"].asString();
  if (info["uuid"].isString()) b->uuid = info["uuid"].asString();
  if (info["seq"].isInt64() && PlausibleSeq(info["seq"].asInt64())) b->seq = info["seq"].asInt64();
  b->tested = ParseTested(info["tested"]);
}

// The repository whose backups `dir` (a directory of the backup
// directory) holds: its .name, which must be the name `dir` is made of.
bool NameOf(const std::string& backupDir, const std::string& dir, std::string* name) {
  std::string text;
  if (!ReadPrivateFile(backupDir + "/" + dir + kNameFile, 4096, &text) ||
      FileNameOf(text) != dir)
    return false;
  *name = text;
  return true;
}

// Adds the backups in `dir` (of the repository `name`) to `out`.
void ListDir(const std::string& backupDir, const std::string& dir, const std::string& name,
             std::vector<SVNBackup>* out) {
  const std::string path = backupDir + "/" + dir;
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = readdir(d)) {
    SVNBackup b;
    std::string owner;
    if (e->d_name[0] == '.' || !ParseFileName(e->d_name, &owner, &b.time, &b.rev) || owner != dir)
      continue;
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid())
      continue;
    b.name = name;
    b.file = e->d_name;
    b.path = path + "/" + b.file;
    b.size = st.st_size;
    ReadInfo(&b);
    out->push_back(std::move(b));
  }
  closedir(d);
}

}  // namespace

std::string FileNameOf(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (AsciiAlnum(c) || c == '_' || (i > 0 && (c == '.' || c == '-'))) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > kMaxFileName) {
    size_t cut = kMaxFileName - 17;
    while (cut > 0 && (out[cut - 1] == '%' || (cut > 1 && out[cut - 2] == '%'))) --cut;
    char tail[20];
    snprintf(tail, sizeof tail, "~%016llx", Hash(name));
    out = out.substr(0, cut) + tail;
  }
  return out;
}

std::string IsoTime(time_t when) {
  struct tm utc;
  char text[32];
  if (gmtime_r(&when, &utc) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
    return "";
  return text;
}

namespace {

// Whether `d` (a directory on the way to the backup directory, its
// parent when `parent`) is one nobody else may change: root's or ours,
// writable by no one else, but for a sticky directory (/tmp) above the
// parent, in which others cannot move what is ours or root's.
bool SafeStep(const std::string& d, bool parent) {
  struct stat st;
  if (stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (!parent && (st.st_mode & S_ISVTX) != 0);
}

// Whether every directory from / down to `path` is safe (see SafeStep).
bool SafeWay(const std::string& path) {
  if (!SafeStep("/", path == "/")) return false;
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const bool last = end == std::string::npos;
    if (!SafeStep(last ? path : path.substr(0, end), last)) return false;
    if (last) return true;
  }
}

// Whether `a` is `b` or lies inside it.
bool Within(const std::string& a, const std::string& b) {
  return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '/');
}

// Whether the directory holding `dir` is one that nobody else may change
// (make or replace `dir` in it), on the way it is named and on the way it
// leads to: root's or ours, not writable by their group or others; and
// whether `dir` stays clear of the repository root (neither holds the
// other: the backup directory is made private to us).
SVNStatus SafeParent(const std::string& dir) {
  const std::string why = "The backup directory " + dir + " cannot be used.";
  if (dir.find("/./") != std::string::npos || dir.find("/../") != std::string::npos ||
      (dir.size() >= 2 && dir.compare(dir.size() - 2, 2, "/.") == 0) ||
      (dir.size() >= 3 && dir.compare(dir.size() - 3, 3, "/..") == 0))
    return STATUS_ERROR(kFailed, "%s names . or ..: not used.", dir.c_str()).Reason(why);
  const size_t slash = dir.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : dir.substr(0, slash);
  char* resolved = realpath(parent.c_str(), nullptr);
  if (resolved == nullptr)
    return STATUS_ERROR(kFailed, "Resolve %s failed: %s", parent.c_str(), strerror(errno))
        .Reason(why);
  const std::string real = resolved;
  free(resolved);
  if (!SafeWay(parent) || !SafeWay(real))
    return STATUS_ERROR(kFailed, "%s may be changed by others: the backup directory in it is "
                        "not used.", parent.c_str())
        .Reason("The backup directory " + dir + " is in a folder others may write to (" +
                parent + "): it is not used.");
  const std::string target = real + (real == "/" ? "" : "/") + dir.substr(slash + 1);
  char* root = realpath(Package().repoRoot.c_str(), nullptr);
  const bool clash = root != nullptr && (Within(target, root) || Within(root, target));
  free(root);
  if (clash)
    return STATUS_ERROR(kFailed, "%s is the repository root, in it or holds it: not used.",
                        dir.c_str())
        .Reason("The backup directory " + dir + " would be the repository root, in it or "
                "around it: it is not used.");
  return SVNStatus();
}

}  // namespace

SVNStatus BackupDir(bool create, std::string* dir) {
  const std::string& settingFile = Package().backupSetting;
  std::string setting;
  struct stat st;
  if (lstat(settingFile.c_str(), &st) == 0) {
    // Whoever may write this file decides where account files go.
    if (!S_ISREG(st.st_mode) || (st.st_uid != 0 && st.st_uid != geteuid()) ||
        (st.st_mode & 022) != 0 || st.st_size > 4096)
      return STATUS_ERROR(kFailed, "%s is not a file of root's or the service user's that "
                          "only they may write: not used.", settingFile.c_str())
          .Reason("The backup directory setting is not safe to use.");
    int fd = open(settingFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    char text[4097];
    ssize_t n = fd >= 0 ? read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0) close(fd);
    if (n < 0)
      return STATUS_ERROR(kFailed, "Read %s failed: %s", settingFile.c_str(), strerror(errno));
    setting.assign(text, static_cast<size_t>(n));
    setting = setting.substr(0, setting.find('\n'));
    while (!setting.empty() && (setting.back() == ' ' || setting.back() == '\r' ||
                                setting.back() == '\t'))
      setting.pop_back();
    bool clean = !setting.empty() && setting[0] == '/';
    for (unsigned char c : setting) clean = clean && c >= 0x20 && c != 0x7F;
    if (!clean)
      return STATUS_ERROR(kFailed, "%s does not name an absolute path.", settingFile.c_str())
          .Reason("The backup directory setting does not name an absolute path.");
  } else if (errno != ENOENT) {
    return STATUS_ERROR(kFailed, "Stat %s failed: %s", settingFile.c_str(), strerror(errno));
  }
  *dir = setting.empty() ? Package().backupDir : setting;
  STATUS_TRY(SafeParent(*dir));
  // A link there is refused, never followed (it may lead anywhere: the
  // repository root), and only the directory itself is made private.
  SVNStatus status = PrivateDir(*dir, create, true);
  if (!status.ok() && status.code() != SVNStatus::kNotFound)
    status.Reason("The backup directory " + *dir + " cannot be used.");
  return status;
}

SVNStatus BackupDirOf(const std::string& name, bool create, std::string* dir) {
  std::string top;
  STATUS_TRY(BackupDir(create, &top));
  const std::string d = FileNameOf(name);
  *dir = top + "/" + d;
  STATUS_TRY(PrivateDir(*dir, create, true));
  std::string held;
  if (ReadPrivateFile(*dir + kNameFile, 4096, &held)) {
    if (held == name) return SVNStatus();
  } else if (access((*dir + kNameFile).c_str(), F_OK) != 0 && errno == ENOENT) {
    if (create) return WritePrivateFile(*dir + kNameFile, name, true);
    return STATUS_ERROR(kNotFound, "No backups of %s.", name.c_str());
  }
  return STATUS_ERROR(kFailed, "%s holds the backups of another repository.", dir->c_str())
      .Reason("The backup directory of this repository holds another one's backups.");
}

std::string BackupFileName(const std::string& name, time_t when, long rev) {
  struct tm utc;
  char stamp[32] = "";
  if (gmtime_r(&when, &utc) != nullptr) strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  return FileNameOf(name) + "-" + stamp + "-r" + std::to_string(rev) + kSuffix;
}

SVNStatus MoveBackups(const std::string& from, const std::string& to) {
  std::string fromDir, toDir;
  SVNStatus status = BackupDirOf(from, false, &fromDir);
  if (status.code() == SVNStatus::kNotFound) return SVNStatus();  // none
  if (!status.ok() || !(status = BackupDirOf(to, true, &toDir)).ok()) return status;
  std::vector<std::string> files;
  if (DIR* d = opendir(fromDir.c_str())) {
    while (struct dirent* e = readdir(d)) files.push_back(e->d_name);
    closedir(d);
  }
  const std::string oldPrefix = FileNameOf(from), newPrefix = FileNameOf(to);
  bool all = true;
  for (const std::string& file : files) {
    std::string dir, time;
    long rev = 0;
    if (!ParseFileName(file, &dir, &time, &rev) || dir != oldPrefix) continue;
    const std::string moved = newPrefix + file.substr(oldPrefix.size());
    if (renameat2(AT_FDCWD, (fromDir + "/" + file).c_str(), AT_FDCWD,
                  (toDir + "/" + moved).c_str(), RENAME_NOREPLACE) != 0) {
      all = false;
      continue;
    }
    renameat2(AT_FDCWD, BackupInfoPath(fromDir + "/" + file).c_str(), AT_FDCWD,
              BackupInfoPath(toDir + "/" + moved).c_str(), RENAME_NOREPLACE);
  }
  SVNStatus synced = SyncDir(toDir);
  if (synced.ok()) synced = SyncDir(fromDir);
  if (!all)
    return STATUS_ERROR(kFailed, "Some backups of %s stay in %s.", from.c_str(), fromDir.c_str());
  return synced;
}

SVNStatus ListBackups(const std::string& name, std::vector<SVNBackup>* backups) {
  backups->clear();
  std::string top;
  SVNStatus status = BackupDir(false, &top);
  if (status.code() == SVNStatus::kNotFound) return SVNStatus();
  if (!status.ok()) return status;
  std::vector<std::string> dirs;
  if (!name.empty()) {
    dirs.push_back(FileNameOf(name));
  } else if (DIR* d = opendir(top.c_str())) {
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.') dirs.push_back(e->d_name);
    closedir(d);
  } else {
    return STATUS_ERROR(kFailed, "Read %s failed: %s", top.c_str(), strerror(errno));
  }
  for (const std::string& dir : dirs) {
    std::string owner;
    if (NameOf(top, dir, &owner) && (name.empty() || owner == name))
      ListDir(top, dir, owner, backups);
  }
  std::sort(backups->begin(), backups->end(), [](const SVNBackup& a, const SVNBackup& b) {
    if (a.name == b.name && a.seq != b.seq) return a.seq > b.seq;
    if (a.time != b.time) return a.time > b.time;
    if (a.name != b.name) return a.name < b.name;
    return a.rev > b.rev;
  });
  return SVNStatus();
}

SVNStatus FindBackup(const std::string& name, const std::string& file, SVNBackup* backup) {
  std::string dir, owner, top;
  SVNBackup b;
  if (!ParseFileName(file, &dir, &b.time, &b.rev) || (!name.empty() && dir != FileNameOf(name)))
    return STATUS_ERROR(kNotFound, "No backup %s of %s.", file.c_str(), name.c_str());
  STATUS_TRY(BackupDir(false, &top));
  if (!NameOf(top, dir, &owner) || (!name.empty() && owner != name))
    return STATUS_ERROR(kNotFound, "No backups of %s in %s.", dir.c_str(), top.c_str());
  b.name = owner;
  b.file = file;
  b.path = top + "/" + dir + "/" + file;
  struct stat st;
  if (lstat(b.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
    return STATUS_ERROR(kNotFound, "No backup %s.", b.path.c_str());
  b.size = st.st_size;
  ReadInfo(&b);
  *backup = b;
  return SVNStatus();
}

std::string BackupInfoPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".json";
}

SVNStatus WriteBackupInfo(const SVNBackup& backup) {
  Json::Value info;
  info["kind"] = backup.kind;
  info["rev"] = Json::Int64(backup.rev);
  info["size"] = Json::Int64(backup.size);
  info["sha256"] = backup.sha256;
  info["uuid"] = backup.uuid;
  info["seq"] = Json::Int64(backup.seq);
  info["time"] = backup.time;
  info["tested"] = TestedJson(backup.tested);
  return WritePrivateFile(BackupInfoPath(backup.path), info.toStyledString(), true);
}

long long NextBackupSeq(const std::string& dir) {
  long long most = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() < 7 || n[0] != '.' || n.compare(n.size() - 5, 5, ".json") != 0) continue;
      std::string text;
      Json::Value info;
      if (ReadPrivateFile(dir + "/" + n, 64 * 1024, &text) && ReadJson(text, &info) &&
          info.isObject() && info["seq"].isInt64() && PlausibleSeq(info["seq"].asInt64()))
        most = std::max<long long>(most, info["seq"].asInt64());
    }
    closedir(d);
  }
  return most + 1;
}

Json::Value TestedJson(const SVNTested& tested) {
  if (tested.time.empty()) return Json::Value();
  Json::Value t;
  t["time"] = tested.time;
  t["ok"] = tested.ok;
  if (tested.rev >= 0) t["rev"] = Json::Int64(tested.rev);
  if (!tested.error.empty()) t["error"] = tested.error;
  return t;
}

SVNStatus RemoveBackup(const SVNBackup& backup) {
  unlink(BackupInfoPath(backup.path).c_str());
  if (unlink(backup.path.c_str()) != 0) {
    int err = errno;
    return SVNStatus::Error(err == ENOENT ? SVNStatus::kNotFound : SVNStatus::kFailed,
                            LOG_MODULE, __LINE__,
                            Format("Remove %s failed: %s", backup.path.c_str(), strerror(err)));
  }
  return SyncDir(backup.path.substr(0, backup.path.rfind('/')));
}

void RemoveStaleTemporaries(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = readdir(d)) {
    if (strncmp(e->d_name, kTemporary, sizeof kTemporary - 1) != 0) continue;
    int fd = openat(dirfd(d), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    // A writer holds its file locked while it writes.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && unlinkat(dirfd(d), e->d_name, 0) != 0)
      LOG_LINE("Remove %s/%s failed: %s", dir.c_str(), e->d_name, strerror(errno));
    close(fd);
  }
  closedir(d);
}

Json::Value ReadVerified(const std::string& path) {
  std::string text;
  Json::Value record;
  if (!ReadPrivateFile(path + kVerified, 4096, &text) || !ReadJson(text, &record))
    return Json::Value();
  return TestedJson(ParseTested(record));
}

SVNStatus WriteVerified(const std::string& path, const SVNTested& verified) {
  return WritePrivateFile(path + kVerified, TestedJson(verified).toStyledString(), true);
}
