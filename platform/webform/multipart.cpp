// multipart.cpp: multipart/form-data read as it arrives.

#include "multipart.h"

#include <strings.h>

#include <algorithm>

namespace {

const size_t kChunk = 64 * 1024;
const size_t kMaxHeaderLine = 8 * 1024;
const size_t kMaxPadding = 256;  // blanks after a boundary
const char kTooLarge[] = "413 Payload Too Large";
const char kBad[] = "400 Bad Request";

// The body, read in chunks: `buf` holds what was read and not yet used,
// from `at`.
class Input {
 public:
  Input(const std::function<size_t(char*, size_t)>& read, unsigned long long length)
      : read_(read), left_(length) {}

  // Reads another chunk: false at the end of the body.
  bool more() {
    if (left_ == 0) return false;
    if (at > 0) {
      buf.erase(0, at);
      at = 0;
    }
    size_t want = static_cast<size_t>(std::min<unsigned long long>(kChunk, left_));
    size_t old = buf.size();
    buf.resize(old + want);
    size_t got = read_(&buf[old], want);
    buf.resize(old + got);
    left_ -= got;
    if (got == 0) {  // shorter than announced: ends here
      left_ = 0;
      cut_ = true;
    }
    return got > 0;
  }
  // Whether the body ended before its announced length.
  bool cut() const { return cut_; }
  // Makes at least `n` bytes available; false when the body ends first.
  bool need(size_t n) {
    while (avail() < n)
      if (!more()) return false;
    return true;
  }
  size_t avail() const { return buf.size() - at; }
  const char* data() const { return buf.data() + at; }

  std::string buf;
  size_t at = 0;

 private:
  const std::function<size_t(char*, size_t)>& read_;
  unsigned long long left_;
  bool cut_ = false;
};

// The value of parameter `key` of a header value ("form-data; name=x"),
// quoted or not; `found` says whether it is there.
std::string Param(const std::string& value, const char* key, bool* found) {
  *found = false;
  size_t i = value.find(';');
  while (i != std::string::npos && i < value.size()) {
    ++i;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    size_t eq = value.find('=', i);
    size_t semi = value.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      i = semi;
      continue;
    }
    std::string name = value.substr(i, eq - i);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    size_t v = eq + 1;
    while (v < value.size() && (value[v] == ' ' || value[v] == '\t')) ++v;
    std::string text;
    size_t end;
    if (v < value.size() && value[v] == '"') {
      end = v + 1;
      for (; end < value.size() && value[end] != '"'; ++end) {
        if (value[end] == '\\' && end + 1 < value.size()) ++end;
        text += value[end];
      }
      end = value.find(';', end);
    } else {
      end = value.find(';', v);
      text = value.substr(v, end == std::string::npos ? std::string::npos : end - v);
      while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    }
    if (strcasecmp(name.c_str(), key) == 0) {
      *found = true;
      return text;
    }
    i = end;
  }
  return std::string();
}

}  // namespace

std::string MultipartBoundary(const std::string& contentType) {
  static const char kType[] = "multipart/form-data";
  if (strncasecmp(contentType.c_str(), kType, sizeof kType - 1) != 0) return std::string();
  size_t after = sizeof kType - 1;
  if (after < contentType.size() && contentType[after] != ';' && contentType[after] != ' ')
    return std::string();
  bool found = false;
  std::string boundary = Param(contentType, "boundary", &found);
  if (!found || boundary.empty() || boundary.size() > 70) return std::string();
  for (unsigned char c : boundary)
    if (c < 0x20 || c >= 0x7F) return std::string();
  return boundary;
}

namespace {

// One multipart body, read as it arrives.
class Reader {
 public:
  Reader(const std::string& boundary, Input* in, unsigned long limit)
      : delim_("\r\n--" + boundary), in_(*in), limit_(limit) {
    // Every delimiter but a first one at the very start follows a line
    // end: with one put in front, all are alike.
    in_.buf = "\r\n";
  }

  // Finds the next delimiter line, handing what comes before it to `use`
  // (which says false when the limit is passed).  Returns 1 after a
  // part's delimiter line, 2 after the closing one ("--"), 0 when the
  // body ends first, -1 when `use` refused.
  int nextDelimiter(const std::function<bool(const char*, size_t)>& use);
  // Passes over what comes before the next delimiter, counting it.
  int skip() {
    return nextDelimiter([this](const char*, size_t n) { return spend(n); });
  }
  // Reads a part's header lines, up to an empty one: its disposition.
  // Empty, or kBad or kTooLarge.
  std::string headers(std::string* disposition);
  // Reads the part whose header lines were read: the next delimiter, as
  // nextDelimiter.
  int part(const std::string& disposition, MultipartParts* parts);
  // Reads the rest of the body: empty, or kBad or kTooLarge.
  std::string epilogue();

 private:
  bool spend(size_t n) { return (spent_ += n) <= limit_; }
  // At a delimiter: 1 or 2 (as nextDelimiter) past it, 0 when the body
  // ends, -2 when it is content after all.
  int atDelimiter();

  const std::string delim_;
  Input& in_;
  const unsigned long limit_;
  unsigned long long spent_ = 0;  // bytes held or thrown away
};

int Reader::atDelimiter() {
  // A delimiter is followed by "--", or by blanks and a line end;
  // anything else makes it content.
  const size_t d = delim_.size();
  for (size_t k = 0;; ++k) {
    while (in_.avail() < d + k + 2)
      if (!in_.more()) return 0;
    const char* after = in_.data() + d;
    if (k == 0 && after[0] == '-' && after[1] == '-') {
      in_.at += d + 2;
      return 2;
    }
    if (after[k] == '\r' && after[k + 1] == '\n') {
      in_.at += d + k + 2;
      return 1;
    }
    if ((after[k] != ' ' && after[k] != '\t') || k >= kMaxPadding) return -2;
  }
}

int Reader::nextDelimiter(const std::function<bool(const char*, size_t)>& use) {
  for (;;) {
    size_t p = in_.buf.find(delim_, in_.at);
    if (p == std::string::npos) {
      // Hand over all but what may begin a delimiter.
      size_t keep = std::min(in_.avail(), delim_.size() - 1);
      size_t out = in_.avail() - keep;
      if (out > 0 && !use(in_.data(), out)) return -1;
      in_.at += out;
      if (!in_.more()) return 0;
      continue;
    }
    p -= in_.at;
    if (p > 0 && !use(in_.data(), p)) return -1;
    in_.at += p;
    int found = atDelimiter();
    if (found != -2) return found;
    if (!use(in_.data(), 1)) return -1;
    in_.at += 1;
  }
}

std::string Reader::headers(std::string* disposition) {
  for (;;) {
    size_t end;
    while ((end = in_.buf.find("\r\n", in_.at)) == std::string::npos) {
      if (in_.avail() > kMaxHeaderLine || !in_.more()) return kBad;
    }
    end -= in_.at;
    if (end > kMaxHeaderLine) return kBad;
    std::string line(in_.data(), end);
    in_.at += end + 2;
    if (!spend(end + 2)) return kTooLarge;
    if (line.empty()) return std::string();
    static const char kName[] = "content-disposition:";
    if (strncasecmp(line.c_str(), kName, sizeof kName - 1) == 0)
      *disposition = line.substr(sizeof kName - 1);
  }
}

int Reader::part(const std::string& disposition, MultipartParts* parts) {
  bool named = false, file = false;
  std::string name = Param(disposition, "name", &named);
  // An empty file name makes a field, as the form reader takes it.
  const std::string filename = Param(disposition, "filename", &file);
  file = file && !filename.empty();
  if (named && file && parts->FileBegin(name, filename)) {
    int found = nextDelimiter([&](const char* data, size_t n) {
      parts->FileData(data, n);
      return true;
    });
    parts->FileEnd(found > 0);
    return found;
  }
  if (!named || file) return skip();
  std::string value;
  int found = nextDelimiter([&](const char* data, size_t n) {
    value.append(data, n);
    return spend(n);
  });
  if (found > 0) parts->Field(name, value);
  return found;
}

std::string Reader::epilogue() {
  // Read so that the whole body is.
  while (in_.more()) {
    if (!spend(in_.avail())) return kTooLarge;
    in_.at = in_.buf.size();
  }
  return in_.cut() ? kBad : std::string();
}

}  // namespace

std::string ReadMultipart(const std::string& boundary, unsigned long long length,
                          const std::function<size_t(char*, size_t)>& read,
                          unsigned long limit, MultipartParts* parts) {
  Input in(read, length);
  Reader reader(boundary, &in, limit);
  int found = reader.skip();  // past the preamble
  while (found == 1) {
    std::string disposition;
    const std::string bad = reader.headers(&disposition);
    if (!bad.empty()) return bad;
    found = reader.part(disposition, parts);
  }
  if (found == 0) return kBad;
  if (found < 0) return kTooLarge;
  return reader.epilogue();
}
