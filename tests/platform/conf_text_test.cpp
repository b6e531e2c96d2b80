// The config parser and editor on strings: agreement with Subversion's own
// parser, each edit as a whole-text comparison, and the refusals.

#include "conf_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

// Our view of a text in the shape of Subversion's, for comparison.
SvnConfig OurView(const std::string& text, const SvnConfig& sections) {
  SvnConfig view;
  for (const auto& s : sections) {
    Pairs pairs;
    EXPECT_EQ(0, nlibc::ConfGetSection(text, s.first, &pairs));
    for (const auto& kv : pairs) view[s.first][kv.first] = kv.second;
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
    EXPECT_EQ(svnOk, nlibc::ConfCheck(text) == 0)
        << "text: [" << text << "] svn: " << error;
    if (svnOk && nlibc::ConfCheck(text) == 0) {
      EXPECT_EQ(theirs, OurView(text, theirs)) << "text: [" << text << "]";
    }
  }
}

TEST(ConfParse, KeyValueIsWhatSvnserveUses) {
  struct {
    const char* text;
    const char* section;  // the first one
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
  };
  for (const auto& c : cases) {
    std::string value;
    bool found = true;
    ASSERT_EQ(0, nlibc::ConfGetKeyValue(c.text, c.key, &value, &found))
        << c.text;
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
  ASSERT_EQ(0, nlibc::ConfLineComment(tpl, "anon-access = ", true, &out));
  EXPECT_EQ(Replace(tpl, "# anon-access = read", "anon-access = read"), out);

  ASSERT_EQ(0, nlibc::ConfSetKeyValue(tpl, "realm", "Team A", &out));
  EXPECT_EQ(Replace(tpl, "# realm = My First Repository", "realm = Team A"),
            out);

  std::string line;
  EXPECT_EQ(NLIBC_E_NOTFOUND, nlibc::ConfGetLine(tpl, "realm =", &line));
  ASSERT_EQ(0, nlibc::ConfGetLine(out, "realm =", &line));
  EXPECT_EQ("realm = Team A", line);

  EXPECT_EQ(NLIBC_E_NOTFOUND,
            nlibc::ConfLineComment(tpl, "no-such-key = ", true, &out));
  // Activating a line that is active already changes nothing.
  std::string active = Replace(tpl, "# realm = My First Repository", "realm = R");
  ASSERT_EQ(0, nlibc::ConfLineComment(active, "realm =", true, &out));
  EXPECT_EQ(active, out);
}

TEST(ConfEdit, CommentingOutRemovesEveryActiveLineOfTheKey) {
  std::string text =
      "[general]\nrealm = a\nx = 1\nRealm: b\n  more\n[sasl]\nrealm = s\n";
  std::string out;
  ASSERT_EQ(0, nlibc::ConfLineComment(text, "realm =", false, &out));
  EXPECT_EQ(
      "[general]\n# realm = a\nx = 1\n# Realm: b\n#  more\n[sasl]\nrealm = s\n",
      out);
  // Nothing left to comment out: the text stays as it is.
  std::string again;
  ASSERT_EQ(0, nlibc::ConfLineComment(out, "realm =", false, &again));
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
      {"no line at all: end of the first section",
       "[general]\nx = 1\n# note\n\n[sasl]\n",
       "[general]\nx = 1\n# note\nrealm = NEW\n\n[sasl]\n"},
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
    ASSERT_EQ(0, nlibc::ConfSetKeyValue(c.text, "realm", "NEW", &out))
        << c.name;
    EXPECT_EQ(c.expected, out) << c.name;
  }
}

TEST(ConfEdit, SetSectionReplacesOptionsAndKeepsComments) {
  const std::string& tpl = RealTemplates().passwd;
  std::string out;
  Pairs accounts{{"alice", "pw1"}, {"bob", "p w=2:#"}};
  ASSERT_EQ(0, nlibc::ConfSetSection(tpl, "users", accounts, &out));
  EXPECT_EQ(tpl + "alice = pw1\nbob = p w=2:#\n", out);

  std::string second;
  ASSERT_EQ(0, nlibc::ConfSetSection(out, "users", {{"carol", "x"}}, &second));
  EXPECT_EQ(tpl + "carol = x\n", second);

  ASSERT_EQ(0, nlibc::ConfSetSection(out, "users", {}, &second));
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
  };
  for (const auto& c : cases) {
    ASSERT_EQ(0, nlibc::ConfSetSection(c.text, "users", {{"z", "9"}}, &out))
        << c.name;
    EXPECT_EQ(c.expected, out) << c.name;
  }
}

TEST(ConfEdit, GetSectionMergesAsSvnserve) {
  Pairs pairs;
  ASSERT_EQ(0, nlibc::ConfGetSection(
                   "[users]\nBob = 1\n[x]\n[Users]\nbob = 2\nann = 3\n",
                   "users", &pairs));
  EXPECT_EQ((Pairs{{"Bob", "2"}, {"ann", "3"}}), pairs);
  pairs.clear();
  ASSERT_EQ(0, nlibc::ConfGetSection("[groups]\n", "users", &pairs));
  EXPECT_TRUE(pairs.empty());
}

TEST(ConfEdit, RefusesWhatCannotBeWrittenFaithfully) {
  const std::string text = "[general]\nrealm = a\n";
  struct {
    const char* name;
    std::string key, value;
    int code;
  } values[] = {
      {"LF in value", "realm", "a\nb", NLIBC_E_BADCHAR},
      {"CR in value", "realm", "a\rb", NLIBC_E_BADCHAR},
      {"NUL in value", "realm", std::string("a\0b", 3), NLIBC_E_BADCHAR},
      {"leading blank", "realm", " a", NLIBC_E_BADVALUE},
      {"trailing tab", "realm", "a\t", NLIBC_E_BADVALUE},
      {"expansion", "realm", "a%(realm)s", NLIBC_E_BADVALUE},
      {"511 bytes is fine", "realm", std::string(511, 'x'), 0},
      {"512 bytes", "realm", std::string(512, 'x'), NLIBC_E_BADVALUE},
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
    EXPECT_EQ(c.code, nlibc::ConfSetKeyValue(text, c.key, c.value, &out))
        << c.name;
    if (c.code != 0) {
      EXPECT_EQ("untouched", out) << c.name;
    }
    EXPECT_EQ(c.code, nlibc::ConfSetSection(text, "users", {{c.key, c.value}},
                                            &out))
        << c.name;
  }
  std::string out;
  EXPECT_EQ(NLIBC_E_DUPKEY, nlibc::ConfSetSection(
                                text, "users", {{"Bob", "1"}, {"bob", "2"}},
                                &out));
  EXPECT_EQ(NLIBC_E_SYNTAX,
            nlibc::ConfSetKeyValue("realm = x\n", "realm", "y", &out));
  EXPECT_EQ(NLIBC_E_BADCHAR,
            nlibc::ConfSetLine(text, "realm =", "realm = a\nx = 1", &out));
  // A line that would move later options into another section.
  EXPECT_EQ(NLIBC_E_UNFAITHFUL,
            nlibc::ConfSetLine("[general]\nrealm = a\nx = 1\n", "realm =",
                               "[other]", &out));
  // Edits whose lines Subversion would file under [DEFAULT], changing the
  // value there.
  const std::string shadowed =
      "[general]\nx = 1\n[DEFAULT]\nrealm = d\n[general]\nrealm = g\n";
  out = "untouched";
  EXPECT_EQ(NLIBC_E_UNFAITHFUL,
            nlibc::ConfSetKeyValue(shadowed, "realm", "new", &out));
  EXPECT_EQ(NLIBC_E_UNFAITHFUL,
            nlibc::ConfSetSection("[DEFAULT]\nharry = a\n[users]\n", "users",
                                  {{"sally", "1"}, {"harry", "2"}}, &out));
  EXPECT_EQ("untouched", out);
}

TEST(ConfEdit, WhatIsWrittenSubversionReadsBack) {
  const Templates& t = RealTemplates();
  std::string conf = t.svnserve, out;
  for (const char* token : {"anon-access = ", "auth-access = ", "password-db = "}) {
    ASSERT_EQ(0, nlibc::ConfLineComment(conf, token, true, &out)) << token;
    conf = out;
  }
  const std::string realm = "R\xC3\xA9" "alm #1: a=b ; [x] %s %";
  ASSERT_EQ(0, nlibc::ConfSetKeyValue(conf, "realm", realm, &out));
  ASSERT_EQ(0, nlibc::ConfSetKeyValue(out, "anon-access", "none", &conf));
  SvnConfig cfg;
  std::string error;
  ASSERT_TRUE(SvnReadConfigText(conf, &cfg, &error)) << error;
  EXPECT_EQ((std::map<std::string, std::string>{{"anon-access", "none"},
                                                {"auth-access", "write"},
                                                {"password-db", "passwd"},
                                                {"realm", realm}}),
            cfg["general"]);

  Pairs accounts{{"alice", "a b c"}, {"Z", "#1"}, {"\xC3\xA9t\xC3\xA9", "="},
                 {"x y", ""}, {"b]", "[v]"}};
  ASSERT_EQ(0, nlibc::ConfSetSection(t.passwd, "users", accounts, &out));
  ASSERT_TRUE(SvnReadConfigText(out, &cfg, &error)) << error;
  std::map<std::string, std::string> expected(accounts.begin(), accounts.end());
  EXPECT_EQ(expected, cfg["users"]);
}

}  // namespace
