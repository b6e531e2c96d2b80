// tool.cpp: svnadmin with its streams pumped through poll.

#include "ui/admin/tool.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "jobs/jobs.h"
#include "store/package.h"

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

SVNStatus RunTool(const std::vector<std::string>& args, const SVNToolStreams& streams) {
  std::vector<std::string> argv{Package().adminTool}, env = JobEnvironment();
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);

  int in[2] = {-1, -1}, out[2], err[2];
  if ((streams.input && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0)
    return STATUS_ERROR(kFailed, "pipe failed: %s", strerror(errno));
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
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
  if (pid < 0) {
    for (int fd : {in[1], out[0], err[0]})
      if (fd >= 0) close(fd);
    return STATUS_ERROR(kFailed, "fork failed: %s", strerror(forkErr));
  }
  setpgid(pid, pid);  // as the child does: whichever runs first
  gTool = pid;
  if (gCancelled) kill(-pid, SIGTERM);  // asked before the tool was there
  if (in[1] >= 0) fcntl(in[1], F_SETFL, O_NONBLOCK);

  std::string pending;  // input read and not yet written
  size_t pendingAt = 0;
  std::string outLine, errLine, lastError;
  bool stopped = false;  // a stream function failed
  char buf[64 * 1024];
  int inFd = in[1], outFd = out[0], errFd = err[0];
  auto closeFd = [](int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  };
  auto onError = [&](const std::string& line) {
    if (line.compare(0, 2, "* ") != 0 && !line.empty()) lastError = line;
    if (streams.errorLine) streams.errorLine(line);
  };
  while (outFd >= 0 || errFd >= 0) {
    // More input when what was read has been written.
    if (inFd >= 0 && pendingAt == pending.size() && !stopped) {
      pending.resize(sizeof buf);
      long n = streams.input(&pending[0], pending.size());
      pending.resize(n > 0 ? static_cast<size_t>(n) : 0);
      pendingAt = 0;
      if (n < 0) stopped = true;
      if (n <= 0) closeFd(&inFd);
    }
    if (stopped) {
      kill(-pid, SIGKILL);
      closeFd(&inFd);
    }
    struct pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno != EINTR) {
        LOG_LINE("poll failed: %s", strerror(errno));
        stopped = true;
      }
      continue;
    }
    if (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) {
      ssize_t n = write(inFd, pending.data() + pendingAt, pending.size() - pendingAt);
      if (n > 0) {
        pendingAt += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        closeFd(&inFd);  // the tool stopped reading: its status says why
        pendingAt = pending.size();
      }
    }
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
      int* fd = i == 0 ? &outFd : &errFd;
      ssize_t n = read(*fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        closeFd(fd);
        continue;
      }
      if (i == 1) {
        Lines(&errLine, buf, static_cast<size_t>(n), onError);
      } else if (streams.output) {
        if (!stopped && !streams.output(buf, static_cast<size_t>(n))) stopped = true;
      } else {
        Lines(&outLine, buf, static_cast<size_t>(n), streams.outputLine);
      }
    }
  }
  closeFd(&inFd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  gTool = 0;
  const std::string what = args.empty() ? std::string() : args[0];
  if (stopped || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    SVNStatus failed = STATUS_ERROR(kFailed, "svnadmin %s failed (%s): %s", what.c_str(),
                                    stopped               ? "stopped"
                                    : WIFEXITED(status)   ? "exit status"
                                                          : "killed",
                                    lastError.c_str());
    for (char& c : lastError)
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (!lastError.empty()) failed.Reason("svnadmin " + what + " said: " + lastError);
    return failed;
  }
  return SVNStatus();
}
