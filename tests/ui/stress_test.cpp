// Concurrency through the real web server.  Eight clients, 200 requests
// each, mix "edit", "show", "acc_show" and "load" on the same
// repositories: every value read back must be one that some edit wrote,
// an account list is never a mixture of two, both files always parse, and
// nothing outside the edited keys changes.  Then adds, removes and edits
// of the same names race: a name is always free or a whole repository,
// never stranded, and of two adds one wins and the other hears "exist".

#include <gtest/gtest.h>
#include <json/writer.h>

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

#include "cgi_run.h"
#include "program.h"
#include "sandbox.h"
#include "serve.h"
#include "svn_config_reader.h"

namespace {

const int kClients = 8, kRequests = 200, kRepos = 3;
using AccountMap = std::map<std::string, std::string>;

using program::Lines;

std::string RepoName(int i) { return "s" + std::to_string(i); }

// Whether the root holds a repository of that name (as the program sees).
bool SVNRepoExists(const std::string& name) {
  return access(program::Conf(name).c_str(), F_OK) == 0 &&
         access(program::Passwd(name).c_str(), F_OK) == 0;
}

// Everything any edit has written (recorded before it is sent).
struct Written {
  std::mutex mu;
  std::set<std::string> realms, anons;
  std::set<AccountMap> lists;
};

AccountMap FromJson(const Json::Value& list) {
  AccountMap m;
  for (const Json::Value& a : list) m[a["account"].asString()] = a["password"].asString();
  return m;
}

// The two files' options besides those an edit writes.
SvnConfig Untouched(const std::string& name, std::string* error) {
  SvnConfig conf, passwd;
  std::string dir = sandbox::RepoDir(name) + "/conf/";
  if (!SvnReadConfig(dir + "svnserve.conf", &conf, error) ||
      !SvnReadConfig(dir + "passwd", &passwd, error))
    return {{"unreadable", {}}};
  conf["general"].erase("realm");
  conf["general"].erase("anon-access");
  passwd.erase("users");
  for (auto& s : passwd) conf["passwd:" + s.first] = s.second;
  return conf;
}

TEST(Stress, ConcurrentEditsAndReadsStayConsistent) {
  sandbox::Reset();
  ServeFixture server;
  std::string log;
  ASSERT_TRUE(server.Start(SOURCE_DIR "/scripts/serve", SVN_CGI, sandbox::Dir(), &log))
      << log;
  Written written;
  written.realms = {"Initial"};
  written.anons = {"read"};
  written.lists = {{{"init", "init pw"}}};
  std::vector<SvnConfig> before;
  for (int r = 0; r < kRepos; ++r) {
    ServeFixture::Response resp = server.Post(
        {{"action", "add"}, {"name", RepoName(r)}, {"realm", "Initial"}, {"anon", "read"},
         {"accounts", R"([{"account":"init","password":"init pw"}])"}});
    ASSERT_TRUE(resp.json["success"].asBool()) << resp.body;
    std::string error;
    before.push_back(Untouched(RepoName(r), &error));
  }

  std::mutex failMu;
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(failMu);
    if (failures.size() < 20) failures.push_back(what);
  };
  static const char* anons[] = {"read", "write", "none"};

  auto client = [&](int c) {
    for (int i = 0; i < kRequests; ++i) {
      std::string name = RepoName((c + i) % kRepos);
      std::string where = "client " + std::to_string(c) + " request " + std::to_string(i);
      ServeFixture::Response resp;
      switch (i % 4) {
        case 0: {
          std::string realm = i % 20 == 0 ? "" : "Realm " + std::to_string(c) + "." + std::to_string(i);
          std::string anon = anons[(c + i) % 3];
          AccountMap list{{"u" + std::to_string(c) + "a" + std::to_string(i), "p" + std::to_string(i)},
                          {"u" + std::to_string(c) + "b" + std::to_string(i), "q" + std::to_string(c)}};
          Params accounts(list.begin(), list.end());
          {
            std::lock_guard<std::mutex> lock(written.mu);
            written.realms.insert(realm);
            written.anons.insert(anon);
            written.lists.insert(list);
          }
          resp = server.Post({{"action", "edit"}, {"name", name}, {"realm", realm},
                              {"anon", anon},
                              {"accounts", Json::FastWriter().write(AccountList(accounts))}});
          if (!resp.json["success"].asBool()) fail(where + ": edit failed: " + resp.body);
          break;
        }
        case 1: {
          resp = server.Post({{"action", "show"}, {"name", name}});
          std::lock_guard<std::mutex> lock(written.mu);
          if (!resp.json["success"].asBool() ||
              !written.realms.count(resp.json["data"]["realm"].asString()) ||
              !written.anons.count(resp.json["data"]["anon"].asString()))
            fail(where + ": show gave " + resp.body);
          break;
        }
        case 2: {
          resp = server.Post({{"action", "acc_show"}, {"name", name}});
          std::lock_guard<std::mutex> lock(written.mu);
          if (!resp.json.isMember("account") ||
              !written.lists.count(FromJson(resp.json["account"])))
            fail(where + ": acc_show gave " + resp.body);
          break;
        }
        default:
          resp = server.Post({{"action", "load"}});
          if (resp.json["total"].asInt() != kRepos || resp.json["data"].size() != kRepos)
            fail(where + ": load gave " + resp.body);
      }
      if (resp.code != 200) fail(where + ": HTTP " + std::to_string(resp.code));
      for (int r = 0; r < kRepos; ++r) {
        std::string error;
        SvnConfig now = Untouched(RepoName(r), &error);
        if (now != before[r]) fail(where + ": " + RepoName(r) + " changed: " + error);
      }
    }
  };
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) clients.emplace_back(client, c);
  for (std::thread& t : clients) t.join();
  for (const std::string& f : failures) ADD_FAILURE() << f;
  printf("%d requests by %d clients\n", kClients * kRequests, kClients);
}

TEST(Stress, RacingAddsRemovesAndEditsNeverStrandAName) {
  sandbox::Reset();
  ServeFixture server;
  std::string log;
  ASSERT_TRUE(server.Start(SOURCE_DIR "/scripts/serve", SVN_CGI, sandbox::Dir(), &log))
      << log;
  const std::string accounts = program::Accounts({{"racer", "race pw"}});
  const int kRounds = 240;
  for (int round = 0; round < kRounds; ++round) {
    const std::string name = "race" + std::to_string(round % 3);
    const Params add{{"action", "add"}, {"name", name}, {"realm", "Race"},
                     {"anon", "none"}, {"accounts", accounts}};
    const Params third =
        round % 2 == 0 ? Params{{"action", "remove"}, {"name", name}}
                       : Params{{"action", "edit"}, {"name", name}, {"realm", "Race"},
                                {"anon", "none"}, {"accounts", accounts}};
    const bool existed = SVNRepoExists(name);
    ServeFixture::Response answers[3];
    std::thread racers[3];
    for (int i = 0; i < 3; ++i)
      racers[i] = std::thread([&, i] { answers[i] = server.Post(i < 2 ? add : third); });
    for (std::thread& t : racers) t.join();
    const std::string where = "round " + std::to_string(round);
    int added = 0;
    for (int i = 0; i < 2; ++i) {
      if (answers[i].json["success"].asBool()) {
        ++added;
      } else {
        EXPECT_EQ("exist", answers[i].json["errinfo"]["key"].asString())
            << where << ": " << answers[i].body;
      }
    }
    if (round % 2 == 1) {  // no remove: one add wins, unless the name was taken
      EXPECT_EQ(existed ? 0 : 1, added) << where;
    }
    // Free, or a whole repository.
    Lines root = sandbox::Entries(sandbox::Root());
    if (std::find(root.begin(), root.end(), name) != root.end()) {
      SvnConfig conf, passwd;
      std::string error;
      ASSERT_TRUE(SvnReadConfig(program::Conf(name), &conf, &error)) << where;
      ASSERT_TRUE(SvnReadConfig(program::Passwd(name), &passwd, &error)) << where;
      EXPECT_EQ("none", conf["general"]["anon-access"]) << where;
      EXPECT_EQ("race pw", passwd["users"]["racer"]) << where;
    }
  }
  // Never stranded: every name can be removed, or added, once more.
  for (int i = 0; i < 3; ++i) {
    const std::string name = "race" + std::to_string(i);
    bool exists = SVNRepoExists(name);
    ServeFixture::Response r = server.Post(
        exists ? Params{{"action", "remove"}, {"name", name}}
               : Params{{"action", "add"}, {"name", name}, {"anon", "read"}, {"accounts", "[]"}});
    EXPECT_TRUE(r.json["success"].asBool()) << name << ": " << r.body;
  }
  EXPECT_TRUE(sandbox::Entries(sandbox::WorkDir()).empty());
  printf("%d rounds of three racing requests\n", kRounds);
}

}  // namespace
