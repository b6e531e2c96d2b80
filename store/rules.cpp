// rules.cpp: a repository's access rules: reading them as Subversion
// reads them, telling what the page may edit, and giving them to
// Subversion's engine.

#include "store/rules.h"

#include <string.h>

#include <map>
#include <set>

#include "nlibc.h"
#include "store/facts.h"
#include "store/repo.h"
#include "store/rules_text.h"
#include "store/setting_table.h"
#include "store/subversion.h"

#define LOG_MODULE "svn_repo"

using namespace authz_text;

namespace {

// The repository and the file in it that a "file://" location names, as
// svnserve finds them.
SVNStatus FromFileUrl(const std::string& url, std::string* repo, std::string* file) {
  const SVNLibrary* lib = nullptr;
  STATUS_TRY(LoadSubversion(&lib));
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

SVNStatus SVNRules::Open(const SVNRepo& repo, std::unique_ptr<SVNRules>* rules, int use) {
  std::unique_ptr<SVNRules> r(new SVNRules);
  STATUS_TRY(r->read(repo, repo.openFlags(), (use & kMeasure) == 0));
  *rules = std::move(r);
  return SVNStatus();
}

void SVNRules::handmade(const std::string& why) {
  if (reason_.empty()) reason_ = why;
}

void SVNRules::noteName(const std::string& n) {
  std::string plain = !n.empty() && n[0] == '~' ? n.substr(1) : n;
  if (!plain.empty() && !SpecialFirst(plain)) names_.insert(plain);
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
  repoName_ = repo.getName();
  if (!readFile(repo, openFlags)) return SVNStatus();
  Groups dbGroups;  // of a groups file
  std::string groupsText;
  readGroupsFile(repo, &dbGroups, &groupsText);
  STATUS_TRY(classify(repo));
  // None in force: the groups and rules are those that bind once
  // authz-db names the file, which an edit keeps unless it changes them
  // (the file may be another repository's, in force there).
  if (!active_) {
    names_.clear();
    return SVNStatus();
  }
  if (refused_ || !measure(dbGroups)) return SVNStatus();
  if (withEngine && AccessLoad(repo, *this) <= 1) checkWithEngine(groupsText);
  return SVNStatus();
}

bool SVNRules::readFile(const SVNRepo& repo, int openFlags) {
  // authz-db absent: no rules in force, and conf/authz is where the page
  // keeps them; present, even empty, it is what svnserve reads.
  std::optional<std::string> value = repo.setting(kAuthzDb);
  active_ = value.has_value();
  const std::string db = value.value_or("authz");
  const std::string location = repo.locate(kAuthzDb, db);
  SVNStatus status =
      load(repo, location, openFlags | (active_ ? 0 : NLIBC_CONF_OPTIONAL), &file_);
  if (inRepository_)
    handmade("The rules are kept in a repository (authz-db = " + db +
             "): they change with a commit there, not here.");
  if (status.ok()) return true;
  // svnserve refuses every connection over rules it cannot read.
  status.Log();
  refused_ = active_;
  handmade(active_ ? "The rules file (authz-db = " + db +
                         ") cannot be read: svnserve refuses every connection to this "
                         "repository until it is mended by hand."
                   : "The file for rules (conf/authz) cannot be read: mend it by hand.");
  file_.reset();
  return false;
}

void SVNRules::readGroupsFile(const SVNRepo& repo, Groups* groups, std::string* text) {
  // A separate groups file (groups-db) is for editing by hand.
  std::optional<std::string> groupsDb = repo.setting(kGroupsDb);
  if (!groupsDb) return;
  handmade("The groups are kept in a file of their own (groups-db): edit the rules by hand.");
  SVNConfFile groupsFile;
  const bool inRepo = inRepository_;
  SVNStatus status = load(repo, repo.locate(kGroupsDb, *groupsDb), 0, &groupsFile);
  inRepository_ = inRepo;
  unsigned long size = 0;
  const char* read = status.ok() ? NLIBCConfText(groupsFile.p, &size) : nullptr;
  if (read == nullptr) {
    if (!active_) return;
    STATUS_WITH(status, "Read groups of %s failed.", repoName_.c_str());
    status.Log();
    refused_ = true;
    return;
  }
  text->assign(read, size);
  SVNStringList names(NLIBCSzListAlloc(16)), values(NLIBCSzListAlloc(16));
  if (names.p == nullptr || values.p == nullptr ||
      NLIBCConfGetEntries(groupsFile.p, kGroups, &names.p, &values.p) != 0)
    return;
  std::vector<std::string> group = Strings(names.p), members = Strings(values.p);
  for (size_t i = 0; i < group.size(); ++i)
    for (const std::string& m : (*groups)[group[i]] = Members(members[i])) noteName(m);
}

SVNStatus SVNRules::classify(const SVNRepo& repo) {
  // What the file says; whether or not it binds, it is what an edit keeps.
  SVNStringList sections(NLIBCSzListAlloc(16));
  if (sections.p == nullptr || NLIBCConfGetSections(file_.p, &sections.p) < 0)
    return STATUS_ERROR(kFailed, "Read rules of %s failed.[0x%04X]", repoName_.c_str(),
                        NLIBCErrGet());
  std::map<std::pair<std::string, std::string>, size_t> at;  // (section, who)
  for (const std::string& section : Strings(sections.p))
    STATUS_TRY(readSection(section, &at));
  // What cannot go to the page and come back meaning the same is edited
  // by hand: anything replace would refuse, and names that can match no
  // login because svnserve folds logins to another case.
  const std::string folding = repo.setting(kForceUsernameCase).value_or("");
  for (const std::string& n : names_)
    if (FoldLogin(n, folding) != n)
      handmade("The rules name " + n + ", a login svnserve never sees: it folds logins (" +
               "force-username-case = " + folding + ").");
  Groups asWritten = fileGroups_;
  std::vector<Rule> rulesAsWritten = fileRules_;
  LowerAccounts(&asWritten, &rulesAsWritten);
  if (!RulesAcceptable(asWritten, rulesAsWritten, nullptr))
    handmade("The rules hold entries this page cannot write back as they are (a path, a name "
             "or a group it would refuse): edit them by hand.");
  groups_ = fileGroups_;
  rules_ = fileRules_;
  return SVNStatus();
}

SVNStatus SVNRules::readSection(const std::string& section,
                                std::map<std::pair<std::string, std::string>, size_t>* at) {
  // "[/path]" binds every repository using the file, "[NAME:/path]"
  // this one; globs bind in ways the page does not show; other
  // repositories' rules and [aliases] are kept as they are (the names
  // aliases stand for are logins all the same).
  const std::string& name = repoName_;
  const size_t colon = section[0] == '/' ? std::string::npos : section.find(':');
  const std::string owner = colon != std::string::npos ? section.substr(0, colon) : "";
  const bool isGroups = section == kGroups;
  const bool glob = colon != std::string::npos && section.compare(colon, 6, ":glob:") == 0;
  const bool mine = section[0] == '/' || (colon != std::string::npos && owner == name && !glob &&
                                          section[colon + 1] == '/');
  if (glob && (owner.empty() || owner == name))
    handmade("The rules use glob sections ([" + section + "]), which this page does not show.");
  SVNStringList names(NLIBCSzListAlloc(16)), values(NLIBCSzListAlloc(16));
  if (names.p == nullptr || values.p == nullptr)
    return STATUS_ERROR(kFailed, "NLIBCSzListAlloc Fail, nimberr=[0x%04X]", NLIBCErrGet());
  if (section == "aliases" &&
      NLIBCConfGetEntries(file_.p, section.c_str(), &names.p, &values.p) == 0) {
    for (const std::string& n : Strings(values.p)) noteName(n);
    if (names.p->nItem > 0)
      handmade("The rules use aliases ([aliases]), which this page does not show.");
  }
  if (!isGroups && !mine) return SVNStatus();
  if (NLIBCConfGetEntries(file_.p, section.c_str(), &names.p, &values.p) < 0) return SVNStatus();
  const std::vector<std::string> who = Strings(names.p), what = Strings(values.p);
  const std::string path = colon == std::string::npos ? section : section.substr(colon + 1);
  const char* scope = colon == std::string::npos ? "all" : "repository";
  for (size_t i = 0; i < who.size(); ++i) {
    if (!NLIBCStrValidUtf8(what[i].data(), what[i].size()) ||
        !NLIBCStrValidUtf8(who[i].data(), who[i].size()))
      handmade("The rules file holds text that is not UTF-8: edit it by hand.");
    if (isGroups) {
      readGroup(who[i], what[i]);
      continue;
    }
    if (who[i][0] == '~') handmade("The rules use inverted entries (~name), which this page does not show.");
    if (who[i][0] == '&') handmade("The rules use aliases (&name), which this page does not show.");
    noteName(who[i]);
    auto known = at->find({section, who[i]});
    if (known == at->end()) {
      (*at)[{section, who[i]}] = fileRules_.size();
      fileRules_.push_back({path, who[i], Rights(what[i]), scope});
    } else {  // repeated entries add up
      Rule& r = fileRules_[known->second];
      r.access = Rights(r.access + what[i]);
    }
  }
  return SVNStatus();
}

void SVNRules::readGroup(const std::string& group, const std::string& value) {
  std::vector<std::string>& members = fileGroups_[group] = Members(value);
  for (const std::string& m : members) {
    if (m[0] == '&') handmade("The groups use aliases (&name), which this page does not show.");
    noteName(m);
  }
}

bool SVNRules::measure(const Groups& dbGroups) {
  // svnserve refuses every connection over rules it cannot read, and
  // crawls over groups that nest too deeply: neither is given to the
  // engine, nor rules whose table is over a bound (it could never be
  // shown; they are read all the same, to be replaced).
  Groups expanded = dbGroups;
  expanded.insert(fileGroups_.begin(), fileGroups_.end());
  const long long work = groupExpansion_ = GroupExpansion(expanded, kMaxGroupExpansion);
  MeasureRules(file_.p, dbGroups, &ruleWork_, &userNames_);
  if (work >= 0 && work <= kMaxGroupExpansion) return true;
  refused_ = work < 0;
  LOG_LINE("Groups of %s contain themselves or nest too deeply.", repoName_.c_str());
  handmade(work < 0 ? "A group contains itself: svnserve refuses every connection to this "
                      "repository until the rules are mended by hand."
                    : "The groups nest so deeply that svnserve would take very long to "
                      "expand them: edit them by hand.");
  return false;
}

void SVNRules::checkWithEngine(const std::string& groupsText) {
  unsigned long size = 0;
  const char* text = NLIBCConfText(file_.p, &size);
  SVNStatus status = SVNAuthzEngine::Parse(std::string(text, size), groupsText, &engine_);
  if (status.ok()) return;
  STATUS_WITH(status, "Rules of %s are not valid.", repoName_.c_str());
  status.Log();
  refused_ = true;
  handmade("Subversion refuses these rules: svnserve refuses every connection to this "
           "repository until they are mended by hand.");
}
