// backup_file.cpp: writing and reading backup files (libarchive for the
// tar format, gzip_stream for the gzip members, sha256 for the sums).

#include "ui/admin/backup_file.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "store/backups.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_backup"

namespace {

const size_t kHeaderRoom = 4096;  // for a streamed file's tar header, as a gzip member
const char kManifest[] = "manifest.json";
const char kSums[] = "SHA256SUMS";
const char kDump[] = "repository.svndump";
const char kTree[] = "repository";
const char kDumpStart[] = "SVN-fs-dump-format-version: ";
const char kNotOurs[] = "The file is neither a backup of this program nor a Subversion dump.";
const char kCut[] = "The file ends early: it is truncated or damaged.";

// ---- The tar writer ----

// Where a tar writer's bytes go: `out`, until `closing` (what it writes
// as it is closed, padding and the end of the archive, is not wanted).
struct Capture {
  std::string out;
  bool closing = false;
};

la_ssize_t ToString(struct archive*, void* target, const void* data, size_t size) {
  Capture* c = static_cast<Capture*>(target);
  if (!c->closing) c->out.append(static_cast<const char*>(data), size);
  return static_cast<la_ssize_t>(size);
}

// A tar writer of pax headers that hands its bytes to `out` as they come.
struct archive* TarWriter(la_ssize_t (*out)(struct archive*, void*, const void*, size_t),
                          void* target) {
  struct archive* a = archive_write_new();
  if (a == nullptr) return nullptr;
  if (archive_write_set_format_pax_restricted(a) != ARCHIVE_OK ||
      archive_write_add_filter_none(a) != ARCHIVE_OK ||
      archive_write_set_bytes_per_block(a, 0) != ARCHIVE_OK ||
      archive_write_open(a, target, nullptr, out, nullptr) != ARCHIVE_OK) {
    archive_write_free(a);
    return nullptr;
  }
  return a;
}

void CloseTarWriter(struct archive* a) {
  if (a == nullptr) return;
  archive_write_close(a);
  archive_write_free(a);
}

struct archive_entry* Entry(const std::string& path, la_int64_t size, mode_t type, mode_t mode,
                            time_t mtime) {
  struct archive_entry* e = archive_entry_new();
  if (e == nullptr) return nullptr;
  archive_entry_set_pathname_utf8(e, path.c_str());
  archive_entry_set_filetype(e, type);
  archive_entry_set_perm(e, mode & 0777);
  archive_entry_set_size(e, size);
  archive_entry_set_mtime(e, mtime, 0);
  return e;
}

// A path in a line of SHA256SUMS, escaped as sha256sum escapes it.
std::string SumLine(const std::string& sum, const std::string& path) {
  std::string escaped;
  bool special = false;
  for (char c : path) {
    if (c == '\n') escaped += "\\n";
    else if (c == '\\') escaped += "\\\\";
    else escaped += c;
    special = special || c == '\n' || c == '\\';
  }
  return (special ? "\\" : "") + sum + "  " + escaped + "\n";
}

// A name as a sentence may quote it: control characters as "?", at most
// 100 bytes.
std::string Shown(std::string name) {
  if (name.size() > 100) name = name.substr(0, 100) + "...";
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

// Whether `path` is relative, made of plain names ("." and ".." are
// none), free of control characters, and not too long.
bool CleanPath(const std::string& path) {
  if (path.empty() || path.size() > 4096 || path[0] == '/') return false;
  for (size_t b = 0; b <= path.size();) {
    size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    const std::string part = path.substr(b, e - b);
    if (part.empty() || part == "." || part == "..") return false;
    b = e + 1;
  }
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool ReadText(FILE* file, std::string* text) {
  text->clear();
  if (fflush(file) != 0 || fseek(file, 0, SEEK_SET) != 0) return false;
  char buf[64 * 1024];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0) text->append(buf, n);
  return !ferror(file);
}

}  // namespace

// ---- The manifest ----

std::string SVNManifest::json() const {
  Json::Value m;
  m["format"] = format;
  m["kind"] = kind;
  m["name"] = name;
  m["uuid"] = uuid;
  m["rev"] = Json::Int64(rev);
  m["time"] = time;
  m["seq"] = Json::Int64(seq);
  m["size"] = Json::Int64(size);
  m["version"] = version;
  Json::Value& s = m["setup"] = Json::Value(Json::arrayValue);
  for (const SVNSetupFile& f : setup) {
    Json::Value one;
    one["setting"] = f.setting;
    one["value"] = f.value;
    one["from"] = f.from;
    one["entry"] = f.entry;
    s.append(one);
  }
  Json::Value& l = m["links"] = Json::Value(Json::arrayValue);
  for (const auto& link : links) {
    Json::Value one;
    one["path"] = link.first;
    one["target"] = link.second;
    l.append(one);
  }
  for (const char* key : {"presets", "hooks"}) m[key] = Json::Value(Json::arrayValue);
  for (const std::string& p : presets) m["presets"].append(p);
  for (const std::string& h : hooks) m["hooks"].append(h);
  return m.toStyledString();
}

namespace {

bool Strings(const Json::Value& list, std::vector<std::string>* out) {
  if (list.isNull()) return true;
  if (!list.isArray()) return false;
  for (const Json::Value& v : list) {
    if (!v.isString()) return false;
    out->push_back(v.asString());
  }
  return true;
}

bool SetupFiles(const Json::Value& list, std::vector<SVNSetupFile>* out) {
  if (list.isNull()) return true;
  if (!list.isArray()) return false;
  for (const Json::Value& v : list) {
    if (!v.isObject() || !v["setting"].isString() || !v["value"].isString() ||
        !v["from"].isString() || !v["entry"].isString())
      return false;
    out->push_back({v["setting"].asString(), v["value"].asString(), v["from"].asString(),
                    v["entry"].asString()});
  }
  return true;
}

bool Links(const Json::Value& list, std::vector<std::pair<std::string, std::string>>* out) {
  if (list.isNull()) return true;
  if (!list.isArray()) return false;
  for (const Json::Value& v : list) {
    if (!v.isObject() || !v["path"].isString() || !v["target"].isString()) return false;
    out->emplace_back(v["path"].asString(), v["target"].asString());
  }
  return true;
}

}  // namespace

bool SVNManifest::parse(const std::string& text) {
  Json::Value m;
  if (!ReadJson(text, &m) || !m.isObject() || !m["format"].isInt()) return false;
  const Json::Value youngest = m["rev"];
  bool ok = (m["format"].asInt() == 1 || m["format"].asInt() == kFormat) &&
            m["name"].isString() && m["uuid"].isString() && youngest.isInt64() &&
            youngest.asInt64() >= 0 && youngest.asInt64() <= 2147483647LL &&
            m["time"].isString() && m["version"].isString();
  if (!ok) return false;
  format = m["format"].asInt();
  kind = format == 1 ? "dump" : m["kind"].isString() ? m["kind"].asString() : "";
  if (kind != "dump" && kind != "hotcopy") return false;
  name = m["name"].asString();
  uuid = m["uuid"].asString();
  rev = static_cast<long>(youngest.asInt64());
  time = m["time"].asString();
  seq = m["seq"].isInt64() && PlausibleSeq(m["seq"].asInt64()) ? m["seq"].asInt64() : 0;
  size = m["size"].isInt64() && m["size"].asInt64() > 0 ? m["size"].asInt64() : 0;
  version = m["version"].asString();
  return SetupFiles(m["setup"], &setup) && Links(m["links"], &links) &&
         Strings(m["presets"], &presets) && Strings(m["hooks"], &hooks) && setup.size() <= 16;
}

// ---- Writing ----

SVNBackupWriter::SVNBackupWriter(int fd) : out_(fd), sums_(tmpfile()) {}

SVNBackupWriter::~SVNBackupWriter() {
  tarClosing_ = true;
  CloseTarWriter(tar_);
  if (sums_ != nullptr) fclose(sums_);
}

SVNStatus SVNBackupWriter::startTar() {
  if (tar_ != nullptr) return SVNStatus();
  tar_ = TarWriter(
      [](struct archive*, void* target, const void* bytes, size_t n) -> la_ssize_t {
        SVNBackupWriter* w = static_cast<SVNBackupWriter*>(target);
        if (w->tarClosing_) return static_cast<la_ssize_t>(n);  // the end of a tar: not here
        if (!w->out_.write(static_cast<const char*>(bytes), n).ok()) {
          w->written_ = false;
          return -1;
        }
        return static_cast<la_ssize_t>(n);
      },
      this);
  if (tar_ == nullptr) return STATUS_ERROR(kFailed, "Start the archive failed.");
  return SVNStatus();
}

SVNStatus SVNBackupWriter::header(const std::string& path, long long size, mode_t type,
                                  mode_t mode, time_t mtime) {
  if (sums_ == nullptr) return STATUS_ERROR(kFailed, "No room for the sums: %s", strerror(errno));
  STATUS_TRY(startTar());
  struct archive_entry* e = Entry(path, size, type, mode, mtime);
  bool ok = e != nullptr && archive_write_header(tar_, e) == ARCHIVE_OK && written_;
  archive_entry_free(e);
  if (!ok)
    return STATUS_ERROR(kFailed, "Add %s to the archive failed: %s", path.c_str(),
                        written_ ? archive_error_string(tar_) : strerror(errno));
  return SVNStatus();
}

SVNStatus SVNBackupWriter::data(const char* bytes, size_t size) {
  sum_.add(bytes, size);
  if (archive_write_data(tar_, bytes, size) != static_cast<la_ssize_t>(size) || !written_)
    return STATUS_ERROR(kFailed, "Write the archive failed: %s",
                        written_ ? archive_error_string(tar_) : strerror(errno));
  return SVNStatus();
}

void SVNBackupWriter::noteSum(const std::string& path) {
  const std::string line = SumLine(sum_.hex(), path);
  fwrite(line.data(), 1, line.size(), sums_);
}

SVNStatus SVNBackupWriter::addFile(const std::string& path, const std::string& text,
                                   time_t mtime) {
  STATUS_TRY(header(path, static_cast<long long>(text.size()), AE_IFREG, 0600, mtime));
  STATUS_TRY(data(text.data(), text.size()));
  if (archive_write_finish_entry(tar_) != ARCHIVE_OK || !written_)
    return STATUS_ERROR(kFailed, "Add %s to the archive failed.", path.c_str());
  noteSum(path);
  return SVNStatus();
}

SVNStatus SVNBackupWriter::addFileFrom(const std::string& path, int fd, long long size,
                                       mode_t mode, time_t mtime) {
  STATUS_TRY(header(path, size, AE_IFREG, mode, mtime));
  char buf[64 * 1024];
  for (long long left = size; left > 0;) {
    ssize_t n = read(fd, buf, static_cast<size_t>(std::min<long long>(left, sizeof buf)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      return STATUS_ERROR(kFailed, "Read %s failed: %s", path.c_str(),
                          n == 0 ? "it became shorter" : strerror(errno));
    STATUS_TRY(data(buf, static_cast<size_t>(n)));
    left -= n;
  }
  if (archive_write_finish_entry(tar_) != ARCHIVE_OK || !written_)
    return STATUS_ERROR(kFailed, "Add %s to the archive failed.", path.c_str());
  noteSum(path);
  return SVNStatus();
}

SVNStatus SVNBackupWriter::addDirectory(const std::string& path, mode_t mode, time_t mtime) {
  STATUS_TRY(header(path, 0, AE_IFDIR, mode, mtime));
  if (archive_write_finish_entry(tar_) != ARCHIVE_OK || !written_)
    return STATUS_ERROR(kFailed, "Add %s to the archive failed.", path.c_str());
  return SVNStatus();
}

SVNStatus SVNBackupWriter::beginStream(const std::string& path, time_t mtime) {
  STATUS_TRY(startTar());
  tarClosing_ = true;
  CloseTarWriter(tar_);
  tar_ = nullptr;
  tarClosing_ = false;
  STATUS_TRY(out_.keep(kHeaderRoom, &headerAt_));
  STATUS_TRY(out_.begin());
  streamPath_ = path;
  streamTime_ = mtime;
  streamSize_ = 0;
  return SVNStatus();
}

SVNStatus SVNBackupWriter::streamData(const char* bytes, size_t size) {
  sum_.add(bytes, size);
  streamSize_ += size;
  return out_.write(bytes, size);
}

SVNStatus SVNBackupWriter::endStream() {
  // The file's padding to a whole block...
  const std::string padding((512 - streamSize_ % 512) % 512, '\0');
  STATUS_TRY(out_.write(padding.data(), padding.size()));
  STATUS_TRY(out_.end());
  // ...and its header, now that its size is known.  (Closing the writer
  // pads the entry it was given no data for: discarded.)
  Capture capture;
  struct archive* a = TarWriter(ToString, &capture);
  struct archive_entry* e = Entry(streamPath_, static_cast<la_int64_t>(streamSize_), AE_IFREG,
                                  0600, streamTime_);
  bool ok = a != nullptr && e != nullptr && archive_write_header(a, e) == ARCHIVE_OK;
  archive_entry_free(e);
  capture.closing = true;
  CloseTarWriter(a);
  if (!ok || capture.out.empty() || capture.out.size() % 512 != 0)
    return STATUS_ERROR(kFailed, "Make the header of %s failed.", streamPath_.c_str());
  STATUS_TRY(out_.fill(headerAt_, kHeaderRoom, capture.out));
  noteSum(streamPath_);
  return SVNStatus();
}

SVNStatus SVNBackupWriter::finish(time_t mtime) {
  std::string sums;
  if (sums_ == nullptr || !ReadText(sums_, &sums))
    return STATUS_ERROR(kFailed, "Read the sums back failed: %s", strerror(errno));
  STATUS_TRY(header(kSums, static_cast<long long>(sums.size()), AE_IFREG, 0600, mtime));
  STATUS_TRY(data(sums.data(), sums.size()));
  // The end of the archive, kept this time.
  const int closed = archive_write_close(tar_);
  archive_write_free(tar_);
  tar_ = nullptr;
  if (closed != ARCHIVE_OK || !written_)
    return STATUS_ERROR(kFailed, "End the archive failed: %s", strerror(errno));
  return out_.end();
}

// ---- Reading ----

SVNBackupReader::SVNBackupReader() : sums_(tmpfile()) {}

SVNBackupReader::~SVNBackupReader() {
  if (tar_ != nullptr) archive_read_free(tar_);
  if (sums_ != nullptr) fclose(sums_);
}

SVNStatus SVNBackupReader::refuse(const char* why, const std::string& detail) {
  // A damaged or cut gzip member says so, whatever the tar reader made of
  // it.
  if (in_ && !in_->error().ok()) return error_ = in_->error();
  error_ = STATUS_ERROR(kFailed, "Refused: %s %s", why, Shown(detail).c_str());
  error_.Reason(why);
  return error_;
}

ssize_t SVNBackupReader::Read(struct archive*, void* self, const void** buffer) {
  SVNBackupReader* r = static_cast<SVNBackupReader*>(self);
  r->buffer_.resize(64 * 1024);
  long n = 0;
  if (r->headAt_ < r->head_.size()) {
    n = static_cast<long>(std::min(r->buffer_.size(), r->head_.size() - r->headAt_));
    memcpy(&r->buffer_[0], r->head_.data() + r->headAt_, static_cast<size_t>(n));
    r->headAt_ += static_cast<size_t>(n);
  } else {
    n = r->in_->read(&r->buffer_[0], r->buffer_.size());
  }
  *buffer = r->buffer_.data();
  return n < 0 ? -1 : n;
}

SVNStatus SVNBackupReader::open(int fd) {
  SVNStatus status = openArchive(fd);
  // Damage may make what came out look like no archive at all: what the
  // gzip layer finds further on says so.
  if (!status.ok() && in_ && in_->gzip() && in_->error().ok() && !drainGzip().ok())
    return error_;
  return status;
}

SVNStatus SVNBackupReader::openArchive(int fd) {
  in_.reset(new SVNGzipIn(fd));
  in_->sumInto(&fileSum_);
  head_.resize(512);
  size_t got = 0;
  long n;
  while (got < head_.size() && (n = in_->read(&head_[got], head_.size() - got)) > 0)
    got += static_cast<size_t>(n);
  head_.resize(got);
  if (!in_->error().ok()) return refuse(kCut, "");
  if (got == 0) return refuse(kNotOurs, "(empty)");
  if (StartsWith(head_, kDumpStart)) return openPlain();
  tar_ = archive_read_new();
  if (tar_ == nullptr || archive_read_support_format_tar(tar_) != ARCHIVE_OK ||
      archive_read_support_filter_none(tar_) != ARCHIVE_OK ||
      archive_read_open(tar_, this, nullptr, Read, nullptr) != ARCHIVE_OK)
    return refuse(kNotOurs, "");
  struct archive_entry* e = nullptr;
  int rc = archive_read_next_header(tar_, &e);
  if (rc != ARCHIVE_OK) return refuse(kNotOurs, "");
  STATUS_TRY(checkEntry(e, &current_));
  if (current_.path != kManifest || current_.directory) return refuse(kNotOurs, current_.path);
  inFile_ = true;  // its sum is noted with the next entry
  std::string text;
  STATUS_TRY(readAll(kMaxManifest, &text));
  if (!manifest_.parse(text)) return refuse("The backup's manifest cannot be read.", "");
  return SVNStatus();
}

SVNStatus SVNBackupReader::openPlain() {
  plain_ = true;
  return SVNStatus();
}

SVNStatus SVNBackupReader::checkEntry(struct archive_entry* e, SVNBackupEntry* entry) {
  const char* raw = archive_entry_pathname_utf8(e);
  if (raw == nullptr) raw = archive_entry_pathname(e);
  entry->path = raw != nullptr ? raw : "";
  const mode_t type = archive_entry_filetype(e);
  entry->directory = type == AE_IFDIR;
  if (entry->directory && !entry->path.empty() && entry->path.back() == '/')
    entry->path.pop_back();
  const std::string shown = "“" + Shown(entry->path) + "”";
  if ((type != AE_IFREG && type != AE_IFDIR) || archive_entry_hardlink(e) != nullptr ||
      archive_entry_symlink(e) != nullptr || archive_entry_sparse_count(e) > 0 ||
      !archive_entry_size_is_set(e) || archive_entry_size(e) < 0)
    return refuse(("The file holds " + shown + ", which is not a plain file: a backup "
                   "holds none.").c_str(), entry->path);
  if (!CleanPath(entry->path))
    return refuse(("The file holds " + shown + ", which is not part of a backup: nothing "
                   "is taken from it.").c_str(), entry->path);
  entry->size = entry->directory ? 0 : archive_entry_size(e);
  entry->mode = archive_entry_perm(e) & 0777;
  return SVNStatus();
}

namespace {

// Whether `path` (an entry of a file of `format` and `kind`, the dump
// `dumpSeen` or not) is one such a backup holds; *dump when it is the
// dump, *conf when it is a conf file.
bool Expected(int format, const std::string& kind, bool dumpSeen, const SVNBackupEntry& e,
              bool* dump, bool* conf) {
  const std::string& p = e.path;
  *dump = false;
  *conf = !e.directory && StartsWith(p, "conf/") && p.find('/', 5) == std::string::npos;
  const bool setup = !e.directory && StartsWith(p, "setup/") && p.size() > 6 &&
                     p.find_first_not_of("0123456789", 6) == std::string::npos;
  if (format == 1) {
    *dump = !e.directory && p.find('/') == std::string::npos && p.size() > 8 &&
            p.compare(p.size() - 8, 8, ".svndump") == 0;
    return !dumpSeen && (*conf || *dump);
  }
  if (kind == "dump") {
    *dump = !e.directory && p == kDump;
    return !dumpSeen && (*conf || setup || *dump);
  }
  *conf = false;
  return setup || (p == kTree && e.directory) || StartsWith(p, std::string(kTree) + "/");
}

}  // namespace

SVNStatus SVNBackupReader::next(SVNBackupEntry* entry, bool* more) {
  *more = false;
  if (ended_) return SVNStatus();
  char buf[64 * 1024];
  long n;
  while (inFile_ && (n = readData(buf, sizeof buf)) > 0) {
  }
  if (!error_.ok()) return error_;
  if (inFile_) {
    const std::string line = SumLine(sum_.hex(), current_.path);
    fwrite(line.data(), 1, line.size(), sums_);
    inFile_ = false;
  }
  struct archive_entry* e = nullptr;
  const int rc = archive_read_next_header(tar_, &e);
  if (rc == ARCHIVE_EOF) {
    // Only a file of the first layout ends without its sums.
    if (manifest_.format != 1 || !dumpSeen_)
      return refuse("The backup ends before its end: it is truncated.", "");
    ended_ = true;
    return drainGzip();
  }
  if (rc != ARCHIVE_OK) return refuse(kCut, archive_error_string(tar_) ? archive_error_string(tar_) : "");
  STATUS_TRY(checkEntry(e, &current_));
  if (current_.path == kSums && manifest_.format != 1 && !current_.directory) {
    STATUS_TRY(checkSums());
    ended_ = true;
    return SVNStatus();
  }
  bool dump = false, conf = false;
  const std::string shown = "“" + Shown(current_.path) + "”";
  if (current_.directory && manifest_.kind != "hotcopy")
    return refuse(("The file holds " + shown + ", which is not a plain file: a backup of its "
                   "kind holds none.").c_str(), current_.path);
  if (dumpSeen_ && manifest_.format != 1)
    return refuse("The file holds more after the dump, which is not part of a backup.",
                  current_.path);
  if (!Expected(manifest_.format, manifest_.kind, dumpSeen_, current_, &dump, &conf))
    return refuse(dumpSeen_ ? "The file holds more after the dump, which is not part of a "
                              "backup."
                            : ("The file holds " + shown + ", which is not part of a backup: "
                               "nothing is taken from it.").c_str(),
                  current_.path);
  if (conf && (++confFiles_ > kMaxConfFiles || (confFiles_ == 1) != (current_.path == "conf/svnserve.conf")))
    return refuse(confFiles_ > kMaxConfFiles
                      ? "The file holds more conf files than a backup does."
                      : "The backup's files are not in the order this program writes them.",
                  current_.path);
  if ((conf || StartsWith(current_.path, "setup/")) && !small_.insert(current_.path).second)
    return refuse(("The file holds " + shown + " twice.").c_str(), current_.path);
  dumpSeen_ = dumpSeen_ || dump;
  inFile_ = !current_.directory;
  *entry = current_;
  *more = true;
  return SVNStatus();
}

long SVNBackupReader::readData(char* buf, size_t size) {
  if (!error_.ok()) return -1;
  if (plain_) {  // the first bytes, read to recognise it, then the rest
    if (headAt_ < head_.size()) {
      const size_t n = std::min(size, head_.size() - headAt_);
      memcpy(buf, head_.data() + headAt_, n);
      headAt_ += n;
      return static_cast<long>(n);
    }
    const long n = in_->read(buf, size);
    if (n < 0) error_ = in_->error();
    return n;
  }
  if (!inFile_) return 0;
  const la_ssize_t n = archive_read_data(tar_, buf, size);
  if (n < 0) {
    refuse(kCut, archive_error_string(tar_) ? archive_error_string(tar_) : "");
    return -1;
  }
  sum_.add(buf, static_cast<size_t>(n));
  return static_cast<long>(n);
}

SVNStatus SVNBackupReader::readAll(size_t limit, std::string* data) {
  if (static_cast<unsigned long long>(current_.size) > limit)
    return refuse(("The file holds “" + Shown(current_.path) + "”, which is too large for "
                   "what it claims to be.").c_str(), current_.path);
  data->assign(static_cast<size_t>(current_.size), '\0');
  size_t got = 0;
  while (got < data->size()) {
    const long n = readData(&(*data)[got], data->size() - got);
    if (n <= 0) return n < 0 ? error_ : refuse(kCut, current_.path);
    got += static_cast<size_t>(n);
  }
  return SVNStatus();
}

SVNStatus SVNBackupReader::checkSums() {
  std::string expected;
  if (sums_ == nullptr || !ReadText(sums_, &expected))
    return STATUS_ERROR(kFailed, "Read the sums back failed: %s", strerror(errno));
  if (static_cast<unsigned long long>(current_.size) != expected.size())
    return refuse("The file is damaged: what it holds does not match its sums.", "");
  char buf[64 * 1024];
  size_t at = 0;
  for (la_ssize_t n; (n = archive_read_data(tar_, buf, sizeof buf)) != 0; at += static_cast<size_t>(n)) {
    if (n < 0) return refuse(kCut, kSums);
    if (expected.compare(at, static_cast<size_t>(n), buf, static_cast<size_t>(n)) != 0)
      return refuse("The file is damaged: what it holds does not match its sums.", "");
  }
  if (at != expected.size()) return refuse(kCut, kSums);
  struct archive_entry* e = nullptr;
  const int rc = archive_read_next_header(tar_, &e);
  if (rc == ARCHIVE_OK)
    return refuse("The file holds more after its sums, which is not part of a backup.", "");
  if (rc != ARCHIVE_EOF) return refuse(kCut, "");
  return drainGzip();
}

SVNStatus SVNBackupReader::drainGzip() {
  // The gzip layer's end, its last member checked.
  char rest[512];
  while (in_->read(rest, sizeof rest) > 0) {
  }
  if (!in_->error().ok()) return error_ = in_->error();
  return SVNStatus();
}
