// conf_file.cpp: saving several configuration files as one change.

#include "store/conf_file.h"

#define LOG_MODULE "svn_repo"

SVNStatus SaveAll(const std::vector<SVNSaveStep>& steps) {
  for (size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].conf == nullptr || NLIBCConfSave(steps[i].conf, steps[i].flags) == 0) continue;
    SVNStatus status =
        STATUS_ERROR(kFailed, "Write %s file failed.[0x%04X]", steps[i].what, NLIBCErrGet());
    for (size_t j = 0; j <= i; ++j)
      if (steps[j].conf != nullptr && NLIBCConfRestore(steps[j].conf) < 0)
        STATUS_WITH(status, "Put back %s file failed.[0x%04X]", steps[j].what, NLIBCErrGet());
    return status;
  }
  return SVNStatus();
}
