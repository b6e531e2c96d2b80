// status.h: the outcome of an operation: success, or a code that says what
// kind of failure it was and the context the system log needs.
//
// A failure is made where it is detected, with the log line that names the
// cause.  Each caller that gives up on it adds its own line (With) and passes
// it on; it is logged once (Log), where the outcome is decided, usually
// when the request is answered.  The lines keep their order and the module
// and source line each was made at, so the log reads as it always has:
// "svn_repo:214 ...", then "ui:87 ...".
//
// Modules name a subsystem, not a file: "ui" (request handling),
// "svn_repo" (the repository store), "svn_fs" (a repository's history),
// "svn_authz" (Subversion's access engine), "svn_lib" (loading Subversion's
// libraries).  People look for these names in the log.
#ifndef SVN_STORE_STATUS_H_
#define SVN_STORE_STATUS_H_

#include <syslog.h>

#include <string>
#include <utility>
#include <vector>

// Where a log line is made: the module and the source line.
struct SVNWhere {
  const char* module;
  int line;
};

class SVNStatus {
 public:
  // What the page can act on.  Every code but kOk and kFailed has an error
  // key of the same name in the response.
  enum Code {
    kOk,
    kFailed,    // anything else: the generic error
    kNotFound,  // "nonexist": the repository is not there
    kExists,    // "exist": the name is taken
    kBusy,      // "busy": another request holds what this one needs
    kShared,    // "shared": the change would reach other repositories
    kHandmade,  // "handmade": a hand-made setup this program leaves alone
    kInvalid,   // "invalid": a value the request gives is refused (see field())
  };

  SVNStatus() = default;  // success

  // A failure of `code`, detected at `module`:`line`, with the log line
  // `text`.  Its reason (see reason()) is empty.
  static SVNStatus Error(Code code, const char* module, int line, std::string text);

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  // The error key of the code ("exist", "busy", ...), null for kOk and
  // kFailed.
  const char* key() const;

  // Adds the log line of a caller that gives up because of this failure.
  // Nothing for a success.
  SVNStatus& With(const char* module, int line, std::string text);

  // Adds the lines of `later`, a failure that came of this one (its
  // clean-up failed too), after this one's and before its callers'.  A
  // success that is followed by a failure becomes that failure.
  SVNStatus& Then(SVNStatus later);

  // Makes a failure one of another kind, found out after it was made (the
  // repository a failed step was about turns out to be gone).
  SVNStatus& Recode(Code code) {
    if (!ok() && code != kOk) code_ = code;
    return *this;
  }

  // One sentence a person understands, for refusals the page explains
  // ("handmade"); empty unless set.
  const std::string& reason() const { return reason_; }
  SVNStatus& Reason(std::string sentence) {
    reason_ = std::move(sentence);
    return *this;
  }

  // The parameter whose value was refused ("invalid"); empty unless set.
  const std::string& field() const { return field_; }
  SVNStatus& Field(std::string name) {
    field_ = std::move(name);
    return *this;
  }

  // The other repositories a refused change would reach ("shared"), in
  // byte order of their names.
  const std::vector<std::string>& repositories() const { return repositories_; }
  SVNStatus& Repositories(std::vector<std::string> names) {
    repositories_ = std::move(names);
    return *this;
  }

  // Whether one of its log lines holds `text`.
  bool Mentions(const char* text) const;

  // Writes the log lines to syslog (LOG_ERR), oldest first, and forgets
  // them, so that no line is written twice.
  void Log();

 private:
  struct Line {
    const char* module;
    int line;
    std::string text;
  };
  Code code_ = kOk;
  std::vector<Line> lines_;
  std::string reason_;
  std::string field_;
  std::vector<std::string> repositories_;
};

// printf into a string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A failure made here, in a file that defines LOG_MODULE.
#define STATUS_ERROR(code, ...) \
  SVNStatus::Error(SVNStatus::code, LOG_MODULE, __LINE__, Format(__VA_ARGS__))
// A caller's line added to `status`.
#define STATUS_WITH(status, ...) (status).With(LOG_MODULE, __LINE__, Format(__VA_ARGS__))

// This line, to hand to a helper that logs on behalf of each of its
// callers, at their own lines: each caller's line tells an operator
// which caller gave up.
#define HERE (SVNWhere{LOG_MODULE, __LINE__})
#define STATUS_ERROR_AT(where, code, ...) \
  SVNStatus::Error(SVNStatus::code, (where).module, (where).line, Format(__VA_ARGS__))
#define STATUS_WITH_AT(status, where, ...) \
  (status).With((where).module, (where).line, Format(__VA_ARGS__))

// The early return of every step that may fail: returns the failure of
// `expr` (an SVNStatus) from the enclosing function, which returns an
// SVNStatus; STATUS_TRY_WITH adds the caller's line first.
#define STATUS_TRY(expr)                            \
  do {                                              \
    SVNStatus status_try_ = (expr);                 \
    if (!status_try_.ok()) return status_try_;      \
  } while (0)
#define STATUS_TRY_WITH(expr, ...)                                     \
  do {                                                                 \
    SVNStatus status_try_ = (expr);                                    \
    if (!status_try_.ok()) {                                           \
      STATUS_WITH(status_try_, __VA_ARGS__);                           \
      return status_try_;                                              \
    }                                                                  \
  } while (0)

// A line logged at once, where the outcome is decided here.
#define LOG_LINE(fmt, ...) \
  syslog(LOG_ERR, "%s:%d " fmt, LOG_MODULE, __LINE__, ##__VA_ARGS__)

#endif  // SVN_STORE_STATUS_H_
