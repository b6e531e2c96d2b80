// conf_text.cpp: Subversion's config syntax, read and edited in place.
//
// The parser follows Subversion's own (libsvn_subr/config_file.c and
// config.c) rule for rule, because svnserve reads what we write: a file it
// would refuse is refused here, values are looked up and expanded as it
// looks them up, and an edit is kept only when the edited text, parsed
// again, gives every lookup the old answer but the one being written.

#include "conf_text.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "nlibc.h"

namespace nlibc {
namespace {

enum class Kind { kBlank, kComment, kSection, kOption, kContinuation };

struct Line {
  size_t begin;  // first byte
  size_t end;    // one past the last byte, before "\r\n" or "\n"
  size_t next;   // first byte of the following line
  Kind kind;
  int section;   // index into Parsed::sections; -1 before the first header
  size_t sep;    // option lines: offset of the ':' or '=' ending the key
  bool toDefault;  // option lines: filed under [DEFAULT], see Parse
};

// Where an option stands in Subversion's expansion (make_string_from_option).
enum class State { kNeeds, kExpanding, kDone, kCyclic };

struct Option {
  std::string name;   // first spelling
  std::string value;  // last value, unexpanded
  // The value svnserve gets: value itself until an expansion replaced
  // something, then expanded (empty for a value caught in a cycle).
  std::string expanded;
  bool replaced = false;
  State state = State::kNeeds;
};

const std::string& Final(const Option& o) { return o.replaced ? o.expanded : o.value; }

// One section's own options, keyed by lower-case name.
struct Section {
  std::vector<std::string> order;  // keys in order of first appearance
  std::map<std::string, Option> options;
};

}  // namespace

struct Parsed {
  bool exact = false;  // names compare exactly; no [DEFAULT], no expansion
  std::vector<Line> lines;
  std::vector<std::string> sections;     // name of each header, in file order
  std::map<std::string, Section> model;  // lower-case name -> own options
  // Folded section name -> the lines of all its blocks, header included.
  std::map<std::string, std::vector<size_t>> blocks;
};

namespace {

// Subversion's svn_ctype_isspace.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Subversion hands values to C code: a NUL byte ends them.
std::string CutAtNul(const std::string& s) { return s.substr(0, s.find('\0')); }

std::string Strip(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool SameName(const std::string& a, const std::string& b) {
  return Lower(a) == Lower(b);
}

// A name as the text's syntax compares it.
std::string Fold(const Parsed& p, const std::string& name) {
  return p.exact ? name : Lower(name);
}

bool Same(const Parsed& p, const std::string& a, const std::string& b) {
  return p.exact ? a == b : SameName(a, b);
}

// Whether Subversion takes a section name for [DEFAULT] when deciding
// about the fallback: it compares "naturally", skipping white space
// anywhere and ignoring case.
bool NaturallyDefault(const std::string& name) {
  std::string s;
  for (char c : name)
    if (!IsSpace(c)) s += c;
  return SameName(s, "DEFAULT");
}

std::string Content(const std::string& text, const Line& l) {
  return text.substr(l.begin, l.end - l.begin);
}

std::string Terminator(const std::string& text, const Line& l) {
  return text.substr(l.end, l.next - l.end);
}

std::string OptionKey(const std::string& text, const Line& l) {
  return Strip(text.substr(l.begin, l.sep - l.begin));
}

// The value as Subversion assembles it: the first line's text stripped,
// then each continuation line joined with one blank and the whole value's
// end stripped (so an empty first line leaves a leading blank).
std::string OptionValue(const std::string& text, const Parsed& p,
                        size_t index) {
  const Line& l = p.lines[index];
  std::string v = Strip(text.substr(l.sep + 1, l.end - l.sep - 1));
  for (size_t j = index + 1;
       j < p.lines.size() && p.lines[j].kind == Kind::kContinuation; ++j) {
    std::string cont = Content(text, p.lines[j]);
    size_t b = 0;
    while (b < cont.size() && IsSpace(cont[b])) ++b;
    v += ' ' + cont.substr(b);
    while (!v.empty() && IsSpace(v.back())) v.pop_back();
  }
  return CutAtNul(v);
}

// Files every option line as svn_config_set stores it: under its own
// section, unless that section already holds other options but not this
// one while [DEFAULT] holds it; then the line overwrites the value in
// [DEFAULT] and its own section never gets the option.  A header alone
// makes no section: only options do.
void BuildModel(const std::string& text, Parsed* p) {
  for (size_t i = 0; i < p->lines.size(); ++i) {
    Line& l = p->lines[i];
    if (l.kind != Kind::kOption) continue;
    const std::string& name = p->sections[l.section];
    std::string key = OptionKey(text, l), lower = Fold(*p, key);
    auto own = p->model.find(Fold(*p, name)), def = p->model.find("default");
    l.toDefault = !p->exact && own != p->model.end() &&
                  !own->second.options.count(lower) && !NaturallyDefault(name) &&
                  def != p->model.end() && def->second.options.count(lower);
    Section& home = p->model[l.toDefault ? "default" : Fold(*p, name)];
    auto it = home.options.find(lower);
    if (it == home.options.end()) {
      home.order.push_back(lower);
      it = home.options.emplace(lower, Option()).first;
      it->second.name = key;
    }
    it->second.value = OptionValue(text, *p, i);
  }
}

int ParseLines(const std::string& text, Parsed* p) {
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  bool inValue = false;
  while (pos < text.size()) {
    Line l{};
    size_t nl = text.find('\n', pos);
    l.begin = pos;
    l.next = nl == std::string::npos ? text.size() : nl + 1;
    l.end = nl == std::string::npos ? text.size() : nl;
    l.section = static_cast<int>(p->sections.size()) - 1;
    // Leading white space makes a line indented, except CR, which
    // Subversion skips there without counting it.
    size_t i = l.begin, indent = 0;
    for (; i < l.end && IsSpace(text[i]); ++i) indent += text[i] != '\r';
    if (i == l.end) {
      l.kind = Kind::kBlank;
      inValue = false;
    } else if (indent > 0) {
      if (!inValue) return NLIBC_E_SYNTAX;  // indented, not a continuation
      l.kind = Kind::kContinuation;
    } else if (text[i] == '[') {
      // Subversion scans a name as a C string: a NUL in it is an error.
      size_t close = text.find_first_of(std::string("]\0", 2), i);
      if (close == std::string::npos || close >= l.end || text[close] != ']')
        return NLIBC_E_SYNTAX;
      p->sections.push_back(text.substr(i + 1, close - i - 1));
      l.section = static_cast<int>(p->sections.size()) - 1;
      l.kind = Kind::kSection;
      inValue = false;
    } else if (text[i] == '#') {
      l.kind = Kind::kComment;
      inValue = false;
    } else {
      if (l.section < 0 || p->sections[l.section].empty())
        return NLIBC_E_SYNTAX;  // an option outside any named section
      l.sep = text.find_first_of(std::string(":=\0", 3), i);
      if (l.sep == std::string::npos || l.sep >= l.end || text[l.sep] == '\0')
        return NLIBC_E_SYNTAX;
      l.kind = Kind::kOption;
      inValue = true;
    }
    // A CR before the LF belongs to the line end, not to the content.
    if (l.end > l.begin && text[l.end - 1] == '\r' && l.end < l.next) --l.end;
    p->lines.push_back(l);
    if (l.section >= 0)
      p->blocks[Fold(*p, p->sections[l.section])].push_back(p->lines.size() - 1);
    pos = l.next;
  }
  BuildModel(text, p);
  return 0;
}

// The lines of `section`'s blocks (none when it has no header).
const std::vector<size_t>& Block(const Parsed& p, const std::string& section) {
  static const std::vector<size_t> none;
  auto b = p.blocks.find(Fold(p, section));
  return b == p.blocks.end() ? none : b->second;
}

// The [DEFAULT] section that `folded`, when it holds options, falls back
// on; null for one Subversion takes for [DEFAULT] itself, or without one.
const Section* Fallback(const Parsed& p, const std::string& folded) {
  if (p.exact || NaturallyDefault(folded)) return nullptr;
  auto d = p.model.find("default");
  return d == p.model.end() ? nullptr : &d->second;
}

// Subversion's find_option: `key` of the section `section` (both folded),
// or of [DEFAULT] when the section holds other options.
const Option* Find(const Parsed& p, const std::string& section,
                   const std::string& key) {
  auto s = p.model.find(section);
  if (s == p.model.end()) return nullptr;
  auto o = s->second.options.find(key);
  if (o != s->second.options.end()) return &o->second;
  const Section* def = Fallback(p, section);
  if (def == nullptr) return nullptr;
  o = def->options.find(key);
  return o == def->options.end() ? nullptr : &o->second;
}

// The next "%(name)s" of v from *parse, as expand_option_value scans: a
// "%(" at the very end, or one without ")s" after it, ends the scan.
// [*start, *end) is the whole placeholder.
bool NextPlaceholder(const std::string& v, size_t* parse, size_t* start,
                     size_t* end) {
  size_t s = v.find("%(", *parse);
  if (s == std::string::npos || s + 2 >= v.size()) return false;
  size_t e = v.find(")s", s + 2);
  if (e == std::string::npos) return false;
  *start = s;
  *end = e + 2;
  *parse = e + 2;
  return true;
}

std::string PlaceholderName(const std::string& v, size_t start, size_t end) {
  return Lower(v.substr(start + 2, end - start - 4));
}

// Expands `root` as make_string_from_option does from the section whose
// own options are `own` (falling back on `def`, which may be null), with
// an explicit stack instead of its recursion.  Each option is expanded
// once: a placeholder whose option svnserve finds is replaced by that
// option's expanded value; other names stay as they are.  An option met
// again while being expanded, and every option that depends on it, is
// cyclic: empty.  *budget counts down the bytes expanded values may still
// take; NLIBC_E_READ when a value passes NLIBC_CONF_MAX_SIZE or the
// budget runs out.
class Expander {
 public:
  Expander(Section* own, Section* def, size_t* budget) : own_(own), def_(def), budget_(budget) {}
  int run(Option* root);

 private:
  struct Frame {
    Option* opt;
    size_t parse = 0, copy = 0;  // scanned up to; copied up to
    size_t start = 0, end = 0;   // the placeholder waiting for `waiting`
    Option* waiting = nullptr;
  };
  // The option a placeholder names, as svnserve finds it; null for none.
  Option* resolve(const std::string& name) const;
  // Starts expanding o: true when it needs a frame of its own.
  static bool begin(Option* o);
  // Appends to f's value the placeholder [start, end) replaced by x's.
  int append(Frame& f, size_t start, size_t end, const Option* x);
  // Scans f's value on from where it stopped, up to the next option that
  // must be expanded first (*child) or the end; *failed when it is cyclic.
  int scan(Frame& f, Option** child, bool* failed);
  // Ends f's option, cyclic when `failed`.
  int finish(Frame& f, bool failed);

  Section* own_;
  Section* def_;
  size_t* budget_;
};

Option* Expander::resolve(const std::string& name) const {
  auto o = own_->options.find(name);
  if (o != own_->options.end()) return &o->second;
  if (def_ == nullptr) return nullptr;
  o = def_->options.find(name);
  return o == def_->options.end() ? nullptr : &o->second;
}

bool Expander::begin(Option* o) {
  if (o->state != State::kNeeds) return false;
  if (o->value.find('%') == std::string::npos) {
    o->state = State::kDone;
    return false;
  }
  o->state = State::kExpanding;
  return true;
}

int Expander::append(Frame& f, size_t start, size_t end, const Option* x) {
  Option* o = f.opt;
  const std::string& sub = Final(*x);
  size_t grow = start - f.copy + sub.size();
  if (o->expanded.size() + grow > NLIBC_CONF_MAX_SIZE || grow > *budget_) return NLIBC_E_READ;
  *budget_ -= grow;
  o->expanded.append(o->value, f.copy, start - f.copy);
  o->expanded += sub;
  o->replaced = true;
  f.copy = end;
  return 0;
}

int Expander::scan(Frame& f, Option** child, bool* failed) {
  if (f.waiting != nullptr) {
    Option* x = f.waiting;
    f.waiting = nullptr;
    if (x->state == State::kCyclic) *failed = true;
    else if (int rc = append(f, f.start, f.end, x)) return rc;
  }
  size_t start, end;
  const std::string& v = f.opt->value;
  while (!*failed && *child == nullptr && NextPlaceholder(v, &f.parse, &start, &end)) {
    Option* x = resolve(PlaceholderName(v, start, end));
    if (x == nullptr) continue;  // plain text
    if (begin(x)) {
      *child = x;
      f.waiting = x;
      f.start = start;
      f.end = end;
    } else if (x->state == State::kExpanding || x->state == State::kCyclic) {
      x->state = State::kCyclic;
      *failed = true;
    } else if (int rc = append(f, start, end, x)) {
      return rc;
    }
  }
  return 0;
}

int Expander::finish(Frame& f, bool failed) {
  Option* o = f.opt;
  if (failed) {
    o->state = State::kCyclic;
    o->expanded.clear();
    o->replaced = true;
    return 0;
  }
  o->state = State::kDone;
  if (!o->replaced) return 0;
  size_t rest = o->value.size() - f.copy;
  if (o->expanded.size() + rest > NLIBC_CONF_MAX_SIZE || rest > *budget_) return NLIBC_E_READ;
  *budget_ -= rest;
  o->expanded.append(o->value, f.copy, rest);
  return 0;
}

int Expander::run(Option* root) {
  std::vector<Frame> stack;
  if (begin(root)) stack.push_back(Frame{root});
  while (!stack.empty()) {
    Option* child = nullptr;
    bool failed = false;
    if (int rc = scan(stack.back(), &child, &failed)) return rc;
    if (child != nullptr) {
      stack.push_back(Frame{child});
      continue;
    }
    if (int rc = finish(stack.back(), failed)) return rc;
    stack.pop_back();
  }
  return 0;
}

int Expand(Section* own, Section* def, Option* root, size_t* budget) {
  return Expander(own, def, budget).run(root);
}

// Whether svnserve's values depend on the order it expands sections in.
// svnserve expands every option once, section after section in the order
// of its hash table, and keeps the result: an option of [DEFAULT] reached
// from another section's placeholder is expanded there, in that section's
// terms, and keeps that value for every section.  The answer depends on
// the order only when a section whose placeholders reach [DEFAULT] also
// holds an option named in a placeholder of [DEFAULT]'s values; such a
// file is refused rather than guessed at.
bool OrderMatters(const Parsed& p) {
  auto def = p.model.find("default");
  if (p.exact || def == p.model.end()) return false;
  std::set<std::string> named;  // names [DEFAULT]'s placeholders use
  size_t parse, start, end;
  for (const auto& o : def->second.options)
    for (parse = 0; NextPlaceholder(o.second.value, &parse, &start, &end);)
      named.insert(PlaceholderName(o.second.value, start, end));
  if (named.empty()) return false;
  for (const auto& s : p.model) {
    if (Fallback(p, s.first) == nullptr) continue;
    const auto& own = s.second.options;
    bool overrides = false, reaches = false;
    for (const auto& o : own) {
      overrides = overrides || named.count(o.first) != 0;
      for (parse = 0; !reaches && NextPlaceholder(o.second.value, &parse, &start, &end);) {
        std::string name = PlaceholderName(o.second.value, start, end);
        reaches = !own.count(name) && def->second.options.count(name);
      }
    }
    if (overrides && reaches) return true;
  }
  return false;
}

// Expands every value once, as svnserve's configuration cache does before
// use: [DEFAULT]'s in its own terms, every other section's in its own
// with [DEFAULT] to fall back on.  The expanded values may add up to
// NLIBC_CONF_MAX_SIZE bytes.
int ExpandAll(Parsed* p) {
  if (p->exact) return 0;
  if (OrderMatters(*p)) return NLIBC_E_READ;
  size_t budget = NLIBC_CONF_MAX_SIZE;
  auto d = p->model.find("default");
  Section* def = d == p->model.end() ? nullptr : &d->second;
  if (def != nullptr)
    for (auto& o : def->options)
      if (int rc = Expand(def, nullptr, &o.second, &budget)) return rc;
  for (auto& s : p->model) {
    Section* fallback = NaturallyDefault(s.first) ? nullptr : def;
    for (auto& o : s.second.options)
      if (int rc = Expand(&s.second, fallback, &o.second, &budget)) return rc;
  }
  return 0;
}

// Parses `text` and expands its values: NLIBC_E_SYNTAX when Subversion
// refuses the text, NLIBC_E_READ when its expansion passes our bounds or
// depends on svnserve's order.
int Parse(const std::string& text, Parsed* p) {
  if (int rc = ParseLines(text, p)) return rc;
  return ExpandAll(p);
}

// Whether two parses give every section the same own options (as
// Subversion enumerates them) and every lookup svnserve could make the
// same answer, but those of the sections in `whole` and of the (section,
// key) pairs in `keys` (all folded).  Compares the sections' own options,
// [DEFAULT]'s, and which sections fall back on it, so that it costs what
// the texts hold, not sections times [DEFAULT]'s options.
bool SameLookups(const Parsed& a, const Parsed& b,
                 const std::set<std::string>& whole,
                 const std::set<std::pair<std::string, std::string>>& keys) {
  auto value = [](const Parsed& p, const std::string& s, const std::string& k) {
    const Option* o = Find(p, s, k);
    return o == nullptr ? std::make_pair(false, std::string())
                        : std::make_pair(true, Final(*o));
  };
  std::set<std::string> names;
  for (const Parsed* p : {&a, &b})
    for (const auto& s : p->model) names.insert(s.first);
  // [DEFAULT]'s options whose value differs, or that only one text holds.
  std::vector<std::string> changed;
  {
    std::set<std::string> defKeys;
    for (const Parsed* p : {&a, &b}) {
      auto d = p->model.find("default");
      if (d != p->model.end())
        for (const auto& o : d->second.options) defKeys.insert(o.first);
    }
    for (const std::string& k : defKeys)
      if (value(a, "default", k) != value(b, "default", k)) changed.push_back(k);
  }
  static const Section empty;
  for (const std::string& name : names) {
    if (whole.count(name)) continue;
    auto sa = a.model.find(name), sb = b.model.find(name);
    const Section& ownA = sa == a.model.end() ? empty : sa->second;
    const Section& ownB = sb == b.model.end() ? empty : sb->second;
    const Section* defA = &ownA == &empty ? nullptr : Fallback(a, name);
    const Section* defB = &ownB == &empty ? nullptr : Fallback(b, name);
    auto own = [&](const std::string& k) {
      return ownA.options.count(k) || ownB.options.count(k) || keys.count({name, k});
    };
    // The section's own options, as Subversion enumerates them: the same
    // names, with the same values.
    for (const Section* s : {&ownA, &ownB})
      for (const auto& o : s->options) {
        if (keys.count({name, o.first})) continue;
        auto oa = ownA.options.find(o.first), ob = ownB.options.find(o.first);
        if (oa == ownA.options.end() || ob == ownB.options.end() ||
            Final(oa->second) != Final(ob->second))
          return false;
      }
    // Keys neither holds itself: [DEFAULT]'s answers, for one that falls
    // back.  Each key skipped is one the section holds or one edited, so
    // this costs no more than the section's own options.
    if (defA != nullptr && defB != nullptr) {
      for (const std::string& k : changed)
        if (!own(k)) return false;
    } else if (defA != nullptr || defB != nullptr) {
      for (const auto& o : (defA != nullptr ? defA : defB)->options)
        if (!own(o.first)) return false;
    }
  }
  return true;
}

bool InSection(const Parsed& p, const Line& l, const std::string& section) {
  return l.section >= 0 && Same(p, p.sections[l.section], section);
}

// The section an option line's value ends up in (folded).
std::string Home(const Parsed& p, const Line& l) {
  return l.toDefault ? "default" : Fold(p, p.sections[l.section]);
}

// Indices of the option lines that set `key` of `section`, wherever they
// stand.
std::vector<size_t> ActiveLines(const std::string& text, const Parsed& p,
                                const std::string& section,
                                const std::string& key) {
  std::vector<size_t> found;
  const std::string home = Fold(p, section);
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (l.kind == Kind::kOption && Home(p, l) == home &&
        Same(p, OptionKey(text, l), key))
      found.push_back(i);
  }
  return found;
}

// For a comment line "#  key = value": the offset where "key" starts, or
// npos when the comment is not a commented-out line of `key`.
size_t CommentedOption(const std::string& text, const Parsed& p, const Line& l,
                       const std::string& key) {
  size_t b = l.begin + 1;
  while (b < l.end && (text[b] == ' ' || text[b] == '\t')) ++b;
  size_t sep = text.find_first_of(":=", b);
  if (b == l.end || sep == std::string::npos || sep >= l.end) return std::string::npos;
  if (text[b] == '#' || text[b] == '[') return std::string::npos;
  std::string k = Strip(text.substr(b, sep - b));
  return !k.empty() && Same(p, k, key) ? b : std::string::npos;
}

// The first commented-out line of `key` in `section`, or the line count.
size_t FirstCommented(const std::string& text, const Parsed& p,
                      const std::string& section, const std::string& key) {
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (l.kind == Kind::kComment && InSection(p, l, section) &&
        CommentedOption(text, p, l, key) != std::string::npos)
      return i;
  }
  return p.lines.size();
}

int CheckText(const std::string& s) {
  return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos
             ? 0
             : NLIBC_E_BADCHAR;
}

int CheckKey(const std::string& key) {
  if (int rc = CheckText(key)) return rc;
  if (key.empty() || IsSpace(key.front()) || IsSpace(key.back()) ||
      key.front() == '#' || key.front() == '[' ||
      key.find_first_of(":=") != std::string::npos)
    return NLIBC_E_BADKEY;
  return 0;
}

int CheckValue(const std::string& value) {
  if (int rc = CheckText(value)) return rc;
  if ((!value.empty() && (IsSpace(value.front()) || IsSpace(value.back()))) ||
      value.find("%(") != std::string::npos)
    return NLIBC_E_BADVALUE;
  return 0;
}

int CheckSection(const std::string& section) {
  if (int rc = CheckText(section)) return rc;
  return section.empty() || section.find(']') != std::string::npos
             ? NLIBC_E_ARG
             : 0;
}

// Rebuilds a text line by line.  Each line is kept unless an edit for it
// was recorded: replaced (by new content, keeping its line end), dropped,
// or followed by inserted lines.
class Rewriter {
 public:
  Rewriter(const std::string& text, const Parsed& p) : text_(text), p_(p) {}

  void Replace(size_t i, const std::string& content) { replace_[i] = content; }
  void Drop(size_t i) { drop_.insert(i); }
  // Lines inserted before line i, or at the end when i is the line count.
  void InsertBefore(size_t i, const std::string& line) {
    insert_[i].push_back(line);
  }
  void InsertAfter(size_t i, const std::string& line) {
    insert_[i + 1].push_back(line);
  }
  // Drops the continuation lines that follow line i.
  void DropContinuations(size_t i) {
    for (size_t j = i + 1;
         j < p_.lines.size() && p_.lines[j].kind == Kind::kContinuation; ++j)
      Drop(j);
  }

  std::string Text() const {
    std::string out =
        text_.substr(0, p_.lines.empty() ? text_.size() : p_.lines[0].begin);
    std::string eol = "\n";
    for (size_t i = 0; i <= p_.lines.size(); ++i) {
      auto ins = insert_.find(i);
      if (ins != insert_.end()) {
        if (!out.empty() && out.back() != '\n') out += eol;
        for (const std::string& line : ins->second) out += line + eol;
      }
      if (i == p_.lines.size()) break;
      const Line& l = p_.lines[i];
      std::string term = Terminator(text_, l);
      if (!term.empty()) eol = term;
      if (drop_.count(i)) continue;
      auto rep = replace_.find(i);
      out += (rep != replace_.end() ? rep->second : Content(text_, l)) + term;
    }
    return out;
  }

 private:
  const std::string& text_;
  const Parsed& p_;
  std::map<size_t, std::string> replace_;
  std::set<size_t> drop_;
  std::map<size_t, std::vector<std::string>> insert_;
};

// The line after which new options of the section whose header is line
// `header` go: its last line that is not blank.
size_t SectionTail(const Parsed& p, size_t header) {
  size_t tail = header;
  for (size_t i = header + 1;
       i < p.lines.size() && p.lines[i].kind != Kind::kSection; ++i)
    if (p.lines[i].kind != Kind::kBlank) tail = i;
  return tail;
}

// The first header of `section`, or the line count.
size_t FirstHeader(const Parsed& p, const std::string& section) {
  const std::vector<size_t>& block = Block(p, section);
  return block.empty() ? p.lines.size() : block.front();
}

// Puts `lines` at the end of the section's first block, or appends the
// section with them.
void AppendToSection(const std::string& text, const Parsed& p,
                     const std::string& section,
                     const std::vector<std::string>& lines, Rewriter* w) {
  size_t header = FirstHeader(p, section);
  if (header < p.lines.size()) {
    for (const std::string& line : lines)
      w->InsertAfter(SectionTail(p, header), line);
    return;
  }
  if (!text.empty()) w->InsertBefore(p.lines.size(), "");
  w->InsertBefore(p.lines.size(), "[" + section + "]");
  for (const std::string& line : lines) w->InsertBefore(p.lines.size(), line);
}

// The start of a new value for option line l: its text up to the
// separator and the blanks after it, one blank added where the line puts
// one before the separator but none after; with `key`, the key spelt so.
std::string ValuePrefix(const std::string& text, const Line& l,
                        const std::string* key = nullptr) {
  size_t v = l.sep + 1;
  while (v < l.end && (text[v] == ' ' || text[v] == '\t')) ++v;
  std::string prefix = text.substr(l.begin, v - l.begin);
  if (key != nullptr) {
    size_t k = 0;
    while (IsSpace(prefix[k])) ++k;
    prefix.replace(k, OptionKey(text, l).size(), *key);
  }
  if (v == l.sep + 1 && l.sep > l.begin &&
      (text[l.sep - 1] == ' ' || text[l.sep - 1] == '\t'))
    prefix += ' ';
  return prefix;
}

// The last line of option line i's value: i or its last continuation.
size_t ValueEnd(const Parsed& p, size_t i) {
  while (i + 1 < p.lines.size() && p.lines[i + 1].kind == Kind::kContinuation) ++i;
  return i;
}

// The header of the block holding the first option line that `section`
// itself owns (the line that makes the section exist for Subversion), or
// the line count when it owns none.
size_t FirstOwnBlock(const Parsed& p, const std::string& section) {
  size_t header = p.lines.size();
  for (size_t i : Block(p, section)) {
    const Line& l = p.lines[i];
    if (l.kind == Kind::kSection) header = i;
    if (l.kind == Kind::kOption && !l.toDefault) return header;
  }
  return p.lines.size();
}

}  // namespace

int CheckOption(const std::string& key, const std::string& value) {
  if (int rc = CheckKey(key)) return rc;
  return CheckValue(value);
}

int CheckPairs(const Pairs& pairs) {
  // In a section of their own, with nothing else to change.
  ConfDoc doc;
  return doc.SetSection("pairs", pairs);
}

int TokenKey(const std::string& token, std::string* key) {
  *key = Strip(token.substr(0, token.find_first_of(":=")));
  return key->empty() ? NLIBC_E_ARG : 0;
}

ConfDoc::ConfDoc() : parsed_(new Parsed) {}
ConfDoc::~ConfDoc() {}

int ConfDoc::Load(const std::string& text, Syntax syntax) {
  exact_ = syntax == kExact;
  std::unique_ptr<Parsed> p(new Parsed);
  p->exact = exact_;
  if (int rc = Parse(text, p.get())) {
    text_.clear();
    parsed_.reset(new Parsed);
    parsed_->exact = exact_;
    return rc;
  }
  text_ = text;
  parsed_ = std::move(p);
  return 0;
}

void ConfDoc::Sections(std::vector<std::string>* names) const {
  std::set<std::string> seen;
  for (const std::string& name : parsed_->sections)
    if (seen.insert(Fold(*parsed_, name)).second) names->push_back(name);
}

void ConfDoc::Entries(const std::string& section, Pairs* pairs) const {
  const Parsed& p = *parsed_;
  for (size_t i : Block(p, section))
    if (p.lines[i].kind == Kind::kOption)
      pairs->emplace_back(OptionKey(text_, p.lines[i]), OptionValue(text_, p, i));
}

std::string ConfDoc::FirstSection() const {
  return parsed_->sections.empty() ? std::string() : parsed_->sections[0];
}

void ConfDoc::Get(const std::string& section, const std::string& key,
                  std::string* value, bool* found) const {
  const Parsed& p = *parsed_;
  const Option* o = Find(p, Fold(p, section), Fold(p, key));
  *found = o != nullptr;
  if (o != nullptr) *value = Final(*o);
}

void ConfDoc::GetSection(const std::string& section, Pairs* pairs) const {
  const Parsed& p = *parsed_;
  auto s = p.model.find(Fold(p, section));
  if (s == p.model.end()) return;
  for (const std::string& key : s->second.order) {
    const Option& o = s->second.options.at(key);
    pairs->emplace_back(o.name, Final(o));
  }
}

void ConfDoc::Lookups(const std::string& section, Pairs* pairs) const {
  Lookups(*parsed_, section, pairs);
}

void ConfDoc::Lookups(const Parsed& p, const std::string& section,
                      Pairs* pairs) {
  const std::string home = Fold(p, section);
  auto s = p.model.find(home);
  if (s == p.model.end()) return;
  for (const std::string& key : s->second.order) {
    const Option& o = s->second.options.at(key);
    pairs->emplace_back(o.name, Final(o));
  }
  const Section* def = Fallback(p, home);
  if (def == nullptr) return;
  for (const std::string& key : def->order) {
    if (s->second.options.count(key)) continue;
    const Option& o = def->options.at(key);
    pairs->emplace_back(o.name, Final(o));
  }
}

int ConfDoc::GetLine(const std::string& section, const std::string& key,
                     std::string* line) const {
  std::vector<size_t> lines = ActiveLines(text_, *parsed_, section, key);
  if (lines.empty()) return NLIBC_E_NOTFOUND;
  *line = Content(text_, parsed_->lines[lines.back()]);
  return 0;
}

int ConfDoc::Commit(const std::string& text, const std::string& section,
                    const std::string& key,
                    const std::function<bool(const Parsed&)>& holds) {
  return Commit(text, {{section, key}}, holds);
}

int ConfDoc::Commit(const std::string& text, const Edited& edited,
                    const std::function<bool(const Parsed&)>& holds) {
  std::unique_ptr<Parsed> p(new Parsed);
  p->exact = exact_;
  if (Parse(text, p.get()) != 0) return NLIBC_E_UNFAITHFUL;
  std::set<std::string> whole;
  std::set<std::pair<std::string, std::string>> keys;
  for (const auto& e : edited) {
    if (e.second.empty()) whole.insert(Fold(*p, e.first));
    else keys.insert({Fold(*p, e.first), Fold(*p, e.second)});
  }
  if (!SameLookups(*parsed_, *p, whole, keys) || !holds(*p)) return NLIBC_E_UNFAITHFUL;
  text_ = text;
  parsed_ = std::move(p);
  return 0;
}

int ConfDoc::Set(const std::string& section, const std::string& key,
                 const std::string& value) {
  if (int rc = CheckSection(section)) return rc;
  if (int rc = CheckOption(key, value)) return rc;
  const Parsed& p = *parsed_;
  Rewriter w(text_, p);
  std::vector<size_t> active = ActiveLines(text_, p, section, key);
  size_t commented = FirstCommented(text_, p, section, key);
  if (!active.empty()) {
    // Rewrite the value of the line that wins; its continuation lines
    // belonged to the old value.
    size_t i = active.back();
    w.Replace(i, ValuePrefix(text_, p.lines[i]) + value);
    w.DropContinuations(i);
  } else if (commented < p.lines.size()) {
    const Line& l = p.lines[commented];
    size_t b = CommentedOption(text_, p, l, key);
    size_t v = text_.find_first_of(":=", b) + 1;
    while (v < l.end && (text_[v] == ' ' || text_[v] == '\t')) ++v;
    w.Replace(commented, text_.substr(b, v - b) + value);
  } else {
    AppendToSection(text_, p, section, {key + " = " + value}, &w);
  }
  auto holds = [&](const Parsed& np) {
    const Option* o = Find(np, Fold(np, section), Fold(np, key));
    return o != nullptr && Final(*o) == value;
  };
  // A section that takes the key from [DEFAULT] files a line of it that
  // follows its other options under [DEFAULT] (see nlibc.h): written
  // before [DEFAULT] holds anything, or as the section's first option
  // line, it is the section's own.
  std::string first;
  size_t header = FirstOwnBlock(p, section);
  if (active.empty() && header < p.lines.size() &&
      Find(p, Fold(p, section), Fold(p, key)) != nullptr) {
    Rewriter w1(text_, p);
    w1.InsertAfter(header, key + " = " + value);
    first = w1.Text();
  }
  // Only one key can be a section's first option line: another goes in a
  // block of the section of its own at the top of the file, before
  // [DEFAULT] holds anything (after a byte order mark, which Subversion
  // skips).
  std::string top;
  if (active.empty() && Find(p, Fold(p, section), Fold(p, key)) != nullptr) {
    const size_t bom = text_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    top = text_.substr(0, bom) + "[" + section + "]\n" + key + " = " + value + "\n" +
          text_.substr(bom);
  }
  // The block at the top is tried first: later keys then join it.
  int rc = Commit(w.Text(), section, key, holds);  // p is gone once kept
  if (rc == NLIBC_E_UNFAITHFUL && !top.empty()) rc = Commit(top, section, key, holds);
  if (rc == NLIBC_E_UNFAITHFUL && !first.empty()) rc = Commit(first, section, key, holds);
  return rc;
}

int ConfDoc::Activate(const std::string& section, const std::string& key) {
  const Parsed& p = *parsed_;
  size_t i = FirstCommented(text_, p, section, key);
  if (i == p.lines.size()) {
    // Already active (a concurrent writer may have just activated it):
    // the line is what the caller wants.
    return ActiveLines(text_, p, section, key).empty() ? NLIBC_E_NOTFOUND : 0;
  }
  Rewriter w(text_, p);
  size_t b = CommentedOption(text_, p, p.lines[i], key);
  w.Replace(i, text_.substr(b, p.lines[i].end - b));
  const std::string text = w.Text();
  return Commit(text, section, key, [&](const Parsed& np) {
    return !ActiveLines(text, np, section, key).empty();
  });
}

int ConfDoc::Comment(const std::string& section, const std::string& key) {
  const Parsed& p = *parsed_;
  std::vector<size_t> lines = ActiveLines(text_, p, section, key);
  if (lines.empty()) {
    bool found = false;
    std::string ignored;
    Get(section, key, &ignored, &found);
    return found ? NLIBC_E_UNFAITHFUL : 0;  // [DEFAULT] would still answer
  }
  Rewriter w(text_, p);
  for (size_t i : lines) {
    w.Replace(i, "# " + Content(text_, p.lines[i]));
    for (size_t j = i + 1;
         j < p.lines.size() && p.lines[j].kind == Kind::kContinuation; ++j)
      w.Replace(j, "#" + Content(text_, p.lines[j]));
  }
  return Commit(w.Text(), section, key, [&](const Parsed& np) {
    return Find(np, Fold(np, section), Fold(np, key)) == nullptr;
  });
}

int ConfDoc::SetLine(const std::string& section, const std::string& key,
                     const std::string& line) {
  if (int rc = CheckText(line)) return rc;
  std::vector<size_t> lines = ActiveLines(text_, *parsed_, section, key);
  if (lines.empty()) return NLIBC_E_NOTFOUND;
  Rewriter w(text_, *parsed_);
  w.Replace(lines.back(), line);
  return Commit(w.Text(), section, key, [](const Parsed&) { return true; });
}

int ConfDoc::SetSection(const std::string& section, const Pairs& pairs) {
  return SetSections({{section, &pairs}});
}

int ConfDoc::RemoveSection(const std::string& section) {
  return SetSections({{section, nullptr}});
}

int ConfDoc::RenameSection(const std::string& section, const std::string& to) {
  if (int rc = CheckSection(to)) return rc;
  const Parsed& p = *parsed_;
  const std::vector<size_t>& block = Block(p, section);
  if (block.empty()) return NLIBC_E_NOTFOUND;
  if (!Block(p, to).empty()) return NLIBC_E_DUPKEY;
  Rewriter w(text_, p);
  for (size_t i : block) {
    const Line& l = p.lines[i];
    if (l.kind != Kind::kSection) continue;
    // The name stands between the line's '[' (after the CRs Subversion
    // skips) and the first ']'.
    const std::string line = Content(text_, l);
    const size_t open = line.find('[');
    const size_t close = open + 1 + p.sections[l.section].size();
    w.Replace(i, line.substr(0, open + 1) + to + line.substr(close));
  }
  Pairs before;
  Lookups(p, section, &before);
  return Commit(w.Text(), {{section, ""}, {to, ""}}, [&](const Parsed& np) {
    Pairs after;
    Lookups(np, to, &after);
    return after == before && Block(np, section).empty();
  });
}

namespace {

using SectionPairs = std::vector<std::pair<std::string, const Pairs*>>;

// Whether every section and pair of `sections` can be written.
int CheckSections(const Parsed& p, const SectionPairs& sections) {
  for (const auto& s : sections) {
    if (s.second == nullptr) continue;
    if (int rc = CheckSection(s.first)) return rc;
    std::set<std::string> seen;
    for (const auto& kv : *s.second) {
      if (int rc = CheckKey(kv.first)) return rc;
      if (int rc = CheckText(kv.second)) return rc;
      if (!kv.second.empty() && (IsSpace(kv.second.front()) || IsSpace(kv.second.back())))
        return NLIBC_E_BADVALUE;
      if (!seen.insert(Fold(p, kv.first)).second) return NLIBC_E_DUPKEY;
    }
  }
  return 0;
}

// Rewrites the section `name` of `text` (`block`: its lines) to hold
// `pairs`.
void RewriteSection(const std::string& text, const Parsed& p, const std::string& name,
                    const std::vector<size_t>& block, const Pairs& pairs, Rewriter* w) {
  std::map<std::string, size_t> wanted;  // folded key -> index in pairs
  for (size_t k = 0; k < pairs.size(); ++k) wanted[Fold(p, pairs[k].first)] = k;
  // The section's own option lines: each key keeps the line that wins
  // (its last), rewritten only when its spelling or value changes (a key
  // spelt otherwise is renamed); every other line of the section's
  // options goes, continuation lines and all.  Lines Subversion files
  // under [DEFAULT] are [DEFAULT]'s and stay.
  const std::string home = Fold(p, name);
  std::map<std::string, size_t> last;
  for (size_t i : block)
    if (p.lines[i].kind == Kind::kOption && Home(p, p.lines[i]) == home)
      last[Fold(p, OptionKey(text, p.lines[i]))] = i;
  std::vector<bool> kept(pairs.size(), false);
  size_t after = p.lines.size(), firstGone = p.lines.size();
  for (size_t i : block) {
    const Line& l = p.lines[i];
    if (l.kind != Kind::kOption || Home(p, l) != home) continue;
    const std::string k = Fold(p, OptionKey(text, l));
    auto want = wanted.find(k);
    if (want == wanted.end() || last[k] != i) {
      w->Drop(i);
      w->DropContinuations(i);
      firstGone = std::min(firstGone, i);
      continue;
    }
    kept[want->second] = true;
    after = ValueEnd(p, i);
    const std::string& key = pairs[want->second].first;
    const std::string& value = pairs[want->second].second;
    if (OptionKey(text, l) != key || OptionValue(text, p, i) != value) {
      w->Replace(i, ValuePrefix(text, l, &key) + value);
      w->DropContinuations(i);
    }
  }
  // New keys, in their order: after the last option line kept, else where
  // the first one removed stood, else at the end of the first block (a
  // missing section is appended).
  std::vector<std::string> added;
  for (size_t k = 0; k < pairs.size(); ++k)
    if (!kept[k]) added.push_back(pairs[k].first + " = " + pairs[k].second);
  if (after < p.lines.size()) {
    for (const std::string& line : added) w->InsertAfter(after, line);
  } else if (firstGone < p.lines.size()) {
    for (const std::string& line : added) w->InsertBefore(firstGone, line);
  } else {
    AppendToSection(text, p, name, added, w);
  }
}

}  // namespace

int ConfDoc::SetSections(const std::vector<std::pair<std::string, const Pairs*>>& sections) {
  const Parsed& p = *parsed_;
  if (int rc = CheckSections(p, sections)) return rc;
  Rewriter w(text_, p);
  bool changes = false;
  Edited edited;
  for (const auto& s : sections) {
    const std::vector<size_t>& block = Block(p, s.first);
    edited.emplace_back(s.first, "");
    if (s.second == nullptr) {  // removed: headers and options go
      for (size_t i : block)
        if (p.lines[i].kind != Kind::kComment && p.lines[i].kind != Kind::kBlank) w.Drop(i);
      changes = changes || !block.empty();
      continue;
    }
    changes = true;
    RewriteSection(text_, p, s.first, block, *s.second, &w);
  }
  if (!changes) return 0;
  // What svnserve finds in each section set must be its pairs: no more
  // (from [DEFAULT]), no less, each with its value read back as written;
  // a removed section must be gone.
  return Commit(w.Text(), edited, [&](const Parsed& np) {
    for (const auto& s : sections) {
      if (s.second == nullptr) {
        if (np.model.count(Fold(np, s.first)) || !Block(np, s.first).empty()) return false;
        continue;
      }
      std::map<std::string, std::string> wanted, got;
      for (const auto& kv : *s.second) wanted[Fold(np, kv.first)] = kv.second;
      Pairs found;
      Lookups(np, s.first, &found);
      for (const auto& kv : found) got[Fold(np, kv.first)] = kv.second;
      if (got != wanted) return false;
    }
    return true;
  });
}

}  // namespace nlibc
