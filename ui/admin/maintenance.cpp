// maintenance.cpp: packing and upgrading a repository.

#include "ui/admin/maintenance.h"

#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "store/fs_format.h"
#include "store/root.h"
#include "store/txns.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

namespace {

// The repository `name` as it stands before the work: there, no commit
// in progress, its layout read.
SVNStatus Before(const SVNName& name, SVNFsFormat* format) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  SVNStatus status = CheckNoLiveCommit(name);
  if (!status.ok()) return status;
  status = ReadFsFormat(RepoPath(name), format);
  if (!status.ok()) status.Reason("The repository's format cannot be read.");
  return status;
}

// The tool's failure, in words.
SVNStatus Failed(SVNStatus status, const char* doing) {
  const std::string said = status.reason();
  if (gCancelled) return status.Reason("The job was cancelled; " + std::string(doing) +
                                       " can be started again at any time.");
  return status.Reason(said.empty() ? std::string(doing) + " failed."
                                    : std::string(doing) + " failed: " + said);
}

SVNStatus Pack(const SVNName& name, const SVNProgress& progress, std::string* line) {
  SVNFsFormat format;
  STATUS_TRY(Before(name, &format));
  if (format.type != "fsfs" || format.shardSize == 0 || format.number < kFirstPackedFormat)
    return STATUS_ERROR(kFailed, "%s cannot be packed.", name.c_str())
        .Reason("Only a sharded FSFS repository of format 4 or later can be packed"
                " (upgrade it first).");
  const long long total = static_cast<long long>(format.packable) * format.shardSize;
  long long done = 0;
  if (progress) progress(0, total);
  SVNToolStreams streams;
  streams.outputLine = [&](const std::string& text) {
    const char kShard[] = "Packing revisions in shard ";
    if (text.compare(0, sizeof kShard - 1, kShard) != 0 || text.find("done.") == std::string::npos)
      return;
    done = std::min(total, done + format.shardSize);
    if (progress) progress(done, total);
  };
  SVNStatus status = RunTool({"pack", RepoPath(name)}, streams);
  if (!status.ok()) return Failed(status, "Packing");
  SVNFsFormat after;
  STATUS_TRY(ReadFsFormat(RepoPath(name), &after));
  *line = "packed " + std::to_string(after.packed - format.packed) + " shards, " +
          std::to_string(after.packed) + " in all";
  if (progress) progress(total, total);
  return SVNStatus();
}

SVNStatus Upgrade(const SVNName& name, const SVNProgress& progress, std::string* line) {
  SVNFsFormat format;
  STATUS_TRY(Before(name, &format));
  if (progress) progress(0, 1);
  SVNStatus status = RunTool({"upgrade", RepoPath(name)}, SVNToolStreams());
  if (!status.ok()) return Failed(status, "Upgrading");
  SVNFsFormat after;
  STATUS_TRY(ReadFsFormat(RepoPath(name), &after));
  *line = "upgraded from format " + std::to_string(format.number) + " to " +
          std::to_string(after.number);
  if (progress) progress(1, 1);
  return SVNStatus();
}

}  // namespace

bool IsMaintenance(const std::string& command) {
  return command == "pack" || command == "upgrade";
}

SVNStatus RunMaintenance(const std::string& command, const SVNName& name,
                         const SVNProgress& progress, std::string* line) {
  return command == "pack" ? Pack(name, progress, line) : Upgrade(name, progress, line);
}
