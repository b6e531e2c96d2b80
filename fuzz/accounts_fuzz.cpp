// Fuzz target: the accounts text.  Arbitrary text parsed as the "add" and
// "edit" actions parse it, then SVNRepo::setAccounts and save on a sandbox
// repository.  Invariants: no crash; a refused list leaves the account
// file byte-identical; an accepted one is exactly what Subversion's
// parser reads back; no password of the list reaches the log.

#include <json/reader.h>
#include <stdarg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "store/json_text.h"
#include "store/repo.h"

namespace {

std::vector<std::string> g_log;

const std::string kPasswd = SVN_PACKAGE_DIR "/repo/fuzz/conf/passwd";

}  // namespace

// The program's log, kept in memory for the password check.
extern "C" void syslog(int, const char* format, ...) {
  char line[4096];
  va_list ap;
  va_start(ap, format);
  vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  g_log.push_back(line);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzRepository(SVN_PACKAGE_DIR,
                     "[general]\nanon-access = read\nrealm = Fuzz\npassword-db = passwd\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  Json::Value list;
  Json::Reader reader;
  try {
    if (!reader.parse(text, list, true)) return 0;
  } catch (const std::exception&) {
    return 0;
  }
  g_log.clear();
  const std::string before = Slurp(kPasswd);
  std::unique_ptr<SVNRepo> repo;
  SVNAccountList accounts;
  SVNStatus status = SVNRepo::open(*SVNName::Of("fuzz"), SVNRepo::kUpdate, &repo);
  if (status.ok()) status = DecodeAccounts(list, &accounts);
  if (status.ok()) status = repo->setAccounts(accounts);
  if (status.ok()) status = repo->save();
  status.Log();
  const int rc = status.ok() ? 0 : -1;
  const std::string after = Slurp(kPasswd);
  if (rc < 0) {
    FUZZ_CHECK(after == before);
  } else {
    SvnView seen;
    FUZZ_CHECK(SvnParseText(after, &seen));
    std::map<std::string, std::string> users = seen["users"];
    FUZZ_CHECK(users == repo->getAccounts());
  }
  // Passwords never reach the log.  Account names may be logged, so they
  // are blanked out first: a password could be built of a name and the
  // text around it.  Only passwords holding a byte that no fixed log text
  // holds are looked for.
  if (list.isArray()) {
    std::vector<std::string> names;
    for (const Json::Value& item : list)
      if (item.isObject() && item["account"].isString())
        names.push_back(item["account"].asString().c_str());  // logged as C text
    std::vector<std::string> lines = g_log;
    for (std::string& line : lines)
      for (const std::string& name : names)
        for (size_t at = 0; !name.empty() && (at = line.find(name, at)) != std::string::npos;)
          line.replace(at, name.size(), "\x01"), ++at;
    for (const Json::Value& item : list) {
      if (!item.isObject() || !item["password"].isString()) continue;
      std::string pw = item["password"].asString();
      if (pw.size() < 6 || pw.find_first_of("!~{}|^`@$\x80\xA0\xC3\xE2\xFF") ==
                               std::string::npos)
        continue;
      for (const std::string& line : lines) FUZZ_CHECK(line.find(pw) == std::string::npos);
    }
  }
  return 0;
}
