// conf_text.h: the parser and editor core of nlibc's configuration calls.
//
// Works on a file's whole text held in memory, so that every rule can be
// tested without files; nlibc.cpp wraps it with reading, locking and the
// atomic write.  Internal to nlibc: programs include nlibc.h.
//
// A ConfDoc is parsed once.  Queries read that parse; each edit builds the
// new text from it, parses the new text once, and keeps it only when
// Subversion would read it exactly as before but for what is being
// written: every value of every section, as svnserve looks it up ([DEFAULT]
// fallback and %(name)s expansion included), stays the same, so do the
// options each section holds (as Subversion enumerates them), and the
// value written reads back as written.  A refused edit changes nothing.
//
// Values are expanded as svnserve expands them: its configuration cache
// expands every option once, before use, and each section that falls back
// on [DEFAULT] gets [DEFAULT]'s option as expanded there, in [DEFAULT]'s
// own terms; a section's own options expand with its own options first,
// then [DEFAULT]'s.  Expansion takes no recursion and costs at most the
// size of what it produces.  Load refuses (NLIBC_E_READ) a text whose
// expansion passes our bounds (a value longer than NLIBC_CONF_MAX_SIZE,
// or expanded values adding up to more), or whose values would depend on
// the order svnserve happens to expand sections in: a section whose
// placeholders reach [DEFAULT] while it holds an option that a
// placeholder of [DEFAULT] names expands that option of [DEFAULT] in its
// own terms when svnserve happens to come to it first.
//
// The faithfulness check compares each section's own options,
// [DEFAULT]'s, and which sections fall back on [DEFAULT]: it costs what
// the two texts hold, not sections times [DEFAULT]'s options.
//
// Every function returns 0 or one of the NLIBC_E_* codes of nlibc.h.
// Sections and keys are found as Subversion finds them (ignoring ASCII
// case), wherever in the text they stand.
#ifndef NLIBC_CONF_TEXT_H_
#define NLIBC_CONF_TEXT_H_

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nlibc {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct Parsed;

class ConfDoc {
 public:
  ConfDoc();
  ~ConfDoc();
  ConfDoc(const ConfDoc&) = delete;
  ConfDoc& operator=(const ConfDoc&) = delete;

  // How names and values are read.
  enum Syntax {
    kSvnserve,  // svnserve.conf and passwd: names ignore ASCII case,
                // [DEFAULT] stands in, %(name)s expands
    kExact,     // authz files: names compare exactly, values stand as
                // written
  };

  // Parses `text`: NLIBC_E_SYNTAX when Subversion would refuse it,
  // NLIBC_E_READ when its expansion is refused (see above); the document
  // is then empty.
  int Load(const std::string& text, Syntax syntax = kSvnserve);
  const std::string& Text() const { return text_; }

  // The name of the first section header, empty when there is none.
  std::string FirstSection() const;

  // The names of the sections, each once (its first spelling), in the
  // order they first appear.
  void Sections(std::vector<std::string>* names) const;

  // Every option line of `section` (all its blocks), in order, as written:
  // repeated names are not merged.
  void Entries(const std::string& section, Pairs* pairs) const;

  // The value svnserve gets for `key` of `section`: the section's own
  // value, or [DEFAULT]'s when the section holds other options; %(name)s
  // expanded.  *found is false when there is none.
  void Get(const std::string& section, const std::string& key,
           std::string* value, bool* found) const;

  // The options of `section` as Subversion enumerates them: names in their
  // first spelling, in the order they first appear, with the last value,
  // expanded.  Empty when the section holds none.
  void GetSection(const std::string& section, Pairs* pairs) const;

  // What svnserve finds looking up keys in `section`: its own options (as
  // GetSection), then, when it holds any, the options of [DEFAULT] it does
  // not hold, with the values it gets.
  void Lookups(const std::string& section, Pairs* pairs) const;

  // The active line `key` of `section` takes its value from (the last).
  int GetLine(const std::string& section, const std::string& key,
              std::string* line) const;

  // Sets `key` of `section` to `value`: rewrites the line that wins;
  // without one, activates the section's first commented-out line of the
  // key ("# key = old"); without that, adds "key = value" at the end of
  // the section's first block, or a new section at the end of the text.
  // A section that takes the key from [DEFAULT] would have such a line
  // filed under [DEFAULT] when it follows the section's other options
  // (see nlibc.h): then "key = value" goes in a block of the section at
  // the top of the text, before [DEFAULT] holds anything (made there if
  // need be; later keys of this kind join it), or else as the first option
  // line of the section's first block; Subversion files either under the
  // section (the commented-out line stays a comment).  NLIBC_E_UNFAITHFUL
  // when that too would change another lookup.
  int Set(const std::string& section, const std::string& key,
          const std::string& value);

  // Makes the first commented-out line of `key` in `section` active,
  // starting in column 0, with the value it holds.  Succeeds unchanged
  // when the section has an active line of the key already;
  // NLIBC_E_NOTFOUND when it has neither (a value the section takes from
  // [DEFAULT] is no line of its own).  NLIBC_E_UNFAITHFUL when the line,
  // active where it stands, would be filed under [DEFAULT] or change
  // another lookup (Set gives the section a value of its own).
  int Activate(const std::string& section, const std::string& key);

  // Comments out every active line of `key` in `section` (and the
  // continuation lines of its value); the key must then be absent:
  // NLIBC_E_UNFAITHFUL when [DEFAULT] would still give it (with or
  // without a line of the section's own) or another lookup would change.
  // Succeeds unchanged when the section has no line of the key and
  // svnserve finds no value for it.
  int Comment(const std::string& section, const std::string& key);

  // Replaces the line GetLine finds by `line`, which may change only that
  // key of that section.
  int SetLine(const std::string& section, const std::string& key,
              const std::string& line);

  // Makes the options of `section` exactly `pairs`, editing its lines in
  // place.  Keys compare as the syntax compares them.  A key of the pairs
  // that the section holds keeps its line: byte for byte when the line
  // spells the key as the pair does and holds its value, else rewritten
  // on that line with the pair's spelling and value (the separator and
  // the blanks around it kept, the old value's continuation lines
  // removed).  A key written more than once keeps the
  // line that wins, the last; the earlier ones are removed.  A key the
  // pairs lack loses its lines, continuation lines included.  Keys the
  // section does not hold follow, in the pairs' order, right after its
  // last option line kept (in the last block holding one, before any
  // comment or blank line that follows it); without one, where its first
  // removed line stood; without that, at the end of its first block,
  // after its comments; a missing section is appended.  Comments, blank
  // lines and the lines Subversion files under [DEFAULT] stay as they
  // are.  Kept only when what Lookups then finds is exactly the pairs (so
  // "%(" may stand in a value only where it reads back as it stands, and
  // [DEFAULT] may add nothing).
  int SetSection(const std::string& section, const Pairs& pairs);

  // Removes `section`: its headers and option lines (comments stay).
  // Succeeds unchanged when there is none.
  int RemoveSection(const std::string& section);

  // Sets each section to its pairs (as SetSection), or removes it for
  // null pairs (as RemoveSection), in one edit checked once.
  int SetSections(const std::vector<std::pair<std::string, const Pairs*>>& sections);

  // Renames `section` to `to` where it stands: the name in each of its
  // header lines is replaced and every other byte kept (the rest of those
  // lines, its options and comments, the order of the text).
  // NLIBC_E_NOTFOUND without such a section, NLIBC_E_DUPKEY when the text
  // holds a section named `to` already; kept only when `to` then reads as
  // `section` did and every other lookup stays.
  int RenameSection(const std::string& section, const std::string& to);

 private:
  // Edited (section, key) pairs: an empty key stands for all the section.
  using Edited = std::vector<std::pair<std::string, std::string>>;
  int Commit(const std::string& text, const Edited& edited,
             const std::function<bool(const Parsed&)>& holds);
  // Keeps `text` when it parses, changes no lookup but those of
  // (section, key), or of all `section` when `key` is empty, and `holds`
  // for its parse (the written value reads back).
  int Commit(const std::string& text, const std::string& section,
             const std::string& key,
             const std::function<bool(const Parsed&)>& holds);

  static void Lookups(const Parsed& p, const std::string& section,
                      Pairs* pairs);

  bool exact_ = false;
  std::string text_;
  std::unique_ptr<Parsed> parsed_;
};

// Whether `key` = `value` could be written as an option (Set), and `pairs`
// as a section's options on their own (SetSection): 0, or the code the
// edit would refuse them with.
int CheckOption(const std::string& key, const std::string& value);
int CheckPairs(const Pairs& pairs);

// The key of a line token ("realm =" -> "realm"); NLIBC_E_ARG for none.
int TokenKey(const std::string& token, std::string* key);

}  // namespace nlibc

#endif  // NLIBC_CONF_TEXT_H_
