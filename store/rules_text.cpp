// rules_text.cpp: the authz file's text as Subversion reads it.

#include "store/rules_text.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "store/setting_table.h"

#define LOG_MODULE "svn_repo"

namespace authz_text {

const char kGroups[] = "groups";

namespace {

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

}  // namespace

bool SpecialFirst(const std::string& name) {
  return !name.empty() && strchr("@$&*~", name[0]) != nullptr;
}

bool AuthzName(const std::string& name) {
  return !name.empty() && !SpecialFirst(name) && !HasNul(name) &&
         NLIBCConfCheckValue(name.c_str(), "r") == 0;
}

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

std::string Rights(const std::string& value) {
  bool r = value.find('r') != std::string::npos;
  bool w = value.find('w') != std::string::npos;
  return r && w ? "rw" : r ? "r" : "";
}

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

long long GroupExpansion(const SVNRules::Groups& groups, long long limit) {
  // Counted in Kahn's order, without recursion.
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

void LowerAccounts(SVNRules::Groups* groups, std::vector<SVNRules::Rule>* rules) {
  for (auto& g : *groups)
    for (std::string& m : g.second)
      if (!m.empty() && m[0] != '@') m = FoldLogin(m, "lower");
  for (SVNRules::Rule& r : *rules)
    if (!r.who.empty() && !SpecialFirst(r.who)) r.who = FoldLogin(r.who, "lower");
}

std::vector<std::string> Strings(PNLIBSZLIST list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->nItem; ++i) out.push_back(NLIBCSzListGet(list, i));
  return out;
}

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

std::string SectionOf(const SVNRules::Rule& r, const std::string& repo) {
  return r.scope == "repository" ? repo + ":" + r.path : r.path;
}

bool NameInSection(const std::string& repo) {
  return repo.find_first_of(":]") == std::string::npos;
}


}  // namespace authz_text
