// json_text.h: the JSON texts of request parameters ("accounts", "groups",
// "rules"), decoded once per request into the plain values the store
// takes.  Nothing of a text, which may hold passwords, reaches the log:
// faults are named by their place (line and column, or position in a
// list).
#ifndef SVN_STORE_JSON_TEXT_H_
#define SVN_STORE_JSON_TEXT_H_

#include <json/value.h>

#include <string>

#include "store/accounts.h"
#include "store/rules.h"
#include "store/status.h"

// Parses `text` as exactly one JSON value (comments allowed, nothing after
// it, no member twice, nesting at most 64 deep).  False when it does not
// parse; *line and *column (1-based; 0 when the parser cannot say) then
// give the place of the fault.
bool ParseJson(const std::string& text, Json::Value* value, unsigned* line, unsigned* column);

// An account list: an array of objects whose "account" and "password"
// members, when present, are strings (absent ones read as empty; other
// members are ignored).
SVNStatus DecodeAccounts(const Json::Value& json, SVNAccountList* accounts);

// The groups of a "groups" parameter: an object whose members are arrays
// of strings.
bool DecodeGroups(const Json::Value& json, SVNRules::Groups* groups);

// The rules of a "rules" parameter: an array of objects whose "path",
// "who" and "access" are strings, and "scope", when present, too.
bool DecodeRules(const Json::Value& json, std::vector<SVNRules::Rule>* rules);

#endif  // SVN_STORE_JSON_TEXT_H_
