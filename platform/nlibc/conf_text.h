// conf_text.h: the parser and editor core of nlibc's configuration calls.
//
// Works on a file's whole text held in a string, so that every rule can be
// tested without files; nlibc.cpp wraps each call with reading, locking and
// the atomic write.  Internal to nlibc: programs include nlibc.h.
//
// Every function returns 0 or one of the NLIBC_E_* codes of nlibc.h.  The
// editing functions leave the new text in *out only on success, and succeed
// only when the new text parses and holds exactly the old keys and values
// but for the one being written.
#ifndef NLIBC_CONF_TEXT_H_
#define NLIBC_CONF_TEXT_H_

#include <string>
#include <utility>
#include <vector>

namespace nlibc {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Checks that `text` parses the way Subversion parses it.
int ConfCheck(const std::string& text);

// The value of `key` in the first section, as Subversion would use it.
// *found is false when no active line holds it.
int ConfGetKeyValue(const std::string& text, const std::string& key,
                    std::string* value, bool* found);

// Sets `key` to `value` in the first section (see NLIBCFileSetKeyValue).
int ConfSetKeyValue(const std::string& text, const std::string& key,
                    const std::string& value, std::string* out);

// Activates the first commented-out line of the token's key, or comments
// out every active one (see NLIBCFileLineComment).  When there is nothing
// to comment out, *out is the unchanged text.
int ConfLineComment(const std::string& text, const std::string& token,
                    bool active, std::string* out);

// The active line of the token's key that Subversion would use.
int ConfGetLine(const std::string& text, const std::string& token,
                std::string* line);

// Replaces the line ConfGetLine finds by `line`.
int ConfSetLine(const std::string& text, const std::string& token,
                const std::string& line, std::string* out);

// The options of `section`, merged as Subversion merges them; empty when
// the section is absent.
int ConfGetSection(const std::string& text, const std::string& section,
                   Pairs* pairs);

// Makes the options of `section` exactly `pairs`, in their order.
int ConfSetSection(const std::string& text, const std::string& section,
                   const Pairs& pairs, std::string* out);

}  // namespace nlibc

#endif  // NLIBC_CONF_TEXT_H_
