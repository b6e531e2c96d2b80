// Fuzz target: multipart/form-data read as it arrives, with an upload
// taken by a sink.  Invariants: no crash; a body is either refused or
// well formed; no more than the limit is held; the sink gets at most the
// body's bytes, and each part it takes ends once.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "multipart.h"

namespace {

struct Parts : MultipartParts {
  size_t held = 0, taken = 0, open = 0, ended = 0;
  bool take = false;
  void Field(const std::string& name, const std::string& value) override {
    held += name.size() + value.size();
  }
  bool FileBegin(const std::string&, const std::string&) override {
    if (take) ++open;
    return take;
  }
  void FileData(const char*, size_t size) override { taken += size; }
  void FileEnd(bool) override { ++ended; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string boundary = in.ConsumeBool() ? "XyZ" : in.ConsumeRandomLengthString(8);
  const unsigned long limit = in.ConsumeIntegralInRange<unsigned long>(0, 4096);
  const bool lie = in.ConsumeBool();  // a length longer than the body
  Parts parts;
  parts.take = in.ConsumeBool();
  const std::string body = in.ConsumeRemainingBytesAsString();
  size_t at = 0;
  std::string status = ReadMultipart(
      boundary, body.size() + (lie ? 100 : 0),
      [&](char* buf, size_t n) {
        n = std::min(n, body.size() - at);
        memcpy(buf, body.data() + at, n);
        at += n;
        return n;
      },
      limit, &parts);
  FUZZ_CHECK(status.empty() || status == "400 Bad Request" || status == "413 Payload Too Large");
  FUZZ_CHECK(!(lie && status.empty()));
  FUZZ_CHECK(parts.held <= limit);
  FUZZ_CHECK(parts.taken <= body.size());
  FUZZ_CHECK(parts.ended == parts.open);
  return 0;
}
