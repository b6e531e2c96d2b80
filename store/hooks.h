// hooks.h: hook presets: fixed scripts this program puts in a
// repository's hooks/ directory to switch a behaviour of svnserve on, and
// knows again by their text (a marker line names each).  No text of a
// request goes into a script.
//
// A hook this program did not write (another script, one of ours changed
// since, a link, a directory, a FIFO: anything but a regular file holding
// our text, executable) is the administrator's: it is reported with a
// reason, never replaced or removed, never followed or opened blocking.
// A hooks directory that is a link (perhaps shared by repositories) is
// left to the hand as a whole.
#ifndef SVN_STORE_HOOKS_H_
#define SVN_STORE_HOOKS_H_

#include <optional>
#include <string>
#include <vector>

#include "store/status.h"

enum SVNHookPreset {
  // pre-revprop-change: an account (not an anonymous user) that may write
  // the repository may set or change a revision's log message (svn:log)
  // to one that is not empty (not only blanks), and no other revision
  // property.  Without the hook svnserve changes none.  With it,
  // post-revprop-change: each change (the revision, who, the old message
  // and the new one) goes to svn-admin ("log-edited"), which leaves it for
  // the audit log (see hook_records.h).
  kLogEdits,
  // start-commit: every commit is refused with "This repository is
  // read-only." (on the hook's stderr, which the client shows).
  kReadOnly,
  kHookPresetCount
};

// What stands where a preset's hook goes.
struct SVNHookState {
  enum Kind { kOff, kOn, kCustom } kind = kOff;
  std::string reason;  // kCustom: why this page leaves it alone, one sentence
};

// Each preset's key, as requests and backups name it ("log_edits",
// "read_only").
extern const char* const kHookPresetKeys[kHookPresetCount];

// What stands at each preset's hooks of the repository whose directory is
// `repoDir`: a preset is on when its first hook is ours (of this version
// or an earlier one), custom when any of its hooks is not ours.
void ReadHooks(const std::string& repoDir, SVNHookState states[kHookPresetCount]);

// Switches each preset `wanted` holds on or off (one it does not hold
// stays as it is; one switched on is brought to this version's scripts):
// our script is written where nothing stands (a
// temporary file in hooks/, synced, renamed into place without replacing
// anything, mode 0750 with the group's bits only as far as hooks/ grants
// them, the group of hooks/), or ours is removed.  All or nothing:
// kHandmade, with the hook's reason, when a preset asked for stands on a
// hook this program did not write (or hooks/ is missing or a link), before
// anything changes; a change that fails puts back those made before it.
// Hook edits of one repository wait for each other.
SVNStatus SetHooks(const std::string& repoDir,
                   const std::optional<bool> wanted[kHookPresetCount]);

// The hooks of the repository whose directory is `repoDir` that this
// program did not write: every entry of hooks/ but svnadmin's templates
// ("*.tmpl") and our presets, in byte order.
std::vector<std::string> HandMadeHooks(const std::string& repoDir);

#endif  // SVN_STORE_HOOKS_H_
