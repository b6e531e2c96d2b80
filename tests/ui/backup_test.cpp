// Backups, restores and verifies, through the program as the web server
// runs it and through svn-admin as a schedule runs it, checked with
// Subversion's own tools (svnlook, svnadmin, svnserve and svn).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
                             "head -c 300000 /dev/urandom > trunk/blob.bin"));
    ASSERT_TRUE(jobs::Commit(dir, "carol", "Edit", "printf 'int x;\\n' >> trunk/src/main.c"));
  }
};

TEST_F(Backups, RestoredUnderANewNameIsTheSameRepository) {
  MakeHistory(kName);
  Json::Value job = Run({{"action", "backup"}, {"name", kName}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  EXPECT_EQ("backup", job["kind"].asString());
  EXPECT_EQ(kName, job["name"].asString());
  EXPECT_EQ(3, job["progress"]["done"].asInt());
  EXPECT_EQ(3, job["progress"]["total"].asInt());
  const std::string file = job["file"].asString();
  EXPECT_EQ(std::vector<std::string>{file}, Backups_(kName));
  EXPECT_EQ(std::vector<std::string>{file}, Backups_(""));  // of every repository
  EXPECT_NE(std::string::npos, file.find("src%20two%20%C3%A4-")) << file;
  EXPECT_EQ(file.size() - 7, file.find(".tar.gz"));

  // The file holds what the text says, readable by any tar.
  const std::string path = sandbox::Dir() + "/backup/src%20two%20%C3%A4/" + file;
  std::vector<jobs::TarEntry> entries = jobs::ReadTar(sandbox::ReadFile(path));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.path);
  EXPECT_EQ((std::vector<std::string>{"manifest.json", "conf/svnserve.conf", "conf/passwd",
                                      "conf/authz", std::string(kName) + ".svndump"}),
            names);
  EXPECT_EQ(0, sandbox::Shell("tar -tzf '" + path + "' >/dev/null 2>&1"));
  struct stat st;
  ASSERT_EQ(0, stat((sandbox::Dir() + "/backup").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  // The download is the file, byte for byte.
  CgiResult got = Get("action=backup_get&name=" + FormEncode({{"", kName}}).substr(1) +
                      "&file=" + FormEncode({{"", file}}).substr(1));
  EXPECT_EQ("application/gzip", got.contentType);
  EXPECT_NE(std::string::npos, got.head.find("Content-Disposition: attachment; filename=\"" +
                                             file + "\""));
  EXPECT_NE(std::string::npos,
            got.head.find("Content-Length: " + std::to_string(st.st_size) + "\r\n"));
  EXPECT_TRUE(got.body == sandbox::ReadFile(path));

  job = Run({{"action", "restore"}, {"name", "copy"}, {"file", file}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string from = sandbox::RepoDir(kName), to = sandbox::RepoDir("copy");
  EXPECT_EQ(jobs::History(from), jobs::History(to));
  EXPECT_NE(std::string::npos, jobs::History(to).find("with a second line"));
  EXPECT_EQ(sandbox::Output("svnadmin dump -q '" + from + "'"),
            sandbox::Output("svnadmin dump -q '" + to + "'"));
  for (const char* conf : {"svnserve.conf", "passwd", "authz"})
    EXPECT_EQ(sandbox::ReadFile(from + "/conf/" + conf), sandbox::ReadFile(to + "/conf/" + conf))
        << conf;
  ASSERT_EQ(0, stat((to + "/conf/passwd").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 07);
  jobs::Svnserve server(sandbox::Root());
  EXPECT_TRUE(server.Lists("copy/trunk", "alice", "a pw"));
  EXPECT_TRUE(server.Lists("copy", "bob", "b pw"));
  EXPECT_FALSE(server.Lists("copy", "alice", "b pw"));
  EXPECT_FALSE(server.Lists("copy", "", ""));
}

}  // namespace
