// backup_file.cpp: writing and reading backup files (libarchive for the tar
// format, zlib for the gzip members).

#include "ui/admin/backup_file.h"

#include <archive.h>
#include <archive_entry.h>
#include <errno.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>
#include <zlib.h>

#include "store/private_file.h"

#define LOG_MODULE "svn_backup"

namespace {

const off_t kHeaderRoom = 4096;  // for the dump's tar header, as a gzip member
const int kLevel = 6;            // gzip's own default
const char kManifest[] = "manifest.json";
const char kConfPrefix[] = "conf/";
const char kDumpSuffix[] = ".svndump";
const char kDumpStart[] = "SVN-fs-dump-format-version: ";

bool WriteAll(int fd, const char* data, size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    at += n;
  }
  return true;
}

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

// Closes a tar writer whose sink discards what closing writes.
void DropTarWriter(struct archive* a) {
  if (a == nullptr) return;
  archive_write_close(a);
  archive_write_free(a);
}

struct archive_entry* Entry(const std::string& path, la_int64_t size, time_t mtime) {
  struct archive_entry* e = archive_entry_new();
  if (e == nullptr) return nullptr;
  archive_entry_set_pathname_utf8(e, path.c_str());
  archive_entry_set_filetype(e, AE_IFREG);
  archive_entry_set_perm(e, 0600);
  archive_entry_set_size(e, size);
  archive_entry_set_mtime(e, mtime, 0);
  return e;
}

// A name as a sentence may quote it: control characters as "?", at most
// 100 bytes.
std::string Shown(std::string name) {
  if (name.size() > 100) name = name.substr(0, 100) + "...";
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

}  // namespace

std::string SVNManifest::json() const {
  Json::Value m;
  m["format"] = kFormat;
  m["name"] = name;
  m["uuid"] = uuid;
  m["rev"] = Json::Int64(rev);
  m["time"] = time;
  m["version"] = version;
  return m.toStyledString();
}

// ---- Writing ----

// One gzip member, written at the writer's offset as it is compressed.
class SVNBackupWriter::Member {
 public:
  Member(int level, size_t extra) : extra_(extra, '\0') {
    memset(&z_, 0, sizeof z_);
    ok_ = deflateInit2(&z_, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    if (ok_ && extra > 0) {
      memset(&header_, 0, sizeof header_);
      header_.extra = reinterpret_cast<Bytef*>(&extra_[0]);
      header_.extra_len = static_cast<uInt>(extra);
      header_.os = 3;  // Unix
      ok_ = deflateSetHeader(&z_, &header_) == Z_OK;
    }
  }
  ~Member() { deflateEnd(&z_); }

  // Compresses `size` bytes (all that is left, with `last`) into `out`.
  bool write(const char* data, size_t size, bool last, std::string* out) {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(size);
    char buf[64 * 1024];
    int rc;
    do {
      z_.next_out = reinterpret_cast<Bytef*>(buf);
      z_.avail_out = sizeof buf;
      rc = deflate(&z_, last ? Z_FINISH : Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR) return false;
      out->append(buf, sizeof buf - z_.avail_out);
    } while (z_.avail_out == 0 || (last && rc != Z_STREAM_END));
    return ok_;
  }

 private:
  z_stream z_;
  gz_header header_;
  std::string extra_;
  bool ok_;
};

SVNBackupWriter::SVNBackupWriter(int fd) : fd_(fd) {}

SVNBackupWriter::~SVNBackupWriter() {
  tarClosing_ = true;
  DropTarWriter(tar_);
}

SVNStatus SVNBackupWriter::addFile(const std::string& path, const std::string& data,
                                   time_t mtime) {
  // The small files go through libarchive into the first member.
  if (tar_ == nullptr && headerAt_ < 0) {
    member_.reset(new Member(kLevel, 0));
    tar_ = TarWriter(
        [](struct archive*, void* target, const void* bytes, size_t n) -> la_ssize_t {
          SVNBackupWriter* w = static_cast<SVNBackupWriter*>(target);
          if (w->tarClosing_) return static_cast<la_ssize_t>(n);  // the end of a tar: not here
          std::string out;
          if (!w->member_->write(static_cast<const char*>(bytes), n, false, &out) ||
              !WriteAll(w->fd_, out.data(), out.size(), w->offset_)) {
            w->written_ = false;
            return -1;
          }
          w->offset_ += static_cast<off_t>(out.size());
          return static_cast<la_ssize_t>(n);
        },
        this);
  }
  if (tar_ == nullptr) return STATUS_ERROR(kFailed, "Start the archive failed.");
  struct archive_entry* e = Entry(path, static_cast<la_int64_t>(data.size()), mtime);
  bool ok = e != nullptr && archive_write_header(tar_, e) == ARCHIVE_OK &&
            archive_write_data(tar_, data.data(), data.size()) ==
                static_cast<la_ssize_t>(data.size()) &&
            archive_write_finish_entry(tar_) == ARCHIVE_OK && written_;
  archive_entry_free(e);
  if (!ok)
    return STATUS_ERROR(kFailed, "Add %s to the archive failed: %s", path.c_str(),
                        written_ ? archive_error_string(tar_) : strerror(errno));
  return SVNStatus();
}

SVNStatus SVNBackupWriter::beginDump(const std::string& path, time_t mtime) {
  if (tar_ == nullptr) return STATUS_ERROR(kFailed, "The dump comes after the manifest.");
  tarClosing_ = true;
  DropTarWriter(tar_);
  tar_ = nullptr;
  std::string out;
  if (!member_->write("", 0, true, &out) || !WriteAll(fd_, out.data(), out.size(), offset_))
    return STATUS_ERROR(kFailed, "Write the archive failed: %s", strerror(errno));
  offset_ += static_cast<off_t>(out.size());
  headerAt_ = offset_;
  offset_ += kHeaderRoom;
  dumpPath_ = path;
  dumpTime_ = mtime;
  dumpSize_ = 0;
  member_.reset(new Member(kLevel, 0));
  return SVNStatus();
}

SVNStatus SVNBackupWriter::dumpData(const char* data, size_t size) {
  std::string out;
  if (!member_->write(data, size, false, &out) || !WriteAll(fd_, out.data(), out.size(), offset_))
    return STATUS_ERROR(kFailed, "Write the archive failed: %s", strerror(errno));
  offset_ += static_cast<off_t>(out.size());
  dumpSize_ += size;
  return SVNStatus();
}

SVNStatus SVNBackupWriter::finish() {
  if (headerAt_ < 0) return STATUS_ERROR(kFailed, "The archive has no dump.");
  // The dump's padding to a whole block, and the end of the archive.
  std::string tail((512 - dumpSize_ % 512) % 512 + 1024, '\0'), out;
  if (!member_->write(tail.data(), tail.size(), true, &out) ||
      !WriteAll(fd_, out.data(), out.size(), offset_))
    return STATUS_ERROR(kFailed, "Write the archive failed: %s", strerror(errno));
  offset_ += static_cast<off_t>(out.size());
  // The dump's header, now that its size is known...
  // (Closing the writer pads the entry it was given no data for: a
  // kilobyte a call, discarded.)
  Capture capture;
  struct archive* a = TarWriter(ToString, &capture);
  struct archive_entry* e = Entry(dumpPath_, static_cast<la_int64_t>(dumpSize_), dumpTime_);
  bool ok = a != nullptr && e != nullptr && archive_write_header(a, e) == ARCHIVE_OK;
  archive_entry_free(e);
  capture.closing = true;
  DropTarWriter(a);
  const std::string& header = capture.out;
  if (!ok || header.empty() || header.size() % 512 != 0)
    return STATUS_ERROR(kFailed, "Make the header of %s failed.", dumpPath_.c_str());
  // ...as a member that fills its room exactly: stored, padded with an
  // "extra field" in its gzip header.
  std::string bare;
  Member probe(0, 0);
  if (!probe.write(header.data(), header.size(), true, &bare) ||
      bare.size() + 2 > static_cast<size_t>(kHeaderRoom))
    return STATUS_ERROR(kFailed, "The header of %s does not fit its room.", dumpPath_.c_str());
  std::string filled;
  Member room(0, static_cast<size_t>(kHeaderRoom) - bare.size() - 2);
  if (!room.write(header.data(), header.size(), true, &filled) ||
      filled.size() != static_cast<size_t>(kHeaderRoom) ||
      !WriteAll(fd_, filled.data(), filled.size(), headerAt_))
    return STATUS_ERROR(kFailed, "Write the header of %s failed: %s", dumpPath_.c_str(),
                        strerror(errno));
  return SVNStatus();
}

// ---- Reading ----

SVNBackupReader::SVNBackupReader() {}

SVNBackupReader::~SVNBackupReader() {
  if (in_ != nullptr) archive_read_free(in_);
}

SVNStatus SVNBackupReader::refuse(const char* why, const std::string& detail) {
  error_ = STATUS_ERROR(kFailed, "Refused: %s %s", why, detail.c_str());
  error_.Reason(why);
  return error_;
}

namespace {

const char kNotOurs[] = "The file is neither a backup of this program nor a Subversion dump.";
const char kCut[] = "The file ends early: it is truncated or damaged.";

// What libarchive said of `a`'s last failure, "" for nothing.
const char* ArchiveError(struct archive* a) {
  const char* said = archive_error_string(a);
  return said != nullptr ? said : "";
}

// A manifest's text, when it is one this program writes.
bool ParseManifest(const std::string& data, SVNManifest* manifest) {
  Json::Value m;
  bool ok = ReadJson(data, &m) && m.isObject();
  const Json::Value rev = ok ? m["rev"] : Json::Value();
  ok = ok && m["format"].isInt() && m["format"].asInt() == SVNManifest::kFormat &&
       m["name"].isString() && m["uuid"].isString() && rev.isInt64() && rev.asInt64() >= 0 &&
       rev.asInt64() <= 2147483647LL && m["time"].isString() && m["version"].isString();
  if (!ok) return false;
  manifest->name = m["name"].asString();
  manifest->uuid = m["uuid"].asString();
  manifest->rev = static_cast<long>(rev.asInt64());
  manifest->time = m["time"].asString();
  manifest->version = m["version"].asString();
  return true;
}

// What a backup's entry may be, by its path.
enum EntryKind { kManifestEntry, kConfEntry, kDumpEntry, kNoEntry };
EntryKind KindOf(const std::string& path) {
  const size_t suffix = sizeof kDumpSuffix - 1;
  if (path == kManifest) return kManifestEntry;
  if (path.compare(0, sizeof kConfPrefix - 1, kConfPrefix) == 0) return kConfEntry;
  if (path.size() > suffix && path.compare(path.size() - suffix, suffix, kDumpSuffix) == 0 &&
      path.find('/') == std::string::npos)
    return kDumpEntry;
  return kNoEntry;
}

}  // namespace

SVNStatus SVNBackupReader::open(int fd) {
  in_ = archive_read_new();
  // gzip or nothing (no filter that would start a program), tar or the
  // bytes as they are.
  if (in_ == nullptr || archive_read_support_filter_gzip(in_) != ARCHIVE_OK ||
      archive_read_support_format_tar(in_) != ARCHIVE_OK ||
      archive_read_support_format_raw(in_) != ARCHIVE_OK ||
      archive_read_open_fd(in_, fd, 64 * 1024) != ARCHIVE_OK)
    return refuse(kNotOurs, in_ != nullptr ? ArchiveError(in_) : "");
  struct archive_entry* e = nullptr;
  int rc = archive_read_next_header(in_, &e);
  if (rc != ARCHIVE_OK) return refuse(rc == ARCHIVE_EOF ? kNotOurs : kCut, ArchiveError(in_));
  if (archive_format(in_) == ARCHIVE_FORMAT_RAW) return openPlain();
  // A backup: the manifest, conf files, the dump; each a plain file.
  for (int index = 0;; ++index) {
    if (index > 0 && (rc = archive_read_next_header(in_, &e)) != ARCHIVE_OK)
      return refuse(rc == ARCHIVE_EOF ? "The backup holds no dump." : kCut, ArchiveError(in_));
    bool dump = false;
    STATUS_TRY(readEntry(e, index, &dump));
    if (dump) break;
  }
  if (conf_.empty()) return refuse("The backup holds no settings file.", "");
  return SVNStatus();
}

SVNStatus SVNBackupReader::openPlain() {
  plain_ = true;
  head_.resize(sizeof kDumpStart - 1);
  size_t got = 0;
  while (got < head_.size()) {
    la_ssize_t n = archive_read_data(in_, &head_[got], head_.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < head_.size() || head_ != kDumpStart) return refuse(kNotOurs, "(raw)");
  return SVNStatus();
}

SVNStatus SVNBackupReader::readEntry(struct archive_entry* e, int index, bool* dump) {
  const char* raw = archive_entry_pathname_utf8(e);
  if (raw == nullptr) raw = archive_entry_pathname(e);
  const std::string path = raw != nullptr ? raw : "";
  const std::string shown = "“" + Shown(path) + "”";
  if (archive_entry_filetype(e) != AE_IFREG || archive_entry_hardlink(e) != nullptr ||
      archive_entry_symlink(e) != nullptr || archive_entry_sparse_count(e) > 0 ||
      !archive_entry_size_is_set(e) || archive_entry_size(e) < 0)
    return refuse(("The file holds " + shown + ", which is not a plain file: a backup "
                   "holds none.").c_str(), path);
  const EntryKind kind = KindOf(path);
  bool cleanName = true;
  for (unsigned char c : path) cleanName = cleanName && c >= 0x20 && c != 0x7F;
  if (index == 0 && kind != kManifestEntry) return refuse(kNotOurs, path);
  if (!cleanName || kind == kNoEntry || (kind == kManifestEntry && index != 0))
    return refuse(("The file holds " + shown + ", which is not part of a backup: nothing "
                   "is taken from it.").c_str(), path);
  *dump = kind == kDumpEntry;
  if (*dump) return SVNStatus();
  const size_t limit = kind == kManifestEntry ? kMaxManifest : kMaxConfFile;
  if (static_cast<unsigned long long>(archive_entry_size(e)) > limit)
    return refuse(("The file holds " + shown + ", which is too large for what it claims to "
                   "be.").c_str(), path);
  std::string data(static_cast<size_t>(archive_entry_size(e)), '\0');
  size_t got = 0;
  while (got < data.size()) {
    la_ssize_t n = archive_read_data(in_, &data[got], data.size() - got);
    if (n <= 0) return refuse(kCut, ArchiveError(in_));
    got += static_cast<size_t>(n);
  }
  if (kind == kManifestEntry && !ParseManifest(data, &manifest_))
    return refuse("The backup's manifest cannot be read.", "");
  if (kind == kManifestEntry) return SVNStatus();
  return addConf(path.substr(sizeof kConfPrefix - 1), std::move(data), shown);
}

SVNStatus SVNBackupReader::addConf(const std::string& name, std::string data,
                                   const std::string& shown) {
  // conf/NAME: one file directly in conf/, each once, the settings first.
  const std::string path = kConfPrefix + name;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return refuse(("The file holds " + shown + ", which is not part of a backup: nothing "
                   "is taken from it.").c_str(), path);
  if (conf_.empty() != (name == "svnserve.conf"))
    return refuse("The backup's files are not in the order this program writes them.", path);
  for (const auto& c : conf_)
    if (c.first == name) return refuse(("The file holds " + shown + " twice.").c_str(), path);
  if (conf_.size() >= kMaxConfFiles)
    return refuse("The file holds more conf files than a backup does.", path);
  conf_.emplace_back(name, std::move(data));
  return SVNStatus();
}

long SVNBackupReader::readDump(char* buf, size_t size) {
  if (!error_.ok()) return -1;
  if (headAt_ < head_.size()) {
    size_t n = std::min(size, head_.size() - headAt_);
    memcpy(buf, head_.data() + headAt_, n);
    headAt_ += n;
    return static_cast<long>(n);
  }
  la_ssize_t n = archive_read_data(in_, buf, size);
  if (n < 0) {
    refuse(kCut, ArchiveError(in_));
    return -1;
  }
  return static_cast<long>(n);
}

SVNStatus SVNBackupReader::finish() {
  if (!error_.ok()) return error_;
  if (plain_) return SVNStatus();
  struct archive_entry* e = nullptr;
  int rc = archive_read_next_header(in_, &e);
  if (rc == ARCHIVE_EOF) return SVNStatus();
  if (rc == ARCHIVE_OK) {
    const char* path = archive_entry_pathname(e);
    return refuse("The file holds more after the dump, which is not part of a backup.",
                  path != nullptr ? path : "");
  }
  return refuse(kCut, ArchiveError(in_));
}
