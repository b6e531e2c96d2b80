// Fuzz target: the reader of backup files, which takes uploads from
// anyone who can reach the page.  Invariants: no crash; what it accepts is
// a plain dump, or a manifest, the settings file first and at most
// kMaxConfFiles conf files, each a plain name of at most kMaxConfFile
// bytes; the dump it serves is never larger than what libarchive
// decompresses.

#include <locale.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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
    SVNStatus opened = reader.open(fd);
    if (opened.ok()) {
      if (!reader.plain()) {
        FUZZ_CHECK(!reader.conf().empty() && reader.conf()[0].first == "svnserve.conf");
        FUZZ_CHECK(reader.conf().size() <= kMaxConfFiles);
        for (const auto& c : reader.conf()) {
          FUZZ_CHECK(c.first.find('/') == std::string::npos && c.first != ".." && c.first != ".");
          FUZZ_CHECK(c.second.size() <= kMaxConfFile);
        }
      }
      char buf[4096];
      long total = 0, n;
      while ((n = reader.readDump(buf, sizeof buf)) > 0) total += n;
      FUZZ_CHECK(n == 0 || !reader.error().ok());
      reader.finish();
    } else {
      FUZZ_CHECK(!opened.reason().empty());  // a refusal says why
    }
  }
  close(fd);
  return 0;
}
