// webform.cpp: request reading and the JSON responses.

#include "webform.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <json/writer.h>
#include <stdio.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include "multipart.h"
#include "nlibc.h"

namespace {

const char kJsonType[] = "application/json; charset=\"UTF-8\"";

using Params = std::vector<std::pair<std::string, std::string>>;

// The form is read by the rules of GNU cgicc (3.2.19, as Debian 12 ships
// it), which this framework used before: a request gives the same
// parameters, in the same order, quirks included.

bool IsHex(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// '+' is a space and '%' with two hex digits the byte they spell; any other
// '%' stands for itself.
std::string UrlDecode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out += ' ';
    } else if (s[i] == '%' && i + 2 < s.size() && IsHex(s[i + 1]) && IsHex(s[i + 2])) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// application/x-www-form-urlencoded: a name ends at '=' or '&', a value at
// '&' or ';'.  A name ended by '&' has an empty value; one that ends the
// text without '=' is dropped; runs of '&' separate nothing.
void ReadUrlEncoded(const std::string& data, Params* params) {
  size_t old = 0;
  for (;;) {
    size_t pos = data.find_first_of("&=", old);
    if (pos == std::string::npos) break;
    if (data[pos] == '&') {
      while (data[old] == '&') ++old;
      if (old < pos) params->emplace_back(UrlDecode(data.substr(old, pos - old)), "");
      old = pos + 1;
      continue;
    }
    std::string name = UrlDecode(data.substr(old, pos - old));
    old = pos + 1;
    pos = data.find_first_of(";&", old);
    params->emplace_back(std::move(name), UrlDecode(data.substr(old, pos - old)));
    if (pos == std::string::npos) break;
    old = pos + 1;
  }
}

// The text between the first `open` and the `close` after it, or empty.
std::string Between(const std::string& data, const char* open, const char* close) {
  size_t start = data.find(open);
  if (start == std::string::npos) return std::string();
  start += strlen(open);
  size_t limit = data.find(close, start);
  return limit == std::string::npos ? std::string() : data.substr(start, limit - start);
}

// One part of a multipart body: its headers, a blank line, its value and
// CR LF.  Parts with a file name are files, which are left out.  False
// when the part has no blank line.
bool ReadPart(const std::string& part, Params* params) {
  size_t head = part.find("\r\n\r\n");
  if (head == std::string::npos) return false;
  size_t start = head + 4;
  std::string value = part.substr(start, part.size() - start - 2);
  std::string headers = part.substr(0, start);
  if (UrlDecode(Between(headers, "filename=\"", "\"")).empty())
    params->emplace_back(Between(headers, "name=\"", "\""), std::move(value));
  return true;
}

// multipart/form-data: the parts between "--BOUNDARY\r\n" lines, the last
// ended by "--BOUNDARY--\r\n"; BOUNDARY is all that follows "boundary=" in
// the type.  When the type has no "boundary=" or the body no first line,
// the offsets below wrap around as cgicc's do (npos + 9 is 8), which
// keeps its results for such requests too.  False when a part is
// malformed.
bool ReadMultipart(const std::string& data, const std::string& type, Params* params) {
  std::string boundary = type.substr(type.find("boundary=") + strlen("boundary="));
  std::string sep = "--" + boundary + "\r\n", last = "--" + boundary + "--\r\n";
  size_t old = data.find(sep) + sep.size(), pos;
  while ((pos = data.find(sep, old)) != std::string::npos) {
    if (!ReadPart(data.substr(old, pos - old), params)) return false;
    old = pos + sep.size();
  }
  pos = data.find(last, old);
  return pos == std::string::npos || ReadPart(data.substr(old, pos - old), params);
}

// The form in `data`, by its content type (none: url-encoded); other types
// have no parameters.  False when the body is malformed.
bool ReadForm(const std::string& data, const std::string& type, Params* params) {
  static const char kUrlEncoded[] = "application/x-www-form-urlencoded";
  static const char kMultipart[] = "multipart/form-data";
  if (data.empty()) return true;
  if (type.empty() || strncasecmp(type.c_str(), kUrlEncoded, strlen(kUrlEncoded)) == 0)
    ReadUrlEncoded(data, params);
  else if (strncasecmp(type.c_str(), kMultipart, strlen(kMultipart)) == 0)
    return ReadMultipart(data, type, params);
  return true;
}

bool CleanText(const std::string& s) {
  return s.find('\0') == std::string::npos && NLIBCStrValidUtf8(s.data(), s.size());
}

// "scheme://host[:port]" -> "host[:port]"; empty when it has no host.
std::string OriginHost(const std::string& origin) {
  size_t p = origin.find("://");
  if (p == std::string::npos) return std::string();
  std::string host = origin.substr(p + 3);
  return host.find('/') == std::string::npos ? host : std::string();
}

bool CrossSite(const WebMan& web) {
  std::string site = web.Env("HTTP_SEC_FETCH_SITE");
  if (!site.empty() && site != "same-origin" && site != "none") return true;
  std::string origin = web.Env("HTTP_ORIGIN");
  if (origin.empty()) return false;
  std::string host = OriginHost(origin);
  return host.empty() || strcasecmp(host.c_str(), web.Env("HTTP_HOST").c_str()) != 0;
}

}  // namespace

// ---- WebMan ----

const char* RequestSource::Env(const char* name) { return getenv(name); }

size_t RequestSource::Read(char* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    size_t n = fread(data + done, 1, length - done, stdin);
    if (n == 0) break;
    done += n;
  }
  return done;
}

WebMan::WebMan(RequestSource* source)
    : source_(source != nullptr ? source : &defaultSource_) {}

std::string WebMan::Env(const char* name) const {
  const char* v = source_->Env(name);
  return v == nullptr ? std::string() : std::string(v);
}

std::string WebMan::Load() {
  if (loaded_) return loadStatus_;
  loaded_ = true;
  std::string method = Env("REQUEST_METHOD");
  if (method != "GET" && method != "POST")
    return loadStatus_ = "405 Method Not Allowed";
  if (method == "POST") {
    std::string length = Env("CONTENT_LENGTH");
    if (length.find_first_not_of("0123456789") != std::string::npos)
      return loadStatus_ = "400 Bad Request";
    std::string boundary = uploads_ != nullptr ? MultipartBoundary(Env("CONTENT_TYPE")) : "";
    if (!boundary.empty() && !length.empty() && length.size() <= 18)
      return loadStatus_ = loadStreamed(boundary, strtoull(length.c_str(), nullptr, 10));
    if (length.size() > 9 || strtoul(length.c_str(), nullptr, 10) > kMaxBody)
      return loadStatus_ = "413 Payload Too Large";
  }
  // A GET's form is its query string, a POST's its body alone.
  std::string data, type;
  if (method == "GET") {
    data = Env("QUERY_STRING");
  } else {
    type = Env("CONTENT_TYPE");
    data.resize(strtoul(Env("CONTENT_LENGTH").c_str(), nullptr, 10));
    if (!data.empty() && source_->Read(&data[0], data.size()) != data.size())
      return loadStatus_ = "400 Bad Request";  // a body shorter than announced
  }
  Params params;
  if (!ReadForm(data, type, &params)) return loadStatus_ = "400 Bad Request";
  for (const auto& p : params)
    if (!CleanText(p.first) || !CleanText(p.second)) return loadStatus_ = "400 Bad Request";
  params_ = std::move(params);
  return loadStatus_;
}

std::string WebMan::loadStreamed(const std::string& boundary, unsigned long long length) {
  struct Parts : MultipartParts {
    WebMan* web;
    bool clean = true;
    void Field(const std::string& name, const std::string& value) override {
      clean = clean && CleanText(name) && CleanText(value);
      if (clean) web->params_.emplace_back(name, value);
    }
    bool FileBegin(const std::string& name, const std::string& filename) override {
      return clean && CleanText(name) &&
             web->uploads_->Begin(name, CleanText(filename) ? filename : std::string(), *web);
    }
    void FileData(const char* data, size_t size) override { web->uploads_->Data(data, size); }
    void FileEnd(bool complete) override { web->uploads_->End(complete); }
  } parts;
  parts.web = this;
  std::string status = ReadMultipart(
      boundary, length, [this](char* data, size_t n) { return source_->Read(data, n); },
      kMaxBody, &parts);
  if (status.empty() && !parts.clean) status = "400 Bad Request";
  if (!status.empty()) params_.clear();
  return status;
}

bool WebMan::SendFile(int fd, unsigned long long size, const char* contentType,
                      const std::string& filename) {
  if (responded_) return false;
  responded_ = true;
  printf("Content-Type: %s\r\n"
         "Content-Length: %llu\r\n"
         "Content-Disposition: attachment; filename=\"%s\"; filename*=UTF-8''%s\r\n"
         "X-Content-Type-Options: nosniff\r\n"
         "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'\r\n"
         "Cache-Control: no-store\r\n\r\n",
         contentType, size, filename.c_str(), filename.c_str());
  if (fflush(stdout) != 0) return false;
  // A client that goes away ends the copy, not the program.
  signal(SIGPIPE, SIG_IGN);
  char buf[64 * 1024];
  bool copy = false;  // sendfile cannot serve this pair: copy by hand
  while (size > 0) {
    ssize_t n;
    size_t want = size > (1u << 30) ? (1u << 30) : static_cast<size_t>(size);
    if (!copy) {
      n = sendfile(STDOUT_FILENO, fd, nullptr, want);
      if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
        copy = true;
        continue;
      }
    } else {
      n = read(fd, buf, std::min(want, sizeof buf));
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = write(STDOUT_FILENO, buf + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += w;
      }
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // the file shrank, or the client left
    size -= static_cast<unsigned long long>(n);
  }
  return true;
}

std::string WebMan::In(const char* name, const char* def) {
  Load();
  for (const auto& p : params_)
    if (p.first == name) return p.second;
  return def == nullptr ? std::string() : std::string(def);
}

void WebMan::WriteHeader(const char* contentType) {
  WriteHead(nullptr, contentType, nullptr);
}

void WebMan::WriteHead(const char* status, const char* contentType,
                       const char* allow) {
  if (responded_) return;
  responded_ = true;
  headerOnly_ = true;
  if (status != nullptr && *status != '\0') printf("Status: %s\r\n", status);
  if (allow != nullptr) printf("Allow: %s\r\n", allow);
  // Whatever a browser makes of the body, it runs and embeds nothing.
  printf("Content-Type: %s\r\n"
         "X-Content-Type-Options: nosniff\r\n"
         "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'\r\n"
         "Cache-Control: no-store\r\n\r\n",
         contentType);
  fflush(stdout);
}

void WebMan::WriteBody(const Json::Value& body) {
  if (!headerOnly_) return;
  headerOnly_ = false;
  // The compact text a StreamWriterBuilder without indentation writes,
  // less any comments a parsed value kept (which would not be JSON), and
  // without the stream, whose locale set-up every request would pay.
  Json::FastWriter writer;
  writer.omitEndingLineFeed();
  std::string text = writer.write(body), out;
  // '<', '>' and '&' only ever stand inside strings: escaped, the text
  // reads back the same and holds no tag or entity a browser could act on.
  size_t done = 0;
  for (size_t at; (at = text.find_first_of("<>&", done)) != std::string::npos;
       done = at + 1) {
    out.append(text, done, at - done);
    out += text[at] == '<' ? "\\u003c" : text[at] == '>' ? "\\u003e" : "\\u0026";
  }
  const std::string& escaped = done == 0 ? text : out.append(text, done, std::string::npos);
  fwrite(escaped.data(), 1, escaped.size(), stdout);
  fflush(stdout);
}

void WebMan::Respond(const char* status, const char* contentType,
                     const Json::Value& body, const char* allow) {
  if (responded_) return;
  WriteHead(status, contentType, allow);
  WriteBody(body);
}

// ---- ServerFormHandler ----

ServerFormHandler::ServerFormHandler(bool allowAnonymous, const char* lockFile)
    : allowAnonymous_(allowAnonymous),
      lockFile_(lockFile == nullptr ? "" : lockFile) {}

ServerFormHandler::~ServerFormHandler() {
  if (lockFd_ >= 0) close(lockFd_);
}

bool ServerFormHandler::LockFile(int operation) {
  if (lockFile_.empty()) return true;
  if (lockFd_ < 0)
    lockFd_ = open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  return lockFd_ >= 0 && flock(lockFd_, operation) == 0;
}

int ServerFormHandler::ExLock() { return LockFile(LOCK_EX) ? 0 : -1; }

int ServerFormHandler::ShLock() { return LockFile(LOCK_SH) ? 0 : -1; }

bool ServerFormHandler::Authenticate() {
  if ((!allowAnonymous_ && webMan.Env("REMOTE_USER").empty()) ||
      CrossSite(webMan)) {
    Json::Value body;
    body["success"] = false;
    body["errinfo"]["sec"] = "error";
    body["errinfo"]["key"] = "forbidden";
    webMan.Respond("403 Forbidden", kJsonType, body);
    return false;
  }
  std::string status = webMan.Load();
  if (!status.empty()) {
    Json::Value body;
    body["success"] = false;
    webMan.Respond(status.c_str(), kJsonType, body,
                   status.compare(0, 3, "405") == 0 ? "GET, POST" : nullptr);
    return false;
  }
  return true;
}

void ServerFormHandler::ReportMethodNotAllowed(const char* allow) {
  Json::Value body;
  body["success"] = false;
  webMan.Respond("405 Method Not Allowed", kJsonType, body, allow);
}

void ServerFormHandler::ReportSuccess(Json::Value value) {
  Json::Value body;
  body["success"] = true;
  body["data"] = std::move(value);
  if (!errInfo_.isNull()) body["errinfo"] = errInfo_;
  webMan.Respond("", kJsonType, body);
}

void ServerFormHandler::ReportError() {
  Json::Value body;
  body["success"] = false;
  if (!errInfo_.isNull()) body["errinfo"] = errInfo_;
  webMan.Respond("", kJsonType, body);
}

void ServerFormHandler::SetFormErrInfo(const char* section, const char* key,
                                       int line) {
  errInfo_ = Json::Value(Json::objectValue);
  errInfo_["sec"] = section;
  errInfo_["key"] = key;
  errInfo_["line"] = line;
}

void ServerFormHandler::AddFormErrInfo(const char* name, Json::Value value) {
  if (!errInfo_.isNull()) errInfo_[name] = std::move(value);
}
