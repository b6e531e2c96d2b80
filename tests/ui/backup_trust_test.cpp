// Backups to trust: every setup comes back, what runs is taken only from
// our own backups, every byte is checked, restores in place, test
// restores, and records that say what happened; checked with the real
// svnserve, svn and svnadmin.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "audit_log.h"
#include "backup_fixture.h"
#include "jobs_support.h"
#include "program.h"
#include "sandbox.h"

namespace {

// The fixture of the other tests of backups, as a suite of its own.
class TrustedBackups : public Backups {};

std::string Enc(const std::string& s) { return FormEncode({{"", s}}).substr(1); }

std::string Conf(const std::string& name) { return sandbox::RepoDir(name) + "/conf/svnserve.conf"; }

// What svnlook says of the repository `name`.
std::string Look(const std::string& what, const std::string& name) {
  return sandbox::Output("LC_ALL=C.UTF-8 svnlook " + what + " '" + sandbox::RepoDir(name) +
                         "' | tr -d '\\n'");
}

// The backups of `name`, as the program lists them.
Json::Value Listed(const std::string& name) {
  return Get("action=backups&name=" + Enc(name)).json["data"];
}

// The audit records of `action`.
std::vector<Json::Value> RecordsOf(const std::string& action) {
  std::vector<Json::Value> found;
  for (const Json::Value& r : audit_log::Records())
    if (r["action"] == action) found.push_back(r);
  return found;
}

// Accounts and rules in files another repository shares (one named through
// the root, one by its absolute path), or kept in the repository itself:
// a backup carries them, a restore under a new name gets its own copies
// and leaves the originals byte for byte, a restore in place keeps using
// them.
TEST_F(TrustedBackups, EverySetupComesBack) {
  MakeHistory("team");
  const std::string shared = sandbox::Dir() + "/shared", team = sandbox::RepoDir("team");
  sandbox::Shell("mkdir -p '" + shared + "' && mv '" + team + "/conf/passwd' '" + team +
                 "/conf/authz' '" + shared + "/'");
  sandbox::Shell("sed -i -e 's|^password-db = .*|password-db = ../../../shared/passwd|' -e "
                 "'s|^authz-db = .*|authz-db = " + shared + "/authz|' '" + Conf("team") + "'");
  sandbox::Shell("printf '[team:/trunk]\\nbob =\\n' >> '" + shared + "/authz'");
  const std::string passwd = sandbox::ReadFile(shared + "/passwd");
  const std::string authz = sandbox::ReadFile(shared + "/authz");
  jobs::Svnserve server(sandbox::Root());
  ASSERT_TRUE(server.Lists("team/trunk", "alice", "a pw"));
  for (const char* kind : {"hotcopy", "dump"}) {
    Json::Value job = Run({{"action", "backup"}, {"name", "team"}, {"kind", kind}});
    ASSERT_EQ("done", job["state"].asString()) << kind << job;
    const std::string copy = std::string("copy-") + kind;
    job = Run({{"action", "restore"}, {"name", copy}, {"file", job["file"].asString()}});
    ASSERT_EQ("done", job["state"].asString()) << kind << job;
    EXPECT_NE(std::string::npos, job["notes"].asString().find("a copy of " + shared + "/passwd"))
        << job;
    EXPECT_TRUE(server.Lists(copy + "/trunk", "alice", "a pw")) << kind;
    EXPECT_TRUE(server.Lists(copy, "bob", "b pw")) << kind;
    EXPECT_FALSE(server.Lists(copy + "/trunk", "bob", "b pw")) << kind;  // the rules
    EXPECT_FALSE(server.Lists(copy, "", "")) << kind;
    const std::string conf = sandbox::ReadFile(Conf(copy));
    // Its own copies, where the tool's templates are not in the way.
    EXPECT_NE(std::string::npos, conf.find("\npassword-db = passwd")) << conf;
    EXPECT_NE(std::string::npos, conf.find("\nauthz-db = authz")) << conf;
  }
  EXPECT_EQ(passwd, sandbox::ReadFile(shared + "/passwd"));
  EXPECT_EQ(authz, sandbox::ReadFile(shared + "/authz"));
  // In place, the settings stay as they were: the files are still there.
  const std::string settings = sandbox::ReadFile(Conf("team"));
  const std::string file = Listed("team")[1]["file"].asString();  // the copy
  Json::Value job = Run({{"action", "restore"}, {"name", "team"}, {"file", file},
                         {"replace", "yes"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  EXPECT_EQ(settings, sandbox::ReadFile(Conf("team")));
  EXPECT_EQ("Replaced the repository at revision 3.", job["notes"].asString());  // no copies
  EXPECT_TRUE(server.Lists("team/trunk", "alice", "a pw"));

  // Rules kept in the repository itself (authz-db = ^/...): in its history.
  ASSERT_TRUE(jobs::Commit(sandbox::RepoDir("team"), "carol", "Rules",
                           "printf '[groups]\\ndevs = alice\\n[/]\\n* = r\\n[/trunk]\\n"
                           "@devs = rw\\nbob =\\n' > rules"));
  sandbox::Shell("sed -i 's|^authz-db = .*|authz-db = ^/rules|' '" + Conf("team") + "'");
  job = Run({{"action", "backup"}, {"name", "team"}, {"kind", "dump"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  job = Run({{"action", "restore"}, {"name", "in-history"}, {"file", job["file"].asString()}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  EXPECT_TRUE(server.Lists("in-history/trunk", "alice", "a pw"));
  EXPECT_FALSE(server.Lists("in-history/trunk", "bob", "b pw"));
}

// A backup of ours brings the repository back as it was: presets, hooks
// made by hand, locks.  An upload brings no hook made by hand (it would
// run), says so, and gets our presets made again.
TEST_F(TrustedBackups, HooksAndLocksComeBack) {
  MakeHistory("hooked");
  const std::string dir = sandbox::RepoDir("hooked");
  ASSERT_TRUE(Post({{"action", "hooks_edit"}, {"name", "hooked"}, {"log_edits", "yes"}})
                  .json["success"].asBool());
  const std::string hook = "#!/bin/sh\necho hand-made >&2\nexit 0\n";
  sandbox::WriteFile(dir + "/hooks/post-commit", hook);
  chmod((dir + "/hooks/post-commit").c_str(), 0750);
  ASSERT_EQ(0, sandbox::Shell("svn lock -q -m 'on holiday' --username carol 'file://" + dir +
                              "/trunk/src/main.c'"));
  Json::Value job = Run({{"action", "backup"}, {"name", "hooked"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string file = job["file"].asString();
  const std::string data = sandbox::ReadFile(sandbox::Dir() + "/backup/hooked/" + file);
  struct {
    const char* name;
    bool upload;
  } cases[] = {{"listed", false}, {"uploaded", true}};
  for (const auto& c : cases) {
    job = c.upload ? RunUpload(c.name, data)
                   : Run({{"action", "restore"}, {"name", c.name}, {"file", file}});
    ASSERT_EQ("done", job["state"].asString()) << c.name << job;
    const std::string to = sandbox::RepoDir(c.name);
    EXPECT_EQ(true, Get(std::string("action=hooks_show&name=") + c.name)
                        .json["data"]["log_edits"].asBool()) << c.name;
    EXPECT_EQ(c.upload ? "" : hook, sandbox::ReadFile(to + "/hooks/post-commit")) << c.name;
    EXPECT_EQ(c.upload, job["notes"].asString().find("post-commit") != std::string::npos)
        << c.name << job;
    const std::string locks = sandbox::Output("svnadmin lslocks '" + to + "'");
    EXPECT_NE(std::string::npos, locks.find("Owner: carol")) << c.name << locks;
    EXPECT_NE(std::string::npos, locks.find("on holiday")) << c.name << locks;
  }
}

// A repository replaced from its backup under its own name: only with
// consent, not while a job runs on it, whole or not at all.
TEST_F(TrustedBackups, RestoreInPlace) {
  MakeHistory("live");
  Json::Value made = Run({{"action", "backup"}, {"name", "live"}, {"kind", "dump"}});
  ASSERT_EQ("done", made["state"].asString()) << made;
  const std::string file = made["file"].asString(), uuid = Look("uuid", "live");
  ASSERT_TRUE(jobs::Commit(sandbox::RepoDir("live"), "carol", "Later", "touch later"));
  EXPECT_EQ("exist", Post({{"action", "restore"}, {"name", "live"}, {"file", file}})
                         .json["errinfo"]["key"].asString());
  EXPECT_EQ("nonexist", Post({{"action", "restore"}, {"name", "none"}, {"file", file},
                              {"replace", "yes"}}).json["errinfo"]["key"].asString());
  // Killed in the middle (its history loaded, held there): the old one
  // serves on, whole; while it runs, the repository is busy.
  const std::string tool = sandbox::Dir() + "/bin/svnadmin";
  const std::string svnadmin = sandbox::Output("readlink -f '" + tool + "' | tr -d '\\n'");
  sandbox::Shell("rm -f '" + tool + "'");
  sandbox::WriteFile(tool, "#!/bin/sh\n'" + svnadmin + "' \"$@\" || exit\n"
                           "[ \"$1\" = load ] && exec sleep 60\nexit 0\n");
  chmod(tool.c_str(), 0755);
  const std::string id = Start({{"action", "restore"}, {"name", "live"}, {"file", file},
                                {"replace", "yes"}});
  sleep(2);
  EXPECT_EQ("busy", Post({{"action", "restore"}, {"name", "live"}, {"file", file},
                          {"replace", "yes"}}).json["errinfo"]["key"].asString());
  ASSERT_EQ(0, kill(jobs::JobPid(sandbox::Dir(), id), SIGKILL));
  EXPECT_EQ("failed", jobs::WaitJob(SVN_CGI, sandbox::Dir(), id)["state"].asString());
  EXPECT_EQ("4", Look("youngest", "live"));
  sandbox::Shell("ln -sf '" + svnadmin + "' '" + tool + "'");
  struct {
    Params more;
    bool sameUuid;
  } cases[] = {{{}, true}, {{{"uuid", "new"}}, false}};
  for (const auto& c : cases) {
    Params p{{"action", "restore"}, {"name", "live"}, {"file", file}, {"replace", "yes"}};
    p.insert(p.end(), c.more.begin(), c.more.end());
    Json::Value job = Run(p);
    ASSERT_EQ("done", job["state"].asString()) << job;
    EXPECT_EQ("3", Look("youngest", "live"));
    EXPECT_EQ(c.sameUuid, Look("uuid", "live") == uuid);
    EXPECT_NE(std::string::npos, job["notes"].asString().find("Replaced the repository at"));
  }
  // Another repository's history takes this one's place only with a UUID
  // of its own.
  MakeHistory("other");
  const std::string others = Run({{"action", "backup"}, {"name", "other"}})["file"].asString();
  Params over{{"action", "restore"}, {"name", "live"}, {"file", others}, {"replace", "yes"}};
  Json::Value job = Run(over);
  EXPECT_EQ("failed", job["state"].asString()) << job;
  EXPECT_NE(std::string::npos, job["error"].asString().find("another repository")) << job;
  over.push_back({"uuid", "new"});
  EXPECT_EQ("done", Run(over)["state"].asString());
  EXPECT_NE(Look("uuid", "other"), Look("uuid", "live"));
}

// Test restores and damaged files: every byte is checked, the outcome
// kept with the backup, and the reason said.
TEST_F(TrustedBackups, DamageIsFoundAndSaid) {
  MakeHistory("checked");
  Json::Value job = Run({{"action", "backup"}, {"name", "checked"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string dir = sandbox::Dir() + "/backup/checked/", good = job["file"].asString();
  const std::string data = sandbox::ReadFile(dir + good);
  std::string flipped = data;
  flipped[data.size() / 2] ^= 1;
  std::string trailer = data;
  trailer[data.size() - 6] ^= 1;  // the checksum a gzip member ends with
  const std::string damaged = "checked-20200101T000000Z-r3.tar.gz";
  sandbox::WriteFile(dir + damaged, flipped);
  chmod((dir + damaged).c_str(), 0600);
  struct {
    const char* file;
    bool ok;
  } tests[] = {{good.c_str(), true}, {damaged.c_str(), false}};
  for (const auto& t : tests) {
    job = Run({{"action", "verify"}, {"name", "checked"}, {"file", t.file}});
    EXPECT_EQ(t.ok ? "done" : "failed", job["state"].asString()) << t.file << job;
    Json::Value listed;
    for (const Json::Value& b : Listed("checked"))
      if (b["file"] == t.file) listed = b;
    EXPECT_EQ(t.ok, listed["tested"]["ok"].asBool()) << t.file << listed;
    EXPECT_EQ(t.ok, listed["tested"]["error"].isNull()) << t.file << listed;
  }
  EXPECT_EQ("hotcopy", Listed("checked")[0]["kind"].asString());
  EXPECT_EQ(64u, Listed("checked")[0]["sha256"].asString().size());
  EXPECT_NE(std::string::npos, job["error"].asString().find("damaged")) << job;
  // A byte no sum covers (the time in the first member's header).
  std::string touched = data;
  touched[4] ^= 1;
  sandbox::WriteFile(dir + good, touched);
  job = Run({{"action", "verify"}, {"name", "checked"}, {"file", good}});
  EXPECT_NE(std::string::npos, job["error"].asString().find("no longer the one made")) << job;
  struct {
    const char* name;
    std::string file;
  } uploads[] = {{"a bit flipped in a member's checksum", trailer},
                 {"a bit flipped in the copy", flipped},
                 {"cut in its first kilobyte", data.substr(0, 1000)}};
  for (const auto& u : uploads) {
    job = RunUpload("bad", u.file);
    EXPECT_EQ("failed", job["state"].asString()) << u.name << job;
    const std::string error = job["error"].asString();
    EXPECT_TRUE(error.find("damaged") != std::string::npos ||
                error.find("ends early") != std::string::npos) << u.name << ": " << error;
  }
  EXPECT_EQ(std::vector<std::string>{"checked"}, sandbox::Entries(sandbox::Root()));
}

// Retention goes by the order backups were made, whatever the clock said,
// and never removes the one just made; the backup directory is used only
// where no one else can swap it for something else.
TEST_F(TrustedBackups, KeepAndTheBackupDirectory) {
  MakeHistory("r");
  ASSERT_EQ("done", Run({{"action", "backup"}, {"name", "r"}})["state"].asString());
  // Made while the clock ran a century ahead.
  const std::string dir = sandbox::Dir() + "/backup/r/";
  const std::string ahead = "r-21260101T000000Z-r3.tar.gz", was = Listed("r")[0]["file"].asString();
  sandbox::Shell("cd '" + dir + "' && mv '" + was + "' " + ahead + " && mv '." + was + ".json' ." +
                 ahead + ".json");
  Json::Value job = Run({{"action", "backup"}, {"name", "r"}, {"keep", "1"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  ASSERT_EQ(1u, Listed("r").size());
  EXPECT_EQ(job["file"], Listed("r")[0]["file"]);
  // A number put there by hand neither overflows nor outranks what comes.
  const std::string info = dir + "." + job["file"].asString() + ".json";
  std::string forged = sandbox::ReadFile(info);
  const size_t seq = forged.find("\"seq\" : ") + 8;
  forged.replace(seq, forged.find_first_not_of("0123456789", seq) - seq, "9223372036854775807");
  sandbox::WriteFile(info, forged);
  job = Run({{"action", "backup"}, {"name", "r"}, {"keep", "1"}});
  ASSERT_EQ(1u, Listed("r").size());
  EXPECT_EQ(job["file"], Listed("r")[0]["file"]);

  struct stat root;
  ASSERT_EQ(0, stat(sandbox::Root().c_str(), &root));
  const std::string open = sandbox::Dir() + "/open", setting = sandbox::Dir() + "/etc/backup-dir";
  sandbox::Shell("mkdir -p '" + open + "/p' '" + sandbox::Dir() + "/etc' && chmod 777 '" + open +
                 "' && ln -s '" + sandbox::Root() + "' '" + sandbox::Dir() + "/link'");
  struct {
    std::string dir;
    const char* says;
  } cases[] = {{open + "/backups", "others may write"},
               {open + "/p/backups", "others may write"},  // p could be swapped
               {sandbox::Dir() + "/link", "cannot be used"},
               {sandbox::Dir() + "/etc/../backup2", "cannot be used"},
               {sandbox::Root(), "repository root"},
               {sandbox::Root() + "/r/b", "repository root"}};
  for (const auto& c : cases) {
    sandbox::WriteFile(setting, c.dir + "\n");
    job = Run({{"action", "backup"}, {"name", "r"}});
    EXPECT_EQ("failed", job["state"].asString()) << c.dir << job;
    EXPECT_NE(std::string::npos, job["error"].asString().find(c.says)) << c.dir << job;
  }
  struct stat after;
  ASSERT_EQ(0, stat(sandbox::Root().c_str(), &after));
  EXPECT_EQ(root.st_mode, after.st_mode);
  EXPECT_EQ(std::vector<std::string>{"r"}, sandbox::Entries(sandbox::Root()));
  unlink(setting.c_str());
}

// A copy uploaded brings a repository and nothing else: no entry a
// repository does not hold, no hooks folder that is a file, and never
// this program's own record of a verify.
TEST_F(TrustedBackups, UploadedCopiesHoldARepositoryOnly) {
  MakeHistory("src");
  Json::Value job = Run({{"action", "backup"}, {"name", "src"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  std::vector<jobs::TarEntry> entries =
      jobs::ReadTar(sandbox::ReadFile(sandbox::Dir() + "/backup/src/" + job["file"].asString()));
  entries.pop_back();  // SHA256SUMS, made again for what is changed
  auto with = [&](jobs::TarEntry extra, const std::string& instead) {
    std::vector<jobs::TarEntry> e;
    for (const jobs::TarEntry& t : entries) {
      if (!instead.empty() && t.path.compare(0, instead.size(), instead) == 0) continue;
      e.push_back(t);
      if (t.path == "repository" || t.path == "repository/") e.push_back(extra);
    }
    return jobs::MakeTar(jobs::WithSums(e));
  };
  const std::string forged = "{\"time\":\"2030-01-01T00:00:00Z\",\"ok\":false,\"error\":\"x\"}";
  struct {
    const char* name;
    std::string file;
    const char* state;
  } cases[] = {{"an entry of its own", with({"repository/extra", "x"}, ""), "failed"},
               {"hooks that are a file", with({"repository/hooks", "#!/bin/sh\n"},
                                              "repository/hooks"), "failed"},
               {"a verify's record", with({"repository/verified", forged}, ""), "done"}};
  for (const auto& c : cases) {
    job = RunUpload("up", c.file);
    EXPECT_EQ(c.state, job["state"].asString()) << c.name << job;
    if (job["state"] == "failed") {
      EXPECT_NE(std::string::npos, job["error"].asString().find("not part of a repository"))
          << c.name << job;
    }
  }
  EXPECT_TRUE(Get("action=show&name=up").json["data"]["verified"].isNull());
}

// The records say what really happened: a job's end with its outcome and
// reason, a download, what svn-admin did and as whom, what a restore took
// and made.
TEST_F(TrustedBackups, RecordsTellTheTruth) {
  MakeHistory("rec");
  Json::Value job = Run({{"action", "backup"}, {"name", "rec"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  const std::string file = job["file"].asString();
  Get("action=backup_get&name=rec&file=" + Enc(file));
  job = Run({{"action", "restore"}, {"name", "rec-copy"}, {"file", file}, {"uuid", "new"}});
  ASSERT_EQ("done", job["state"].asString()) << job;
  sandbox::Shell("printf garbage | dd of='" + sandbox::RepoDir("rec") +
                 "/db/revs/0/2' bs=1 seek=100 conv=notrunc 2>/dev/null");
  Run({{"action", "verify"}, {"name", "rec"}});
  int status = -1;
  jobs::Admin(SVN_ADMIN, "backup rec-copy", &status);
  EXPECT_EQ(0, status);

  const std::vector<Json::Value> ends = RecordsOf("job_end");
  ASSERT_EQ(4u, ends.size());
  EXPECT_EQ("done", ends[0]["outcome"].asString());
  EXPECT_EQ(file, ends[0]["changes"]["file"].asString());
  EXPECT_EQ(64u, ends[0]["changes"]["sha256"].asString().size());
  const Json::Value restored = ends[1]["changes"];
  EXPECT_EQ(file, restored["file"].asString());
  EXPECT_EQ(Look("uuid", "rec-copy"), restored["uuid"].asString());
  EXPECT_EQ(3, restored["rev"].asInt());
  EXPECT_LT(0, restored["size"].asInt64());
  EXPECT_EQ("failed", ends[2]["outcome"].asString());
  EXPECT_NE(std::string::npos, ends[2]["changes"]["error"].asString().find("E160")) << ends[2];
  EXPECT_EQ("local", ends[3]["addr"].asString());
  const std::string me = sandbox::Output("id -un | tr -d '\\n'");
  EXPECT_EQ(me, ends[3]["user"].asString());
  const std::vector<Json::Value> started = RecordsOf("backup");
  ASSERT_EQ(2u, started.size());
  EXPECT_EQ("local", started[1]["addr"].asString());
  const std::vector<Json::Value> downloads = RecordsOf("backup_get");
  ASSERT_EQ(1u, downloads.size());
  EXPECT_EQ(file, downloads[0]["changes"]["file"].asString());
  // The failed verify is kept, with its reason, and marks the listing.
  Json::Value verified = Get("action=show&name=rec").json["data"]["verified"];
  EXPECT_FALSE(verified["ok"].asBool());
  EXPECT_EQ(3, verified["rev"].asInt());
  EXPECT_NE(std::string::npos, verified["error"].asString().find("E160")) << verified;
  for (const Json::Value& item : Get("action=load").json["data"])
    EXPECT_EQ(item["name"] == "rec", item["verify_failed"].asBool()) << item;
}

}  // namespace
