// setup_files.h: the files a repository's settings use (its settings file,
// password-db, authz-db, groups-db, hooks-env), which a backup carries so
// that the repository works again once restored, and which a restore puts
// back: where the original still exists (a restore in place of a backup of
// ours), the settings stay as they were; otherwise the restored repository
// gets private copies in its own conf/, and never writes a file another
// repository shares.
//
// A backup that is not ours (an upload, a file given on the command line)
// is hostile: its settings may name no file outside the repository's
// conf/ (its own copies are made there), nor a hooks' environment, which
// decides what hooks run; and everything is checked as svnserve reads it.
#ifndef SVN_ADMIN_SETUP_FILES_H_
#define SVN_ADMIN_SETUP_FILES_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "nlibc.h"
#include "store/name.h"
#include "store/repo.h"
#include "store/status.h"
#include "ui/admin/backup_file.h"

// A file the settings use, and its text.
struct SVNSetupText {
  SVNSetupFile file;
  std::string text;
};

// The files the settings of `repo` (opened with its settings) use that a
// copy of its directory would not hold whole: those elsewhere, and those
// reached through a link (*setup, each named setup/N).  With `conf`, also
// the settings file and those of the files that lie in its conf/ (a dump
// carries them as conf/NAME), the settings file first.  Fails, saying
// why, when a file the settings use cannot be read: a backup without it
// could never be restored.
SVNStatus CollectSetup(const SVNRepo& repo, std::vector<SVNSetupText>* setup,
                       std::vector<std::pair<std::string, std::string>>* conf);

// How a repository is restored.
struct SVNRestoreOptions {
  bool trusted = false;  // a backup of the backup directory, not an upload
  bool replace = false;  // in place of the existing repository of its name
  bool newUuid = false;  // with a UUID of its own
  bool test = false;     // into the working directory only, checked, then removed
};

// Puts the files the manifest `m` says the settings used back for the
// repository restored at `dir`, which is to be `name` under the root:
// `texts` are the setup/N entries.  *created gets a line for each private
// copy made ("conf/passwd, a copy of /srv/svn/passwd").  Links the copy
// held are made again where their targets exist, for a trusted backup.
SVNStatus PutSetup(const SVNManifest& m, const std::map<std::string, std::string>& texts,
                   const SVNName& name, const std::string& dir, const SVNRestoreOptions& o,
                   std::vector<std::string>* created);

// Renames, in the rules file of `repo` (a repository being restored in
// the working directory, as `to`) when it is its own, the sections that
// name the repository `from` it was backed up as (see
// RenameRulesSections).
SVNStatus RenameOwnRules(const SVNRepo& repo, const std::string& from, const SVNName& to);

// A backup that is not ours names files only in its conf/ (but those it
// carries copies of, `setup`), and sets no hooks' environment (it decides
// what every hook runs): checked on its settings `settings`.
SVNStatus OwnFilesOnly(PNLIBCONF settings, const std::vector<SVNSetupFile>& setup);

// Checks the restored repository at `dir` (to be `name`) as svnserve and
// this program read it: settings, accounts and rules svnserve accepts; for
// a backup that is not ours, accounts this program would make, no file
// named outside its conf/, no hooks' environment, and no cache servers in
// db/fsfs.conf.
SVNStatus CheckRestored(const SVNName& name, const std::string& dir, bool trusted);

#endif  // SVN_ADMIN_SETUP_FILES_H_
