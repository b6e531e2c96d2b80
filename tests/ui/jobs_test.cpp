// Jobs as processes: which process a cancel may signal, when a job reads
// as running, and what svn-admin does with what it is handed.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <regex>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

const char kAdmin[] = SVN_ADMIN;

class Jobs : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
    ASSERT_TRUE(Post({{"action", "add"}, {"name", "r"}, {"anon", "none"},
                      {"accounts", Accounts({{"alice", "a pw"}})}})
                    .json["success"].asBool());
    // A verify that takes its time: the job stays running.
    const std::string tool = sandbox::Dir() + "/bin/svnadmin";
    sandbox::Shell("rm -f '" + tool + "'");
    sandbox::WriteFile(tool, "#!/bin/sh\ncase \"$1\" in verify) exec sleep 30;; esac\n"
                             "exec svnadmin \"$@\"\n");
    sandbox::Shell("chmod 755 '" + tool + "'");
  }
  void TearDown() override {
    if (stranger_ > 0) {
      kill(stranger_, SIGKILL);
      waitpid(stranger_, nullptr, 0);
    }
  }

  // A running verify of "r": its id, once its record names its process.
  static std::string RunningJob() {
    CgiResult r = Post({{"action", "verify"}, {"name", "r"}});
    const std::string id = r.json["data"]["job"].asString();
    EXPECT_NE("", id) << r.body;
    for (int i = 0; i < 100 && jobs::JobPid(sandbox::Dir(), id) <= 0; ++i) usleep(20 * 1000);
    return id;
  }
  // The record of `id` made to name the process `pid` (again, while the
  // job itself still saves its progress over it as its tool starts).
  static void Fake(const std::string& id, pid_t pid) {
    const std::string record = sandbox::Dir() + "/jobs/" + id + ".json";
    for (int i = 0; i < 20; ++i) {
      sandbox::WriteFile(record, std::regex_replace(sandbox::ReadFile(record),
                                                    std::regex("\"pid\" : [0-9]+"),
                                                    "\"pid\" : " + std::to_string(pid)));
      usleep(300 * 1000);
      if (jobs::JobPid(sandbox::Dir(), id) == pid) break;
    }
  }
  // A process of the test's that a job's old pid may name now.
  pid_t Stranger() {
    stranger_ = fork();
    if (stranger_ == 0) {
      execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    return stranger_;
  }
  bool StrangerAlive() const { return waitpid(stranger_, nullptr, WNOHANG) == 0; }
  static std::string State(const std::string& id) {
    return Get("action=jobs&id=" + id).json["data"][0]["state"].asString();
  }

  pid_t stranger_ = 0;
};

// Another request holding the repository's job lock (a removal, a rename,
// the next job's start) as it does: an OFD lock of its lock file.
class RepositoryLockHeld {
 public:
  RepositoryLockHeld() {
    fd_ = open((sandbox::Dir() + "/jobs/locks/r").c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    held_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~RepositoryLockHeld() {
    if (fd_ >= 0) close(fd_);
  }
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

TEST_F(Jobs, ACancelSignalsOnlyTheJobsOwnProcess) {
  const pid_t other = Stranger();
  struct {
    const char* name;
    bool kill;  // the job killed outright first
  } cases[] = {{"a running job whose record names another process", false},
               {"a job killed outright, its pid now another's", true}};
  for (const auto& c : cases) {
    const std::string id = RunningJob();
    const pid_t job = jobs::JobPid(sandbox::Dir(), id);
    ASSERT_GT(job, 0) << c.name;
    if (c.kill) {
      ASSERT_EQ(0, kill(job, SIGKILL)) << c.name;
      for (int i = 0; i < 100 && kill(job, 0) == 0; ++i) usleep(20 * 1000);
    }
    Fake(id, other);
    {
      RepositoryLockHeld lock;
      ASSERT_TRUE(c.kill ? lock.held() : !lock.held()) << c.name;
      EXPECT_EQ(c.kill ? "failed" : "running", State(id)) << c.name;
      CgiResult r = Post({{"action", "job_cancel"}, {"id", id}});
      EXPECT_EQ(c.kill, r.json["success"].asBool()) << c.name << r.body;
      if (c.kill) {
        EXPECT_EQ("failed", r.json["data"]["state"].asString()) << c.name << r.body;
      }
      EXPECT_TRUE(StrangerAlive()) << c.name;
      EXPECT_EQ(c.kill ? "failed" : "running",
                Get("action=jobs&name=r").json["data"][0]["state"].asString())
          << c.name;
    }
    if (!c.kill) {  // its own process is signalled once the record names it again
      Fake(id, job);
      EXPECT_EQ("cancelled", Post({{"action", "job_cancel"}, {"id", id}})
                                 .json["data"]["state"].asString())
          << c.name;
    }
  }
}

// svn-admin run by hand as a job: root must name the user in every mode,
// and what it is told to delete is deleted only when it is the item the
// program handed the job it runs.
TEST_F(Jobs, SvnAdminTakesNoJobItWasNotHanded) {
  const std::string dead = RunningJob();
  ASSERT_EQ(0, kill(jobs::JobPid(sandbox::Dir(), dead), SIGKILL));
  const std::string id = RunningJob();
  const std::string spare = sandbox::Dir() + "/spare";
  sandbox::Shell("mkdir -p '" + spare + "/inside'");
  const std::string admin = std::string("'") + kAdmin + "'";
  // The dead job's own lock, held as the program hands it over.
  const std::string itsLock = " 6<>'" + sandbox::Dir() + "/jobs/" + dead + ".lock'";
  struct {
    const char* name;
    std::string args;
    bool asRoot;  // without --user
  } cases[] = {
      {"a job of no record", "--job 20200101T000000.000000Z-00000000 --spool '" + spare +
                                 "' restore /nonexistent copy", false},
      {"a running job it does not hold", "--job " + id + " --spool '" + spare + "' verify r",
       false},
      {"a spool not handed over", "--job " + dead + " --spool '" + spare + "' verify r" + itsLock,
       false},
      {"root, as a job", "--job " + dead + " --spool '" + spare + "' verify r" + itsLock, true},
  };
  for (const auto& c : cases) {
    if (c.asRoot && geteuid() != 0) continue;
    const std::string user = c.asRoot ? "" : " --user \"$(id -un)\"";
    const std::string out = sandbox::Output(admin + user + " " + c.args +
                                            " </dev/null 2>&1; echo \"exit $?\"");
    EXPECT_NE(std::string::npos, out.find(c.asRoot ? "exit 2" : "exit 1")) << c.name << out;
    if (c.asRoot) {
      EXPECT_NE(std::string::npos, out.find("--user USER")) << c.name << out;
    }
    EXPECT_EQ(0, access((spare + "/inside").c_str(), F_OK)) << c.name;
    EXPECT_EQ("running", State(id)) << c.name;
  }
  EXPECT_EQ("failed", State(dead));
  EXPECT_EQ("cancelled", Post({{"action", "job_cancel"}, {"id", id}})
                             .json["data"]["state"].asString());
}

// After renames the jobs of a repository are listed under its name, and
// a new repository that takes an old name starts with none.
TEST_F(Jobs, JobsFollowTheirRepositoryThroughRenames) {
  sandbox::Shell("ln -sf \"$(command -v svnadmin)\" '" + sandbox::Dir() + "/bin/svnadmin'");
  auto verify = [](const std::string& name) {
    CgiResult r = Post({{"action", "verify"}, {"name", name}});
    const std::string id = r.json["data"]["job"].asString();
    EXPECT_EQ("done", jobs::WaitJob(SVN_CGI, sandbox::Dir(), id)["state"].asString()) << r.body;
    return id;
  };
  auto rename = [](const std::string& from, const std::string& to) {
    EXPECT_TRUE(Post({{"action", "rename"}, {"name", from}, {"to", to}}).json["success"].asBool());
  };
  const std::string first = verify("r");
  rename("r", "s");
  const std::string second = verify("s");
  rename("s", "t");
  ASSERT_TRUE(Post({{"action", "add"}, {"name", "r"}, {"anon", "none"},
                    {"accounts", Accounts({{"bob", "b pw"}})}})
                  .json["success"].asBool());
  const std::string third = verify("r");
  struct {
    const char* name;
    std::vector<std::string> ids;  // newest first
    std::vector<std::string> ranAs;
  } cases[] = {{"t", {second, first}, {"s", "r"}}, {"s", {}, {}}, {"r", {third}, {"r"}}};
  for (const auto& c : cases) {
    Json::Value list = Get(std::string("action=jobs&name=") + c.name).json["data"];
    std::vector<std::string> ids, ranAs;
    for (const Json::Value& job : list) {
      ids.push_back(job["id"].asString());
      ranAs.push_back(job["name"].asString());
    }
    EXPECT_EQ(c.ids, ids) << c.name << list;
    EXPECT_EQ(c.ranAs, ranAs) << c.name << list;
  }
}

}  // namespace
