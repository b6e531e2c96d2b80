// log_edit.h: "svn-admin log-edited REPOS REV USER", which the
// post-revprop-change hook of the log-edits preset runs (see hooks.h)
// after USER changed the log message of revision REV of the repository at
// REPOS, with the old message on its standard input.  It runs as
// svnserve's user (the service user, or a user in its group): it reads the
// new message, and leaves the change (the repository, the revision, who,
// the old message and the new one) for the audit log (see
// hook_records.h), which it cannot write itself.
#ifndef SVN_UI_ADMIN_LOG_EDIT_H_
#define SVN_UI_ADMIN_LOG_EDIT_H_

#include <string>

// Records the change; false (said on standard error) when it cannot.
bool RecordLogEdit(const std::string& repos, const std::string& rev, const std::string& user);

#endif  // SVN_UI_ADMIN_LOG_EDIT_H_
