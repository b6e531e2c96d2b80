/* syslog_capture.c: replaces syslog() so tests can read what a program
 * logs.  Linked into a test binary, or preloaded into a program under test
 * (LD_PRELOAD), it appends each message as one line to the file named by
 * SYSLOG_CAPTURE, prefixed by its priority and a blank ("3 ui:42 ...");
 * without SYSLOG_CAPTURE messages are dropped. */
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void capture(int priority, const char *format, va_list ap) {
  const char *path = getenv("SYSLOG_CAPTURE");
  if (path == NULL) return;
  char line[8192];
  int n = snprintf(line, sizeof line, "%d ", priority);
  int m = vsnprintf(line + n, sizeof line - (size_t)n - 1, format, ap);
  if (m < 0) return;
  size_t len = (size_t)n + ((size_t)m < sizeof line - (size_t)n - 1
                                ? (size_t)m
                                : sizeof line - (size_t)n - 2);
  line[len++] = '\n';
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, len);
  (void)ignored;
  close(fd);
}

void syslog(int priority, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  capture(priority, format, ap);
  va_end(ap);
}

void __syslog_chk(int priority, int flag, const char *format, ...) {
  (void)flag;
  va_list ap;
  va_start(ap, format);
  capture(priority, format, ap);
  va_end(ap);
}
