// package.h: where the package keeps its repositories, its locks, its
// tool and its state: every fixed path of the programs derives from the
// package directory here and nowhere else.
//
// The package directory is a setting of each program's build, not of the
// store: every program links one definition of kBuildSettings
// (package_dir.cpp, compiled with the program's SVN_PACKAGE_DIR: the
// appliance's, or a test's sandbox), and the store, built once, serves
// the directory of whichever program it is linked into.
#ifndef SVN_STORE_PACKAGE_H_
#define SVN_STORE_PACKAGE_H_

#include <string>

// What a program's build decides.
struct SVNBuildSettings {
  const char* packageDir;  // the package directory, absolute
  long auditRotateBytes;   // the size past which the audit log is rotated
  int auditKeep;           // how many rotated audit files are kept
  const char* sendmail;    // the mail program svn-admin hands its mails to
};

// Defined once per program (store/package_dir.cpp).
extern const SVNBuildSettings kBuildSettings;

struct SVNPackage {
  std::string dir;  // the package directory
  // The directory holding one directory per repository, served by
  // svnserve.
  std::string repoRoot;
  // Where a new repository is made before it appears under the root, and
  // where a removed one is deleted after it left the root: beside the
  // root, out of svnserve's sight, when the package directory allows one
  // there on the root's file system (workDir), and otherwise under the
  // root, where no repository name can reach (names never hold "..") and
  // the listing never shows (hiddenWorkDir).
  std::string workDir, hiddenWorkDir;
  // Where the locks of updates are kept (see locks.h): a directory only
  // the service user can open, in the package directory (lockDir), or,
  // where none can be made there, under the root (hiddenLockDir).
  std::string lockDir, hiddenLockDir;
  // The package's repository tool, run as "svnadmin create PATH".
  std::string adminTool;
  // The package's own state, outside the served root and private to the
  // service user (0700): the audit log (see audit_log.h).
  std::string stateDir;
  // Where hooks of ours leave records for the audit log (see
  // hook_records.h): in the package directory, or, where none can be made
  // there, under the root.
  std::string hookRecordsDir, hiddenHookRecordsDir;
  // Backups go to backupDir, or to the directory whose absolute path is
  // the first line of backupSetting (see backups.h); a job's record lives
  // in jobsDir; svn-admin is installed beside the program (adminProgram).
  std::string backupDir, backupSetting, jobsDir, adminProgram;
  // In the package's state: the backup schedules (see schedule.h) and
  // where each repository stands with its backups (see backup_state.h).
  std::string scheduleFile, backupStateFile;
  // The mail program (sendmail's interface: "-t -i", the mail on its
  // input) that svn-admin tells of failed scheduled jobs through; a
  // setting of the build, never of a request.
  std::string sendmail;
};

// The paths of this program's package directory.
const SVNPackage& Package();

#endif  // SVN_STORE_PACKAGE_H_
