// bench: figures for svn.cgi, each measured side by side with the least
// that any implementation must do on this machine, as medians of runs that
// alternate between the two.  Not a test: it prints and never fails.
//
//   bench PACKAGE_DIR SVN_CGI FLOOR_LISTING FLOOR_CGI FLOOR_ADD [RUNS]
//
// PACKAGE_DIR is the directory svn.cgi was built for; each figure's root
// (synthetic roots of 1,000, 10,000 and 100,000 repositories, kept in
// PACKAGE_DIR/roots between runs) is moved to its repo/ for the figure.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Run {
  double ms;
  long maxRssKiB;
};

// Runs argv with env, stdin from `input` (or /dev/null), stdout discarded.
Run Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& input = "") {
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  pid_t pid;
  if (posix_spawn(&pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) {
    perror(a[0]);
    exit(1);
  }
  int status;
  rusage ru;
  wait4(pid, &status, 0, &ru);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  posix_spawn_file_actions_destroy(&fa);
  return {(t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6,
          ru.ru_maxrss};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Sh(const std::string& cmd) { return system(cmd.c_str()); }

std::vector<std::string> CgiEnv(const std::string& query) {
  return {"REQUEST_METHOD=GET", "QUERY_STRING=" + query, "REMOTE_USER=admin",
          "HTTP_HOST=127.0.0.1", "PATH=/usr/bin:/bin"};
}

std::vector<std::string> PostEnv(const std::string& body) {
  return {"REQUEST_METHOD=POST", "CONTENT_TYPE=application/x-www-form-urlencoded",
          "CONTENT_LENGTH=" + std::to_string(body.size()), "REMOTE_USER=admin",
          "HTTP_HOST=127.0.0.1", "PATH=/usr/bin:/bin"};
}

// A root of n synthetic repositories: directories with the two files and
// db/current.
std::string Root(const std::string& pkg, int n) {
  std::string root = pkg + "/roots/" + std::to_string(n);
  if (access((root + "/.complete-2").c_str(), F_OK) == 0) return root;
  fprintf(stderr, "making %d repositories in %s ...\n", n, root.c_str());
  Sh("rm -rf '" + root + "' && mkdir -p '" + root + "'");
  for (int i = 0; i < n; ++i) {
    std::string dir = root + "/repo" + std::to_string(i);
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/conf").c_str(), 0755);
    std::ofstream(dir + "/conf/svnserve.conf")
        << "[general]\nanon-access = read\nauth-access = write\n"
           "password-db = passwd\nrealm = Repository " << i << "\n";
    std::ofstream(dir + "/conf/passwd") << "[users]\nalice = a\nbob = b\n";
    mkdir((dir + "/db").c_str(), 0755);
    std::ofstream(dir + "/db/current") << i % 1000 << "\n";
  }
  std::ofstream(root + "/.complete-2");
  return root;
}

// Puts `root` (none: empty) in place as PACKAGE_DIR/repo, the directory
// both the program and the floors are given.  It is moved there, not
// linked: on the appliance repo/ is a directory, and through a link every
// path looked up below it would take a detour.  The root that was there
// goes back to where its file .home says it came from.
void UseRoot(const std::string& pkg, const std::string& root) {
  std::string repo = pkg + "/repo", home;
  struct stat st;
  if (lstat(repo.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::ifstream in(repo + "/.home");
    if (!std::getline(in, home) || rename(repo.c_str(), home.c_str()) != 0) {
      fprintf(stderr, "%s: cannot tell where it belongs\n", repo.c_str());
      exit(1);
    }
  } else {
    unlink(repo.c_str());  // a link left by an earlier version
  }
  if (root.empty()) return;
  std::ofstream(root + "/.home") << root << "\n";
  if (rename(root.c_str(), repo.c_str()) != 0) {
    perror(repo.c_str());
    exit(1);
  }
}

// Alternates `ours` and `floor` `runs` times (after one warm-up of each)
// and prints their medians and ratio.
void Compare(const char* what, int runs, const std::function<Run()>& ours,
             const std::function<Run()>& floor, const char* goal, double limit) {
  ours();
  floor();
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(ours().ms);
    b.push_back(floor().ms);
  }
  double ratio = Median(a) / Median(b);
  printf("%-34s %9.2f ms %9.2f ms %7.2fx  %-8s %s\n", what, Median(a), Median(b),
         ratio, goal, ratio <= limit ? "met" : "MISSED");
}

// ---- The audit log ----

// A log of n records as the program keeps it (one numbered JSON record a
// line, rotated past 32 MiB: audit.log the newest, then audit.log.1, ...),
// in PACKAGE_DIR/audit-N, made once.  Records are of repository
// "repo(seq % 1000)", by one of four administrators, but five of
// repository "rare", spread over the whole log.
std::string AuditLog(const std::string& pkg, long n) {
  std::string dir = pkg + "/audit-" + std::to_string(n);
  if (access((dir + "/.complete").c_str(), F_OK) == 0) return dir;
  fprintf(stderr, "making an audit log of %ld records in %s ...\n", n, dir.c_str());
  Sh("rm -rf '" + dir + "' && mkdir -m 700 -p '" + dir + "'");
  const long kRotate = 32L * 1024 * 1024;
  std::vector<std::string> files(1);  // oldest first
  for (long seq = 1; seq <= n; ++seq) {
    const bool rare = seq % (n / 5) == n / 10;
    char line[512];
    snprintf(line, sizeof line,
             "{\"action\":\"edit\",\"addr\":\"192.0.2.%ld\",\"changes\":{\"accounts\":"
             "{\"password\":[\"alice\"]}},\"name\":\"%s%ld\",\"outcome\":\"done\","
             "\"seq\":%ld,\"time\":\"2026-12-07T10:%02ld:%02ldZ\",\"user\":\"admin%ld\"}\n",
             seq % 250, rare ? "rare" : "repo", rare ? 0 : seq % 1000, seq, seq / 60 % 60,
             seq % 60, seq % 4);
    files.back() += line;
    if (static_cast<long>(files.back().size()) >= kRotate) files.emplace_back();
  }
  for (size_t i = 0; i < files.size(); ++i) {
    size_t number = files.size() - 1 - i;
    std::ofstream(dir + "/audit.log" + (number ? "." + std::to_string(number) : ""))
        << files[i];
  }
  Sh("chmod 600 '" + dir + "'/audit.log*");
  std::ofstream(dir + "/.complete");
  return dir;
}

// "audit" pages among 1,000 and 1,000,000 records, against a program that
// only starts and prints.
void AuditFigures(const std::string& pkg, const std::string& cgi, const std::string& floorCgi,
                  int runs) {
  struct {
    long records;
    const char* query;
    const char* what;
  } figures[] = {
      {1000, "action=audit&limit=50", "audit, first 50 of 1000"},
      {1000000, "action=audit&limit=50", "audit, first 50 of 1000000"},
      {1000000, "action=audit&limit=50&name=repo7", "audit, 50 of a repo, 1000000"},
      {1000000, "action=audit&limit=50&name=rare0", "audit, a repo's 5 of 1000000"},
  };
  const std::string var = pkg + "/var";
  for (const auto& f : figures) {
    const std::string log = AuditLog(pkg, f.records);
    Sh("rm -rf '" + var + "' && mv '" + log + "' '" + var + "'");
    Compare(f.what, runs, [&] { return Spawn({cgi}, CgiEnv(f.query)); },
            [&] { return Spawn({floorCgi}, CgiEnv(f.query)); }, "none", 1e9);
    Sh("mv '" + var + "' '" + log + "'");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr,
            "usage: bench PACKAGE_DIR SVN_CGI FLOOR_LISTING FLOOR_CGI FLOOR_ADD [RUNS]\n");
    return 2;
  }
  std::string pkg = argv[1], cgi = argv[2], floorListing = argv[3], floorCgi = argv[4],
              floorAdd = argv[5];
  int runs = argc > 6 ? atoi(argv[6]) : 11;
  Sh("mkdir -p '" + pkg + "/bin' && ln -sf \"$(command -v svnadmin)\" '" + pkg +
     "/bin/svnadmin'");
  UseRoot(pkg, "");  // after an interrupted run

  printf("%-34s %12s %12s %8s  %-8s %s\n", "figure (median of runs)", "svn.cgi",
         "floor", "ratio", "goal", "");

  // The start every request pays: an action the program does not know,
  // answered after the request is read, against a program that does
  // nothing.
  Compare("start (an unknown action)", runs,
          [&] { return Spawn({cgi}, CgiEnv("action=zzz")); },
          [&] { return Spawn({"/bin/true"}, CgiEnv("action=zzz")); }, "<= 1.5x", 1.5);

  for (int n : {1000, 10000, 100000}) {
    UseRoot(pkg, Root(pkg, n));
    std::string what = "load, 50 of " + std::to_string(n);
    Compare(what.c_str(), n == 100000 ? std::max(3, runs / 2) : runs,
            [&] { return Spawn({cgi}, CgiEnv("action=load&start=0&limit=50")); },
            [&] { return Spawn({floorListing, pkg + "/repo", "0", "50"}, {}); },
            n == 1000 ? "<= 1.25x" : "<= 1.5x", n == 1000 ? 1.25 : 1.5);
  }

  // Peak memory of a listing over the largest root.
  long peak = 0;
  for (int i = 0; i < 3; ++i)
    peak = std::max(peak, Spawn({cgi}, CgiEnv("action=load&start=0&limit=50")).maxRssKiB);
  printf("%-34s %9.2f MiB %22s  %-8s %s\n", "peak memory, load of 100000",
         peak / 1024.0, "", "<= 8 MiB", peak <= 8 * 1024 ? "met" : "MISSED");

  // One "show" of a repository without history (its settings only):
  // finding which repositories share its files reads every repository's
  // settings, so the least it must do is what the listing floor does when
  // the page holds every repository.  Then one of a real repository with a
  // few revisions, whose facts are read through Subversion's libraries
  // and whose size is a walk of its files, against a program that only
  // starts and prints.
  for (int n : {1000, 10000}) {
    UseRoot(pkg, Root(pkg, n));
    std::string what = "show, one of " + std::to_string(n);
    Compare(what.c_str(), runs,
            [&] { return Spawn({cgi}, CgiEnv("action=show&name=repo7")); },
            [&] { return Spawn({floorListing, pkg + "/repo", "0", "1000000000"}, {}); },
            "<= 1.5x", 1.5);
  }
  std::string real = pkg + "/roots/real";
  if (access((real + "/.complete").c_str(), F_OK) != 0) {
    Sh("rm -rf '" + real + "' && mkdir -p '" + real + "' && svnadmin create '" + real +
       "/facts' && for d in trunk branches tags trunk/a trunk/b; do svn mkdir -q -m \"$d\" "
       "\"file://" + real + "/facts/$d\" || exit 1; done && touch '" + real + "/.complete'");
  }
  UseRoot(pkg, real);
  Compare("show, with facts (5 revisions)", runs,
          [&] { return Spawn({cgi}, CgiEnv("action=show&name=facts")); },
          [&] { return Spawn({floorCgi}, CgiEnv("action=show&name=facts")); },
          "none", 1e9);

  // "add" with three accounts against the same durable work done plainly
  // (floor_add.c), both made in a working directory beside the root.
  std::string fresh = pkg + "/roots/add", work = pkg + "/add-work";
  Sh("rm -rf '" + fresh + "' '" + work + "' && mkdir -p '" + fresh + "' '" + work + "'");
  UseRoot(pkg, fresh);
  int serial = 0;
  std::string bodyFile = pkg + "/add-body";
  Compare("add, three accounts", runs,
          [&] {
            std::string body =
                "action=add&name=made" + std::to_string(++serial) +
                "&realm=Bench&anon=read&accounts=" +
                "%5B%7B%22account%22%3A%22alice%22%2C%22password%22%3A%22a%22%7D%2C"
                "%7B%22account%22%3A%22bob%22%2C%22password%22%3A%22b%22%7D%2C"
                "%7B%22account%22%3A%22carol%22%2C%22password%22%3A%22c%22%7D%5D";
            std::ofstream(bodyFile) << body;
            return Spawn({cgi}, PostEnv(body), bodyFile);
          },
          [&] {
            return Spawn({floorAdd, pkg + "/bin/svnadmin", work, pkg + "/repo",
                          "floor" + std::to_string(serial)},
                         {"PATH=/usr/bin:/bin"});
          },
          "<= 1.25x", 1.25);
  UseRoot(pkg, "");
  Sh("rm -rf '" + fresh + "' '" + work + "'");
  AuditFigures(pkg, cgi, floorCgi, runs);
  return 0;
}
