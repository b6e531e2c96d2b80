// handler.h: the request handler of svn.cgi.  One process answers one
// request of the Subversion administration page: it authenticates the
// caller, dispatches on the "action" parameter and answers with exactly
// one JSON response.
//
// Every action checks all of its input before it changes anything and
// returns one reply; Process logs the reply's failure once and writes the
// response once.  The response carries the generic error or an error key
// the page acts on ("exist", "nonexist", ...); the cause goes to the
// system log.  Actions that change state are served only by POST, and
// each of their requests leaves one record in the audit log (audit.h),
// written by answer once the outcome is known: the action only fills in
// what it changed (changes_).
#ifndef SVN_UI_CGI_HANDLER_H_
#define SVN_UI_CGI_HANDLER_H_

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "store/repo.h"
#include "store/status.h"
#include "ui/cgi/changes.h"
#include "webform.h"

// What an action answers.
struct SVNReply {
  bool success = true;
  bool bare = false;  // a bare JSON body (the listing, the account view)
  Json::Value data;   // the data of a success, the body of a bare reply
  SVNStatus status;   // a failure, logged once; its key (if any) is sent
  int line = 0;       // where the action decided, sent with the key

  // A success carrying `data`.
  static SVNReply Data(Json::Value data);
  // A bare body, "text/html; charset=UTF-8" as the page has always read it.
  static SVNReply Bare(Json::Value body);
  // A failure: `status`'s key, or the generic error.
  static SVNReply Fail(SVNStatus status, int line);
};

class SVNHandler : public ServerFormHandler {
 public:
  SVNHandler() : ServerFormHandler(false, nullptr) {}
  ~SVNHandler() override {}

  // Authenticates the caller, runs the action "action" names and writes
  // its reply.
  void Process() override;
  void HandleLoadAction() override {}
  void HandleApplyAction() override {}

  // "add": creates a repository from "name", "realm", "anon", "accounts"
  // and "layout" ("standard": /trunk, /branches, /tags in revision 1).
  virtual SVNReply HandleAddAction();
  // "remove": deletes the repository "name".
  virtual SVNReply HandleRemoveAction();
  // "edit": replaces the realm, access level and accounts of "name".
  virtual SVNReply HandleEditAction();
  // "show": the name, realm and access level of "name", and the facts of
  // its history and size.
  virtual SVNReply HandleShowAction();

  // "acc_show": the accounts of "name", as a bare body.
  SVNReply HandleShowAccountAction();
  // "rules_show": the groups, access rules and what each account may do
  // where, of "name".
  SVNReply HandleRulesShowAction();
  // "rules_edit": replaces the groups and rules of "name" by "groups" and
  // "rules" (JSON texts).
  SVNReply HandleRulesEditAction();
  // "load", "enum", "find": a page of the repositories whose names hold
  // "query", as a bare body.
  SVNReply HandleFindAction();
  // "audit": a page of the audit log, newest first, of the records whose
  // repository is "name" and administrator "user" (empty: any), from
  // "start", at most "limit".
  SVNReply HandleAuditAction();
  // "rename": renames the repository "name" to "to", its rules and the
  // settings that name it along.
  SVNReply HandleRenameAction();
  // "hooks_show": which hook presets of "name" are on, off, or hooks made
  // by hand.
  SVNReply HandleHooksShowAction();
  // "hooks_edit": switches the presets "log_edits" and "read_only" of
  // "name" ("yes" or "no"; absent: as they are).
  SVNReply HandleHooksEditAction();

  // Backups, restores and verifies run as jobs (see jobs.h): the actions
  // that start one answer {"job": ID} at once.
  // "backup": backs up "name", keeping its newest "keep" backups if given.
  SVNReply HandleBackupAction();
  // "backups": the backups of "name" (of every repository without),
  // newest first.
  SVNReply HandleBackupsAction();
  // "backup_get": the backup "file" of "name", as a download.
  SVNReply HandleBackupGetAction();
  // "backup_remove": removes the backup "file" of "name".
  SVNReply HandleBackupRemoveAction();
  // "restore": makes the new repository "name" from the backup "file" or
  // the upload "upload" (with "realm", "anon", "accounts" for a plain
  // dump).
  SVNReply HandleRestoreAction();
  // "verify": verifies "name".
  SVNReply HandleVerifyAction();
  // "jobs": the jobs (of "name", or the one "id"), newest first.
  SVNReply HandleJobsAction();
  // "job_cancel": stops the job "id".
  SVNReply HandleJobCancelAction();

 private:
  // Opens the repository "name" names, which must exist: kNotFound when it
  // does not (or not any more), a failure when it cannot be opened.
  SVNStatus openExisting(const std::string& name, SVNRepo::Scope scope,
                         std::unique_ptr<SVNRepo>* repo);
  // Parses and decodes the "accounts" text.
  SVNStatus parseAccounts(const std::string& text, SVNAccountList* accounts);
  // A change that reaches the repositories `others` too, besides `name`:
  // refused (kShared, naming them) unless the request's "shared" says
  // "yes", or lists them all (a JSON list of names).
  SVNStatus consent(const std::string& name, const std::vector<std::string>& others);
  // Writes `reply` as the response, after the audit record of an action
  // that changes state.
  void answer(SVNReply reply);
  // Writes the audit record of this request to audited_, with `outcome`
  // ("done", an error key, "failed" or "refused"); a record that cannot be
  // written is logged, and the answer stands.
  void record(const char* outcome);

  const char* audited_ = nullptr;  // the action, when it changes state
  SVNChanges changes_;             // what it changed, for its record
};

// Takes the upload of a "restore" as it arrives (see WebMan::StreamUploads).
UploadSink* RestoreUploads();

// A name as it may stand in a log line: control characters, which the
// request may hold, become '?'.
std::string Printable(std::string name);

#endif  // SVN_UI_CGI_HANDLER_H_
