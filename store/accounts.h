// accounts.h: accounts as they cross into the store: a list of (name,
// password) pairs, checked before anything is written.
#ifndef SVN_STORE_ACCOUNTS_H_
#define SVN_STORE_ACCOUNTS_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/status.h"

// Accounts as a request gives them: (name, password), in the request's
// order; of two equal names the later wins.
using SVNAccountList = std::vector<std::pair<std::string, std::string>>;

// Accounts as the account file holds them: name to password, ordered by
// name byte by byte.
using SVNAccounts = std::map<std::string, std::string>;

// Checks `list` and sets *accounts to what it holds: refused unless every
// name and non-empty password is UTF-8 that the account file can hold, no
// name is one access rules reserve ("$anonymous", "$authenticated") and no
// two names differ only in case (svnserve takes them for one).  Refusals
// name an account by its position in the list: names and passwords stay
// out of the log.
SVNStatus CheckAccounts(const SVNAccountList& list, SVNAccounts* accounts);

#endif  // SVN_STORE_ACCOUNTS_H_
