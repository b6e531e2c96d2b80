// usage.h: the disk the repositories and their backups take, and the
// free space of the file systems they are on, cheaply.
//
// A repository's size is that of "show" (see ReadSize: a walk of all its
// files), kept in a cache with what its files said when it was measured:
// its settings file (which a restore or a new repository under the name
// replaces), db/current (which every commit replaces), and the times
// db/, its transactions' directory and its locks last changed.  It is
// measured again when one of those differs, or a day after it was, so a
// change that touches none of them (a log message edited, a hook written
// by hand) shows with the next commit at the latest.  The cache is the
// service user's private file ($SVN_PACKAGE_DIR/var/usage.cache); what in
// it does not read as an entry of a repository there now, with the same
// marks, is measured again: it never stands for another repository, nor
// for this one before it changed.  Repositories are measured for a few
// seconds a request at most: the rest are left unmeasured (the next
// request goes on with them).
#ifndef SVN_STORE_USAGE_H_
#define SVN_STORE_USAGE_H_

#include <string>
#include <vector>

#include "store/status.h"

struct SVNRepoUsage {
  std::string name;
  long long size = -1;    // bytes; -1 when not known
  bool measured = true;   // false: left for a later request
};

struct SVNDiskSpace {
  long long free = -1;  // bytes an unprivileged user may still write
  long long size = -1;  // bytes in all
};

struct SVNUsage {
  std::vector<SVNRepoUsage> repositories;  // in the order of the root's directory
  long long backups = -1;                  // bytes of the backup directory; -1 unknown
  SVNDiskSpace root, backupDisk;
  bool sameDisk = false;  // whether the backups are on the root's file system
  bool backupDir = false;  // whether there is a backup directory
};

// The most time spent measuring repositories in one request.
constexpr long kMeasureMillis = 8000;

// Reads the usage of every repository under the root, the backup
// directory and their file systems; what cannot be read is not known
// (logged).
void ReadUsage(SVNUsage* usage);

#endif  // SVN_STORE_USAGE_H_
