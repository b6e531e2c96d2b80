// The utility library's C interface: file edits on real repositories made
// by svnadmin, read back with Subversion's reader; refusals and failed
// writes leaving the file byte-identical; concurrent writers; processes;
// containers.

#include "nlibc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "svn_config_reader.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class NlibcFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(SANDBOX_DIR) + "/" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::system(("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'").c_str());
    ASSERT_EQ(0, std::system(("svnadmin create '" + dir_ + "/repo'").c_str()));
    conf_ = dir_ + "/repo/conf/svnserve.conf";
    passwd_ = dir_ + "/repo/conf/passwd";
  }
  void TearDown() override {
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::string dir_, conf_, passwd_;
};

TEST_F(NlibcFiles, EditsOnTheRealTemplateReadBackBySubversion) {
  for (const char* token : {"anon-access = ", "auth-access = ", "password-db = "})
    ASSERT_EQ(0, NLIBCFileLineComment(conf_.c_str(), token, 1)) << token;
  ASSERT_EQ(0, NLIBCFileSetKeyValue(conf_.c_str(), "realm", "My Team", 0));
  ASSERT_EQ(0, NLIBCFileSetKeyValue(conf_.c_str(), "anon-access", "none", 0));

  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(conf_, &cfg, &error)) << error;
  EXPECT_EQ((std::map<std::string, std::string>{{"anon-access", "none"},
                                                {"auth-access", "write"},
                                                {"password-db", "passwd"},
                                                {"realm", "My Team"}}),
            cfg["general"]);

  char buf[512] = {0};
  EXPECT_EQ(1, NLIBCFileGetKeyValue(conf_.c_str(), "realm", buf, 512, 0));
  EXPECT_STREQ("My Team", buf);
  ASSERT_EQ(0, NLIBCFileLineComment(conf_.c_str(), "realm =", 0));
  ASSERT_EQ(0, NLIBCFileLineComment(conf_.c_str(), "realm =", 0));
  memset(buf, 'x', 4);
  buf[4] = '\0';
  EXPECT_EQ(0, NLIBCFileGetKeyValue(conf_.c_str(), "realm", buf, 512, 0));
  EXPECT_STREQ("xxxx", buf);  // untouched when absent
  std::string realm;
  EXPECT_FALSE(SvnGetValue(conf_, "general", "realm", &realm));

  PNLIBSZHASH hash = NLIBCSzHashAlloc(512);
  ASSERT_EQ(0, NLIBCSzHashSetValue(&hash, "alice", "secret 1"));
  ASSERT_EQ(0, NLIBCSzHashSetValue(&hash, "bob", "#2"));
  ASSERT_EQ(0, NLIBCFileSetSection(passwd_.c_str(), "users", nullptr, hash, 0));
  NLIBCSzHashFree(hash);
  ASSERT_TRUE(SvnReadConfig(passwd_, &cfg, &error)) << error;
  EXPECT_EQ((std::map<std::string, std::string>{{"alice", "secret 1"},
                                                {"bob", "#2"}}),
            cfg["users"]);

  hash = NLIBCSzHashAlloc(512);
  ASSERT_EQ(0, NLIBCFileGetSection(passwd_.c_str(), "users", &hash));
  EXPECT_EQ(2, NLIBCSzHashCount(hash));
  EXPECT_STREQ("#2", NLIBCSzHashGetValue(hash, "bob"));
  NLIBCSzHashFree(hash);
}

TEST_F(NlibcFiles, GetLineAndSetLine) {
  ASSERT_EQ(0, NLIBCFileLineComment(conf_.c_str(), "anon-access = ", 1));
  char buf[512] = {0};
  ASSERT_EQ(0, NLIBCFileGetLine(conf_.c_str(), "anon-access = ", buf, 512, 0));
  EXPECT_STREQ("anon-access = read", buf);
  char small[8];
  EXPECT_LT(NLIBCFileGetLine(conf_.c_str(), "anon-access = ", small, 8, 0), 0);
  EXPECT_EQ(NLIBC_E_OVERFLOW, NLIBCErrGet());
  ASSERT_EQ(0, NLIBCFileSetLine(conf_.c_str(), "anon-access = ",
                                "anon-access=write", 0));
  std::string value;
  ASSERT_TRUE(SvnGetValue(conf_, "general", "anon-access", &value));
  EXPECT_EQ("write", value);
  char trim[] = " \t a b \r\n";
  EXPECT_EQ(0, NLIBCStrTrimSpace(trim, 0));
  EXPECT_STREQ("a b", trim);
}

TEST_F(NlibcFiles, RefusalsLeaveTheFileByteIdentical) {
  const std::string before = Slurp(conf_), passwdBefore = Slurp(passwd_);
  struct {
    const char* key;
    std::string value;
    int code;
  } cases[] = {
      {"realm", "two\nlines", NLIBC_E_BADCHAR},
      {"realm", "%(anon-access)s", NLIBC_E_BADVALUE},
      {"realm", " padded", NLIBC_E_BADVALUE},
      {"re=alm", "x", NLIBC_E_BADKEY},
  };
  for (const auto& c : cases) {
    EXPECT_LT(NLIBCFileSetKeyValue(conf_.c_str(), c.key, c.value.c_str(), 0), 0)
        << c.value;
    EXPECT_EQ(c.code, NLIBCErrGet()) << c.value;
  }
  EXPECT_LT(NLIBCFileLineComment(conf_.c_str(), "no-such = ", 1), 0);
  EXPECT_EQ(NLIBC_E_NOTFOUND, NLIBCErrGet());
  EXPECT_EQ(before, Slurp(conf_));

  PNLIBSZHASH hash = NLIBCSzHashAlloc(512);
  NLIBCSzHashSetValue(&hash, "Bob", "1");
  NLIBCSzHashSetValue(&hash, "bob", "2");
  EXPECT_LT(NLIBCFileSetSection(passwd_.c_str(), "users", nullptr, hash, 0), 0);
  EXPECT_EQ(NLIBC_E_DUPKEY, NLIBCErrGet());
  NLIBCSzHashFree(hash);
  EXPECT_EQ(passwdBefore, Slurp(passwd_));

  // A file Subversion cannot parse is neither read nor written.
  Spit(conf_, "realm = outside any section\n");
  char buf[512] = {0};
  EXPECT_LT(NLIBCFileGetKeyValue(conf_.c_str(), "realm", buf, 512, 0), 0);
  EXPECT_EQ(NLIBC_E_SYNTAX, NLIBCErrGet());
  EXPECT_LT(NLIBCFileSetKeyValue(conf_.c_str(), "realm", "x", 0), 0);
  EXPECT_EQ("realm = outside any section\n", Slurp(conf_));
  EXPECT_LT(NLIBCFileGetKeyValue((dir_ + "/missing").c_str(), "realm", buf, 512,
                                 0),
            0);
  EXPECT_EQ(NLIBC_E_READ, NLIBCErrGet());
}

// Runs `edit` in a child whose files may not grow past `limit` bytes, so
// that the write of the new file fails half-way (even for root).
int EditWithFileSizeLimit(rlim_t limit, void (*edit)(const char*),
                          const char* path) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    edit(path);
    _exit(NLIBCErrGet());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(NlibcFiles, FailedWritesLeaveTheOriginal) {
  ASSERT_EQ(0, chmod(passwd_.c_str(), 0640));
  const std::string before = Slurp(passwd_);
  auto bigSection = [](const char* path) {
    PNLIBSZHASH hash = NLIBCSzHashAlloc(512);
    for (int i = 0; i < 200; ++i)
      NLIBCSzHashSetValue(&hash, ("user" + std::to_string(i)).c_str(),
                          "password");
    NLIBCFileSetSection(path, "users", nullptr, hash, 0);
    NLIBCSzHashFree(hash);
  };
  EXPECT_EQ(NLIBC_E_WRITE, EditWithFileSizeLimit(1024, bigSection,
                                                 passwd_.c_str()));
  EXPECT_EQ(before, Slurp(passwd_));

  // A killed writer's temporary files are removed by the next writer (a
  // link among them is removed, not followed); other files stay.
  const std::string conf = dir_ + "/repo/conf/";
  Spit(dir_ + "/outside", "keep");
  Spit(conf + ".passwd.Ab12Cd", "leftover");
  ASSERT_EQ(0, symlink((dir_ + "/outside").c_str(), (conf + ".passwd.Xy34Zw").c_str()));
  Spit(conf + ".passwd.keep", "not ours");
  bigSection(passwd_.c_str());
  EXPECT_NE(before, Slurp(passwd_));
  EXPECT_NE(0, access((conf + ".passwd.Ab12Cd").c_str(), F_OK));
  EXPECT_NE(0, access((conf + ".passwd.Xy34Zw").c_str(), F_OK));
  EXPECT_EQ("keep", Slurp(dir_ + "/outside"));
  EXPECT_EQ("not ours", Slurp(conf + ".passwd.keep"));
  // A write that succeeds keeps the mode and leaves nothing behind.
  struct stat st;
  ASSERT_EQ(0, stat(passwd_.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(0, std::system(("test $(ls -A '" + conf + "' | wc -l) -eq 5").c_str()));
}

TEST_F(NlibcFiles, ReadsOnlyRegularFilesOfBoundedSize) {
  const std::string d = dir_ + "/odd/";
  ASSERT_EQ(0, std::system(("mkdir -p '" + d + "dir' && mkfifo '" + d + "fifo' && "
                            "ln -s /dev/zero '" + d + "zero' && "
                            "truncate -s 40M '" + d + "big'").c_str()));
  for (const char* name : {"fifo", "zero", "dir", "big", "missing"}) {
    std::string path = d + name;
    EXPECT_EQ(nullptr, NLIBCConfOpen(path.c_str(), 0)) << name;
    EXPECT_EQ(NLIBC_E_READ, NLIBCErrGet()) << name;
    char buf[16];
    EXPECT_LT(NLIBCFileGetKeyValue(path.c_str(), "k", buf, sizeof buf, 0), 0) << name;
  }
  // A missing file may be asked for as an empty one.
  PNLIBCONF conf = NLIBCConfOpen((d + "missing").c_str(), NLIBC_CONF_OPTIONAL);
  ASSERT_NE(nullptr, conf);
  EXPECT_EQ(nullptr, NLIBCConfGet(conf, "users", "alice"));
  NLIBCConfFree(conf);
}

TEST_F(NlibcFiles, HandlesEditInMemoryAndSaveOnce) {
  Spit(conf_, "[sasl]\nuse-sasl = false\n[general]\n# realm = old\n");
  const std::string before = Slurp(conf_);
  alarm(20);  // two handles locking one directory must not wait for each other
  PNLIBCONF conf = NLIBCConfOpen(conf_.c_str(), NLIBC_CONF_LOCK);
  PNLIBCONF passwd = NLIBCConfOpen(passwd_.c_str(), NLIBC_CONF_LOCK);
  alarm(0);
  ASSERT_NE(nullptr, conf);
  ASSERT_NE(nullptr, passwd);
  ASSERT_EQ(0, NLIBCConfSet(conf, "general", "realm", std::string(600, 'r').c_str()));
  ASSERT_EQ(0, NLIBCConfSet(conf, "general", "anon-access", "none"));
  EXPECT_LT(NLIBCConfSet(conf, "general", "anon-access", "two\nlines"), 0);
  EXPECT_EQ("none", std::string(NLIBCConfGet(conf, "general", "anon-access")));
  EXPECT_EQ(before, Slurp(conf_));  // nothing written yet
  ASSERT_EQ(0, NLIBCConfSave(conf, 0));
  std::string value;
  ASSERT_TRUE(SvnGetValue(conf_, "general", "realm", &value));
  EXPECT_EQ(std::string(600, 'r'), value);
  char small[512];
  EXPECT_LT(NLIBCFileGetKeyValue(conf_.c_str(), "use-sasl", small, 4, 0), 0);
  EXPECT_EQ(NLIBC_E_OVERFLOW, NLIBCErrGet());
  ASSERT_EQ(0, NLIBCConfRestore(conf));
  EXPECT_EQ(before, Slurp(conf_));
  NLIBCConfFree(passwd);
  NLIBCConfFree(conf);
}

// Anyone who can read a directory can lock it: a handle whose caller keeps
// writers apart itself writes and puts back without waiting for that lock.
TEST_F(NlibcFiles, AnUnlockedHandleNeverWaitsForTheDirectory) {
  EXPECT_EQ(nullptr, NLIBCConfOpen(conf_.c_str(), NLIBC_CONF_LOCK | NLIBC_CONF_UNLOCKED));
  EXPECT_EQ(NLIBC_E_ARG, NLIBCErrGet());
  const std::string before = Slurp(conf_);
  int dir = open((dir_ + "/repo/conf").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(0, flock(dir, LOCK_EX));
  alarm(20);
  PNLIBCONF conf = NLIBCConfOpen(conf_.c_str(), NLIBC_CONF_UNLOCKED);
  ASSERT_NE(nullptr, conf);
  ASSERT_EQ(0, NLIBCConfSet(conf, "general", "realm", "Unlocked"));
  ASSERT_EQ(0, NLIBCConfSave(conf, 0));
  std::string value;
  ASSERT_TRUE(SvnGetValue(conf_, "general", "realm", &value));
  EXPECT_EQ("Unlocked", value);
  ASSERT_EQ(0, NLIBCConfRestore(conf));
  alarm(0);
  EXPECT_EQ(before, Slurp(conf_));
  NLIBCConfFree(conf);
  close(dir);
}

// A handle writes into the directory it locked, wherever that directory
// has gone since: a repository renamed while its files are open keeps
// the edit, and nothing appears at the old path.
TEST_F(NlibcFiles, HandlesWriteWhereTheirDirectoryMoved) {
  PNLIBCONF conf = NLIBCConfOpen(conf_.c_str(), NLIBC_CONF_LOCK);
  PNLIBCONF fresh = NLIBCConfOpen((dir_ + "/repo/conf/new").c_str(),
                                  NLIBC_CONF_LOCK | NLIBC_CONF_OPTIONAL);
  ASSERT_NE(nullptr, conf);
  ASSERT_NE(nullptr, fresh);
  ASSERT_EQ(0, std::rename((dir_ + "/repo").c_str(), (dir_ + "/moved").c_str()));
  ASSERT_EQ(0, NLIBCConfSet(conf, "general", "realm", "Moved"));
  ASSERT_EQ(0, NLIBCConfSet(fresh, "general", "realm", "New"));
  EXPECT_EQ(0, NLIBCConfSave(conf, 0));
  EXPECT_EQ(0, NLIBCConfSave(fresh, 0));
  std::string value;
  EXPECT_TRUE(SvnGetValue(dir_ + "/moved/conf/svnserve.conf", "general", "realm", &value));
  EXPECT_EQ("Moved", value);
  EXPECT_EQ(0, NLIBCConfRestore(fresh));  // a file that was new goes again
  EXPECT_EQ(-1, access((dir_ + "/moved/conf/new").c_str(), F_OK));
  EXPECT_EQ(-1, access((dir_ + "/repo").c_str(), F_OK));
  NLIBCConfFree(fresh);
  NLIBCConfFree(conf);
}

TEST_F(NlibcFiles, WritesFollowLinksAndKeepSecretsPrivate) {
  ASSERT_EQ(0, std::system(("mkdir '" + dir_ + "/shared' && mv '" + passwd_ + "' '" +
                            dir_ + "/shared/passwd' && chmod 0644 '" + dir_ +
                            "/shared/passwd' && ln -s ../../shared/passwd '" +
                            passwd_ + "'").c_str()));
  PNLIBCONF passwd = NLIBCConfOpen(passwd_.c_str(), NLIBC_CONF_LOCK);
  ASSERT_NE(nullptr, passwd);
  PNLIBSZHASH hash = NLIBCSzHashAlloc(4);
  NLIBCSzHashSetValue(&hash, "alice", "pw");
  ASSERT_EQ(0, NLIBCConfSetSection(passwd, "users", hash));
  ASSERT_EQ(0, NLIBCConfSave(passwd, NLIBC_SAVE_PRIVATE));
  NLIBCSzHashFree(hash);
  NLIBCConfFree(passwd);
  struct stat st;
  ASSERT_EQ(0, lstat(passwd_.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, stat((dir_ + "/shared/passwd").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  std::string value;
  ASSERT_TRUE(SvnGetValue(dir_ + "/shared/passwd", "users", "alice", &value));
  EXPECT_EQ("pw", value);
  EXPECT_EQ(0, std::system(("test $(ls -A '" + dir_ + "/shared' | wc -l) -eq 1").c_str()));

  // The new file keeps the old one's owner and group; a writer that
  // cannot give it the group is refused (the group's readers would be
  // locked out), and the file stays as it was.
  const std::string shared = dir_ + "/shared/passwd";
  if (getuid() == 0) {  // giving files away needs root
    ASSERT_EQ(0, chown(shared.c_str(), 1, 1));
    ASSERT_EQ(0, NLIBCFileSetSection(passwd_.c_str(), "users", nullptr,
                                     hash = NLIBCSzHashAlloc(4), 0));
    NLIBCSzHashFree(hash);
    ASSERT_EQ(0, stat(shared.c_str(), &st));
    EXPECT_EQ(1u, st.st_uid);
    EXPECT_EQ(1u, st.st_gid);
    ASSERT_EQ(0, chown((dir_ + "/shared").c_str(), 65534, 65534));
    ASSERT_EQ(0, chown(shared.c_str(), 65534, 1));
    const std::string before = Slurp(shared);
    pid_t pid = fork();
    if (pid == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
      PNLIBSZHASH h = NLIBCSzHashAlloc(4);
      NLIBCSzHashSetValue(&h, "mallory", "pw");
      _exit(NLIBCFileSetSection(shared.c_str(), "users", nullptr, h, 0) < 0 ? NLIBCErrGet() : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(NLIBC_E_WRITE, WEXITSTATUS(status));
    EXPECT_EQ(before, Slurp(shared));
  }

  // Unchanged, a secret file is still made private.
  chmod((dir_ + "/shared/passwd").c_str(), 0604);
  passwd = NLIBCConfOpen(passwd_.c_str(), 0);
  ASSERT_EQ(0, NLIBCConfSave(passwd, NLIBC_SAVE_PRIVATE));
  NLIBCConfFree(passwd);
  ASSERT_EQ(0, stat((dir_ + "/shared/passwd").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(NlibcFiles, ConcurrentWritersLoseNothing) {
  const int kWriters = 8, kRounds = 25;
  for (int w = 0; w < kWriters; ++w) {
    if (fork() == 0) {
      std::string key = "key" + std::to_string(w);
      int failures = 0;
      for (int r = 0; r <= kRounds; ++r)
        failures += NLIBCFileSetKeyValue(conf_.c_str(), key.c_str(),
                                         std::to_string(r).c_str(), 0) < 0;
      _exit(failures);
    }
  }
  for (int w = 0; w < kWriters; ++w) {
    int status = 0;
    wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(conf_, &cfg, &error)) << error;
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(std::to_string(kRounds), cfg["general"]["key" + std::to_string(w)])
        << "writer " << w;
}

// Runs NLIBCExec with our stdout and stderr sent to files, and returns
// what each received.
int ExecCapturing(const std::string& dir, std::string* out, std::string* err,
                  const char* prog, const char* a1 = nullptr,
                  const char* a2 = nullptr) {
  std::string outPath = dir + "/out", errPath = dir + "/err";
  fflush(stdout);
  fflush(stderr);
  int saved1 = dup(1), saved2 = dup(2);
  int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(o, 1);
  dup2(e, 2);
  int rc = NLIBCExec(prog, a1, a2, nullptr, nullptr);
  dup2(saved1, 1);
  dup2(saved2, 2);
  close(o);
  close(e);
  close(saved1);
  close(saved2);
  *out = Slurp(outPath);
  *err = Slurp(errPath);
  return rc;
}

TEST_F(NlibcFiles, ExecRunsWithoutAShellAndKeepsStdoutClean) {
  std::string out, err;
  EXPECT_EQ(0, ExecCapturing(dir_, &out, &err, "/bin/echo", "a;b", "$HOME"));
  EXPECT_EQ("", out);
  EXPECT_EQ("a;b $HOME\n", err);

  // The child sees no request variable.
  setenv("QUERY_STRING", "password=secret", 1);
  EXPECT_EQ(0, ExecCapturing(dir_, &out, &err, "/usr/bin/env"));
  unsetenv("QUERY_STRING");
  EXPECT_NE(std::string::npos, err.find("LC_ALL=C.UTF-8\n"));
  EXPECT_EQ(std::string::npos, err.find("secret"));
  EXPECT_EQ(0, ExecCapturing(dir_, &out, &err, "/bin/cat"));  // stdin empty

  EXPECT_LT(ExecCapturing(dir_, &out, &err, "/bin/false"), 0);
  EXPECT_EQ(NLIBC_E_CHILD, NLIBCErrGet());
  EXPECT_LT(ExecCapturing(dir_, &out, &err, "/no/such/program"), 0);
  EXPECT_EQ(NLIBC_E_EXEC, NLIBCErrGet());
  EXPECT_LT(ExecCapturing(dir_, &out, &err, "/bin/sh", "-c", "kill -9 $$"), 0);
  EXPECT_EQ(NLIBC_E_CHILD, NLIBCErrGet());

  EXPECT_NE(0, NLIBCFileExist(conf_.c_str()));
  EXPECT_EQ(0, NLIBCFileExist((dir_ + "/nothing").c_str()));
}

TEST(NlibcContainers, HashKeepsOrderGrowsAndCopies) {
  PNLIBSZHASH hash = NLIBCSzHashAlloc(2);
  char key[16];
  for (int i = 0; i < 3000; ++i) {
    snprintf(key, sizeof key, "k%d", 2999 - i);
    ASSERT_EQ(0, NLIBCSzHashSetValue(&hash, key, key));
  }
  strcpy(key, "k0");  // the hash holds its own copies
  key[0] = 'x';
  ASSERT_EQ(0, NLIBCSzHashSetValue(&hash, "k5", "replaced"));
  EXPECT_EQ(3000, NLIBCSzHashCount(hash));
  EXPECT_STREQ("replaced", NLIBCSzHashGetValue(hash, "k5"));
  EXPECT_STREQ("k0", NLIBCSzHashGetValue(hash, "k0"));
  EXPECT_EQ(nullptr, NLIBCSzHashGetValue(hash, "K0"));

  PNLIBSZLIST list = NLIBCSzListAlloc(1);
  NLIBCSzListAdd(&list, "stale");
  ASSERT_EQ(0, NLIBCSzHashEnumKey(hash, &list));
  ASSERT_EQ(3000, list->nItem);
  EXPECT_STREQ("k2999", NLIBCSzListGet(list, 0));
  EXPECT_STREQ("k0", NLIBCSzListGet(list, 2999));
  EXPECT_EQ(nullptr, NLIBCSzListGet(list, 3000));
  NLIBCSzListFree(list);
  NLIBCSzHashFree(hash);
}

}  // namespace
