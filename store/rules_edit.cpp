// rules_edit.cpp: replacing a repository's access rules.

#include <map>
#include <set>

#include "nlibc.h"
#include "store/repo.h"
#include "store/rules.h"
#include "store/rules_text.h"
#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

using namespace authz_text;

namespace {

// Groups and rules of every repository using the file: what changes there
// reaches them all.
std::set<std::vector<std::string>> ForAll(const std::vector<SVNRules::Rule>& rules) {
  std::set<std::vector<std::string>> all;
  for (const SVNRules::Rule& r : rules)
    if (r.scope == "all") all.insert({r.path, r.who, r.access});
  return all;
}

}  // namespace

SVNStatus SVNRules::replace(const Groups& requestedGroups, const std::vector<Rule>& requested,
                            bool shared, SVNRepo* repo) {
  if (file() == nullptr || !editable())
    return STATUS_ERROR(kHandmade, "Rules of %s are edited by hand: %s", repoName_.c_str(),
                        reason_.empty() ? "they cannot be read" : reason_.c_str())
        .Reason(reason_.empty() ? "The rules cannot be read." : reason_);
  Groups groups = requestedGroups;
  std::vector<Rule> rules = requested;
  STATUS_TRY(prepare(shared, &groups, &rules));
  STATUS_TRY(writeSections(groups, rules));
  STATUS_TRY(switchRules(repo, !rules.empty()));
  changedForAll_ = groups != fileGroups_ || ForAll(rules) != ForAll(fileRules_);
  active_ = !rules.empty();
  groups_ = groups;
  rules_ = rules;
  return checkReplaced(*repo);
}

SVNStatus SVNRules::prepare(bool shared, Groups* groups, std::vector<Rule>* rules) const {
  const std::string& name = repoName_;
  // svnserve checks logins folded to lower case once rules bind (see
  // switchRules), so that no spelling of an account escapes a rule naming
  // it: account names in rules and groups are written in lower case.
  for (Rule& r : *rules)
    if (r.scope.empty()) r.scope = shared && NameInSection(name) ? "repository" : "all";
  LowerAccounts(groups, rules);
  SVNStatus status;
  if (!RulesAcceptable(*groups, *rules, &status)) return status;
  for (const Rule& r : *rules) {
    if (r.scope != "all" && r.scope != "repository")
      return STATUS_ERROR(kFailed, "A rule's scope is not known.");
    if (r.scope == "repository" && !NameInSection(name))
      return STATUS_ERROR(kHandmade, "Rules of %s cannot name it in a section.", name.c_str())
          .Reason("The repository's name holds \":\" or \"]\", which a rules file cannot "
                  "name in a section: rules for this repository alone cannot be written.");
  }
  return SVNStatus();
}

SVNStatus SVNRules::writeSections(const Groups& groups, const std::vector<Rule>& rules) {
  const std::string& name = repoName_;
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
  return SVNStatus();
}

SVNStatus SVNRules::switchRules(SVNRepo* repo, bool on) {
  // Rules bind once authz-db names their file, with logins folded to lower
  // case; without rules authz-db is commented out and the file kept.
  if (on) {
    if (!active_) STATUS_TRY(repo->setSetting(kAuthzDb, "authz"));
    STATUS_TRY(repo->setSetting(kForceUsernameCase, "lower"));
  } else if (active_) {
    STATUS_TRY_WITH(repo->setSetting(kAuthzDb, nullptr), "Comment out authz-db failed.");
  }
  // Turned off, the settings go first: rules emptied while authz-db still
  // named them would let nobody in.
  writeFirst_ = on || !active_;
  return SVNStatus();
}

SVNStatus SVNRules::checkReplaced(const SVNRepo& repo) {
  // Measured as a later read measures them (the names the rules use
  // matter only to logins that are not folded: with rules, they are):
  // what could not be shown again is not written.
  ruleWork_ = userNames_ = groupExpansion_ = 0;
  if (active_) {
    MeasureRules(file_.p, Groups(), &ruleWork_, &userNames_);
    groupExpansion_ = GroupExpansion(groups_, kMaxGroupExpansion);
  }
  if (AccessLoad(repo, *this) > 1)
    return STATUS_ERROR(kFailed, "What the logins of %s may do under these rules would be too "
                        "much to show.", repoName_.c_str());
  // Subversion must read the file as meant.
  unsigned long size = 0;
  const char* text = NLIBCConfText(file_.p, &size);
  SVNStatus status = SVNAuthzEngine::Parse(std::string(text, size), std::string(), &engine_);
  if (!status.ok())
    return STATUS_WITH(status, "The rules of %s would not be valid.", repoName_.c_str());
  return SVNStatus();
}

SVNStatus SaveRepoAndRules(SVNRepo* repo, SVNRules* rules) {
  return repo->save(rules->file(), rules->writeFirst());
}
