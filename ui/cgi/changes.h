// changes.h: what one request changed, as its audit record says it (see
// audit.h).  An action fills it in as it learns it; SVNHandler writes the
// record once the outcome is known.  It holds names, settings, paths and
// access words: never a password, nor anything made from one (its hash, its
// length): of an account whose password changed, only the name.
//
// The JSON form, each member present only when something changed:
//   "realm", "anon-access", "auth-access", ... (every setting of
//     settings.h): {"old": TEXT or null, "new": TEXT or null} (null: not set)
//   "accounts": {"added": [NAME...], "removed": [...], "password": [...]}
//   "groups": {"added": [{"group": G, "members": [...]}], "removed": [...]}
//     (a group whose members changed is removed and added)
//   "rules": {"added": [{"path": P, "who": W, "access": A}], "removed": [...]}
//     (a rule whose access changed is removed and added)
//   "layout": "standard"
// and whatever other actions set (set()).
#ifndef SVN_UI_CGI_CHANGES_H_
#define SVN_UI_CGI_CHANGES_H_

#include <json/value.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/accounts.h"
#include "store/repo.h"
#include "store/rules.h"

class SVNRepo;


class SVNChanges {
 private:
  struct State {
    std::vector<std::optional<std::string>> settings;  // by SVNSettingId
    SVNAccounts accounts;
    bool rules = false;  // whether the rules below were looked at
    SVNRules::Groups groups;
    std::vector<SVNRules::Rule> rulesInForce;
  };

 public:
  // Watches one repository (and its rules, when given) while an action
  // changes it: what they hold when the watch is made is the old state,
  // what they hold when it goes (the setters applied, whether or not
  // saving then succeeds) is the new one.  Made after `repo` and `rules`,
  // so that it goes before them.
  class Watch {
   public:
    Watch(SVNChanges* changes, const SVNRepo& repo, const SVNRules* rules = nullptr);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

   private:
    SVNChanges* changes_;
    const SVNRepo& repo_;
    const SVNRules* rules_;
    State before_;
  };

  // A new repository: its realm (none when empty), access levels,
  // accounts (names only) and layout.
  void created(const SVNNewRepo::Form& what);

  // Sets the member `key` (for what other actions change: a file, a new
  // name, ...).
  void set(const std::string& key, Json::Value value);

  // The repository the record names, when it is not the request's "name"
  // (an action that finds it from a job or a backup).
  void setRepository(std::string name) { repository_ = std::move(name); }
  const std::optional<std::string>& repository() const { return repository_; }

  // The "changes" of the record: an object, empty when nothing is known to
  // have changed.
  const Json::Value& json() const { return json_; }

 private:
  static State Take(const SVNRepo& repo, const SVNRules* rules);
  void compare(const State& old, const State& now);

  Json::Value json_ = Json::Value(Json::objectValue);
  std::optional<std::string> repository_;
};

#endif  // SVN_UI_CGI_CHANGES_H_
