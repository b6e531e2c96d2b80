// fs_path.cpp: paths inside a repository.

#include "store/fs_path.h"

std::optional<SVNFsPath> SVNFsPath::Of(const std::string& text) {
  if (text.empty() || text[0] != '/' || text.size() > kMaxFsPath) return std::nullopt;
  if (text == "/") return SVNFsPath(text);
  for (size_t at = 1; at <= text.size();) {
    size_t end = text.find('/', at);
    if (end == std::string::npos) end = text.size();
    const std::string segment = text.substr(at, end - at);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    at = end + 1;
  }
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  return SVNFsPath(text);
}
