// name.h: a repository's name, checked once where it comes in (a request,
// a command line, a file to restore) and carried inward as this type: the
// store takes an SVNName wherever a name becomes a path.
//
// A name names one entry directly under the root: it is not empty, not
// ".", and holds no "..", "/" or control character (below U+0020,
// U+007F); and it is valid UTF-8, as requests and answers are (another
// name could neither be sent nor shown as it is).
#ifndef SVN_STORE_NAME_H_
#define SVN_STORE_NAME_H_

#include <optional>
#include <string>

#include "store/status.h"

class SVNName {
 public:
  // Checks `text`: the name, or a failure whose lines say why ("Argument
  // error." for an empty text, "Path have illegal symbol." and "dirname
  // is not legal." for another that is no name).
  static SVNStatus Check(const std::string& text, SVNName* name);
  // The name `text` is, when it is one (nothing logged).
  static std::optional<SVNName> Of(const std::string& text);

  SVNName() = default;
  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  operator const std::string&() const { return text_; }
  friend bool operator==(const SVNName& a, const std::string& b) { return a.text_ == b; }
  friend bool operator==(const std::string& a, const SVNName& b) { return a == b.text_; }
  friend bool operator!=(const SVNName& a, const std::string& b) { return a.text_ != b; }
  friend bool operator!=(const std::string& a, const SVNName& b) { return a != b.text_; }

 private:
  explicit SVNName(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// Whether `text` is a name (see above).
bool IsValidName(const std::string& text);

#endif  // SVN_STORE_NAME_H_
