// private_file.cpp: the service user's own directories and small files.

#include "store/private_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <json/reader.h>
#include <unistd.h>

#include <memory>

#include "store/work_dir.h"

#define LOG_MODULE "svn_repo"

SVNStatus PrivateDir(const std::string& path, bool create, bool noFollow) {
  if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return STATUS_ERROR(kFailed, "Make directory %s failed: %s", path.c_str(), strerror(errno));
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0));
  if (fd < 0) {
    int err = errno;
    return SVNStatus::Error(err == ENOENT ? SVNStatus::kNotFound : SVNStatus::kFailed, LOG_MODULE,
                            __LINE__, Format("Open directory %s failed: %s", path.c_str(),
                                             strerror(err)));
  }
  struct stat st;
  SVNStatus status;
  if (fstat(fd, &st) != 0) {
    status = STATUS_ERROR(kFailed, "Stat %s failed: %s", path.c_str(), strerror(errno));
  } else if (st.st_uid != geteuid()) {
    status = STATUS_ERROR(kFailed, "%s belongs to another user (%u): not used.", path.c_str(),
                          static_cast<unsigned>(st.st_uid));
  } else if ((st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 07700) != 0) {
    status = STATUS_ERROR(kFailed, "Make %s private failed: %s", path.c_str(), strerror(errno));
  }
  close(fd);
  return status;
}

SVNStatus WritePrivateFile(const std::string& path, const std::string& text, bool durable) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string temp = dir + "/.tmp-XXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);  // 0600
  if (fd < 0)
    return STATUS_ERROR(kFailed, "Make a file in %s failed: %s", dir.c_str(), strerror(errno));
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && (!durable || fsync(fd) == 0);
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return STATUS_ERROR(kFailed, "Write %s failed: %s", path.c_str(), strerror(err));
  }
  return durable ? SyncDir(dir) : SVNStatus();
}

bool ReadSmallFile(const std::string& path, size_t limit, bool own, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (own ? O_NOFOLLOW : 0));
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (!own || st.st_uid == geteuid()) &&
            static_cast<unsigned long long>(st.st_size) <= limit;
  text->clear();
  if (ok) text->reserve(static_cast<size_t>(st.st_size) + 1);  // one read more finds the end
  char buf[4096];
  while (ok) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text->append(buf, static_cast<size_t>(n));
    ok = text->size() <= limit;
  }
  close(fd);
  return ok;
}

bool ReadJson(const std::string& text, Json::Value* value) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), value, &errors);
}
