// gzip_stream.h: the gzip layer of backup files (zlib): writing members,
// each compressed as fast as its data allows, and reading them back with
// every member's checksum and length checked.
//
// A backup is a stream of gzip members that any gzip reader reads as one
// (`tar xzf` takes it).  Data that does not compress (most of a
// repository: Subversion compresses what it stores) is stored, not
// compressed: each block of 64 KiB is looked at first, and one that would
// not shrink by much (its bytes spread over more than about 45 of the 256
// values: compressed data, encryption, binary formats) goes at level 0,
// which costs little more than a copy, writing and reading.  Text and
// other data that halves goes at level 1.
#ifndef SVN_ADMIN_GZIP_STREAM_H_
#define SVN_ADMIN_GZIP_STREAM_H_

#include <sys/types.h>
#include <zlib.h>

#include <string>

#include "store/status.h"
#include "ui/admin/sha256.h"

class SVNGzipOut {
 public:
  // Writes to `fd` (not owned), from its start.
  explicit SVNGzipOut(int fd);
  ~SVNGzipOut();
  SVNGzipOut(const SVNGzipOut&) = delete;
  SVNGzipOut& operator=(const SVNGzipOut&) = delete;

  // Begins a member (ending the one begun before, if any).
  SVNStatus begin();
  // Compresses `size` bytes into the member.
  SVNStatus write(const char* data, size_t size);
  // Ends the member begun last.
  SVNStatus end();

  // Keeps `size` bytes of room at the current offset, to be filled later
  // by fill() with a member of exactly that size.
  SVNStatus keep(size_t size, off_t* at);
  // Writes `data` as one stored member that fills `size` bytes at `at`
  // exactly (padded with an extra field in its header).
  SVNStatus fill(off_t at, size_t size, const std::string& data);

  // The bytes written so far.
  off_t offset() const { return offset_; }

 private:
  SVNStatus deflateBlock(const char* data, size_t size, int flush);
  SVNStatus put(const std::string& bytes);

  int fd_;
  off_t offset_ = 0;
  bool open_ = false;
  int level_ = 1;
  z_stream z_;
};

class SVNGzipIn {
 public:
  // Reads `fd` (not owned) from where it stands: gzip members, checked,
  // or, when it does not start as gzip does, its bytes as they are.
  explicit SVNGzipIn(int fd);
  ~SVNGzipIn();
  SVNGzipIn(const SVNGzipIn&) = delete;
  SVNGzipIn& operator=(const SVNGzipIn&) = delete;

  // The next bytes: their count, 0 at the end, negative on a failure (see
  // error()): a member whose checksum or length does not match what it
  // holds, or a file that ends within a member.
  long read(char* buf, size_t size);
  const SVNStatus& error() const { return error_; }
  // Whether the file was gzip, and the bytes of it read so far.
  bool gzip() const { return gzip_; }
  long long consumed() const { return consumed_; }
  // Adds every byte of the file read from now on to `sum`.
  void sumInto(SVNSha256* sum) { sum_ = sum; }

 private:
  bool fill();
  long fail(const char* why, const char* detail);

  int fd_;
  z_stream z_;
  bool started_ = false, gzip_ = false, ended_ = false, inMember_ = false;
  long long consumed_ = 0;
  std::string in_;
  SVNSha256* sum_ = nullptr;
  SVNStatus error_;
};

#endif  // SVN_ADMIN_GZIP_STREAM_H_
