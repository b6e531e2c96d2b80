// Concurrency: eight clients through the real web server, 200 requests
// each, mixing "edit", "show", "acc_show" and "load" on the same
// repositories.  Edits are not serialised, so a realm and an access level
// may come from different edits, but every value read back must be one
// that some edit wrote, an account list is never a mixture of two, both
// files always parse, and nothing outside the edited keys changes.

#include <gtest/gtest.h>
#include <json/writer.h>

#include <mutex>
#include <set>
#include <thread>

#include "cgi_run.h"
#include "sandbox.h"
#include "serve.h"
#include "svn_config_reader.h"

namespace {

const int kClients = 8, kRequests = 200, kRepos = 3;
using AccountMap = std::map<std::string, std::string>;

std::string RepoName(int i) { return "s" + std::to_string(i); }

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

}  // namespace
