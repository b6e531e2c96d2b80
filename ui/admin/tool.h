// tool.h: the package's svnadmin, run with its standard streams read and
// written as it runs (a dump streamed out, a load streamed in, progress
// read from its lines), and stopped when the job is cancelled.
#ifndef SVN_ADMIN_TOOL_H_
#define SVN_ADMIN_TOOL_H_

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "store/status.h"

// Set when the job is asked to stop (SIGTERM, SIGINT, SIGHUP): the tool
// running then is sent SIGTERM, and the job leaves nothing half-made.
extern volatile sig_atomic_t gCancelled;

// Installs the handler of those signals.
void CatchCancel();

// What a run of the tool reads and writes.
struct SVNToolStreams {
  // Gives the next bytes of its standard input: the count put in `buf`,
  // 0 when the input ends, negative to stop the run (a failure).  Null:
  // the input is /dev/null.
  std::function<long(char* buf, size_t size)> input;
  // Takes bytes of its standard output; false stops the run (a failure).
  // Null: the output is read as lines, for outputLine.
  std::function<bool(const char* data, size_t size)> output;
  std::function<void(const std::string& line)> outputLine;
  // Each line of its error output (progress, warnings, errors).
  std::function<void(const std::string& line)> errorLine;
  // Called about four times a second while it runs, with the bytes it has
  // read and written so far (its /proc/PID/io): the work it has done.
  std::function<void(long long read, long long written)> io;
};

// Runs SVN_ADMIN_TOOL with `args` (no shell) until it ends, in the
// environment of a job (see JobEnvironment), in a process group of its
// own (a cancel stops whatever it started too); it dies with this
// process.
// Fails when it cannot start, exits non-zero or is killed, or a stream
// function stops it; the failure's reason is Subversion's error lines
// ("svnadmin: E160004: ..."; the last line when it said none).
SVNStatus RunTool(const std::vector<std::string>& args, const SVNToolStreams& streams);

#endif  // SVN_ADMIN_TOOL_H_
