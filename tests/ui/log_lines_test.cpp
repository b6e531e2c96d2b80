// Which line of the program logs what: each caller logs its own brief line
// at its own source line (that is how an operator tells a failed edit from
// a failed show), and a failure reads from its cause, through what its
// clean-up logged, to the callers that gave up.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>

#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

class LogLines : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  }
  // What a test made immutable or read-only can go again.
  void TearDown() override {
    sandbox::Shell("chattr -R -i '" + sandbox::Dir() + "' 2>/dev/null; chmod -R u+w '" +
                   sandbox::Dir() + "'");
  }
};

// The source line of the logged line "MODULE:LINE TEXT" whose text is
// `text`; -1 when none is.
int SourceLineOf(const std::string& text) {
  for (const std::string& line : sandbox::Log()) {
    const size_t colon = line.find(':'), blank = line.find(' ');
    if (blank != std::string::npos && line.substr(blank + 1) == text)
      return atoi(line.c_str() + colon + 1);
  }
  return -1;
}

TEST_F(LogLines, EachCallerLogsAtItsOwnLine) {
  ASSERT_TRUE(sandbox::CreateRepo("broken"));
  sandbox::WriteFile(Conf("broken"), "  broken\n");
  const std::string accounts = Accounts({});
  struct {
    const char* text;  // logged by every request, each at its own line
    std::vector<Params> requests;
  } cases[] = {
      {"ui: Repository nope is not exist",
       {{{"action", "show"}, {"name", "nope"}},
        {{"action", "acc_show"}, {"name", "nope"}},
        {{"action", "edit"}, {"name", "nope"}, {"anon", "read"}, {"accounts", accounts}},
        {{"action", "rules_show"}, {"name", "nope"}},
        {{"action", "hooks_show"}, {"name", "nope"}},
        {{"action", "remove"}, {"name", "nope"}}}},
      {"ui: SVN Repo construct failed.",
       {{{"action", "show"}, {"name", "broken"}},
        {{"action", "acc_show"}, {"name", "broken"}},
        {{"action", "edit"}, {"name", "broken"}, {"anon", "read"}, {"accounts", accounts}},
        {{"action", "rules_show"}, {"name", "broken"}}}},
      {"ui: Parse accounts failed",
       {{{"action", "add"}, {"name", "new"}, {"anon", "read"}, {"accounts", ""}},
        {{"action", "edit"}, {"name", "broken"}, {"anon", "read"}, {"accounts", ""}}}},
  };
  for (const auto& c : cases) {
    std::set<int> lines;
    for (const Params& request : c.requests) {
      sandbox::ClearLog();
      Post(request);
      const std::string text = std::string(c.text).substr(std::string(c.text).find(' ') + 1);
      const int line = SourceLineOf(text);
      EXPECT_LT(0, line) << c.text << " by " << request[0].second;
      EXPECT_TRUE(lines.insert(line).second) << c.text << " by " << request[0].second;
    }
  }
}

// A new repository whose account file cannot be written, in a working
// item that cannot be deleted: the account file's own step, then the
// clean-up, then the action.
TEST_F(LogLines, TheCauseComesFirstThenTheCleanUpThenTheCallers) {
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  // The account file stays as the tool wrote it, and so does its folder:
  // immutable (root), or read-only (anyone else).  (The sandbox's tool is
  // a link to the system's: replaced, not written through.)
  const std::string svnadmin = sandbox::Output("readlink -f '" + tool + "' | tr -d '\\n'");
  sandbox::Shell("rm -f '" + tool + "'");
  sandbox::WriteFile(tool, "#!/bin/sh\n'" + svnadmin + "' \"$@\" || exit 1\n"
                           "chattr +i \"$2/conf/passwd\" 2>/dev/null ||\n"
                           "  { chmod 400 \"$2/conf/passwd\"; chmod 500 \"$2/conf\"; }\n");
  chmod(tool.c_str(), 0755);
  sandbox::ClearLog();
  CgiResult r = Post({{"action", "add"}, {"name", "pinned"}, {"anon", "read"},
                      {"accounts", Accounts({{"alice", "pw"}})}});
  EXPECT_EQ(R"({"success":false})", r.body);
  const Lines log = LogTexts();
  ASSERT_EQ(5u, log.size()) << ::testing::PrintToString(log);
  EXPECT_EQ(0u, log[0].find("svn_repo: Write the new repository's account file ")) << log[0];
  EXPECT_EQ("svn_repo: Write back account failed.", log[1]);
  EXPECT_EQ("svn_repo: Set accounts failed", log[2]);
  EXPECT_EQ(0u, log[3].find("svn_repo: Executed command [/bin/rm -rf ")) << log[3];
  EXPECT_EQ("ui: SVN Repo construct failed.", log[4]);
  EXPECT_NE(0, access(sandbox::RepoDir("pinned").c_str(), F_OK));
}

}  // namespace
