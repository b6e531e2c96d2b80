// sharing.cpp: who else uses a repository's files.

#include "sharing.h"

#include <dirent.h>
#include <string.h>
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
std::string Identity(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) == 0)
    return "i:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return "p:" + RealLocation(file);
}

// The identities of every file under `dir` (links followed once, not
// into directories they lead to).
void FilesIn(const std::string& dir, int depth, std::set<std::string>* ids) {
  if (depth > 8) return;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    const std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && depth < 2 && strcmp(e->d_name, "db") != 0) {
      FilesIn(path, depth + 1, ids);
    } else if (!S_ISDIR(st.st_mode)) {
      ids->insert(Identity(path));
    }
  }
  closedir(d);
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

SVNSharing FindSharing(const SVNRepo& repo) {
  return FindSharing(repo.getName(), repo.accountFile(), repo.rulesFile());
}

SVNSharing FindSharing(const std::string& name, const std::string& accountFile,
                       const std::string& rulesFile) {
  const std::string dir = RepoPath(name);
  const std::string settingsId = Identity(dir + "/conf/svnserve.conf");
  const std::string accountsId = accountFile.empty() ? std::string() : Identity(accountFile);
  const std::string rulesId = rulesFile.empty() ? std::string() : Identity(rulesFile);
  // Files inside the repository's directory where other repositories'
  // settings could point: conf/ and the entries beside it (not db/).
  std::set<std::string> inside;
  FilesIn(dir, 0, &inside);
  SVNSharing sharing;
  WalkRoot("", [&](std::string other) {
    if (other == name) return;
    const std::string confDir = RepoPath(other) + "/conf";
    SVNConfFile conf(NLIBCConfOpen((confDir + "/svnserve.conf").c_str(), 0));
    if (conf.p == nullptr) return;
    std::vector<std::string> used{Identity(confDir + "/svnserve.conf")};
    if (!SettingOn(SettingUsed(conf.p, kUseSasl))) {
      std::string db = SettingFile(conf.p, kPasswordDb, confDir, nullptr);
      if (!db.empty()) used.push_back(Identity(db));
    }
    for (SVNSettingId id : {kAuthzDb, kGroupsDb}) {
      std::string file = SettingFile(conf.p, id, confDir, nullptr);
      if (!file.empty()) used.push_back(Identity(file));
    }
    auto uses = [&used](const std::string& id) {
      return !id.empty() && std::find(used.begin(), used.end(), id) != used.end();
    };
    if (uses(settingsId)) sharing.settings.push_back(other);
    if (uses(accountsId)) sharing.accounts.push_back(other);
    if (uses(rulesId)) sharing.rules.push_back(other);
    for (const std::string& id : used)
      if (inside.count(id) != 0) {
        sharing.inside.push_back(other);
        break;
      }
  });
  for (auto* list : {&sharing.settings, &sharing.accounts, &sharing.rules, &sharing.inside})
    std::sort(list->begin(), list->end());
  return sharing;
}
