// conf_file.h: configuration files of the utility library, owned, and
// written together.
#ifndef SVN_STORE_CONF_FILE_H_
#define SVN_STORE_CONF_FILE_H_

#include <string>
#include <vector>

#include "nlibc.h"
#include "store/status.h"

// Owns one handle of the utility library, freed on every path.
template <typename Handle, void (*Free)(Handle)>
struct SVNOwned {
  Handle p = nullptr;
  SVNOwned() = default;
  explicit SVNOwned(Handle handle) : p(handle) {}
  SVNOwned(const SVNOwned&) = delete;
  SVNOwned& operator=(const SVNOwned&) = delete;
  ~SVNOwned() { Free(p); }
  void reset(Handle handle = nullptr) {
    Free(p);
    p = handle;
  }
};

// A configuration file (see NLIBCConfOpen), a string hash, a string list.
using SVNConfFile = SVNOwned<PNLIBCONF, NLIBCConfFree>;
using SVNStringHash = SVNOwned<PNLIBSZHASH, NLIBCSzHashFree>;
using SVNStringList = SVNOwned<PNLIBSZLIST, NLIBCSzListFree>;

// One file of a save: its handle (null: nothing to write), the flags of
// NLIBCConfSave and what it holds, for the log.
struct SVNSaveStep {
  PNLIBCONF conf;
  int flags;
  const char* what;
};

// Writes the files in order, each once, atomically.  If one cannot be
// written, those written before it are put back.
SVNStatus SaveAll(const std::vector<SVNSaveStep>& steps);

#endif  // SVN_STORE_CONF_FILE_H_
