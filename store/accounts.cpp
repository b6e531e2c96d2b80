// accounts.cpp: the checks of an account list.

#include "store/accounts.h"

#include "nlibc.h"
#include "store/conf_file.h"

#define LOG_MODULE "svn_repo"

namespace {

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

}  // namespace

SVNStatus CheckAccounts(const SVNAccountList& list, SVNAccounts* accounts) {
  SVNAccounts checked;
  std::map<std::string, unsigned> position;  // of the element that wins
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& name = list[i].first;
    // Access rules name the anonymous and the logged-in user so: an
    // account of that name could never be given rules of its own.
    if (name == "$anonymous" || name == "$authenticated")
      return STATUS_ERROR(kFailed, "Account %zu has a reserved name.", i + 1);
    checked[name] = list[i].second;
    position[name] = static_cast<unsigned>(i + 1);
  }
  SVNStringHash hash(NLIBCSzHashAlloc(512));
  if (hash.p == nullptr) return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  for (const auto& account : checked) {
    if (account.second.empty())
      return STATUS_ERROR(kFailed, "Account %u has no password.", position[account.first]);
    // What is read back must be what was written: the reader refuses
    // account files that are not UTF-8.
    if (HasNul(account.first) || HasNul(account.second) ||
        !NLIBCStrValidUtf8(account.first.data(), account.first.size()) ||
        !NLIBCStrValidUtf8(account.second.data(), account.second.size()))
      return STATUS_ERROR(kFailed, "Account %u cannot be stored.[0x%04X]", position[account.first],
                          NLIBC_E_BADCHAR);
    if (NLIBCSzHashSetValue(&hash.p, account.first.c_str(), account.second.c_str()) < 0)
      return STATUS_ERROR(kFailed, "Set Hash key failed.[0x%04X]", NLIBCErrGet());
  }
  if (NLIBCConfCheckSection(hash.p) < 0) {
    int code = NLIBCErrGet();
    // Name the account that cannot be stored on its own, if one is.
    for (const auto& account : checked) {
      SVNStringHash one(NLIBCSzHashAlloc(1));
      if (one.p != nullptr &&
          NLIBCSzHashSetValue(&one.p, account.first.c_str(), account.second.c_str()) == 0 &&
          NLIBCConfCheckSection(one.p) < 0)
        return STATUS_ERROR(kFailed, "Account %u cannot be stored.[0x%04X]",
                            position[account.first], NLIBCErrGet());
    }
    return STATUS_ERROR(kFailed, "Accounts cannot be stored.[0x%04X]", code);
  }
  accounts->swap(checked);
  return SVNStatus();
}
