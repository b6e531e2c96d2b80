// Fuzz target: the reader of backup files, which takes uploads from
// anyone who can reach the page.  Invariants: no crash; a refusal says
// why; what it hands out is entries of the manifest's kind with paths
// that stay inside (no "..", no absolute path), small files within their
// limit, and the end reported only once everything was checked.

#include <locale.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "ui/admin/backup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = setlocale(LC_ALL, "C.UTF-8") != nullptr;
  (void)init;
  int fd = memfd_create("upload", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
  {
    SVNBackupReader reader;
    SVNStatus status = reader.open(fd);
    char buf[4096];
    long n = 0;
    if (status.ok() && reader.plain()) {
      while ((n = reader.readData(buf, sizeof buf)) > 0) {
      }
      FUZZ_CHECK(n == 0 || !reader.error().ok());
    }
    for (bool more = status.ok() && !reader.plain(); more;) {
      SVNBackupEntry e;
      status = reader.next(&e, &more);
      if (!status.ok() || !more) break;
      FUZZ_CHECK(!e.path.empty() && e.path[0] != '/');
      FUZZ_CHECK(("/" + e.path + "/").find("/../") == std::string::npos);
      if (e.path.compare(0, 5, "conf/") == 0) {
        std::string text;
        if (reader.readAll(kMaxConfFile, &text).ok()) FUZZ_CHECK(text.size() <= kMaxConfFile);
      } else if (!e.directory) {
        while ((n = reader.readData(buf, sizeof buf)) > 0) {
        }
      }
    }
    if (!status.ok()) FUZZ_CHECK(!status.reason().empty());
  }
  close(fd);
  return 0;
}
