// sha256.h: SHA-256 sums (OpenSSL's libcrypto, linked by svn-admin only),
// of the members of a backup and of backup files.
#ifndef SVN_ADMIN_SHA256_H_
#define SVN_ADMIN_SHA256_H_

#include <stddef.h>

#include <string>

class SVNSha256 {
 public:
  SVNSha256();
  ~SVNSha256();
  SVNSha256(const SVNSha256&) = delete;
  SVNSha256& operator=(const SVNSha256&) = delete;

  void add(const char* data, size_t size);
  // The sum of what was added, in lower-case hex; then starts again.
  std::string hex();

 private:
  void* ctx_;
};

// The SHA-256 of the file at `path`, in hex; empty when it cannot be read.
std::string FileSha256(const std::string& path);

#endif  // SVN_ADMIN_SHA256_H_
