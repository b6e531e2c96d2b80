// backup_file.h: the backup file: a tar (pax) archive in gzip members (see
// gzip_stream.h), holding, in this order:
//
//   manifest.json       what the backup is (SVNManifest)
//   then, for the kind "hotcopy" (a consistent copy, `svnadmin hotcopy`):
//   repository/...      the copy, directories and files
//   then, for the kind "dump" (`svnadmin dump --deltas`, for moving to
//   another version of Subversion):
//   conf/NAME           the settings file, and the files it names that
//                       lie in conf/
//   repository.svndump  the history
//   and for both:
//   setup/N             the files the settings use that lie elsewhere (a
//                       shared account or rules file: the manifest says
//                       where each lived)
//   SHA256SUMS          "SUM  PATH" of every file above, in their order,
//                       as sha256sum writes it.
//
// It is written in one pass: the dump's tar header, which must hold its
// size, is a gzip member of its own in room kept for it and filled at the
// end.  Files written before this layout (format 1) hold manifest.json,
// conf/ files and NAME.svndump, and are still read.
//
// The reader takes the file as hostile: every gzip member's checksum and
// length, and every file's SHA-256, are checked before the end is
// reported; it accepts exactly the layout of the manifest's kind (or a
// plain "svnadmin dump" stream, gzip-compressed or not) and refuses
// everything else (other entries, links, devices, paths that climb out, a
// truncated or damaged file) with a sentence saying why.
#ifndef SVN_ADMIN_BACKUP_FILE_H_
#define SVN_ADMIN_BACKUP_FILE_H_

#include <stdio.h>
#include <sys/types.h>
#include <time.h>

#include <map>
#include <set>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "store/status.h"
#include "ui/admin/gzip_stream.h"
#include "ui/admin/sha256.h"

struct archive;
struct archive_entry;

// A file the repository's settings use that lies outside the copy: what
// the setting says, and where the file it named was.
struct SVNSetupFile {
  std::string setting;  // "password-db", "authz-db", "groups-db", "hooks-env", "settings"
  std::string value;    // as written in svnserve.conf ("" for "settings")
  std::string from;     // its real location (or URL) when backed up
  std::string entry;    // "setup/N"
};

// What manifest.json says.
struct SVNManifest {
  static constexpr int kFormat = 2;  // written; 1 is read too
  int format = kFormat;
  std::string kind = "dump";  // "hotcopy" or "dump"
  std::string name;           // the repository backed up
  std::string uuid;           // its UUID
  long rev = 0;               // its youngest revision
  std::string time;           // when, "YYYY-MM-DDTHH:MM:SSZ"
  long long seq = 0;          // the how-manieth backup of its directory (0: unknown)
  long long size = 0;         // the bytes of the repository backed up (0: unknown)
  std::string version;        // of the program that wrote it
  std::vector<SVNSetupFile> setup;
  // The links in the copy (path in the repository, target), which are
  // not copied: a restore in place makes them again where their targets
  // still exist.
  std::vector<std::pair<std::string, std::string>> links;
  // The hook presets that were on ("log_edits", ...), re-made by any
  // restore, and the other hooks (made by hand).
  std::vector<std::string> presets, hooks;

  std::string json() const;
  // Reads the manifest `text`; false when it is not one.
  bool parse(const std::string& text);
};

// The largest manifest and conf file an archive may hold.
constexpr size_t kMaxManifest = 1024 * 1024;
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
  // Adds the `size` bytes of `fd` from where it stands, with `mode`.
  SVNStatus addFileFrom(const std::string& path, int fd, long long size, mode_t mode,
                        time_t mtime);
  SVNStatus addDirectory(const std::string& path, mode_t mode, time_t mtime);
  // Begins a file whose size is known only at its end (the dump); then
  // streamData as it comes, then endStream.
  SVNStatus beginStream(const std::string& path, time_t mtime);
  SVNStatus streamData(const char* data, size_t size);
  SVNStatus endStream();
  // Adds SHA256SUMS and ends the archive.  The file is not synced.
  SVNStatus finish(time_t mtime);
  // The bytes written so far.
  long long written() const { return out_.offset(); }

 private:
  SVNStatus startTar();
  SVNStatus header(const std::string& path, long long size, mode_t type, mode_t mode,
                   time_t mtime);
  SVNStatus data(const char* bytes, size_t size);
  void noteSum(const std::string& path);

  SVNGzipOut out_;
  struct archive* tar_ = nullptr;  // the entries' headers and data
  bool tarClosing_ = false;        // what the tar writer writes now is dropped
  bool written_ = true;            // no write of the tar writer failed
  SVNSha256 sum_;                  // of the file being written
  FILE* sums_ = nullptr;           // SHA256SUMS, as it grows
  off_t headerAt_ = -1;            // the room kept for a streamed file's header
  std::string streamPath_;
  time_t streamTime_ = 0;
  unsigned long long streamSize_ = 0;
};

// One entry of a backup after its manifest.
struct SVNBackupEntry {
  std::string path;  // as the archive names it
  bool directory = false;
  long long size = 0;
  mode_t mode = 0;  // the permission bits it was archived with
};

class SVNBackupReader {
 public:
  SVNBackupReader();
  ~SVNBackupReader();
  SVNBackupReader(const SVNBackupReader&) = delete;
  SVNBackupReader& operator=(const SVNBackupReader&) = delete;

  // Reads `fd` (not owned) up to the end of a backup's manifest, or to
  // the start of a plain dump.
  SVNStatus open(int fd);
  // Whether it is a plain dump (no manifest: read it with readData).
  bool plain() const { return plain_; }
  const SVNManifest& manifest() const { return manifest_; }

  // The next entry (*more false at the end of the archive, once all of
  // it has been checked).  What the caller did not read of the entry
  // before is read (and checked) first.  Entries the manifest's kind does
  // not have are refused.
  SVNStatus next(SVNBackupEntry* entry, bool* more);
  // The current entry's (or a plain dump's) next bytes: their count, 0 at
  // its end, negative on a failure (see error()).
  long readData(char* buf, size_t size);
  // Reads the current entry whole, when it is at most `limit` bytes.
  SVNStatus readAll(size_t limit, std::string* data);
  const SVNStatus& error() const { return error_; }
  // The bytes of the file read so far, and their SHA-256 once it is all
  // read.
  long long consumed() const { return in_ ? in_->consumed() : 0; }
  std::string fileSha256() { return fileSum_.hex(); }

 private:
  SVNStatus refuse(const char* why, const std::string& detail);
  SVNStatus openArchive(int fd);
  SVNStatus openPlain();
  SVNStatus checkEntry(struct archive_entry* e, SVNBackupEntry* entry);
  SVNStatus checkSums();
  SVNStatus drainGzip();
  static ssize_t Read(struct archive* a, void* self, const void** buffer);

  std::unique_ptr<SVNGzipIn> in_;
  struct archive* tar_ = nullptr;
  std::string buffer_;  // what Read hands libarchive
  bool plain_ = false;
  std::string head_;  // a plain dump's first bytes, read to recognise it
  size_t headAt_ = 0;
  SVNManifest manifest_;
  SVNBackupEntry current_;
  bool inFile_ = false;    // the current entry is a file whose data counts
  bool ended_ = false;     // the archive's end was reached and checked
  bool dumpSeen_ = false;  // the dump kinds: the dump came
  size_t confFiles_ = 0;
  std::set<std::string> small_;  // the conf and setup files seen
  SVNSha256 sum_, fileSum_;
  FILE* sums_ = nullptr;  // the sums of what was read, as SHA256SUMS says them
  SVNStatus error_;
};

#endif  // SVN_ADMIN_BACKUP_FILE_H_
