// Fuzz target: request reading.  Arbitrary methods, query strings, content
// types (with and without multipart boundaries), announced lengths and
// bodies through WebMan.  Invariants: no crash; a body over the limit is
// refused unread; every value served is free of NUL and valid UTF-8.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "webform.h"

namespace {

class FuzzSource : public RequestSource {
 public:
  std::map<std::string, std::string> env;
  std::string body;
  size_t offset = 0, readCalls = 0;

  const char* Env(const char* name) override {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  }
  size_t Read(char* data, size_t length) override {
    ++readCalls;
    size_t n = std::min(length, body.size() - offset);
    memcpy(data, body.data() + offset, n);
    offset += n;
    return n;
  }
};

// Lead bytes followed by the right number of continuation bytes (the
// framework's own test is stricter still).
bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) {
      n = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
    } else {
      return false;
    }
    if (i + n >= s.size() && n > 0) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FuzzSource source;
  static const char* methods[] = {"GET", "POST", "PUT", "post", ""};
  source.env["REQUEST_METHOD"] = methods[in.ConsumeIntegralInRange(0, 4)];
  static const char* types[] = {"application/x-www-form-urlencoded",
                                "multipart/form-data; boundary=XyZ",
                                "multipart/form-data", "text/plain", nullptr};
  const char* type = types[in.ConsumeIntegralInRange(0, 4)];
  source.env["CONTENT_TYPE"] = type != nullptr ? type : in.ConsumeRandomLengthString(64);
  source.env["QUERY_STRING"] = in.ConsumeRandomLengthString(512);
  int lengthMode = in.ConsumeIntegralInRange(0, 3);
  std::string length = in.ConsumeRandomLengthString(24);
  source.body = in.ConsumeRemainingBytesAsString();
  if (lengthMode == 0) length = std::to_string(source.body.size());
  if (lengthMode == 1) length = std::to_string(source.body.size() + 1024 * 1024);
  if (lengthMode != 3) source.env["CONTENT_LENGTH"] = length;

  WebMan web(&source);
  std::string status = web.Load();
  bool post = source.env["REQUEST_METHOD"] == "POST";
  unsigned long announced = strtoul(length.c_str(), nullptr, 10);
  if (post && lengthMode == 1 && announced > WebMan::kMaxBody &&
      (status != "413 Payload Too Large" || source.readCalls != 0))
    abort();
  for (const char* name : {"action", "name", "realm", "anon", "accounts", "query"}) {
    std::string v = web.In(name, "");
    if (v.find('\0') != std::string::npos || !ValidUtf8(v)) abort();
    if (!status.empty() && !v.empty()) abort();  // a refused request has no parameters
  }
  return 0;
}
