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

struct Option {
  std::string name;   // first spelling
  std::string value;  // last value, unexpanded
};

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
  // Expanded values by (section looked up from, option), and whether they
  // depend on a cycle: each is expanded once, so values that double each
  // other cost no more than their size.
  mutable std::map<std::pair<std::string, const Option*>,
                   std::pair<std::string, bool>>
      expanded;
  mutable bool tooLarge = false;  // an expansion passed NLIBC_CONF_MAX_SIZE
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
      it = home.options.emplace(lower, Option{key, std::string()}).first;
    }
    it->second.value = OptionValue(text, *p, i);
  }
}

int Parse(const std::string& text, Parsed* p) {
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

// Subversion's find_option: `key` of the section `section` (both lower
// case), or of [DEFAULT] when the section holds other options.
const Option* Find(const Parsed& p, const std::string& section,
                   const std::string& key) {
  auto s = p.model.find(section);
  if (s == p.model.end()) return nullptr;
  auto o = s->second.options.find(key);
  if (o != s->second.options.end()) return &o->second;
  if (p.exact || NaturallyDefault(section)) return nullptr;
  auto d = p.model.find("default");
  if (d == p.model.end()) return nullptr;
  o = d->second.options.find(key);
  return o == d->second.options.end() ? nullptr : &o->second;
}

// Subversion's expansion of opt's value as seen from `section`: each
// "%(name)s" whose name the section finds is replaced by that option's
// expanded value; other names, and a "%(" without ")s" after it, stay as
// they are.  A value that depends on itself, even through others, is
// empty (and so is everything that depends on it).  Results are kept in
// p.expanded; one larger than NLIBC_CONF_MAX_SIZE sets p.tooLarge.
std::string Expand(const Parsed& p, const std::string& section,
                   const Option& opt, std::vector<const Option*>* path,
                   bool* cyclic) {
  const std::string& v = opt.value;
  if (p.exact || v.find('%') == std::string::npos) return v;
  auto known = p.expanded.find({section, &opt});
  if (known != p.expanded.end()) {
    *cyclic = *cyclic || known->second.second;
    return known->second.first;
  }
  for (const Option* o : *path)
    if (o == &opt) {
      *cyclic = true;
      return std::string();
    }
  path->push_back(&opt);
  std::string out;
  size_t copy = 0, parse = 0;
  for (;;) {
    size_t start = v.find("%(", parse);
    if (start == std::string::npos || start + 2 == v.size()) break;
    size_t end = v.find(")s", start + 2);
    if (end == std::string::npos) break;
    const Option* x = Find(p, section, Fold(p, v.substr(start + 2, end - start - 2)));
    if (x != nullptr) {
      std::string sub = Expand(p, section, *x, path, cyclic);
      if (*cyclic || p.tooLarge) break;
      out.append(v, copy, start - copy);
      if (out.size() + sub.size() > NLIBC_CONF_MAX_SIZE) {
        p.tooLarge = true;
        break;
      }
      out += sub;
      copy = end + 2;
    }
    parse = end + 2;
  }
  path->pop_back();
  if (*cyclic || p.tooLarge) out.clear();
  else out += v.substr(copy);
  p.expanded[{section, &opt}] = {out, *cyclic};
  return out;
}

std::string Value(const Parsed& p, const std::string& section,
                  const Option& opt) {
  std::vector<const Option*> path;
  bool cyclic = false;
  return Expand(p, section, opt, &path, &cyclic);
}

// Every lookup svnserve could make: for each section that holds options,
// each of its keys and of [DEFAULT]'s, with the value it gets.
using View = std::map<std::pair<std::string, std::string>, std::string>;

View Effective(const Parsed& p) {
  View view;
  auto def = p.model.find("default");
  for (const auto& s : p.model) {
    for (const auto& o : s.second.options)
      view[{s.first, o.first}] = Value(p, s.first, o.second);
    if (p.exact || def == p.model.end() || NaturallyDefault(s.first)) continue;
    for (const auto& o : def->second.options)
      if (!s.second.options.count(o.first))
        view[{s.first, o.first}] = Value(p, s.first, o.second);
  }
  return view;
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
  int rc = Parse(text, p.get());
  // A value that expands past the size of a file we read is refused as
  // such a file is.
  if (rc == 0 && text.find("%(") != std::string::npos) {
    Effective(*p);
    if (p->tooLarge) rc = NLIBC_E_READ;
  }
  if (rc != 0) {
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
  if (o != nullptr) *value = Value(p, Fold(p, section), *o);
}

void ConfDoc::GetSection(const std::string& section, Pairs* pairs) const {
  const Parsed& p = *parsed_;
  auto s = p.model.find(Fold(p, section));
  if (s == p.model.end()) return;
  for (const std::string& key : s->second.order) {
    const Option& o = s->second.options.at(key);
    pairs->emplace_back(o.name, Value(p, Fold(p, section), o));
  }
}

void ConfDoc::Lookups(const std::string& section, Pairs* pairs) const {
  Lookups(*parsed_, section, pairs);
}

void ConfDoc::Lookups(const Parsed& p, const std::string& section,
                      Pairs* pairs) {
  const std::string home = Fold(p, section);
  auto s = p.model.find(home), def = p.model.find("default");
  if (s == p.model.end()) return;
  for (const std::string& key : s->second.order) {
    const Option& o = s->second.options.at(key);
    pairs->emplace_back(o.name, Value(p, home, o));
  }
  if (p.exact || def == p.model.end() || NaturallyDefault(home)) return;
  for (const std::string& key : def->second.order) {
    if (s->second.options.count(key)) continue;
    const Option& o = def->second.options.at(key);
    pairs->emplace_back(o.name, Value(p, home, o));
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
  View before = Effective(*parsed_), after = Effective(*p);
  if (p->tooLarge) return NLIBC_E_UNFAITHFUL;
  std::set<std::pair<std::string, std::string>> keys;  // key "" = all
  for (const auto& e : edited) keys.insert({Fold(*p, e.first), Fold(*p, e.second)});
  for (View* v : {&before, &after}) {
    for (auto it = v->begin(); it != v->end();) {
      bool out = keys.count({it->first.first, ""}) || keys.count(it->first);
      it = out ? v->erase(it) : std::next(it);
    }
  }
  if (before != after || !holds(*p)) return NLIBC_E_UNFAITHFUL;
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
    const Line& l = p.lines[i];
    size_t v = l.sep + 1;
    while (v < l.end && (text_[v] == ' ' || text_[v] == '\t')) ++v;
    w.Replace(i, text_.substr(l.begin, v - l.begin) + value);
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
  return Commit(w.Text(), section, key, [&](const Parsed& np) {
    const Option* o = Find(np, Fold(np, section), Fold(np, key));
    return o != nullptr && Value(np, Fold(np, section), *o) == value;
  });
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

int ConfDoc::SetSections(const std::vector<std::pair<std::string, const Pairs*>>& sections) {
  const Parsed& p = *parsed_;
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
    std::vector<std::string> body;
    for (const auto& kv : *s.second) body.push_back(kv.first + " = " + kv.second);
    size_t firstOption = p.lines.size();
    for (size_t i : block) {
      const Line& l = p.lines[i];
      if (l.kind != Kind::kOption && l.kind != Kind::kContinuation) continue;
      if (l.kind == Kind::kOption && firstOption == p.lines.size()) firstOption = i;
      w.Drop(i);
    }
    if (firstOption < p.lines.size()) {
      for (const std::string& line : body) w.InsertBefore(firstOption, line);
    } else {
      AppendToSection(text_, p, s.first, body, &w);
    }
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
