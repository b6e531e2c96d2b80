// The config parser and editor on strings: agreement with Subversion's own
// parser, each edit as a whole-text comparison, and the refusals.

#include "conf_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>
#include <fstream>
#include <sstream>

#include "nlibc.h"
#include "svn_config_reader.h"

namespace {

using nlibc::Pairs;

// The templates that the real `svnadmin create` writes.
struct Templates {
  std::string svnserve, passwd;
};

const Templates& RealTemplates() {
  static Templates t = [] {
    char dir[] = "/tmp/conftplXXXXXX";
    std::string repo = std::string(mkdtemp(dir)) + "/r";
    std::string cmd = "svnadmin create " + repo;
    EXPECT_EQ(0, std::system(cmd.c_str()));
    auto slurp = [](const std::string& p) {
      std::ifstream f(p, std::ios::binary);
      std::stringstream s;
      s << f.rdbuf();
      return s.str();
    };
    Templates r{slurp(repo + "/conf/svnserve.conf"),
                slurp(repo + "/conf/passwd")};
    std::system(("rm -rf " + std::string(dir)).c_str());
    return r;
  }();
  return t;
}

std::string Replace(std::string text, const std::string& from,
                    const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(std::string::npos, at) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

int Check(const std::string& text) {
  nlibc::ConfDoc doc;
  return doc.Load(text);
}

// One edit of `text` made through a ConfDoc: the new text in *out when the
// edit is kept, and its code.
int Edit(const std::string& text, std::string* out,
         const std::function<int(nlibc::ConfDoc&)>& edit) {
  nlibc::ConfDoc doc;
  if (int rc = doc.Load(text)) return rc;
  int rc = edit(doc);
  EXPECT_TRUE(rc == 0 || doc.Text() == text) << "a refused edit changed the text";
  if (rc == 0) *out = doc.Text();
  return rc;
}

int Set(const std::string& text, const std::string& section,
        const std::string& key, const std::string& value, std::string* out) {
  return Edit(text, out, [&](nlibc::ConfDoc& d) { return d.Set(section, key, value); });
}

int SetSection(const std::string& text, const std::string& section,
               const Pairs& pairs, std::string* out) {
  return Edit(text, out, [&](nlibc::ConfDoc& d) { return d.SetSection(section, pairs); });
}

Pairs Section(const std::string& text, const std::string& section) {
  nlibc::ConfDoc doc;
  EXPECT_EQ(0, doc.Load(text));
  Pairs pairs;
  doc.GetSection(section, &pairs);
  return pairs;
}

// Our view of a text in the shape of Subversion's, for comparison.
SvnConfig OurView(const std::string& text, const SvnConfig& sections) {
  SvnConfig view;
  for (const auto& s : sections) {
    for (const auto& kv : Section(text, s.first)) view[s.first][kv.first] = kv.second;
    view[s.first];
  }
  return view;
}

TEST(ConfParse, AgreesWithSubversion) {
  const char* cases[] = {
      "[general]\nrealm = a\n  b\n\tc \n",
      "[general]\nrealm = a\n\n  b\n",
      "[general]\n  # indented comment\n",
      "[general]\n# a\n  b\n",
      " [general]\n",
      "realm = x\n",
      "[]\nx = y\n",
      "[]\n",
      "[general]\nnovalue\n",
      "[general]\nkey: v:w=x\n",
      "[general]\nk = v # not a comment\n",
      "[General]\na = 1\n[sasl]\nb = 2\n[general]\nA = 2\n",
      "[general]\r\nrealm = x\r\n\r\nb = y \r\n",
      "\xEF\xBB\xBF[general]\nx = 1\n",
      "[general]\nx = 1",
      "[ general ]\nx = 1\n",
      "[general]\n= empty name\n",
      "[general]\nx = a\n \t\n y\n",
      "[general]\nx =\n  cont\n",
      "[general]\nx = a \n\tb \n",
      "[general\nx = 1\n",
      "[general] trailing text\nx=1\n",
      "[general]\nx\v= 1\n\f\n",
      "[users]\nBob = 1\nbob = 2\nBOB = 3\n",
      "[users]\n[bob] = pw\nalice = 2\n",
      "",
      "\n\n# only comments\n",
      "\r[general]\r\n\rk\r:\r v \r\n",
      "[general]\n\r k = v\n",
      "[gen\ral]\nk\ry = v\rz\n",
      "[general]\nk = v\n \r\n",
      // An option of a section that holds others goes to [DEFAULT] when
      // that holds it already; a first option creates its section.
      "[DEFAULT]\nk = 1\n[x]\nj = 0\nk = 2\nk = 3\n",
      "[DEFAULT]\nk = 1\n[x]\nk = 2\nj = 0\nk = 3\n",
      "[x]\nj = 0\n[default]\nK = 1\n[X]\nk = 2\n[y]\nz = 1\nk = 3\n",
      "[x]\nj = 0\nk = 0\n[DEFAULT]\nk = 1\n[x]\nk = 2\n",
      "[DEFAULT]\nk = 1\n[ Def ault ]\nj = 0\nk = 2\n",
      "[ DEFAULT]\nk = 1\n[x]\nj = 0\nk = 2\n",
      // %(name)s: from the section or [DEFAULT]; unknown names, a lone
      // "%(" and cycles as Subversion leaves them.
      "[users]\na = x%(b)sy%(B)s\nb = 1\n",
      "[users]\na = %(nope)s %( %(b\nb = 1\n",
      "[users]\na = %(b)s\nb = %(a)s\nc = <%(a)s>\nd = %(d)s!\n",
      "[DEFAULT]\nd = D\n[users]\na = %(d)s\n",
      "[users]\na = %(b)s%(c)s\nb = %(c)s\nc = 3\n",
      "[users]\na = %(b)\nb = 1\nc = %(b)s)s\n",
  };
  std::vector<std::string> texts(std::begin(cases), std::end(cases));
  // NUL bytes: an error in a section name or a key, the end of a value.
  for (const char* nul : {"[u\0sers]\n", "[general]\nk\0y = v\n",
                          "[general]\n\0k = v\n", "[general]\nk = v\0x\n",
                          "[general]\0x\nk = v\n", "[general]\nk = v\n \0x\n"})
    texts.emplace_back(nul, strlen(nul) + strlen(nul + strlen(nul) + 1) + 1);
  for (const std::string& text : texts) {
    SvnConfig theirs;
    std::string error;
    bool svnOk = SvnReadConfigText(text, &theirs, &error);
    EXPECT_EQ(svnOk, Check(text) == 0)
        << "text: [" << text << "] svn: " << error;
    if (svnOk && Check(text) == 0) {
      EXPECT_EQ(theirs, OurView(text, theirs)) << "text: [" << text << "]";
    }
  }
}

TEST(ConfParse, KeyValueIsWhatSvnserveUses) {
  struct {
    const char* text;
    const char* section;
    const char* key;
    bool found;
    const char* value;
  } cases[] = {
      {"[general]\nrealm = a\nREALM = b\n", "general", "realm", true, "b"},
      {"[general]\n# realm = a\n", "general", "realm", false, ""},
      {"[general]\nx = 1\n[sasl]\nrealm = s\n", "general", "realm", false,
       ""},
      {"[general]\nx = 1\n[sasl]\n[General]\nrealm = late\n", "general",
       "realm", true, "late"},
      // Wherever the section stands.
      {"[sasl]\nuse-sasl = true\n[general]\nanon-access = none\n", "general",
       "anon-access", true, "none"},
      {"[sasl]\nuse-sasl = true\n", "general", "anon-access", false, ""},
      {"[DEFAULT]\nanon-access = write\n[general]\n", "DEFAULT",
       "anon-access", true, "write"},
      // [DEFAULT] only stands in for a section that holds options.
      {"[general]\n[DEFAULT]\nanon-access = write\n", "general",
       "anon-access", false, ""},
      {"[general]\nx = 1\n[DEFAULT]\nanon-access = write\n", "general",
       "anon-access", true, "write"},
      {"[general]\nx = 1\n[DEFAULT]\nrealm = d\n[general]\nrealm = g\n"
       "[sasl]\ny = 1\nrealm = s\n",
       "general", "realm", true, "s"},
      {"[general]\nrealm = a\n  b\n", "general", "realm", true, "a b"},
      {"[general]\nrealm =\n", "general", "realm", true, ""},
      // Expanded as svnserve gets it.
      {"[general]\nx = wri\nanon-access = %(x)ste\n", "general",
       "anon-access", true, "write"},
      {"[general]\nrealm = %(realm)s\n", "general", "realm", true, ""},
      {"[general]\nx = 1\n[DEFAULT]\nd = R\nrealm = <%(d)s>\n", "general",
       "realm", true, "<R>"},
  };
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(c.text)) << c.text;
    std::string value;
    bool found = true;
    doc.Get(c.section, c.key, &value, &found);
    EXPECT_EQ(c.found, found) << c.text;
    if (c.found) {
      EXPECT_EQ(c.value, value) << c.text;
    }
    std::string theirs;
    EXPECT_EQ(c.found, SvnGetValueText(c.text, c.section, c.key, &theirs))
        << c.text;
    EXPECT_EQ(c.found ? c.value : "", theirs) << c.text;
  }
}

TEST(ConfEdit, ActivatesTemplateLines) {
  const std::string& tpl = RealTemplates().svnserve;
  std::string out;
  auto activate = [&](const std::string& text, const char* key) {
    return Edit(text, &out, [&](nlibc::ConfDoc& d) { return d.Activate("general", key); });
  };
  ASSERT_EQ(0, activate(tpl, "anon-access"));
  EXPECT_EQ(Replace(tpl, "# anon-access = read", "anon-access = read"), out);

  ASSERT_EQ(0, Set(tpl, "general", "realm", "Team A", &out));
  EXPECT_EQ(Replace(tpl, "# realm = My First Repository", "realm = Team A"),
            out);

  nlibc::ConfDoc doc;
  std::string line;
  ASSERT_EQ(0, doc.Load(tpl));
  EXPECT_EQ(NLIBC_E_NOTFOUND, doc.GetLine("general", "realm", &line));
  ASSERT_EQ(0, doc.Load(out));
  ASSERT_EQ(0, doc.GetLine("general", "realm", &line));
  EXPECT_EQ("realm = Team A", line);

  EXPECT_EQ(NLIBC_E_NOTFOUND, activate(tpl, "no-such-key"));
  // Activating a line that is active already changes nothing.
  std::string active = Replace(tpl, "# realm = My First Repository", "realm = R");
  ASSERT_EQ(0, activate(active, "realm"));
  EXPECT_EQ(active, out);
}

TEST(ConfEdit, CommentingOutRemovesEveryActiveLineOfTheKey) {
  auto comment = [](const std::string& text, std::string* out) {
    return Edit(text, out, [](nlibc::ConfDoc& d) { return d.Comment("general", "realm"); });
  };
  std::string text =
      "[general]\nrealm = a\nx = 1\nRealm: b\n  more\n[sasl]\nrealm = s\n";
  std::string out;
  ASSERT_EQ(0, comment(text, &out));
  EXPECT_EQ(
      "[general]\n# realm = a\nx = 1\n# Realm: b\n#  more\n[sasl]\nrealm = s\n",
      out);
  // Nothing left to comment out: the text stays as it is.
  std::string again;
  ASSERT_EQ(0, comment(out, &again));
  EXPECT_EQ(out, again);
}

TEST(ConfEdit, SetKeyValueRewritesTheWinningLineOnly) {
  struct {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"duplicates: the last wins", "[general]\nrealm = a\nrealm=b\n",
       "[general]\nrealm = a\nrealm=NEW\n"},
      {"continuation lines belong to the old value",
       "[general]\nrealm = a\n  b\nx = 1\n",
       "[general]\nrealm = NEW\nx = 1\n"},
      {"case of the key in the file", "[general]\nREALM = a\n",
       "[general]\nREALM = NEW\n"},
      {"no line at all: end of the section",
       "[general]\nx = 1\n# note\n\n[sasl]\n",
       "[general]\nx = 1\n# note\nrealm = NEW\n\n[sasl]\n"},
      {"the section after another",
       "[sasl]\nuse-sasl = false\n[general]\n# realm = old\n",
       "[sasl]\nuse-sasl = false\n[general]\nrealm = NEW\n"},
      {"the first block of a repeated section",
       "[General]\nx = 1\n\n[sasl]\n[general]\ny = 2\n",
       "[General]\nx = 1\nrealm = NEW\n\n[sasl]\n[general]\ny = 2\n"},
      {"no section at all", "[sasl]\nuse-sasl = false",
       "[sasl]\nuse-sasl = false\n\n[general]\nrealm = NEW\n"},
      {"empty text", "", "[general]\nrealm = NEW\n"},
      {"no final newline", "[general]\nx = 1", "[general]\nx = 1\nrealm = NEW\n"},
      {"CRLF file", "[general]\r\n# realm = a\r\nx = 1\r\n",
       "[general]\r\nrealm = NEW\r\nx = 1\r\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[general]\nrealm = a\n",
       "\xEF\xBB\xBF[general]\nrealm = NEW\n"},
      {"repeated first section", "[general]\n[sasl]\nx = 1\n[general]\nrealm = a\n",
       "[general]\n[sasl]\nx = 1\n[general]\nrealm = NEW\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_EQ(0, Set(c.text, "general", "realm", "NEW", &out)) << c.name;
    EXPECT_EQ(c.expected, out) << c.name;
  }
}

TEST(ConfEdit, SetSectionReplacesOptionsAndKeepsComments) {
  const std::string& tpl = RealTemplates().passwd;
  std::string out;
  Pairs accounts{{"alice", "pw1"}, {"bob", "p w=2:#"}};
  ASSERT_EQ(0, SetSection(tpl, "users", accounts, &out));
  EXPECT_EQ(tpl + "alice = pw1\nbob = p w=2:#\n", out);

  std::string second;
  ASSERT_EQ(0, SetSection(out, "users", {{"carol", "x"}}, &second));
  EXPECT_EQ(tpl + "carol = x\n", second);

  ASSERT_EQ(0, SetSection(out, "users", {}, &second));
  EXPECT_EQ(tpl, second);

  struct {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"repeats lose their options",
       "[users]\na = 1\n# keep\nb = 2\n  cont\n[groups]\ng = a\n[USERS]\nc = 3\n",
       "[users]\nz = 9\n# keep\n[groups]\ng = a\n[USERS]\n"},
      {"missing section is appended", "[groups]\ng = a",
       "[groups]\ng = a\n\n[users]\nz = 9\n"},
      {"empty file", "", "[users]\nz = 9\n"},
      {"after other sections", "[groups]\n[users]\n# none yet\n[aliases]\n",
       "[groups]\n[users]\n# none yet\nz = 9\n[aliases]\n"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(0, SetSection(c.text, "users", {{"z", "9"}}, &out)) << c.name;
    EXPECT_EQ(c.expected, out) << c.name;
  }
}

// Lookups that differ between two texts as svnserve reads them, but
// those of `section` (and only of `key`, unless empty).
std::vector<std::string> OtherLookupsChanged(const std::string& before,
                                             const std::string& after,
                                             const std::string& section,
                                             const std::string& key) {
  SvnLookupMap a, b;
  EXPECT_TRUE(SvnLookupsText(before, &a) && SvnLookupsText(after, &b));
  std::vector<std::string> changed;
  for (const SvnLookupMap* m : {&a, &b})
    for (const auto& e : *m) {
      if (e.first.first == section && (key.empty() || e.first.second == key)) continue;
      auto ia = a.find(e.first), ib = b.find(e.first);
      if (ia == a.end() || ib == b.end() || ia->second != ib->second)
        changed.push_back(e.first.first + "/" + e.first.second);
    }
  return changed;
}

TEST(ConfEdit, SetSectionKeepsLinesInPlace) {
  struct {
    const char* name;
    const char* text;
    Pairs pairs;
    const char* expected;
    bool exact = false;
  } cases[] = {
      {"comments stay with their accounts, a new one follows the last",
       "[users]\n# Harry, ops\nharry = h1\n# Sally\nsally = s1\n\n# end\n[groups]\n",
       {{"sally", "s2"}, {"harry", "h1"}, {"carol", "c"}},
       "[users]\n# Harry, ops\nharry = h1\n# Sally\nsally = s2\ncarol = c\n\n# end\n[groups]\n"},
      {"a removed key loses its continuation lines",
       "[users]\na = 1\n  more\nb = 2\n", {{"b", "2"}}, "[users]\nb = 2\n"},
      {"names compare ignoring case; separators stay, spelling follows",
       "[users]\nBob:old\nann\t= x\n\rcy =  y\n", {{"Bob", "new"}, {"ANN", "x"}, {"cy", "z"}},
       "[users]\nBob:new\nANN\t= x\n\rcy =  z\n"},
      {"an unchanged value keeps its line byte for byte",
       "[users]\nbob   =\tpw  \nal = a\n  b\n", {{"bob", "pw"}, {"al", "a b"}},
       "[users]\nbob   =\tpw  \nal = a\n  b\n"},
      {"a key written twice keeps the line that wins",
       "[users]\nbob = 1\nalice = a\nBOB = 2\n", {{"bob", "3"}, {"alice", "a"}},
       "[users]\nalice = a\nbob = 3\n"},
      {"new keys after the last option of the last block",
       "[users]\na = 1\n[groups]\ng = x\n[users]\nb = 2\n# tail\n",
       {{"a", "1"}, {"b", "3"}, {"c", "4"}},
       "[users]\na = 1\n[groups]\ng = x\n[users]\nb = 3\nc = 4\n# tail\n"},
      {"an empty value gets its blank", "[users]\nbob =\n", {{"bob", "x"}},
       "[users]\nbob = x\n"},
      {"CRLF and no final newline", "[users]\r\na = 1", {{"a", "1"}, {"b", "2"}},
       "[users]\r\na = 1\r\nb = 2\r\n"},
      {"authz names compare exactly", "[groups]\nDevs = a\ndevs = b\n",
       {{"devs", "c"}}, "[groups]\ndevs = c\n", true},
  };
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(c.text, c.exact ? nlibc::ConfDoc::kExact : nlibc::ConfDoc::kSvnserve))
        << c.name;
    const std::string section = c.exact ? "groups" : "users";
    ASSERT_EQ(0, doc.SetSection(section, c.pairs)) << c.name;
    EXPECT_EQ(c.expected, doc.Text()) << c.name;
    if (c.exact) continue;
    // Subversion reads exactly the pairs there, and the rest as before.
    SvnConfig cfg;
    std::string error;
    ASSERT_TRUE(SvnReadConfigText(doc.Text(), &cfg, &error)) << error;
    std::map<std::string, std::string> theirs;
    for (const auto& kv : cfg[section]) theirs[kv.first] = kv.second;
    EXPECT_EQ(c.pairs.size(), theirs.size()) << c.name;
    for (const auto& kv : c.pairs) {
      std::string v;
      EXPECT_TRUE(SvnGetValueText(doc.Text(), section, kv.first, &v) && v == kv.second)
          << c.name << ": " << kv.first;
    }
    EXPECT_TRUE(OtherLookupsChanged(c.text, doc.Text(), section, "").empty()) << c.name;
  }
}

TEST(ConfEdit, ValuesFromDefaultAreSetInTheSection) {
  struct {
    const char* name;
    const char* text;
    const char* key;
    int rc;
    const char* expected;  // when kept
  } cases[] = {
      {"a block of the section before [DEFAULT]",
       "[DEFAULT]\nrealm = Company\n[general]\n# access\nanon-access = none\n[sasl]\nuse-sasl = false\n",
       "realm", 0,
       "[general]\nrealm = Team\n[DEFAULT]\nrealm = Company\n[general]\n# access\nanon-access = none\n"
       "[sasl]\nuse-sasl = false\n"},
      {"a commented-out line that would fall through stays a comment",
       "[DEFAULT]\nanon-access = read\n[general]\nrealm = r\n# anon-access = read\n",
       "anon-access", 0,
       "[general]\nanon-access = Team\n[DEFAULT]\nanon-access = read\n[general]\nrealm = r\n"
       "# anon-access = read\n"},
      {"a first block before the section's options",
       "[DEFAULT]\nrealm = d\n[general]\n# none yet\n[sasl]\nx = 1\n[general]\npassword-db = p\n",
       "realm", 0,
       "[DEFAULT]\nrealm = d\n[general]\n# none yet\nrealm = Team\n[sasl]\nx = 1\n[general]\n"
       "password-db = p\n"},
      {"the section made before [DEFAULT]",
       "[DEFAULT]\nrealm = d\n[sasl]\nx = 1\n[general]\npassword-db = p\n[General]\n# more\n",
       "realm", 0,
       "[general]\nrealm = Team\n[DEFAULT]\nrealm = d\n[sasl]\nx = 1\n[general]\npassword-db = p\n"
       "[General]\n# more\n"},
      {"where [DEFAULT] does not hold it yet, the usual place",
       "[general]\nx = 1\n[DEFAULT]\nrealm = d\n", "realm", 0,
       "[general]\nx = 1\nrealm = Team\n[DEFAULT]\nrealm = d\n"},
      {"refused when the section's first option is [DEFAULT]'s too",
       "[DEFAULT]\nrealm = d\nanon-access = read\n[general]\nanon-access = none\n", "realm",
       NLIBC_E_UNFAITHFUL, nullptr},
  };
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(c.text)) << c.name;
    ASSERT_EQ(c.rc, doc.Set("general", c.key, "Team")) << c.name;
    if (c.rc != 0) {
      EXPECT_EQ(c.text, doc.Text()) << c.name;
      continue;
    }
    EXPECT_EQ(c.expected, doc.Text()) << c.name;
    std::string v;
    EXPECT_TRUE(SvnGetValueText(doc.Text(), "general", c.key, &v) && v == "Team") << c.name;
    EXPECT_TRUE(OtherLookupsChanged(c.text, doc.Text(), "general", c.key).empty()) << c.name;
  }
  // Several of them: each joins the block before [DEFAULT].
  {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load("[DEFAULT]\nrealm = d\nanon-access = read\n[general]\nx = 1\n"));
    ASSERT_EQ(0, doc.Set("general", "realm", "Here"));
    ASSERT_EQ(0, doc.Set("general", "anon-access", "none"));
    EXPECT_EQ("[general]\nrealm = Here\nanon-access = none\n[DEFAULT]\nrealm = d\n"
              "anon-access = read\n[general]\nx = 1\n",
              doc.Text());
  }
  // Activating or commenting out where [DEFAULT] answers: refused, the
  // text as it was.
  const std::string fromDefault =
      "[DEFAULT]\nrealm = Company\n[general]\nanon-access = none\n# realm = Mine\n";
  struct {
    const char* name;
    std::string text;
    bool activate;
  } refusals[] = {
      {"activating a line [DEFAULT] would take", fromDefault, true},
      {"commenting out what [DEFAULT] gives", fromDefault, false},
      {"commenting out the section's own, which [DEFAULT] would replace",
       Replace(fromDefault, "[general]\n", "[general]\nrealm = Team\n"), false},
  };
  for (const auto& c : refusals) {
    std::string out = "untouched";
    EXPECT_EQ(NLIBC_E_UNFAITHFUL, Edit(c.text, &out, [&](nlibc::ConfDoc& d) {
                return c.activate ? d.Activate("general", "realm")
                                  : d.Comment("general", "realm");
              })) << c.name;
    EXPECT_EQ("untouched", out) << c.name;
  }
}

TEST(ConfEdit, SetSectionsIsOneEditOfManySections) {
  const Pairs devs{{"devs", "alice, bob"}}, trunk{{"@devs", "rw"}}, bad{{"a", "x\ny"}};
  struct {
    const char* name;
    std::vector<std::pair<std::string, const Pairs*>> sections;
    int rc;
    const char* expected;  // the text after, when kept
  } cases[] = {
      {"set, add and remove",
       {{"groups", &devs}, {"/trunk", &trunk}, {"/old", nullptr}},
       0, "# c\n[groups]\ndevs = alice, bob\n# kept\n[/x]\nB = r\n\n[/trunk]\n@devs = rw\n"},
      {"one refused keeps all", {{"groups", &devs}, {"/trunk", &bad}}, NLIBC_E_BADCHAR, nullptr},
  };
  const std::string text = "# c\n[groups]\nold = a\n[/old]\nA = r\n# kept\n[/x]\nB = r\n";
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(text, nlibc::ConfDoc::kExact));
    EXPECT_EQ(c.rc, doc.SetSections(c.sections)) << c.name;
    EXPECT_EQ(c.expected != nullptr ? c.expected : text, doc.Text()) << c.name;
  }
}

TEST(ConfEdit, RenameSectionChangesOnlyItsHeaders) {
  const std::string text =
      "# top\n[a:/x] trailing\r\n# in a\nalice = r\n[/]\n* = r\n\r[a:/x]\nbob = rw\n";
  struct {
    const char* from;
    const char* to;
    int rc;
    const char* expected;  // the text after, when kept
  } cases[] = {
      {"a:/x", "b:/x", 0,
       "# top\n[b:/x] trailing\r\n# in a\nalice = r\n[/]\n* = r\n\r[b:/x]\nbob = rw\n"},
      {"a:/x", "/", NLIBC_E_DUPKEY, nullptr},
      {"A:/x", "b:/x", NLIBC_E_NOTFOUND, nullptr},  // authz names are exact
      {"a:/x", "b]:/x", NLIBC_E_ARG, nullptr},
      {"a:/x", "b\n:/x", NLIBC_E_BADCHAR, nullptr},
  };
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(text, nlibc::ConfDoc::kExact));
    EXPECT_EQ(c.rc, doc.RenameSection(c.from, c.to)) << c.to;
    EXPECT_EQ(c.expected != nullptr ? c.expected : text, doc.Text()) << c.to;
  }
  // In svnserve's syntax a section that falls back on [DEFAULT] keeps what
  // it finds there.
  nlibc::ConfDoc doc;
  ASSERT_EQ(0, doc.Load("[DEFAULT]\nk = v\n[old]\nx = %(k)s\n"));
  ASSERT_EQ(0, doc.RenameSection("OLD", "new"));
  EXPECT_EQ("[DEFAULT]\nk = v\n[new]\nx = %(k)s\n", doc.Text());
}

TEST(ConfEdit, GetSectionMergesAsSvnserve) {
  EXPECT_EQ((Pairs{{"Bob", "2"}, {"ann", "3"}}),
            Section("[users]\nBob = 1\n[x]\n[Users]\nbob = 2\nann = 3\n", "users"));
  EXPECT_TRUE(Section("[groups]\n", "users").empty());
  EXPECT_EQ((Pairs{{"a", "pw-1"}, {"b", "1"}}),
            Section("[users]\na = pw-%(b)s\nb = 1\n", "users"));

  // What svnserve finds takes [DEFAULT] in, and goes back unchanged.
  nlibc::ConfDoc doc;
  ASSERT_EQ(0, doc.Load("[DEFAULT]\nbase = top\n[users]\nalice = %(base)s\n"));
  Pairs found;
  doc.Lookups("users", &found);
  EXPECT_EQ((Pairs{{"alice", "top"}, {"base", "top"}}), found);
  EXPECT_EQ(0, doc.SetSection("users", found));
  std::string theirs;
  ASSERT_TRUE(SvnGetValueText(doc.Text(), "users", "base", &theirs));
  EXPECT_EQ("top", theirs);
}

TEST(ConfParse, ExpansionsCostNoMoreThanTheirSize) {
  std::string text = "[general]\nrealm = %(k0)s\n";
  for (int i = 0; i < 40; ++i) {
    std::string next = "%(k" + std::to_string(i + 1) + ")s";
    text += "k" + std::to_string(i) + " = " + next + next + "\n";
  }
  nlibc::ConfDoc doc;
  ASSERT_EQ(0, doc.Load(text + "k40 =\n"));  // 2^40 empty strings
  std::string realm;
  bool found = false;
  doc.Get("general", "realm", &realm, &found);
  EXPECT_TRUE(found && realm.empty());
  // 2^40 bytes: refused like a file too large to read.
  EXPECT_EQ(NLIBC_E_READ, doc.Load(text + "k40 = x\n"));
}

TEST(ConfParse, ExpandsEachValueOnceAsSvnserve) {
  // svnserve expands every option once, before use: [DEFAULT]'s in its
  // own terms, whichever section falls back on it.
  std::string chain = "[general]\nrealm = %(a0)s\n";
  for (int i = 0; i < 1000; ++i)
    chain += "a" + std::to_string(i) + " = %(a" + std::to_string(i + 1) + ")s.\n";
  chain += "a1000 = end\n";
  struct {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* value;  // null: none
  } cases[] = {
      {"[DEFAULT]'s value in its own terms",
       "[DEFAULT]\nrealm = %(name)s repo\nname = x\n[general]\nname = y\n",
       "general", "realm", "x repo"},
      {"the section's own first, then [DEFAULT]'s",
       "[DEFAULT]\nd = D\nname = x\n[general]\nname = y\nrealm = %(name)s/%(d)s\n",
       "general", "realm", "y/D"},
      {"[DEFAULT] does not see a section's options",
       "[DEFAULT]\nrealm = <%(only)s>\n[general]\nonly = g\n", "general", "realm",
       "<%(only)s>"},
      {"a cycle through [DEFAULT] is empty",
       "[DEFAULT]\nd = %(e)s\ne = %(d)s\n[general]\nrealm = a%(d)sb\n", "general",
       "realm", ""},
      {"a value beside a cycle is kept",
       "[general]\na = %(a)s\nrealm = %(b)s%(nope)s\nb = ok\n", "general", "realm",
       "ok%(nope)s"},
      {"names in any case", "[general]\nREALM = %(Name)s\nname = n\n", "general",
       "realm", "n"},
      {"a thousand deep", chain, "general", "realm", nullptr},
  };
  for (const auto& c : cases) {
    nlibc::ConfDoc doc;
    ASSERT_EQ(0, doc.Load(c.text)) << c.name;
    std::string ours, theirs;
    bool found = false;
    doc.Get(c.section, c.key, &ours, &found);
    ASSERT_TRUE(found) << c.name;
    ASSERT_TRUE(SvnGetValueText(c.text, c.section, c.key, &theirs)) << c.name;
    EXPECT_EQ(theirs, ours) << c.name;
    if (c.value != nullptr) {
      EXPECT_EQ(c.value, ours) << c.name;
    }
  }
  // Where svnserve's answer would depend on the order it happens to
  // expand sections in, the file is refused, cleanly.
  for (const char* text : {
           "[DEFAULT]\nd = %(n)s\nn = 1\n[general]\nn = 2\nrealm = %(d)s\n",
           "[DEFAULT]\nd = %(e)s\ne = %(n)s\n[x]\nn = 2\nv = %(d)s\n",
       }) {
    nlibc::ConfDoc doc;
    EXPECT_EQ(NLIBC_E_READ, doc.Load(text)) << text;
  }
}

TEST(ConfParse, HostileExpansionsGetAPromptCleanAnswer) {
  // 30,000 placeholders chained: no recursion to overflow.
  std::string chain = "[general]\nanon-access = read\nrealm = %(a0)s\n";
  for (int i = 0; i < 30000; ++i)
    chain += "a" + std::to_string(i) + " = %(a" + std::to_string(i + 1) + ")s\n";
  nlibc::ConfDoc doc;
  ASSERT_EQ(0, doc.Load(chain + "a30000 = end\n"));
  std::string realm;
  bool found = false;
  doc.Get("general", "realm", &realm, &found);
  EXPECT_TRUE(found && realm == "end");
  EXPECT_EQ(0, doc.Set("general", "anon-access", "none"));
  // A cycle as long.
  ASSERT_EQ(0, doc.Load(chain + "a30000 = %(a0)s\n"));
  doc.Get("general", "realm", &realm, &found);
  EXPECT_TRUE(found && realm.empty());

  // 3,000 [DEFAULT] values with placeholders and 3,000 sections falling
  // back on them: each value expanded once, each edit checked once.
  std::string wide = "[DEFAULT]\nx = y\n";
  for (int i = 0; i < 3000; ++i)
    wide += "d" + std::to_string(i) + " = %(x)s" + std::to_string(i) + "\n";
  for (int i = 0; i < 3000; ++i) wide += "[s" + std::to_string(i) + "]\nk = v\n";
  ASSERT_EQ(0, doc.Load(wide + "[general]\nrealm = r\n"));
  Pairs lookups;
  doc.Lookups("s2999", &lookups);
  ASSERT_EQ(3002u, lookups.size());
  EXPECT_EQ((std::pair<std::string, std::string>("d2999", "y2999")), lookups.back());
  EXPECT_EQ(0, doc.Set("general", "anon-access", "none"));
  Pairs s7;
  doc.Lookups("s7", &s7);
  s7[0].second = "w";  // its own k; [DEFAULT]'s as they are
  EXPECT_EQ(0, doc.SetSection("s7", s7));
  EXPECT_EQ(NLIBC_E_UNFAITHFUL, doc.Set("DEFAULT", "d5", "z"));

  // Values within the size limit that add up past it.
  std::string many = "[general]\nb = " + std::string(1 << 20, 'b') + "\n";
  for (int i = 0; i < 40; ++i) many += "k" + std::to_string(i) + " = %(b)s\n";
  EXPECT_EQ(NLIBC_E_READ, doc.Load(many));
}

TEST(ConfEdit, RefusesWhatCannotBeWrittenFaithfully) {
  const std::string text = "[general]\nrealm = a\n";
  struct {
    const char* name;
    std::string key, value;
    int code;             // for a single value
    int inSection = -1;   // among a section's options, when it differs
  } values[] = {
      {"LF in value", "realm", "a\nb", NLIBC_E_BADCHAR},
      {"CR in value", "realm", "a\rb", NLIBC_E_BADCHAR},
      {"NUL in value", "realm", std::string("a\0b", 3), NLIBC_E_BADCHAR},
      {"leading blank", "realm", " a", NLIBC_E_BADVALUE},
      {"trailing tab", "realm", "a\t", NLIBC_E_BADVALUE},
      {"expansion", "realm", "a%(realm)s", NLIBC_E_BADVALUE, NLIBC_E_UNFAITHFUL},
      {"a %( that reads back as it stands", "realm", "50%(x", NLIBC_E_BADVALUE, 0},
      {"a lone % is plain text", "realm", "100%", 0},
      {"no length limit", "realm", std::string(100000, 'x'), 0},
      {"empty key", "", "v", NLIBC_E_BADKEY},
      {"key with =", "a=b", "v", NLIBC_E_BADKEY},
      {"key with :", "a:b", "v", NLIBC_E_BADKEY},
      {"key starting #", "#a", "v", NLIBC_E_BADKEY},
      {"key starting [", "[a", "v", NLIBC_E_BADKEY},
      {"key with blank end", "a ", "v", NLIBC_E_BADKEY},
      {"key with LF", "a\nb", "v", NLIBC_E_BADCHAR},
  };
  for (const auto& c : values) {
    std::string out = "untouched";
    EXPECT_EQ(c.code, Set(text, "general", c.key, c.value, &out)) << c.name;
    if (c.code != 0) {
      EXPECT_EQ("untouched", out) << c.name;
    }
    const int inSection = c.inSection >= 0 ? c.inSection : c.code;
    EXPECT_EQ(inSection, SetSection(text, "users", {{c.key, c.value}}, &out))
        << c.name;
    EXPECT_EQ(c.code, nlibc::CheckOption(c.key, c.value)) << c.name;
    EXPECT_EQ(inSection, nlibc::CheckPairs({{c.key, c.value}})) << c.name;
  }
  std::string out = "untouched";
  EXPECT_EQ(NLIBC_E_DUPKEY,
            SetSection(text, "users", {{"Bob", "1"}, {"bob", "2"}}, &out));
  EXPECT_EQ(NLIBC_E_SYNTAX, Set("realm = x\n", "general", "realm", "y", &out));
  EXPECT_EQ(NLIBC_E_BADCHAR,
            Edit(text, &out, [](nlibc::ConfDoc& d) {
              return d.SetLine("general", "realm", "realm = a\nx = 1");
            }));
  // Edits that would change what svnserve reads elsewhere.
  struct {
    const char* name;
    const char* text;
    std::function<int(nlibc::ConfDoc&)> edit;
  } unfaithful[] = {
      {"a line moving later options into another section",
       "[general]\nrealm = a\nx = 1\n",
       [](nlibc::ConfDoc& d) { return d.SetLine("general", "realm", "[other]"); }},
      {"a line Subversion files under [DEFAULT]",
       "[general]\nx = 1\n[DEFAULT]\nrealm = d\n[general]\nrealm = g\n",
       [](nlibc::ConfDoc& d) { return d.Set("general", "realm", "new"); }},
      {"an account Subversion files under [DEFAULT]",
       "[DEFAULT]\nharry = a\n[users]\n",
       [](nlibc::ConfDoc& d) { return d.SetSection("users", {{"sally", "1"}, {"harry", "2"}}); }},
      {"a value others expand",
       "[general]\nrealm = a\npassword-db = %(realm)s.db\n",
       [](nlibc::ConfDoc& d) { return d.Set("general", "realm", "b"); }},
      {"a first option that lets [DEFAULT] in",
       "[general]\n[DEFAULT]\nanon-access = write\n",
       [](nlibc::ConfDoc& d) { return d.Set("general", "realm", "r"); }},
      {"a last option whose section then takes nothing from [DEFAULT]",
       "[general]\nrealm = r\n[DEFAULT]\nanon-access = write\n",
       [](nlibc::ConfDoc& d) { return d.Comment("general", "realm"); }},
      {"a key [DEFAULT] still gives",
       "[general]\nx = 1\n[DEFAULT]\nrealm = d\n",
       [](nlibc::ConfDoc& d) { return d.Comment("general", "realm"); }},
      {"an account [DEFAULT] would still let in",
       "[DEFAULT]\nbase = top\n[users]\nalice = %(base)s\n",
       [](nlibc::ConfDoc& d) { return d.SetSection("users", {{"alice", "new"}}); }},
      {"a password that would expand",
       "[users]\nx = 1\n",
       [](nlibc::ConfDoc& d) { return d.SetSection("users", {{"a", "%(b)s"}, {"b", "1"}}); }},
  };
  for (const auto& c : unfaithful) {
    out = "untouched";
    EXPECT_EQ(NLIBC_E_UNFAITHFUL, Edit(c.text, &out, c.edit)) << c.name;
    EXPECT_EQ("untouched", out) << c.name;
  }
}

TEST(ConfEdit, WhatIsWrittenSubversionReadsBack) {
  const Templates& t = RealTemplates();
  nlibc::ConfDoc doc;
  ASSERT_EQ(0, doc.Load(t.svnserve));
  for (const char* key : {"anon-access", "auth-access", "password-db"})
    ASSERT_EQ(0, doc.Activate("general", key)) << key;
  const std::string realm = "R\xC3\xA9" "alm #1: a=b ; [x] %s % <&>";
  ASSERT_EQ(0, doc.Set("general", "realm", realm));
  ASSERT_EQ(0, doc.Set("general", "anon-access", "none"));
  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfigText(doc.Text(), &cfg, &error)) << error;
  EXPECT_EQ((std::map<std::string, std::string>{{"anon-access", "none"},
                                                {"auth-access", "write"},
                                                {"password-db", "passwd"},
                                                {"realm", realm}}),
            cfg["general"]);

  Pairs accounts{{"alice", "a b c"}, {"Z", "#1"}, {"\xC3\xA9t\xC3\xA9", "="},
                 {"x y", ""}, {"b]", "[v]"}, {"long", std::string(600, 'p')}};
  std::string out;
  ASSERT_EQ(0, SetSection(t.passwd, "users", accounts, &out));
  ASSERT_TRUE(SvnReadConfigText(out, &cfg, &error)) << error;
  std::map<std::string, std::string> expected(accounts.begin(), accounts.end());
  EXPECT_EQ(expected, cfg["users"]);
}

}  // namespace
