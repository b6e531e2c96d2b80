// private_file.h: directories and small files of the service user's
// alone (the backup directory, the jobs' records), written whole or not at
// all.
#ifndef SVN_STORE_PRIVATE_FILE_H_
#define SVN_STORE_PRIVATE_FILE_H_

#include <json/value.h>

#include <string>

#include "store/status.h"

// Makes `path` a directory of the service user's alone: made (0700) when
// missing and `create`; refused unless it is a directory owned by the
// effective user (kNotFound when it is missing); permissions of group and
// others are taken away.  With `noFollow`, a link there is refused too.
SVNStatus PrivateDir(const std::string& path, bool create, bool noFollow);

// Replaces `path` by a file holding `text`, mode 0600: a temporary file
// with a unique name beside it, written, renamed over it.  With
// `durable`, the file and its directory are synced too.
SVNStatus WritePrivateFile(const std::string& path, const std::string& text, bool durable);

// Reads `path` when it is a regular file of at most `limit` bytes, opened
// without blocking (a FIFO there is refused, not waited on); with `own`,
// only one owned by the effective user, and not through a link.  False
// otherwise.
bool ReadSmallFile(const std::string& path, size_t limit, bool own, std::string* text);

// The service user's own file: ReadSmallFile with `own`.
inline bool ReadPrivateFile(const std::string& path, size_t limit, std::string* text) {
  return ReadSmallFile(path, limit, true, text);
}

// Parses `text`, a file of this program's (a job's record, a verify
// record), as one JSON value; false when it is not one.
bool ReadJson(const std::string& text, Json::Value* value);

#endif  // SVN_STORE_PRIVATE_FILE_H_
