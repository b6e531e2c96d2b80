// backup_actions.cpp: the actions on backups and jobs ("backup",
// "backups", "backup_get", "backup_remove", "restore", "verify", "jobs",
// "job_cancel"), and the upload of a file to restore.
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
#include "store/json_text.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"
#include "store/setting_table.h"
#include "store/work_dir.h"
#include "ui/cgi/handler.h"

#define LOG_MODULE "ui"

namespace {

// The file part "upload" of a restore, written into an item of the
// working directory as it arrives (on the root's file system, where the
// repository is made from it), and handed to the job with the item's
// lock.  Deleted when the request ends unless a job took it.
class RestoreUpload : public UploadSink {
 public:
  ~RestoreUpload() override {
    if (fd_ >= 0) close(fd_);
    if (!adopted_) item_.discard();
  }

  bool Begin(const std::string& field, WebMan& web) override {
    if (field != "upload" || started_ || web.In("action", "") != "restore") return false;
    started_ = true;
    if ((status_ = spool()).ok()) {
      fd_ = open(file().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd_ < 0)
        status_ = STATUS_ERROR(kFailed, "Make %s failed: %s", file().c_str(), strerror(errno));
    }
    return true;  // read on even when it cannot be kept: the answer says so
  }

  void Data(const char* data, size_t size) override {
    while (fd_ >= 0 && size > 0) {
      ssize_t n = write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        status_ = STATUS_ERROR(kFailed, "Write %s failed: %s", file().c_str(), strerror(errno));
        close(fd_);
        fd_ = -1;
        unlink(file().c_str());  // no full disk for the rest of the upload
        return;
      }
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  void End(bool complete) override {
    complete_ = complete;
    if (fd_ >= 0 && close(fd_) != 0 && status_.ok())
      status_ = STATUS_ERROR(kFailed, "Write %s failed: %s", file().c_str(), strerror(errno));
    fd_ = -1;
  }

  // The item the job gets (made on first use).
  SVNStatus spool() {
    if (item_.path().empty()) return item_.create("restore");
    return SVNStatus();
  }
  bool started() const { return started_; }
  // Whether the whole upload is kept.
  SVNStatus received() {
    if (!status_.ok()) return std::move(status_);
    if (!complete_) return STATUS_ERROR(kFailed, "The upload ended early.");
    return SVNStatus();
  }
  std::string file() const { return item_.path() + "/upload"; }
  const SVNWorkItem& item() const { return item_; }
  void adopt() { adopted_ = true; }

 private:
  SVNWorkItem item_;
  SVNStatus status_;
  int fd_ = -1;
  bool started_ = false, complete_ = false, adopted_ = false;
};

RestoreUpload* Upload() {
  static RestoreUpload upload;
  return &upload;
}

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

// The answer to a request that starts a job; its record names the job.
SVNReply Started(SVNStatus status, const SVNJob& job, int line, SVNChanges* changes) {
  if (!status.ok()) return SVNReply::Fail(std::move(status), line);
  changes->set("job", job.id);
  Json::Value data;
  data["job"] = job.id;
  return SVNReply::Data(data);
}

}  // namespace

UploadSink* RestoreUploads() { return Upload(); }

SVNReply SVNHandler::HandleBackupAction() {
  const std::string name = webMan.In("name", "");
  int keep = 0;
  if (!ParseKeep(webMan.In("keep", ""), &keep))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  std::vector<std::string> args{"backup"};
  if (keep > 0) args.insert(args.end(), {"--keep", std::to_string(keep)});
  args.insert(args.end(), {"--", name});
  SVNJob job;
  SVNStatus status = StartJob(Package().adminProgram, "backup", name, args, -1, &job);
  return Started(std::move(status), job, __LINE__, &changes_);
}

SVNReply SVNHandler::HandleVerifyAction() {
  const std::string name = webMan.In("name", "");
  if (!RepoExists(name))
    return SVNReply::Fail(
        STATUS_ERROR(kNotFound, "Repository %s is not exist", Printable(name).c_str()), __LINE__);
  SVNJob job;
  SVNStatus status =
      StartJob(Package().adminProgram, "verify", name, {"verify", "--", name}, -1, &job);
  return Started(std::move(status), job, __LINE__, &changes_);
}

SVNReply SVNHandler::HandleBackupsAction() {
  const std::string name = webMan.In("name", "");
  if (!name.empty() && !IsValidName(name))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  std::vector<SVNBackup> backups;
  SVNStatus status = ListBackups(name, &backups);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  Json::Value data(Json::arrayValue);
  for (const SVNBackup& b : backups) {
    Json::Value item;
    item["name"] = b.name;
    item["file"] = b.file;
    item["size"] = Json::Int64(b.size);
    item["time"] = b.time;
    item["rev"] = Json::Int64(b.rev);
    data.append(item);
  }
  return SVNReply::Data(data);
}

SVNReply SVNHandler::HandleBackupGetAction() {
  SVNBackup backup;
  SVNStatus status = FindGiven(webMan.In("name", ""), webMan.In("file", ""), &backup);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  int fd = open(backup.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    status = STATUS_ERROR(kNotFound, "Open %s failed: %s", backup.path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return SVNReply::Fail(std::move(status), __LINE__);
  }
  if (!webMan.SendFile(fd, static_cast<unsigned long long>(st.st_size), "application/gzip",
                       backup.file))
    LOG_LINE("Send %s failed: the client went away.", backup.path.c_str());
  close(fd);
  return SVNReply::Data(Json::Value());  // answered already: not written
}

SVNReply SVNHandler::HandleBackupRemoveAction() {
  if (!webMan.In("file", "").empty()) changes_.set("file", webMan.In("file", ""));
  SVNBackup backup;
  SVNStatus status = FindGiven(webMan.In("name", ""), webMan.In("file", ""), &backup);
  if (status.ok()) status = RemoveBackup(backup);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  return SVNReply::Data(Json::Value());
}

SVNReply SVNHandler::HandleRestoreAction() {
  RestoreUpload* upload = Upload();
  const std::string name = webMan.In("name", "");
  const std::string file = webMan.In("file", "");
  const std::string realm = webMan.In("realm", "");
  const std::string anon = webMan.In("anon", "");
  const std::string accountText = webMan.In("accounts", "");
  SVNStatus status;
  if (!IsValidName(name) || file.empty() == !upload->started())
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  if (RepoExists(name))
    return SVNReply::Fail(STATUS_ERROR(kExists, "Repository %s is exist", Printable(name).c_str()),
                          __LINE__);
  if (!file.empty()) changes_.set("file", file);
  SVNBackup backup;
  if (!file.empty() && !(status = FindBackup("", file, &backup)).ok())
    return SVNReply::Fail(std::move(status), __LINE__);
  if (upload->started() && !(status = upload->received()).ok())
    return SVNReply::Fail(std::move(status), __LINE__);
  // A plain dump's settings, checked now as "add" checks them, handed to
  // the job in a file of the item (accounts hold passwords: never in a
  // command line).
  std::vector<std::string> args{"restore"};
  if (!realm.empty() || !anon.empty() || !accountText.empty()) {
    Json::Value settings;
    SVNAccountList accounts;
    if (!anon.empty() && !SettingTakes(kAnonAccess, anon))
      return SVNReply::Fail(STATUS_ERROR(kFailed, "Unknown permission."), __LINE__);
    if (!accountText.empty() && !(status = parseAccounts(accountText, &accounts)).ok())
      return SVNReply::Fail(std::move(status), __LINE__);
    SVNAccounts checked;
    if (!(status = CheckAccounts(accounts, &checked)).ok() ||
        (!realm.empty() && NLIBCConfCheckValue("realm", realm.c_str()) < 0))
      return SVNReply::Fail(STATUS_WITH(status, "Settings of the restore refused."), __LINE__);
    settings["realm"] = realm;
    if (!anon.empty()) settings["anon"] = anon;
    settings["accounts"] = Json::Value(Json::arrayValue);
    for (const auto& a : accounts) {
      Json::Value item;
      item["account"] = a.first;
      item["password"] = a.second;
      settings["accounts"].append(item);
    }
    if (!(status = upload->spool()).ok() ||
        !(status = WritePrivateFile(upload->item().path() + "/settings.json",
                                    settings.toStyledString(), false))
             .ok())
      return SVNReply::Fail(std::move(status), __LINE__);
    args.insert(args.end(), {"--settings", upload->item().path() + "/settings.json"});
  }
  const bool spooled = !upload->item().path().empty();
  if (spooled) args.insert(args.end(), {"--spool", upload->item().path()});
  args.insert(args.end(), {"--", upload->started() ? upload->file() : backup.path, name});
  SVNJob job;
  status = StartJob(Package().adminProgram, "restore", name, args,
                    spooled ? upload->item().fd() : -1, &job);
  if (status.ok() && spooled) upload->adopt();
  return Started(std::move(status), job, __LINE__, &changes_);
}

SVNReply SVNHandler::HandleJobsAction() {
  const std::string name = webMan.In("name", "");
  const std::string id = webMan.In("id", "");
  if (!id.empty() && !IsJobId(id))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  Json::Value data(Json::arrayValue);
  for (const SVNJob& job : ListJobs(name, id)) data.append(JobJson(job));
  return SVNReply::Data(data);
}

SVNReply SVNHandler::HandleJobCancelAction() {
  const std::string id = webMan.In("id", "");
  if (!IsJobId(id))
    return SVNReply::Fail(STATUS_ERROR(kFailed, "Invalid argument"), __LINE__);
  changes_.set("job", id);
  SVNJob job;
  if (ReadJob(id, &job).ok()) changes_.setRepository(job.name);
  SVNStatus status = CancelJob(id, 10000, &job);
  if (!status.ok()) return SVNReply::Fail(std::move(status), __LINE__);
  return SVNReply::Data(JobJson(job));
}
