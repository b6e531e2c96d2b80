// commits.h: a repository's history of commits, newest first, a page at a
// time, read through Subversion's repository library as "svn log -v"
// reads it (see fs_reader.h): who committed what, when, and which paths
// each revision changed.
#ifndef SVN_STORE_COMMITS_H_
#define SVN_STORE_COMMITS_H_

#include <json/value.h>

#include <string>

#include "store/fs_path.h"
#include "store/status.h"

// The changed paths given for each revision (the count covers them all).
constexpr size_t kMaxChanges = 100;
// The bytes of a log message given: a longer one is cut.
constexpr size_t kMaxMessage = 65536;
// A longer author is not given.
constexpr size_t kMaxAuthor = 16384;

struct SVNLogQuery {
  // The revisions that changed it or something below it, its history
  // followed back across copies and moves ("/": every revision).
  SVNFsPath path;
  long start = 0;   // how many of those to pass over, newest first
  long limit = 50;  // how many to give
};

// Reads a page of the history of the repository at `repo`:
//   {"youngest": N, "found": true, "more": bool, "revisions": [
//     {"rev": N, "author": TEXT|null, "date": "2026-01-02T03:04:05Z"|null,
//      "message": TEXT|null, "message_cut": true (only when cut),
//      "changes": {"count": N, "paths": [{"path": "/trunk/a.c",
//        "action": "A"|"M"|"D"|"R", "kind": "file"|"dir"|null,
//        "copyfrom": {"path": P, "rev": N} (only for a copy)}]}}]}
// newest first, down to revision 1 (revision 0, with which every
// repository starts, holds nothing); "paths" are the first kMaxChanges in
// path order.  The
// cost of a page does not grow with the history before it when the path
// is "/" (each revision is read directly); a path's history is followed
// as far back as the page reaches.  A path not in the youngest revision
// has no history to follow: "found" is false and there are no revisions.
SVNStatus ReadLog(const std::string& repo, const SVNLogQuery& query, Json::Value* page);

#endif  // SVN_STORE_COMMITS_H_
