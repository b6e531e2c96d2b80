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

#include <pwd.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dump_maker.h"

namespace {

struct Run {
  double ms;
  long maxRssKiB;
  double cpuMs;  // user and system time, its children's included
};

// Spawns argv with env and the file actions `fa` (standard output and
// error go to /dev/null), calls `feed` once it runs, and waits for it.
template <typename Feed>
Run SpawnTimed(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               posix_spawn_file_actions_t* fa, Feed feed) {
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_addopen(fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(fa, 2, "/dev/null", O_WRONLY, 0);
  timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  pid_t pid;
  if (posix_spawn(&pid, a[0], fa, nullptr, a.data(), e.data()) != 0) {
    perror(a[0]);
    exit(1);
  }
  feed();
  int status;
  rusage ru;
  wait4(pid, &status, 0, &ru);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  posix_spawn_file_actions_destroy(fa);
  return {(t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6, ru.ru_maxrss,
          (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
              (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3};
}

// Runs argv with env, stdin from `input` (or /dev/null), stdout discarded.
Run Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& input = "") {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  return SpawnTimed(argv, env, &fa, [] {});
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Sh(const std::string& cmd) { return system(cmd.c_str()); }

std::string Output(const std::string& cmd) {
  std::string text;
  if (FILE* out = popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    pclose(out);
  }
  return text;
}

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
  if (access((root + "/.complete-3").c_str(), F_OK) == 0) return root;
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
  std::ofstream(root + "/.complete-3");
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
// and prints their medians and ratio, which meets the goal between
// `lower` and `limit`: of the time they took, or with `cpu` of the
// processor time they used.
void Compare(const char* what, int runs, const std::function<Run()>& ours,
             const std::function<Run()>& floor, const char* goal, double limit,
             double lower = 0, bool cpu = false) {
  ours();
  floor();
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    const Run x = ours(), y = floor();
    a.push_back(cpu ? x.cpuMs : x.ms);
    b.push_back(cpu ? y.cpuMs : y.ms);
  }
  double ratio = Median(a) / Median(b);
  printf("%-34s %9.2f ms %9.2f ms %7.2fx  %-8s %s\n", what, Median(a), Median(b),
         ratio, goal, ratio <= limit && ratio >= lower ? "met" : "MISSED");
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

// ---- Backups, restores and uploads ----

// Runs argv with env and `body` bytes of generated input on its standard
// input, through a pipe (nothing on disk): `head` first, then `fill` bytes
// of 'x', then `tail`.
Run SpawnFed(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& head, unsigned long long fill, const std::string& tail) {
  int in[2];
  if (pipe(in) != 0) exit(1);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  return SpawnTimed(argv, env, &fa, [&] {
    close(in[0]);
    signal(SIGPIPE, SIG_IGN);
    std::string chunk(1 << 20, 'x');
    bool ok = write(in[1], head.data(), head.size()) == static_cast<ssize_t>(head.size());
    for (unsigned long long left = fill; ok && left > 0;) {
      size_t n = static_cast<size_t>(std::min<unsigned long long>(left, chunk.size()));
      ssize_t w = write(in[1], chunk.data(), n);
      ok = w > 0;
      if (ok) left -= static_cast<unsigned long long>(w);
    }
    ok = ok && write(in[1], tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
    close(in[1]);
  });
}

// A repository of 2,000 revisions, about 250 MiB: each revision rewrites
// 128 KiB of text (which Subversion stores in about half) and 64 KiB of
// data that does not compress; made once in PACKAGE_DIR/roots/large.
std::string LargeRoot(const std::string& pkg) {
  const std::string root = pkg + "/roots/large";
  if (access((root + "/.complete-3").c_str(), F_OK) == 0) return root;
  fprintf(stderr, "making a repository of 2,000 revisions (about 250 MiB) in %s ...\n",
          root.c_str());
  Sh("rm -rf '" + root + "' && mkdir -p '" + root + "' && svnadmin create '" + root + "/big'");
  FILE* load = popen(("svnadmin load -q --no-flush-to-disk '" + root + "/big'").c_str(), "w");
  if (load == nullptr) exit(1);
  dump::WriteMixed(load, 2000, 128 * 1024, 64 * 1024);
  if (pclose(load) != 0) exit(1);
  std::ofstream(root + "/.complete-3");
  return root;
}

// A backup of that repository with svn-admin (a consistent copy,
// archived) against `svnadmin hotcopy` and `tar cf` of the copy; a restore
// of it as a new repository against `tar xf` of that archive and a sync;
// the peak memory of both; and a backup of the kind "dump" against
// `svnadmin dump --deltas | gzip`.
void BackupFigures(const std::string& pkg, const std::string& admin, int runs) {
  UseRoot(pkg, LargeRoot(pkg));  // moved to PACKAGE_DIR/repo
  const std::string live = pkg + "/repo";
  Sh("mkdir -p '" + pkg + "/ui' && ln -sf '" + admin + "' '" + pkg + "/ui/svn-admin'");
  const std::string repo = live + "/big", floorTar = pkg + "/floor.tar", copy = pkg + "/floor-copy";
  const struct passwd* me = getpwuid(geteuid());
  const std::string user = me != nullptr ? me->pw_name : "root";
  const std::vector<std::string> env{"PATH=/usr/bin:/bin"};
  const int few = std::max(3, runs / 4) | 1;  // seconds each: fewer runs
  long ourPeak = 0;
  Compare("backup, 2,000 revisions, 250 MiB", few,
          [&] {
            Run r = Spawn({admin, "--user", user, "backup", "--keep", "1", "big"}, env);
            ourPeak = std::max(ourPeak, r.maxRssKiB);
            return r;
          },
          [&] {
            return Spawn({"/bin/sh", "-c", "rm -rf '" + copy + "' && svnadmin hotcopy '" + repo +
                                               "' '" + copy + "' && tar cf '" + floorTar +
                                               "' -C '" + copy + "' ."},
                         env);
          },
          "<= 2x", 2);
  printf("%-34s %9.2f MiB %22s  %-8s %s\n", "  peak memory of the backup", ourPeak / 1024.0, "",
         "<= 32 MiB", ourPeak <= 32 * 1024 ? "met" : "MISSED");
  std::string backup = Output("ls '" + pkg + "/backup/big/'*.tar.gz | tail -1");
  backup.erase(backup.find_last_not_of('\n') + 1);
  int serial = 0;
  // Each side starts from the same clean disk: both sync, which would
  // otherwise write the removals of earlier runs.
  auto clear = [&] {
    Sh("rm -rf '" + live + "'/made* '" + pkg + "'/repo-work/* '" + copy + "'");
    sync();
  };
  ourPeak = 0;
  Compare("restore, 2,000 revisions, 250 MiB", few,
          [&] {
            clear();
            Run r = Spawn({admin, "--user", user, "restore", backup,
                           "made" + std::to_string(++serial)}, env);
            ourPeak = std::max(ourPeak, r.maxRssKiB);
            return r;
          },
          [&] {
            clear();
            return Spawn({"/bin/sh", "-c", "mkdir '" + copy + "' && tar xf '" + floorTar +
                                               "' -C '" + copy + "' && sync"},
                         env);
          },
          "<= 2x", 2);
  printf("%-34s %9.2f MiB %22s  %-8s %s\n", "  peak memory of the restore", ourPeak / 1024.0, "",
         "<= 32 MiB", ourPeak <= 32 * 1024 ? "met" : "MISSED");
  clear();
  const std::string floorDump = pkg + "/floor.svndump.gz";
  Compare("backup (dump), 2,000 revisions", few,
          [&] { return Spawn({admin, "--user", user, "backup", "--kind", "dump", "--keep", "1",
                              "big"}, env); },
          [&] {
            return Spawn({"/bin/sh", "-c", "svnadmin dump -q --deltas '" + repo + "' | gzip -1 > '" +
                                               floorDump + "'"},
                         env);
          },
          "none", 1e9);
  Sh("rm -f '" + floorTar + "' '" + floorDump + "'");
}

// The peak memory of svn.cgi taking a 2 GiB upload, streamed to the
// working directory; the restore job it starts refuses it at once (not a
// backup) and deletes it.  Measured first: a spawned child's peak counts
// the memory of the process it was spawned from (shared until exec), and
// this one is small only before the other figures.
void UploadFigure(const std::string& cgi) {
  const std::string boundary = "benchBoundary";
  const std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"action\""
                           "\r\n\r\nrestore\r\n--" + boundary + "\r\nContent-Disposition: "
                           "form-data; name=\"name\"\r\n\r\nuploaded\r\n--" + boundary +
                           "\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"b"
                           "\"\r\n\r\n";
  const std::string tail = "\r\n--" + boundary + "--\r\n";
  const unsigned long long size = 2ULL << 30;
  Run upload = SpawnFed(
      {cgi},
      {"REQUEST_METHOD=POST", "CONTENT_TYPE=multipart/form-data; boundary=" + boundary,
       "CONTENT_LENGTH=" + std::to_string(head.size() + size + tail.size()), "REMOTE_USER=admin",
       "HTTP_HOST=127.0.0.1", "PATH=/usr/bin:/bin"},
      head, size, tail);
  printf("%-34s %9.2f MiB %22s  %-8s %s   (%.1f s)\n", "peak memory, 2 GiB upload",
         upload.maxRssKiB / 1024.0, "", "none", "", upload.ms / 1000);
}


// One "show" of a repository without history (its settings only):
// finding which repositories share its files reads every repository's
// settings, so the least it must do is what the listing floor does when
// the page holds every repository.  Then one of a real repository with a
// few revisions, whose facts are read through Subversion's libraries and
// whose size is a walk of its files, against a program that only starts
// and prints.
void ShowFigures(const std::string& pkg, const std::string& cgi, const std::string& floorListing,
                 const std::string& floorCgi, int runs) {
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
}

// ---- Daily care ----

// Makes the repository `dir` from the dump `dump` once (`done` marks it
// complete): loaded where that is quick (a tmpfs: a revision costs a
// millisecond there, ten on a disk), then `then` (a shell command for the
// repository's path) run, and copied in.  Not packed: as commits leave a
// repository, and as the one of 100 revisions (less than a shard) is.
void LoadOnce(const std::string& dir, const std::string& dump, const std::string& done,
              const std::function<std::string(const std::string&)>& then = nullptr) {
  if (access(done.c_str(), F_OK) == 0) return;
  fprintf(stderr, "making %s (once; a few minutes for 100,000 revisions) ...\n", dir.c_str());
  const std::string work = access("/dev/shm", W_OK) == 0 ? "/dev/shm/svn-bench-load" : dir + ".load";
  Sh("rm -rf '" + work + "' '" + dir + "' && svnadmin create '" + work + "'");
  std::ofstream(work + ".dump") << dump;
  if (Sh("svnadmin load -q --no-flush-to-disk '" + work + "' < '" + work + ".dump' && " +
         (then ? then(work) : "true") + " && cp -a '" + work + "' '" + dir + "'") != 0)
    exit(1);
  Sh("rm -rf '" + work + "' '" + work + ".dump' '" + work + ".targets'");
  std::ofstream(done) << "";
}

// A dump of one revision adding `n` files, a hundred to a directory.
std::string ManyFiles(int n) {
  std::string out = "SVN-fs-dump-format-version: 2\n\nUUID: 3f2c1a4e-5b6d-4e7f-8a9b-0c1d2e3f4a5c\n\n";
  for (int rev : {0, 1}) {
    const std::string props =
        dump::Props(rev ? "alice" : "", "2024-01-0" + std::to_string(rev + 1) + "T00:00:00.000000Z",
                    rev ? "files" : "");
    out += "Revision-number: " + std::to_string(rev) + "\nProp-content-length: " +
           std::to_string(props.size()) + "\nContent-length: " + std::to_string(props.size()) +
           "\n\n" + props + "\n";
  }
  for (int d = 0; d < n / 100; ++d)
    out += "Node-path: d" + std::to_string(d) + "\nNode-kind: dir\nNode-action: add\n"
           "Prop-content-length: 10\nContent-length: 10\n\nPROPS-END\n\n";
  for (int i = 0; i < n; ++i) {
    const std::string text = "file " + std::to_string(i) + "\n";
    out += "Node-path: d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt\n"
           "Node-kind: file\nNode-action: add\nProp-content-length: 10\nText-content-length: " +
           std::to_string(text.size()) + "\nContent-length: " + std::to_string(10 + text.size()) +
           "\n\nPROPS-END\n" + text + "\n";
  }
  return out;
}

// "log", first page of 50 among 100 and 100,000 revisions, against "svn
// log -v" of the same page through file://; "locks", first page of 50
// among 10,000 locks, against "svnadmin lslocks"; "usage" of 1,000
// repositories, its sizes cached, against the least a listing of all of
// them reads.
void CareFigures(const std::string& pkg, const std::string& cgi, const std::string& floorListing,
                 int runs) {
  const std::string root = pkg + "/roots/care";
  Sh("mkdir -p '" + root + "'");
  for (int n : {100, 100000}) {
    const std::string name = "h" + std::to_string(n);
    LoadOnce(root + "/" + name, dump::Make(n, 20), root + "/." + name);
  }
  const std::string locks = root + "/locks";
  LoadOnce(locks, ManyFiles(10000), root + "/.locks", [&](const std::string& work) {
    return "for i in $(seq 0 9999); do echo \"file://" + work + "/d$((i / 100))/f$i.txt\"; done > '" +
           work + ".targets' && svn lock -q --non-interactive --config-dir '" + pkg +
           "/svnconfig' --username alice -m 'On holiday' --targets '" + work + ".targets'";
  });
  UseRoot(pkg, root);
  const std::string repo = pkg + "/repo";
  auto log = [&](const std::string& name) {
    return Spawn({cgi}, CgiEnv("action=log&name=" + name));
  };
  for (int n : {100, 100000}) {
    const std::string name = "h" + std::to_string(n);
    const std::string what = "log, first 50 of " + std::to_string(n) + " revisions";
    Compare(what.c_str(), runs, [&] { return log(name); },
            [&] {
              return Spawn({"/usr/bin/svn", "log", "-v", "--limit", "50", "--non-interactive",
                            "--config-dir", pkg + "/svnconfig", "file://" + repo + "/" + name},
                           {"PATH=/usr/bin:/bin"});
            },
            "<= 1.25x", 1.25);
  }
  // The same page costs the same however long the history before it: the
  // two differ by less than a busy machine's noise in time, hence also
  // the processor time each used.
  Compare("log, 100000 against 100 revisions", 3 * runs, [&] { return log("h100000"); },
          [&] { return log("h100"); }, "1 +-0.1", 1.1, 0.9);
  Compare("  (processor time)", 3 * runs, [&] { return log("h100000"); },
          [&] { return log("h100"); }, "1 +-0.1", 1.1, 0.9, true);
  Compare("locks, first 50 of 10000", runs,
          [&] { return Spawn({cgi}, CgiEnv("action=locks&name=locks")); },
          [&] { return Spawn({"/usr/bin/svnadmin", "lslocks", repo + "/locks"}, {"PATH=/usr/bin:/bin"}); },
          "<= 1.25x", 1.25);
  UseRoot(pkg, Root(pkg, 1000));
  Compare("usage of 1000, cached", runs, [&] { return Spawn({cgi}, CgiEnv("action=usage")); },
          [&] { return Spawn({floorListing, pkg + "/repo", "0", "1000000000"}, {}); },
          "<= 1.5x", 1.5);
  UseRoot(pkg, "");
}

}  // namespace

// ---- Schedules ----

std::string IsoTime(time_t t) {
  struct tm utc;
  char text[32];
  gmtime_r(&t, &utc);
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The schedule files of PACKAGE_DIR/var for a root of n repositories
// "repoI" at `now`: a daily default begun a week before, whose latest slot
// every repository has run; each backed up an hour before `now`, but every
// tenth one whose backup failed then and every twentieth whose last good
// backup is three days old (overdue).  Then svn-admin works out when each
// is overdue, as it does after a change of the schedules.
void ScheduleFiles(const std::string& pkg, const std::string& admin, const std::string& user,
                   int n, time_t now) {
  const std::string var = pkg + "/var";
  Sh("mkdir -p '" + var + "' && chmod 700 '" + var + "' && rm -f '" + var + "/schedule.json' '" +
     var + "/backup-state'");
  std::ofstream(var + "/schedule.json")
      << R"({"format":1,"default":{"every":24,"at":"02:30","keep":7,"since":")"
      << IsoTime(now - 7 * 86400) << "\"}}\n";
  std::ofstream state(var + "/backup-state");
  state << "svn-admin backup state 1\n";
  for (int i = 0; i < n; ++i) {
    const time_t good = i % 20 == 0 ? now - 3 * 86400 : now - 3600;
    state << "repo" << i << "\tgood=" << good << "\trev=" << i % 1000 << "\tfile=repo" << i
          << "-0001.svnbackup\tslot=" << now - 3600;
    if (i % 10 == 0)
      state << "\tfailed=" << now - 3600 << "\tkind=backup\tjob=bench" << i
            << "\twhy=The repository's history cannot be read.\tbfail=1";
    state << "\n";
  }
  state.close();
  Sh("chmod 600 '" + var + "/schedule.json' '" + var + "/backup-state'");
  Spawn({admin, "--user", user, "scheduled", "--now", IsoTime(now)}, {"PATH=/usr/bin:/bin"});
}

// Among 10,000 repositories with the schedule files above: "svn-admin
// scheduled" with nothing due against the listing's floor, and a page of
// the listing with its marks against the same listing without the files
// (no schedule, as before schedules), each alternating with the other.
void ScheduleFigures(const std::string& pkg, const std::string& cgi,
                     const std::string& floorListing, const std::string& admin, int runs) {
  const struct passwd* me = getpwuid(geteuid());
  const std::string user = me != nullptr ? me->pw_name : "root";
  const time_t now = time(nullptr);
  const int n = 10000;
  UseRoot(pkg, Root(pkg, n));
  ScheduleFiles(pkg, admin, user, n, now);
  Compare("scheduled, nothing due, 10000", runs,
          [&] {
            return Spawn({admin, "--user", user, "scheduled", "--now", IsoTime(now)},
                         {"PATH=/usr/bin:/bin"});
          },
          [&] { return Spawn({floorListing, pkg + "/repo", "0", "50"}, {}); }, "<= 1.5x", 1.5);
  const std::string var = pkg + "/var", aside = pkg + "/var-aside";
  Sh("rm -rf '" + aside + "'");
  Compare("load, 50 of 10000, marks/without", runs,
          [&] {
            rename(aside.c_str(), var.c_str());
            return Spawn({cgi}, CgiEnv("action=load&start=0&limit=50"));
          },
          [&] {
            rename(var.c_str(), aside.c_str());
            return Spawn({cgi}, CgiEnv("action=load&start=0&limit=50"));
          },
          "<= 1.1x", 1.1);
  rename(aside.c_str(), var.c_str());
  Sh("rm -f '" + var + "/schedule.json' '" + var + "/backup-state'");
  UseRoot(pkg, "");
}

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
  const char* admin = getenv("SVN_ADMIN");
  const char* only = getenv("BENCH_ONLY");

  printf("%-34s %12s %12s %8s  %-8s %s\n", "figure (median of runs)", "svn.cgi",
         "floor", "ratio", "goal", "");
  if (only != nullptr && std::string(only) == "care") {
    CareFigures(pkg, cgi, floorListing, runs);
    return 0;
  }
  if (only != nullptr && std::string(only) == "backup" && admin != nullptr) {
    BackupFigures(pkg, admin, runs);
    return 0;
  }
  if (only != nullptr && std::string(only) == "schedule" && admin != nullptr) {
    ScheduleFigures(pkg, cgi, floorListing, admin, runs);
    return 0;
  }

  // The start every request pays: an action the program does not know,
  // answered after the request is read, against a program that does
  // nothing.
  Compare("start (an unknown action)", runs,
          [&] { return Spawn({cgi}, CgiEnv("action=zzz")); },
          [&] { return Spawn({"/bin/true"}, CgiEnv("action=zzz")); }, "<= 1.5x", 1.5);
  UseRoot(pkg, Root(pkg, 1000));
  UploadFigure(cgi);
  UseRoot(pkg, "");

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

  ShowFigures(pkg, cgi, floorListing, floorCgi, runs);

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
  CareFigures(pkg, cgi, floorListing, runs);
  if (admin != nullptr) ScheduleFigures(pkg, cgi, floorListing, admin, runs);
  if (admin != nullptr) BackupFigures(pkg, admin, runs);
  return 0;
}
