// backup_fixture.h: what the tests of backups, restores and verifies share:
// a sandbox package, jobs started and waited for, repositories with history
// made by the real svn client.
#ifndef TESTS_SUPPORT_BACKUP_FIXTURE_H_
#define TESTS_SUPPORT_BACKUP_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

const char kAdmin[] = SVN_ADMIN;
const char kName[] = "src two \xC3\xA4";  // a blank and UTF-8

class Backups : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox::Reset();
    setenv("LD_PRELOAD", SYSLOG_CAPTURE_LIB, 1);
  }

  // Starts a job with the POST `params`: its id.
  static std::string Start(const Params& params) {
    CgiResult r = Post(params);
    EXPECT_TRUE(r.json["success"].asBool()) << r.body;
    return r.json["data"]["job"].asString();
  }
  // Starts a job and waits for its end: its record.
  static Json::Value Run(const Params& params) {
    std::string id = Start(params);
    return id.empty() ? Json::Value() : jobs::WaitJob(SVN_CGI, sandbox::Dir(), id);
  }
  // Restores an upload of `file` as `name` (with `more` fields).
  static Json::Value RunUpload(const std::string& name, const std::string& file,
                               const Params& more = {}) {
    std::string type;
    Params fields{{"action", "restore"}, {"name", name}};
    fields.insert(fields.end(), more.begin(), more.end());
    std::string body = jobs::Multipart(fields, "upload", file, &type);
    CgiResult r = RunCgi(SVN_CGI, PostEnv(body, type), body);
    EXPECT_TRUE(r.json["success"].asBool()) << r.body;
    return jobs::WaitJob(SVN_CGI, sandbox::Dir(), r.json["data"]["job"].asString());
  }
  static std::vector<std::string> Backups_(const std::string& name) {
    std::vector<std::string> files;
    CgiResult r = Get("action=backups&name=" + FormEncode({{"", name}}).substr(1));
    for (const Json::Value& b : r.json["data"]) files.push_back(b["file"].asString());
    return files;
  }
  // A repository with some history made by the real svn client.
  static void MakeHistory(const std::string& name) {
    ASSERT_TRUE(Post({{"action", "add"}, {"name", name}, {"realm", "Team"}, {"anon", "none"},
                      {"accounts", Accounts({{"alice", "a pw"}, {"bob", "b pw"}})}})
                    .json["success"]
                    .asBool());
    ASSERT_TRUE(Post({{"action", "rules_edit"}, {"name", name},
                      {"groups", R"({"devs":["alice"]})"},
                      {"rules", R"([{"path":"/","who":"*","access":"r"},)"
                                R"({"path":"/trunk","who":"@devs","access":"rw"}])"}})
                    .json["success"]
                    .asBool());
    const std::string dir = sandbox::RepoDir(name);
    ASSERT_TRUE(jobs::Commit(dir, "carol", "Add the sources\n\nwith a second line",
                             "mkdir -p trunk/src && printf 'int main() {}\\n' > trunk/src/main.c"));
    ASSERT_TRUE(jobs::Commit(dir, "dave", "Ignore builds",
                             "svn propset -q svn:ignore build trunk && "
                             "head -c 1100000 /dev/urandom > trunk/blob.bin"));
    ASSERT_TRUE(jobs::Commit(dir, "carol", "Edit", "printf 'int x;\\n' >> trunk/src/main.c"));
  }
};

}  // namespace

#endif  // TESTS_SUPPORT_BACKUP_FIXTURE_H_
