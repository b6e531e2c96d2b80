// job_tasks.cpp: one job's task, and its records.

#include "ui/admin/job_tasks.h"

#include <syslog.h>
#include <time.h>

#include <optional>

#include "store/audit_log.h"
#include "store/backups.h"

#define LOG_MODULE "svn_job"

namespace {

Json::Value Strings(const std::vector<std::string>& list) {
  Json::Value out(Json::arrayValue);
  for (const std::string& s : list) out.append(s);
  return out;
}

// The last part of a path.
std::string Base(const std::string& path) { return path.substr(path.rfind('/') + 1); }

SVNStatus Backup(const SVNJobCommand& c, const SVNName& name, const SVNProgress& progress,
                 SVNJob* job, std::string* line, Json::Value* changes) {
  SVNBackupResult made;
  SVNStatus status = BackupRepository(name, {c.kind, c.keep}, progress, &made);
  if (!status.ok()) return status;
  job->file = made.file;
  job->rev = made.rev;
  *line = "backed up revision " + std::to_string(made.rev) + " to " + made.path;
  (*changes)["file"] = made.file;
  (*changes)["backup_kind"] = c.kind;
  (*changes)["rev"] = Json::Int64(made.rev);
  (*changes)["size"] = Json::Int64(made.size);
  (*changes)["sha256"] = made.sha256;
  return status;
}

// A test restore of the backup `c.file` of `name`, kept with the backup.
SVNStatus TestRestore(const SVNJobCommand& c, const SVNName& name, const SVNProgress& progress,
                      SVNJob* job, std::string* line, Json::Value* changes) {
  std::optional<SVNNewRepo> settings;
  STATUS_TRY(ReadRestoreSettings("", name, &settings));
  SVNRestoreOptions o;
  o.trusted = IsOurBackup(c.file);
  o.test = true;
  SVNRestoreResult result;
  SVNStatus status = RestoreRepository(c.file, *settings, o, progress, &result);
  SVNBackup backup;
  const bool listed = o.trusted && FindBackup("", Base(c.file), &backup).ok();
  // Damage where no sum reaches (a member's header) still changes the file.
  if (status.ok() && listed && !backup.sha256.empty() && backup.sha256 != result.sha256)
    status = STATUS_ERROR(kFailed, "%s has SHA-256 %s, recorded %s.", c.file.c_str(),
                          result.sha256.c_str(), backup.sha256.c_str())
                 .Reason("The file is damaged: it is no longer the one made (its SHA-256 "
                         "differs from the one recorded then).");
  if (listed) {
    backup.tested.time = IsoTime(time(nullptr));
    backup.tested.ok = status.ok();
    backup.tested.rev = result.rev;
    backup.tested.error = status.reason();
    WriteBackupInfo(backup).Log();
  }
  job->file = Base(c.file);
  (*changes)["file"] = job->file;
  (*changes)["rev"] = Json::Int64(result.rev);
  if (result.rev >= 0) job->rev = result.rev;
  if (status.ok())
    *line = "test-restored " + c.file + " to revision " + std::to_string(result.rev) +
            ", no problems found";
  return status;
}

SVNStatus Restore(const SVNJobCommand& c, const SVNName& name, const SVNProgress& progress,
                  SVNJob* job, std::string* line, Json::Value* changes, std::string* leftover) {
  std::optional<SVNNewRepo> settings;
  STATUS_TRY(ReadRestoreSettings(c.settings, name, &settings));
  SVNRestoreOptions o;
  o.trusted = IsOurBackup(c.file);
  o.replace = c.replace;
  o.newUuid = c.newUuid;
  SVNRestoreResult result;
  SVNStatus status = RestoreRepository(c.file, *settings, o, progress, &result);
  (*changes)["file"] = c.source.empty() ? Base(c.file) : c.source;
  (*changes)["size"] = Json::Int64(result.size);
  (*changes)["sha256"] = result.sha256;
  if (c.replace) (*changes)["replaced"] = true;
  *leftover = result.replaced;
  if (!status.ok()) return status;
  if (result.replacedRev >= 0) (*changes)["replaced_rev"] = Json::Int64(result.replacedRev);
  (*changes)["uuid"] = result.uuid;
  (*changes)["rev"] = Json::Int64(result.rev);
  job->rev = result.rev;
  if (!result.created.empty()) (*changes)["created"] = Strings(result.created);
  if (!result.leftOut.empty()) (*changes)["left_out"] = Strings(result.leftOut);
  std::string notes;
  if (!result.leftOut.empty()) {
    std::string names;
    for (const std::string& h : result.leftOut) names += (names.empty() ? "" : ", ") + h;
    notes = "Hooks made by hand were left out (nothing that runs is taken from a file that is "
            "not a backup of this server's): " + names + ".";
  }
  for (const std::string& made : result.created)
    notes += (notes.empty() ? "" : " ") + std::string("Made ") + made + ".";
  if (result.replacedRev >= 0)
    notes += (notes.empty() ? "" : " ") + std::string("Replaced the repository at revision ") +
             std::to_string(result.replacedRev) + ".";
  job->notes = notes;
  *line = "restored revision " + std::to_string(result.rev) + " from " + c.file;
  return status;
}

}  // namespace

SVNStatus RunTask(const SVNJobCommand& c, const SVNName& name, const SVNProgress& progress,
                  SVNJob* job, std::string* line, Json::Value* changes,
                  std::string* leftover) {
  (*changes)["job"] = job->id;
  (*changes)["kind"] = job->kind;
  if (c.command == "backup") return Backup(c, name, progress, job, line, changes);
  if (c.command == "restore") return Restore(c, name, progress, job, line, changes, leftover);
  if (!c.file.empty()) return TestRestore(c, name, progress, job, line, changes);
  long rev = 0;
  SVNStatus status = VerifyRepository(name, progress, &rev);
  (*changes)["rev"] = Json::Int64(rev);
  if (status.ok()) job->rev = rev;
  *line = "verified to revision " + std::to_string(rev) + ", no problems found";
  return status;
}

namespace {

void Record(const SVNJob& job, const char* action, const char* outcome, Json::Value changes) {
  Json::Value r(Json::objectValue);
  r["time"] = IsoTime(time(nullptr));
  r["user"] = job.user;
  r["addr"] = job.addr;
  r["action"] = action;
  r["name"] = job.name;
  r["outcome"] = outcome;
  r["changes"] = std::move(changes);
  SVNStatus status = AuditAppend(std::move(r));
  if (status.ok()) return;
  STATUS_WITH(status, "The audit record of job %s (%s) was not written.", job.id.c_str(), action);
  status.Log();
}

}  // namespace

void RecordJobStart(const SVNJob& job) {
  Json::Value changes(Json::objectValue);
  changes["job"] = job.id;
  Record(job, job.kind.c_str(), "done", changes);
}

void RecordJobEnd(const SVNJob& job, Json::Value changes) {
  if (!job.error.empty()) changes["error"] = job.error;
  Record(job, "job_end", job.state.c_str(), std::move(changes));
}
