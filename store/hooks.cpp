// hooks.cpp: the hook presets: our scripts, telling them from the
// administrator's, writing and removing them.
//
// Everything in hooks/ is reached through one descriptor of the
// directory, opened without following a link, and locked while an edit
// runs; nothing in it is followed or opened blocking.

#include "store/hooks.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "store/hook_records.h"
#include "store/locks.h"
#include "store/package.h"

#define LOG_MODULE "svn_repo"

namespace {

// The scripts.  Each names itself on its second line, the marker; a
// hook is ours only when it holds the whole text, byte for byte (of this
// version, or of an earlier one, which an edit that switches its preset
// on replaces).  svnserve runs hooks with an empty environment: only the
// shell's built-ins, and programs by their whole path.  No text of a
// request, nor of a log message, is ever part of a script.
struct HookFile {
  const char* file;
  std::string script;              // as this version writes it
  std::vector<std::string> older;  // as earlier versions wrote it
};

const char kMarker[] = "# svn.cgi preset: ";

const char kLogEditsBefore1[] =
    "#!/bin/sh\n"
    "# svn.cgi preset: log-edits 1\n"
    "# Written by the repository administration page, which knows it by this\n"
    "# text: changed by hand, it is left to the hand.  svnserve runs it before a\n"
    "# revision property changes, for a user who may write the repository,\n"
    "# with REPOS REV USER PROPNAME ACTION (USER is empty for anonymous users;\n"
    "# ACTION is A, M or D).  It lets an account set or change the log\n"
    "# message (svn:log), and nothing else.\n"
    "if [ -n \"$3\" ] && [ \"$4\" = \"svn:log\" ] && { [ \"$5\" = \"M\" ] || [ \"$5\" = \"A\" ]; }; then\n"
    "  exit 0\n"
    "fi\n"
    "echo \"Only the log message (svn:log) of a revision may be changed, by an account.\" >&2\n"
    "exit 1\n";

const char kLogEditsBefore[] =
    "#!/bin/sh\n"
    "# svn.cgi preset: log-edits 2\n"
    "# Written by the repository administration page, which knows it by this\n"
    "# text: changed by hand, it is left to the hand.  svnserve runs it before a\n"
    "# revision property changes, for a user who may write the repository,\n"
    "# with REPOS REV USER PROPNAME ACTION (USER is empty for anonymous users;\n"
    "# ACTION is A, M or D) and the new value on its standard input.  It lets\n"
    "# an account set or change the log message (svn:log) to one that is not\n"
    "# empty, and nothing else.\n"
    "if [ -z \"$3\" ] || [ \"$4\" != \"svn:log\" ] || { [ \"$5\" != \"M\" ] && [ \"$5\" != \"A\" ]; }; then\n"
    "  echo \"Only the log message (svn:log) of a revision may be changed, by an account.\" >&2\n"
    "  exit 1\n"
    "fi\n"
    "while IFS= read -r line || [ -n \"$line\" ]; do\n"
    "  case \"$line\" in *[![:space:]]*) exit 0 ;; esac\n"
    "done\n"
    "echo \"A log message may not be empty.\" >&2\n"
    "exit 1\n";

const char kReadOnly[] =
    "#!/bin/sh\n"
    "# svn.cgi preset: read-only 1\n"
    "# Written by the repository administration page, which knows it by this\n"
    "# text: changed by hand, it is left to the hand.  svnserve runs it before\n"
    "# every commit; it refuses them all.\n"
    "echo \"This repository is read-only.\" >&2\n"
    "exit 1\n";

// `text` as one word of the shell, taken as it is.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The post-revprop-change hook: a changed log message goes to svn-admin
// (this package's, as this user when svnserve runs as root), which leaves
// it for the audit log (see hook_records.h).
std::string LogEditsAfter() {
  const struct passwd* pw = getpwuid(geteuid());
  return "#!/bin/sh\n"
         "# svn.cgi preset: log-edits 2\n"
         "# Written by the repository administration page, which knows it by this\n"
         "# text: changed by hand, it is left to the hand.  svnserve runs it after a\n"
         "# revision property changed, with REPOS REV USER PROPNAME ACTION and the\n"
         "# old value on its standard input.  A log message changed goes to\n"
         "# svn-admin, which records the change for the repository's history.\n"
         "if [ \"$4\" = \"svn:log\" ]; then\n"
         "  exec " + Quoted(Package().adminProgram) + " --user " +
         Quoted(pw != nullptr ? pw->pw_name : std::to_string(geteuid())) +
         " log-edited -- \"$1\" \"$2\" \"$3\"\n"
         "fi\n"
         "exit 0\n";
}

// The hooks of preset p, the one that switches it first.
std::vector<HookFile> Files(SVNHookPreset p) {
  if (p == kLogEdits)
    return {{"pre-revprop-change", kLogEditsBefore, {kLogEditsBefore1}},
            {"post-revprop-change", LogEditsAfter(), {}}};
  return {{"start-commit", kReadOnly, {}}};
}

// What a hook file leaves to the hand, as a sentence.
std::string Custom(const HookFile& hook, const char* what) {
  return std::string("The ") + hook.file + " hook " + what + ": this page leaves it as it is.";
}

// The repository's hooks/ directory, opened without following a link;
// what it is when it cannot be used.
struct HooksDir {
  int fd = -1;
  bool missing = false;
  std::string reason;  // hooks/ is not ours to edit
  struct stat st;
  ~HooksDir() {
    if (fd >= 0) close(fd);
  }
};

void OpenHooks(const std::string& repoDir, HooksDir* dir) {
  const std::string path = repoDir + "/hooks";
  dir->fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir->fd >= 0 && fstat(dir->fd, &dir->st) == 0) return;
  struct stat st;
  if (dir->fd < 0 && errno == ENOENT) {
    dir->missing = true;
    dir->reason = "The repository has no hooks directory: its hooks are left to the hand.";
  } else if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    dir->reason = "The hooks directory is a link (perhaps to hooks several repositories share): "
                  "its hooks are left to the hand.";
  } else {
    dir->reason = "The hooks directory cannot be read as a directory: its hooks are left to the "
                  "hand.";
  }
  if (dir->fd >= 0) close(dir->fd);
  dir->fd = -1;
}

// What stands at a hook: nothing, ours (of this version or an earlier
// one), or something left to the hand.
struct FileState {
  SVNHookState::Kind kind = SVNHookState::kOff;
  bool current = false;  // ours, as this version writes it
  std::string reason;    // kCustom: why
};

// What stands at `name` in hooks/ (the hook's file, or a file moved aside
// from it); *seen is what lstat says of an existing one.
FileState Inspect(int dirFd, const HookFile& hook, const char* name, struct stat* seen) {
  FileState state;
  if (fstatat(dirFd, name, seen, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return state;
    state.kind = SVNHookState::kCustom;
    state.reason = Custom(hook, "cannot be looked at");
    return state;
  }
  state.kind = SVNHookState::kCustom;
  if (S_ISLNK(seen->st_mode)) {
    state.reason = Custom(hook, "is a link");
    return state;
  }
  if (!S_ISREG(seen->st_mode)) {
    state.reason = Custom(hook, S_ISDIR(seen->st_mode)    ? "is a directory"
                                : S_ISFIFO(seen->st_mode) ? "is a FIFO"
                                                          : "is not a regular file");
    return state;
  }
  size_t longest = hook.script.size();
  for (const std::string& text : hook.older) longest = std::max(longest, text.size());
  std::string text;
  int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_ino != seen->st_ino || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    state.reason = Custom(hook, "cannot be read");
    return state;
  }
  // Enough to tell ours, or a script that was ours.
  char buf[4096];
  for (ssize_t n; text.size() <= longest && (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  const bool ours = text == hook.script ||
                    std::find(hook.older.begin(), hook.older.end(), text) != hook.older.end();
  if (ours && (seen->st_mode & S_IXUSR) != 0) {
    state.kind = SVNHookState::kOn;
    state.current = text == hook.script;
    return state;
  }
  const std::string marker = std::string(kMarker);
  state.reason = Custom(hook, text.find("\n" + marker) != std::string::npos
                                  ? "was written by this page and changed by hand since"
                                  : "is a script made by hand");
  return state;
}

// What stands at each hook of preset p; the preset is on when its first
// hook is ours, custom when any is not ours (*custom: the first such).
std::vector<FileState> InspectPreset(const HooksDir& dir, const std::vector<HookFile>& files,
                                     SVNHookState* preset) {
  std::vector<FileState> states;
  *preset = SVNHookState();
  for (const HookFile& hook : files) {
    struct stat seen;
    states.push_back(Inspect(dir.fd, hook, hook.file, &seen));
    if (states.back().kind == SVNHookState::kCustom && preset->kind != SVNHookState::kCustom)
      *preset = {SVNHookState::kCustom, states.back().reason};
  }
  if (preset->kind != SVNHookState::kCustom && states[0].kind == SVNHookState::kOn)
    preset->kind = SVNHookState::kOn;
  return states;
}

// The names of our temporary files beside a hook: hook edits hold the
// directory's lock, so one found there is a leftover of a killed edit.
std::string NewName(const char* file) { return std::string(".") + file + ".svn-cgi-new"; }
std::string OldName(const char* file) { return std::string(".") + file + ".svn-cgi-old"; }

// Writes the hook's script where nothing stands.
SVNStatus Install(const HooksDir& dir, const HookFile& hook) {
  const char* file = hook.file;
  const std::string tmp = NewName(file);
  unlinkat(dir.fd, tmp.c_str(), 0);
  int fd = openat(dir.fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  struct stat st;
  // The group of hooks/, whose members (svnserve perhaps) run hooks.
  if (ok && fchown(fd, static_cast<uid_t>(-1), dir.st.st_gid) != 0)
    ok = fstat(fd, &st) == 0 && st.st_gid == dir.st.st_gid;
  ok = ok && write(fd, hook.script.data(), hook.script.size()) ==
                 static_cast<ssize_t>(hook.script.size()) &&
       fchmod(fd, 0700 | (dir.st.st_mode & 0050)) == 0 && fsync(fd) == 0;
  int err = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && renameat2(dir.fd, tmp.c_str(), dir.fd, file, RENAME_NOREPLACE) == 0)
    return SVNStatus();
  if (ok) err = errno;
  unlinkat(dir.fd, tmp.c_str(), 0);
  if (err == EEXIST)  // one came meanwhile: not ours
    return STATUS_ERROR(kHandmade, "Hook %s appeared meanwhile.", file)
        .Reason(Custom(hook, "was made meanwhile"));
  return STATUS_ERROR(kFailed, "Write hook %s failed: %s", file, strerror(err));
}

// Removes our script (of any version), which Inspect found at the hook:
// it is first moved aside and looked at again there, so that what may
// have taken its place meanwhile is put back, never removed.
SVNStatus Uninstall(const HooksDir& dir, const HookFile& hook) {
  const char* file = hook.file;
  const std::string aside = OldName(file);
  struct stat st;
  // A killed removal may have left ours there; anything else stays.
  if (fstatat(dir.fd, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      (Inspect(dir.fd, hook, aside.c_str(), &st).kind != SVNHookState::kOn ||
       unlinkat(dir.fd, aside.c_str(), 0) != 0))
    return STATUS_ERROR(kFailed, "%s is in the way of removing hook %s.", aside.c_str(), file);
  if (renameat2(dir.fd, file, dir.fd, aside.c_str(), RENAME_NOREPLACE) != 0)
    return STATUS_ERROR(kFailed, "Move hook %s aside failed: %s", file, strerror(errno));
  if (Inspect(dir.fd, hook, aside.c_str(), &st).kind == SVNHookState::kOn) {
    if (unlinkat(dir.fd, aside.c_str(), 0) == 0) return SVNStatus();
    return STATUS_ERROR(kFailed, "Remove hook %s failed: %s", file, strerror(errno));
  }
  SVNStatus status = STATUS_ERROR(kHandmade, "Hook %s changed meanwhile.", file)
                         .Reason(Custom(hook, "was changed meanwhile"));
  if (renameat2(dir.fd, aside.c_str(), dir.fd, file, RENAME_NOREPLACE) != 0)
    STATUS_WITH(status, "Put back hook %s failed (it is %s): %s", file, aside.c_str(),
                strerror(errno));
  return status;
}

// One step of an edit: a hook's script written (or, undone, removed), or
// ours removed (or, undone, written as this version writes it).
struct Step {
  HookFile hook;
  bool install;
};

// The steps that make the hooks of a preset wanted `on` as asked, from
// their `states`: a script of an earlier version is replaced.
void StepsOf(const std::vector<HookFile>& files, const std::vector<FileState>& states, bool on,
             std::vector<Step>* steps) {
  for (size_t i = 0; i < files.size(); ++i) {
    const bool ours = states[i].kind == SVNHookState::kOn;
    if (ours && (!on || !states[i].current)) steps->push_back({files[i], false});
    if (on && (!ours || !states[i].current)) steps->push_back({files[i], true});
  }
}

}  // namespace

const char* const kHookPresetKeys[kHookPresetCount] = {"log_edits", "read_only"};

void ReadHooks(const std::string& repoDir, SVNHookState states[kHookPresetCount]) {
  HooksDir dir;
  OpenHooks(repoDir, &dir);
  for (int i = 0; i < kHookPresetCount; ++i) {
    if (dir.fd >= 0) {
      InspectPreset(dir, Files(static_cast<SVNHookPreset>(i)), &states[i]);
    } else {
      states[i] = SVNHookState();
      if (!dir.missing) states[i] = {SVNHookState::kCustom, dir.reason};
    }
  }
}

SVNStatus SetHooks(const std::string& repoDir,
                   const std::optional<bool> wanted[kHookPresetCount]) {
  // Two requests that switch presets of one repository at once take turns
  // (a few seconds at most: kBusy after that), under a lock only the
  // service user can take (see locks.h).
  SVNLocks locks;
  SVNStatus taken = locks.take({repoDir + "/hooks"});
  if (!taken.ok()) return taken;
  HooksDir dir;
  OpenHooks(repoDir, &dir);
  // Checked, all of them, before the first change.
  std::vector<Step> steps;
  for (int i = 0; i < kHookPresetCount; ++i) {
    if (!wanted[i]) continue;
    if (dir.fd < 0 && (*wanted[i] || !dir.missing))
      return STATUS_ERROR(kHandmade, "Hooks of %s: %s", repoDir.c_str(), dir.reason.c_str())
          .Reason(dir.reason);
    if (dir.fd < 0) continue;
    const std::vector<HookFile> files = Files(static_cast<SVNHookPreset>(i));
    SVNHookState preset;
    const std::vector<FileState> states = InspectPreset(dir, files, &preset);
    if (preset.kind == SVNHookState::kCustom)
      return STATUS_ERROR(kHandmade, "A hook of %s is not ours.", repoDir.c_str())
          .Reason(preset.reason);
    StepsOf(files, states, *wanted[i], &steps);
  }
  // The records the log-edits hooks leave need somewhere to go.
  if (wanted[kLogEdits].value_or(false) && !steps.empty()) STATUS_TRY(MakeHookRecordsDir());
  for (size_t i = 0; i < steps.size(); ++i) {
    SVNStatus status = steps[i].install ? Install(dir, steps[i].hook) : Uninstall(dir, steps[i].hook);
    if (status.ok()) continue;
    for (size_t j = i; j-- > 0;) {
      SVNStatus back = steps[j].install ? Uninstall(dir, steps[j].hook) : Install(dir, steps[j].hook);
      if (!back.ok()) back.Log();
    }
    return status;
  }
  if (!steps.empty() && fsync(dir.fd) != 0)
    LOG_LINE("Sync %s/hooks failed: %s", repoDir.c_str(), strerror(errno));
  return SVNStatus();
}

std::vector<std::string> HandMadeHooks(const std::string& repoDir) {
  std::vector<std::string> names;
  HooksDir dir;
  OpenHooks(repoDir, &dir);
  if (dir.fd < 0) return names;
  SVNHookState states[kHookPresetCount];
  ReadHooks(repoDir, states);
  const int fd = dup(dir.fd);
  DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
  if (d == nullptr) return names;
  while (struct dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n == "." || n == ".." || (n.size() > 5 && n.compare(n.size() - 5, 5, ".tmpl") == 0))
      continue;
    bool ours = false;
    for (int p = 0; p < kHookPresetCount; ++p)
      for (const HookFile& f : Files(static_cast<SVNHookPreset>(p)))
        ours = ours || (n == f.file && states[p].kind == SVNHookState::kOn);
    if (!ours) names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}
