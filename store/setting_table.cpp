// setting_table.cpp: the table of the settings we manage.

#include "store/setting_table.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

namespace {

const SVNSetting kTable[kSettingCount] = {
    /* kRealm */ {"general", "realm", nullptr, nullptr},
    /* kAnonAccess */ {"general", "anon-access", "read", "read|write|none"},
    /* kAuthAccess */ {"general", "auth-access", "write", "read|write|none"},
    /* kPasswordDb */ {"general", "password-db", nullptr, nullptr},
    /* kAuthzDb */ {"general", "authz-db", nullptr, nullptr},
    /* kGroupsDb */ {"general", "groups-db", nullptr, nullptr},
    /* kForceUsernameCase */ {"general", "force-username-case", "none", "lower|upper|none"},
    /* kUseSasl */ {"sasl", "use-sasl", "false", nullptr},
    /* kHooksEnv */ {"general", "hooks-env", nullptr, nullptr},
};

}  // namespace

const SVNSetting& Setting(SVNSettingId id) { return kTable[id]; }

bool SettingTakes(SVNSettingId id, const std::string& value) {
  const char* words = kTable[id].words;
  if (words == nullptr) return true;
  for (const char* w = words;;) {
    const char* end = strchr(w, '|');
    size_t n = end != nullptr ? static_cast<size_t>(end - w) : strlen(w);
    if (value.size() == n && value.compare(0, n, w, n) == 0) return true;
    if (end == nullptr) return false;
    w = end + 1;
  }
}

std::optional<std::string> SettingIn(PNLIBCONF conf, SVNSettingId id) {
  const char* value = NLIBCConfGet(conf, kTable[id].section, kTable[id].name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string SettingUsed(PNLIBCONF conf, SVNSettingId id) {
  std::optional<std::string> value = SettingIn(conf, id);
  return value ? *value : kTable[id].fallback != nullptr ? kTable[id].fallback : "";
}

int AccessLevel(const std::string& word) { return word == "write" ? 2 : word == "read" ? 1 : 0; }

bool SettingOn(const std::string& value) {
  for (const char* yes : {"true", "yes", "on", "1"})
    if (strcasecmp(value.c_str(), yes) == 0) return true;
  return false;
}

bool SettingIsYesNo(const std::string& value) {
  for (const char* no : {"false", "no", "off", "0"})
    if (strcasecmp(value.c_str(), no) == 0) return true;
  return SettingOn(value);
}

std::string CanonicalPath(const std::string& path) {
  if (path.find("://") != std::string::npos) return path;  // a URL: its "//" is no empty segment
  std::string out = !path.empty() && path[0] == '/' ? "/" : "";
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(begin, end - begin);
    if (!segment.empty() && segment != ".") {
      if (!out.empty() && out.back() != '/') out += '/';
      out += segment;
    }
    begin = end + 1;
  }
  return out == "/" && path.empty() ? std::string() : out;
}

std::string LexicalPath(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t b = 0; b <= path.size();) {
    size_t e = path.find('/', b);
    if (e == std::string::npos) e = path.size();
    const std::string p = path.substr(b, e - b);
    if (p == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!p.empty() && p != ".") {
      parts.push_back(p);
    }
    b = e + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string RealLocation(const std::string& file) {
  char real[PATH_MAX];
  if (realpath(file.c_str(), real) != nullptr) return real;
  size_t slash = file.rfind('/');
  if (slash == std::string::npos || realpath(file.substr(0, slash).c_str(), real) == nullptr)
    return "";
  return std::string(real) + file.substr(slash);
}

std::string FoldLogin(std::string name, const std::string& how) {
  const bool lower = how == "lower", upper = how == "upper";
  for (char& c : name) {
    if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

bool RepositoryLocation(const std::string& value) {
  if (value.compare(0, 2, "^/") == 0) return true;
  // svn_path_is_url: a scheme without '/', then "://".
  const size_t colon = value.find_first_of(":/");
  return colon != std::string::npos && colon > 0 && value.compare(colon, 3, "://") == 0;
}

std::string SettingLocation(SVNSettingId id, const std::string& value,
                            const std::string& confDir) {
  if (id != kPasswordDb && RepositoryLocation(value))
    return value[0] == '^' ? CanonicalPath(value) : value;
  const std::string path = CanonicalPath(value);
  return path.empty() ? confDir : path[0] == '/' ? path : confDir + "/" + path;
}

std::string SettingFile(PNLIBCONF conf, SVNSettingId id, const std::string& confDir,
                        const char* fallback) {
  std::optional<std::string> value = SettingIn(conf, id);
  if (!value) return fallback != nullptr ? confDir + "/" + fallback : std::string();
  if (id != kPasswordDb && RepositoryLocation(*value)) return std::string();
  return SettingLocation(id, *value, confDir);
}
