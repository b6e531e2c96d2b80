// work_dir.h: the working directory, where repositories are made before
// they appear under the root and deleted after they left it.
//
// It lies on the root's file system, so that one rename moves a
// repository in or out whole: beside the root when the package directory
// allows ($SVN_PACKAGE_DIR/repo-work), else under it (repo/..work, which no
// name reaches and the listing never shows).  Each request works in an
// item of its own, locked while the request lives; what killed requests
// left there is deleted by later ones.
#ifndef SVN_STORE_WORK_DIR_H_
#define SVN_STORE_WORK_DIR_H_

#include <string>

#include "store/status.h"

// One request's own directory in the working directory.
class SVNWorkItem {
 public:
  SVNWorkItem() = default;
  ~SVNWorkItem();  // unlocks; deletes nothing
  SVNWorkItem(const SVNWorkItem&) = delete;
  SVNWorkItem& operator=(const SVNWorkItem&) = delete;

  // Makes the item, named KIND-XXXXXX, locked until destruction, after
  // deleting what ended requests left (items no request holds, unchanged
  // for a minute; what cannot be deleted is logged and kept for later).
  SVNStatus create(const char* kind);

  // The item's directory.
  const std::string& path() const { return path_; }
  // The descriptor holding the item's lock (kept open by whoever takes
  // the item over: a job).
  int fd() const { return fd_; }

  // Deletes the item and everything in it (on failure, later requests try
  // again).
  SVNStatus discard();

 private:
  std::string path_;
  int fd_ = -1;
};

// Renames `from` to `to`, never replacing what is at `to` (kExists then).
SVNStatus MoveNoReplace(const std::string& from, const std::string& to);

// Makes a directory's entries durable.
SVNStatus SyncDir(const std::string& dir);

// Deletes `dir` and everything in it (links removed, not followed).
SVNStatus DeleteTree(const std::string& dir);

#endif  // SVN_STORE_WORK_DIR_H_
