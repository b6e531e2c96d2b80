// commits.cpp: a repository's history of commits, through Subversion's
// repository library.

#include "store/commits.h"

#include <limits.h>
#include <syslog.h>

#include <algorithm>
#include <vector>

#include "store/fs_reader.h"

#define LOG_MODULE "svn_fs"

namespace {

// The answer's bound, which the request reads whole: far more than a page
// of 50 revisions with the longest messages and paths.  A larger page of
// such revisions fails (logged).
constexpr size_t kMaxAnswer = 32u << 20;

// What the receiver of the revisions keeps.
struct LogBaton {
  SVNFsWork* work;
  long skip;   // revisions still to pass over
  long limit;  // revisions to give
  long given = 0;
  bool failed = false;
};

const char* ActionLetter(svn_fs_path_change_kind_t kind) {
  switch (kind) {
    case svn_fs_path_change_add: return "A";
    case svn_fs_path_change_delete: return "D";
    case svn_fs_path_change_replace: return "R";
    default: return "M";
  }
}

// One changed path: what happened to it, and where it was copied from.
Json::Value Change(const SVNFsWork& w, svn_fs_root_t* root, svn_fs_path_change3_t* change,
                   apr_pool_t* pool) {
  Json::Value item;
  item["path"] = std::string(change->path.data, change->path.len);
  item["action"] = ActionLetter(change->change_kind);
  item["kind"] = change->node_kind == svn_node_file  ? Json::Value("file")
                 : change->node_kind == svn_node_dir ? Json::Value("dir")
                                                     : Json::Value();
  if (change->change_kind != svn_fs_path_change_add &&
      change->change_kind != svn_fs_path_change_replace)
    return item;
  svn_revnum_t rev = change->copyfrom_rev;
  const char* from = change->copyfrom_path;
  if (!change->copyfrom_known) {
    svn_error_t* err = w.lib->copiedFrom(&rev, &from, root, change->path.data, pool);
    if (err != nullptr) {
      w.lib->errorClear(err);
      from = nullptr;
    }
  }
  if (from != nullptr && SVN_IS_VALID_REVNUM(rev)) {
    item["copyfrom"]["path"] = from;
    item["copyfrom"]["rev"] = Json::Int64(rev);
  }
  return item;
}

// The changed paths of `rev`: all of them counted, the first kMaxChanges
// given, in path order.
bool Changes(const SVNFsWork& w, svn_revnum_t rev, apr_pool_t* pool, Json::Value* changes) {
  svn_fs_root_t* root = nullptr;
  svn_fs_path_change_iterator_t* it = nullptr;
  if (!w.ok(w.lib->revisionRoot(&root, w.fs, rev, pool), "Open a revision") ||
      !w.ok(w.lib->pathsChanged(&it, root, pool, pool), "Read the changed paths"))
    return false;
  std::vector<Json::Value> kept;
  long long count = 0;
  for (;;) {
    svn_fs_path_change3_t* change = nullptr;
    if (!w.ok(w.lib->pathChangeGet(&change, it), "Read a changed path")) return false;
    if (change == nullptr) break;
    if (kept.size() < kMaxChanges) kept.push_back(Change(w, root, change, pool));
    ++count;
  }
  std::sort(kept.begin(), kept.end(), [](const Json::Value& a, const Json::Value& b) {
    return a["path"].asString() < b["path"].asString();
  });
  (*changes)["count"] = Json::Int64(count);
  Json::Value& paths = (*changes)["paths"] = Json::Value(Json::arrayValue);
  for (Json::Value& item : kept) paths.append(std::move(item));
  return true;
}

// Takes one revision of the history.
svn_error_t* Receive(void* baton, svn_repos_log_entry_t* entry, apr_pool_t* pool) {
  auto* b = static_cast<LogBaton*>(baton);
  const SVNFsWork& w = *b->work;
  if (b->skip > 0) {
    --b->skip;
    return nullptr;
  }
  if (b->given == b->limit) {  // the one asked for beyond the page
    Json::Value more;
    more["more"] = true;
    b->work->line(more);
    return nullptr;
  }
  ++b->given;
  auto prop = [&](const char* name) {
    return entry->revprops == nullptr
               ? nullptr
               : static_cast<const svn_string_t*>(
                     w.lib->hashGet(entry->revprops, name, APR_HASH_KEY_STRING));
  };
  Json::Value rev;
  bool cut = false;
  rev["rev"] = Json::Int64(entry->revision);
  rev["author"] = PropText(prop("svn:author"), kMaxAuthor);
  rev["date"] = SvnDate(w.lib, prop("svn:date"), pool);
  rev["message"] = PropText(prop("svn:log"), kMaxMessage, &cut);
  if (cut) rev["message_cut"] = true;
  if (!Changes(w, entry->revision, pool, &rev["changes"])) b->failed = true;
  b->work->line(rev);
  return nullptr;
}

// The work in the child: the first line {"youngest", "found"}, then the
// revisions, then {"more": true} when there are more.
bool LogWork(SVNFsWork& w, const SVNLogQuery& query) {
  svn_revnum_t youngest = 0;
  if (!w.ok(w.lib->youngest(&youngest, w.fs, w.pool), "Read the youngest revision"))
    return false;
  Json::Value head;
  head["youngest"] = Json::Int64(youngest);
  head["found"] = true;
  LogBaton baton{&w, query.start, query.limit};
  svn_revnum_t from = youngest;
  apr_array_header_t* paths = nullptr;
  if (query.path.isRoot()) {
    // Every revision changed the root: start at the page's first.
    from = youngest - std::min(query.start, static_cast<long>(youngest));
    baton.skip = 0;
  } else {
    svn_fs_root_t* root = nullptr;
    svn_node_kind_t kind = svn_node_none;
    if (!w.ok(w.lib->revisionRoot(&root, w.fs, youngest, w.pool), "Open the youngest revision") ||
        !w.ok(w.lib->checkPath(&kind, root, query.path.c_str(), w.pool), "Look the path up"))
      return false;
    head["found"] = kind != svn_node_none;
    paths = w.lib->arrayMake(w.pool, 1, sizeof(const char*));
    *static_cast<const char**>(w.lib->arrayPush(paths)) = query.path.c_str();
  }
  w.line(head);
  // Revision 0, which every repository starts with, holds nothing.
  if (!head["found"].asBool() || query.start >= youngest) return true;
  apr_array_header_t* props = w.lib->arrayMake(w.pool, 3, sizeof(const char*));
  for (const char* name : {"svn:author", "svn:date", "svn:log"})
    *static_cast<const char**>(w.lib->arrayPush(props)) = name;
  const long long asked = baton.skip + query.limit + 1;
  const int limit = static_cast<int>(std::min<long long>(asked, INT_MAX));
  return w.ok(w.lib->getLogs(w.repos, paths, from, 1, limit, FALSE, FALSE, props, nullptr,
                             nullptr, nullptr, nullptr, Receive, &baton, w.pool),
              "Read the history") &&
         !baton.failed;
}

}  // namespace

SVNStatus ReadLog(const std::string& repo, const SVNLogQuery& query, Json::Value* page) {
  std::vector<Json::Value> lines;
  STATUS_TRY_WITH(
      RunOnRepository(repo, kMaxAnswer, [&](SVNFsWork& w) { return LogWork(w, query); },
                      &lines),
      "Read the history of %s failed.", repo.c_str());
  if (lines.empty() || !lines[0].isObject())
    return STATUS_ERROR(kFailed, "The history of %s came without its head.", repo.c_str());
  Json::Value& out = *page = Json::Value(Json::objectValue);
  out["youngest"] = lines[0]["youngest"];
  out["found"] = lines[0]["found"];
  out["more"] = false;
  Json::Value& revisions = out["revisions"] = Json::Value(Json::arrayValue);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].isMember("more"))
      out["more"] = true;
    else
      revisions.append(std::move(lines[i]));
  }
  return SVNStatus();
}
