// fs_reader.cpp: work on a repository through Subversion's library, in a
// bounded child process.

#include "store/fs_reader.h"

#include <json/reader.h>
#include <json/writer.h>
#include <syslog.h>

#include <memory>

#include "store/backups.h"
#include "store/facts.h"

#define LOG_MODULE "svn_fs"

namespace {

// The last line of a piece of work that ended well.
const char kEnd[] = "\"end\"\n";

// The work, in the child: the answer's lines, and kEnd when it ended
// well.
std::string Work(const std::string& path, const std::function<bool(SVNFsWork&)>& work) {
  SVNFsWork w;
  SVNStatus loaded = LoadSubversion(&w.lib);
  if (!loaded.ok()) {
    loaded.Log();
    return "";
  }
  SVNPool pool(w.lib);
  w.pool = pool.get();
  if (!w.ok(w.lib->reposOpen(&w.repos, path.c_str(), nullptr, w.pool, w.pool), "Open"))
    return "";
  w.fs = w.lib->reposFs(w.repos);
  if (work(w)) w.answer += kEnd;
  return std::move(w.answer);
}

}  // namespace

void SVNFsWork::line(const Json::Value& value) {
  Json::FastWriter writer;  // one line, ending in '\n'
  answer += writer.write(value);
}

bool SVNFsWork::ok(svn_error_t* err, const char* doing) const {
  if (err == nullptr) return true;
  LOG_LINE("%s failed: %s", doing, lib->takeMessage(err).c_str());
  return false;
}

SVNStatus RunOnRepository(const std::string& path, size_t most,
                          const std::function<bool(SVNFsWork&)>& work,
                          std::vector<Json::Value>* lines) {
  lines->clear();
  STATUS_TRY(CheckLibraryReadable(path));  // checked first: loading costs milliseconds
  std::string got;
  const char* why = nullptr;
  const bool ran = RunBoundedReader([&] { return Work(path, work); }, most, &got, &why);
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = 64;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  bool ended = false;
  for (size_t at = 0, end; (end = got.find('\n', at)) != std::string::npos; at = end + 1) {
    Json::Value value;
    std::string error;
    if (!reader->parse(got.data() + at, got.data() + end, &value, &error)) break;
    ended = value.isString() && value.asString() == "end";
    if (!ended) lines->push_back(std::move(value));
  }
  if (!ran || !ended)
    return STATUS_ERROR(kFailed, "The work on %s did not end well: %s.", path.c_str(),
                        why != nullptr ? why : "it failed");
  return SVNStatus();
}

std::string IsoSeconds(apr_time_t when) {
  return IsoTime(static_cast<time_t>(when / APR_USEC_PER_SEC));
}

Json::Value SvnDate(const SVNLibrary* lib, const svn_string_t* value, apr_pool_t* pool) {
  apr_time_t when = 0;
  if (value == nullptr) return Json::Value();
  svn_error_t* err = lib->timeFromCstring(&when, value->data, pool);
  if (err != nullptr) {
    lib->errorClear(err);
    return Json::Value();
  }
  const std::string text = IsoSeconds(when);
  return text.empty() ? Json::Value() : Json::Value(text);
}

Json::Value PropText(const svn_string_t* value, size_t most, bool* cut) {
  if (cut != nullptr) *cut = false;
  if (value == nullptr) return Json::Value();
  size_t size = value->len;
  if (size > most) {
    if (cut == nullptr) return Json::Value();
    size = most;
    // Not in the middle of a UTF-8 sequence.
    while (size > 0 && (static_cast<unsigned char>(value->data[size]) & 0xC0) == 0x80) --size;
    *cut = true;
  }
  return Json::Value(value->data, value->data + size);
}
