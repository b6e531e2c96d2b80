// hook_records.h: what hooks of ours leave for the audit log.
//
// svnserve runs hooks as its own user: the service user, or a user in the
// service user's group.  The audit log stays private to the service user
// (see audit_log.h), so a hook never writes to it: it leaves a record,
// one file, in the drop directory (the package's hook-records/, or
// repo/..hook-records where the package directory is not the service
// user's to write).  The service user owns it, and its group may only add
// files there (mode 3730: the sticky and set-group bits, no reading, no
// listing): what one hook left, another cannot read, change or remove.
// The programs move the records into the audit log, under its lock,
// before they append to it or read it.  Everything found there is taken
// as hostile: only a plain small file of one link holding a JSON object
// is read, and every file is removed once taken or refused.
#ifndef SVN_STORE_HOOK_RECORDS_H_
#define SVN_STORE_HOOK_RECORDS_H_

#include <json/value.h>

#include <functional>
#include <string>

#include "store/status.h"

// The largest record file read.
constexpr size_t kHookRecordMax = 1024 * 1024;

// Makes the drop directory when it is missing (as the service user: before
// a hook of ours that writes there is installed), and gives it its mode.
SVNStatus MakeHookRecordsDir();

// Leaves `record` (an object) in the drop directory as a new file, whole
// or not at all (a temporary file, synced, renamed), readable by the
// service user's group (the writer may be another member of it).  Refused
// when the directory is missing, a link, or not the service user's (the
// owner of the package's state directory) or others may write it.
SVNStatus WriteHookRecord(const Json::Value& record);

// Calls `take` with each record of the drop directory, the oldest first,
// with its id (its file's name); removes the file once `take` returns
// true, and at once a file that is no record (logged).  At most `most`
// records a call.  Without a drop directory there are none.
void TakeHookRecords(size_t most,
                     const std::function<bool(const std::string& id, const Json::Value& record)>& take);

#endif  // SVN_STORE_HOOK_RECORDS_H_
