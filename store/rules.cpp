// rules.cpp: a repository's access rules: reading them as Subversion
// reads them, what the page may edit, and replacing them.

#include "store/rules.h"

#include <string.h>

#include <algorithm>
#include <set>

#include "nlibc.h"
#include "store/access.h"
#include "store/facts.h"
#include "store/repo.h"
#include "store/setting_table.h"
#include "store/subversion.h"

#define LOG_MODULE "svn_repo"

namespace {

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }


const char kGroups[] = "groups";

// Names Subversion's authz reads as something else than an account or
// group: "@group", "$token", "&alias", "*", "~inverted".
bool SpecialFirst(const std::string& name) {
  return !name.empty() && strchr("@$&*~", name[0]) != nullptr;
}

// A name the authz file can hold as an option name: an account or group.
bool AuthzName(const std::string& name) {
  return !name.empty() && !SpecialFirst(name) && !HasNul(name) &&
         NLIBCConfCheckValue(name.c_str(), "r") == 0;
}

// An absolute, canonical path as authz rules take them: "/", "/a/b"; no
// empty, "." or ".." segment, no trailing "/", no control character, no
// "]" (which would end the section's name).
bool RulePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7F || c == ']') return false;
  if (path == "/") return true;
  for (size_t b = 1; b <= path.size();) {
    size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    std::string segment = path.substr(b, e - b);
    if (segment.empty() || segment == "." || segment == "..") return false;
    b = e + 1;
  }
  return true;
}

// The rights an authz value grants, as Subversion reads it ('r' and 'w',
// blanks ignored): "rw", "r" or "".
std::string Rights(const std::string& value) {
  bool r = value.find('r') != std::string::npos;
  bool w = value.find('w') != std::string::npos;
  return r && w ? "rw" : r ? "r" : "";
}

// Splits a group's members as Subversion does: at commas, blanks trimmed,
// empty ones dropped.
std::vector<std::string> Members(const std::string& value) {
  std::vector<std::string> members;
  for (size_t b = 0; b <= value.size();) {
    size_t e = value.find(',', b);
    if (e == std::string::npos) e = value.size();
    std::string m = value.substr(b, e - b);
    m.erase(0, m.find_first_not_of(" \t\v\f\r\n"));
    m.erase(m.find_last_not_of(" \t\v\f\r\n") + 1);
    if (!m.empty()) members.push_back(m);
    b = e + 1;
  }
  return members;
}

// How many members Subversion visits when it expands every group: it
// expands a subgroup again wherever it appears, so a few hundred bytes of
// nested groups can cost it (and svnserve, on every connection) hours.
// Counted in Kahn's order, without recursion, up to `limit` + 1; -1 when
// a group contains itself, directly or through others.
long long GroupExpansion(const SVNRules::Groups& groups, long long limit) {
  std::map<std::string, size_t> index;
  for (const auto& g : groups) index.emplace(g.first, index.size());
  std::vector<long long> size(groups.size(), 0);
  std::vector<size_t> pending(groups.size(), 0);
  std::vector<std::vector<size_t>> parents(groups.size());  // once per reference
  size_t i = 0;
  for (const auto& g : groups) {
    for (const std::string& m : g.second) {
      ++size[i];  // every member is a visit, a subgroup's too
      auto sub = m[0] == '@' ? index.find(m.substr(1)) : index.end();
      if (sub != index.end()) {
        parents[sub->second].push_back(i);
        ++pending[i];
      }
    }
    ++i;
  }
  std::vector<size_t> ready;
  for (i = 0; i < groups.size(); ++i)
    if (pending[i] == 0) ready.push_back(i);
  size_t done = 0;
  long long total = 0;
  while (!ready.empty()) {
    size_t g = ready.back();
    ready.pop_back();
    ++done;
    size[g] = std::min(size[g], limit + 1);
    total = std::min(total + size[g], limit + 1);
    for (size_t p : parents[g]) {
      size[p] = std::min(size[p] + size[g], limit + 1);
      if (--pending[p] == 0) ready.push_back(p);
    }
  }
  return done < groups.size() ? -1 : total;
}


// Whether replace takes `groups` and `rules` as they stand; *why (when
// given) says why not.
bool RulesAcceptable(const SVNRules::Groups& groups, const std::vector<SVNRules::Rule>& rules,
                     SVNStatus* why) {
  auto utf8 = [](const std::string& t) { return NLIBCStrValidUtf8(t.data(), t.size()) != 0; };
  for (const auto& g : groups) {
    bool ok = AuthzName(g.first) && utf8(g.first);
    for (const std::string& m : g.second)
      ok = ok && !m.empty() && m.find(',') == std::string::npos && utf8(m) &&
           (m[0] == '@' ? groups.count(m.substr(1)) == 1 : AuthzName(m));
    if (!ok) {
      if (why != nullptr)
        *why = STATUS_ERROR(kFailed, "Group %s cannot be kept (its name or a member).",
                            AuthzName(g.first) && utf8(g.first) ? g.first.c_str() : "?");
      return false;
    }
  }
  long long work = GroupExpansion(groups, SVNRules::kMaxGroupExpansion);
  if (work < 0 || work > SVNRules::kMaxGroupExpansion) {
    if (why != nullptr)
      *why = work < 0 ? STATUS_ERROR(kFailed, "A group contains itself.")
                      : STATUS_ERROR(kFailed,
                                     "Groups nest too deeply: Subversion would expand them slowly.");
    return false;
  }
  std::set<std::vector<std::string>> seen;
  for (size_t i = 0; i < rules.size(); ++i) {
    const SVNRules::Rule& r = rules[i];
    bool who = r.who == "*" || r.who == "$anonymous" || r.who == "$authenticated" ||
               (!r.who.empty() && r.who[0] == '@' ? groups.count(r.who.substr(1)) == 1
                                                  : AuthzName(r.who));
    if (!RulePath(r.path) || !utf8(r.path) || !who || !utf8(r.who) ||
        (r.access != "rw" && r.access != "r" && !r.access.empty()) ||
        !seen.insert({r.scope, r.path, r.who}).second) {
      if (why != nullptr)
        *why = STATUS_ERROR(kFailed, "Rule %zu cannot be kept (its path, who, access, or twice).",
                            i + 1);
      return false;
    }
  }
  return true;
}

// Account names folded as replace writes them.
void LowerAccounts(SVNRules::Groups* groups, std::vector<SVNRules::Rule>* rules) {
  for (auto& g : *groups)
    for (std::string& m : g.second)
      if (!m.empty() && m[0] != '@') m = FoldLogin(m, "lower");
  for (SVNRules::Rule& r : *rules)
    if (!r.who.empty() && !SpecialFirst(r.who)) r.who = FoldLogin(r.who, "lower");
}


// The strings of a list of the utility library.
std::vector<std::string> Strings(PNLIBSZLIST list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->nItem; ++i) out.push_back(NLIBCSzListGet(list, i));
  return out;
}

// What Subversion's engine goes through over the rules of `file` (and the
// groups `more`, of a groups file): *work, every section of rules (all but
// [groups] and [aliases]) and every entry of those, which it goes through
// once for each user name the rules use (*names: of entries, groups and
// aliases) when it reads them, and once for each login it is asked about.
// The most there is when the file cannot be listed.
void MeasureRules(PNLIBCONF file, const SVNRules::Groups& more, long long* work,
                  long long* names) {
  std::set<std::string> users;
  auto user = [&users](const std::string& n) {
    std::string plain = !n.empty() && n[0] == '~' ? n.substr(1) : n;
    if (!plain.empty() && !SpecialFirst(plain)) users.insert(plain);
  };
  for (const auto& g : more)
    for (const std::string& m : g.second) user(m);
  *work = 0;
  SVNStringList sections(NLIBCSzListAlloc(16)), keys(NLIBCSzListAlloc(16)),
      values(NLIBCSzListAlloc(16));
  if (sections.p == nullptr || keys.p == nullptr || values.p == nullptr ||
      NLIBCConfGetSections(file, &sections.p) < 0) {
    *work = *names = SVNRules::kMaxRuleWork;
    return;
  }
  for (const std::string& section : Strings(sections.p)) {
    if (NLIBCConfGetEntries(file, section.c_str(), &keys.p, &values.p) < 0) continue;
    if (section == kGroups) {
      for (const std::string& v : Strings(values.p))
        for (const std::string& m : Members(v)) user(m);
    } else if (section == "aliases") {
      for (const std::string& v : Strings(values.p)) user(v);
    } else {
      *work += 1 + keys.p->nItem;
      for (const std::string& k : Strings(keys.p)) user(k);
    }
  }
  *names = static_cast<long long>(users.size());
}

// The section of a rule: "/path" for every repository using the file,
// "NAME:/path" for repository NAME alone.
std::string SectionOf(const SVNRules::Rule& r, const std::string& repo) {
  return r.scope == "repository" ? repo + ":" + r.path : r.path;
}

// Whether a repository's name can stand in a section's name: a name
// holding ':' or ']' would be read as another section.
bool NameInSection(const std::string& repo) {
  return repo.find_first_of(":]") == std::string::npos;
}

// The repository and the file in it that a "file://" location names, as
// svnserve finds them.
SVNStatus FromFileUrl(const std::string& url, std::string* repo, std::string* file) {
  const SVNLibrary* lib = nullptr;
  SVNStatus status = LoadSubversion(&lib);
  if (!status.ok()) return status;
  SVNPool pool(lib);
  const char *canonical = nullptr, *dirent = nullptr;
  svn_error_t* err = lib->uriCanonicalize(&canonical, nullptr, url.c_str(), pool.get(), pool.get());
  if (err == nullptr && strncmp(canonical, "file://", 7) != 0)
    return STATUS_ERROR(kFailed, "The rules' location %s is not a file URL: svnserve cannot "
                        "read them.", url.c_str());
  if (err == nullptr) err = lib->direntFromFileUrl(&dirent, canonical, pool.get());
  if (err != nullptr)
    return STATUS_ERROR(kFailed, "The rules' location %s is not a file URL: %s", url.c_str(),
                        lib->takeMessage(err).c_str());
  const char* root = lib->findRootPath(dirent, pool.get());
  if (root == nullptr)
    return STATUS_ERROR(kFailed, "The rules' location %s is in no repository.", url.c_str());
  *repo = root;
  *file = std::string(dirent).substr(repo->size());
  if (file->empty()) *file = "/";
  return SVNStatus();
}

}  // namespace

SVNRules::~SVNRules() {}

SVNStatus SVNRules::Open(const SVNRepo& repo, int flags, std::unique_ptr<SVNRules>* rules) {
  std::unique_ptr<SVNRules> r(new SVNRules);
  SVNStatus status = r->read(repo, flags & ~kMeasure, (flags & kMeasure) == 0);
  if (status.ok()) *rules = std::move(r);
  return status;
}

void SVNRules::handmade(const std::string& why) {
  if (reason_.empty()) reason_ = why;
}

SVNStatus SVNRules::load(const SVNRepo& repo, const std::string& location, int flags,
                         SVNConfFile* conf) {
  std::string text, inRepo, file;
  SVNStatus status;
  if (location.compare(0, 2, "^/") == 0) {
    inRepository_ = true;
    inRepo = repo.getPath();
    file = location.substr(1);
  } else if (RepositoryLocation(location)) {
    // svnserve reads only file:// URLs, once canonical (any case of the
    // scheme).
    status = FromFileUrl(location, &inRepo, &file);
    if (status.ok()) inRepository_ = true;
  } else {
    conf->reset(NLIBCConfOpen(location.c_str(), flags | NLIBC_CONF_EXACT));
    if (conf->p == nullptr)
      return STATUS_ERROR(kFailed, "Read rules from %s failed.[0x%04X]", location.c_str(),
                          NLIBCErrGet());
    return SVNStatus();
  }
  if (status.ok()) status = ReadRepositoryFile(inRepo, file, &text);
  if (status.ok()) {
    conf->reset(NLIBCConfParse(text.data(), text.size(), NLIBC_CONF_EXACT));
    if (conf->p == nullptr)
      status = STATUS_ERROR(kFailed, "Read rules from %s failed.[0x%04X]", location.c_str(),
                            NLIBCErrGet());
  }
  return status;
}

SVNStatus SVNRules::read(const SVNRepo& repo, int openFlags, bool withEngine) {
  const std::string& name = repo.getName();
  const std::string confDir = repo.getPath() + "/conf";
  repoName_ = name;
  // authz-db absent: no rules in force, and conf/authz is where the page
  // keeps them; present, even empty, it is what svnserve reads.
  std::optional<std::string> value = repo.setting(kAuthzDb);
  active_ = value.has_value();
  const std::string db = value.value_or("authz");
  const std::string location = SettingLocation(kAuthzDb, db, confDir);
  SVNStatus status = load(repo, location, openFlags | (active_ ? 0 : NLIBC_CONF_OPTIONAL), &file_);
  if (inRepository_)
    handmade("The rules are kept in a repository (authz-db = " + db +
             "): they change with a commit there, not here.");
  if (!status.ok()) {
    // svnserve refuses every connection over rules it cannot read.
    status.Log();
    refused_ = active_;
    handmade(active_ ? "The rules file (authz-db = " + db +
                           ") cannot be read: svnserve refuses every connection to this "
                           "repository until it is mended by hand."
                     : "The file for rules (conf/authz) cannot be read: mend it by hand.");
    file_.reset();
    return SVNStatus();
  }
  // A separate groups file (groups-db) is for editing by hand.
  std::optional<std::string> groupsDb = repo.setting(kGroupsDb);
  std::string groupsText;
  Groups dbGroups;  // of the groups file
  // A login name the file uses, inverted ("~name") or not.
  auto noteName = [this](const std::string& n) {
    std::string plain = !n.empty() && n[0] == '~' ? n.substr(1) : n;
    if (!plain.empty() && !SpecialFirst(plain)) names_.insert(plain);
  };
  SVNStringList names(NLIBCSzListAlloc(16)), values(NLIBCSzListAlloc(16));
  if (names.p == nullptr || values.p == nullptr)
    return STATUS_ERROR(kFailed, "NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
  if (groupsDb) {
    handmade("The groups are kept in a file of their own (groups-db): edit the rules by hand.");
    SVNConfFile groupsFile;
    const bool inRepo = inRepository_;
    status = load(repo, SettingLocation(kGroupsDb, *groupsDb, confDir), 0, &groupsFile);
    inRepository_ = inRepo;
    unsigned long size = 0;
    const char* text = status.ok() ? NLIBCConfText(groupsFile.p, &size) : nullptr;
    if (text == nullptr && active_) {
      STATUS_WITH(status, "Read groups of %s failed.", name.c_str());
      status.Log();
      refused_ = true;
    }
    if (text != nullptr) {
      groupsText.assign(text, size);
      if (NLIBCConfGetEntries(groupsFile.p, kGroups, &names.p, &values.p) == 0) {
        std::vector<std::string> group = Strings(names.p), members = Strings(values.p);
        for (size_t i = 0; i < group.size(); ++i)
          for (const std::string& m : dbGroups[group[i]] = Members(members[i])) noteName(m);
      }
    }
  }
  // What the file says; whether or not it binds, it is what an edit keeps.
  Groups readGroups;
  std::vector<Rule> readRules;
  std::map<std::pair<std::string, std::string>, size_t> at;  // (section, who)
  auto utf8 = [](const std::string& t) { return NLIBCStrValidUtf8(t.data(), t.size()) != 0; };
  SVNStringList sections(NLIBCSzListAlloc(16));
  if (sections.p == nullptr || NLIBCConfGetSections(file_.p, &sections.p) < 0)
    return STATUS_ERROR(kFailed, "Read rules of %s failed.[0x%04X]", name.c_str(), NLIBCErrGet());
  const std::vector<std::string> all = Strings(sections.p);
  for (const std::string& section : all) {
    // "[/path]" binds every repository using the file, "[NAME:/path]"
    // this one; globs bind in ways the page does not show; other
    // repositories' rules and [aliases] are kept as they are (the names
    // aliases stand for are logins all the same).
    const size_t colon = section[0] == '/' ? std::string::npos : section.find(':');
    const std::string owner = colon != std::string::npos ? section.substr(0, colon) : "";
    const bool isGroups = section == kGroups;
    const bool glob = colon != std::string::npos && section.compare(colon, 6, ":glob:") == 0;
    const bool mine = section[0] == '/' || (colon != std::string::npos && owner == name &&
                                            !glob && section[colon + 1] == '/');
    if (glob && (owner.empty() || owner == name))
      handmade("The rules use glob sections ([" + section + "]), which this page does not show.");
    if (section == "aliases" &&
        NLIBCConfGetEntries(file_.p, section.c_str(), &names.p, &values.p) == 0) {
      for (const std::string& n : Strings(values.p)) noteName(n);
      if (names.p->nItem > 0)
        handmade("The rules use aliases ([aliases]), which this page does not show.");
    }
    if (!isGroups && !mine) continue;
    if (NLIBCConfGetEntries(file_.p, section.c_str(), &names.p, &values.p) < 0) continue;
    std::vector<std::string> who = Strings(names.p), what = Strings(values.p);
    const std::string path = colon == std::string::npos ? section : section.substr(colon + 1);
    const char* scope = colon == std::string::npos ? "all" : "repository";
    for (size_t i = 0; i < who.size(); ++i) {
      if (!utf8(what[i]) || !utf8(who[i]))
        handmade("The rules file holds text that is not UTF-8: edit it by hand.");
      if (isGroups) {
        readGroups[who[i]] = Members(what[i]);
        for (const std::string& m : readGroups[who[i]]) {
          if (m[0] == '&') handmade("The groups use aliases (&name), which this page does not show.");
          noteName(m);
        }
        continue;
      }
      if (who[i][0] == '~') handmade("The rules use inverted entries (~name), which this page does not show.");
      if (who[i][0] == '&') handmade("The rules use aliases (&name), which this page does not show.");
      noteName(who[i]);
      auto known = at.find({section, who[i]});
      if (known == at.end()) {
        at[{section, who[i]}] = readRules.size();
        readRules.push_back({path, who[i], Rights(what[i]), scope});
      } else {  // repeated entries add up
        Rule& r = readRules[known->second];
        r.access = Rights(r.access + what[i]);
      }
    }
  }
  // What cannot go to the page and come back meaning the same is edited
  // by hand: anything replace would refuse, and names that can match no
  // login because svnserve folds logins to another case.
  const std::string folding = repo.setting(kForceUsernameCase).value_or("");
  for (const std::string& n : names_)
    if (FoldLogin(n, folding) != n)
      handmade("The rules name " + n + ", a login svnserve never sees: it folds logins (" +
               "force-username-case = " + folding + ").");
  Groups asWritten = readGroups;
  std::vector<Rule> rulesAsWritten = readRules;
  LowerAccounts(&asWritten, &rulesAsWritten);
  if (!RulesAcceptable(asWritten, rulesAsWritten, nullptr))
    handmade("The rules hold entries this page cannot write back as they are (a path, a name "
             "or a group it would refuse): edit them by hand.");
  groups_ = fileGroups_ = readGroups;
  rules_ = fileRules_ = readRules;
  // None in force: the groups and rules are those that bind once
  // authz-db names the file, which an edit keeps unless it changes them
  // (the file may be another repository's, in force there).
  if (!active_) {
    names_.clear();
    return SVNStatus();
  }
  if (refused_) return SVNStatus();
  // svnserve refuses every connection over rules it cannot read, and
  // crawls over groups that nest too deeply: neither is given to the
  // engine, nor rules whose table is over a bound (it could never be
  // shown; they are read all the same, to be replaced).
  Groups expanded = dbGroups;
  expanded.insert(readGroups.begin(), readGroups.end());
  long long work = groupExpansion_ = GroupExpansion(expanded, kMaxGroupExpansion);
  MeasureRules(file_.p, dbGroups, &ruleWork_, &userNames_);
  if (work < 0 || work > kMaxGroupExpansion) {
    refused_ = work < 0;
    LOG_LINE("Groups of %s contain themselves or nest too deeply.", name.c_str());
    handmade(work < 0 ? "A group contains itself: svnserve refuses every connection to this "
                        "repository until the rules are mended by hand."
                      : "The groups nest so deeply that svnserve would take very long to "
                        "expand them: edit them by hand.");
    return SVNStatus();
  }
  if (!withEngine || AccessLoad(repo, *this) > 1) return SVNStatus();
  unsigned long size = 0;
  const char* text = NLIBCConfText(file_.p, &size);
  status = SVNAuthzEngine::Parse(std::string(text, size), groupsText, &engine_);
  if (!status.ok()) {
    STATUS_WITH(status, "Rules of %s are not valid.", name.c_str());
    status.Log();
    refused_ = true;
    handmade("Subversion refuses these rules: svnserve refuses every connection to this "
             "repository until they are mended by hand.");
  }
  return SVNStatus();
}

SVNStatus SVNRules::replace(const Groups& requestedGroups, const std::vector<Rule>& requested,
                            bool shared, SVNRepo* repo) {
  const std::string& name = repoName_;
  if (file() == nullptr || !editable())
    return STATUS_ERROR(kHandmade, "Rules of %s are edited by hand: %s", name.c_str(),
                        reason_.empty() ? "they cannot be read" : reason_.c_str())
        .Reason(reason_.empty() ? "The rules cannot be read." : reason_);
  // svnserve checks logins folded to lower case once rules bind (see
  // below), so that no spelling of an account escapes a rule naming it:
  // account names in rules and groups are written in lower case.
  Groups groups = requestedGroups;
  std::vector<Rule> rules = requested;
  for (Rule& r : rules)
    if (r.scope.empty()) r.scope = shared && NameInSection(name) ? "repository" : "all";
  LowerAccounts(&groups, &rules);
  SVNStatus status;
  if (!RulesAcceptable(groups, rules, &status)) return status;
  for (const Rule& r : rules) {
    if (r.scope != "all" && r.scope != "repository")
      return STATUS_ERROR(kFailed, "A rule's scope is not known.");
    if (r.scope == "repository" && !NameInSection(name))
      return STATUS_ERROR(kHandmade, "Rules of %s cannot name it in a section.", name.c_str())
          .Reason("The repository's name holds \":\" or \"]\", which a rules file cannot "
                  "name in a section: rules for this repository alone cannot be written.");
  }
  // Groups and rules of every repository using the file: what changes
  // there reaches them all.
  std::set<std::vector<std::string>> oldAll, newAll;
  for (const Rule& r : fileRules_)
    if (r.scope == "all") oldAll.insert({r.path, r.who, r.access});
  for (const Rule& r : rules)
    if (r.scope == "all") newAll.insert({r.path, r.who, r.access});
  // One edit: [groups], each rule's section, and the sections of this
  // repository's rules no rule keeps removed.
  std::vector<std::string> sectionNames;
  std::map<std::string, size_t> sectionAt;
  for (const Rule& r : rules) {
    std::string s = SectionOf(r, name);
    if (sectionAt.emplace(s, sectionNames.size()).second) sectionNames.push_back(s);
  }
  std::vector<std::unique_ptr<SVNStringHash>> hashes(sectionNames.size() + 1);
  for (auto& h : hashes) {
    h.reset(new SVNStringHash(NLIBCSzHashAlloc(8)));
    if (h->p == nullptr) return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  }
  bool ok = true;
  for (const auto& g : groups) {
    std::string members;
    for (const std::string& m : g.second) members += (members.empty() ? "" : ", ") + m;
    ok = ok && NLIBCSzHashSetValue(&hashes[0]->p, g.first.c_str(), members.c_str()) == 0;
  }
  for (const Rule& r : rules)
    ok = ok && NLIBCSzHashSetValue(&hashes[sectionAt[SectionOf(r, name)] + 1]->p, r.who.c_str(),
                                   r.access.c_str()) == 0;
  std::vector<const char*> names{kGroups};
  std::vector<PNLIBSZHASH> pairs{hashes[0]->p};
  for (size_t i = 0; i < sectionNames.size(); ++i) {
    names.push_back(sectionNames[i].c_str());
    pairs.push_back(hashes[i + 1]->p);
  }
  SVNStringList sections(NLIBCSzListAlloc(16));
  ok = ok && sections.p != nullptr && NLIBCConfGetSections(file_.p, &sections.p) == 0;
  std::vector<std::string> existing = ok ? Strings(sections.p) : std::vector<std::string>();
  const std::string own = name + ":/";
  for (const std::string& section : existing)
    if ((section[0] == '/' || section.compare(0, own.size(), own) == 0) &&
        !sectionAt.count(section)) {
      names.push_back(section.c_str());
      pairs.push_back(nullptr);
    }
  if (!ok || NLIBCConfSetSections(file_.p, static_cast<int>(names.size()), names.data(),
                                  pairs.data()) < 0)
    return STATUS_ERROR(kFailed, "Write the rules of %s failed.[0x%04X]", name.c_str(),
                        NLIBCErrGet());
  // Rules bind once authz-db names their file, with logins folded to lower
  // case; without rules authz-db is commented out and the file kept.
  if (!rules.empty() && ((!active_ && !(status = repo->setSetting(kAuthzDb, "authz")).ok()) ||
                         !(status = repo->setSetting(kForceUsernameCase, "lower")).ok()))
    return status;
  if (rules.empty() && active_ && !(status = repo->setSetting(kAuthzDb, nullptr)).ok())
    return STATUS_WITH(status, "Comment out authz-db failed.");
  // Turned off, the settings go first: rules emptied while authz-db still
  // named them would let nobody in.
  writeFirst_ = !(active_ && rules.empty());
  changedForAll_ = groups != fileGroups_ || newAll != oldAll;
  active_ = !rules.empty();
  groups_ = groups;
  rules_ = rules;
  // Measured as a later read measures them (the names the rules use
  // matter only to logins that are not folded: with rules, they are):
  // what could not be shown again is not written.
  ruleWork_ = userNames_ = groupExpansion_ = 0;
  if (active_) {
    MeasureRules(file_.p, Groups(), &ruleWork_, &userNames_);
    groupExpansion_ = GroupExpansion(groups, kMaxGroupExpansion);
  }
  if (AccessLoad(*repo, *this) > 1)
    return STATUS_ERROR(kFailed, "What the logins of %s may do under these rules would be too "
                        "much to show.", name.c_str());
  // Subversion must read the file as meant.
  unsigned long size = 0;
  const char* text = NLIBCConfText(file_.p, &size);
  status = SVNAuthzEngine::Parse(std::string(text, size), std::string(), &engine_);
  if (!status.ok()) return STATUS_WITH(status, "The rules of %s would not be valid.", name.c_str());
  return SVNStatus();
}
