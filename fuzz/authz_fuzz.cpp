// Fuzz target: access rules.  An authz file of arbitrary bytes, then
// groups and rules built from the input, set through SVNRepo::setRules and
// saved.  Invariants: no crash; a refused edit leaves both files
// byte-identical; an accepted one reads back as the same groups and rules,
// and Subversion's own engine decides every access on the file written as
// it decides on a plain file of those rules (when the old file held
// nothing else that binds this repository).

#include <fuzzer/FuzzedDataProvider.h>
#include <stdarg.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "conf_text.h"
#include "fuzz_support.h"
#include "store/authz_engine.h"
#include "store/repo.h"
#include "store/rules.h"

namespace {

const std::string kConf = SVN_PACKAGE_DIR "/repo/fuzz/conf/";

std::string Pick(FuzzedDataProvider* in, std::initializer_list<const char*> known) {
  size_t n = in->ConsumeIntegralInRange<size_t>(0, known.size());
  return n < known.size() ? *(known.begin() + n) : in->ConsumeRandomLengthString(8);
}

// A plain authz text of the groups and rules.
std::string Plain(const SVNRules::Groups& groups, const std::vector<SVNRules::Rule>& rules) {
  std::string text = "[groups]\n";
  for (const auto& g : groups) {
    text += g.first + " = ";
    for (size_t i = 0; i < g.second.size(); ++i) text += (i ? ", " : "") + g.second[i];
    text += "\n";
  }
  auto section = [](const SVNRules::Rule& r) {
    return r.scope == "repository" ? "fuzz:" + r.path : r.path;
  };
  std::vector<std::string> sections;
  for (const auto& r : rules)
    if (std::find(sections.begin(), sections.end(), section(r)) == sections.end())
      sections.push_back(section(r));
  for (const std::string& s : sections) {
    text += "[" + s + "]\n";
    for (const auto& r : rules)
      if (section(r) == s) text += r.who + " = " + r.access + "\n";
  }
  return text;
}

// Account names are written in lower case (svnserve checks logins so once
// rules bind); groups and the special names keep theirs.
std::string Written(std::string who) {
  if (who.empty() || who[0] == '@' || who[0] == '*' || who[0] == '$') return who;
  for (char& c : who) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return who;
}

std::set<std::vector<std::string>> AsSet(const std::vector<SVNRules::Rule>& rules) {
  std::set<std::vector<std::string>> out;
  for (const auto& r : rules) out.insert({r.path, r.who, r.access, r.scope});
  return out;
}

}  // namespace

// The program's log is not looked at here.
extern "C" void syslog(int, const char*, ...) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzRepository(SVN_PACKAGE_DIR);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool active = in.ConsumeBool();
  const bool shared = in.ConsumeBool();  // a rule without scope is this repository's
  SVNRules::Groups groups;
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    std::vector<std::string>& members = groups[Pick(&in, {"devs", "ops", "All"})];
    for (int m = in.ConsumeIntegralInRange(0, 3); m > 0; --m)
      members.push_back(Pick(&in, {"alice", "bob", "Carol", "@devs", "@ops"}));
  }
  std::vector<SVNRules::Rule> rules;
  for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n)
    rules.push_back({Pick(&in, {"/", "/trunk", "/trunk/a", "/tags"}),
                     Pick(&in, {"alice", "bob", "*", "$anonymous", "$authenticated", "@devs"}),
                     Pick(&in, {"rw", "r", ""}), Pick(&in, {"", "all", "repository"})});
  SVNRules::Groups written = groups;
  for (auto& g : written)
    for (std::string& m : g.second) m = Written(m);
  std::vector<SVNRules::Rule> writtenRules = rules;
  for (SVNRules::Rule& r : writtenRules) {
    r.who = Written(r.who);
    if (r.scope.empty()) r.scope = shared ? "repository" : "all";
  }
  const std::string base = in.ConsumeRemainingBytesAsString();
  std::ofstream(kConf + "authz", std::ios::binary) << base;
  std::ofstream(kConf + "svnserve.conf")
      << "[general]\npassword-db = passwd\n" << (active ? "" : "# ") << "authz-db = authz\n";
  const std::string conf = Slurp(kConf + "svnserve.conf");

  int rc = -1;
  {
    std::unique_ptr<SVNRepo> repo;
    std::unique_ptr<SVNRules> now;
    SVNStatus status = SVNRepo::open(*SVNName::Of("fuzz"), SVNRepo::kUpdate, &repo);
    if (status.ok()) status = SVNRules::Open(*repo, &now);
    if (status.ok()) status = now->replace(groups, rules, shared, repo.get());
    if (status.ok()) status = SaveRepoAndRules(repo.get(), now.get());
    status.Log();
    rc = status.ok() ? 0 : -1;
  }
  const std::string text = Slurp(kConf + "authz");
  if (rc < 0) {
    FUZZ_CHECK(text == base && Slurp(kConf + "svnserve.conf") == conf);
    return 0;
  }
  // Read back: the same groups and rules (sections keep their places).
  std::unique_ptr<SVNRepo> again;
  std::unique_ptr<SVNRules> read;
  FUZZ_CHECK(SVNRepo::open(*SVNName::Of("fuzz"), SVNRepo::kAccounts, &again).ok() && SVNRules::Open(*again, &read).ok());
  const SVNRules::Groups& readGroups = read->groups();
  const std::vector<SVNRules::Rule>& readRules = read->rules();
  if (!rules.empty()) {
    FUZZ_CHECK(readGroups == written);
    FUZZ_CHECK(AsSet(readRules) == AsSet(writtenRules));
  }
  // Subversion decides on the file written as on the plain rules, unless
  // the old file held sections of other kinds (which may bind this
  // repository too).
  nlibc::ConfDoc doc;
  FUZZ_CHECK(doc.Load(text, nlibc::ConfDoc::kExact) == 0);
  std::vector<std::string> sections;
  doc.Sections(&sections);
  for (const std::string& s : sections)
    if (s != "groups" && s != "aliases" && s[0] != '/') return 0;
  std::unique_ptr<SVNAuthzEngine> mine, plain;
  FUZZ_CHECK(SVNAuthzEngine::Parse(text, "", &mine).ok() &&
        SVNAuthzEngine::Parse(Plain(written, writtenRules), "", &plain).ok());
  for (const char* user : {"", "alice", "bob", "carol", "dave"})
    for (const char* path : {"/", "/trunk", "/trunk/a", "/trunk/a/b", "/tags", "/other"})
      for (bool write : {false, true})
        FUZZ_CHECK(mine->allows("fuzz", path, user, write) == plain->allows("fuzz", path, user, write));
  return 0;
}
