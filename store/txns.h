// txns.h: a repository's uncommitted transactions: the commits under way,
// and what interrupted ones left behind.
//
// A commit builds a transaction in the repository (FSFS keeps it in
// db/transactions/ID.txn, FSX in db/txns/ID.txn, the new contents of both
// in db/txn-protorevs/ID.rev) and writes to it as the client sends; the
// transaction goes when the commit ends, and stays when the server's
// process that ran it was killed.  A transaction written to within
// kLiveSeconds may be a commit in progress ("live"): what moves or
// rewrites the repository (a rename, a removal, a pack, an upgrade) waits
// until there is none, as a commit whose repository moves from under it
// fails half-way (svnserve finds the repository by its path, file by
// file) and leaves its transaction behind.  An older one is taken for one
// an interrupted commit left, so a commit whose client or hook pauses
// longer is taken for one too.  A Berkeley DB repository keeps its
// transactions inside its database: no commit is seen there.
#ifndef SVN_STORE_TXNS_H_
#define SVN_STORE_TXNS_H_

#include <json/value.h>

#include <string>
#include <vector>

#include "store/name.h"
#include "store/status.h"

constexpr long kLiveSeconds = 600;

// New commits of a repository held back: while it is held, a commit that
// starts waits (for Subversion's own lock of new transactions,
// db/txn-current-lock), and then, should the repository have moved in the
// meantime, fails before it makes a transaction: none is left behind.
class SVNCommitHold {
 public:
  SVNCommitHold() = default;
  ~SVNCommitHold() { release(); }
  SVNCommitHold(const SVNCommitHold&) = delete;
  SVNCommitHold& operator=(const SVNCommitHold&) = delete;
  void release();

 private:
  friend SVNStatus CheckNoLiveCommit(const SVNName& name, SVNCommitHold* hold);
  int fd_ = -1;
};

// Checks that no commit may be in progress in the repository `name`:
// kBusy, with a reason that says a commit may be in progress, while it
// has a live transaction.  With `hold`, new commits are held back from
// before the check (kBusy when they cannot be within a few seconds) until
// `hold` is released or goes: what the caller does meanwhile (moving the
// repository) meets no commit.  A repository without that lock (older
// formats, Berkeley DB) is checked without holding anything.
SVNStatus CheckNoLiveCommit(const SVNName& name, SVNCommitHold* hold = nullptr);

// How long ago the transaction `id` of the repository at `repo` was last
// written to, in seconds (0 for a time ahead of the clock); -1 when its
// files are not found.
long long TxnAge(const std::string& repo, const std::string& id);

struct SVNTxn {
  std::string id;
  long long base = -1;    // the revision it was begun from; -1 when unknown
  Json::Value author;     // svn:author, null when it has none
  Json::Value created;    // svn:date, "2026-01-02T03:04:05Z", null when unknown
  long long age = -1;     // see TxnAge
};

// The transactions of the repository at `repo`, read through Subversion's
// library (see fs_reader.h), in the order of their ids.
SVNStatus ListTxns(const std::string& repo, std::vector<SVNTxn>* txns);

// Removes the transactions `ids` of the repository at `repo` (as
// "svnadmin rmtxns": aborted, or purged when that fails).  *removed are
// those that went (read again when the work stopped half-way).
SVNStatus RemoveTxns(const std::string& repo, const std::vector<std::string>& ids,
                     std::vector<std::string>* removed);

#endif  // SVN_STORE_TXNS_H_
