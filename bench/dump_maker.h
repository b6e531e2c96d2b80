// dump_maker.h: a Subversion dump stream of many revisions, made without
// a client (thousands of commits through svn take minutes): each revision
// by "alice", with its own date and log, adds or rewrites one of ten
// files with `bytes` of new text (words, which compress about as source
// code does).  Loaded with "svnadmin load", it is a repository with that
// history.
#ifndef BENCH_DUMP_MAKER_H_
#define BENCH_DUMP_MAKER_H_

#include <cstdio>
#include <cstring>
#include <string>

namespace dump {

inline std::string Props(const std::string& author, const std::string& date,
                         const std::string& log) {
  std::string p;
  auto add = [&p](const std::string& k, const std::string& v) {
    p += "K " + std::to_string(k.size()) + "\n" + k + "\nV " + std::to_string(v.size()) + "\n" +
         v + "\n";
  };
  if (!author.empty()) add("svn:author", author);
  add("svn:date", date);
  if (!log.empty()) add("svn:log", log);
  return p + "PROPS-END\n";
}

inline std::string Make(int revisions, size_t bytes) {
  std::string out = "SVN-fs-dump-format-version: 2\n\nUUID: 3f2c1a4e-5b6d-4e7f-8a9b-0c1d2e3f4a5b\n\n";
  auto revision = [&out](int rev, const std::string& props) {
    out += "Revision-number: " + std::to_string(rev) + "\nProp-content-length: " +
           std::to_string(props.size()) + "\nContent-length: " + std::to_string(props.size()) +
           "\n\n" + props + "\n";
  };
  revision(0, Props("", "2024-01-01T00:00:00.000000Z", ""));
  unsigned seed = 1;
  for (int r = 1; r <= revisions; ++r) {
    char date[64];
    snprintf(date, sizeof date, "2024-01-%02dT%02d:%02d:%02d.000000Z", 1 + r / 86400 % 28,
             r / 3600 % 24, r / 60 % 60, r % 60);
    revision(r, Props("alice", date, "Change " + std::to_string(r)));
    std::string text;
    for (int word = 1; text.size() < bytes; ++word) {
      seed = seed * 1103515245 + 12345;
      unsigned w = (seed >> 16) % 4096;  // one of 4096 words of 3 to 9 letters
      for (unsigned n = 3 + w % 7, i = 0; i < n; ++i) text += static_cast<char>('a' + (w * 7 + i * 13) % 26);
      text += word % 12 == 0 ? '\n' : ' ';
    }
    text += '\n';
    const std::string path = "f" + std::to_string(r % 10) + ".txt";
    if (r <= 10) {
      const std::string none = "PROPS-END\n";
      out += "Node-path: " + path + "\nNode-kind: file\nNode-action: add\nProp-content-length: " +
             std::to_string(none.size()) + "\nText-content-length: " +
             std::to_string(text.size()) + "\nContent-length: " +
             std::to_string(none.size() + text.size()) + "\n\n" + none + text + "\n";
    } else {
      out += "Node-path: " + path + "\nNode-kind: file\nNode-action: change\n"
             "Text-content-length: " + std::to_string(text.size()) + "\nContent-length: " +
             std::to_string(text.size()) + "\n\n" + text + "\n";
    }
  }
  return out;
}

// Writes to `out`, as Make does, `revisions` revisions that each rewrite
// a text file with `text` bytes of words and a binary file with `binary`
// bytes that do not compress (as Subversion stores them, about half of
// the repository when text is four times binary); streamed, for
// histories too large to hold.
inline void WriteMixed(FILE* out, int revisions, size_t text, size_t binary) {
  fputs("SVN-fs-dump-format-version: 2\n\nUUID: 5a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d\n\n", out);
  auto revision = [out](int rev, const std::string& props) {
    fprintf(out, "Revision-number: %d\nProp-content-length: %zu\nContent-length: %zu\n\n%s\n",
            rev, props.size(), props.size(), props.c_str());
  };
  revision(0, Props("", "2024-01-01T00:00:00.000000Z", ""));
  unsigned long long seed = 88172645463325252ULL;
  auto next = [&seed] {  // xorshift
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  std::string words, bytes;
  for (int r = 1; r <= revisions; ++r) {
    char date[64];
    snprintf(date, sizeof date, "2024-02-%02dT%02d:%02d:%02d.000000Z", 1 + r / 86400 % 28,
             r / 3600 % 24, r / 60 % 60, r % 60);
    revision(r, Props("alice", date, "Change " + std::to_string(r)));
    words.clear();
    while (words.size() < text) {
      unsigned w = static_cast<unsigned>(next() % 4096);
      for (unsigned n = 3 + w % 7, i = 0; i < n; ++i) words += static_cast<char>('a' + (w * 7 + i * 13) % 26);
      words += next() % 12 == 0 ? '\n' : ' ';
    }
    bytes.resize(binary);
    for (size_t i = 0; i + 8 <= binary; i += 8) {
      unsigned long long v = next();
      memcpy(&bytes[i], &v, 8);
    }
    for (const auto& file : {std::make_pair(std::string("text.txt"), &words),
                             std::make_pair(std::string("data.bin"), &bytes)}) {
      const std::string& content = *file.second;
      if (r == 1) {
        fprintf(out, "Node-path: %s\nNode-kind: file\nNode-action: add\nProp-content-length: 10\n"
                     "Text-content-length: %zu\nContent-length: %zu\n\nPROPS-END\n",
                file.first.c_str(), content.size(), content.size() + 10);
      } else {
        fprintf(out, "Node-path: %s\nNode-kind: file\nNode-action: change\n"
                     "Text-content-length: %zu\nContent-length: %zu\n\n",
                file.first.c_str(), content.size(), content.size());
      }
      fwrite(content.data(), 1, content.size(), out);
      fputs("\n", out);
    }
  }
}

}  // namespace dump

#endif  // BENCH_DUMP_MAKER_H_
