// sandbox.h: a package directory of a test's own (SANDBOX_DIR, set by the
// build per test binary): repo/ for repositories and bin/svnadmin linked to
// the system's svnadmin, plus a capture file for syslog lines.
#ifndef TESTS_SUPPORT_SANDBOX_H_
#define TESTS_SUPPORT_SANDBOX_H_

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace sandbox {

inline std::string Dir() { return SANDBOX_DIR; }
inline std::string Root() { return Dir() + "/repo"; }
inline std::string RepoDir(const std::string& name) { return Root() + "/" + name; }
inline std::string LogFile() { return Dir() + "/syslog"; }

inline int Shell(const std::string& command) {
  return system(command.c_str());
}

// What a shell command prints on its standard output.
inline std::string Output(const std::string& command) {
  std::string text;
  if (FILE* out = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    pclose(out);
  }
  return text;
}

// Empties the sandbox and lays it out again; syslog lines of this process
// and of the programs it runs go to LogFile().
inline void Reset() {
  Shell("rm -rf '" + Dir() + "'");
  Shell("mkdir -p '" + Root() + "' '" + Dir() + "/bin'");
  Shell("ln -s \"$(command -v svnadmin)\" '" + Dir() + "/bin/svnadmin'");
#ifdef SVN_ADMIN
  // The test's own svn-admin, where its svn.cgi starts jobs.
  Shell("mkdir -p '" + Dir() + "/ui' && ln -s '" SVN_ADMIN "' '" + Dir() + "/ui/svn-admin'");
#endif
  setenv("SYSLOG_CAPTURE", LogFile().c_str(), 1);
}

// Where the program makes and deletes repositories out of svnserve's sight.
inline std::string WorkDir() { return Dir() + "/repo-work"; }

// The names in `dir` (but "." and ".."), sorted; empty when it is missing.
inline std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Makes bin/svnadmin count its runs (ToolRuns) before it runs the real one.
inline void CountToolRuns() {
  std::string tool = Dir() + "/bin/svnadmin";
  Shell("rm -f '" + tool + "'");
  std::ofstream(tool) << "#!/bin/sh\necho \"$*\" >> '" << Dir()
                      << "/tool-runs'\nexec svnadmin \"$@\"\n";
  Shell("chmod 755 '" + tool + "'");
}

inline int ToolRuns() {
  std::ifstream f(Dir() + "/tool-runs");
  int n = 0;
  for (std::string line; std::getline(f, line);) ++n;
  return n;
}

// A repository made by the real svnadmin, as the package's tool makes it.
inline bool CreateRepo(const std::string& name) {
  return Shell("svnadmin create '" + RepoDir(name) + "'") == 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The syslog lines captured since the last ClearLog, without the priority
// (all are checked to be LOG_ERR, 3).
inline std::vector<std::string> Log() {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(LogFile()));
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 2, "3 ") != 0) {
      lines.push_back("(priority not LOG_ERR) " + line);
    } else {
      lines.push_back(line.substr(2));
    }
  }
  return lines;
}

inline void ClearLog() { unlink(LogFile().c_str()); }

}  // namespace sandbox

#endif  // TESTS_SUPPORT_SANDBOX_H_
