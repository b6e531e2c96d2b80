// tool.cpp: svnadmin with its streams pumped through poll.

#include "ui/admin/tool.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "jobs/jobs.h"
#include "store/package.h"
#include "store/private_file.h"

#define LOG_MODULE "svn_job"

volatile sig_atomic_t gCancelled = 0;

namespace {

volatile pid_t gTool = 0;  // the tool running now

void OnCancel(int) {
  gCancelled = 1;
  pid_t tool = gTool;
  if (tool > 0) kill(-tool, SIGTERM);  // the tool and whatever it started
}

// Splits `data` into lines, keeping an unfinished one in `partial`.
void Lines(std::string* partial, const char* data, size_t size,
           const std::function<void(const std::string&)>& line) {
  partial->append(data, size);
  size_t start = 0;
  for (size_t nl; (nl = partial->find('\n', start)) != std::string::npos; start = nl + 1)
    if (line) line(partial->substr(start, nl - start));
  partial->erase(0, start);
  if (partial->size() > 65536) partial->clear();  // no line is that long
}

}  // namespace

void CatchCancel() {
  struct sigaction sa = {};
  sa.sa_handler = OnCancel;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);  // no SA_RESTART
  signal(SIGPIPE, SIG_IGN);
}

namespace {

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// One run of the tool: its process, the ends of its streams, and what
// has been read and written.
class ToolRun {
 public:
  explicit ToolRun(const SVNToolStreams& streams) : streams_(streams) {}
  ~ToolRun() {
    for (int* fd : {&in_, &out_, &err_}) CloseFd(fd);
  }

  // Starts `argv` in a process group of its own that dies with this
  // process, its input a pipe when there is input, else /dev/null.
  SVNStatus start(std::vector<std::string> argv);
  // Feeds and reads it until its output ends.
  void pump();
  // Waits for it: a failure when it ended badly or was stopped.
  SVNStatus finish(const std::string& what);

 private:
  void feed();
  void write();
  void read(int* fd, bool error);

  const SVNToolStreams& streams_;
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string pending_;  // input read and not yet written
  size_t pendingAt_ = 0;
  // Reports the tool's reads and writes, at most four times a second.
  void reportIo(bool now);

  std::string outLine_, errLine_, lastError_;
  std::vector<std::string> errors_;  // Subversion's error lines ("E123456: ...")
  bool stopped_ = false;  // a stream function failed
  double reported_ = 0;
};

SVNStatus ToolRun::start(std::vector<std::string> argv) {
  std::vector<std::string> env = JobEnvironment();
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);
  int in[2] = {-1, -1}, out[2], err[2];
  if ((streams_.input && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0)
    return STATUS_ERROR(kFailed, "pipe failed: %s", strerror(errno));
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    int null = open("/dev/null", O_RDONLY);
    if (setpgid(0, 0) != 0 || prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent ||
        dup2(in[0] >= 0 ? in[0] : null, 0) != 0 || dup2(out[1], 1) != 1 || dup2(err[1], 2) != 2)
      _exit(127);
    signal(SIGPIPE, SIG_DFL);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  int forkErr = errno;
  for (int fd : {in[0], out[1], err[1]})
    if (fd >= 0) close(fd);
  if (pid_ < 0) return STATUS_ERROR(kFailed, "fork failed: %s", strerror(forkErr));
  setpgid(pid_, pid_);  // as the child does: whichever runs first
  gTool = pid_;
  if (gCancelled) kill(-pid_, SIGTERM);  // asked before the tool was there
  if (in_ >= 0) fcntl(in_, F_SETFL, O_NONBLOCK);
  return SVNStatus();
}

void ToolRun::feed() {
  // More input when what was read has been written.
  if (in_ >= 0 && pendingAt_ == pending_.size() && !stopped_) {
    pending_.resize(64 * 1024);
    long n = streams_.input(&pending_[0], pending_.size());
    pending_.resize(n > 0 ? static_cast<size_t>(n) : 0);
    pendingAt_ = 0;
    if (n < 0) stopped_ = true;
    if (n <= 0) CloseFd(&in_);
  }
  if (stopped_) {
    kill(-pid_, SIGKILL);
    CloseFd(&in_);
  }
}

void ToolRun::write() {
  ssize_t n = ::write(in_, pending_.data() + pendingAt_, pending_.size() - pendingAt_);
  if (n > 0) {
    pendingAt_ += static_cast<size_t>(n);
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    CloseFd(&in_);  // the tool stopped reading: its status says why
    pendingAt_ = pending_.size();
  }
}

void ToolRun::read(int* fd, bool error) {
  char buf[64 * 1024];
  ssize_t n = ::read(*fd, buf, sizeof buf);
  if (n < 0 && errno == EINTR) return;
  if (n <= 0) {
    CloseFd(fd);
    return;
  }
  if (error) {
    Lines(&errLine_, buf, static_cast<size_t>(n), [this](const std::string& line) {
      if (line.compare(0, 2, "* ") != 0 && !line.empty()) lastError_ = line;
      if (line.find(": E") != std::string::npos && errors_.size() < 10) errors_.push_back(line);
      if (streams_.errorLine) streams_.errorLine(line);
    });
  } else if (streams_.output) {
    if (!stopped_ && !streams_.output(buf, static_cast<size_t>(n))) stopped_ = true;
  } else {
    Lines(&outLine_, buf, static_cast<size_t>(n), streams_.outputLine);
  }
}

void ToolRun::pump() {
  while (out_ >= 0 || err_ >= 0) {
    feed();
    struct pollfd fds[3] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}, {in_, POLLOUT, 0}};
    reportIo(false);
    if (poll(fds, 3, streams_.io ? 250 : -1) < 0) {
      if (errno != EINTR) {
        LOG_LINE("poll failed: %s", strerror(errno));
        stopped_ = true;
      }
      continue;
    }
    if (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) write();
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) read(&out_, false);
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) read(&err_, true);
  }
  CloseFd(&in_);
}

void ToolRun::reportIo(bool now) {
  if (!streams_.io) return;
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  const double at = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
  if (!now && at - reported_ < 0.25) return;
  reported_ = at;
  std::string text;
  if (!ReadSmallFile("/proc/" + std::to_string(pid_) + "/io", 4096, false, &text)) return;
  long long read = -1, written = -1;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(at, nl - at);
    if (line.compare(0, 7, "rchar: ") == 0) read = atoll(line.c_str() + 7);
    if (line.compare(0, 7, "wchar: ") == 0) written = atoll(line.c_str() + 7);
    at = nl + 1;
  }
  if (read >= 0 && written >= 0) streams_.io(read, written);
}

SVNStatus ToolRun::finish(const std::string& what) {
  reportIo(true);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  gTool = 0;
  if (!stopped_ && WIFEXITED(status) && WEXITSTATUS(status) == 0) return SVNStatus();
  SVNStatus failed = STATUS_ERROR(kFailed, "svnadmin %s failed (%s): %s", what.c_str(),
                                  stopped_             ? "stopped"
                                  : WIFEXITED(status)  ? "exit status"
                                                       : "killed",
                                  lastError_.c_str());
  std::string said;
  for (const std::string& e : errors_) said += (said.empty() ? "" : " ") + e;
  if (said.empty()) said = lastError_;
  for (char& c : said)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  if (!said.empty()) failed.Reason("svnadmin " + what + " said: " + said);
  return failed;
}

}  // namespace

SVNStatus RunTool(const std::vector<std::string>& args, const SVNToolStreams& streams) {
  std::vector<std::string> argv{Package().adminTool};
  argv.insert(argv.end(), args.begin(), args.end());
  ToolRun run(streams);
  STATUS_TRY(run.start(argv));
  run.pump();
  return run.finish(args.empty() ? std::string() : args[0]);
}
