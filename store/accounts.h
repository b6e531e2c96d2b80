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
//
// An entry that is one of `standing` (name and password as the account
// file holds them) stands as it is: it was read, so it can be written, and
// a list read can be sent back unchanged whatever a hand put in the file
// (an empty password, a reserved name).  A new entry of that kind is
// refused all the same, and so is one differing from a standing one only
// in case.
SVNStatus CheckAccounts(const SVNAccountList& list, SVNAccounts* accounts,
                        const SVNAccounts& standing = SVNAccounts());

#endif  // SVN_STORE_ACCOUNTS_H_
