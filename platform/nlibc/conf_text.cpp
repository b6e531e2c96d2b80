// conf_text.cpp: Subversion's config syntax, read and edited in place.
//
// The parser follows Subversion's own (libsvn_subr/config_file.c) rule for
// rule, because svnserve reads what we write: a file it would refuse is
// refused here, and an edit is kept only when the edited text, parsed
// again, holds exactly the old options but for the one being written.

#include "conf_text.h"

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
  bool toDefault;  // option lines: filed under [DEFAULT], see FileOptions
};

struct Parsed {
  std::vector<Line> lines;
  std::vector<std::string> sections;  // name of each header, in file order
};

// Option values keyed by (section, key), both in lower case.
using Model = std::map<std::pair<std::string, std::string>, std::string>;

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

// Whether Subversion takes a section name for [DEFAULT] when deciding
// about the fallback: it compares "naturally", skipping white space
// anywhere and ignoring case.
bool NaturallyDefault(const std::string& name) {
  std::string s;
  for (char c : name)
    if (!IsSpace(c)) s += c;
  return SameName(s, "DEFAULT");
}

std::string OptionKey(const std::string& text, const Line& l) {
  return Strip(text.substr(l.begin, l.sep - l.begin));
}

// Subversion stores each option line as svn_config_set would: under its
// own section, unless that section already holds other options but not
// this one while [DEFAULT] holds it; then the line overwrites the value
// in [DEFAULT] and its own section never gets the option.
void FileOptions(const std::string& text, Parsed* p) {
  std::map<std::string, std::set<std::string>> held;  // lower-case names
  for (Line& l : p->lines) {
    if (l.kind != Kind::kOption) continue;
    const std::string& name = p->sections[l.section];
    std::string section = Lower(name), key = Lower(OptionKey(text, l));
    auto own = held.find(section), def = held.find("default");
    l.toDefault = own != held.end() && !own->second.count(key) &&
                  !NaturallyDefault(name) && def != held.end() &&
                  def->second.count(key);
    if (!l.toDefault) held[section].insert(key);
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
    pos = l.next;
  }
  FileOptions(text, p);
  return 0;
}

std::string Content(const std::string& text, const Line& l) {
  return text.substr(l.begin, l.end - l.begin);
}

std::string Terminator(const std::string& text, const Line& l) {
  return text.substr(l.end, l.next - l.end);
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

bool InSection(const Parsed& p, const Line& l, const std::string& section) {
  return l.section >= 0 && SameName(p.sections[l.section], section);
}

// The section an option line's value ends up in (lower case).
std::string Home(const Parsed& p, const Line& l) {
  return l.toDefault ? "default" : Lower(p.sections[l.section]);
}

// Indices of the option lines that set `key` of `section`, wherever they
// stand.
std::vector<size_t> ActiveLines(const std::string& text, const Parsed& p,
                                const std::string& section,
                                const std::string& key) {
  std::vector<size_t> found;
  const std::string home = Lower(section);
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (l.kind == Kind::kOption && Home(p, l) == home &&
        SameName(OptionKey(text, l), key))
      found.push_back(i);
  }
  return found;
}

// Whether `section` holds any option of its own.
bool Exists(const Parsed& p, const std::string& section) {
  const std::string home = Lower(section);
  for (const Line& l : p.lines)
    if (l.kind == Kind::kOption && Home(p, l) == home) return true;
  return false;
}

// For a comment line "#  key = value": the offset where "key" starts, or
// npos when the comment is not a commented-out line of `key`.
size_t CommentedOption(const std::string& text, const Line& l,
                       const std::string& key) {
  size_t b = l.begin + 1;
  while (b < l.end && (text[b] == ' ' || text[b] == '\t')) ++b;
  size_t sep = text.find_first_of(":=", b);
  if (b == l.end || sep == std::string::npos || sep >= l.end) return std::string::npos;
  if (text[b] == '#' || text[b] == '[') return std::string::npos;
  std::string k = Strip(text.substr(b, sep - b));
  return !k.empty() && SameName(k, key) ? b : std::string::npos;
}

Model BuildModel(const std::string& text, const Parsed& p) {
  Model m;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (l.kind != Kind::kOption) continue;
    m[{Home(p, l), Lower(OptionKey(text, l))}] = OptionValue(text, p, i);
  }
  return m;
}

// The new text must parse, and every option outside `section` (or, when
// `key` is not empty, every option but `key` of `section`) must keep its
// value.  Returns 0 or NLIBC_E_UNFAITHFUL.
int Verify(const std::string& oldText, const std::string& newText,
           const std::string& section, const std::string& key) {
  Parsed po, pn;
  if (Parse(oldText, &po) != 0 || Parse(newText, &pn) != 0)
    return NLIBC_E_UNFAITHFUL;
  auto keep = [&](const Model::value_type& e) {
    if (e.first.first != Lower(section)) return true;
    return !key.empty() && e.first.second != Lower(key);
  };
  Model mo = BuildModel(oldText, po), mn = BuildModel(newText, pn);
  Model ko, kn;
  for (const auto& e : mo)
    if (keep(e)) ko.insert(e);
  for (const auto& e : mn)
    if (keep(e)) kn.insert(e);
  return ko == kn ? 0 : NLIBC_E_UNFAITHFUL;
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
      value.find("%(") != std::string::npos || value.size() >= NLIBC_VALUE_MAX)
    return NLIBC_E_BADVALUE;
  return 0;
}

int TokenKey(const std::string& token, std::string* key) {
  *key = Strip(token.substr(0, token.find_first_of(":=")));
  return key->empty() ? NLIBC_E_ARG : 0;
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
  // Lines inserted after line i (after i's continuation lines, if any,
  // is the caller's business).
  void InsertAfter(size_t i, const std::string& line) {
    insert_[i + 1].push_back(line);
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

size_t FirstHeader(const Parsed& p) {
  for (size_t i = 0; i < p.lines.size(); ++i)
    if (p.lines[i].kind == Kind::kSection) return i;
  return p.lines.size();
}

}  // namespace

int ConfCheck(const std::string& text) {
  Parsed p;
  return Parse(text, &p);
}

int ConfGetKeyValue(const std::string& text, const std::string& key,
                    std::string* value, bool* found) {
  Parsed p;
  *found = false;
  if (int rc = Parse(text, &p)) return rc;
  if (p.sections.empty()) return 0;
  // A section without options of its own has no fallback either.
  const std::string& section = p.sections[0];
  std::vector<size_t> lines = ActiveLines(text, p, section, key);
  if (lines.empty() && Exists(p, section) && !NaturallyDefault(section))
    lines = ActiveLines(text, p, "DEFAULT", key);
  if (lines.empty()) return 0;
  *value = OptionValue(text, p, lines.back());
  *found = true;
  return 0;
}

int ConfSetKeyValue(const std::string& text, const std::string& key,
                    const std::string& value, std::string* out) {
  if (int rc = CheckKey(key)) return rc;
  if (int rc = CheckValue(value)) return rc;
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  if (p.sections.empty()) return NLIBC_E_NOTFOUND;
  const std::string& section = p.sections[0];
  Rewriter w(text, p);
  std::vector<size_t> active = ActiveLines(text, p, section, key);
  if (!active.empty()) {
    // Rewrite the value of the line that wins; its continuation lines
    // belonged to the old value.
    size_t i = active.back();
    const Line& l = p.lines[i];
    size_t v = l.sep + 1;
    while (v < l.end && (text[v] == ' ' || text[v] == '\t')) ++v;
    w.Replace(i, text.substr(l.begin, v - l.begin) + value);
    for (size_t j = i + 1;
         j < p.lines.size() && p.lines[j].kind == Kind::kContinuation; ++j)
      w.Drop(j);
  } else {
    size_t commented = p.lines.size();
    for (size_t i = 0; i < p.lines.size() && commented == p.lines.size(); ++i) {
      const Line& l = p.lines[i];
      if (l.kind == Kind::kComment && InSection(p, l, section) &&
          CommentedOption(text, l, key) != std::string::npos)
        commented = i;
    }
    if (commented < p.lines.size()) {
      const Line& l = p.lines[commented];
      size_t b = CommentedOption(text, l, key);
      size_t v = text.find_first_of(":=", b) + 1;
      while (v < l.end && (text[v] == ' ' || text[v] == '\t')) ++v;
      w.Replace(commented, text.substr(b, v - b) + value);
    } else {
      w.InsertAfter(SectionTail(p, FirstHeader(p)), key + " = " + value);
    }
  }
  std::string result = w.Text();
  if (int rc = Verify(text, result, section, key)) return rc;
  std::string check;
  bool found = false;
  if (ConfGetKeyValue(result, key, &check, &found) != 0 || !found ||
      check != value)
    return NLIBC_E_UNFAITHFUL;
  *out = result;
  return 0;
}

int ConfLineComment(const std::string& text, const std::string& token,
                    bool active, std::string* out) {
  std::string key;
  if (int rc = TokenKey(token, &key)) return rc;
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  if (p.sections.empty()) {
    if (active) return NLIBC_E_NOTFOUND;
    *out = text;
    return 0;
  }
  const std::string& section = p.sections[0];
  Rewriter w(text, p);
  if (active) {
    size_t i = 0;
    for (; i < p.lines.size(); ++i) {
      const Line& l = p.lines[i];
      if (l.kind == Kind::kComment && InSection(p, l, section) &&
          CommentedOption(text, l, key) != std::string::npos)
        break;
    }
    if (i == p.lines.size()) {
      // Already active (a concurrent writer may have just activated it):
      // the line is what the caller wants.
      if (ActiveLines(text, p, section, key).empty()) return NLIBC_E_NOTFOUND;
      *out = text;
      return 0;
    }
    size_t b = CommentedOption(text, p.lines[i], key);
    w.Replace(i, text.substr(b, p.lines[i].end - b));
  } else {
    std::vector<size_t> lines = ActiveLines(text, p, section, key);
    if (lines.empty()) {
      *out = text;
      return 0;
    }
    for (size_t i : lines) {
      w.Replace(i, "# " + Content(text, p.lines[i]));
      for (size_t j = i + 1;
           j < p.lines.size() && p.lines[j].kind == Kind::kContinuation; ++j)
        w.Replace(j, "#" + Content(text, p.lines[j]));
    }
  }
  std::string result = w.Text();
  if (int rc = Verify(text, result, section, key)) return rc;
  Parsed pr;
  Parse(result, &pr);
  if (ActiveLines(result, pr, section, key).empty() == active)
    return NLIBC_E_UNFAITHFUL;
  *out = result;
  return 0;
}

int ConfGetLine(const std::string& text, const std::string& token,
                std::string* line) {
  std::string key;
  if (int rc = TokenKey(token, &key)) return rc;
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  if (p.sections.empty()) return NLIBC_E_NOTFOUND;
  std::vector<size_t> lines = ActiveLines(text, p, p.sections[0], key);
  if (lines.empty()) return NLIBC_E_NOTFOUND;
  *line = Content(text, p.lines[lines.back()]);
  return 0;
}

int ConfSetLine(const std::string& text, const std::string& token,
                const std::string& line, std::string* out) {
  std::string key;
  if (int rc = TokenKey(token, &key)) return rc;
  if (int rc = CheckText(line)) return rc;
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  if (p.sections.empty()) return NLIBC_E_NOTFOUND;
  std::vector<size_t> lines = ActiveLines(text, p, p.sections[0], key);
  if (lines.empty()) return NLIBC_E_NOTFOUND;
  Rewriter w(text, p);
  w.Replace(lines.back(), line);
  std::string result = w.Text();
  if (int rc = Verify(text, result, p.sections[0], key)) return rc;
  *out = result;
  return 0;
}

int ConfGetSection(const std::string& text, const std::string& section,
                   Pairs* pairs) {
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  std::map<std::string, size_t> at;  // lower-case key -> index in *pairs
  const std::string home = Lower(section);
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (l.kind != Kind::kOption || Home(p, l) != home) continue;
    std::string key = OptionKey(text, l);
    auto it = at.find(Lower(key));
    if (it == at.end()) {
      at[Lower(key)] = pairs->size();
      pairs->emplace_back(key, OptionValue(text, p, i));
    } else {
      (*pairs)[it->second].second = OptionValue(text, p, i);
    }
  }
  return 0;
}

int ConfSetSection(const std::string& text, const std::string& section,
                   const Pairs& pairs, std::string* out) {
  if (int rc = CheckText(section)) return rc;
  if (section.empty() || section.find(']') != std::string::npos)
    return NLIBC_E_ARG;
  std::set<std::string> seen;
  for (const auto& kv : pairs) {
    if (int rc = CheckKey(kv.first)) return rc;
    if (int rc = CheckValue(kv.second)) return rc;
    if (!seen.insert(Lower(kv.first)).second) return NLIBC_E_DUPKEY;
  }
  Parsed p;
  if (int rc = Parse(text, &p)) return rc;
  std::vector<std::string> body;
  for (const auto& kv : pairs) body.push_back(kv.first + " = " + kv.second);

  Rewriter w(text, p);
  size_t header = p.lines.size(), firstOption = p.lines.size();
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const Line& l = p.lines[i];
    if (!InSection(p, l, section)) continue;
    if (l.kind == Kind::kSection && header == p.lines.size()) header = i;
    if (l.kind == Kind::kOption || l.kind == Kind::kContinuation) {
      if (l.kind == Kind::kOption && firstOption == p.lines.size())
        firstOption = i;
      w.Drop(i);
    }
  }
  if (header == p.lines.size()) {
    if (!text.empty()) body.insert(body.begin(), "");
    body.insert(body.begin() + (text.empty() ? 0 : 1), "[" + section + "]");
    for (const std::string& line : body) w.InsertBefore(p.lines.size(), line);
  } else if (firstOption < p.lines.size()) {
    for (const std::string& line : body) w.InsertBefore(firstOption, line);
  } else {
    for (const std::string& line : body)
      w.InsertAfter(SectionTail(p, header), line);
  }
  std::string result = w.Text();
  if (int rc = Verify(text, result, section, "")) return rc;
  Pairs check;
  if (ConfGetSection(result, section, &check) != 0 || check != pairs)
    return NLIBC_E_UNFAITHFUL;
  *out = result;
  return 0;
}

}  // namespace nlibc
