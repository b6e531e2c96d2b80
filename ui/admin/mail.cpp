// mail.cpp: handing a mail to the mail program.

#include "ui/admin/mail.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "jobs/jobs.h"
#include "store/package.h"

#define LOG_MODULE "svn_job"

namespace {

const int kWaitSeconds = 60;

// Writes `text` to `fd` whole; false when the reader went away.
bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Waits for `pid` at most kWaitSeconds, then kills it: its exit status,
// or -1.
int WaitFor(pid_t pid) {
  int status = 0;
  for (int tick = 0; tick < kWaitSeconds * 20; ++tick) {
    pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (got < 0 && errno != EINTR) return -1;
    usleep(50 * 1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

}  // namespace

SVNStatus SendMail(const std::string& message) {
  const std::string& program = Package().sendmail;
  if (access(program.c_str(), X_OK) != 0)
    return STATUS_ERROR(kNotFound, "%s cannot be run (%s): no mail was sent.", program.c_str(),
                        strerror(errno));
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return STATUS_ERROR(kFailed, "pipe failed: %s", strerror(errno));
  std::vector<std::string> argv{program, "-t", "-i"}, env = JobEnvironment();
  std::vector<char*> argp = Pointers(argv), envp = Pointers(env);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argp[0], &fa, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  if (spawned != 0) {
    close(in[1]);
    return STATUS_ERROR(kFailed, "Start %s failed: %s", program.c_str(), strerror(spawned));
  }
  // A mail program that ends early is no reason for svn-admin to.
  struct sigaction ignore = {}, was;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &was);
  const bool written = WriteAll(in[1], message);
  close(in[1]);
  sigaction(SIGPIPE, &was, nullptr);
  const int exit = WaitFor(pid);
  if (!written || exit != 0)
    return STATUS_ERROR(kFailed, "%s did not take the mail (exit status %d).", program.c_str(), exit);
  return SVNStatus();
}
