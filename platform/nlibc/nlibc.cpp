// nlibc.cpp: the C entry points of nlibc.h.
//
// Each configuration call is a thin wrapper around conf_text.h: read the
// file, parse it once, query or edit it in memory, write the result back
// atomically.  No C++ exception leaves this file: every entry point turns
// one into an error code.

#include "nlibc.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
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

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file `path` leads to through links in its last component, as git's
// lockfile resolves them: a relative target is taken from the link's
// directory.  The file itself need not exist.
int ResolveLinks(const std::string& path, std::string* file) {
  std::string p = path;
  for (int depth = 0; depth < 40; ++depth) {
    char target[4096];
    ssize_t n = readlink(p.c_str(), target, sizeof target);
    if (n < 0 && (errno == EINVAL || errno == ENOENT)) {
      *file = p;
      return 0;
    }
    if (n < 0 || static_cast<size_t>(n) == sizeof target) return NLIBC_E_READ;
    std::string t(target, static_cast<size_t>(n));
    p = t[0] == '/' ? t : DirName(p) + "/" + t;
  }
  return NLIBC_E_READ;  // a loop
}

// Reads a configuration file: opened without blocking (a FIFO never
// hangs us) and read only when it is a regular file of at most
// NLIBC_CONF_MAX_SIZE bytes.  *missing is set for a file that does not
// exist (then NLIBC_E_READ).
int ReadConfFile(const std::string& path, std::string* text, bool* missing) {
  *missing = false;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *missing = errno == ENOENT;
    return NLIBC_E_READ;
  }
  struct stat st;
  int rc = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                   st.st_size <= NLIBC_CONF_MAX_SIZE
               ? 0
               : NLIBC_E_READ;
  char buf[65536];
  while (rc == 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || text->size() + static_cast<size_t>(n) > NLIBC_CONF_MAX_SIZE)
      rc = NLIBC_E_READ;  // or grown past the limit meanwhile
    if (n <= 0) break;
    text->append(buf, static_cast<size_t>(n));
    // A regular file reads short only at its end: no read to find it.
    if (static_cast<size_t>(n) < sizeof buf && text->size() >= static_cast<size_t>(st.st_size))
      break;
  }
  if (close(fd) != 0 && rc == 0) rc = NLIBC_E_READ;
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

// Whether `name` is a temporary file of ours for the file `base`:
// "." base "." and mkstemp's six characters.
bool IsTempOf(const std::string& name, const std::string& base) {
  std::string prefix = "." + base + ".";
  return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0;
}

// Removes temporary files that killed writers left beside `path`.  Only
// a writer holding the directory's lock (or, for NLIBC_CONF_UNLOCKED, the
// caller's own lock of the file) makes them, so under the lock every one
// found is a leftover.
void RemoveLeftovers(const std::string& path, int dirFd) {
  int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return;
  }
  const std::string base = BaseName(path);
  while (struct dirent* e = readdir(dir))
    if (IsTempOf(e->d_name, base)) unlinkat(dirFd, e->d_name, 0);
  closedir(dir);
}

// Who a file belongs to and its mode, as a write gives them to the new
// version.
struct Owner {
  bool known = false;  // the file exists
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0644;
};

// Makes a temporary file for `base` in the directory open as dirFd,
// named as IsTempOf knows it (six random characters, as mkstemp picks
// them), never through what is there already.  Returns its descriptor
// and name, or -1.
int MakeTemp(int dirFd, const std::string& base, std::string* name) {
  static const char kChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int tries = 0; tries < 100; ++tries) {
    unsigned char r[6];
    if (getrandom(r, sizeof r, 0) != static_cast<ssize_t>(sizeof r)) return -1;
    std::string n = "." + base + ".";
    for (unsigned char c : r) n += kChars[c % 62];
    int fd = openat(dirFd, n.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *name = n;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Replaces `path`'s file, in the directory open as dirFd, by `text`: a
// temporary file with a unique name beside it, written, given the old
// file's owner and group (a group we cannot give is refused: a reader of
// that group, svnserve among them, would be locked out) and
// `owner.mode`, synced and renamed over it, then the directory synced.
// Every step goes through dirFd: the write lands in the directory the
// handle opened and locked, even if that directory was renamed since.
// The caller holds the directory lock (or keeps other writers away
// itself: NLIBC_CONF_UNLOCKED).  *renamed tells whether the new file took
// the old one's place.
int WriteAtomic(const std::string& path, const std::string& text,
                const Owner& owner, int dirFd, bool* renamed) {
  *renamed = false;
  RemoveLeftovers(path, dirFd);
  const std::string base = BaseName(path);
  std::string tmp;
  int fd = MakeTemp(dirFd, base, &tmp);
  if (fd < 0) return NLIBC_E_WRITE;
  struct stat st;
  bool ok = true;
  if (owner.known && fchown(fd, owner.uid, owner.gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), owner.gid) != 0)
    ok = fstat(fd, &st) == 0 && st.st_gid == owner.gid;
  ok = ok && WriteAll(fd, text) == 0 && fchmod(fd, owner.mode) == 0 &&
       fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && renameat(dirFd, tmp.c_str(), dirFd, base.c_str()) == 0;
  if (!ok) {
    unlinkat(dirFd, tmp.c_str(), 0);
    return NLIBC_E_WRITE;
  }
  *renamed = true;
  return fsync(dirFd) == 0 ? 0 : NLIBC_E_WRITE;
}

// Rewrites the file itself: truncated and written, its writeback
// started.  The file stays open as *fd, for the sync.
int WriteInPlace(const std::string& path, const std::string& text,
                 mode_t mode, int* fd) {
  *fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (*fd < 0) return NLIBC_E_WRITE;
  if (fchmod(*fd, mode) != 0 || WriteAll(*fd, text) != 0) return NLIBC_E_WRITE;
  // Only a hint (some file systems refuse it): the fsync that follows
  // reports whatever matters.
  (void)sync_file_range(*fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  return 0;
}

// The directories this process holds locked.  Handles of two files in one
// directory share its lock rather than wait for each other; the lock is
// held on a descriptor of its own until the last of them lets go.
struct HeldLock {
  dev_t dev;
  ino_t ino;
  int fd;
  int users;
};
std::vector<HeldLock> g_locks;

// Locks the directory open as dirFd, exclusively.  While this process
// holds another lock already, it waits at most ten seconds, so that two
// processes locking two directories in opposite orders cannot wait for
// each other for ever.
int LockDirectory(int dirFd) {
  struct stat st;
  if (fstat(dirFd, &st) != 0) return NLIBC_E_LOCK;
  for (HeldLock& held : g_locks) {
    if (held.dev == st.st_dev && held.ino == st.st_ino) {
      ++held.users;
      return 0;
    }
  }
  int fd = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return NLIBC_E_LOCK;
  int rc = -1;
  for (int tries = 0; tries < 2000; ++tries) {
    rc = flock(fd, g_locks.empty() ? LOCK_EX : LOCK_EX | LOCK_NB);
    if (rc == 0 || (errno != EINTR && errno != EWOULDBLOCK)) break;
    if (errno == EWOULDBLOCK) usleep(5000);
  }
  if (rc != 0) {
    close(fd);
    return NLIBC_E_LOCK;
  }
  g_locks.push_back({st.st_dev, st.st_ino, fd, 1});
  return 0;
}

void UnlockDirectory(int dirFd) {
  struct stat st;
  if (fstat(dirFd, &st) != 0) return;
  for (size_t i = 0; i < g_locks.size(); ++i) {
    if (g_locks[i].dev != st.st_dev || g_locks[i].ino != st.st_ino) continue;
    if (--g_locks[i].users == 0) {
      close(g_locks[i].fd);  // releases the lock
      g_locks.erase(g_locks.begin() + static_cast<long>(i));
    }
    return;
  }
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

// What a child process may see of our environment: a CGI request's
// variables (the query string among them) stay out.
std::vector<std::string> ChildEnvironment() {
  std::vector<std::string> env;
  for (const char* name : {"PATH", "HOME", "TMPDIR", "TZ"}) {
    const char* v = getenv(name);
    if (v != nullptr) env.push_back(std::string(name) + "=" + v);
  }
  env.emplace_back("LC_ALL=C.UTF-8");
  return env;
}

}  // namespace

struct NLIBCONF {
  std::string file;      // what is read and written: links followed
  std::string original;  // the text the file held when opened
  bool existed = false;
  bool written = false;  // a save has put another text in place
  int dirFd = -1;        // the file's directory
  bool locked = false;   // this handle holds the directory's lock
  bool unlocked = false; // writes take no lock (NLIBC_CONF_UNLOCKED)
  int fileFd = -1;       // the file saved in place, until synced
  nlibc::ConfDoc doc;
  std::string value;     // the last value handed out

  NLIBCONF() = default;
  NLIBCONF(const NLIBCONF&) = delete;
  NLIBCONF& operator=(const NLIBCONF&) = delete;
  ~NLIBCONF() {
    if (locked) UnlockDirectory(dirFd);
    if (dirFd >= 0) close(dirFd);
    if (fileFd >= 0) close(fileFd);
  }
};

namespace {

// Opens the directory of conf->file and, with `lock`, locks it.
int OpenDirectory(NLIBCONF* conf, bool lock) {
  if (conf->dirFd < 0) {
    conf->dirFd = open(DirName(conf->file).c_str(),
                       O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (conf->dirFd < 0) return NLIBC_E_READ;
  }
  if (lock && !conf->locked) {
    if (int rc = LockDirectory(conf->dirFd)) return rc;
    conf->locked = true;
  }
  return 0;
}

int OpenConf(const char* path, int flags, NLIBCONF* conf) {
  if (path == nullptr || *path == '\0' ||
      (flags & ~(NLIBC_CONF_LOCK | NLIBC_CONF_OPTIONAL | NLIBC_CONF_EXACT |
                 NLIBC_CONF_UNLOCKED)) != 0 ||
      ((flags & NLIBC_CONF_LOCK) != 0 && (flags & NLIBC_CONF_UNLOCKED) != 0))
    return NLIBC_E_ARG;
  conf->unlocked = (flags & NLIBC_CONF_UNLOCKED) != 0;
  // What is written is the file links lead to, in its own directory; a
  // handle that only reads needs no more than open() follows.
  conf->file = path;
  if ((flags & NLIBC_CONF_LOCK) != 0) {
    if (int rc = ResolveLinks(path, &conf->file)) return rc;
    if (int rc = OpenDirectory(conf, true)) return rc;
  } else if (conf->unlocked) {
    // Writes land in the directory the file is in now, wherever it moves;
    // one that is not there yet is found when the file is written.
    std::string resolved;
    if (ResolveLinks(path, &resolved) == 0) {
      conf->file = resolved;
      if (OpenDirectory(conf, false) != 0) conf->file = path;
    }
  }
  bool missing = false;
  int rc = ReadConfFile(conf->file, &conf->original, &missing);
  if (rc != 0 && !(missing && (flags & NLIBC_CONF_OPTIONAL) != 0)) return rc;
  conf->existed = rc == 0;
  return conf->doc.Load(conf->original, (flags & NLIBC_CONF_EXACT) != 0
                                            ? nlibc::ConfDoc::kExact
                                            : nlibc::ConfDoc::kSvnserve);
}

// What stat says of the handle's file: through its directory once that
// is open (see WriteAtomic).
int StatConf(const NLIBCONF& conf, struct stat* st) {
  return conf.dirFd >= 0 ? fstatat(conf.dirFd, BaseName(conf.file).c_str(), st, 0)
                         : stat(conf.file.c_str(), st);
}

// What a write gives the file: the old file's owner, group and mode (a
// new one's mode: 0644), without the bits for others when it is a secret.
Owner OwnerFor(const NLIBCONF& conf, bool secret) {
  Owner owner;
  struct stat st;
  if (StatConf(conf, &st) == 0) {
    owner.known = true;
    owner.uid = st.st_uid;
    owner.gid = st.st_gid;
    owner.mode = st.st_mode & 07777;
  }
  if (secret) owner.mode &= ~static_cast<mode_t>(07);
  return owner;
}

int WriteConf(NLIBCONF* conf, const std::string& text, bool inPlace,
              bool secret) {
  if (inPlace) {
    Owner owner = OwnerFor(*conf, secret);
    conf->written = true;
    if (conf->fileFd >= 0) close(conf->fileFd);
    return WriteInPlace(conf->file, text, owner.mode, &conf->fileFd);
  }
  // The first write finds the directory links lead to; later ones go
  // where it is (even if it has moved since).
  if (!conf->locked && conf->dirFd < 0)
    if (int rc = ResolveLinks(conf->file, &conf->file)) return rc;
  if (int rc = OpenDirectory(conf, !conf->unlocked)) return rc;
  Owner owner = OwnerFor(*conf, secret);
  bool renamed = false;
  int rc = WriteAtomic(conf->file, text, owner, conf->dirFd, &renamed);
  conf->written = conf->written || renamed;
  return rc;
}

int SaveConf(NLIBCONF* conf, int flags) {
  if ((flags & ~(NLIBC_SAVE_IN_PLACE | NLIBC_SAVE_PRIVATE)) != 0)
    return NLIBC_E_ARG;
  const bool secret = (flags & NLIBC_SAVE_PRIVATE) != 0;
  const std::string& text = conf->doc.Text();
  if (text == conf->original && conf->existed) {
    struct stat st;
    if (!secret || StatConf(*conf, &st) != 0 || (st.st_mode & 07) == 0)
      return 0;
    int rc = conf->dirFd >= 0 ? fchmodat(conf->dirFd, BaseName(conf->file).c_str(),
                                         st.st_mode & 07770, 0)
                              : chmod(conf->file.c_str(), st.st_mode & 07770);
    return rc == 0 ? 0 : NLIBC_E_WRITE;
  }
  return WriteConf(conf, text, (flags & NLIBC_SAVE_IN_PLACE) != 0, secret);
}

int RestoreConf(NLIBCONF* conf) {
  if (!conf->written) return 0;
  if (!conf->existed) {
    int rc = conf->dirFd >= 0 ? unlinkat(conf->dirFd, BaseName(conf->file).c_str(), 0)
                              : unlink(conf->file.c_str());
    if (rc != 0 && errno != ENOENT) return NLIBC_E_WRITE;
  } else if (int rc = WriteConf(conf, conf->original, false, false)) {
    return rc;
  }
  conf->written = false;
  return 0;
}

// One read, or one read-modify-write, of a file: `use` returns an error
// code, and with `write` a changed text is saved.
int WithConf(const char* path, bool write,
             const std::function<int(nlibc::ConfDoc&)>& use) {
  NLIBCONF conf;
  if (int rc = OpenConf(path, write ? NLIBC_CONF_LOCK : 0, &conf)) return rc;
  if (int rc = use(conf.doc)) return rc;
  return write ? SaveConf(&conf, 0) : 0;
}

// The key of a line token, in the first section, which must exist.
int TokenInFirstSection(const nlibc::ConfDoc& doc, const char* token,
                        std::string* key) {
  if (token == nullptr) return NLIBC_E_ARG;
  if (int rc = nlibc::TokenKey(token, key)) return rc;
  return doc.FirstSection().empty() ? NLIBC_E_NOTFOUND : 0;
}

int AddPairs(const nlibc::Pairs& pairs, PNLIBSZHASH* ppHash) {
  for (const auto& kv : pairs)
    if (NLIBCSzHashSetValue(ppHash, kv.first.c_str(), kv.second.c_str()) < 0)
      return NLIBCErrGet();
  return 0;
}

// Replaces the strings of *ppList by `items`.
int FillList(const std::vector<std::string>& items, PNLIBSZLIST* ppList) {
  PNLIBSZLIST list = *ppList;
  for (int i = 0; i < list->nItem; ++i) free(list->ppszItem[i]);
  list->nItem = 0;
  for (const std::string& item : items)
    if (NLIBCSzListAdd(ppList, item.c_str()) < 0) return NLIBCErrGet();
  return 0;
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
    return WithConf(szFile, false, [&](nlibc::ConfDoc& doc) -> int {
      std::string value;
      doc.Get(doc.FirstSection(), szKey, &value, &found);
      return found ? CopyOut(value, szBuf, nBufSize) : 0;
    });
  });
  return rc < 0 ? rc : (found ? 1 : 0);
}

int NLIBCFileSetKeyValue(const char* szFile, const char* szKey,
                         const char* szValue, int nFlags) {
  return Guard([&]() -> int {
    if (szKey == nullptr || szValue == nullptr || nFlags != 0)
      return NLIBC_E_ARG;
    return WithConf(szFile, true, [&](nlibc::ConfDoc& doc) -> int {
      if (doc.FirstSection().empty()) return NLIBC_E_NOTFOUND;
      return doc.Set(doc.FirstSection(), szKey, szValue);
    });
  });
}

int NLIBCFileLineComment(const char* szFile, const char* szLineToken,
                         int bActive) {
  return Guard([&]() -> int {
    return WithConf(szFile, true, [&](nlibc::ConfDoc& doc) -> int {
      std::string key;
      int rc = TokenInFirstSection(doc, szLineToken, &key);
      if (rc == NLIBC_E_NOTFOUND && !bActive) return 0;  // nothing active
      if (rc != 0) return rc;
      return bActive ? doc.Activate(doc.FirstSection(), key)
                     : doc.Comment(doc.FirstSection(), key);
    });
  });
}

int NLIBCFileGetLine(const char* szFile, const char* szLineToken,
                     char* szBuf, int nBufSize, int nFlags) {
  return Guard([&]() -> int {
    if (BadBuffer(szBuf, nBufSize, nFlags)) return NLIBC_E_ARG;
    return WithConf(szFile, false, [&](nlibc::ConfDoc& doc) -> int {
      std::string key, line;
      if (int rc = TokenInFirstSection(doc, szLineToken, &key)) return rc;
      if (int rc = doc.GetLine(doc.FirstSection(), key, &line)) return rc;
      return CopyOut(line, szBuf, nBufSize);
    });
  });
}

int NLIBCFileSetLine(const char* szFile, const char* szLineToken,
                     const char* szText, int nFlags) {
  return Guard([&]() -> int {
    if (szText == nullptr || nFlags != 0) return NLIBC_E_ARG;
    return WithConf(szFile, true, [&](nlibc::ConfDoc& doc) -> int {
      std::string key;
      if (int rc = TokenInFirstSection(doc, szLineToken, &key)) return rc;
      return doc.SetLine(doc.FirstSection(), key, szText);
    });
  });
}

int NLIBCFileGetSection(const char* szFile, const char* szSection,
                        PNLIBSZHASH* ppHash) {
  return Guard([&]() -> int {
    if (szSection == nullptr || ppHash == nullptr || *ppHash == nullptr)
      return NLIBC_E_ARG;
    return WithConf(szFile, false, [&](nlibc::ConfDoc& doc) -> int {
      nlibc::Pairs pairs;
      doc.GetSection(szSection, &pairs);
      return AddPairs(pairs, ppHash);
    });
  });
}

int NLIBCFileSetSection(const char* szFile, const char* szSection,
                        const char* szReserved, PNLIBSZHASH pHash,
                        int nFlags) {
  return Guard([&]() -> int {
    if (szSection == nullptr || szReserved != nullptr || pHash == nullptr ||
        nFlags != 0)
      return NLIBC_E_ARG;
    return WithConf(szFile, true, [&](nlibc::ConfDoc& doc) -> int {
      return doc.SetSection(szSection, pHash->pairs);
    });
  });
}

PNLIBCONF NLIBCConfOpen(const char* szFile, int nFlags) {
  PNLIBCONF conf = nullptr;
  int rc = Guard([&]() -> int {
    std::unique_ptr<NLIBCONF> c(new NLIBCONF);
    if (int r = OpenConf(szFile, nFlags, c.get())) return r;
    conf = c.release();
    return 0;
  });
  return rc < 0 ? nullptr : conf;
}

PNLIBCONF NLIBCConfParse(const char* szText, unsigned long nSize, int nFlags) {
  PNLIBCONF conf = nullptr;
  int rc = Guard([&]() -> int {
    if (szText == nullptr || (nFlags & ~NLIBC_CONF_EXACT) != 0) return NLIBC_E_ARG;
    std::unique_ptr<NLIBCONF> c(new NLIBCONF);
    c->original.assign(szText, nSize);
    if (int r = c->doc.Load(c->original, (nFlags & NLIBC_CONF_EXACT) != 0
                                             ? nlibc::ConfDoc::kExact
                                             : nlibc::ConfDoc::kSvnserve))
      return r;
    conf = c.release();
    return 0;
  });
  return rc < 0 ? nullptr : conf;
}

void NLIBCConfFree(PNLIBCONF pConf) { delete pConf; }

const char* NLIBCConfGet(PNLIBCONF pConf, const char* szSection,
                         const char* szKey) {
  bool found = false;
  int rc = Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || szKey == nullptr)
      return NLIBC_E_ARG;
    pConf->doc.Get(szSection, szKey, &pConf->value, &found);
    return 0;
  });
  return rc == 0 && found ? pConf->value.c_str() : nullptr;
}

int NLIBCConfSet(PNLIBCONF pConf, const char* szSection, const char* szKey,
                 const char* szValue) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || szKey == nullptr ||
        szValue == nullptr)
      return NLIBC_E_ARG;
    return pConf->doc.Set(szSection, szKey, szValue);
  });
}

int NLIBCConfActivate(PNLIBCONF pConf, const char* szSection,
                      const char* szKey) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || szKey == nullptr)
      return NLIBC_E_ARG;
    return pConf->doc.Activate(szSection, szKey);
  });
}

int NLIBCConfComment(PNLIBCONF pConf, const char* szSection,
                     const char* szKey) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || szKey == nullptr)
      return NLIBC_E_ARG;
    return pConf->doc.Comment(szSection, szKey);
  });
}

int NLIBCConfGetSection(PNLIBCONF pConf, const char* szSection,
                        PNLIBSZHASH* ppHash) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || ppHash == nullptr ||
        *ppHash == nullptr)
      return NLIBC_E_ARG;
    nlibc::Pairs pairs;
    pConf->doc.Lookups(szSection, &pairs);
    return AddPairs(pairs, ppHash);
  });
}

int NLIBCConfSetSection(PNLIBCONF pConf, const char* szSection,
                        PNLIBSZHASH pHash) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || pHash == nullptr)
      return NLIBC_E_ARG;
    return pConf->doc.SetSection(szSection, pHash->pairs);
  });
}

const char* NLIBCConfText(PNLIBCONF pConf, unsigned long* pnSize) {
  if (pConf == nullptr) return nullptr;
  if (pnSize != nullptr) *pnSize = pConf->doc.Text().size();
  return pConf->doc.Text().c_str();
}

int NLIBCConfGetSections(PNLIBCONF pConf, PNLIBSZLIST* ppList) {
  return Guard([&]() -> int {
    if (pConf == nullptr || ppList == nullptr || *ppList == nullptr)
      return NLIBC_E_ARG;
    std::vector<std::string> names;
    pConf->doc.Sections(&names);
    return FillList(names, ppList);
  });
}

int NLIBCConfGetEntries(PNLIBCONF pConf, const char* szSection,
                        PNLIBSZLIST* ppNames, PNLIBSZLIST* ppValues) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || ppNames == nullptr ||
        *ppNames == nullptr || ppValues == nullptr || *ppValues == nullptr)
      return NLIBC_E_ARG;
    nlibc::Pairs entries;
    pConf->doc.Entries(szSection, &entries);
    std::vector<std::string> names, values;
    for (const auto& kv : entries) {
      names.push_back(kv.first);
      values.push_back(kv.second);
    }
    if (int rc = FillList(names, ppNames)) return rc;
    return FillList(values, ppValues);
  });
}

int NLIBCConfSetSections(PNLIBCONF pConf, int nCount,
                         const char* const* pszSections, const PNLIBSZHASH* pHashes) {
  return Guard([&]() -> int {
    if (pConf == nullptr || nCount < 0 || (nCount > 0 && (pszSections == nullptr || pHashes == nullptr)))
      return NLIBC_E_ARG;
    std::vector<std::pair<std::string, const nlibc::Pairs*>> sections;
    for (int i = 0; i < nCount; ++i) {
      if (pszSections[i] == nullptr) return NLIBC_E_ARG;
      sections.emplace_back(pszSections[i],
                            pHashes[i] == nullptr ? nullptr : &pHashes[i]->pairs);
    }
    return pConf->doc.SetSections(sections);
  });
}

int NLIBCConfRenameSection(PNLIBCONF pConf, const char* szSection,
                           const char* szNew) {
  return Guard([&]() -> int {
    if (pConf == nullptr || szSection == nullptr || szNew == nullptr)
      return NLIBC_E_ARG;
    return pConf->doc.RenameSection(szSection, szNew);
  });
}

int NLIBCConfCheckValue(const char* szKey, const char* szValue) {
  return Guard([&]() -> int {
    if (szKey == nullptr || szValue == nullptr) return NLIBC_E_ARG;
    return nlibc::CheckOption(szKey, szValue);
  });
}

int NLIBCConfCheckSection(PNLIBSZHASH pHash) {
  return Guard([&]() -> int {
    return pHash == nullptr ? NLIBC_E_ARG : nlibc::CheckPairs(pHash->pairs);
  });
}

int NLIBCConfSave(PNLIBCONF pConf, int nFlags) {
  return Guard([&]() -> int {
    return pConf == nullptr || pConf->file.empty() ? NLIBC_E_ARG : SaveConf(pConf, nFlags);
  });
}

int NLIBCConfSync(PNLIBCONF pConf) {
  return Guard([&]() -> int {
    if (pConf == nullptr) return NLIBC_E_ARG;
    if (pConf->fileFd < 0) return 0;
    int fd = pConf->fileFd;
    pConf->fileFd = -1;
    bool ok = fsync(fd) == 0;
    return close(fd) == 0 && ok ? 0 : NLIBC_E_WRITE;
  });
}

int NLIBCConfRestore(PNLIBCONF pConf) {
  return Guard([&]() -> int {
    return pConf == nullptr ? NLIBC_E_ARG : RestoreConf(pConf);
  });
}

int NLIBCStrValidUtf8(const char* szText, unsigned long nSize) {
  if (szText == nullptr) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(szText);
  size_t i = 0;
  while (i < nSize) {
    unsigned char c = s[i];
    size_t n;
    unsigned long cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return 0;
    }
    if (i + n >= nSize) return 0;
    for (size_t k = 1; k <= n; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return 0;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // No overlong forms, surrogates or code points past U+10FFFF.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return 0;
    i += n + 1;
  }
  return 1;
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
