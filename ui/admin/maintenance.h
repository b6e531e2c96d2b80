// maintenance.h: what svn-admin does to keep a repository in shape: pack
// it ("svnadmin pack": each complete shard of revisions made one file,
// read faster and far fewer files) and upgrade it ("svnadmin upgrade": to
// the newest format the installed Subversion writes, which older versions
// cannot read).  Neither starts while a commit may be in progress (see
// txns.h); both may be stopped at any moment and run again (Subversion
// makes each step whole before it records it).
#ifndef SVN_ADMIN_MAINTENANCE_H_
#define SVN_ADMIN_MAINTENANCE_H_

#include <string>

#include "store/name.h"
#include "store/status.h"
#include "ui/admin/tasks.h"

// Whether `command` is one of these: "pack", "upgrade".
bool IsMaintenance(const std::string& command);

// Runs `command` on `name`, its progress in revisions (those in the
// shards to pack; 0 of 1, then 1 of 1 for an upgrade); *line says what it
// did.  Failures carry a sentence for people.
SVNStatus RunMaintenance(const std::string& command, const SVNName& name,
                         const SVNProgress& progress, std::string* line);

#endif  // SVN_ADMIN_MAINTENANCE_H_
