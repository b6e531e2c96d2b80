// sharing.cpp: who else uses a repository's files.

#include "sharing.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "conf_file.h"
#include "repo.h"
#include "settings.h"
#include "store.h"

namespace {

// A file told apart from others: a file that exists by its device and
// inode (links followed, hard links alike), one that does not by its real
// location.
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
  const std::string settingsId = Identity(dir + "/conf/svnserve.conf");
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
    auto uses = [&used](const std::string& id) {
      return !id.empty() && std::find(used.begin(), used.end(), id) != used.end();
    };
    if (uses(settingsId)) sharing.settings.push_back(other);
    if (uses(accountsId)) sharing.accounts.push_back(other);
    if (uses(rulesId)) sharing.rules.push_back(other);
    if (!rulesId.empty() && !groupsDb.empty() && Identity(groupsDb) == rulesId)
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
