// gzip_stream.cpp: gzip members written fast and read back checked.

#include "ui/admin/gzip_stream.h"

#include <errno.h>
#include <math.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#define LOG_MODULE "svn_backup"

namespace {

const size_t kBlock = 64 * 1024;  // looked at, and compressed, at a time

// Whether a block would shrink too little to be worth deflate's time
// (twice: writing it, and on every restore reading it), from the entropy
// of up to 1,024 of its bytes spread over it.  Above 5.5 bits a byte
// (compressed data, and the deltas of Subversion's own storage) deflate
// saves a fifth at most; text is at 4 to 5 bits, and halves or better.
bool ShrinksLittle(const char* data, size_t size) {
  if (size < 256) return false;
  size_t counts[256] = {0};
  const size_t stride = size / 1024 + 1;
  size_t n = 0;
  for (size_t i = 0; i < size; i += stride, ++n) ++counts[static_cast<unsigned char>(data[i])];
  double bits = 0;
  for (size_t c : counts)
    if (c != 0) bits -= double(c) / double(n) * log2(double(c) / double(n));
  return bits > 5.5;
}

bool WriteAt(int fd, const char* data, size_t size, off_t at) {
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

// One whole member of `data`, stored, with `extra` bytes of extra field
// (0: none).
bool StoredMember(const std::string& data, size_t extra, std::string* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 0, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  std::string field(extra, '\0');
  gz_header header;
  memset(&header, 0, sizeof header);
  header.extra = reinterpret_cast<Bytef*>(&field[0]);
  header.extra_len = static_cast<uInt>(extra);
  header.os = 3;  // Unix
  bool ok = extra == 0 || deflateSetHeader(&z, &header) == Z_OK;
  out->resize(deflateBound(&z, data.size()) + extra + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
  z.avail_out = static_cast<uInt>(out->size());
  ok = ok && deflate(&z, Z_FINISH) == Z_STREAM_END;
  out->resize(z.total_out);
  deflateEnd(&z);
  return ok;
}

}  // namespace

// ---- Writing ----

SVNGzipOut::SVNGzipOut(int fd) : fd_(fd) { memset(&z_, 0, sizeof z_); }

SVNGzipOut::~SVNGzipOut() {
  if (open_) deflateEnd(&z_);
}

SVNStatus SVNGzipOut::put(const std::string& bytes) {
  if (!WriteAt(fd_, bytes.data(), bytes.size(), offset_))
    return STATUS_ERROR(kFailed, "Write the archive failed: %s", strerror(errno));
  offset_ += static_cast<off_t>(bytes.size());
  return SVNStatus();
}

SVNStatus SVNGzipOut::begin() {
  if (open_) STATUS_TRY(end());
  level_ = 1;
  if (deflateInit2(&z_, level_, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return STATUS_ERROR(kFailed, "Start a gzip member failed.");
  open_ = true;
  return SVNStatus();
}

SVNStatus SVNGzipOut::deflateBlock(const char* data, size_t size, int flush) {
  char buf[kBlock];
  z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z_.avail_in = static_cast<uInt>(size);
  int rc;
  do {
    z_.next_out = reinterpret_cast<Bytef*>(buf);
    z_.avail_out = sizeof buf;
    rc = deflate(&z_, flush);
    if (rc == Z_STREAM_ERROR) return STATUS_ERROR(kFailed, "Compress the archive failed.");
    STATUS_TRY(put(std::string(buf, sizeof buf - z_.avail_out)));
  } while (z_.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  return SVNStatus();
}

SVNStatus SVNGzipOut::write(const char* data, size_t size) {
  if (!open_) STATUS_TRY(begin());
  while (size > 0) {
    const size_t n = std::min(size, kBlock);
    const int level = ShrinksLittle(data, n) ? 0 : 1;
    if (level != level_) {
      // What came before goes at the level it was given.
      STATUS_TRY(deflateBlock("", 0, Z_BLOCK));
      if (deflateParams(&z_, level, Z_DEFAULT_STRATEGY) != Z_OK)
        return STATUS_ERROR(kFailed, "Change the compression failed.");
      level_ = level;
    }
    STATUS_TRY(deflateBlock(data, n, Z_NO_FLUSH));
    data += n;
    size -= n;
  }
  return SVNStatus();
}

SVNStatus SVNGzipOut::end() {
  if (!open_) return SVNStatus();
  SVNStatus status = deflateBlock("", 0, Z_FINISH);
  deflateEnd(&z_);
  open_ = false;
  return status;
}

SVNStatus SVNGzipOut::keep(size_t size, off_t* at) {
  STATUS_TRY(end());
  *at = offset_;
  offset_ += static_cast<off_t>(size);
  return SVNStatus();
}

SVNStatus SVNGzipOut::fill(off_t at, size_t size, const std::string& data) {
  std::string bare, filled;
  if (!StoredMember(data, 0, &bare) || bare.size() + 2 > size)
    return STATUS_ERROR(kFailed, "%zu bytes do not fit a room of %zu.", data.size(), size);
  if (!StoredMember(data, size - bare.size() - 2, &filled) || filled.size() != size)
    return STATUS_ERROR(kFailed, "Fill a room of %zu failed.", size);
  if (!WriteAt(fd_, filled.data(), filled.size(), at))
    return STATUS_ERROR(kFailed, "Write the archive failed: %s", strerror(errno));
  return SVNStatus();
}

// ---- Reading ----

SVNGzipIn::SVNGzipIn(int fd) : fd_(fd) { memset(&z_, 0, sizeof z_); }

SVNGzipIn::~SVNGzipIn() {
  if (gzip_) inflateEnd(&z_);
}

long SVNGzipIn::fail(const char* why, const char* detail) {
  error_ = STATUS_ERROR(kFailed, "Refused: %s %s", why, detail != nullptr ? detail : "");
  error_.Reason(why);
  return -1;
}

bool SVNGzipIn::fill() {
  // What is left of the input moves to the front.
  in_.erase(0, in_.size() - z_.avail_in);
  const size_t had = in_.size();
  in_.resize(had + kBlock);
  ssize_t n;
  while ((n = ::read(fd_, &in_[had], kBlock)) < 0 && errno == EINTR) {
  }
  in_.resize(had + (n > 0 ? static_cast<size_t>(n) : 0));
  if (n > 0 && sum_ != nullptr) sum_->add(&in_[had], static_cast<size_t>(n));
  z_.next_in = reinterpret_cast<Bytef*>(&in_[0]);
  z_.avail_in = static_cast<uInt>(in_.size());
  if (n < 0) return fail("The file cannot be read.", strerror(errno)) == 0;
  return n > 0;
}

long SVNGzipIn::read(char* buf, size_t size) {
  if (!error_.ok()) return -1;
  if (!started_) {
    started_ = true;
    fill();
    if (!error_.ok()) return -1;
    gzip_ = in_.size() >= 2 && static_cast<unsigned char>(in_[0]) == 0x1f &&
            static_cast<unsigned char>(in_[1]) == 0x8b;
    if (gzip_ && inflateInit2(&z_, 15 + 16) != Z_OK) {
      gzip_ = false;
      return fail("The file cannot be read.", "inflateInit2");
    }
    inMember_ = gzip_;
  }
  if (!gzip_) {  // the bytes as they are
    if (z_.avail_in == 0 && !fill()) return error_.ok() ? 0 : -1;
    const size_t n = std::min(size, static_cast<size_t>(z_.avail_in));
    memcpy(buf, z_.next_in, n);
    z_.next_in += n;
    z_.avail_in -= static_cast<uInt>(n);
    consumed_ += static_cast<long long>(n);
    return static_cast<long>(n);
  }
  z_.next_out = reinterpret_cast<Bytef*>(buf);
  z_.avail_out = static_cast<uInt>(size);
  while (z_.avail_out == size && !ended_) {
    if (z_.avail_in == 0 && !fill()) {
      if (!error_.ok()) return -1;
      if (inMember_) return fail("The file ends early: it is truncated or damaged.", "");
      ended_ = true;
      break;
    }
    if (!inMember_) {  // after a member, another one or nothing
      if (z_.avail_in < 2 && fill() && z_.avail_in < 2) continue;
      if (z_.next_in[0] != 0x1f || (z_.avail_in > 1 && z_.next_in[1] != 0x8b))
        return fail("The file is damaged: it holds more than its archive.", "");
      inflateReset(&z_);
      inMember_ = true;
    }
    const uInt before = z_.avail_in;
    const int rc = inflate(&z_, Z_NO_FLUSH);
    consumed_ += before - z_.avail_in;
    if (rc == Z_STREAM_END) {
      inMember_ = false;  // its checksum and length matched
    } else if (rc == Z_DATA_ERROR) {
      const bool check = z_.msg != nullptr && strstr(z_.msg, "check") != nullptr;
      return fail(check ? "The file is damaged: a part of it does not match its checksum."
                        : "The file is damaged: it cannot be decompressed.",
                  z_.msg);
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      return fail("The file cannot be decompressed.", z_.msg);
    }
  }
  return static_cast<long>(size - z_.avail_out);
}
