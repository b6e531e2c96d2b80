// sha256.cpp: SHA-256 through OpenSSL's EVP interface.

#include "ui/admin/sha256.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

SVNSha256::SVNSha256() : ctx_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr);
}

SVNSha256::~SVNSha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void SVNSha256::add(const char* data, size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

std::string SVNSha256::hex() {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), md, &len);
  EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr);
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += digits[md[i] >> 4];
    out += digits[md[i] & 15];
  }
  return out;
}

std::string FileSha256(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string();
  SVNSha256 sum;
  char buf[64 * 1024];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) sum.add(buf, static_cast<size_t>(n));
  close(fd);
  return n < 0 ? std::string() : sum.hex();
}
