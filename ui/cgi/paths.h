// paths.h: where the package keeps its repositories, its locks, its tool
// and its state.
//
// The build defines SVN_PACKAGE_DIR (the appliance's package directory, or
// a sandbox for tests); every fixed path of the program derives from it
// here and nowhere else.
#ifndef SVN_CGI_PATHS_H_
#define SVN_CGI_PATHS_H_

#ifndef SVN_PACKAGE_DIR
#error "SVN_PACKAGE_DIR must be defined by the build"
#endif

// The directory holding one directory per repository, served by svnserve.
#define SVN_REPO_ROOT SVN_PACKAGE_DIR "/repo"

// Where a new repository is made before it appears under the root, and
// where a removed one is deleted after it left the root: beside the root,
// out of svnserve's sight, when the package directory allows one there
// on the root's file system...
#define SVN_WORK_DIR SVN_PACKAGE_DIR "/repo-work"
// ...and otherwise this directory under the root, which no repository
// name can reach (names never hold "..") and the listing never shows.
#define SVN_HIDDEN_WORK_DIR SVN_REPO_ROOT "/..work"

// Where the locks of updates are kept (see locks.h): a directory that only
// the service user can open, in the package directory...
#define SVN_LOCK_DIR SVN_PACKAGE_DIR "/locks"
// ...or, where none can be made there, this one under the root, which no
// repository name can reach and the listing never shows.
#define SVN_HIDDEN_LOCK_DIR SVN_REPO_ROOT "/..locks"

// The package's repository tool, run as "svnadmin create PATH".
#define SVN_ADMIN_TOOL SVN_PACKAGE_DIR "/bin/svnadmin"

// The package's own state, outside the served root and private to the
// service user (0700): the audit log, SVN_AUDIT_LOG_NAME, and its rotated
// files beside it (see audit.h).
#define SVN_STATE_DIR SVN_PACKAGE_DIR "/var"
#define SVN_AUDIT_LOG_NAME "audit.log"

// Backups, jobs and the command that runs them (see backups.h, jobs.h):
// backups go to this directory, or to the one whose absolute path is the
// first line of SVN_BACKUP_SETTING; a job's record lives in SVN_JOBS_DIR;
// svn-admin is installed beside the program.
#define SVN_BACKUP_DIR SVN_PACKAGE_DIR "/backup"
#define SVN_BACKUP_SETTING SVN_PACKAGE_DIR "/etc/backup-dir"
#define SVN_JOBS_DIR SVN_PACKAGE_DIR "/jobs"
#define SVN_ADMIN_PROGRAM SVN_PACKAGE_DIR "/ui/svn-admin"

#endif  // SVN_CGI_PATHS_H_
