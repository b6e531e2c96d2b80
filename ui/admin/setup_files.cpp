// setup_files.cpp: the files a repository's settings use, carried by a
// backup and put back by a restore.

#include "ui/admin/setup_files.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <memory>

#include "nlibc.h"
#include "store/accounts.h"
#include "store/conf_file.h"
#include "store/package.h"
#include "store/private_file.h"
#include "store/rename.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_backup"

namespace {

// The settings that name files, and what a private copy of each is
// called when the name it had is taken.
struct FileSetting {
  const char* key;
  const char* copy;
};
const FileSetting kFileSettings[] = {{"password-db", "passwd"},
                                     {"authz-db", "authz"},
                                     {"groups-db", "groups"},
                                     {"hooks-env", "hooks-env"}};

std::string Shown(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

// `rel` joined to `base` and made plain ("." and ".." worked out) without
// looking at the disk.
std::string Lexical(const std::string& base, const std::string& rel) {
  return LexicalPath(rel[0] == '/' ? rel : base + "/" + rel);
}

// Whether `file` is a plain file in `dir` (or below), reached without a
// link.
bool Inside(const std::string& file, const std::string& dir) {
  const std::string f = Lexical("/", file), d = Lexical("/", dir);
  if (f.compare(0, d.size() + 1, d + "/") != 0) return false;
  struct stat st;
  if (lstat(f.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::string realDir = RealLocation(d);
  return !realDir.empty() && RealLocation(f) == realDir + f.substr(d.size());
}

// The value of `key` in the settings `conf`, if any.
std::optional<std::string> Value(PNLIBCONF conf, const char* key) {
  const char* v = NLIBCConfGet(conf, "general", key);
  return v != nullptr ? std::optional<std::string>(v) : std::nullopt;
}

SVNSettingId IdOf(const std::string& key) {
  return key == "password-db" ? kPasswordDb
         : key == "authz-db"  ? kAuthzDb
         : key == "groups-db" ? kGroupsDb
                              : kHooksEnv;
}

// Where the file of `key` = `value` is, seen from `confDir`: a file, or a
// location in a repository (not a file).
std::string Location(const std::string& key, const std::string& value,
                     const std::string& confDir) {
  // hooks-env, as password-db, is never a location in a repository.
  return SettingLocation(key == "hooks-env" ? kPasswordDb : IdOf(key), value, confDir);
}

}  // namespace

// ---- Backing up ----

namespace {

// The text of the file the setting `key` = `value` names, for a backup.
SVNStatus SettingText(const SVNRepo& repo, const std::string& key, const std::string& value,
                      const std::string& location, std::string* text) {
  if (!RepositoryLocation(value) || key == "password-db" || key == "hooks-env") {
    if (ReadSmallFile(location, kMaxConfFile, false, text)) return SVNStatus();
  } else if (key == "authz-db") {  // rules kept in another repository
    std::unique_ptr<SVNRules> rules;
    unsigned long size = 0;
    const char* read = SVNRules::Open(repo, &rules, SVNRules::kMeasure).ok() && rules->readFile()
                           ? NLIBCConfText(rules->readFile(), &size)
                           : nullptr;
    if (read != nullptr) {
      text->assign(read, size);
      return SVNStatus();
    }
  }
  return STATUS_ERROR(kFailed, "The file of %s = %s cannot be read.", key.c_str(),
                      Shown(value).c_str())
      .Reason("The file the settings name with " + key + " = " + Shown(value) +
              " cannot be read: a backup without it could never be restored.");
}

}  // namespace

SVNStatus CollectSetup(const SVNRepo& repo, std::vector<SVNSetupText>* setup,
                       std::vector<std::pair<std::string, std::string>>* conf) {
  const std::string path = repo.getPath(), confDir = path + "/conf";
  const std::string settings = confDir + "/svnserve.conf";
  std::string text;
  if (!ReadSmallFile(settings, kMaxConfFile, false, &text))
    return STATUS_ERROR(kFailed, "Read the settings of %s failed.", path.c_str())
        .Reason("The repository's settings cannot be read.");
  auto add = [&](const std::string& key, const std::string& value, const std::string& from) {
    setup->push_back({{key, value, from, "setup/" + std::to_string(setup->size() + 1)}, text});
  };
  if (conf != nullptr) conf->emplace_back("svnserve.conf", text);
  else if (!Inside(settings, path)) add("settings", "", RealLocation(settings));
  SVNConfFile parsed(NLIBCConfOpen(settings.c_str(), 0));
  if (parsed.p == nullptr) return SVNStatus();  // svnserve reads nothing more either
  const bool sasl = repo.usesSasl();
  for (const FileSetting& s : kFileSettings) {
    const std::optional<std::string> value = Value(parsed.p, s.key);
    if (!value || (sasl && std::string(s.key) == "password-db")) continue;
    if (std::string(s.key) != "password-db" && value->compare(0, 2, "^/") == 0) continue;
    const std::string location = Location(s.key, *value, confDir);
    const bool inConf = Inside(location, confDir) &&
                        Lexical("/", location).rfind('/') == Lexical("/", confDir).size();
    if (conf == nullptr ? Inside(location, path) : inConf) {
      if (conf == nullptr) continue;  // in the copy
      const std::string name = Lexical("/", location).substr(Lexical("/", confDir).size() + 1);
      bool twice = false;
      for (const auto& c : *conf) twice = twice || c.first == name;
      if (twice) continue;
      STATUS_TRY(SettingText(repo, s.key, *value, location, &text));
      conf->emplace_back(name, text);
      continue;
    }
    STATUS_TRY(SettingText(repo, s.key, *value, location, &text));
    add(s.key, *value, RepositoryLocation(*value) ? *value : RealLocation(location));
  }
  return SVNStatus();
}

// ---- Restoring ----

namespace {

// Whether something exists at `path` (links followed).
bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A name in `confDir` no file has, for a private copy of a file that was
// called `was` (its last part, if it is a plain name) or `fallback`.
std::string FreeName(const std::string& confDir, const std::string& was, const char* fallback) {
  std::string base = was.substr(was.rfind('/') + 1);
  bool plain = !base.empty() && base != "." && base != ".." && base.size() < 100;
  for (unsigned char c : base) plain = plain && c > 0x20 && c != 0x7F;
  if (!plain || base == "svnserve.conf") base = fallback;
  std::string name = base;
  struct stat st;
  for (int i = 1; lstat((confDir + "/" + name).c_str(), &st) == 0; ++i)
    name = base + "-restored" + (i > 1 ? "-" + std::to_string(i) : "");
  return name;
}

// Makes again, for a trusted backup, the links its copy held whose
// targets exist as seen from where the repository will be.
void PutLinks(const SVNManifest& m, const SVNName& name, const std::string& dir) {
  const std::string final = Lexical("/", RealLocation(Package().repoRoot) + "/" + name.str());
  for (const auto& link : m.links) {
    const std::string& path = link.first;
    const size_t slash = path.rfind('/');
    const std::string from = final + (slash == std::string::npos ? "" : "/" + path.substr(0, slash));
    if (!Exists(Lexical(from, link.second))) continue;
    if (symlink(link.second.c_str(), (dir + "/" + path).c_str()) != 0)
      LOG_LINE("Make the link %s of %s failed: %s", Shown(path).c_str(), name.c_str(),
               strerror(errno));
  }
}

// A private copy of a setup file `f` (`text`) in `dir`'s conf/, named in
// the settings of `repo` (opened at `dir`).
SVNStatus PrivateCopy(const SVNSetupFile& f, const std::string& text, const char* fallback,
                      const std::string& dir, SVNRepo* repo, std::vector<std::string>* created) {
  const std::string confDir = dir + "/conf";
  const std::string copy = FreeName(confDir, f.value, fallback);
  STATUS_TRY(WritePrivateFile(confDir + "/" + copy, text, false));
  if (chmod((confDir + "/" + copy).c_str(), 0640) != 0)
    return STATUS_ERROR(kFailed, "chmod %s failed: %s", copy.c_str(), strerror(errno));
  STATUS_TRY(repo->setSetting(IdOf(f.setting), copy.c_str()));
  created->push_back("conf/" + copy + ", a copy of " + Shown(f.from));
  return SVNStatus();
}

}  // namespace

SVNStatus PutSetup(const SVNManifest& m, const std::map<std::string, std::string>& texts,
                   const SVNName& name, const std::string& dir, const SVNRestoreOptions& o,
                   std::vector<std::string>* created) {
  if (o.trusted) PutLinks(m, name, dir);
  const std::string finalConf = RealLocation(Package().repoRoot) + "/" + name.str() + "/conf";
  for (const SVNSetupFile& f : m.setup) {
    auto text = texts.find(f.entry);
    if (text == texts.end())
      return STATUS_ERROR(kFailed, "The backup lacks %s.", f.entry.c_str())
          .Reason("The backup lacks a file its manifest names: nothing was restored.");
    if (f.setting != "settings") continue;
    if (Exists(dir + "/conf/svnserve.conf")) continue;  // the link, made again
    STATUS_TRY(WritePrivateFile(dir + "/conf/svnserve.conf", text->second, false));
    chmod((dir + "/conf/svnserve.conf").c_str(), 0640);
    created->push_back("conf/svnserve.conf, a copy of " + Shown(f.from));
  }
  std::unique_ptr<SVNRepo> repo;
  STATUS_TRY(SVNRepo::open(name, SVNRepo::kSettings, &repo, dir));
  for (const SVNSetupFile& f : m.setup) {
    if (f.setting == "settings") continue;
    const FileSetting* s = nullptr;
    for (const FileSetting& each : kFileSettings) s = f.setting == each.key ? &each : s;
    if (s == nullptr)
      return STATUS_ERROR(kFailed, "The backup names a setting %s.", Shown(f.setting).c_str())
          .Reason("The backup's manifest names a file of a setting this program does not know.");
    // The original, still there where the settings lead from the
    // repository's own place: kept as it is.
    const std::string location = Location(f.setting, f.value, finalConf);
    if (o.trusted && o.replace && (RepositoryLocation(f.value) || Exists(location))) continue;
    STATUS_TRY(PrivateCopy(f, texts.at(f.entry), s->copy, dir, repo.get(), created));
  }
  if (repo->settingsChanged()) STATUS_TRY(repo->save());
  if (name.str() == m.name) return SVNStatus();
  // As the settings now are.
  STATUS_TRY(SVNRepo::open(name, SVNRepo::kSettings, &repo, dir));
  return RenameOwnRules(*repo, m.name, name);
}

namespace {

// Why the rules of a backup cannot be read or renamed.
SVNStatus RulesRefused(SVNStatus status) {
  return status.Reason(status.code() == SVNStatus::kHandmade
                           ? status.reason() + " Nothing was restored."
                           : "The backup's access rules are not ones svnserve reads: nothing "
                             "was restored.");
}

}  // namespace

SVNStatus RenameOwnRules(const SVNRepo& repo, const std::string& from, const SVNName& to) {
  // Rules that name the repository backed up name it under its new name,
  // in its own rules file only (never one it shares).
  const std::string& rules = repo.rulesFile();
  if (rules.empty() || !Inside(rules, repo.getPath())) return SVNStatus();
  SVNConfFile conf(NLIBCConfOpen(rules.c_str(), NLIBC_CONF_EXACT));
  if (conf.p == nullptr)
    return RulesRefused(STATUS_ERROR(kFailed, "Read rules %s failed.[0x%04X]", rules.c_str(),
                                     NLIBCErrGet()));
  SVNStatus status = RenameRulesSections(rules, from, to);
  if (status.ok()) return status;
  if (status.code() == SVNStatus::kHandmade) return RulesRefused(status);
  return status.Reason("The backup's access rules cannot be moved to the new name.");
}

// ---- Checking ----

namespace {

}  // namespace

SVNStatus OwnFilesOnly(PNLIBCONF settings, const std::vector<SVNSetupFile>& setup) {
  for (const FileSetting& s : kFileSettings) {
    const std::optional<std::string> value = SettingIn(settings, IdOf(s.key));
    bool copied = false;
    for (const SVNSetupFile& f : setup) copied = copied || f.setting == s.key;
    if (!value || (copied && std::string(s.key) != "hooks-env")) continue;
    const std::string shown = std::string(s.key) + " = " + Shown(*value);
    if (std::string(s.key) == "hooks-env")
      return STATUS_ERROR(kFailed, "The backup sets %s.", shown.c_str())
          .Reason("The backup sets the hooks' environment (" + shown +
                  "), which decides what hooks run: nothing was restored.");
    if (std::string(s.key) != "password-db" && value->compare(0, 2, "^/") == 0) continue;
    const std::string file = CanonicalPath(*value);
    if (RepositoryLocation(*value) || file.empty() || file == ".." || file.find('/') != std::string::npos)
      return STATUS_ERROR(kFailed, "The backup's settings name %s.", shown.c_str())
          .Reason("The backup's settings name a file outside the repository's conf folder (" +
                  shown + "): nothing was restored.");
  }
  return SVNStatus();
}

namespace {

// db/fsfs.conf of a backup that is not ours names no cache servers
// (svnserve would talk to them).
SVNStatus NoCacheServers(const std::string& dir) {
  const std::string path = dir + "/db/fsfs.conf";
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return SVNStatus();
  SVNConfFile conf(NLIBCConfOpen(path.c_str(), 0));
  SVNStringList keys(NLIBCSzListAlloc(4)), values(NLIBCSzListAlloc(4));
  const bool none = conf.p != nullptr && keys.p != nullptr && values.p != nullptr &&
                    (NLIBCConfGetEntries(conf.p, "memcached-servers", &keys.p, &values.p) < 0 ||
                     keys.p->nItem == 0);
  if (none) return SVNStatus();
  return STATUS_ERROR(kFailed, "The backup's db/fsfs.conf is not plain.")
      .Reason("The backup's db/fsfs.conf cannot be read or names cache servers: nothing was "
              "restored.");
}

}  // namespace

SVNStatus CheckRestored(const SVNName& name, const std::string& dir, bool trusted) {
  const char* kRefused =
      "The backup's settings, accounts or access rules are not ones this program accepts "
      "(or svnserve reads): nothing was restored.";
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(name, SVNRepo::kAccounts, &repo, dir);
  if (!status.ok())
    return status.Reason("The backup's settings file is not one svnserve reads: nothing was "
                         "restored.");
  if (!trusted) STATUS_TRY(OwnFilesOnly(repo->settingsConf(), {}));
  if (!trusted) STATUS_TRY(NoCacheServers(dir));
  if (repo->refusesConnections())
    return STATUS_ERROR(kFailed, "svnserve would refuse every connection to %s.", name.c_str())
        .Reason("svnserve would refuse every connection to the restored repository (its "
                "settings or account file are not ones it reads): nothing was restored.");
  if (!trusted) {
    SVNAccountList list;
    SVNAccounts checked;
    for (const auto& a : repo->getAccounts()) list.emplace_back(a.first, a.second);
    STATUS_TRY(CheckAccounts(list, &checked).Reason(kRefused));
  }
  std::unique_ptr<SVNRules> rules;
  STATUS_TRY(SVNRules::Open(*repo, &rules).Reason(kRefused));
  // Rules svnserve refuses would refuse every connection.
  if (rules->refused())
    return STATUS_ERROR(kFailed, "The rules of the backup of %s are not valid: %s", name.c_str(),
                        rules->reason().c_str())
        .Reason(kRefused);
  return SVNStatus();
}
