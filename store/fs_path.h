// fs_path.h: a path inside a repository (a file or directory of its
// history, a locked file), checked once where it comes in and carried
// inward as this type.
//
// It is absolute and canonical, as Subversion keeps paths: "/" or "/a/b";
// no empty, "." or ".." segment, no "/" at the end, no control character
// (below U+0020, U+007F: Subversion refuses them in paths), at most
// kMaxFsPath bytes.  Requests are valid UTF-8 already.
#ifndef SVN_STORE_FS_PATH_H_
#define SVN_STORE_FS_PATH_H_

#include <optional>
#include <string>

constexpr size_t kMaxFsPath = 4096;

class SVNFsPath {
 public:
  // The path `text` is, when it is one.
  static std::optional<SVNFsPath> Of(const std::string& text);

  SVNFsPath() : text_("/") {}
  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  bool isRoot() const { return text_ == "/"; }

 private:
  explicit SVNFsPath(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

#endif  // SVN_STORE_FS_PATH_H_
