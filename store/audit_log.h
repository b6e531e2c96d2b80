// audit_log.h: the audit log: one record per request that changes, or
// tries to change, something (who asked, from where, when, what for, and
// what it changed), kept in the package's state directory for the
// administrators.
//
// The log is JSON lines, one record a line, in audit.log of the package's
// state directory (see package.h); the directory is private to the service
// user (0700), the files too (0600), and a link, a FIFO or a file of
// another owner planted there is refused, never followed.  Each record is
// numbered ("seq": 1, 2, ...) and appended with one write() on an O_APPEND
// descriptor, synced, under an exclusive lock of the directory (readers
// hold it shared while they open the files): records never interleave, a
// record that could not be written whole is taken back, and the numbers
// run on without a gap.  Past the build's auditRotateBytes the writer
// whose record crossed it renames audit.log to audit.log.1 (and .1 to .2,
// ..., the oldest beyond auditKeep dropped) under the same lock: two
// writers never both rotate.
//
// Records are read newest first, from the end of audit.log and on through
// the rotated files: a page near the newest costs the same however long
// the log.  Without a filter the number of records kept is known from the
// numbers of the first and last record of each file.
#ifndef SVN_STORE_AUDIT_LOG_H_
#define SVN_STORE_AUDIT_LOG_H_

#include <json/value.h>

#include <string>
#include <vector>

#include "store/status.h"

// The longest line written: a record longer than this (a request listing
// thousands of accounts) is abridged: every text cut to 256 bytes and
// every list to 20 entries, and "abridged": true added; if it is still too
// long, its changes are left out.
constexpr size_t kAuditMaxRecord = 64 * 1024;

// Appends `record` (an object; its "seq" is set here) to the log.  Fails
// (nothing written, or what was written taken back) when the directory or
// the file is not the service user's own, a link or not a regular file,
// the lock cannot be had within 10 seconds, the disk is full, or the
// record cannot be synced.
SVNStatus AuditAppend(Json::Value record);

// What to read: the records whose "name" and "user" are these (empty: any),
// skipping the newest `start` of them, at most `limit`.
struct SVNAuditQuery {
  std::string name, user;
  size_t start = 0, limit = 50;
};

struct SVNAuditPage {
  std::vector<Json::Value> records;  // newest first
  // How many records match.  Exact when `exact`; otherwise the search
  // stopped at the first match past the page (there are at least `total`).
  long long total = 0;
  bool exact = true;
};

// Reads a page of the log, newest first, through the rotated files.  A
// missing log has no records.  Lines that are not records (damaged by
// hand) are passed over.
SVNStatus AuditRead(const SVNAuditQuery& query, SVNAuditPage* page);

// The one-line JSON text the log holds for `value` (ASCII: other
// characters as \u escapes; no line break).
std::string AuditText(const Json::Value& value);

#endif  // SVN_STORE_AUDIT_LOG_H_
