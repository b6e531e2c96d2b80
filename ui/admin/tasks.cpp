// tasks.cpp: backing up, verifying and restoring one repository.

#include "ui/admin/tasks.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <memory>

#include "nlibc.h"
#include "store/backups.h"
#include "store/create.h"
#include "store/facts.h"
#include "store/json_text.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/rename.h"
#include "store/repo.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/setting_table.h"
#include "store/work_dir.h"
#include "ui/admin/backup_file.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

#ifndef SVN_ADMIN_VERSION
#define SVN_ADMIN_VERSION "1.0"
#endif

namespace {

const char kCancelled[] = "The job was cancelled.";

// The settings that name files: each must name one in conf/.
const char* const kFileSettings[] = {"password-db", "authz-db", "groups-db", "hooks-env"};

// A failure of a task asked to stop says so.
SVNStatus Cancelled(SVNStatus status) {
  if (gCancelled) status.Reason(kCancelled);
  return status;
}

// A conf file of the repository, whole (links followed: the repository's
// own file may be one).
bool ReadConfFile(const std::string& path, std::string* text) {
  return ReadSmallFile(path, kMaxConfFile, false, text);
}

// The files the settings at `settings` name, as plain names in conf/:
// the others (outside conf/, or no file) are in *outside, as "key =
// value".
void NamedFiles(PNLIBCONF settings, std::vector<std::string>* inside,
                std::vector<std::string>* outside) {
  for (const char* key : kFileSettings) {
    const char* value = NLIBCConfGet(settings, "general", key);
    if (value == nullptr) continue;
    std::string file = CanonicalPath(value);
    if (file.empty() || file == ".." || file.find('/') != std::string::npos)
      outside->push_back(std::string(key) + " = " + value);
    else
      inside->push_back(file);
  }
}

// "* Dumped revision 12." -> 12; -1 for any other line.
long Revision(const std::string& line, const char* prefix) {
  size_t n = strlen(prefix);
  if (line.compare(0, n, prefix) != 0) return -1;
  char* end = nullptr;
  long rev = strtol(line.c_str() + n, &end, 10);
  return end != line.c_str() + n && rev >= 0 ? rev : -1;
}

// Loads the dump `reader` gives into the repository at `dir` (no flush
// on each revision: the whole is synced before it appears), checks that
// the archive ends with it, and syncs.
SVNStatus LoadDump(SVNBackupReader* reader, const std::string& dir, long long total,
                   const SVNProgress& progress) {
  SVNToolStreams streams;
  streams.input = [reader](char* buf, size_t size) { return reader->readDump(buf, size); };
  streams.outputLine = [&](const std::string& line) {
    long rev = Revision(line, "------- Committed revision ");
    if (rev >= 0 && progress) progress(rev, total);
  };
  SVNStatus status = RunTool({"load", "--force-uuid", "--no-flush-to-disk", dir}, streams);
  if (!reader->error().ok()) return reader->error();
  if (!status.ok()) return Cancelled(status);
  STATUS_TRY(reader->finish());
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool synced = fd >= 0 && syncfs(fd) == 0;
  int err = errno;
  if (fd >= 0) close(fd);
  if (!synced) return STATUS_ERROR(kFailed, "Sync %s failed: %s", dir.c_str(), strerror(err));
  return SVNStatus();
}

// Writes a backup's conf files into the new repository at `dir` and
// checks them as "edit" would: the settings name no file outside conf/,
// the archive holds no conf file they do not name, the accounts and rules
// read as this program and svnserve read them.
SVNStatus PutConf(const SVNBackupReader& reader, const SVNName& name, const std::string& dir) {
  const std::string& from = reader.manifest().name;
  const auto& files = reader.conf();
  std::vector<std::string> inside, outside;
  // The settings first, to know what else may come.
  const std::string settingsPath = dir + "/conf/svnserve.conf";
  STATUS_TRY(WritePrivateFile(settingsPath, files[0].second, false));
  SVNStatus status;
  SVNConfFile conf(NLIBCConfOpen(settingsPath.c_str(), 0));
  if (conf.p == nullptr)
    return STATUS_ERROR(kFailed, "The settings of the backup cannot be read.[0x%04X]",
                        NLIBCErrGet())
        .Reason("The backup's settings file is not one svnserve reads.");
  NamedFiles(conf.p, &inside, &outside);
  if (!outside.empty()) {
    std::string shown = outside[0];
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return STATUS_ERROR(kFailed, "The backup's settings name %s.", shown.c_str())
        .Reason("The backup's settings name a file outside the repository's conf folder (" +
                shown + "): nothing was restored.");
  }
  for (size_t i = 1; i < files.size(); ++i) {
    const std::string& file = files[i].first;
    bool named = false;
    for (const std::string& n : inside) named = named || n == file;
    if (!named || file == "svnserve.conf")
      return STATUS_ERROR(kFailed, "The backup holds conf/%s, which its settings do not use.",
                          file.c_str())
          .Reason("The backup holds a file its settings do not use (conf/" + file +
                  "): nothing was restored.");
    STATUS_TRY(WritePrivateFile(dir + "/conf/" + file, files[i].second, false));
  }
  // Rules that name the repository backed up name it under its new name.
  const std::string rulesFile = CanonicalPath(SettingIn(conf.p, kAuthzDb).value_or(""));
  if (!rulesFile.empty() && access((dir + "/conf/" + rulesFile).c_str(), F_OK) == 0 &&
      !(status = RenameRulesSections(dir + "/conf/" + rulesFile, from, name)).ok())
    return status.Reason(status.code() == SVNStatus::kHandmade
                             ? status.reason() + " Nothing was restored."
                             : "The backup's access rules cannot be moved to the new name.");
  // As "add" leaves them: readable by svnserve's group, by no one else.
  for (const auto& f : files) {
    if (chmod((dir + "/conf/" + f.first).c_str(), 0640) != 0)
      return STATUS_ERROR(kFailed, "chmod %s failed: %s", f.first.c_str(), strerror(errno));
  }
  std::unique_ptr<SVNRepo> repo;
  std::unique_ptr<SVNRules> rules;
  SVNAccounts checked;
  SVNAccountList list;
  if ((status = SVNRepo::open(name, SVNRepo::kAccounts, &repo, dir)).ok()) {
    for (const auto& a : repo->getAccounts()) list.emplace_back(a.first, a.second);
    if ((status = CheckAccounts(list, &checked)).ok()) status = SVNRules::Open(*repo, &rules);
    // Rules svnserve refuses would refuse every connection.
    if (status.ok() && rules->refused())
      status = STATUS_ERROR(kFailed, "The rules of the backup of %s are not valid: %s",
                            name.c_str(), rules->reason().c_str());
  }
  if (!status.ok())
    status.Reason("The backup's settings, accounts or access rules are not ones this "
                  "program accepts: nothing was restored.");
  return status;
}

// The UUID the manifest of the backup at `path` names; empty when it
// cannot be read.
std::string BackupUuid(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  SVNBackupReader reader;
  std::string uuid;
  if (reader.open(fd).ok() && !reader.plain()) uuid = reader.manifest().uuid;
  close(fd);
  return uuid;
}

}  // namespace

// ---- Backup ----

namespace {

using ConfFiles = std::vector<std::pair<std::string, std::string>>;

// The conf files of the repository at `path` that serving it needs and
// that live in its conf/: the settings first.
SVNStatus ConfFilesOf(const std::string& path, ConfFiles* conf) {
  std::string text;
  if (!ReadConfFile(path + "/conf/svnserve.conf", &text))
    return STATUS_ERROR(kFailed, "Read the settings of %s failed.", path.c_str())
        .Reason("The repository's settings cannot be read.");
  conf->emplace_back("svnserve.conf", text);
  SVNConfFile settings(NLIBCConfOpen((path + "/conf/svnserve.conf").c_str(), 0));
  std::vector<std::string> inside, outside;
  if (settings.p != nullptr) NamedFiles(settings.p, &inside, &outside);
  const std::string confDir = RealLocation(path + "/conf");
  for (const std::string& f : inside) {
    bool twice = false;
    for (const auto& c : *conf) twice = twice || c.first == f;
    const std::string real = RealLocation(path + "/conf/" + f);
    if (twice || confDir.empty() || real.compare(0, confDir.size() + 1, confDir + "/") != 0 ||
        !ReadConfFile(path + "/conf/" + f, &text))
      continue;  // missing, or elsewhere: not the repository's own
    conf->emplace_back(f, text);
  }
  return SVNStatus();
}

// A temporary file in `dir` for a backup (*temp, *fd: locked while it is
// written, so that it is no leftover), and the name no backup of `name`
// has that it is to take (*final): two backups of one revision within a
// second wait for the next.
SVNStatus NewBackupFile(const std::string& dir, const SVNName& name, long rev, time_t* now,
                        std::string* final, std::string* temp, int* fd) {
  for (int i = 0; i < 3; ++i, sleep(1), *now = time(nullptr)) {
    *final = BackupFileName(name, *now, rev);
    if (access((dir + "/" + *final).c_str(), F_OK) != 0) break;
  }
  *temp = dir + "/.part-XXXXXX";
  *fd = mkostemp(&(*temp)[0], O_CLOEXEC);
  if (*fd < 0)
    return STATUS_ERROR(kFailed, "Make a file in %s failed: %s", dir.c_str(), strerror(errno))
        .Reason("No file can be made in the backup directory.");
  flock(*fd, LOCK_EX);
  return SVNStatus();
}

// Writes the backup of the repository at `path` to `fd`: the manifest,
// the conf files, and the history as `svnadmin dump --deltas` gives it.
SVNStatus WriteBackup(int fd, const SVNManifest& manifest, const ConfFiles& conf,
                      const std::string& path, time_t now, const SVNProgress& progress) {
  SVNBackupWriter writer(fd);
  STATUS_TRY(writer.addFile("manifest.json", manifest.json(), now));
  for (const auto& c : conf) STATUS_TRY(writer.addFile("conf/" + c.first, c.second, now));
  STATUS_TRY(writer.beginDump(manifest.name + ".svndump", now));
  SVNStatus status;
  SVNToolStreams streams;
  streams.output = [&](const char* data, size_t size) {
    status = writer.dumpData(data, size);
    return status.ok();
  };
  streams.errorLine = [&](const std::string& line) {
    long done = Revision(line, "* Dumped revision ");
    if (done >= 0 && progress) progress(done, manifest.rev);
  };
  SVNStatus ran =
      RunTool({"dump", "--deltas", "-r", "0:" + std::to_string(manifest.rev), path}, streams);
  STATUS_TRY(status);
  STATUS_TRY(Cancelled(ran));
  STATUS_TRY(writer.finish());
  if (fsync(fd) != 0) return STATUS_ERROR(kFailed, "Sync a backup failed: %s", strerror(errno));
  if (gCancelled) return STATUS_ERROR(kFailed, "Cancelled.").Reason(kCancelled);
  return SVNStatus();
}

// Removes the backups of `name` past its newest `keep`.  Only this
// repository's own backups count (`uuid`): those of a repository removed
// before it took the name are not its to remove.
void KeepNewest(const SVNName& name, const std::string& uuid, int keep) {
  std::vector<SVNBackup> all;
  ListBackups(name, &all).Log();
  size_t own = 0;
  for (const SVNBackup& b : all)
    if (BackupUuid(b.path) == uuid && ++own > static_cast<size_t>(keep)) RemoveBackup(b).Log();
}

}  // namespace

SVNStatus BackupRepository(const SVNName& name, int keep, const SVNProgress& progress,
                           std::string* file, long* rev) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kSettings, &repo);
  if (!status.ok()) return status.Reason("The repository's settings cannot be read.");
  const std::string path = repo->getPath();
  SVNHistory history;
  if (!(status = ReadHistory(path, &history)).ok())
    return status.Reason("The repository's history cannot be read.");
  ConfFiles conf;
  STATUS_TRY(ConfFilesOf(path, &conf));
  std::string dir, final, temp;
  STATUS_TRY(BackupDirOf(name, true, &dir));
  RemoveStaleTemporaries(dir);
  time_t now = time(nullptr);
  int fd = -1;
  STATUS_TRY(NewBackupFile(dir, name, history.rev, &now, &final, &temp, &fd));
  SVNManifest manifest;
  manifest.name = name;
  manifest.uuid = history.uuid;
  manifest.rev = history.rev;
  manifest.time = IsoTime(now);
  manifest.version = "svn-admin " SVN_ADMIN_VERSION;
  status = WriteBackup(fd, manifest, conf, path, now, progress);
  if (status.ok() && !(status = MoveNoReplace(temp, dir + "/" + final)).ok())
    STATUS_WITH(status, "Name the backup of %s failed.", name.c_str());
  if (!status.ok()) unlink(temp.c_str());
  close(fd);
  if (!status.ok()) {
    if (status.reason().empty()) status.Reason("The backup could not be written.");
    return status;
  }
  SyncDir(dir).Log();
  *file = final;
  *rev = history.rev;
  if (progress) progress(history.rev, history.rev);
  if (keep > 0) KeepNewest(name, history.uuid, keep);
  return SVNStatus();
}

// ---- Verify ----

SVNStatus VerifyRepository(const SVNName& name, const SVNProgress& progress, long* rev) {
  if (!RepoExists(name))
    return STATUS_ERROR(kNotFound, "Repository %s is not exist", name.c_str())
        .Reason("There is no such repository.");
  const std::string path = RepoPath(name);
  const long youngest = ReadRevision(path);
  SVNToolStreams streams;
  streams.outputLine = [&](const std::string& line) {
    long done = Revision(line, "* Verified revision ");
    if (done >= 0 && progress) progress(done, youngest);
  };
  SVNStatus status = RunTool({"verify", path}, streams);
  if (gCancelled) return Cancelled(status.ok() ? STATUS_ERROR(kFailed, "Cancelled.") : status);
  SVNStatus recorded = WriteVerified(path, time(nullptr), status.ok());
  if (!status.ok()) {
    std::string said = status.reason();
    return status.Reason(said.empty() ? "Verifying found problems."
                                      : "Verifying found problems: " + said);
  }
  if (!recorded.ok()) return recorded.Reason("The outcome could not be recorded.");
  *rev = youngest;
  return SVNStatus();
}

// ---- Restore ----

SVNStatus ReadRestoreSettings(const std::string& path, const SVNName& name,
                              std::optional<SVNNewRepo>* settings) {
  SVNNewRepo::Form form;
  form.name = name;
  form.anon = "none";
  std::string text;
  Json::Value json;
  unsigned line = 0, column = 0;
  SVNStatus status;
  if (!path.empty() && !ReadSmallFile(path, 1 << 20, false, &text))
    return STATUS_ERROR(kFailed, "Read %s failed.", path.c_str())
        .Reason("The settings file cannot be read.");
  if (!path.empty() && (!ParseJson(text, &json, &line, &column) || !json.isObject()))
    return STATUS_ERROR(kFailed, "%s is not a JSON object (line %u, column %u).", path.c_str(),
                        line, column)
        .Reason("The settings file is not a JSON object.");
  if (json.isMember("realm") && !json["realm"].isString())
    return STATUS_ERROR(kFailed, "realm is not a text.").Reason("The realm is not a text.");
  form.realm = json["realm"].asString();
  if (json.isMember("anon")) {
    if (!json["anon"].isString() || !SettingTakes(kAnonAccess, json["anon"].asString()))
      return STATUS_ERROR(kFailed, "Unknown permission.")
          .Reason("Anonymous access is read, write or none.");
    form.anon = json["anon"].asString();
  }
  if (json.isMember("accounts") && !(status = DecodeAccounts(json["accounts"], &form.accounts)).ok())
    return status.Reason("The accounts are not ones a repository can have.");
  if (!(status = SVNNewRepo::Check(form, settings)).ok())
    return status.Reason("The realm or the accounts are not ones a repository can have.");
  return SVNStatus();
}

namespace {

// Builds, at `dir`, the repository `name` from the backup `reader` read.
SVNStatus BuildFromBackup(SVNBackupReader* reader, const SVNName& name, const std::string& dir,
                          const SVNProgress& progress) {
  const SVNManifest& m = reader->manifest();
  if (NLIBCExec(Package().adminTool.c_str(), "create", dir.c_str(), nullptr, nullptr) < 0)
    return STATUS_ERROR(kFailed, "Execute command [%s create %s] failed.[0x%04X]",
                        Package().adminTool.c_str(), dir.c_str(), NLIBCErrGet());
  STATUS_TRY(PutConf(*reader, name, dir));
  STATUS_TRY(LoadDump(reader, dir, m.rev, progress));
  SVNHistory loaded;
  STATUS_TRY(ReadHistory(dir, &loaded));
  if (loaded.uuid != m.uuid || loaded.rev != m.rev)
    return STATUS_ERROR(kFailed, "Restored %s has UUID %s, revision %ld; the manifest says %s, "
                        "%ld.", name.c_str(), loaded.uuid.c_str(), loaded.rev, m.uuid.c_str(),
                        m.rev)
        .Reason("The history in the file is not the one its manifest describes: it is "
                "damaged.");
  return SVNStatus();
}

// A builder that is asked to stop before its repository appears fails.
SVNStatus UnlessCancelled(SVNStatus status) {
  if (status.ok() && gCancelled) return STATUS_ERROR(kFailed, "Cancelled.");
  return status;
}

}  // namespace

SVNStatus RestoreRepository(const std::string& source, const SVNNewRepo& settings,
                            const SVNProgress& progress, long* rev) {
  const SVNName& name = settings.name;
  if (RepoExists(name))
    return STATUS_ERROR(kExists, "Repository %s is exist", name.c_str())
        .Reason("A repository of that name exists.");
  int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return STATUS_ERROR(kFailed, "Open %s failed: %s", source.c_str(), strerror(errno))
        .Reason("The file to restore from cannot be read.");
  SVNBackupReader reader;
  SVNStatus status = reader.open(fd);
  if (status.ok() && reader.plain()) {
    // As "add" makes one, with the dump's history loaded first.
    status = CreateRepo(settings, [&](const std::string& dir) {
      return UnlessCancelled(LoadDump(&reader, dir, -1, progress));
    });
  } else if (status.ok()) {
    status = MakeRepository(name, "restore", [&](const std::string& dir) {
      return UnlessCancelled(BuildFromBackup(&reader, name, dir, progress));
    });
  }
  close(fd);
  if (status.code() == SVNStatus::kExists) status.Reason("A repository of that name exists.");
  if (!status.ok()) {
    status = Cancelled(std::move(status));
    if (status.reason().empty()) status.Reason("The repository could not be restored.");
    return status;
  }
  *rev = ReadRevision(RepoPath(name));
  if (progress) progress(*rev, *rev);
  return SVNStatus();
}
