// audit_log.h: what the program's audit log (SANDBOX_DIR/var/audit.log and
// its rotated files) holds, for tests.
#ifndef TESTS_SUPPORT_AUDIT_LOG_H_
#define TESTS_SUPPORT_AUDIT_LOG_H_

#include <json/reader.h>
#include <json/value.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sandbox.h"

namespace audit_log {

inline std::string Dir() { return sandbox::Dir() + "/var"; }

// "audit.log", "audit.log.1", ...
inline std::string File(int i) {
  return Dir() + "/audit.log" + (i == 0 ? "" : "." + std::to_string(i));
}

// The log's files that exist, oldest first (audit.log.N ... audit.log).
inline std::vector<std::string> Files() {
  std::vector<std::string> files;
  for (int i = 1; access(File(i).c_str(), F_OK) == 0; ++i) files.insert(files.begin(), File(i));
  if (access(File(0).c_str(), F_OK) == 0) files.push_back(File(0));
  return files;
}

// Every line of the log, oldest first.
inline std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  for (const std::string& f : Files()) {
    std::istringstream in(sandbox::ReadFile(f));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

// `line` parsed strictly; null when it is not one JSON object.
inline Json::Value Parse(const std::string& line) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string errors;
  if (!reader->parse(line.data(), line.data() + line.size(), &value, &errors) ||
      !value.isObject())
    return Json::Value();
  return value;
}

// Every record, oldest first (null for a line that is none).
inline std::vector<Json::Value> Records() {
  std::vector<Json::Value> records;
  for (const std::string& line : Lines()) records.push_back(Parse(line));
  return records;
}

// The newest record, null when there is none.
inline Json::Value Last() {
  std::vector<std::string> lines = Lines();
  return lines.empty() ? Json::Value() : Parse(lines.back());
}

// Everything every file under var/ holds, one after the other.
inline std::string AllText() {
  return sandbox::Output("find '" + Dir() + "' -type f -exec cat {} + 2>/dev/null");
}

}  // namespace audit_log

#endif  // TESTS_SUPPORT_AUDIT_LOG_H_
