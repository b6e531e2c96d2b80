// nlibc.cpp: the C entry points of nlibc.h.
//
// Each configuration call is a thin wrapper around conf_text.h: read the
// file, run the string edit, write the result back atomically.  No C++
// exception leaves this file: every entry point turns one into an error
// code.

#include "nlibc.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "conf_text.h"

extern char** environ;

struct NLIBSZHASH {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::unordered_map<std::string, size_t> index;  // key -> position in pairs
};

namespace {

int g_lastError = NLIBC_E_NONE;

int Fail(int code) {
  g_lastError = code;
  return -1;
}

// Runs `body`, turning its error code or exception into the C result.
int Guard(const std::function<int()>& body) {
  try {
    int rc = body();
    return rc == 0 ? 0 : Fail(rc);
  } catch (const std::bad_alloc&) {
    return Fail(NLIBC_E_NOMEM);
  } catch (...) {
    return Fail(NLIBC_E_ARG);
  }
}

int ReadFile(const char* path, std::string* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return NLIBC_E_READ;
  int rc = 0;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) rc = NLIBC_E_READ;
    if (n <= 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return rc;
}

int WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Replaces `path` by `text`: a temporary file beside it, synced, given the
// old file's mode and renamed over it, then the directory synced.  The
// caller holds the directory lock, so the temporary name is ours alone; a
// killed writer's leftover is simply overwritten by the next one.
int WriteAtomic(const std::string& path, const std::string& text, int dirFd) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return NLIBC_E_READ;
  std::string tmp = DirName(path) + "/." + BaseName(path) + ".nlibc-tmp";
  int fd = open(tmp.c_str(),
                O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return NLIBC_E_WRITE;
  bool ok = WriteAll(fd, text) == 0 && fchmod(fd, st.st_mode & 07777) == 0 &&
            fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmp.c_str());
    return NLIBC_E_WRITE;
  }
  fsync(dirFd);
  return 0;
}

// One read-modify-write of a file under an exclusive lock on its
// directory.  The lock is on the directory, not the file, because every
// write replaces the file's inode.  `edit` maps the old text to the new;
// an unchanged text is not written.
int EditFile(const char* path,
             const std::function<int(const std::string&, std::string*)>& edit) {
  if (path == nullptr || *path == '\0') return NLIBC_E_ARG;
  std::string file(path);
  int dirFd = open(DirName(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return NLIBC_E_READ;
  int rc;
  while ((rc = flock(dirFd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    close(dirFd);
    return NLIBC_E_LOCK;
  }
  std::string oldText, newText;
  rc = ReadFile(path, &oldText);
  if (rc == 0) rc = edit(oldText, &newText);
  if (rc == 0 && newText != oldText) rc = WriteAtomic(file, newText, dirFd);
  close(dirFd);  // releases the lock
  return rc;
}

int ReadConf(const char* path, std::string* text) {
  if (path == nullptr || *path == '\0') return NLIBC_E_ARG;
  return ReadFile(path, text);
}

// Copies `s` with its NUL into buf, or reports NLIBC_E_OVERFLOW.
int CopyOut(const std::string& s, char* buf, int size) {
  if (s.size() >= static_cast<size_t>(size)) return NLIBC_E_OVERFLOW;
  memcpy(buf, s.c_str(), s.size() + 1);
  return 0;
}

bool BadBuffer(const char* buf, int size, int flags) {
  return buf == nullptr || size <= 0 || flags != 0;
}

std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    if (strncmp(*e, "LC_ALL=", 7) != 0) env.emplace_back(*e);
  env.emplace_back("LC_ALL=C.UTF-8");
  return env;
}

}  // namespace

extern "C" {

int NLIBCErrGet(void) { return g_lastError; }

int NLIBCExec(const char* szProg, const char* szArg1, const char* szArg2,
              const char* szArg3, const char* szArg4) {
  return Guard([&]() -> int {
    if (szProg == nullptr || *szProg == '\0') return NLIBC_E_ARG;
    std::vector<const char*> argv{szProg};
    for (const char* a : {szArg1, szArg2, szArg3, szArg4}) {
      if (a == nullptr) break;
      argv.push_back(a);
    }
    argv.push_back(nullptr);
    std::vector<std::string> env = ChildEnvironment();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    if (posix_spawn_file_actions_init(&fa) != 0) return NLIBC_E_NOMEM;
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, 2, 1);
    pid_t pid;
    int err = posix_spawn(&pid, szProg, &fa, nullptr,
                          const_cast<char* const*>(argv.data()), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (err != 0) return NLIBC_E_EXEC;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return NLIBC_E_CHILD;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : NLIBC_E_CHILD;
  });
}

int NLIBCFileExist(const char* szPath) {
  struct stat st;
  return szPath != nullptr && *szPath != '\0' && stat(szPath, &st) == 0;
}

int NLIBCFileGetKeyValue(const char* szFile, const char* szKey, char* szBuf,
                         int nBufSize, int nFlags) {
  bool found = false;
  int rc = Guard([&]() -> int {
    if (szKey == nullptr || BadBuffer(szBuf, nBufSize, nFlags))
      return NLIBC_E_ARG;
    std::string text, value;
    if (int r = ReadConf(szFile, &text)) return r;
    if (int r = nlibc::ConfGetKeyValue(text, szKey, &value, &found)) return r;
    return found ? CopyOut(value, szBuf, nBufSize) : 0;
  });
  return rc < 0 ? rc : (found ? 1 : 0);
}

int NLIBCFileSetKeyValue(const char* szFile, const char* szKey,
                         const char* szValue, int nFlags) {
  return Guard([&]() -> int {
    if (szKey == nullptr || szValue == nullptr || nFlags != 0)
      return NLIBC_E_ARG;
    return EditFile(szFile, [&](const std::string& in, std::string* out) {
      return nlibc::ConfSetKeyValue(in, szKey, szValue, out);
    });
  });
}

int NLIBCFileLineComment(const char* szFile, const char* szLineToken,
                         int bActive) {
  return Guard([&]() -> int {
    if (szLineToken == nullptr) return NLIBC_E_ARG;
    return EditFile(szFile, [&](const std::string& in, std::string* out) {
      return nlibc::ConfLineComment(in, szLineToken, bActive != 0, out);
    });
  });
}

int NLIBCFileGetLine(const char* szFile, const char* szLineToken,
                     char* szBuf, int nBufSize, int nFlags) {
  return Guard([&]() -> int {
    if (szLineToken == nullptr || BadBuffer(szBuf, nBufSize, nFlags))
      return NLIBC_E_ARG;
    std::string text, line;
    if (int r = ReadConf(szFile, &text)) return r;
    if (int r = nlibc::ConfGetLine(text, szLineToken, &line)) return r;
    return CopyOut(line, szBuf, nBufSize);
  });
}

int NLIBCFileSetLine(const char* szFile, const char* szLineToken,
                     const char* szText, int nFlags) {
  return Guard([&]() -> int {
    if (szLineToken == nullptr || szText == nullptr || nFlags != 0)
      return NLIBC_E_ARG;
    return EditFile(szFile, [&](const std::string& in, std::string* out) {
      return nlibc::ConfSetLine(in, szLineToken, szText, out);
    });
  });
}

int NLIBCFileGetSection(const char* szFile, const char* szSection,
                        PNLIBSZHASH* ppHash) {
  return Guard([&]() -> int {
    if (szSection == nullptr || ppHash == nullptr || *ppHash == nullptr)
      return NLIBC_E_ARG;
    std::string text;
    nlibc::Pairs pairs;
    if (int r = ReadConf(szFile, &text)) return r;
    if (int r = nlibc::ConfGetSection(text, szSection, &pairs)) return r;
    for (const auto& kv : pairs)
      if (NLIBCSzHashSetValue(ppHash, kv.first.c_str(), kv.second.c_str()) < 0)
        return NLIBCErrGet();
    return 0;
  });
}

int NLIBCFileSetSection(const char* szFile, const char* szSection,
                        const char* szReserved, PNLIBSZHASH pHash,
                        int nFlags) {
  return Guard([&]() -> int {
    if (szSection == nullptr || szReserved != nullptr || pHash == nullptr ||
        nFlags != 0)
      return NLIBC_E_ARG;
    return EditFile(szFile, [&](const std::string& in, std::string* out) {
      return nlibc::ConfSetSection(in, szSection, pHash->pairs, out);
    });
  });
}

int NLIBCStrTrimSpace(char* szBuf, int nFlags) {
  if (szBuf == nullptr || nFlags != 0) return Fail(NLIBC_E_ARG);
  size_t len = strlen(szBuf), b = 0;
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (len > 0 && space(szBuf[len - 1])) --len;
  while (b < len && space(szBuf[b])) ++b;
  memmove(szBuf, szBuf + b, len - b);
  szBuf[len - b] = '\0';
  return 0;
}

PNLIBSZHASH NLIBCSzHashAlloc(int nSize) {
  try {
    PNLIBSZHASH h = new NLIBSZHASH;
    if (nSize > 0) {
      h->pairs.reserve(static_cast<size_t>(nSize));
      h->index.reserve(static_cast<size_t>(nSize));
    }
    return h;
  } catch (...) {
    Fail(NLIBC_E_NOMEM);
    return nullptr;
  }
}

void NLIBCSzHashFree(PNLIBSZHASH pHash) { delete pHash; }

int NLIBCSzHashSetValue(PNLIBSZHASH* ppHash, const char* szKey,
                        const char* szValue) {
  return Guard([&]() -> int {
    if (ppHash == nullptr || *ppHash == nullptr || szKey == nullptr ||
        szValue == nullptr)
      return NLIBC_E_ARG;
    NLIBSZHASH* h = *ppHash;
    auto it = h->index.find(szKey);
    if (it != h->index.end()) {
      h->pairs[it->second].second = szValue;
    } else {
      h->pairs.emplace_back(szKey, szValue);
      h->index.emplace(szKey, h->pairs.size() - 1);
    }
    return 0;
  });
}

const char* NLIBCSzHashGetValue(PNLIBSZHASH pHash, const char* szKey) {
  if (pHash == nullptr || szKey == nullptr) return nullptr;
  auto it = pHash->index.find(szKey);
  return it == pHash->index.end() ? nullptr
                                  : pHash->pairs[it->second].second.c_str();
}

int NLIBCSzHashCount(PNLIBSZHASH pHash) {
  return pHash == nullptr ? 0 : static_cast<int>(pHash->pairs.size());
}

int NLIBCSzHashEnumKey(PNLIBSZHASH pHash, PNLIBSZLIST* ppList) {
  if (pHash == nullptr || ppList == nullptr || *ppList == nullptr)
    return Fail(NLIBC_E_ARG);
  PNLIBSZLIST list = *ppList;
  for (int i = 0; i < list->nItem; ++i) free(list->ppszItem[i]);
  list->nItem = 0;
  for (const auto& kv : pHash->pairs)
    if (NLIBCSzListAdd(ppList, kv.first.c_str()) < 0) return -1;
  return 0;
}

PNLIBSZLIST NLIBCSzListAlloc(int nSize) {
  PNLIBSZLIST list = static_cast<PNLIBSZLIST>(calloc(1, sizeof *list));
  int cap = nSize > 0 ? nSize : 1;
  if (list != nullptr)
    list->ppszItem = static_cast<char**>(calloc(cap, sizeof(char*)));
  if (list == nullptr || list->ppszItem == nullptr) {
    free(list);
    Fail(NLIBC_E_NOMEM);
    return nullptr;
  }
  list->nCap = cap;
  return list;
}

void NLIBCSzListFree(PNLIBSZLIST pList) {
  if (pList == nullptr) return;
  for (int i = 0; i < pList->nItem; ++i) free(pList->ppszItem[i]);
  free(pList->ppszItem);
  free(pList);
}

int NLIBCSzListAdd(PNLIBSZLIST* ppList, const char* szItem) {
  if (ppList == nullptr || *ppList == nullptr || szItem == nullptr)
    return Fail(NLIBC_E_ARG);
  PNLIBSZLIST list = *ppList;
  if (list->nItem == list->nCap) {
    int cap = list->nCap * 2;
    char** grown =
        static_cast<char**>(realloc(list->ppszItem, cap * sizeof(char*)));
    if (grown == nullptr) return Fail(NLIBC_E_NOMEM);
    list->ppszItem = grown;
    list->nCap = cap;
  }
  char* copy = strdup(szItem);
  if (copy == nullptr) return Fail(NLIBC_E_NOMEM);
  list->ppszItem[list->nItem++] = copy;
  return 0;
}

const char* NLIBCSzListGet(PNLIBSZLIST pList, int nIndex) {
  if (pList == nullptr || nIndex < 0 || nIndex >= pList->nItem) return nullptr;
  return pList->ppszItem[nIndex];
}

}  // extern "C"
