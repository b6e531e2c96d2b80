// audit_log.cpp: the audit log's files: appending, rotating, reading back.

#include "store/audit_log.h"

#include <errno.h>
#include <fcntl.h>
#include <json/reader.h>
#include <json/writer.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>

#include "nlibc.h"
#include "store/hook_records.h"
#include "store/name.h"
#include "store/package.h"

#define LOG_MODULE "svn_audit"

namespace {

const char kLogName[] = "audit.log";
const size_t kChunk = 16 * 1024;  // read at a time
const size_t kMaxText = 256;      // bytes of a text in an abridged record
const size_t kMaxListed = 20;     // entries of a list in an abridged record
const int kLockSeconds = 10;

// A descriptor, closed on every path.
struct Fd {
  int fd;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(Fd&& o) : fd(o.fd) { o.fd = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// "audit.log", "audit.log.1", ...
std::string FileName(int i) {
  std::string name = kLogName;
  return i == 0 ? name : name + "." + std::to_string(i);
}

// Opens the state directory, making it (private) when `make` and it is
// missing; *fd is -1 (and the status a success) when it is missing and
// not to be made.  It must be the service user's own directory, not a
// link; group and other bits are cleared.
SVNStatus OpenStateDir(bool make, int* fd) {
  *fd = -1;
  if (make && mkdir(Package().stateDir.c_str(), 0700) != 0 && errno != EEXIST)
    return STATUS_ERROR(kFailed, "Make %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  Fd dir(open(Package().stateDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.fd < 0) {
    if (!make && errno == ENOENT) return SVNStatus();
    return STATUS_ERROR(kFailed, "Open %s failed (a link is not followed): %s", Package().stateDir.c_str(),
                        strerror(errno));
  }
  struct stat st;
  if (fstat(dir.fd, &st) != 0)
    return STATUS_ERROR(kFailed, "Stat %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  if (st.st_uid != geteuid())
    return STATUS_ERROR(kFailed, "%s belongs to user %u, not to this one.", Package().stateDir.c_str(),
                        static_cast<unsigned>(st.st_uid));
  if ((st.st_mode & 077) != 0 && fchmod(dir.fd, 0700) != 0)
    return STATUS_ERROR(kFailed, "Make %s private failed: %s", Package().stateDir.c_str(), strerror(errno));
  *fd = dir.fd;
  dir.fd = -1;
  return SVNStatus();
}

// Whether `fd` (opened as `name`) is a regular file of the service user
// with no other name; its group and other bits are cleared.  *st is its
// status.
SVNStatus CheckOwnFile(int fd, const std::string& name, struct stat* st) {
  if (fstat(fd, st) != 0)
    return STATUS_ERROR(kFailed, "Stat %s failed: %s", name.c_str(), strerror(errno));
  if (!S_ISREG(st->st_mode) || st->st_uid != geteuid() || st->st_nlink != 1)
    return STATUS_ERROR(kFailed, "%s/%s is not a file of this user's own: left alone.",
                        Package().stateDir.c_str(), name.c_str());
  if ((st->st_mode & 077) != 0 && fchmod(fd, 0600) != 0)
    return STATUS_ERROR(kFailed, "Make %s private failed: %s", name.c_str(), strerror(errno));
  return SVNStatus();
}

// flock(`op`), waiting at most kLockSeconds.
bool Lock(int fd, int op) {
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (flock(fd, op | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= kLockSeconds) {
      errno = ETIMEDOUT;
      return false;
    }
    usleep(2000);
  }
}

// Reads exactly `n` bytes at `offset`.
bool ReadAt(int fd, char* data, size_t n, off_t offset) {
  while (n > 0) {
    ssize_t got = pread(fd, data, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    n -= static_cast<size_t>(got);
    offset += got;
  }
  return true;
}

// The whole lines of a file's first `size` bytes, each ended by '\n' (an
// unended tail is no line), last first.
class LinesBackward {
 public:
  LinesBackward(int fd, off_t size) : fd_(fd), start_(size) {}

  // The line before the one last returned, without its '\n', valid until
  // the next call.  False at the start of the file, or when the file
  // cannot be read (failed()).
  bool prev(const char** line, size_t* length) {
    while (!primed_ && !done_) {  // pass over an unended tail
      const void* nl = end_ > 0 ? memrchr(buf_.data(), '\n', end_) : nullptr;
      if (nl != nullptr) {
        end_ = static_cast<size_t>(static_cast<const char*>(nl) - buf_.data());
        primed_ = true;
      } else if (start_ == 0 || !load()) {
        done_ = true;
      }
    }
    while (!done_) {
      const void* nl = end_ > 0 ? memrchr(buf_.data(), '\n', end_) : nullptr;
      if (nl != nullptr) {
        size_t at = static_cast<size_t>(static_cast<const char*>(nl) - buf_.data());
        *line = buf_.data() + at + 1;
        *length = end_ - at - 1;
        end_ = at;
        return true;
      }
      if (start_ == 0) {
        *line = buf_.data();
        *length = end_;
        done_ = true;
        return true;
      }
      if (!load()) done_ = true;
    }
    return false;
  }
  bool failed() const { return failed_; }

 private:
  // Puts the chunk before buf_ in front of what is left of it.
  bool load() {
    const size_t n = static_cast<size_t>(std::min<off_t>(kChunk, start_));
    std::string chunk(n, '\0');
    if (!ReadAt(fd_, &chunk[0], n, start_ - static_cast<off_t>(n))) {
      failed_ = true;
      return false;
    }
    start_ -= static_cast<off_t>(n);
    chunk.append(buf_, 0, end_);
    buf_.swap(chunk);
    end_ += n;
    return true;
  }

  int fd_;
  off_t start_;      // the file offset of buf_[0]
  std::string buf_;  // buf_[0, end_): not yet returned
  size_t end_ = 0;
  bool primed_ = false, done_ = false, failed_ = false;
};

// `text` as a record: a JSON object.
bool ParseRecord(const char* text, size_t length, Json::Value* record) {
  static std::unique_ptr<Json::CharReader> reader = [] {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder["stackLimit"] = 64;
    return std::unique_ptr<Json::CharReader>(builder.newCharReader());
  }();
  std::string why;
  try {
    return reader->parse(text, text + length, record, &why) && record->isObject();
  } catch (const std::exception&) {  // nesting beyond the limit
    return false;
  }
}

// The largest number a record holds: 2^53, the last integer a JSON reader
// (the page's) keeps exact.  No writer comes near it; a larger one was put
// there by hand, and counting on from it would overflow.
const long long kMaxSeq = 1LL << 53;

// The number ("seq") of the record `text`, 0 when it is none; *record is
// the record.
long long SeqOf(const char* text, size_t length, Json::Value* record) {
  if (length == 0 || text[0] != '{' || !ParseRecord(text, length, record)) return 0;
  const Json::Value& seq = (*record)["seq"];
  return seq.isInt64() && seq.asInt64() > 0 && seq.asInt64() <= kMaxSeq ? seq.asInt64() : 0;
}

long long SeqOf(const char* text, size_t length) {
  Json::Value record;
  return SeqOf(text, length, &record);
}

// The number of the last numbered record of a file, 0 when it has none;
// *last is that record.
long long LastSeq(int fd, off_t size, bool* failed, Json::Value* last = nullptr) {
  LinesBackward lines(fd, size);
  const char* line;
  size_t length;
  Json::Value record;
  while (lines.prev(&line, &length)) {
    if (long long seq = SeqOf(line, length, &record)) {
      if (last != nullptr) *last = std::move(record);
      return seq;
    }
  }
  *failed = lines.failed();
  return 0;
}

// The number of the first numbered record of a file, 0 when it has none.
long long FirstSeq(int fd, off_t size) {
  std::string line;
  char buf[4096];
  for (off_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<off_t>(sizeof buf, size - at));
    if (!ReadAt(fd, buf, n, at)) return 0;
    at += static_cast<off_t>(n);
    for (const char *p = buf, *end = buf + n; p < end;) {
      const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
      line.append(p, nl != nullptr ? nl : end);
      if (nl == nullptr) break;
      if (long long seq = SeqOf(line.data(), line.size())) return seq;
      line.clear();
      p = nl + 1;
    }
  }
  return 0;
}

// Takes back what a writer killed half-way left after the last whole
// record (under the lock: no writer is at work).
SVNStatus DropUnendedTail(int fd, off_t* size) {
  char last = '\n';
  if (*size == 0 || (ReadAt(fd, &last, 1, *size - 1) && last == '\n')) return SVNStatus();
  off_t keep = 0;
  char buf[kChunk];
  for (off_t end = *size; end > 0 && keep == 0;) {
    const size_t n = static_cast<size_t>(std::min<off_t>(sizeof buf, end));
    end -= static_cast<off_t>(n);
    if (!ReadAt(fd, buf, n, end))
      return STATUS_ERROR(kFailed, "Read the audit log failed: %s", strerror(errno));
    if (const void* nl = memrchr(buf, '\n', n))
      keep = end + (static_cast<const char*>(nl) - buf) + 1;
  }
  if (ftruncate(fd, keep) != 0)
    return STATUS_ERROR(kFailed, "Take back a half-written audit record failed: %s",
                        strerror(errno));
  LOG_LINE("A half-written audit record (%lld bytes) was taken back.",
           static_cast<long long>(*size - keep));
  *size = keep;
  return SVNStatus();
}

// Opens the rotated file `i` for reading: -1 when it is missing, or
// (logged) not a regular file of this user's own.
int OpenRotated(int dir, int i, off_t* size) {
  const std::string name = FileName(i);
  Fd fd(openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (fd.fd < 0) {
    if (errno != ENOENT) LOG_LINE("Open %s failed: %s", name.c_str(), strerror(errno));
    return -1;
  }
  if (fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    LOG_LINE("%s/%s is not a file of this user's own: passed over.", Package().stateDir.c_str(),
             name.c_str());
    return -1;
  }
  *size = st.st_size;
  int kept = fd.fd;
  fd.fd = -1;
  return kept;
}

// Renames audit.log.(i-1) to audit.log.i, from the oldest kept down: the
// oldest is dropped, audit.log becomes audit.log.1.  Then the directory is
// synced.
SVNStatus Rotate(int dir) {
  for (int i = kBuildSettings.auditKeep; i >= 1; --i) {
    if (renameat(dir, FileName(i - 1).c_str(), dir, FileName(i).c_str()) != 0 &&
        errno != ENOENT)
      return STATUS_ERROR(kFailed, "Rotate %s failed: %s", FileName(i - 1).c_str(),
                          strerror(errno));
  }
  if (fsync(dir) != 0)
    return STATUS_ERROR(kFailed, "Sync %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  return SVNStatus();
}

// Cuts every text of `value` to kMaxText bytes (on a character boundary,
// marked by "…") and every list to kMaxListed entries.
void Abridge(Json::Value* value) {
  if (value->isString()) {
    std::string text = value->asString();
    if (text.size() <= kMaxText) return;
    size_t cut = kMaxText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    *value = text.substr(0, cut) + "\xE2\x80\xA6";
  } else if (value->isArray()) {
    if (value->size() > kMaxListed) value->resize(kMaxListed);
    for (Json::Value& item : *value) Abridge(&item);
  } else if (value->isObject()) {
    for (const std::string& key : value->getMemberNames()) Abridge(&(*value)[key]);
  }
}

// The line of `record`: abridged, or without its changes, when it is
// longer than kAuditMaxRecord.
std::string RecordLine(Json::Value record) {
  std::string text = AuditText(record);
  if (text.size() >= kAuditMaxRecord) {
    Abridge(&record);
    record["abridged"] = true;
    text = AuditText(record);
  }
  if (text.size() >= kAuditMaxRecord) {
    record["changes"] = Json::Value(Json::objectValue);
    text = AuditText(record);
  }
  return text + "\n";
}

bool Contains(const char* text, size_t length, const std::string& part) {
  return part.empty() || memmem(text, length, part.data(), part.size()) != nullptr;
}

// Whether the record's member `key` is `value` (any, for an empty one).
bool Is(const Json::Value& record, const char* key, const std::string& value) {
  return value.empty() || (record[key].isString() && record[key].asString() == value);
}

// The text of the member `key` of `value`, "" when it is none.
std::string TextOf(const Json::Value& value, const char* key) {
  return value.isObject() && value[key].isString() ? value[key].asString() : "";
}

// The names of the repository a filter by name asks for, followed back
// through the log, newest first: past the rename that gave it its name,
// its records are those of the name it had before; past the add that
// made it, there are none (another repository had the name).  A rename
// away of a name it has is another repository's (it took the name
// later), once a record of it under that name was met.
class NameTrail {
 public:
  explicit NameTrail(const std::string& name) : active_(!name.empty()) {
    if (active_) names_.insert(name);
    texts();
  }
  // Whether nothing older can be the repository's.
  bool ended() const { return active_ && names_.empty(); }
  // Whether `line` may be a record of it: a cheap look for its names.
  bool mayMatch(const char* line, size_t length) const {
    for (const std::string& text : texts_)
      if (Contains(line, length, text)) return true;
    return false;
  }
  // Whether `record` is one of its, following renames back.
  bool take(const Json::Value& record) {
    const std::string name = TextOf(record, "name");
    const bool done = TextOf(record, "outcome") == "done";
    if (TextOf(record, "action") == "rename" && done) {
      const Json::Value& changes = record["changes"];
      const Json::Value renamed = changes.isObject() ? changes["name"] : Json::Value();
      const std::string from = TextOf(renamed, "old"), to = TextOf(renamed, "new");
      if (!to.empty() && names_.erase(to) > 0) {
        if (!from.empty()) names_.insert(from);
        texts();
        return true;
      }
      if (!names_.count(name) || !seen_.count(name)) return names_.count(name) > 0;
      names_.erase(name);
      texts();
      return false;
    }
    if (!names_.count(name)) return false;
    seen_.insert(name);
    if (TextOf(record, "action") == "add" && done) {
      names_.erase(name);
      texts();
    }
    return true;
  }

 private:
  void texts() {
    texts_.clear();
    for (const std::string& name : names_)
      for (const char* key : {"\"name\":", "\"new\":"}) texts_.push_back(key + AuditText(name));
  }

  const bool active_;
  std::set<std::string> names_, seen_;
  std::vector<std::string> texts_;
};

// One of the log's files as a reader found it.
struct LogFile {
  Fd fd;
  off_t size;
  int number;
};

// Opens the log's files, newest first, under the lock (no rotation
// renames them meanwhile): each is read up to the size it had then.
SVNStatus OpenLogFiles(int dir, std::vector<LogFile>* files) {
  if (!Lock(dir, LOCK_SH))
    return STATUS_ERROR(kFailed, "Lock %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  for (int i = 0; i <= kBuildSettings.auditKeep; ++i) {
    off_t size = 0;
    Fd fd(OpenRotated(dir, i, &size));
    if (fd.fd >= 0) files->push_back({std::move(fd), size, i});
  }
  if (flock(dir, LOCK_UN) != 0)
    return STATUS_ERROR(kFailed, "Unlock %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  return SVNStatus();
}

// Appends `record` to the log of the state directory `dir`, whose lock
// the caller holds: numbered after the last record, written whole or
// taken back, synced; the file rotated past its size.  A record a hook
// left that is the last one already (its merge was killed before the
// hook's file went) is not written again.
SVNStatus AppendLocked(int dir, Json::Value record) {
  SVNStatus status;
  const std::string name = FileName(0);
  Fd file(openat(dir, name.c_str(),
                 O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (file.fd < 0)
    return STATUS_ERROR(kFailed, "Open %s/%s failed (a link is not followed): %s",
                        Package().stateDir.c_str(), name.c_str(), strerror(errno));
  struct stat st;
  STATUS_TRY(CheckOwnFile(file.fd, name, &st));
  off_t size = st.st_size;
  STATUS_TRY(DropUnendedTail(file.fd, &size));
  // The number after the last record's, in this file or the newest
  // rotated one that has one.
  bool failed = false;
  Json::Value lastRecord;
  long long last = LastSeq(file.fd, size, &failed, &lastRecord);
  for (int i = 1; i <= kBuildSettings.auditKeep && last == 0 && !failed; ++i) {
    off_t rotatedSize = 0;
    Fd rotated(OpenRotated(dir, i, &rotatedSize));
    if (rotated.fd >= 0) last = LastSeq(rotated.fd, rotatedSize, &failed, &lastRecord);
  }
  if (failed)
    return STATUS_ERROR(kFailed, "Read the audit log failed: %s", strerror(errno));
  if (record.isMember("hook") && TextOf(lastRecord, "hook") == TextOf(record, "hook"))
    return SVNStatus();
  record["seq"] = Json::Int64(last + 1);
  const std::string line = RecordLine(std::move(record));
  ssize_t n = write(file.fd, line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size())) {
    status = STATUS_ERROR(kFailed, "Write %s/%s failed: %s", Package().stateDir.c_str(), name.c_str(),
                          n < 0 ? strerror(errno) : "the disk is full");
    if (n > 0 && ftruncate(file.fd, size) != 0)
      STATUS_WITH(status, "Take back the part written failed: %s", strerror(errno));
    return status;
  }
  if (fdatasync(file.fd) != 0 || (size == 0 && fsync(dir) != 0))
    return STATUS_ERROR(kFailed, "Sync %s/%s failed: %s", Package().stateDir.c_str(), name.c_str(),
                        strerror(errno));
  // The record is kept; a failed rotation is tried again by the next.
  if (size + n >= kBuildSettings.auditRotateBytes && !(status = Rotate(dir)).ok()) status.Log();
  return SVNStatus();
}

// Whether `text` is a time as records give it: "YYYY-MM-DDTHH:MM:SSZ".
bool IsRecordTime(const std::string& text) {
  static const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kForm - 1) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (kForm[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kForm[i]) return false;
  return true;
}

// The audit record of what a hook left (`id`: its file): a log message
// changed ("log_edit": who, which revision, the old and the new message);
// null when `left` is not one.
Json::Value HookRecord(const std::string& id, const Json::Value& left) {
  const std::string name = TextOf(left, "name"), user = TextOf(left, "user");
  bool texts = true;
  for (const char* key : {"user", "old", "new", "time"})
    texts = texts && left[key].isString() &&
            NLIBCStrValidUtf8(left[key].asCString(), left[key].asString().size());
  if (TextOf(left, "kind") != "log_edit" || !IsValidName(name) || !texts || user.empty() ||
      !left["rev"].isUInt() || !IsRecordTime(TextOf(left, "time")))
    return Json::Value();
  Json::Value record;
  record["time"] = left["time"];
  record["user"] = user;
  record["addr"] = "";
  record["action"] = "log_edit";
  record["name"] = name;
  record["outcome"] = "done";
  record["changes"]["rev"] = left["rev"];
  record["changes"]["log"]["old"] = left["old"];
  record["changes"]["log"]["new"] = left["new"];
  record["hook"] = id;
  return record;
}

// The most records of hooks one request moves into the log.
constexpr size_t kHookRecordsAtOnce = 200;

// Moves what hooks left into the log of the state directory `dir`, whose
// lock the caller holds.
void MergeHookRecords(int dir) {
  TakeHookRecords(kHookRecordsAtOnce, [dir](const std::string& id, const Json::Value& left) {
    Json::Value record = HookRecord(id, left);
    if (record.isNull()) {
      LOG_LINE("The record %s a hook left is not one of a log message changed: dropped.",
               id.c_str());
      return true;
    }
    SVNStatus status = AppendLocked(dir, std::move(record));
    if (!status.ok()) STATUS_WITH(status, "The record %s a hook left waits.", id.c_str()).Log();
    return status.ok();
  });
}

// Moves what hooks left into the log, when they left anything: the
// directory is locked for it only then.
void MergeWaitingHookRecords() {
  bool any = false;
  TakeHookRecords(1, [&any](const std::string&, const Json::Value&) { return !(any = true); });
  if (!any) return;
  int dirFd;
  SVNStatus status = OpenStateDir(true, &dirFd);
  Fd dir(dirFd);
  if (status.ok() && !Lock(dir.fd, LOCK_EX))
    status = STATUS_ERROR(kFailed, "Lock %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  if (status.ok()) MergeHookRecords(dir.fd);
  status.Log();
}

}  // namespace

std::string AuditText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

SVNStatus AuditAppend(Json::Value record) {
  int dirFd;
  STATUS_TRY(OpenStateDir(true, &dirFd));
  Fd dir(dirFd);  // the lock goes with it
  if (!Lock(dir.fd, LOCK_EX))
    return STATUS_ERROR(kFailed, "Lock %s failed: %s", Package().stateDir.c_str(), strerror(errno));
  MergeHookRecords(dir.fd);
  return AppendLocked(dir.fd, std::move(record));
}

SVNStatus AuditRead(const SVNAuditQuery& query, SVNAuditPage* page) {
  *page = SVNAuditPage();
  MergeWaitingHookRecords();
  int dirFd;
  SVNStatus status = OpenStateDir(false, &dirFd);
  if (!status.ok() || dirFd < 0) return status;
  Fd dir(dirFd);
  std::vector<LogFile> files;  // newest first
  STATUS_TRY(OpenLogFiles(dir.fd, &files));

  // Without a filter, the count is each file's last number less its
  // first, plus one: records are numbered without a gap.
  const bool filtered = !query.name.empty() || !query.user.empty();
  bool counted = !filtered;
  for (size_t i = 0; counted && i < files.size(); ++i) {
    if (files[i].size == 0) continue;
    bool failed = false;
    long long first = FirstSeq(files[i].fd.fd, files[i].size);
    long long last = LastSeq(files[i].fd.fd, files[i].size, &failed);
    counted = first > 0 && last >= first;
    page->total += last - first + 1;
  }
  // A filter's text as the record holds it, looked for before a line is
  // parsed.
  NameTrail trail(query.name);
  const std::string userText =
      query.user.empty() ? "" : "\"user\":" + AuditText(Json::Value(query.user));
  const size_t end = query.start + query.limit;  // past the page
  size_t matches = 0;
  bool more = false;
  for (size_t i = 0; i < files.size() && !more && !trail.ended(); ++i) {
    LinesBackward lines(files[i].fd.fd, files[i].size);
    const char* line;
    size_t length;
    while (!more && !trail.ended() && (counted ? matches < end : matches <= end) &&
           lines.prev(&line, &length)) {
      // With a name, a rename by any administrator moves it: the user is
      // looked at once a line is parsed.
      if (length == 0 || line[0] != '{' ||
          (query.name.empty() ? !Contains(line, length, userText)
                              : !trail.mayMatch(line, length)))
        continue;
      const bool onPage = matches >= query.start && matches < end;
      if (onPage || filtered) {
        Json::Value record;
        const bool parsed = ParseRecord(line, length, &record);
        const bool named = parsed && (query.name.empty() || trail.take(record));
        const bool match = named && Is(record, "user", query.user);
        // Without a filter, lines off the page are counted unparsed: one on
        // it that is no record counts the same (shown as nothing), so that
        // pages neither repeat nor skip a record.
        if (!match && filtered) continue;
        if (match && onPage) page->records.push_back(std::move(record));
      }
      more = ++matches > end;
    }
    if (lines.failed())
      return STATUS_ERROR(kFailed, "Read %s failed: %s", FileName(files[i].number).c_str(),
                          strerror(errno));
  }
  if (!counted) {
    page->total = static_cast<long long>(matches);
    page->exact = !more;
  }
  return SVNStatus();
}
