// upload.cpp: a request's upload, kept as it arrives.

#include "ui/cgi/upload.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>

#include "ui/cgi/actions.h"

#define LOG_MODULE "ui"

SVNUpload::~SVNUpload() {
  if (fd_ >= 0) close(fd_);
  if (!adopted_) item_.discard().Log();
}

bool SVNUpload::Begin(const std::string& field, const std::string& filename, WebMan& web) {
  const SVNAction* action = FindAction(web.In("action", ""));
  if (field != "upload" || started_ || action == nullptr || !(action->flags & kTakesUpload))
    return false;
  started_ = true;
  // At most 255 bytes of it, cut between characters.
  size_t keep = std::min<size_t>(filename.size(), 255);
  while (keep < filename.size() && keep > 0 && (filename[keep] & 0xC0) == 0x80) --keep;
  filename_ = filename.substr(0, keep);
  if ((status_ = spool(action->name)).ok()) {
    fd_ = open(file().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0)
      status_ = STATUS_ERROR(kFailed, "Make %s failed: %s", file().c_str(), strerror(errno));
  }
  return true;  // read on even when it cannot be kept: the answer says so
}

void SVNUpload::Data(const char* data, size_t size) {
  while (fd_ >= 0 && size > 0) {
    ssize_t n = write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      status_ = STATUS_ERROR(kFailed, "Write %s failed: %s", file().c_str(), strerror(errno));
      close(fd_);
      fd_ = -1;
      unlink(file().c_str());  // no full disk for the rest of the upload
      return;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void SVNUpload::End(bool complete) {
  complete_ = complete;
  if (fd_ >= 0 && close(fd_) != 0 && status_.ok())
    status_ = STATUS_ERROR(kFailed, "Write %s failed: %s", file().c_str(), strerror(errno));
  fd_ = -1;
}

SVNStatus SVNUpload::spool(const char* kind) {
  if (item_.path().empty()) return item_.create(kind);
  return SVNStatus();
}

SVNStatus SVNUpload::received() {
  if (!status_.ok()) return std::move(status_);
  if (!complete_) return STATUS_ERROR(kFailed, "The upload ended early.");
  return SVNStatus();
}
