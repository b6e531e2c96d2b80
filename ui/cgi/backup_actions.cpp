// backup_actions.cpp: the actions on backups and jobs ("backup",
// "backups", "backup_get", "backup_remove", "restore", "verify", "jobs",
// "job_cancel").
//
// The work itself runs in svn-admin, started detached (see jobs.h): it
// takes longer than a web server lets a request run, and only svn-admin
// links the archive library.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "jobs/jobs.h"
#include "nlibc.h"
#include "store/backups.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"
#include "store/setting_table.h"
#include "store/txns.h"
#include "ui/cgi/actions.h"
#include "ui/cgi/upload.h"

#define LOG_MODULE "ui"

namespace {

// "keep": absent, or a number of backups from 1.
bool ParseKeep(const std::string& text, int* keep) {
  *keep = 0;
  if (text.empty()) return true;
  if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *keep = atoi(text.c_str());
  return *keep >= 1;
}

// The backup `file` of `name`, both given.
SVNStatus FindGiven(const std::string& name, const std::string& file, SVNBackup* backup) {
  return name.empty() ? STATUS_ERROR(kNotFound, "No repository named.")
                      : FindBackup(name, file, backup);
}

// A job of svn-admin asked for by this request.
SVNStatus Start(SVNRequest& req, const char* kind, const SVNName& name,
                const std::vector<std::string>& args, int kept, SVNJob* job) {
  job->user = req.Env("REMOTE_USER");
  job->addr = req.Env("REMOTE_ADDR");
  return StartJob(Package().adminProgram, kind, name, args, kept, job);
}

}  // namespace

SVNReply BackupAction(SVNRequest& req) {
  const std::string text = req.In("name");
  const std::string kind = req.In("kind", "hotcopy");
  int keep = 0;
  if (!ParseKeep(req.In("keep"), &keep) || (kind != "hotcopy" && kind != "dump"))
    return REPLY_ERROR(kFailed, "Invalid argument");
  SVNName name;
  REPLY_TRY(FindRepo(text, HERE, &name));
  std::vector<std::string> args{"backup", "--kind", kind};
  if (keep > 0) args.insert(args.end(), {"--keep", std::to_string(keep)});
  args.insert(args.end(), {"--", name});
  SVNJob job;
  SVNStatus status = Start(req, "backup", name, args, -1, &job);
  return SVNReply::Started(std::move(status), job.id, __LINE__);
}

SVNReply VerifyAction(SVNRequest& req) {
  const std::string file = req.In("file");
  SVNName name;
  REPLY_TRY(FindRepo(req.In("name"), HERE, &name));
  std::vector<std::string> args{"verify"};
  // A test restore of one of its backups.
  SVNBackup backup;
  if (!file.empty()) {
    req.changes().set("file", file);
    REPLY_TRY(FindBackup(name, file, &backup));
    args.insert(args.end(), {"--file", backup.path});
  }
  args.insert(args.end(), {"--", name});
  SVNJob job;
  SVNStatus status = Start(req, "verify", name, args, -1, &job);
  return SVNReply::Started(std::move(status), job.id, __LINE__);
}

SVNReply BackupsAction(SVNRequest& req) {
  const std::string name = req.In("name");
  if (!name.empty() && !IsValidName(name)) return REPLY_ERROR(kFailed, "Invalid argument");
  std::vector<SVNBackup> backups;
  REPLY_TRY(ListBackups(name, &backups));
  Json::Value data(Json::arrayValue);
  for (const SVNBackup& b : backups) {
    Json::Value item;
    item["name"] = b.name;
    item["file"] = b.file;
    item["size"] = Json::Int64(b.size);
    item["time"] = b.time;
    item["rev"] = Json::Int64(b.rev);
    item["kind"] = b.kind.empty() ? Json::Value() : Json::Value(b.kind);
    item["sha256"] = b.sha256.empty() ? Json::Value() : Json::Value(b.sha256);
    item["tested"] = TestedJson(b.tested);
    data.append(item);
  }
  return SVNReply::Data(data);
}

SVNReply BackupGetAction(SVNRequest& req) {
  SVNBackup backup;
  req.changes().set("file", req.In("file"));
  REPLY_TRY(FindGiven(req.In("name"), req.In("file"), &backup));
  int fd = open(backup.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SVNStatus status =
        STATUS_ERROR(kNotFound, "Open %s failed: %s", backup.path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return SVNReply::Fail(std::move(status), __LINE__);
  }
  if (!req.web().SendFile(fd, static_cast<unsigned long long>(st.st_size), "application/gzip",
                          backup.file))
    LOG_LINE("Send %s failed: the client went away.", backup.path.c_str());
  close(fd);
  return SVNReply::Data(Json::Value());  // answered already: not written
}

SVNReply BackupRemoveAction(SVNRequest& req) {
  const std::string file = req.In("file");
  if (!file.empty()) req.changes().set("file", file);
  SVNBackup backup;
  REPLY_TRY(FindGiven(req.In("name"), file, &backup));
  REPLY_TRY(RemoveBackup(backup));
  return SVNReply::Data(Json::Value());
}

namespace {

// The settings of a repository made from a plain dump ("realm", "anon",
// "accounts"), checked now as "add" checks them, and handed to the job in
// a file of the upload's item (accounts hold passwords: never in a
// command line); none when the request gives none.
SVNStatus PlainDumpSettings(SVNRequest& req, const SVNName& name,
                            std::vector<std::string>* args) {
  SVNNewRepo::Form form;
  form.name = name;
  form.realm = req.In("realm");
  form.anon = req.In("anon");
  const std::string accountText = req.In("accounts");
  if (form.realm.empty() && form.anon.empty() && accountText.empty()) return SVNStatus();
  if (!form.anon.empty() && !SettingTakes(kAnonAccess, form.anon))
    return STATUS_ERROR(kFailed, "Unknown permission.");
  if (!accountText.empty()) STATUS_TRY(ParseAccounts(accountText, HERE, &form.accounts));
  if (form.anon.empty()) form.anon = "none";
  std::optional<SVNNewRepo> what;
  STATUS_TRY_WITH(SVNNewRepo::Check(form, &what), "Settings of the restore refused.");
  Json::Value settings;
  settings["realm"] = what->realm;
  settings["anon"] = what->anon;
  settings["accounts"] = Json::Value(Json::arrayValue);
  for (const auto& a : what->accounts) {
    Json::Value item;
    item["account"] = a.first;
    item["password"] = a.second;
    settings["accounts"].append(item);
  }
  SVNUpload& upload = req.upload();
  STATUS_TRY(upload.spool("restore"));
  STATUS_TRY(WritePrivateFile(upload.item().path() + "/settings.json",
                              settings.toStyledString(), false));
  args->insert(args->end(), {"--settings", upload.item().path() + "/settings.json"});
  return SVNStatus();
}

}  // namespace

namespace {

// What a restore of an existing name needs: consent to replace it
// ("replace=yes"), no job on it and no commit in progress (the job checks
// again); what restore of a new one needs: the name free.
SVNStatus CheckTarget(SVNRequest& req, const SVNName& name) {
  const bool replace = req.In("replace") == "yes";
  if (!replace && RepoExists(name))
    return STATUS_ERROR(kExists, "Repository %s is exist", Printable(name).c_str());
  if (replace && !RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str());
  if (replace) STATUS_TRY(CheckNoLiveCommit(name));
  if (replace) req.changes().set("replaced", true);
  return SVNStatus();
}

}  // namespace

SVNReply RestoreAction(SVNRequest& req) {
  SVNUpload& upload = req.upload();
  const std::string text = req.In("name");
  const std::string file = req.In("file");
  const std::string uuid = req.In("uuid");
  const std::optional<SVNName> name = SVNName::Of(text);
  if (!name || file.empty() == !upload.started() || (!uuid.empty() && uuid != "new") ||
      (!req.In("replace").empty() && req.In("replace") != "yes"))
    return REPLY_ERROR(kFailed, "Invalid argument");
  REPLY_TRY(CheckTarget(req, *name));
  if (!file.empty()) req.changes().set("file", file);
  if (upload.started()) req.changes().set("upload", upload.filename());
  SVNBackup backup;
  if (!file.empty()) REPLY_TRY(FindBackup("", file, &backup));
  if (upload.started()) REPLY_TRY(upload.received());
  std::vector<std::string> args{"restore"};
  if (req.In("replace") == "yes") args.push_back("--replace");
  if (uuid == "new") args.push_back("--new-uuid");
  if (upload.started() && !upload.filename().empty())
    args.insert(args.end(), {"--source", upload.filename()});
  REPLY_TRY(PlainDumpSettings(req, *name, &args));
  const bool spooled = !upload.item().path().empty();
  if (spooled) args.insert(args.end(), {"--spool", upload.item().path()});
  args.insert(args.end(), {"--", upload.started() ? upload.file() : backup.path, *name});
  SVNJob job;
  SVNStatus status = Start(req, "restore", *name, args, spooled ? upload.item().fd() : -1, &job);
  if (status.ok() && spooled) upload.adopt();
  return SVNReply::Started(std::move(status), job.id, __LINE__);
}

SVNReply JobsAction(SVNRequest& req) {
  const std::string name = req.In("name");
  const std::string id = req.In("id");
  if (!id.empty() && !IsJobId(id)) return REPLY_ERROR(kFailed, "Invalid argument");
  Json::Value data(Json::arrayValue);
  for (const SVNJob& job : ListJobs(name, id)) data.append(JobJson(job));
  return SVNReply::Data(data);
}

SVNReply JobCancelAction(SVNRequest& req) {
  const std::string id = req.In("id");
  if (!IsJobId(id)) return REPLY_ERROR(kFailed, "Invalid argument");
  req.changes().set("job", id);
  SVNJob job;
  if (ReadJob(id, &job).ok()) req.changes().setRepository(job.name);
  REPLY_TRY(CancelJob(id, 10000, &job));
  return SVNReply::Data(JobJson(job));
}
