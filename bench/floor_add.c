/* floor_add: the least any durable "add" must do, for the benchmark.
 * Runs SVNADMIN create WORK/NAME, writes the new repository's two conf
 * files (svnserve.conf with anon-access, auth-access, password-db and
 * realm set; passwd with three accounts), syncs both, moves the repository
 * to ROOT/NAME with one renameat2(RENAME_NOREPLACE) and syncs ROOT.  WORK
 * and ROOT are on one file system.  svnadmin runs in a UTF-8 locale, as it
 * must for any name that is not ASCII.  Exits 0, or 1 at the first
 * failure. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static const char kSettings[] =
    "[general]\nanon-access = read\nauth-access = write\n"
    "password-db = passwd\nrealm = Bench\n";
static const char kPasswd[] = "[users]\nalice = a\nbob = b\ncarol = c\n";

/* Opens `path` truncated and writes `text`; the descriptor, or -1. */
static int write_file(const char *path, const char *text) {
  int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  size_t n = strlen(text);
  if (fd < 0) return -1;
  if (write(fd, text, n) != (ssize_t)n) {
    close(fd);
    return -1;
  }
  return fd;
}

static int sync_close(int fd) {
  int ok = fsync(fd) == 0;
  return close(fd) == 0 && ok ? 0 : -1;
}

int main(int argc, char **argv) {
  if (argc != 5) return 2;
  const char *svnadmin = argv[1], *work = argv[2], *root = argv[3], *name = argv[4];
  char built[4096], settings[4200], passwd[4200], target[4096];
  snprintf(built, sizeof built, "%s/%s", work, name);
  snprintf(settings, sizeof settings, "%s/conf/svnserve.conf", built);
  snprintf(passwd, sizeof passwd, "%s/conf/passwd", built);
  snprintf(target, sizeof target, "%s/%s", root, name);

  char *args[] = {(char *)svnadmin, "create", built, NULL};
  char *env[] = {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", NULL};
  pid_t pid;
  int status;
  if (posix_spawn(&pid, svnadmin, NULL, NULL, args, env) != 0 ||
      waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return 1;
  /* Both written before either is synced, as a careful writer does. */
  int fdSettings = write_file(settings, kSettings);
  int fdPasswd = fdSettings < 0 ? -1 : write_file(passwd, kPasswd);
  if (fdPasswd < 0 || sync_close(fdSettings) != 0 || sync_close(fdPasswd) != 0)
    return 1;
  if (renameat2(AT_FDCWD, built, AT_FDCWD, target, RENAME_NOREPLACE) != 0) return 1;
  int dir = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || sync_close(dir) != 0) return 1;
  return 0;
}
