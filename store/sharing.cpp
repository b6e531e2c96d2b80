// sharing.cpp: who else uses a repository's files.

#include "store/sharing.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "store/conf_file.h"
#include "store/repo.h"
#include "store/root.h"
#include "store/setting_table.h"

namespace {

// A file told apart from others: a file that exists by its device and
// inode (links followed, hard links alike: SameName tells those apart),
// one that does not by its real location.
std::string Identity(const struct stat& st) {
  return "i:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string Identity(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) == 0) return Identity(st);
  // One in a directory that cannot be resolved (missing) by its name:
  // never the same as another's for want of a location.
  const std::string at = RealLocation(file);
  return at.empty() ? "n:" + file : "p:" + at;
}

// Whether the names `a` and `b` (of one file, as Identity tells) are one
// name of it, links resolved: a write, which replaces the file in its
// directory, then reaches both.  Hard links are other names, which a write
// parts from it, each keeping the old text.  A directory reached by two
// paths (a bind mount) is one directory.
bool SameName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const std::string x = RealLocation(a), y = RealLocation(b);
  if (x.empty() || y.empty()) return false;
  if (x == y) return true;
  const size_t i = x.rfind('/'), j = y.rfind('/');
  struct stat dx, dy;
  return x.compare(i, std::string::npos, y, j, std::string::npos) == 0 &&
         stat(i == 0 ? "/" : x.substr(0, i).c_str(), &dx) == 0 &&
         stat(j == 0 ? "/" : y.substr(0, j).c_str(), &dy) == 0 && dx.st_dev == dy.st_dev &&
         dx.st_ino == dy.st_ino;
}

}  // namespace

std::vector<std::string> Union(const std::vector<std::string>& a,
                               const std::vector<std::string>& b) {
  std::vector<std::string> all(a);
  all.insert(all.end(), b.begin(), b.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

SVNSharing FindSharing(const SVNRepo& repo, bool inside) {
  return FindSharing(repo.getName(), repo.accountFile(), repo.rulesFile(), inside);
}

SVNSharing FindSharing(const std::string& name, const std::string& accountFile,
                       const std::string& rulesFile, bool withInside) {
  const std::string dir = RepoPath(name);
  const std::string settingsFile = dir + "/conf/svnserve.conf";
  const std::string settingsId = Identity(settingsFile);
  const std::string accountsId = accountFile.empty() ? std::string() : Identity(accountFile);
  const std::string rulesId = rulesFile.empty() ? std::string() : Identity(rulesFile);
  // Where the repository's directory really is: what other repositories
  // use in there goes with it when it is removed.
  const std::string inside = withInside ? RealLocation(dir + "/.") : std::string();
  SVNSharing sharing;
  WalkRoot("", [&](std::string other, const struct stat& settings) {
    if (other == name) return;
    const std::string confDir = RepoPath(other) + "/conf";
    SVNConfFile conf(NLIBCConfOpen((confDir + "/svnserve.conf").c_str(), 0));
    if (conf.p == nullptr) return;
    std::vector<std::string> files{confDir + "/svnserve.conf"};
    if (!SettingOn(SettingUsed(conf.p, kUseSasl)))
      files.push_back(SettingFile(conf.p, kPasswordDb, confDir, nullptr));
    for (SVNSettingId id : {kAuthzDb, kGroupsDb})
      files.push_back(SettingFile(conf.p, id, confDir, nullptr));
    const std::string groupsDb = files.back();
    files.erase(std::remove(files.begin(), files.end(), std::string()), files.end());
    std::vector<std::string> used{Identity(settings)};
    for (size_t i = 1; i < files.size(); ++i) used.push_back(Identity(files[i]));
    // One file, and one name of it (the first test is the cheap one).
    auto uses = [&](const std::string& id, const std::string& mine) {
      for (size_t i = 0; i < used.size() && !id.empty(); ++i)
        if (used[i] == id && SameName(mine, files[i])) return true;
      return false;
    };
    if (uses(settingsId, settingsFile)) sharing.settings.push_back(other);
    if (uses(accountsId, accountFile)) sharing.accounts.push_back(other);
    if (uses(rulesId, rulesFile)) sharing.rules.push_back(other);
    if (!rulesId.empty() && !groupsDb.empty() && Identity(groupsDb) == rulesId &&
        SameName(rulesFile, groupsDb))
      sharing.groupsDb.push_back(other);
    for (const std::string& file : inside.empty() ? std::vector<std::string>() : files) {
      const std::string at = RealLocation(file);
      if (at.compare(0, inside.size() + 1, inside + "/") == 0) {
        sharing.inside.push_back(other);
        break;
      }
    }
  });
  for (auto* list :
       {&sharing.settings, &sharing.accounts, &sharing.rules, &sharing.groupsDb, &sharing.inside})
    std::sort(list->begin(), list->end());
  return sharing;
}
