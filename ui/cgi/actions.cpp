// actions.cpp: the table of svn.cgi's actions.

#include "ui/cgi/actions.h"

namespace {

const SVNAction kActions[] = {
    {"load", ListAction, kBareBody},
    {"enum", ListAction, kBareBody},
    {"find", ListAction, kBareBody},
    {"show", ShowAction, 0},
    {"add", AddAction, kChangesState},
    {"remove", RemoveAction, kChangesState},
    {"edit", EditAction, kChangesState},
    {"acc_show", ShowAccountsAction, kBareBody},
    {"rules_show", RulesShowAction, 0},
    {"rules_edit", RulesEditAction, kChangesState},
    {"audit", AuditAction, 0},
    {"rename", RenameAction, kChangesState},
    {"hooks_show", HooksShowAction, 0},
    {"hooks_edit", HooksEditAction, kChangesState},
    {"backup", BackupAction, kChangesState | kRunsJob},
    {"backups", BackupsAction, 0},
    {"backup_get", BackupGetAction, kRecorded},
    {"backup_remove", BackupRemoveAction, kChangesState},
    {"restore", RestoreAction, kChangesState | kTakesUpload | kRunsJob},
    {"verify", VerifyAction, kChangesState | kRunsJob},
    {"jobs", JobsAction, 0},
    {"job_cancel", JobCancelAction, kChangesState},
    {"log", LogAction, 0},
    {"locks", LocksAction, 0},
    {"lock_remove", LockRemoveAction, kChangesState},
    {"txns", TxnsAction, 0},
    {"txn_remove", TxnRemoveAction, kChangesState},
    {"usage", UsageAction, 0},
    {"pack", PackAction, kChangesState | kRunsJob},
    {"upgrade", UpgradeAction, kChangesState | kRunsJob},
    {"schedule_show", ScheduleShowAction, 0},
    {"schedule_edit", ScheduleEditAction, kChangesState},
    {"backup_alerts", BackupAlertsAction, 0},
};

}  // namespace

const SVNAction* FindAction(const std::string& name) {
  for (const SVNAction& a : kActions)
    if (name == a.name) return &a;
  return nullptr;
}
