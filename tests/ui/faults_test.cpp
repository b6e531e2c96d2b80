// Faults: a full disk, the program killed at random moments, and a
// repository tool that fails, hangs or prints.  Files are always an old or
// a new version, and the HTTP response is never corrupted.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/writer.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "cgi_run.h"
#include "program.h"
#include "sandbox.h"
#include "svn_config_reader.h"

extern char** environ;

namespace {

using namespace program;

const char kProgram[] = SVN_CGI;

class Faults : public ::testing::Test {
 protected:
  void SetUp() override { sandbox::Reset(); }
  void TearDown() override {
    if (mounted_) umount(sandbox::Root().c_str());
  }
  bool mounted_ = false;
};

TEST_F(Faults, FullDiskLeavesBothFilesAsTheyWere) {
  if (mount("tmpfs", sandbox::Root().c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  mounted_ = true;
  ASSERT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "add"}, {"name", "full"}, {"realm", "R"}, {"anon", "read"},
                  {"accounts", Accounts({{"alice", "pw"}})}}).body);
  const std::string conf = sandbox::ReadFile(Conf("full"));
  const std::string passwd = sandbox::ReadFile(Passwd("full"));
  sandbox::Shell("dd if=/dev/zero of='" + sandbox::Root() + "/filler' bs=4k 2>/dev/null");

  Params edit{{"action", "edit"}, {"name", "full"}, {"realm", "A new realm"},
              {"anon", "none"}, {"accounts", Accounts({{"bob", "pw2"}, {"carol", "pw3"}})}};
  EXPECT_EQ(R"({"success":false})", Post(edit).body);
  EXPECT_EQ(conf, sandbox::ReadFile(Conf("full")));
  EXPECT_EQ(passwd, sandbox::ReadFile(Passwd("full")));
  // An add fails whole: the root holds what it held, and the working
  // directory (here under the root, the tmpfs being a file system of its
  // own) is empty again.
  EXPECT_EQ(R"({"success":false})",
            Post({{"action", "add"}, {"name", "more"}, {"anon", "read"},
                  {"accounts", "[]"}}).body);
  EXPECT_EQ((Lines{"..work", "filler", "full"}), sandbox::Entries(sandbox::Root()));
  EXPECT_TRUE(sandbox::Entries(sandbox::Root() + "/..work").empty());

  unlink((sandbox::Root() + "/filler").c_str());
  EXPECT_EQ(R"({"data":null,"success":true})", Post(edit).body);
}

pid_t StartCgi(const std::string& body, const std::string& bodyFile);

// Runs the program on `body` and sends it SIGKILL after up to `maxUs`
// microseconds; true when the signal ended it.
bool KillAtRandom(const std::string& body, std::mt19937* rng, unsigned maxUs) {
  pid_t pid = StartCgi(body, sandbox::Dir() + "/body");
  EXPECT_GT(pid, 0);
  usleep((*rng)() % maxUs);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status);
}

// Starts the program on `body` without waiting for it.
pid_t StartCgi(const std::string& body, const std::string& bodyFile) {
  sandbox::WriteFile(bodyFile, body);
  std::vector<std::string> vars;
  for (const auto& kv : PostEnv(body)) vars.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (std::string& v : vars) envp.push_back(&v[0]);
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(kProgram), nullptr};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, bodyFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  posix_spawn(&pid, kProgram, &fa, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

TEST_F(Faults, KilledEditsLeaveAnOldOrANewVersion) {
  const std::vector<std::string> realms{"Initial", "Realm one", "Realm two"};
  const std::vector<std::string> anons{"read", "write", "none"};
  const std::vector<Params> lists{{{"init", "pw"}},
                                  {{"a", "1"}, {"b", "2"}},
                                  {{"c", "3"}, {"d", "4"}, {"e", "5"}}};
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "k"}, {"realm", "Initial"},
                    {"anon", "read"}, {"accounts", Accounts(lists[0])}})
                  .json["success"]
                  .asBool());
  // Every version a sequence of complete writes can leave.
  const std::string conf0 = sandbox::ReadFile(Conf("k"));
  const std::string passwd0 = sandbox::ReadFile(Passwd("k"));
  const std::string tpl = passwd0.substr(0, passwd0.size() - std::string("init = pw\n").size());
  std::set<std::string> confs, passwds;
  for (const std::string& r : realms) {
    for (const std::string& a : anons) {
      std::string c = conf0;
      c.replace(c.find("realm = Initial"), 15, "realm = " + r);
      c.replace(c.find("anon-access = read"), 18, "anon-access = " + a);
      confs.insert(c);
    }
  }
  for (const Params& l : lists) {
    std::string p = tpl;
    for (const auto& kv : l) p += kv.first + " = " + kv.second + "\n";
    passwds.insert(p);
  }

  std::mt19937 rng(12345);
  int kills = 0, runs = 0;
  for (; kills < 200 && runs < 2000; ++runs) {
    std::string body = FormEncode({{"action", "edit"}, {"name", "k"},
                                   {"realm", realms[rng() % 3]}, {"anon", anons[rng() % 3]},
                                   {"accounts", Accounts(lists[rng() % 3])}});
    kills += KillAtRandom(body, &rng, 6000);
    std::string conf = sandbox::ReadFile(Conf("k")), passwd = sandbox::ReadFile(Passwd("k"));
    ASSERT_TRUE(confs.count(conf)) << "after run " << runs << ":\n" << conf;
    ASSERT_TRUE(passwds.count(passwd)) << "after run " << runs << ":\n" << passwd;
  }
  printf("%d runs, %d killed\n", runs, kills);
  EXPECT_GE(kills, 200);
  // The repository is still served correctly afterwards.
  EXPECT_EQ(R"({"data":null,"success":true})",
            Post({{"action", "edit"}, {"name", "k"}, {"realm", "After"}, {"anon", "none"},
                  {"accounts", "[]"}}).body);
  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfig(Conf("k"), &cfg, &error)) << error;
  EXPECT_EQ("After", cfg["general"]["realm"]);
}

TEST_F(Faults, KilledAddsAndRemovesLeaveAWholeRepositoryOrNone) {
  const std::string accounts = Accounts({{"alice", "pw a"}});
  std::mt19937 rng(54321);
  int kills = 0, runs = 0;
  for (; kills < 200 && runs < 2000; ++runs) {
    bool adding = sandbox::Entries(sandbox::Root()).empty();
    std::string body =
        adding ? FormEncode({{"action", "add"}, {"name", "k"}, {"realm", "Whole"},
                             {"anon", "none"}, {"accounts", accounts}})
               : FormEncode({{"action", "remove"}, {"name", "k"}});
    kills += KillAtRandom(body, &rng, 30000);
    Lines root = sandbox::Entries(sandbox::Root());
    if (root.empty()) continue;
    ASSERT_EQ(Lines{"k"}, root) << "after run " << runs;
    SvnConfig conf, passwd;
    std::string error;
    ASSERT_TRUE(SvnReadConfig(Conf("k"), &conf, &error)) << "after run " << runs;
    ASSERT_TRUE(SvnReadConfig(Passwd("k"), &passwd, &error)) << "after run " << runs;
    ASSERT_EQ("Whole", conf["general"]["realm"]) << "after run " << runs;
    ASSERT_EQ("none", conf["general"]["anon-access"]) << "after run " << runs;
    ASSERT_EQ((std::map<std::string, std::string>{{"alice", "pw a"}}), passwd["users"])
        << "after run " << runs;
  }
  printf("%d runs, %d killed\n", runs, kills);
  EXPECT_GE(kills, 200);
  // What the killed requests left (their tools may still be finishing)
  // goes with a later change once it is old enough.
  usleep(500 * 1000);
  sandbox::Shell("touch -d '-2 min' '" + sandbox::WorkDir() + "'/*");
  EXPECT_TRUE(Post({{"action", "add"}, {"name", "after"}, {"anon", "read"},
                    {"accounts", "[]"}}).json["success"].asBool());
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
}

TEST_F(Faults, AMisbehavingToolNeverCorruptsTheResponse) {
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  struct {
    const char* name;
    const char* script;
    bool created;
    bool layout = false;
  } cases[] = {
      {"prints to stdout",
       "echo 'Status: 500 Oops'; printf 'Content-Type: text/plain\\r\\n\\r\\nnoise'; "
       "exec svnadmin \"$@\"",
       true},
      {"prints a lot", "head -c 200000 /dev/zero | tr '\\0' x; exec svnadmin \"$@\"", true},
      {"hangs briefly", "sleep 1; exec svnadmin \"$@\"", true},
      {"fails", "echo 'half a response'; exit 3", false},
      {"killed", "kill -9 $$", false},
      {"makes a hook that reads what it is given",
       "svnadmin \"$@\" && printf '#!/bin/sh\\n/usr/bin/perl -e \"sysseek(STDIN, 0, 0); print <STDIN>\" > \"$0.read\"\\n' > \"$2/hooks/start-commit\" && "
       "chmod +x \"$2/hooks/start-commit\"",
       true, true},
      {"makes a hook refuse every commit",
       "svnadmin \"$@\" && printf '#!/bin/sh\\nexit 1\\n' > \"$2/hooks/start-commit\" && "
       "chmod +x \"$2/hooks/start-commit\"",
       false, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    sandbox::Shell("rm -f '" + tool + "'");
    sandbox::WriteFile(tool, std::string("#!/bin/sh\n") + c.script + "\n");
    chmod(tool.c_str(), 0755);
    std::string name = "t" + std::to_string(n++);
    CgiResult r = Post({{"action", "add"}, {"name", name}, {"anon", "read"},
                        {"accounts", "[]"}, {"layout", c.layout ? "standard" : ""}});
    EXPECT_EQ("", r.status) << c.name;
    EXPECT_EQ("application/json; charset=\"UTF-8\"", r.contentType) << c.name;
    EXPECT_EQ(c.created ? R"({"data":null,"success":true})" : R"({"success":false})", r.body)
        << c.name;
    EXPECT_EQ(c.created, access(Conf(name).c_str(), F_OK) == 0) << c.name;
  }
  // The request body, which may hold passwords, reaches no hook.
  EXPECT_EQ("", sandbox::ReadFile(sandbox::RepoDir("t5") + "/hooks/start-commit.read"));
  EXPECT_EQ(0, access((sandbox::RepoDir("t5") + "/hooks/start-commit.read").c_str(), F_OK));
}

}  // namespace
