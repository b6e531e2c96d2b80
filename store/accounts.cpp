// accounts.cpp: the checks of an account list.

#include "store/accounts.h"

#include <set>

#include "nlibc.h"
#include "store/conf_file.h"

#define LOG_MODULE "svn_repo"

namespace {

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }

// A name as svnserve compares account names: A-Z folded to a-z.
std::string Fold(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

}  // namespace

SVNStatus CheckAccounts(const SVNAccountList& list, SVNAccounts* accounts,
                        const SVNAccounts& standing) {
  SVNAccounts checked;
  std::map<std::string, unsigned> position;  // of the element that wins
  for (size_t i = 0; i < list.size(); ++i) {
    checked[list[i].first] = list[i].second;
    position[list[i].first] = static_cast<unsigned>(i + 1);
  }
  auto stands = [&standing](const std::pair<const std::string, std::string>& account) {
    auto it = standing.find(account.first);
    return it != standing.end() && it->second == account.second;
  };
  SVNStringHash hash(NLIBCSzHashAlloc(512));
  if (hash.p == nullptr) return STATUS_ERROR(kFailed, "Hash Alloc failed.[0x%04X]", NLIBCErrGet());
  for (const auto& account : checked) {
    const unsigned at = position[account.first];
    if (stands(account)) continue;
    // Access rules name the anonymous and the logged-in user so: an
    // account of that name could never be given rules of its own.
    if (account.first == "$anonymous" || account.first == "$authenticated")
      return STATUS_ERROR(kFailed, "Account %u has a reserved name.", at);
    if (account.second.empty()) return STATUS_ERROR(kFailed, "Account %u has no password.", at);
    // What is read back must be what was written: the reader refuses
    // account files that are not UTF-8.
    if (HasNul(account.first) || HasNul(account.second) ||
        !NLIBCStrValidUtf8(account.first.data(), account.first.size()) ||
        !NLIBCStrValidUtf8(account.second.data(), account.second.size()))
      return STATUS_ERROR(kFailed, "Account %u cannot be stored.[0x%04X]", at, NLIBC_E_BADCHAR);
    if (NLIBCSzHashSetValue(&hash.p, account.first.c_str(), account.second.c_str()) < 0)
      return STATUS_ERROR(kFailed, "Set Hash key failed.[0x%04X]", NLIBCErrGet());
  }
  if (NLIBCConfCheckSection(hash.p) < 0) {
    int code = NLIBCErrGet();
    // Name the account that cannot be stored on its own, if one is.
    for (const auto& account : checked) {
      SVNStringHash one(NLIBCSzHashAlloc(1));
      if (!stands(account) && one.p != nullptr &&
          NLIBCSzHashSetValue(&one.p, account.first.c_str(), account.second.c_str()) == 0 &&
          NLIBCConfCheckSection(one.p) < 0)
        return STATUS_ERROR(kFailed, "Account %u cannot be stored.[0x%04X]",
                            position[account.first], NLIBCErrGet());
    }
    return STATUS_ERROR(kFailed, "Accounts cannot be stored.[0x%04X]", code);
  }
  // svnserve takes names that differ only in case for one.
  std::set<std::string> folded;
  for (const auto& account : checked)
    if (!folded.insert(Fold(account.first)).second)
      return STATUS_ERROR(kFailed, "Accounts cannot be stored.[0x%04X]", NLIBC_E_DUPKEY);
  accounts->swap(checked);
  return SVNStatus();
}
