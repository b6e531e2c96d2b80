// Fuzz target: what an edit of the accounts leaves in the audit log.  The
// input is two "accounts" texts separated by a NUL byte (without one, the
// old list is empty): the first is saved on a sandbox repository, the
// second set over it while a change watch looks on, as "edit" does, and the
// record is appended to the log as the program appends it.  Invariants: no
// crash; the log holds one line, one JSON object; its account lists name
// accounts of the two lists only, as lists of names; no password of either
// list, as sent or as JSON writes it, is in any file of the log's
// directory.

#include <dirent.h>
#include <json/value.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "store/audit_log.h"
#include "store/json_text.h"
#include "store/package.h"
#include "store/repo.h"
#include "ui/cgi/changes.h"

namespace {

// The text of a list, decoded as the program decodes it; false when the
// program refuses it before the store sees it.
bool Decode(const std::string& text, SVNAccountList* list) {
  Json::Value json;
  unsigned line, column;
  if (!ParseJson(text, &json, &line, &column)) return false;
  SVNStatus status = DecodeAccounts(json, list);
  return status.ok();
}

// Every file of the log's directory, one after the other; the files are
// removed, so that each run sees its own record only.
std::string TakeLogFiles() {
  std::string text;
  if (DIR* dir = opendir(Package().stateDir.c_str())) {
    while (struct dirent* e = readdir(dir)) {
      std::string path = Package().stateDir + "/" + e->d_name;
      if (e->d_name[0] == '.') continue;
      text += Slurp(path);
      unlink(path.c_str());
    }
    closedir(dir);
  }
  return text;
}

// `text` as it stands inside a JSON string of the log.
std::string Quoted(const std::string& text) {
  std::string q = AuditText(Json::Value(text));
  return q.substr(1, q.size() - 2);
}

}  // namespace

// The program's log lines are not what is checked here.
extern "C" void syslog(int, const char*, ...) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzRepository(SVN_PACKAGE_DIR,
                     "[general]\nanon-access = read\nrealm = Fuzz\npassword-db = passwd\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  SVNAccountList old, now;
  if (!Decode(nul == std::string::npos ? "[]" : input.substr(0, nul), &old) ||
      !Decode(nul == std::string::npos ? input : input.substr(nul + 1), &now))
    return 0;
  std::unique_ptr<SVNRepo> repo;
  SVNStatus status = SVNRepo::open(*SVNName::Of("fuzz"), SVNRepo::kUpdate, &repo);
  if (status.ok()) status = repo->setAccounts(old);
  if (status.ok()) status = repo->save();
  if (!status.ok()) return 0;
  repo.reset();
  SVNChanges changes;
  FUZZ_CHECK(SVNRepo::open(*SVNName::Of("fuzz"), SVNRepo::kUpdate, &repo).ok());
  {
    SVNChanges::Watch watch(&changes, *repo);
    status = repo->setAccounts(now);
  }
  Json::Value record(Json::objectValue);
  record["action"] = "edit";
  record["name"] = "fuzz";
  record["user"] = "admin";
  record["outcome"] = status.ok() ? "done" : "failed";
  record["changes"] = changes.json();
  FUZZ_CHECK(AuditAppend(record).ok());
  std::string text = TakeLogFiles();

  // One whole record, whose account lists hold names of the two lists.
  FUZZ_CHECK(!text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1);
  Json::Value written;
  {
    unsigned line, column;
    FUZZ_CHECK(ParseJson(text, &written, &line, &column) && written.isObject());
  }
  std::set<std::string> names;
  for (const SVNAccountList* list : {&old, &now})
    for (const auto& a : *list) names.insert(a.first);
  const Json::Value& accounts = written["changes"]["accounts"];
  FUZZ_CHECK(accounts.isNull() || accounts.isObject());
  for (const std::string& kind : accounts.getMemberNames()) {
    FUZZ_CHECK(kind == "added" || kind == "removed" || kind == "password");
    for (const Json::Value& n : accounts[kind])
      FUZZ_CHECK(n.isString() && (written.isMember("abridged") || names.count(n.asString())));
  }
  // No password.  Account names are in the record, so they are blanked
  // out first (a password could be built of a name and the text around
  // it), and only passwords holding a byte that no fixed text of a record
  // holds are looked for.
  for (const std::string& name : names)
    for (const std::string& form : {name, Quoted(name)})
      for (size_t at = 0; !form.empty() && (at = text.find(form, at)) != std::string::npos;)
        text.replace(at, form.size(), "\x01"), ++at;
  for (const SVNAccountList* list : {&old, &now}) {
    for (const auto& a : *list) {
      const std::string& pw = a.second;
      if (pw.size() < 6 || pw.find_first_of("!~|^`@$\x80\xA0\xC3\xE2\xFF") == std::string::npos)
        continue;
      FUZZ_CHECK(text.find(pw) == std::string::npos);
      FUZZ_CHECK(text.find(Quoted(pw)) == std::string::npos);
    }
  }
  return 0;
}
