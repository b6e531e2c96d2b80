// backups.h: the backup directory: where backups are kept and under which
// names, the listing, finding and removal of backups; and the record of a
// repository's last verify.
//
// The backup directory is $SVN_PACKAGE_DIR/backup, or the directory whose
// absolute path is the first line of $SVN_PACKAGE_DIR/etc/backup-dir (a
// file owned by root or the service user, writable by no one else).  The
// backups of the repository NAME lie in its directory D there, as
// D-YYYYMMDDTHHMMSSZ-rREV.tar.gz (the time in UTC, REV the youngest
// revision), where D is NAME made safe as a file name (see FileNameOf);
// D/.name holds NAME exactly.  A backup is written under a temporary name
// starting with ".", synced, then renamed: a file under its final name is
// complete.  Beside each, ".FILE.json" says what the backup is (its kind,
// revision, size, SHA-256, the how-manieth backup of the directory it is,
// and its last test restore).  The directories are 0700 and the files
// 0600, owned by the service user: account files are inside.
#ifndef SVN_STORE_BACKUPS_H_
#define SVN_STORE_BACKUPS_H_

#include <json/value.h>
#include <time.h>

#include <string>
#include <vector>

#include "store/status.h"

// The last test restore of a backup (or verify of a repository).
struct SVNTested {
  std::string time;   // when, "YYYY-MM-DDTHH:MM:SSZ"; empty: never
  bool ok = false;
  long rev = -1;      // the revision it went to
  std::string error;  // why it failed, a sentence
};

struct SVNBackup {
  std::string name;  // the repository's name
  std::string file;  // the file's name, in the repository's directory
  std::string path;  // the file's path
  long long size = 0;
  std::string time;  // when it was taken, "YYYY-MM-DDTHH:MM:SSZ"
  long rev = 0;      // the youngest revision it holds
  // From the file beside it (empty, 0 for a backup made before there was
  // one):
  std::string kind;    // "hotcopy" or "dump"
  std::string sha256;  // of the file
  std::string uuid;    // of the repository backed up
  long long seq = 0;   // the how-manieth backup of its directory
  SVNTested tested;
};

// `name` as a file name, safe for every repository name: A-Z, a-z, 0-9
// and "_" stay, and so do "." and "-" but at the start; every other byte
// is %XX (upper-case hex).  A result longer than 160 characters is cut
// short and ends in "~" and 16 hex digits of a hash of the whole name.
std::string FileNameOf(const std::string& name);

// The backup directory, made when missing and `create`.
SVNStatus BackupDir(bool create, std::string* dir);

// The directory of `name`'s backups, made (with its .name) when missing
// and `create`; kNotFound when it is missing.
SVNStatus BackupDirOf(const std::string& name, bool create, std::string* dir);

// The final name of a backup of `name` taken at `when`, of revision `rev`.
std::string BackupFileName(const std::string& name, time_t when, long rev);

// The backups of `name`, or of every repository when `name` is empty
// (those of removed repositories too), newest first: in the order they
// were made (seq; then by the time in their names), whatever the clock
// said.  None when the backup directory does not exist.
SVNStatus ListBackups(const std::string& name, std::vector<SVNBackup>* backups);

// The backup `file` of `name`, or of whichever repository its name says
// when `name` is empty: kNotFound unless it is a complete backup in the
// backup directory, a regular file of the service user's.
SVNStatus FindBackup(const std::string& name, const std::string& file, SVNBackup* backup);

// Moves the backups of `from` to `to` (the repository was renamed), each
// under its name for `to`, never replacing a file: they are found under
// the new name.  What cannot be moved stays where it was, found under the
// old name (logged by the caller).
SVNStatus MoveBackups(const std::string& from, const std::string& to);

// The file beside the backup at `path` that says what it is.
std::string BackupInfoPath(const std::string& path);

// What is known of `backup` (kind, sha256, seq, tested), written beside
// it, durably.
SVNStatus WriteBackupInfo(const SVNBackup& backup);

// The seq the next backup in the directory `dir` takes: one more than
// the most any there has.
long long NextBackupSeq(const std::string& dir);

// Whether `seq` is one a backup can have: positive and below a million
// million (a backup a second for 30,000 years), so that one written by
// hand can neither overflow the next nor outrank every later one.
inline bool PlausibleSeq(long long seq) { return seq > 0 && seq < 1000000000000LL; }

// Removes a backup that FindBackup found, and what is known of it,
// durably.
SVNStatus RemoveBackup(const SVNBackup& backup);

// Deletes the temporary files in `dir` that no writer holds (what killed
// backups left).
void RemoveStaleTemporaries(const std::string& dir);

// The time in the form the listing and the records use.
std::string IsoTime(time_t when);

// The last verify of the repository at `path`: {"time": ..., "ok": bool,
// "rev": N, "error": TEXT} ("rev" and "error" when known), null when it
// was never verified (or the record cannot be read).  Kept in the
// repository's directory, so that it goes where the repository goes.
Json::Value ReadVerified(const std::string& path);
SVNStatus WriteVerified(const std::string& path, const SVNTested& verified);

// A test restore as the actions answer it: {"time", "ok", "rev", "error"},
// null when never.
Json::Value TestedJson(const SVNTested& tested);

#endif  // SVN_STORE_BACKUPS_H_
