// Backups, restores and verifies, through the program as the web server
// runs it and through svn-admin as a schedule runs it, checked with
// Subversion's own tools (svnlook, svnadmin, svnserve and svn).

#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audit_log.h"
#include "backup_fixture.h"
#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"

namespace {

using namespace program;

TEST_F(Backups, RestoredUnderANewNameIsTheSameRepository) {
  MakeHistory(kName);
  Json::Value job = Run({{"action", "backup"}, {"name", kName}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  EXPECT_EQ("backup", job["kind"].asString());
  EXPECT_EQ(kName, job["name"].asString());
  // Progress in bytes of work, all of it done.
  EXPECT_EQ("bytes", job["progress"]["unit"].asString());
  EXPECT_LT(0, job["progress"]["total"].asInt64()) << job;
  EXPECT_EQ(job["progress"]["total"], job["progress"]["done"]);
  const std::string file = job["file"].asString();
  EXPECT_EQ(std::vector<std::string>{file}, Backups_(kName));
  EXPECT_EQ(std::vector<std::string>{file}, Backups_(""));  // of every repository
  EXPECT_NE(std::string::npos, file.find("src%20two%20%C3%A4-")) << file;
  EXPECT_EQ(file.size() - 7, file.find(".tar.gz"));

  // The file holds what the text says: a copy of the repository, readable
  // by any tar, whose sums sha256sum checks.
  const std::string path = sandbox::Dir() + "/backup/src%20two%20%C3%A4/" + file;
  std::vector<jobs::TarEntry> entries = jobs::ReadTar(sandbox::ReadFile(path));
  ASSERT_LT(20u, entries.size());
  EXPECT_EQ("manifest.json", entries.front().path);
  EXPECT_EQ("repository/", entries[1].path);
  EXPECT_EQ("SHA256SUMS", entries.back().path);
  const std::string unpacked = sandbox::Dir() + "/unpacked";
  EXPECT_EQ(0, sandbox::Shell("mkdir -p '" + unpacked + "' && cd '" + unpacked +
                              "' && tar -xzf '" + path + "' && sha256sum --quiet -c SHA256SUMS"));
  EXPECT_EQ(sandbox::Output("svnlook youngest '" + sandbox::RepoDir(kName) + "'"),
            sandbox::Output("svnlook youngest '" + unpacked + "/repository'"));
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
  // (Subversion's tools take a name that is not ASCII in a UTF-8 locale.)
  EXPECT_EQ(sandbox::Output("LC_ALL=C.UTF-8 svnadmin dump -q '" + from + "'"),
            sandbox::Output("LC_ALL=C.UTF-8 svnadmin dump -q '" + to + "'"));
  for (const char* conf : {"svnserve.conf", "passwd", "authz"})
    EXPECT_EQ(sandbox::ReadFile(from + "/conf/" + conf), sandbox::ReadFile(to + "/conf/" + conf))
        << conf;
  ASSERT_EQ(0, stat((to + "/conf/passwd").c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 07);
  // Modes as "add" gave the original (svnserve may run in the group).
  for (const char* part : {"", "/conf", "/conf/svnserve.conf", "/conf/passwd", "/conf/authz",
                           "/db", "/db/current", "/db/revs/0/3", "/hooks"}) {
    struct stat want;
    ASSERT_EQ(0, stat((from + part).c_str(), &want)) << part;
    ASSERT_EQ(0, stat((to + part).c_str(), &st)) << part;
    EXPECT_EQ(want.st_mode & 0777, st.st_mode & 0777) << part;
  }
  jobs::Svnserve server(sandbox::Root());
  EXPECT_TRUE(server.Lists("copy/trunk", "alice", "a pw"));
  EXPECT_TRUE(server.Lists("copy", "bob", "b pw"));
  EXPECT_FALSE(server.Lists("copy", "alice", "b pw"));
  EXPECT_FALSE(server.Lists("copy", "", ""));
}

TEST_F(Backups, PlainDumpsUploadedBecomeRepositories) {
  MakeHistory("source");
  const std::string dump = sandbox::Output("svnadmin dump -q '" + sandbox::RepoDir("source") + "'");
  ASSERT_GT(dump.size(), 1024u * 1024);  // past the limit of other requests
  const Params settings{{"realm", "Loaded"}, {"anon", "read"},
                        {"accounts", Accounts({{"erin", "e pw"}})}};
  struct {
    const char* name;
    std::string file;
    Params settings;
    const char* anon;  // what svnserve.conf then says
  } cases[] = {
      {"plain", dump, settings, "read"},
      {"gzipped", jobs::Gzip(dump), settings, "read"},
      {"no settings given", jobs::Gzip(dump), {}, "none"},
  };
  jobs::Svnserve server(sandbox::Root());
  for (const auto& c : cases) {
    Json::Value job = RunUpload(c.name, c.file, c.settings);
    ASSERT_EQ("done", job["state"].asString()) << c.name << job;
    EXPECT_EQ(jobs::History(sandbox::RepoDir("source")), jobs::History(sandbox::RepoDir(c.name)))
        << c.name;
    Json::Value shown = Get("action=show&name=" + FormEncode({{"", c.name}}).substr(1)).json;
    EXPECT_EQ(c.anon, shown["data"]["anon"].asString()) << c.name;
    EXPECT_EQ(c.settings.empty() ? "" : "Loaded", shown["data"]["realm"].asString()) << c.name;
    EXPECT_EQ(!c.settings.empty(), server.Lists(c.name, "erin", "e pw")) << c.name;
  }
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());  // the uploads went
}

// Uploads that are not what they claim: nothing appears, and the job says
// why in words.
TEST_F(Backups, HostileUploadsMakeNothingAndSayWhy) {
  MakeHistory("good");
  Json::Value job = Run({{"action", "backup"}, {"name", "good"}, {"kind", "dump"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string real = sandbox::ReadFile(sandbox::Dir() + "/backup/good/" +
                                             job["file"].asString());
  std::vector<jobs::TarEntry> entries = jobs::ReadTar(real);
  ASSERT_EQ(6u, entries.size());
  entries.pop_back();  // SHA256SUMS, made again for what is changed
  // The backup's entries with `extra` put before the dump, or entry `i`
  // replaced, with sums that match what it holds.
  auto with = [&](std::vector<jobs::TarEntry> extra) {
    std::vector<jobs::TarEntry> e(entries.begin(), entries.end() - 1);
    e.insert(e.end(), extra.begin(), extra.end());
    e.push_back(entries.back());
    return jobs::MakeTar(jobs::WithSums(e));
  };
  auto replaced = [&](size_t i, jobs::TarEntry by) {
    std::vector<jobs::TarEntry> e = entries;
    e[i] = by;
    return jobs::MakeTar(jobs::WithSums(e));
  };
  std::string manifest = entries[0].data;
  manifest.replace(manifest.find("\"rev\" : 3"), 9, "\"rev\" : 9");
  const std::string dump = entries[4].data;
  struct {
    const char* name;
    std::string file;
    const char* says;
  } cases[] = {
      {"cut in half", real.substr(0, real.size() / 2), "truncated"},
      {"cut before its end", real.substr(0, real.size() - 30), "truncated"},
      {"not an archive", "hello, world\n", "neither a backup"},
      {"a plain dump cut short", dump.substr(0, dump.size() / 2), "svnadmin load said"},
      {"a hook", with({{"hooks/pre-commit", "#!/bin/sh\nid > /tmp/owned\n"}}), "hooks/pre-commit"},
      {"a path out", with({{"conf/../../../../tmp/x", "x"}}), "not part of a backup"},
      {"a dump from above", replaced(4, {"../good.svndump", dump}), "not part of a backup"},
      {"a link", replaced(2, {"conf/passwd", "", 'l', "/etc/shadow"}), "not a plain file"},
      {"a hard link", replaced(2, {"conf/passwd", "", 'h', "conf/svnserve.conf"}),
       "not a plain file"},
      {"a directory", with({{"conf/sub", "", 'd'}}), "not a plain file"},
      {"settings naming /etc", replaced(1, {"conf/svnserve.conf",
                                            "[general]\npassword-db = /etc/passwd\n"}),
       "outside the repository's conf folder (password-db = /etc/passwd)"},
      {"settings naming ..", replaced(1, {"conf/svnserve.conf",
                                          "[general]\nauthz-db = ../../authz\n"}),
       "outside the repository's conf folder"},
      {"a conf file the settings do not use", with({{"conf/extra", "[users]\n"}}),
       "do not use"},
      {"an account no one may have", replaced(2, {"conf/passwd", "[users]\n$anonymous = x\n"}),
       "not ones this program accepts"},
      {"rules svnserve refuses", replaced(3, {"conf/authz", "[/]\n@nogroup = r\n"}),
       "not ones this program accepts"},
      {"rules that do not parse", replaced(3, {"conf/authz", "[/\nx = r\n"}),
       "not ones svnserve reads"},
      {"an account file svnserve refuses", replaced(2, {"conf/passwd", "[users]\n%(x)s\n"}),
       "svnserve would refuse"},
      {"a hooks' environment", [&] {
         std::vector<jobs::TarEntry> e = entries;
         e[1].data.replace(e[1].data.find("[general]\n"), 10, "[general]\nhooks-env = hooks-env\n");
         e.insert(e.end() - 1, {"conf/hooks-env", "[default]\nLD_PRELOAD = /tmp/evil.so\n"});
         return jobs::MakeTar(jobs::WithSums(e));
       }(),
       "hooks' environment"},
      {"a manifest that lies", replaced(0, {"manifest.json", manifest}), "damaged"},
      {"a manifest that is no object", replaced(0, {"manifest.json", "[1]"}),
       "manifest cannot be read"},
      {"something after the dump", jobs::MakeTar([&] {
         std::vector<jobs::TarEntry> e = jobs::WithSums(entries);
         e.insert(e.end() - 1, {"x.svndump", "y"});
         return e;
       }()),
       "more after the dump"},
      {"sums that do not match", jobs::MakeTar([&] {
         std::vector<jobs::TarEntry> e = jobs::WithSums(entries);
         e[2].data += "mallory = pw\n";
         return e;
       }()),
       "does not match its sums"},
      {"no sums", jobs::MakeTar(entries), "ends before its end"},
  };
  for (const auto& c : cases) {
    job = RunUpload("bad", c.file);
    EXPECT_EQ("failed", job["state"].asString()) << c.name << job;
    EXPECT_NE(std::string::npos, job["error"].asString().find(c.says))
        << c.name << ": " << job["error"];
    EXPECT_EQ(std::vector<std::string>{"good"}, sandbox::Entries(sandbox::Root())) << c.name;
    EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty()) << c.name;
  }
  EXPECT_NE(0, access("/tmp/owned", F_OK));
}

}  // namespace

namespace {

// The package's tool, slowed down: the real one, then a pause before it
// ends, so that a job can be caught in the middle.
void SlowTool() {
  std::string tool = sandbox::Dir() + "/bin/svnadmin";
  sandbox::Shell("rm -f '" + tool + "'");
  sandbox::WriteFile(tool, "#!/bin/sh\ncase \"$1\" in dump|load|hotcopy) svnadmin \"$@\" || exit; "
                           "touch '" + sandbox::Dir() + "/paused'; exec sleep 60;; esac\n"
                           "exec svnadmin \"$@\"\n");
  sandbox::Shell("chmod 755 '" + tool + "'");
}

void RealTool() {
  sandbox::Shell("ln -sf \"$(command -v svnadmin)\" '" + sandbox::Dir() + "/bin/svnadmin'");
}

// The entries of the repository's backup directory but .name and what
// says what each backup is.
std::vector<std::string> BackupFiles(const std::string& name) {
  std::vector<std::string> files;
  for (const std::string& f : sandbox::Entries(sandbox::Dir() + "/backup/" + name))
    if (f != ".name" && (f.size() < 5 || f.compare(f.size() - 5, 5, ".json") != 0))
      files.push_back(f);
  return files;
}

}  // namespace

// A job stopped halfway, by a Cancel or by being killed, leaves no backup
// under a final name and nothing under the root; while it runs, the
// repository is busy.
TEST_F(Backups, StoppedJobsLeaveNothingHalfMade) {
  MakeHistory("proj");
  // A backup to restore from (its history loaded by the tool, which the
  // test holds in the middle).
  Json::Value made = Run({{"action", "backup"}, {"name", "proj"}, {"kind", "dump"}});
  ASSERT_EQ("done", made["state"].asString()) << made;
  SlowTool();
  struct {
    const char* name;
    Params start;
    bool kill;  // else cancelled
  } cases[] = {
      {"backup cancelled", {{"action", "backup"}, {"name", "proj"}}, false},
      {"backup killed", {{"action", "backup"}, {"name", "proj"}}, true},
      {"dump cancelled", {{"action", "backup"}, {"name", "proj"}, {"kind", "dump"}}, false},
      {"restore cancelled", {{"action", "restore"}, {"name", "again"}, {"file", made["file"].asString()}}, false},
      {"restore killed", {{"action", "restore"}, {"name", "again"}, {"file", made["file"].asString()}}, true},
  };
  bool first = true;
  for (const auto& c : cases) {
    unlink((sandbox::Dir() + "/paused").c_str());
    const std::vector<std::string> work = sandbox::Entries(sandbox::WorkDir());
    std::string id = Start(c.start);
    // All done but the end.
    for (int i = 0; i < 600 && access((sandbox::Dir() + "/paused").c_str(), F_OK) != 0; ++i)
      usleep(50 * 1000);
    ASSERT_EQ(0, access((sandbox::Dir() + "/paused").c_str(), F_OK)) << c.name;
    if (first) {
      for (const Params& p : std::vector<Params>{{{"action", "backup"}, {"name", "proj"}},
                                                 {{"action", "verify"}, {"name", "proj"}},
                                                 {{"action", "remove"}, {"name", "proj"}}}) {
        CgiResult r = Post(p);
        EXPECT_EQ("busy", r.json["errinfo"]["key"].asString()) << p[0].second << r.body;
      }
      CgiResult list = Get("action=jobs&name=proj");
      EXPECT_EQ(id, list.json["data"][0]["id"].asString());  // newest first
      EXPECT_EQ("running", list.json["data"][0]["state"].asString());
      EXPECT_LT(0, list.json["data"][0]["progress"]["total"].asInt64());
      // While its request has yet to name the job's process, a cancel
      // signals nothing (the record's pid would be the request's own).
      const std::string record = sandbox::Dir() + "/jobs/" + id + ".json";
      const std::string saved = sandbox::ReadFile(record);
      sandbox::WriteFile(record, std::regex_replace(saved, std::regex("\"pid\" : [0-9]+"),
                                                    "\"pid\" : 0"));
      CgiResult r = Post({{"action", "job_cancel"}, {"id", id}});
      EXPECT_EQ("busy", r.json["errinfo"]["key"].asString()) << r.body;
      sandbox::WriteFile(record, saved);
    }
    Json::Value job;
    if (c.kill) {
      ASSERT_EQ(0, kill(jobs::JobPid(sandbox::Dir(), id), SIGKILL)) << c.name;
      job = jobs::WaitJob(SVN_CGI, sandbox::Dir(), id);
      EXPECT_EQ("failed", job["state"].asString()) << c.name << job;
      EXPECT_NE(std::string::npos, job["error"].asString().find("killed")) << c.name << job;
    } else {
      CgiResult r = Post({{"action", "job_cancel"}, {"id", id}});
      EXPECT_EQ("cancelled", r.json["data"]["state"].asString()) << c.name << r.body;
    }
    EXPECT_EQ(std::vector<std::string>{made["file"].asString()}, Backups_("proj")) << c.name;
    EXPECT_EQ(std::vector<std::string>{"proj"}, sandbox::Entries(sandbox::Root())) << c.name;
    if (first) {  // a cancelled job cleans up after itself at once
      EXPECT_EQ(std::vector<std::string>{made["file"].asString()}, BackupFiles("proj")) << c.name;
      first = false;
    }
    if (!c.kill) {  // (what a job killed before left goes a minute later)
      EXPECT_EQ(work, sandbox::Entries(sandbox::WorkDir())) << c.name;
    }
  }
  // What the killed backup left is cleared by the next.
  RealTool();
  Json::Value next = Run({{"action", "backup"}, {"name", "proj"}});
  ASSERT_EQ("done", next["state"].asString()) << next;
  EXPECT_EQ(2u, BackupFiles("proj").size());  // no ".part-" file left
}

TEST_F(Backups, VerifyIsRecordedAndShown) {
  MakeHistory("v");
  EXPECT_TRUE(Get("action=show&name=v").json["data"]["verified"].isNull());
  Json::Value job = Run({{"action", "verify"}, {"name", "v"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  EXPECT_LT(0, job["progress"]["done"].asInt64());
  EXPECT_EQ(job["progress"]["total"], job["progress"]["done"]);
  Json::Value verified = Get("action=show&name=v").json["data"]["verified"];
  EXPECT_TRUE(verified["ok"].asBool()) << verified;
  EXPECT_EQ(20u, verified["time"].asString().size());
  // A revision damaged on disk.
  const std::string rev = sandbox::RepoDir("v") + "/db/revs/0/2";
  sandbox::Shell("chmod u+w '" + rev + "' && printf 'garbage' | dd of='" + rev +
                 "' bs=1 seek=100 conv=notrunc 2>/dev/null");
  job = Run({{"action", "verify"}, {"name", "v"}});
  EXPECT_EQ("failed", job["state"].asString()) << job;
  EXPECT_NE(std::string::npos, job["error"].asString().find("Verifying found problems")) << job;
  EXPECT_FALSE(Get("action=show&name=v").json["data"]["verified"]["ok"].asBool());
}

// svn-admin as a schedule runs it: one line per repository, the exit
// status, "keep".
TEST_F(Backups, TheCommandForSchedules) {
  MakeHistory("a b");
  // Rules that name it follow it to a new name, as a rename's do.
  sandbox::Shell("printf '\\n[a b:/trunk]\\nbob =\\n' >> '" + sandbox::RepoDir("a b") +
                 "/conf/authz'");
  sandbox::Shell("mkdir -p '" + sandbox::RepoDir("broken") + "/conf' && touch '" +
                 sandbox::RepoDir("broken") + "/conf/svnserve.conf'");
  const std::string dir = sandbox::Dir() + "/backup/a%20b/";
  int status = -1;
  std::string out;
  for (int i = 0; i < 3; ++i) {
    out = jobs::Admin(kAdmin, "backup --keep 2 'a b'", &status);
    EXPECT_EQ(0, status) << out;
    EXPECT_EQ(0u, out.find("a b: backed up revision 3 to " + dir + "a%20b-")) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
  }
  std::vector<std::string> kept = Backups_("a b");
  EXPECT_EQ(2u, kept.size());
  EXPECT_NE(std::string::npos, out.find(kept[0])) << out;  // the newest stays
  // Those of another repository that had the name are not its to remove.
  const std::string repo = sandbox::RepoDir("a b");
  const std::string uuid = sandbox::Output("svnlook uuid '" + repo + "' | tr -d '\\n'");
  sandbox::Shell("svnadmin setuuid '" + repo + "'");
  jobs::Admin(kAdmin, "backup --keep 1 'a b'", &status);
  EXPECT_EQ(3u, Backups_("a b").size());
  sandbox::Shell("svnadmin setuuid '" + repo + "' " + uuid);
  out = jobs::Admin(kAdmin, "backup --keep 1 'a b'", &status);
  kept = Backups_("a b");
  EXPECT_EQ(2u, kept.size());
  EXPECT_NE(std::string::npos, out.find(kept[0])) << out;

  out = jobs::Admin(kAdmin, "backup --all", &status);
  EXPECT_EQ(1, status) << out;
  EXPECT_EQ(0u, out.find("a b: backed up revision 3 to ")) << out;
  EXPECT_NE(std::string::npos, out.find("\nbroken: failed: ")) << out;

  out = jobs::Admin(kAdmin, "verify 'a b'", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("a b: verified to revision 3, no problems found\n", out);
  out = jobs::Admin(kAdmin, "restore '" + dir + kept[0] + "' copy", &status);
  EXPECT_EQ(0, status);
  EXPECT_EQ("copy: restored revision 3 from " + dir + kept[0] + "\n", out);
  const std::string rules = sandbox::ReadFile(sandbox::RepoDir("copy") + "/conf/authz");
  EXPECT_NE(std::string::npos, rules.find("\n[copy:/trunk]\nbob =\n")) << rules;
  EXPECT_EQ(std::string::npos, rules.find("[a b:")) << rules;
  out = jobs::Admin(kAdmin, "restore '" + dir + kept[0] + "' copy", &status);
  EXPECT_EQ(1, status);
  EXPECT_EQ("copy: failed: A repository of that name exists.\n", out);
  out = jobs::Admin(kAdmin, "restore --all", &status);
  EXPECT_EQ(2, status);
  // Options only the page's jobs take: refused, nothing touched.
  const std::string spare = sandbox::Dir() + "/spare";
  sandbox::Shell("mkdir -p '" + spare + "'");
  for (const std::string& args : {"backup 'a b' --spool '" + spare + "'",
                                   "verify --spool '" + spare + "' 'a b'"}) {
    out = jobs::Admin(kAdmin, args, &status);
    EXPECT_EQ(2, status) << args;
    EXPECT_EQ(0, access(spare.c_str(), F_OK)) << args;
  }
  // The page sees what schedules did.
  CgiResult list = Get("action=jobs&name=copy");
  EXPECT_EQ("failed", list.json["data"][0]["state"].asString()) << list.body;
  EXPECT_EQ("done", list.json["data"][1]["state"].asString()) << list.body;
  if (geteuid() == 0) {  // root is told to name the service user
    out = sandbox::Output(std::string("'") + kAdmin + "' backup 'a b' 2>&1; echo \"exit $?\"");
    EXPECT_NE(std::string::npos, out.find("--user USER")) << out;
    EXPECT_NE(std::string::npos, out.find("exit 2")) << out;
  }
}

// What the actions take and refuse.
TEST_F(Backups, RequestsAreCheckedBeforeAnythingStarts) {
  MakeHistory("r");
  Json::Value job = Run({{"action", "backup"}, {"name", "r"}, {"keep", "1"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string file = job["file"].asString();
  // Changes only by POST: a link or an image from another site starts nothing.
  for (const char* action : {"backup", "restore", "verify", "backup_remove", "job_cancel"}) {
    CgiResult r = Get(std::string("action=") + action + "&name=r&file=" + file);
    EXPECT_EQ("405 Method Not Allowed", r.status) << action;
  }
  struct {
    const char* name;
    Params params;
    const char* key;  // the error key; "" for the generic error
  } refused[] = {
      {"backup of none", {{"action", "backup"}, {"name", "none"}}, "nonexist"},
      {"keep 0", {{"action", "backup"}, {"name", "r"}, {"keep", "0"}}, ""},
      {"keep a word", {{"action", "backup"}, {"name", "r"}, {"keep", "all"}}, ""},
      {"verify of none", {{"action", "verify"}, {"name", "none"}}, "nonexist"},
      {"restore onto a repository", {{"action", "restore"}, {"name", "r"}, {"file", file}}, "exist"},
      {"restore from nothing", {{"action", "restore"}, {"name", "new"}}, ""},
      {"restore from a file not listed", {{"action", "restore"}, {"name", "new"},
                                          {"file", "r-20200101T000000Z-r3.tar.gz"}}, "nonexist"},
      {"restore from a path", {{"action", "restore"}, {"name", "new"},
                               {"file", "../r/" + file}}, "nonexist"},
      {"restore as a bad name", {{"action", "restore"}, {"name", ".."}, {"file", file}}, ""},
      {"remove of another's backup", {{"action", "backup_remove"}, {"name", "other"},
                                      {"file", file}}, "nonexist"},
      {"cancel of no job", {{"action", "job_cancel"}, {"id", "20200101T000000.000000Z-00000000"}},
       "nonexist"},
      {"cancel of no id", {{"action", "job_cancel"}, {"id", "../x"}}, ""},
  };
  for (const auto& c : refused) {
    CgiResult r = Post(c.params);
    EXPECT_FALSE(r.json["success"].asBool()) << c.name << r.body;
    EXPECT_EQ(c.key, r.json["errinfo"]["key"].asString()) << c.name << r.body;
  }
  EXPECT_EQ(std::vector<std::string>{"r"}, sandbox::Entries(sandbox::Root()));
  // Only a restore takes an upload past the limit of every request.
  std::string type;
  std::string body = jobs::Multipart({{"action", "verify"}, {"name", "r"}}, "upload",
                                     std::string(1024 * 1024 + 1, 'x'), &type);
  EXPECT_EQ("413 Payload Too Large", RunCgi(SVN_CGI, PostEnv(body, type), body).status);
  body = jobs::Multipart({{"action", "restore"}, {"name", "new"}, {"file", file}}, "upload",
                         "x", &type);
  EXPECT_FALSE(RunCgi(SVN_CGI, PostEnv(body, type), body).json["success"].asBool());
  // A cut upload starts nothing.
  body = jobs::Multipart({{"action", "restore"}, {"name", "new"}}, "upload", "abc", &type);
  CgiResult cut = RunCgi(SVN_CGI, PostEnv(body, type), body.substr(0, body.size() - 20));
  EXPECT_EQ("400 Bad Request", cut.status);
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());

  // One job answers for one id; a finished job's cancel says how it ended.
  CgiResult one = Get("action=jobs&id=" + job["id"].asString());
  ASSERT_EQ(1u, one.json["data"].size());
  EXPECT_EQ(job, one.json["data"][0]);
  EXPECT_EQ("done", Post({{"action", "job_cancel"}, {"id", job["id"].asString()}})
                        .json["data"]["state"].asString());
  EXPECT_FALSE(one.json["data"][0].isMember("pid"));
  // Removal.
  EXPECT_TRUE(Post({{"action", "backup_remove"}, {"name", "r"}, {"file", file}})
                  .json["success"].asBool());
  EXPECT_TRUE(Backups_("r").empty());
  EXPECT_EQ("nonexist", Get("action=backup_get&name=r&file=" + file).json["errinfo"]["key"]
                            .asString());
  struct stat st;
  ASSERT_EQ(0, stat((sandbox::Dir() + "/jobs").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  ASSERT_EQ(0, stat((sandbox::Dir() + "/jobs/" + job["id"].asString() + ".json").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  // The records of what was done name the repository, the job and the file.
  std::map<std::string, Json::Value> done;
  for (const Json::Value& rec : audit_log::Records())
    if (rec["outcome"] == "done") done.emplace(rec["action"].asString(), rec);
  struct {
    const char* action;
    const char* key;
    std::string value;
  } records[] = {{"backup", "job", job["id"].asString()},
                 {"job_cancel", "job", job["id"].asString()},
                 {"backup_remove", "file", file}};
  for (const auto& r : records) {
    Json::Value changes(Json::objectValue);
    changes[r.key] = r.value;
    EXPECT_EQ("r", done[r.action]["name"].asString()) << r.action;
    EXPECT_EQ(changes, done[r.action]["changes"]) << r.action;
  }
}
