// fs_reader.h: work on a repository through Subversion's own library
// (its history, locks and transactions), in a child process bounded as
// ReadHistory's reader is, answered as JSON lines.
//
// A repository made or changed by hand may hold a FIFO or a huge file
// where the library reads (revision files, lock files, transactions): the
// work runs in a child process that dies with the request, has bounded
// memory and must end within seconds (see RunBoundedReader).  It answers
// one JSON value a line and, when it ended well, a last line that says
// so: what a child that was stopped half-way wrote is still read (a
// removal reports each path as it goes), its cut last line dropped.
#ifndef SVN_STORE_FS_READER_H_
#define SVN_STORE_FS_READER_H_

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

#include "store/status.h"
#include "store/subversion.h"

// What a piece of work gets: the library, the repository opened (and its
// file system), a pool, and its answer.
class SVNFsWork {
 public:
  const SVNLibrary* lib = nullptr;
  svn_repos_t* repos = nullptr;
  svn_fs_t* fs = nullptr;
  apr_pool_t* pool = nullptr;

  // Adds one line to the answer.
  void line(const Json::Value& value);
  // Whether `err` is no error; otherwise logs "`doing` failed: MESSAGE"
  // (the error cleared) and returns false.
  bool ok(svn_error_t* err, const char* doing) const;

  std::string answer;
};

// Runs `work` on the repository at `path` (the library is given it only
// when CheckLibraryReadable allows), opened by the library in the child;
// `work` returns false when it failed (having logged why).  *lines are the
// lines it wrote, whole ones only, even when it failed.  Fails when the
// repository cannot be opened or the work failed, died or took too long;
// answers of more than `most` bytes are cut short.
SVNStatus RunOnRepository(const std::string& path, size_t most,
                          const std::function<bool(SVNFsWork& work)>& work,
                          std::vector<Json::Value>* lines);

// A time of Subversion's (microseconds since 1970) as the answers give
// times: "2026-01-02T03:04:05Z", in UTC to the second; "" when it cannot
// be one.
std::string IsoSeconds(apr_time_t when);

// The date a revision's svn:date `value` holds, read as Subversion reads
// it, as IsoSeconds gives it; null when there is none or it is no date.
Json::Value SvnDate(const SVNLibrary* lib, const svn_string_t* value, apr_pool_t* pool);

// The text of `value` (a property's), null when there is none.  A text
// over `most` bytes is cut there, at a character's start, and *cut set;
// without `cut`, it is not given (null).
Json::Value PropText(const svn_string_t* value, size_t most, bool* cut = nullptr);

#endif  // SVN_STORE_FS_READER_H_
