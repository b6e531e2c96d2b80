// rename.cpp: a repository renamed, with its rules and the settings that
// name it.

#include "store/rename.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "nlibc.h"
#include "store/backup_state.h"
#include "store/backups.h"
#include "store/conf_file.h"
#include "store/package.h"
#include "store/repo.h"
#include "store/root.h"
#include "store/rules.h"
#include "store/setting_table.h"
#include "store/sharing.h"

#define LOG_MODULE "svn_repo"

namespace {

using Segments = std::vector<std::string>;

// ---- Rules that name a repository ----

// Where the repository's name stands in a rules section that names one,
// as Subversion reads it ("NAME:/path", ":glob:NAME:/path"): its offset,
// and its size in *size; npos for sections of every repository ("/path",
// ":glob:/path") and for [groups] and [aliases].
size_t NameAt(const std::string& section, size_t* size) {
  const size_t at = section.compare(0, 6, ":glob:") == 0 ? 6 : 0;
  if (section.compare(at, 1, "/") == 0) return std::string::npos;
  const size_t colon = section.find(':', at);
  if (colon == std::string::npos || colon == at) return std::string::npos;
  *size = colon - at;
  return at;
}

bool NamesRepo(const std::string& section, const std::string& repo) {
  size_t size = 0;
  const size_t at = NameAt(section, &size);
  return at != std::string::npos && section.compare(at, size, repo) == 0 && size == repo.size();
}

// The section for `to` that stands for `section`, which names a
// repository.
std::string Renamed(const std::string& section, const std::string& to) {
  size_t size = 0;
  const size_t at = NameAt(section, &size);
  return section.substr(0, at) + to + section.substr(at + size);
}

std::vector<std::string> List(PNLIBSZLIST list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->nItem; ++i) out.push_back(NLIBCSzListGet(list, i));
  return out;
}

// Adds to `conf` a section for `to` beside each of `sections`, holding
// what it grants: repeated entries merged as Subversion merges them (their
// rights add up) and blanks, which it ignores, left out.
SVNStatus AddCopies(PNLIBCONF conf, const std::vector<std::string>& sections,
                    const std::string& to) {
  SVNStringList who(NLIBCSzListAlloc(16)), what(NLIBCSzListAlloc(16));
  std::vector<std::string> names;
  std::vector<std::unique_ptr<SVNStringHash>> hashes;
  if (who.p == nullptr || what.p == nullptr)
    return STATUS_ERROR(kFailed, "NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
  for (const std::string& section : sections) {
    if (NLIBCConfGetEntries(conf, section.c_str(), &who.p, &what.p) < 0)
      return STATUS_ERROR(kFailed, "Read rules [%s] failed.[0x%04X]", section.c_str(),
                          NLIBCErrGet());
    std::vector<std::string> order;
    std::map<std::string, std::string> rights;
    const std::vector<std::string> w = List(who.p), v = List(what.p);
    for (size_t i = 0; i < w.size(); ++i) {
      auto entry = rights.emplace(w[i], std::string());
      if (entry.second) order.push_back(w[i]);
      for (char c : v[i])
        if (!strchr(" \t\v\f\r\n", c)) entry.first->second += c;
    }
    hashes.emplace_back(new SVNStringHash(NLIBCSzHashAlloc(8)));
    bool ok = hashes.back()->p != nullptr;
    for (const std::string& entry : order)
      ok = ok && NLIBCSzHashSetValue(&hashes.back()->p, entry.c_str(), rights[entry].c_str()) == 0;
    if (!ok) return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
    names.push_back(Renamed(section, to));
  }
  std::vector<const char*> namePtrs;
  std::vector<PNLIBSZHASH> pairs;
  for (size_t i = 0; i < names.size(); ++i) {
    namePtrs.push_back(names[i].c_str());
    pairs.push_back(hashes[i]->p);
  }
  if (NLIBCConfSetSections(conf, static_cast<int>(names.size()), namePtrs.data(), pairs.data()) < 0)
    return STATUS_ERROR(kFailed, "Copy the rules for %s failed.[0x%04X]", to.c_str(),
                        NLIBCErrGet());
  return SVNStatus();
}

// ---- Settings that reach a repository through the root by name ----

// A path's segments, empty and "." ones dropped (".." kept), as
// Subversion canonicalizes a path setting.
Segments Split(const std::string& path) {
  Segments out;
  for (size_t b = 0; b <= path.size();) {
    size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    std::string s = path.substr(b, e - b);
    if (!s.empty() && s != ".") out.push_back(s);
    b = e + 1;
  }
  return out;
}

std::string Join(const Segments& segments, size_t from) {
  std::string out;
  for (size_t i = from; i < segments.size(); ++i) out += (i > from ? "/" : "") + segments[i];
  return out;
}

// The root as a setting may spell it: as the package names it, and where
// it really is.
std::vector<Segments> RootSpellings() {
  std::vector<Segments> roots{Split(Package().repoRoot)};
  char real[PATH_MAX];
  if (realpath(Package().repoRoot.c_str(), real) != nullptr && Split(real) != roots[0])
    roots.push_back(Split(real));
  return roots;
}

std::string Decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// A path for a URL: every byte but unreserved ones and '/' escaped.
std::string Encode(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c < 0x80 && isalnum(c)) || (c != 0 && strchr("-._~/", c) != nullptr)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// Whether `at` is `root` followed by `name` and more (`more` segments at
// least).
bool Under(const Segments& at, const Segments& root, const std::string& name, size_t more) {
  return at.size() >= root.size() + 1 + more && std::equal(root.begin(), root.end(), at.begin()) &&
         at[root.size()] == name;
}

// A path setting's value (of a repository whose conf directory is
// `confDir`: a path relative to it or absolute, or a "file://" URL) that
// passes through the root's entry `name` by that name: the value
// rewritten to reach the same place without the root, as seen from
// `name`'s own conf directory (relative to it, or "^/path" for a location
// in that repository); nullopt for a value that does not go that way.
// Read lexically, as svnserve joins the value to the conf directory.
std::optional<std::string> ThroughRoot(const std::string& value, const std::string& confDir,
                                       const std::string& name) {
  std::string path = value;
  const bool url = strncasecmp(value.c_str(), "file://", 7) == 0;
  if (url) {
    const size_t slash = value.find('/', 7);
    const std::string host = value.substr(7, slash == std::string::npos ? slash : slash - 7);
    if (slash == std::string::npos || (!host.empty() && strcasecmp(host.c_str(), "localhost") != 0))
      return std::nullopt;
    path = value.substr(slash);
  } else if (value.empty() || value.find("://") != std::string::npos ||
             value.compare(0, 2, "^/") == 0) {
    return std::nullopt;
  }
  const std::vector<Segments> roots = RootSpellings();
  Segments at = url || path[0] == '/' ? Segments() : Split(confDir);
  bool byName = false;
  for (const std::string& s : Split(path)) {
    if (s == "..") {
      if (!at.empty()) at.pop_back();
      continue;
    }
    at.push_back(url ? Decode(s) : s);
    for (const Segments& root : roots) byName = byName || (Under(at, root, name, 0) &&
                                                           at.size() == root.size() + 1);
  }
  if (!byName) return std::nullopt;
  for (const Segments& root : roots) {
    if (!Under(at, root, name, 0)) continue;
    const size_t rest = root.size() + 1;
    if (url) return "^/" + Encode(Join(at, rest));
    if (Under(at, root, name, 1) && at[rest] == "conf")
      return at.size() == rest + 1 ? std::string(".") : Join(at, rest + 1);
    return at.size() == rest ? std::string("..") : "../" + Join(at, rest);
  }
  // It left the repository again: the place itself, absolute.
  return url ? "file://" + Encode("/" + Join(at, 0)) : "/" + Join(at, 0);
}

// The other repositories whose settings reach `name`'s directory through
// the root by that name (a "file://" location of their rules among them),
// in byte order.
std::vector<std::string> ReachingByName(const std::string& name) {
  std::vector<std::string> found;
  WalkRoot("", [&](std::string other, const struct stat&) {
    if (other == name) return;
    const std::string confDir = RepoPath(other) + "/conf";
    SVNConfFile conf(NLIBCConfOpen((confDir + "/svnserve.conf").c_str(), 0));
    if (conf.p == nullptr) return;
    for (SVNSettingId id : {kPasswordDb, kAuthzDb, kGroupsDb}) {
      std::optional<std::string> value = SettingIn(conf.p, id);
      if (value && ThroughRoot(*value, confDir, name)) {
        found.push_back(other);
        break;
      }
    }
  });
  std::sort(found.begin(), found.end());
  return found;
}

SVNStatus Handmade(const std::string& name, const std::string& reason) {
  return STATUS_ERROR(kHandmade, "Rename %s: %s", name.c_str(), reason.c_str()).Reason(reason);
}

}  // namespace

// ---- Rules of a copy ----

SVNStatus RenameRulesSections(const std::string& path, const std::string& from,
                              const std::string& to) {
  if (from == to) return SVNStatus();
  SVNConfFile conf(NLIBCConfOpen(path.c_str(), NLIBC_CONF_EXACT));
  SVNStringList sections(NLIBCSzListAlloc(16));
  if (conf.p == nullptr || sections.p == nullptr ||
      NLIBCConfGetSections(conf.p, &sections.p) < 0)
    return STATUS_ERROR(kFailed, "Read rules %s failed.[0x%04X]", path.c_str(), NLIBCErrGet());
  std::vector<std::string> mine;
  for (const std::string& section : List(sections.p)) {
    if (NamesRepo(section, to))
      return Handmade(to, "The rules hold rules for the new name already ([" + section +
                              "]) beside those of the repository's old name.");
    if (NamesRepo(section, from)) mine.push_back(section);
  }
  if (mine.empty()) return SVNStatus();
  if (to.find_first_of(":]") != std::string::npos)
    return Handmade(to, "The rules name the repository, and a rule cannot name a repository "
                        "whose name holds “:” or “]”: choose another name.");
  for (const std::string& section : mine)
    if (NLIBCConfRenameSection(conf.p, section.c_str(), Renamed(section, to).c_str()) < 0)
      return STATUS_ERROR(kFailed, "Rename rules [%s] failed.[0x%04X]", section.c_str(),
                          NLIBCErrGet());
  if (NLIBCConfSave(conf.p, 0) < 0)
    return STATUS_ERROR(kFailed, "Write rules %s failed.[0x%04X]", path.c_str(), NLIBCErrGet());
  return SVNStatus();
}

// ---- Work under way ----

SVNStatus CheckNotBusy(const std::string& name, SVNJobLock* jobs) {
  return jobs->acquire(name, false);
}

// ---- The rename ----

namespace {

// The sections of the rules of `repo` that name it, which move along
// (*mine, in *rules as read): refused (kHandmade) when they cannot move,
// or when the file holds rules for `to` already (they would bind the
// renamed repository, unseen).
SVNStatus SectionsToMove(const SVNRepo& repo, const SVNName& to, std::unique_ptr<SVNRules>* rules,
                         std::vector<std::string>* mine) {
  const SVNName& name = repo.getName();
  SVNStatus status = SVNRules::Open(repo, rules);
  if (!status.ok())
    return STATUS_WITH(status, "Get rules failed.")
        .Recode(SVNStatus::kHandmade)
        .Reason("The rules file cannot be read, so rules that name this repository cannot be "
                "moved with it: mend it by hand first.");
  const SVNRules& r = **rules;
  SVNStringList sections(NLIBCSzListAlloc(16));
  if (r.readFile() == nullptr)
    return Handmade(name, r.reason().empty() ? "The rules cannot be read." : r.reason());
  if (sections.p == nullptr || NLIBCConfGetSections(r.readFile(), &sections.p) < 0)
    return STATUS_ERROR(kFailed, "Read rules of %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
  for (const std::string& section : List(sections.p)) {
    if (NamesRepo(section, to))
      return Handmade(name, "The rules file holds rules for the new name already ([" + section +
                                "]); they would bind this repository once renamed: remove them "
                                "by hand first.");
    if (NamesRepo(section, name)) mine->push_back(section);
  }
  if (!mine->empty() && r.file() == nullptr)
    return Handmade(name, r.reason().empty() ? "The rules cannot be written." : r.reason());
  if (!mine->empty() && to.str().find_first_of(":]") != std::string::npos)
    return Handmade(name, "The rules name this repository, and a rule cannot name a repository "
                          "whose name holds “:” or “]”: choose another name.");
  return SVNStatus();
}

// Rewrites the settings of `repo` that reach it through the root by its
// name to reach the same files without the root, before and after.
SVNStatus SettingsWithoutRoot(SVNRepo* repo) {
  const SVNName& name = repo->getName();
  const std::string confDir = repo->getPath() + "/conf";
  auto place = [&confDir](const std::string& v) {
    return RealLocation(v[0] == '/' ? v : confDir + "/" + v);
  };
  for (SVNSettingId id : {kPasswordDb, kAuthzDb, kGroupsDb}) {
    const std::optional<std::string> value = repo->setting(id);
    const std::optional<std::string> local = value ? ThroughRoot(*value, confDir, name) : std::nullopt;
    if (!local) continue;
    const bool url = local->compare(0, 2, "^/") == 0 || local->find("://") != std::string::npos;
    if (!url && (place(*value).empty() || place(*value) != place(*local)))
      return Handmade(name, std::string("The setting ") + Setting(id).name + " reaches this "
                            "repository through the root and links: edit it by hand first.");
    STATUS_TRY(repo->setSetting(id, local->c_str()));
  }
  return SVNStatus();
}

// The rules file read again under its lock, with `to`'s copies of the
// sections `mine` beside them (written first, *both); `rules` gets them
// renamed in place (written last).
SVNStatus PrepareRules(const SVNRepo& repo, SVNRules* rules, const std::vector<std::string>& mine,
                       const SVNName& to, SVNConfFile* both) {
  both->reset(NLIBCConfOpen(repo.rulesFile().c_str(), NLIBC_CONF_LOCK | NLIBC_CONF_EXACT));
  unsigned long size = 0, readSize = 0;
  const char* text = both->p != nullptr ? NLIBCConfText(both->p, &size) : nullptr;
  const char* read = NLIBCConfText(rules->file(), &readSize);
  if (text == nullptr || size != readSize || memcmp(text, read, size) != 0)
    return STATUS_ERROR(kFailed, "The rules of %s changed while they were read.",
                        repo.getName().c_str());
  STATUS_TRY(AddCopies(both->p, mine, to));
  for (const std::string& section : mine)
    if (NLIBCConfRenameSection(rules->file(), section.c_str(), Renamed(section, to).c_str()) < 0)
      return STATUS_ERROR(kFailed, "Rename rules [%s] failed.[0x%04X]", section.c_str(),
                          NLIBCErrGet());
  return SVNStatus();
}

// Writes the rules with both sections and the settings, then renames the
// directory; puts both back when that fails.
SVNStatus WriteAndMove(SVNRepo* repo, const SVNName& to, SVNConfFile* both) {
  STATUS_TRY(SaveAll({{both->p, 0, "rules"}}));
  SVNStatus status = repo->save();
  if (status.ok() && !(status = RenameInRoot(repo->getName(), to)).ok()) repo->restore().Log();
  if (!status.ok() && both->p != nullptr && NLIBCConfRestore(both->p) < 0)
    STATUS_WITH(status, "Put back rules file failed.[0x%04X]", NLIBCErrGet());
  return status;
}

}  // namespace

SVNStatus RenameRepo(SVNRepo* repo, const SVNName& to,
                     const std::function<SVNStatus(const SVNRenameReach&)>& consent) {
  const SVNName name = repo->getName();
  STATUS_TRY(NameUnused(to));
  std::unique_ptr<SVNRules> rules;
  std::vector<std::string> mine;
  STATUS_TRY(SectionsToMove(*repo, to, &rules, &mine));
  STATUS_TRY(SettingsWithoutRoot(repo));
  // Who else it reaches: those using a file it changes, and those that
  // find files in its directory by the name it is about to lose.
  const SVNSharing sharing = FindSharing(*repo, true);
  SVNRenameReach reach;
  if (!mine.empty()) reach.changed = sharing.rules;
  if (repo->settingsChanged()) reach.changed = Union(reach.changed, sharing.settings);
  reach.cutOff = Union(sharing.inside, ReachingByName(name));
  STATUS_TRY(consent(reach));
  SVNConfFile both;
  if (!mine.empty()) STATUS_TRY(PrepareRules(*repo, rules.get(), mine, to, &both));
  STATUS_TRY(WriteAndMove(repo, to, &both));
  // Renamed: its backups follow, and the old sections go (written through
  // the directory the rules file was read from, wherever it is now).
  SVNStatus backups = MoveBackups(name, to);
  if (!backups.ok()) {
    STATUS_WITH(backups, "%s is renamed to %s, but its backups stay under the old name.",
                name.c_str(), to.c_str());
    backups.Log();
  }
  MoveScheduled(name, to);
  if (!mine.empty() && NLIBCConfSave(rules->file(), 0) < 0)
    LOG_LINE("%s is renamed to %s, but its old rules sections stay in %s as well.[0x%04X]",
             name.c_str(), to.c_str(), repo->rulesFile().c_str(), NLIBCErrGet());
  return SVNStatus();
}
