// actions.h: the actions of svn.cgi, one free function each, and the one
// table that names them (actions.cpp) with what each does.
//
// How to add an action:
//  1. Write `SVNReply FooAction(SVNRequest& req)` in the file of its
//     kind in ui/cgi/ (a new file is added to ui/cgi/CMakeLists.txt). It
//     reads its parameters with req.In, checks all of them before it
//     changes anything (name: FindRepo or OpenExisting; accounts:
//     ParseAccounts), notes what it changes in req.changes(), and returns
//     one reply (see request.h).
//  2. Declare it below.
//  3. Add it to kActions in actions.cpp, with its flags.
//  4. Test it through the built program (tests/ui/), and give the page
//     its words (ui/web/, history.js for an action that changes state).
#ifndef SVN_UI_CGI_ACTIONS_H_
#define SVN_UI_CGI_ACTIONS_H_

#include <string>

#include "ui/cgi/request.h"

// What an action is, besides its function.
enum SVNActionFlags {
  // It changes state: only POST serves it, and each of its requests
  // leaves one audit record, a refused one too.
  kChangesState = 1 << 0,
  // It takes a file part "upload" (see upload.h), of any size.
  kTakesUpload = 1 << 1,
  // Its success is answered as a bare JSON body, not in the success
  // envelope ("text/html; charset=UTF-8", as the page has always read it).
  kBareBody = 1 << 2,
  // It starts a job (see jobs.h): its success answers {"job": ID}, and its
  // audit record names the job.
  kRunsJob = 1 << 3,
  // It leaves an audit record though it changes nothing (a download of
  // what holds every password); GET serves it.
  kRecorded = 1 << 4,
};

struct SVNAction {
  const char* name;  // the "action" parameter
  SVNReply (*run)(SVNRequest& req);
  unsigned flags;
};

// The action "action" names, or null.
const SVNAction* FindAction(const std::string& name);

// Repositories (repo_actions.cpp).
SVNReply ListAction(SVNRequest& req);        // load, enum, find
SVNReply ShowAction(SVNRequest& req);        // show
SVNReply ShowAccountsAction(SVNRequest& req);  // acc_show
SVNReply AddAction(SVNRequest& req);         // add
SVNReply EditAction(SVNRequest& req);        // edit
SVNReply RemoveAction(SVNRequest& req);      // remove
// Access rules (rules_actions.cpp).
SVNReply RulesShowAction(SVNRequest& req);   // rules_show
SVNReply RulesEditAction(SVNRequest& req);   // rules_edit
// Renaming (rename_action.cpp) and hook presets (hooks_actions.cpp).
SVNReply RenameAction(SVNRequest& req);      // rename
SVNReply HooksShowAction(SVNRequest& req);   // hooks_show
SVNReply HooksEditAction(SVNRequest& req);   // hooks_edit
// The audit log (audit_actions.cpp).
SVNReply AuditAction(SVNRequest& req);       // audit
// Backups and jobs (backup_actions.cpp).
SVNReply BackupAction(SVNRequest& req);        // backup
SVNReply BackupsAction(SVNRequest& req);       // backups
SVNReply BackupGetAction(SVNRequest& req);     // backup_get
SVNReply BackupRemoveAction(SVNRequest& req);  // backup_remove
SVNReply RestoreAction(SVNRequest& req);       // restore
SVNReply VerifyAction(SVNRequest& req);        // verify
SVNReply JobsAction(SVNRequest& req);          // jobs
SVNReply JobCancelAction(SVNRequest& req);     // job_cancel
// Daily care: history, locks, transactions, disk use, maintenance
// (care_actions.cpp).
SVNReply LogAction(SVNRequest& req);           // log
SVNReply LocksAction(SVNRequest& req);         // locks
SVNReply LockRemoveAction(SVNRequest& req);    // lock_remove
SVNReply TxnsAction(SVNRequest& req);          // txns
SVNReply TxnRemoveAction(SVNRequest& req);     // txn_remove
SVNReply UsageAction(SVNRequest& req);         // usage
SVNReply PackAction(SVNRequest& req);          // pack
SVNReply UpgradeAction(SVNRequest& req);       // upgrade
// Backup schedules and how the repositories stand (schedule_actions.cpp).
SVNReply ScheduleShowAction(SVNRequest& req);  // schedule_show
SVNReply ScheduleEditAction(SVNRequest& req);  // schedule_edit
SVNReply BackupAlertsAction(SVNRequest& req);  // backup_alerts
// What "show" tells of the backups of the repository `name` (its UUID
// `uuid`: see StandingJson).
Json::Value BackupStanding(const std::string& name, const std::string& uuid);

#endif  // SVN_UI_CGI_ACTIONS_H_
