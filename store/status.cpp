// status.cpp: failures that travel up and are logged once.

#include "store/status.h"

#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

SVNStatus SVNStatus::Error(Code code, const char* module, int line, std::string text) {
  SVNStatus s;
  s.code_ = code == kOk ? kFailed : code;
  s.lines_.push_back({module, line, std::move(text)});
  return s;
}

const char* SVNStatus::key() const {
  switch (code_) {
    case kNotFound: return "nonexist";
    case kExists: return "exist";
    case kBusy: return "busy";
    case kShared: return "shared";
    case kHandmade: return "handmade";
    case kInvalid: return "invalid";
    case kOk:
    case kFailed: break;
  }
  return nullptr;
}

SVNStatus& SVNStatus::With(const char* module, int line, std::string text) {
  if (!ok()) lines_.push_back({module, line, std::move(text)});
  return *this;
}

SVNStatus& SVNStatus::Then(SVNStatus later) {
  if (later.ok()) return *this;
  if (ok()) return *this = std::move(later);
  for (Line& l : later.lines_) lines_.push_back(std::move(l));
  return *this;
}

void SVNStatus::Log() {
  for (const Line& l : lines_) syslog(LOG_ERR, "%s:%d %s", l.module, l.line, l.text.c_str());
  lines_.clear();
}

std::string Format(const char* fmt, ...) {
  char small[256];
  va_list args;
  va_start(args, fmt);
  int n = vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_start(args, fmt);
  vsnprintf(&out[0], out.size(), fmt, args);
  va_end(args);
  out.resize(static_cast<size_t>(n));
  return out;
}

bool SVNStatus::Mentions(const char* text) const {
  for (const Line& l : lines_)
    if (l.text.find(text) != std::string::npos) return true;
  return false;
}
