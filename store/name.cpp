// name.cpp: repository names.

#include "store/name.h"

#include <syslog.h>

#include "nlibc.h"

#define LOG_MODULE "svn_repo"

bool IsValidName(const std::string& name) {
  if (name.empty() || name == "." || name.find("..") != std::string::npos ||
      name.find('/') != std::string::npos)
    return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  return NLIBCStrValidUtf8(name.data(), name.size()) != 0;
}

SVNStatus SVNName::Check(const std::string& text, SVNName* name) {
  if (text.empty()) return STATUS_ERROR(kFailed, "Argument error.");
  if (!IsValidName(text)) {
    SVNStatus status = STATUS_ERROR(kFailed, "Path have illegal symbol.");
    return STATUS_WITH(status, "dirname is not legal.");
  }
  *name = SVNName(text);
  return SVNStatus();
}

std::optional<SVNName> SVNName::Of(const std::string& text) {
  if (!IsValidName(text)) return std::nullopt;
  return SVNName(text);
}
