// package.cpp: the package's paths, from the program's package directory.

#include "store/package.h"

const SVNPackage& Package() {
  static const SVNPackage package = [] {
    SVNPackage p;
    p.dir = kBuildSettings.packageDir;
    p.repoRoot = p.dir + "/repo";
    p.workDir = p.dir + "/repo-work";
    p.hiddenWorkDir = p.repoRoot + "/..work";
    p.lockDir = p.dir + "/locks";
    p.hiddenLockDir = p.repoRoot + "/..locks";
    p.adminTool = p.dir + "/bin/svnadmin";
    p.stateDir = p.dir + "/var";
    p.hookRecordsDir = p.dir + "/hook-records";
    p.hiddenHookRecordsDir = p.repoRoot + "/..hook-records";
    p.backupDir = p.dir + "/backup";
    p.backupSetting = p.dir + "/etc/backup-dir";
    p.jobsDir = p.dir + "/jobs";
    p.adminProgram = p.dir + "/ui/svn-admin";
    p.scheduleFile = p.stateDir + "/schedule.json";
    p.backupStateFile = p.stateDir + "/backup-state";
    p.sendmail = kBuildSettings.sendmail;
    return p;
  }();
  return package;
}
