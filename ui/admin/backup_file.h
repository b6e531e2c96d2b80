// backup_file.h: the backup file: a gzip-compressed tar (pax) holding, in
// this order, manifest.json, the repository's conf/ files (svnserve.conf
// first), and NAME.svndump, the history as "svnadmin dump --deltas"
// writes it.
//
// It is written in one pass while the dump streams in, with no copy of
// the dump on disk: the tar header of the dump, which must hold its size,
// goes in a gzip member of its own, in room kept for it before the dump's
// data and filled once the size is known.  Any gzip reader reads the
// members as one stream, and any tar reader the archive.
//
// The reader takes the file as hostile: it accepts exactly that layout
// (or a plain "svnadmin dump" stream, gzip-compressed or not) and refuses
// everything else (other entries, links, hooks, names with a path, a
// truncated file) with a sentence saying why.
#ifndef SVN_ADMIN_BACKUP_FILE_H_
#define SVN_ADMIN_BACKUP_FILE_H_

#include <sys/types.h>
#include <time.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "store/status.h"

struct archive;
struct archive_entry;

// What manifest.json says.
struct SVNManifest {
  static constexpr int kFormat = 1;
  std::string name;     // the repository backed up
  std::string uuid;     // its UUID
  long rev = 0;         // its youngest revision, the dump's last
  std::string time;     // when, "YYYY-MM-DDTHH:MM:SSZ"
  std::string version;  // of the program that wrote it

  std::string json() const;
};

// The largest manifest and conf file an archive may hold.
constexpr size_t kMaxManifest = 64 * 1024;
constexpr size_t kMaxConfFile = 32 * 1024 * 1024;
// The settings file and the files it may name (accounts, rules, groups,
// hooks' environment).
constexpr size_t kMaxConfFiles = 5;

class SVNBackupWriter {
 public:
  // Writes to `fd` (an empty file, not owned) from its start.
  explicit SVNBackupWriter(int fd);
  ~SVNBackupWriter();
  SVNBackupWriter(const SVNBackupWriter&) = delete;
  SVNBackupWriter& operator=(const SVNBackupWriter&) = delete;

  // Adds a small file whole (the manifest, a conf file).
  SVNStatus addFile(const std::string& path, const std::string& data, time_t mtime);
  // Begins the dump entry `path`; then dumpData as it comes, then finish.
  SVNStatus beginDump(const std::string& path, time_t mtime);
  SVNStatus dumpData(const char* data, size_t size);
  // Ends the dump and the archive and writes the dump's header in its
  // place.  The file is not synced.
  SVNStatus finish();

 private:
  class Member;
  int fd_;
  off_t offset_ = 0;        // where the next member goes
  off_t headerAt_ = -1;     // the room kept for the dump's header
  std::string dumpPath_;
  time_t dumpTime_ = 0;
  unsigned long long dumpSize_ = 0;
  std::unique_ptr<Member> member_;  // the member being written
  bool written_ = true;             // no write of the small files failed
  bool tarClosing_ = false;         // what the small files' writer writes now is dropped
  struct archive* tar_ = nullptr;   // the small files' tar headers and data
};

class SVNBackupReader {
 public:
  SVNBackupReader();
  ~SVNBackupReader();
  SVNBackupReader(const SVNBackupReader&) = delete;
  SVNBackupReader& operator=(const SVNBackupReader&) = delete;

  // Reads `fd` (not owned) up to the dump's data: a backup's manifest and
  // conf files, or the start of a plain dump.
  SVNStatus open(int fd);
  // Whether it is a plain dump (no manifest, no conf files).
  bool plain() const { return plain_; }
  const SVNManifest& manifest() const { return manifest_; }
  // The conf files: name in conf/ and contents, svnserve.conf first.
  const std::vector<std::pair<std::string, std::string>>& conf() const { return conf_; }
  // The dump's next bytes: their count, 0 at its end, negative on a
  // failure (see error()).
  long readDump(char* buf, size_t size);
  const SVNStatus& error() const { return error_; }
  // After the dump's end: fails unless the archive ends there, whole.
  SVNStatus finish();

 private:
  SVNStatus refuse(const char* why, const std::string& detail);
  // open's steps: a plain dump's start; one entry of a backup (*dump when
  // it is the dump, whose data is left to readDump); a conf file's.
  SVNStatus openPlain();
  SVNStatus readEntry(struct archive_entry* e, int index, bool* dump);
  SVNStatus addConf(const std::string& name, std::string data, const std::string& shown);
  struct archive* in_ = nullptr;
  bool plain_ = false;
  std::string head_;  // a plain dump's first bytes, read to recognise it
  size_t headAt_ = 0;
  SVNManifest manifest_;
  std::vector<std::pair<std::string, std::string>> conf_;
  SVNStatus error_;
};

#endif  // SVN_ADMIN_BACKUP_FILE_H_
