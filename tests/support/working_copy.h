// working_copy.h: a working copy of a repository served by svnserve,
// checked out and changed with the real svn client as one login, as a
// person at a workstation would.
#ifndef TESTS_SUPPORT_WORKING_COPY_H_
#define TESTS_SUPPORT_WORKING_COPY_H_

#include <string>

#include "sandbox.h"

class WorkingCopy {
 public:
  // A working copy of `url` in the sandbox's directory `dir`, as `user`
  // with `password`; checked out when first used.
  WorkingCopy(std::string url, std::string user, std::string password, const std::string& dir)
      : url_(std::move(url)), user_(std::move(user)), password_(std::move(password)),
        dir_(sandbox::Dir() + "/" + dir) {}

  const std::string& dir() const { return dir_; }

  // Runs a shell command line in the working copy, where "svn" is the
  // client logged in as this user; true when it succeeds.
  bool Run(const std::string& script) { return sandbox::Shell(Command(script) + " >/dev/null 2>&1") == 0; }

  // What the same command line prints, its errors included.
  std::string Says(const std::string& script) { return sandbox::Output(Command(script) + " 2>&1"); }

 private:
  std::string Command(const std::string& script) {
    const std::string svn = "svn --non-interactive --no-auth-cache --config-dir '" +
                            sandbox::Dir() + "/svnconfig' --username '" + user_ +
                            "' --password '" + password_ + "'";
    std::string checkout;
    if (!checkedOut_) checkout = svn + " checkout -q '" + url_ + "' '" + dir_ + "' && ";
    checkedOut_ = true;
    return "export LC_ALL=C.UTF-8; svn() { command " + svn + " \"$@\"; }; " + checkout +
           "cd '" + dir_ + "' && { " + script + "; }";
  }

  std::string url_, user_, password_, dir_;
  bool checkedOut_ = false;
};

#endif  // TESTS_SUPPORT_WORKING_COPY_H_
