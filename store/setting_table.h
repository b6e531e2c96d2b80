// setting_table.h: the settings of svnserve.conf this program reads or writes,
// in one table: where each stands, what svnserve takes when the file has
// none, and the words the program writes.
#ifndef SVN_STORE_SETTING_TABLE_H_
#define SVN_STORE_SETTING_TABLE_H_

#include <optional>
#include <string>

#include "nlibc.h"

enum SVNSettingId {
  kRealm,              // the realm logins are asked for; absent: the UUID
  kAnonAccess,         // what anonymous users may do
  kAuthAccess,         // what accounts that log in may do
  kPasswordDb,         // the account file, relative to conf/
  kAuthzDb,            // the access rules file, relative to conf/
  kGroupsDb,           // a separate groups file for the rules
  kForceUsernameCase,  // how logins are folded before the rules see them
  kUseSasl,            // whether SASL, not password-db, decides logins
  kHooksEnv,           // the file of the hooks' environment, relative to conf/
  kSettingCount
};

struct SVNSetting {
  const char* section;
  const char* name;
  const char* fallback;  // what svnserve takes when the file has none; null: nothing
  const char* words;     // the values the program takes, '|'-separated; null: any text
};

// The table, by id.
const SVNSetting& Setting(SVNSettingId id);

// Whether the program takes `value` for `id` (one of its words, if it has
// any).
bool SettingTakes(SVNSettingId id, const std::string& value);

// The value svnserve gets for `id` from `conf`; none when the file has
// none.
std::optional<std::string> SettingIn(PNLIBCONF conf, SVNSettingId id);

// The value svnserve uses: the file's, or the fallback ("" for none).
std::string SettingUsed(PNLIBCONF conf, SVNSettingId id);

// svnserve's access level of an access word: only exactly "write" (2)
// and "read" (1) grant anything.
int AccessLevel(const std::string& word);

// svnserve's reading of a yes/no setting ("true", "yes", "on", "1",
// ignoring case).
bool SettingOn(const std::string& value);

// Whether svnserve takes `value` as a yes/no setting at all (SettingOn's
// words, or "false", "no", "off", "0"): over another it refuses every
// connection.
bool SettingIsYesNo(const std::string& value);

// A path as Subversion takes a path setting (svn_dirent_internal_style):
// empty and "." segments dropped, ".." kept.  A URL ("file://...") is
// left as it is.
std::string CanonicalPath(const std::string& path);

// Whether `value`, as written, names a location in a repository as
// svnserve reads authz-db and groups-db: a URL ("scheme://...", as
// Subversion tells one, before any canonicalization) or "^/...".
// password-db never does: svnserve joins it to conf/ whatever it holds.
bool RepositoryLocation(const std::string& value);

// Where the value of a path setting (password-db, authz-db, groups-db)
// leads, as svnserve takes it: for authz-db and groups-db a location in a
// repository as it stands ("^/..." canonical); otherwise the file,
// relative to `confDir` or absolute (an empty value: `confDir` itself).
std::string SettingLocation(SVNSettingId id, const std::string& value,
                            const std::string& confDir);

// The file a path setting of `conf` names, as svnserve finds it (see
// SettingLocation); when the file has none, confDir/`fallback` (null:
// none).  Empty when it names a location in a repository.
std::string SettingFile(PNLIBCONF conf, SVNSettingId id, const std::string& confDir,
                        const char* fallback);

// `path` (absolute) with "." and ".." worked out, without looking at the
// disk.
std::string LexicalPath(const std::string& path);

// The real location of `file` (links resolved), which may not exist yet;
// "" when its directory cannot be resolved.
std::string RealLocation(const std::string& file);

// `name` as svnserve folds a login for force-username-case `how`
// ("lower" or "upper"; anything else leaves it as it is): ASCII letters
// only, whatever the locale.  Every fold of a login goes through here.
std::string FoldLogin(std::string name, const std::string& how);

#endif  // SVN_STORE_SETTING_TABLE_H_
