// fs_format.h: how a repository's file system is laid out, as its own
// files say (format, db/format, db/min-unpacked-rev, db/current), and
// what "svnadmin pack" and "svnadmin upgrade" would change.
//
// FSFS keeps a repository's revisions one file each, in shards of a
// fixed number of revisions (a directory each) unless it is not sharded;
// "svnadmin pack" makes each complete shard one file (from format 4),
// which is read faster and takes far fewer files.  "svnadmin upgrade"
// brings the repository to the newest format the installed Subversion
// writes, which older Subversion versions cannot read.
#ifndef SVN_STORE_FS_FORMAT_H_
#define SVN_STORE_FS_FORMAT_H_

#include <json/value.h>

#include <string>

#include "store/status.h"

struct SVNFsFormat {
  std::string type;     // db/fs-type: "fsfs", "fsx", "bdb"
  int number = -1;      // db/format's number; -1 when it cannot be read
  long shardSize = 0;   // revisions a shard; 0 when not sharded
  long packed = 0;      // shards packed
  long packable = 0;    // complete shards not packed yet (FSFS from format 4)
  int repoFormat = -1;  // the repository's own format file
  int newest = -1;      // the FSFS format upgrade brings it to; -1 unknown
  bool upgradable = false;  // whether "svnadmin upgrade" would change it
};

// The first FSFS format that can be packed.
constexpr int kFirstPackedFormat = 4;

// Reads the layout of the repository at `repo`.  Reading the newest
// format the installed Subversion writes loads its libraries (see
// subversion.h); without them, `newest` is -1 and nothing is said to be
// upgradable.  Fails when the repository's files cannot be read.
SVNStatus ReadFsFormat(const std::string& repo, SVNFsFormat* format);

// As "show" answers it: {"type", "number", "shards" (null: not sharded),
// "packed", "packable", "upgrade" (bool), "newest" (null: unknown)}.
Json::Value FsFormatJson(const SVNFsFormat& format);

#endif  // SVN_STORE_FS_FORMAT_H_
