// fs_format.cpp: a repository's layout, from its own files.

#include "store/fs_format.h"

#include <stdlib.h>

#include <algorithm>
#include <syslog.h>

#include "store/facts.h"
#include "store/private_file.h"
#include "store/subversion.h"

#define LOG_MODULE "svn_fs"

namespace {

// The repository format every Subversion since 1.4 writes.
constexpr int kNewestRepoFormat = 5;

// The leading number of the file at `path` (a small one), -1 when it has
// none.
long LeadingNumber(const std::string& path, std::string* text) {
  if (!ReadSmallFile(path, 4096, false, text) || text->empty() || (*text)[0] < '0' ||
      (*text)[0] > '9')
    return -1;
  char* end = nullptr;
  long n = strtol(text->c_str(), &end, 10);
  return n >= 0 && n < 1000000000 ? n : -1;
}

// The FSFS format the installed Subversion writes, by its version.
int NewestFsfsFormat() {
  const SVNLibrary* lib = nullptr;
  SVNStatus loaded = LoadSubversion(&lib);
  if (!loaded.ok()) {
    loaded.Log();
    return -1;
  }
  const int minor = lib->fsVersion()->minor;
  return minor >= 10 ? 8 : minor == 9 ? 7 : minor == 8 ? 6 : minor >= 6 ? 4 : 3;
}

// The shard size db/format names ("layout sharded N"); 0 when linear.
long ShardSize(const std::string& text) {
  const std::string key = "\nlayout sharded ";
  size_t at = text.find(key);
  if (at == std::string::npos) return 0;
  long n = strtol(text.c_str() + at + key.size(), nullptr, 10);
  return n > 0 && n < 1000000000 ? n : 0;
}

}  // namespace

SVNStatus ReadFsFormat(const std::string& repo, SVNFsFormat* format) {
  *format = SVNFsFormat();
  std::string text;
  if (!ReadSmallFile(repo + "/db/fs-type", 64, false, &text))
    return STATUS_ERROR(kFailed, "%s/db/fs-type cannot be read.", repo.c_str());
  format->type = text.substr(0, text.find('\n'));
  format->repoFormat = static_cast<int>(LeadingNumber(repo + "/format", &text));
  if (format->type != "fsfs" && format->type != "fsx") return SVNStatus();
  format->number = static_cast<int>(LeadingNumber(repo + "/db/format", &text));
  if (format->number < 0 || format->repoFormat < 0)
    return STATUS_ERROR(kFailed, "The format files of %s cannot be read.", repo.c_str());
  format->shardSize = ShardSize(text);
  if (format->type != "fsfs") return SVNStatus();
  if (format->shardSize > 0 && format->number >= kFirstPackedFormat) {
    const long unpacked = LeadingNumber(repo + "/db/min-unpacked-rev", &text);
    const long youngest = ReadRevision(repo);
    format->packed = unpacked > 0 ? unpacked / format->shardSize : 0;
    if (youngest >= 0)
      format->packable = std::max(0L, (youngest + 1) / format->shardSize - format->packed);
  }
  format->newest = NewestFsfsFormat();
  format->upgradable = format->newest > 0 && (format->number < format->newest ||
                                                format->repoFormat < kNewestRepoFormat);
  return SVNStatus();
}

Json::Value FsFormatJson(const SVNFsFormat& format) {
  Json::Value json;
  json["type"] = format.type;
  json["number"] = format.number >= 0 ? Json::Value(format.number) : Json::Value();
  json["shards"] = format.shardSize > 0 ? Json::Value(Json::Int64(format.shardSize)) : Json::Value();
  json["packed"] = Json::Int64(format.packed);
  json["packable"] = Json::Int64(format.packable);
  json["upgrade"] = format.upgradable;
  json["newest"] = format.newest >= 0 ? Json::Value(format.newest) : Json::Value();
  return json;
}
