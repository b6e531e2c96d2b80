// sharing.h: which files of a repository other repositories under the
// root use as well.
//
// Running svnserve for many repositories, administrators often give them
// one account file (password-db = ../../passwd), one rules file, or one
// settings file through a link.  A change to such a file reaches every
// repository that uses it: the program says so before it makes one.  Files
// are told apart by where their names lead (links followed; a file that
// does not exist yet by its real location).
#ifndef SVN_STORE_SHARING_H_
#define SVN_STORE_SHARING_H_

#include <string>
#include <vector>

class SVNRepo;

// The other repositories that use each file of one repository, each list
// in byte order of the names.
struct SVNSharing {
  std::vector<std::string> settings;  // its settings file
  std::vector<std::string> accounts;  // the account file its edits write
  std::vector<std::string> rules;     // the rules file its rules edits write
  std::vector<std::string> groupsDb;  // of those, which use it as groups-db
  std::vector<std::string> inside;    // a file in its directory (not through a link)
};

// Finds, by reading every other repository's settings (no process, no
// library), who uses `repo`'s files: as settings, account, rules or groups
// file; with `inside`, also who uses a file in its directory.  A
// repository whose settings cannot be read is passed over.
SVNSharing FindSharing(const SVNRepo& repo, bool inside = false);

// The same for the repository `name`, whose account and rules files are
// those given ("": none known).
SVNSharing FindSharing(const std::string& name, const std::string& accountFile,
                       const std::string& rulesFile, bool inside);

// The names in both lists, once each, in byte order.
std::vector<std::string> Union(const std::vector<std::string>& a,
                               const std::vector<std::string>& b);

#endif  // SVN_STORE_SHARING_H_
