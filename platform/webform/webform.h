// webform.h: the appliance's web form framework (our stand-in).
//
// A CGI program derives its handler from ServerFormHandler, and answers
// one request per process through the handler's WebMan:
//
//   class MyHandler : public ServerFormHandler { void Process() override; };
//   int main() { MyHandler h; h.Process(); return 0; }
//
// Request: GET parameters come from the query string, POST parameters from
// the body (application/x-www-form-urlencoded or multipart/form-data; file
// parts are ignored unless an UploadSink takes them, see StreamUploads).
// Parameter names compare exactly; when a name is given twice the first
// value wins.
//
// Response: exactly one per request.  JSON bodies are written as compact
// ASCII JSON (other characters, and '<', '>' and '&', as \u escapes), so
// that the text is valid JSON whatever bytes a value holds and no browser
// finds markup in it.  Every response forbids sniffing, scripts, framing
// and caching (X-Content-Type-Options: nosniff, Content-Security-Policy:
// default-src 'none'; frame-ancestors 'none', Cache-Control: no-store).
// Once a response is written, later attempts to write one are ignored.
#ifndef WEBFORM_WEBFORM_H_
#define WEBFORM_WEBFORM_H_

#include <json/value.h>

#include <string>
#include <utility>
#include <vector>

// Where a request comes from.  The default reads the process's CGI
// environment and standard input; tests and fuzzers supply their own.
class RequestSource {
 public:
  virtual ~RequestSource() {}
  // The CGI variable `name`, or null when it is not set.
  virtual const char* Env(const char* name);
  // Reads up to `length` bytes of the body into `data`; returns the count
  // read, less than `length` only at the end of the body.
  virtual size_t Read(char* data, size_t length);
};

class WebMan;

// Takes file parts of a multipart/form-data body as they arrive, so that
// an upload of any size costs no memory (see WebMan::StreamUploads).
class UploadSink {
 public:
  virtual ~UploadSink() {}
  // The file part `field` begins, named `filename` by the browser (empty
  // when that name is not UTF-8 free of NUL bytes); `web` has the
  // parameters read before it (In).  True to take its content through
  // Data, false to leave it ignored like any other file part.
  virtual bool Begin(const std::string& field, const std::string& filename, WebMan& web) = 0;
  virtual void Data(const char* data, size_t size) = 0;
  // The part taken ends: `complete` false when the body ended, or was
  // refused, before it did.  A request whose form is refused after the
  // part (a bad parameter further on) is not served at all.
  virtual void End(bool complete) = 0;
};

// The request and the response of one CGI request.
class WebMan {
 public:
  // The greatest request body read; a larger one is refused unread.
  static const unsigned long kMaxBody = 1024 * 1024;

  // Serves the request that `source` gives (not owned; null for the
  // process's own).
  explicit WebMan(RequestSource* source = nullptr);

  // The CGI variable `name` of the request, empty when it is not set.
  std::string Env(const char* name) const;
  WebMan(const WebMan&) = delete;
  WebMan& operator=(const WebMan&) = delete;

  // The value of parameter `name`, or `def` when the request has none; a
  // null `def` reads as the empty text.  Never fails: a request whose form
  // cannot be read has no parameters.
  std::string In(const char* name, const char* def);

  // Starts the response with the given content type.
  void WriteHeader(const char* contentType);

  // Writes the JSON text of `body` after WriteHeader.
  void WriteBody(const Json::Value& body);

  // Writes a whole response: an optional "Status:" line (empty `status`
  // for none), an optional "Allow:" line, the content type and `body` as
  // JSON.
  void Respond(const char* status, const char* contentType,
               const Json::Value& body, const char* allow = nullptr);

  // Checks the request line and reads the form, in this order: the method
  // must be GET or POST ("405 Method Not Allowed"), the body no larger
  // than kMaxBody ("413 Payload Too Large"), and the body complete, every
  // name and value free of NUL bytes and valid UTF-8 ("400 Bad Request").
  // Returns an empty text when the request can be served, else the status.
  // With an upload sink, a multipart/form-data body is read as it arrives
  // and may be of any size: what the sink takes does not count toward
  // kMaxBody, everything else does (413 once it passes).
  std::string Load();

  // Lets `sink` (not owned; it must outlive the request) take the file
  // parts of a multipart/form-data body.  Called before Load.
  void StreamUploads(UploadSink* sink) { uploads_ = sink; }

  // Writes a whole response whose body is the `size` bytes of the open
  // file `fd` from where it stands, as a download: Content-Type
  // `contentType`, Content-Length, "Content-Disposition: attachment" with
  // `filename` (which must hold only A-Z, a-z, 0-9 and "._-%~": it is
  // also given percent-decoded as filename*), and the headers every
  // response carries.  The file is copied in pieces, whatever its size.
  // False when it could not all be sent (the client went away).
  bool SendFile(int fd, unsigned long long size, const char* contentType,
                const std::string& filename);

  // True once a response has been started.
  bool Responded() const { return responded_; }

 private:
  void WriteHead(const char* status, const char* contentType,
                 const char* allow);

  // Load's reading of a multipart body through uploads_.
  std::string loadStreamed(const std::string& boundary, unsigned long long length);

  RequestSource defaultSource_;
  RequestSource* source_;
  UploadSink* uploads_ = nullptr;
  std::vector<std::pair<std::string, std::string>> params_;
  bool loaded_ = false;
  std::string loadStatus_;
  bool responded_ = false;
  bool headerOnly_ = false;  // WriteHeader done, WriteBody not yet
};

// The base of a request handler.
class ServerFormHandler {
 public:
  // `allowAnonymous`: admit requests that the web server did not
  // authenticate (no REMOTE_USER).  `lockFile`: the file that ExLock and
  // ShLock lock; null for none.
  ServerFormHandler(bool allowAnonymous, const char* lockFile);
  virtual ~ServerFormHandler();

  ServerFormHandler(const ServerFormHandler&) = delete;
  ServerFormHandler& operator=(const ServerFormHandler&) = delete;

  // Answers the request.
  virtual void Process() = 0;
  virtual void HandleLoadAction() = 0;
  virtual void HandleApplyAction() = 0;

  // Take an exclusive or a shared lock on the lock file, held until the
  // handler is destroyed.  0, or -1 when it cannot be taken; 0 without a
  // lock file.
  virtual int ExLock();
  virtual int ShLock();

  // Decides whether the request may be served.  On refusal it writes the
  // response itself and returns false.  Tested in this order:
  // - no REMOTE_USER (unless anonymous requests are allowed), or a
  //   cross-site request (Sec-Fetch-Site other than "same-origin" or
  //   "none", or an Origin whose host[:port] is not the Host): "403
  //   Forbidden", body
  //   {"success":false,"errinfo":{"sec":"error","key":"forbidden"}};
  // - the request line or form is bad (see WebMan::Load): that status
  //   (with "Allow: GET, POST" for 405), body {"success":false}.
  // Nothing of the body is read before the first test has passed.
  virtual bool Authenticate();

  // {"success":true,"data":value}, with "errinfo" when SetFormErrInfo was
  // called before.
  void ReportSuccess(Json::Value value);

  // {"success":false,"errinfo":{...}} after SetFormErrInfo, else the
  // generic error {"success":false}.
  void ReportError();

  // {"success":false} with "405 Method Not Allowed", naming the methods
  // that are allowed.
  void ReportMethodNotAllowed(const char* allow);

  // Records the error information that the next report carries.
  void SetFormErrInfo(const char* section, const char* key, int line);

  // Adds the member `name` to the error information SetFormErrInfo
  // recorded (what the page needs to explain the error: a reason, the
  // names concerned).  Nothing without error information.
  void AddFormErrInfo(const char* name, Json::Value value);

 protected:
  WebMan webMan;

 private:
  bool LockFile(int operation);

  bool allowAnonymous_;
  std::string lockFile_;
  int lockFd_ = -1;
  Json::Value errInfo_;
};

#endif  // WEBFORM_WEBFORM_H_
