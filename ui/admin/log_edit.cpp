// log_edit.cpp: a log message changed, left for the audit log.

#include "ui/admin/log_edit.h"

#include <errno.h>
#include <json/value.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "store/backups.h"
#include "store/facts.h"
#include "store/hook_records.h"
#include "store/name.h"
#include "store/package.h"
#include "store/root.h"

#define LOG_MODULE "svn_job"

namespace {

// The most of each message kept: what is left of a record is well within
// what the drop directory takes.
constexpr size_t kMessageKept = 256 * 1024;

// `text` cut to kMessageKept bytes, on a character's boundary.
std::string Kept(std::string text) {
  if (text.size() <= kMessageKept) return text;
  size_t cut = kMessageKept;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

// The name of the repository at `repos`: one directly under the root.
bool NameOf(const std::string& repos, std::string* name) {
  const size_t slash = repos.rfind('/');
  if (slash == std::string::npos) return false;
  char* root = realpath(Package().repoRoot.c_str(), nullptr);
  char* parent = realpath(repos.substr(0, slash).c_str(), nullptr);
  const bool under = root != nullptr && parent != nullptr && std::string(root) == parent;
  free(root);
  free(parent);
  *name = repos.substr(slash + 1);
  return under && IsValidName(*name);
}

// The old message: the hook's standard input, as much as is kept.
std::string OldMessage() {
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = read(STDIN_FILENO, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (text.size() <= kMessageKept) text.append(buf, static_cast<size_t>(n));
  }
  return Kept(text);
}

}  // namespace

bool RecordLogEdit(const std::string& repos, const std::string& rev, const std::string& user) {
  std::string name, message, uuid;
  const std::string old = OldMessage();
  const long number = rev.size() <= 10 && rev.find_first_not_of("0123456789") == std::string::npos
                          ? strtol(rev.c_str(), nullptr, 10)
                          : -1;
  SVNStatus status;
  if (rev.empty() || number < 0 || number > INT_MAX || !NameOf(repos, &name))
    status = STATUS_ERROR(kFailed, "log-edited: %s, revision %s is no repository's revision here.",
                          repos.c_str(), rev.c_str());
  if (status.ok()) status = ReadRevisionLog(repos, number, &message, &uuid);
  Json::Value record;
  record["kind"] = "log_edit";
  record["time"] = IsoTime(time(nullptr));
  record["name"] = name;
  record["uuid"] = uuid;
  record["rev"] = static_cast<Json::UInt>(number < 0 ? 0 : number);
  record["user"] = user;
  record["old"] = old;
  record["new"] = Kept(message);
  if (status.ok()) status = WriteHookRecord(record);
  if (status.ok()) return true;
  status.Log();
  fprintf(stderr, "The change of the log message could not be recorded; the system log says why.\n");
  return false;
}
