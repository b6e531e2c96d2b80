// package_dir.cpp: the build settings of one program: compiled into each
// program with its own SVN_PACKAGE_DIR (and, for tests of the audit log,
// small rotation settings), while the store is built once.

#include "store/package.h"

#ifndef SVN_PACKAGE_DIR
#error "SVN_PACKAGE_DIR must be defined by the build"
#endif
// The audit log is rotated past 32 MiB, keeping 5 rotated files; test
// builds make both small.
#ifndef SVN_AUDIT_ROTATE_BYTES
#define SVN_AUDIT_ROTATE_BYTES (32L * 1024 * 1024)
#endif
#ifndef SVN_AUDIT_KEEP
#define SVN_AUDIT_KEEP 5
#endif

// Mails go to the system's sendmail; a test build gives a stand-in.
#ifndef SVN_SENDMAIL
#define SVN_SENDMAIL "/usr/sbin/sendmail"
#endif

const SVNBuildSettings kBuildSettings = {SVN_PACKAGE_DIR, SVN_AUDIT_ROTATE_BYTES, SVN_AUDIT_KEEP,
                                         SVN_SENDMAIL};
