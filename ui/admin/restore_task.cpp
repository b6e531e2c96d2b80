// restore_task.cpp: restoring a repository from a backup or a plain dump,
// built in the working directory and moved in (or over the repository it
// replaces), and test restores.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "nlibc.h"
#include "store/backups.h"
#include "store/create.h"
#include "store/facts.h"
#include "store/hooks.h"
#include "store/json_text.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/root.h"
#include "store/setting_table.h"
#include "ui/admin/backup_file.h"
#include "ui/admin/task_util.h"
#include "ui/admin/tasks.h"
#include "ui/admin/tool.h"

#define LOG_MODULE "svn_job"

namespace {

// One restore: what it reads, what it makes, how far it got.
class Restore {
 public:
  Restore(const SVNNewRepo& settings, const SVNRestoreOptions& o, const SVNProgress& progress,
          SVNRestoreResult* result)
      : settings_(settings), o_(o), progress_(progress), result_(result) {}

  SVNStatus run(int fd);

 private:
  SVNStatus build(const std::string& dir);
  SVNStatus buildDump(const std::string& dir);
  SVNStatus buildCopy(const std::string& dir);
  SVNStatus readConf(const std::string& dir);
  SVNStatus extract(const std::string& dir);
  SVNStatus writeEntry(const std::string& path, const SVNBackupEntry& e);
  SVNStatus loadDump(const std::string& dir);
  SVNStatus finish(const std::string& dir);
  void moved() {
    if (progress_) progress_(reader_.consumed(), total_);
  }

  const SVNNewRepo& settings_;
  const SVNRestoreOptions& o_;
  const SVNProgress& progress_;
  SVNRestoreResult* result_;
  SVNBackupReader reader_;
  long long total_ = -1;
  std::map<std::string, std::string> texts_;  // setup/N
};

SVNStatus Restore::loadDump(const std::string& dir) {
  SVNToolStreams streams;
  streams.input = [this](char* buf, size_t size) {
    const long n = reader_.readData(buf, size);
    moved();
    return n;
  };
  streams.outputLine = [](const std::string&) {};
  SVNStatus status = RunTool({"load", "--force-uuid", "--no-flush-to-disk", "-q", dir}, streams);
  if (!reader_.error().ok()) return reader_.error();
  return Cancelled(status);
}

// The conf files of a dump (the settings first, and only those they use),
// into the new repository at `dir`; and the setup files.  Stops at the
// dump.
SVNStatus Restore::readConf(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> conf;
  for (;;) {
    SVNBackupEntry e;
    bool more = false;
    STATUS_TRY(reader_.next(&e, &more));
    if (!more) return STATUS_ERROR(kFailed, "No dump.").Reason("The backup holds no dump.");
    std::string text;
    if (e.path.compare(0, 5, "conf/") != 0 && e.path.compare(0, 6, "setup/") != 0) break;
    STATUS_TRY(reader_.readAll(kMaxConfFile, &text));
    if (e.path[0] == 's') texts_[e.path] = text;
    else conf.emplace_back(e.path.substr(5), text);
  }
  if (conf.empty()) return STATUS_ERROR(kFailed, "No settings.").Reason("The backup holds no settings file.");
  STATUS_TRY(WritePrivateFile(dir + "/conf/svnserve.conf", conf[0].second, false));
  SVNConfFile settings(NLIBCConfOpen((dir + "/conf/svnserve.conf").c_str(), 0));
  if (settings.p == nullptr)
    return STATUS_ERROR(kFailed, "The settings of the backup cannot be read.[0x%04X]", NLIBCErrGet())
        .Reason("The backup's settings file is not one svnserve reads.");
  if (!o_.trusted) STATUS_TRY(OwnFilesOnly(settings.p, reader_.manifest().setup));
  for (size_t i = 1; i < conf.size(); ++i) {
    const std::string& file = conf[i].first;
    bool named = false;
    for (SVNSettingId id : {kPasswordDb, kAuthzDb, kGroupsDb, kHooksEnv})
      named = named || CanonicalPath(SettingIn(settings.p, id).value_or("")) == file;
    if (!named)
      return STATUS_ERROR(kFailed, "The backup holds conf/%s, which its settings do not use.",
                          file.c_str())
          .Reason("The backup holds a file its settings do not use (conf/" + file +
                  "): nothing was restored.");
    STATUS_TRY(WritePrivateFile(dir + "/conf/" + file, conf[i].second, false));
  }
  // As "add" leaves them: readable by svnserve's group, by no one else.
  for (const auto& c : conf)
    if (chmod((dir + "/conf/" + c.first).c_str(), 0640) != 0)
      return STATUS_ERROR(kFailed, "chmod %s failed: %s", c.first.c_str(), strerror(errno));
  return SVNStatus();
}

SVNStatus Restore::buildDump(const std::string& dir) {
  if (NLIBCExec(Package().adminTool.c_str(), "create", dir.c_str(), nullptr, nullptr) < 0)
    return STATUS_ERROR(kFailed, "Execute command [%s create %s] failed.[0x%04X]",
                        Package().adminTool.c_str(), dir.c_str(), NLIBCErrGet());
  STATUS_TRY(readConf(dir));
  STATUS_TRY(loadDump(dir));
  // The rest of the archive: nothing but its sums, checked.
  for (bool more = true; more;) {
    SVNBackupEntry e;
    STATUS_TRY(reader_.next(&e, &more));
  }
  return finish(dir);
}

SVNStatus Restore::writeEntry(const std::string& path, const SVNBackupEntry& e) {
  if (e.directory) {
    if (mkdir(path.c_str(), (e.mode & 0750) | 0700) == 0) return SVNStatus();
    return STATUS_ERROR(kFailed, "Make %s failed: %s", path.c_str(), strerror(errno))
        .Reason("The backup holds a folder twice, or out of its place: it is damaged.");
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                (e.mode & 0750) | 0600);
  if (fd < 0)
    return STATUS_ERROR(kFailed, "Make %s failed: %s", path.c_str(), strerror(errno))
        .Reason("The backup holds a file twice, or out of its place: it is damaged.");
  char buf[64 * 1024];
  long n;
  SVNStatus status;
  while (status.ok() && (n = reader_.readData(buf, sizeof buf)) > 0) {
    for (long done = 0; status.ok() && done < n;) {
      ssize_t w = write(fd, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) status = STATUS_ERROR(kFailed, "Write %s failed: %s", path.c_str(), strerror(errno));
      else done += w;
    }
    moved();
  }
  if (status.ok() && !reader_.error().ok()) status = reader_.error();
  if (status.ok() && fchmod(fd, (e.mode & 0750) | 0400) != 0)
    status = STATUS_ERROR(kFailed, "chmod %s failed: %s", path.c_str(), strerror(errno));
  close(fd);
  return status;
}

namespace {

// Whether `rel` ("/format", "/db/current", ...; "" for the top) has its
// place in a repository's copy, as a folder or a file as `directory` says.
bool InRepositoryLayout(const std::string& rel, bool directory) {
  if (rel.empty()) return directory;
  const size_t end = rel.find('/', 1);
  const std::string top = rel.substr(1, end == std::string::npos ? end : end - 1);
  const bool folder = top == "conf" || top == "db" || top == "hooks" || top == "locks";
  if (end != std::string::npos) return folder;
  return folder ? directory : !directory && (top == "format" || top == "README.txt");
}

}  // namespace

// Writes the copy a backup holds (repository/...) at `dir`: never what
// this program keeps beside a repository (its last verify: the copy is
// not verified yet); for a backup that is not ours, only what a
// repository holds, and without its hooks.
SVNStatus Restore::extract(const std::string& dir) {
  for (;;) {
    SVNBackupEntry e;
    bool more = false;
    STATUS_TRY(reader_.next(&e, &more));
    if (!more) return SVNStatus();
    if (e.path.compare(0, 6, "setup/") == 0) {
      STATUS_TRY(reader_.readAll(kMaxConfFile, &texts_[e.path]));
      continue;
    }
    const std::string rel = e.path.substr(sizeof "repository" - 1);  // "" or "/..."
    if (rel == "/verified") continue;
    if (!o_.trusted && !InRepositoryLayout(rel, e.directory))
      return STATUS_ERROR(kFailed, "%s is no part of a repository.", e.path.c_str())
          .Reason("The file holds “" + e.path + "”, which is not part of a repository: nothing "
                  "is taken from it.");
    if (!o_.trusted && !e.directory && rel.compare(0, 7, "/hooks/") == 0) continue;
    STATUS_TRY(writeEntry(dir + rel, e));
    if (gCancelled) return UnlessCancelled(SVNStatus());
  }
}

SVNStatus Restore::buildCopy(const std::string& dir) {
  STATUS_TRY(extract(dir));
  struct stat st;
  if (stat((dir + "/hooks").c_str(), &st) != 0 && mkdir((dir + "/hooks").c_str(), 0750) != 0)
    return STATUS_ERROR(kFailed, "Make %s/hooks failed: %s", dir.c_str(), strerror(errno));
  return finish(dir);
}

// What every restored backup goes through once its files are in place:
// its settings' files, its hook presets, the checks, its UUID, and a last
// look at its history, then all of it to disk.
SVNStatus Restore::finish(const std::string& dir) {
  const SVNManifest& m = reader_.manifest();
  STATUS_TRY(PutSetup(m, texts_, settings_.name, dir, o_, &result_->created));
  // Hooks: a trusted copy holds its own; otherwise our presets are made
  // again, and hooks made by hand are left out.
  if (m.kind != "hotcopy" || !o_.trusted) {
    result_->leftOut = m.hooks;
    std::optional<bool> wanted[kHookPresetCount];
    for (const std::string& p : m.presets)
      for (int i = 0; i < kHookPresetCount; ++i)
        if (p == kHookPresetKeys[i]) wanted[i] = true;
    STATUS_TRY(SetHooks(dir, wanted));
  }
  STATUS_TRY(CheckRestored(settings_.name, dir, o_.trusted));
  if (o_.newUuid) STATUS_TRY(RunTool({"setuuid", dir}, SVNToolStreams()));
  SVNHistory loaded;
  STATUS_TRY(ReadHistory(dir, &loaded));
  if ((!o_.newUuid && loaded.uuid != m.uuid) || loaded.rev != m.rev)
    return STATUS_ERROR(kFailed, "Restored %s has UUID %s, revision %ld; the manifest says %s, "
                        "%ld.", settings_.name.c_str(), loaded.uuid.c_str(), loaded.rev,
                        m.uuid.c_str(), m.rev)
        .Reason("The history in the file is not the one its manifest describes: it is "
                "damaged.");
  result_->uuid = loaded.uuid;
  result_->rev = loaded.rev;
  return UnlessCancelled(SyncFileSystem(dir));
}

SVNStatus Restore::build(const std::string& dir) {
  if (reader_.plain()) {
    // As "add" makes one, with the dump's history loaded first.
    STATUS_TRY(BuildNewRepo(settings_, dir, [this](const std::string& at) {
      return loadDump(at);
    }));
    if (o_.newUuid) STATUS_TRY(RunTool({"setuuid", dir}, SVNToolStreams()));
    SVNHistory loaded;
    STATUS_TRY(ReadHistory(dir, &loaded));
    result_->uuid = loaded.uuid;
    result_->rev = loaded.rev;
    return UnlessCancelled(SyncFileSystem(dir));
  }
  return reader_.manifest().kind == "hotcopy" ? buildCopy(dir) : buildDump(dir);
}

SVNStatus Restore::run(int fd) {
  const SVNName& name = settings_.name;
  struct stat st;
  if (fstat(fd, &st) == 0) total_ = result_->size = st.st_size;
  STATUS_TRY(reader_.open(fd));
  const SVNBuilder builder = [this](const std::string& dir) { return build(dir); };
  SVNStatus status;
  if (o_.test) {
    const long long size = result_->size;
    if (!reader_.plain() && reader_.manifest().size > 0) total_ += reader_.manifest().size;
    status = TryRepository(name, "verify", [&](const std::string& dir) {
      STATUS_TRY(builder(dir));
      SVNToolStreams streams;
      streams.outputLine = [](const std::string&) {};
      streams.io = [&](long long read, long long) {
        if (progress_) progress_(std::min(size + read, total_ - 1), total_);
      };
      SVNStatus verified = RunTool({"verify", "-q", dir}, streams);
      if (!verified.ok()) verified.Reason("Verifying found problems: " + verified.reason());
      return Cancelled(std::move(verified));
    });
  } else if (o_.replace) {
    status = ReplaceRepository(name, "restore", [&](const std::string& dir) {
      STATUS_TRY(builder(dir));
      // What the swap is about to replace, for the record; and never
      // another repository's history under this one's UUID.
      SVNHistory old;
      if (!ReadHistory(RepoPath(name), &old).ok()) return SVNStatus();
      result_->replacedRev = old.rev;
      if (o_.newUuid || old.uuid == result_->uuid) return SVNStatus();
      return STATUS_ERROR(kFailed, "%s has UUID %s, the restored copy %s.", name.c_str(),
                          old.uuid.c_str(), result_->uuid.c_str())
          .Reason("The file holds another repository (UUID " + result_->uuid + "; this one's is " +
                  old.uuid + "): restore it under a new name, or over this one with a new UUID.");
    }, &result_->replaced);
  } else {
    status = MakeRepository(name, "restore", builder);
  }
  result_->sha256 = reader_.fileSha256();
  return status;
}

}  // namespace

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

SVNStatus RestoreRepository(const std::string& source, const SVNNewRepo& settings,
                            const SVNRestoreOptions& o, const SVNProgress& progress,
                            SVNRestoreResult* result) {
  const SVNName& name = settings.name;
  if (!o.replace && !o.test && RepoExists(name))
    return STATUS_ERROR(kExists, "Repository %s is exist", name.c_str())
        .Reason("A repository of that name exists.");
  int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return STATUS_ERROR(kFailed, "Open %s failed: %s", source.c_str(), strerror(errno))
        .Reason("The file to restore from cannot be read.");
  Restore restore(settings, o, progress, result);
  SVNStatus status = restore.run(fd);
  close(fd);
  if (status.code() == SVNStatus::kExists) status.Reason("A repository of that name exists.");
  if (!status.ok()) {
    status = Cancelled(std::move(status));
    if (status.reason().empty() && status.Mentions(strerror(ENOSPC)))
      status.Reason("The repository could not be restored: there is not enough free disk space.");
    if (status.reason().empty()) status.Reason("The repository could not be restored.");
    return status;
  }
  if (progress) progress(result->size, result->size);
  return SVNStatus();
}

bool IsOurBackup(const std::string& path) {
  const size_t slash = path.rfind('/');
  SVNBackup found;
  return slash != std::string::npos && FindBackup("", path.substr(slash + 1), &found).ok() &&
         RealLocation(found.path) == RealLocation(path);
}
