// Fuzz target: configuration editing.  Arbitrary file bytes, then one
// reading or writing call of the utility library on them: a file call on
// the first section, or a handle call on a named section.  Invariants:
// - we refuse a text exactly when Subversion's parser refuses it, and
//   otherwise see the same sections, options and (expanded) values;
// - a refused write leaves the file byte-identical;
// - after a successful write the library reads back what it wrote, and
//   Subversion's parser reads the file and sees the written value with
//   every other option unchanged.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "conf_text.h"
#include "fuzz_support.h"
#include "nlibc.h"

namespace {

using Flat = std::map<std::pair<std::string, std::string>, std::string>;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
  return s;
}

Flat Flatten(const SvnView& view) {
  Flat flat;
  for (const auto& s : view)
    for (const auto& kv : s.second) flat[{Lower(s.first), Lower(kv.first)}] = kv.second;
  return flat;
}

// Every option but those of `section` (and of `key` alone, unless empty).
Flat Others(const Flat& flat, const std::string& section, const std::string& key) {
  Flat out;
  for (const auto& e : flat)
    if (e.first.first != Lower(section) ||
        (!key.empty() && e.first.second != Lower(key)))
      out.insert(e);
  return out;
}

const std::string& File() {
  static std::string path = [] {
    std::string dir = "/dev/shm/conf-fuzz-" + std::to_string(getpid());
    std::system(("mkdir -p " + dir).c_str());
    return dir + "/svnserve.conf";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  int op = in.ConsumeIntegralInRange(0, 10);
  std::string key = in.ConsumeRandomLengthString(24);
  std::string value = in.ConsumeRandomLengthString(48);
  std::string named = in.ConsumeBool() ? "general" : in.ConsumeRandomLengthString(12);
  nlibc::Pairs pairs;
  for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
    std::string k = in.ConsumeRandomLengthString(12);
    pairs.emplace_back(k, in.ConsumeRandomLengthString(24));
  }
  const std::string text = in.ConsumeRemainingBytesAsString();
  // The C interface sees texts up to their first NUL.
  auto cut = [](std::string& s) { s.erase(std::min(s.find('\0'), s.size())); };
  cut(key);
  cut(value);
  cut(named);
  for (auto& kv : pairs) {
    cut(kv.first);
    cut(kv.second);
  }

  // The parser agrees with Subversion's.  Texts holding CR are left out:
  // Subversion (1.14) drops a CR only where its reader happens to refill
  // or start a token, so where CR counts depends on its read buffer's
  // boundaries; the unit tests' table covers CR at line ends and starts.
  // (Its parser gets a fresh allocator each time: on recycled pool memory
  // it can call memcpy with a size of -1 on some texts.)
  const bool oracle = text.find('\r') == std::string::npos;
  nlibc::ConfDoc doc;
  const int loaded = doc.Load(text);
  const bool oursOk = loaded == 0;
  SvnView before;
  bool svnOk = oracle ? SvnParseText(text, &before) : loaded != NLIBC_E_SYNTAX;
  // We refuse what Subversion refuses, and besides only texts whose
  // expansion we refuse (too large, or depending on svnserve's order).
  FUZZ_CHECK(svnOk == (loaded != NLIBC_E_SYNTAX));
  FUZZ_CHECK(loaded != NLIBC_E_READ || text.find("%(") != std::string::npos);
  if (oursOk && oracle) {
    for (const auto& s : before) {
      nlibc::Pairs ours;
      doc.GetSection(s.first, &ours);
      FUZZ_CHECK(std::map<std::string, std::string>(ours.begin(), ours.end()) == s.second);
    }
  }

  const std::string& file = File();
  { std::ofstream(file, std::ios::binary) << text; }
  const std::string section = op >= 7 ? named : doc.FirstSection();
  const char* k = key.c_str();
  std::string token = key + " =";
  char buf[512];
  int rc = 0;
  std::string editedSection = section, editedKey = key;
  if (op == 0 || op == 7) {
    // The value svnserve would use, [DEFAULT] and all.
    std::string ours;
    bool found = false;
    if (op == 0) {
      rc = NLIBCFileGetKeyValue(file.c_str(), k, buf, sizeof buf, 0);
      found = rc == 1;
      ours = found ? buf : "";
    } else {
      PNLIBCONF conf = NLIBCConfOpen(file.c_str(), 0);
      rc = conf == nullptr ? -1 : 0;
      const char* v = conf == nullptr ? nullptr : NLIBCConfGet(conf, named.c_str(), k);
      found = v != nullptr;
      ours = found ? v : "";
      NLIBCConfFree(conf);
    }
    if (rc >= 0) FUZZ_CHECK(svnOk);
    std::string theirs;
    if (rc >= 0 && oracle) {
      bool svnFound = SvnGetText(text, section, key, &theirs);
      FUZZ_CHECK(found == svnFound && (!found || theirs == ours));
    }
    return 0;
  }
  PNLIBCONF conf = nullptr;
  switch (op) {
    case 1:
      rc = NLIBCFileGetLine(file.c_str(), token.c_str(), buf, sizeof buf, 0);
      if (rc >= 0) FUZZ_CHECK(text.find(buf) != std::string::npos);
      return 0;
    case 2:
      rc = NLIBCFileSetKeyValue(file.c_str(), k, value.c_str(), 0);
      break;
    case 3:
    case 4:
      rc = NLIBCFileLineComment(file.c_str(), token.c_str(), op == 3);
      break;
    case 5:
      rc = NLIBCFileSetLine(file.c_str(), token.c_str(), value.c_str(), 0);
      break;
    case 6: {
      PNLIBSZHASH hash = NLIBCSzHashAlloc(4);
      for (const auto& kv : pairs)
        NLIBCSzHashSetValue(&hash, kv.first.c_str(), kv.second.c_str());
      editedSection = key;
      editedKey = "";
      rc = NLIBCFileSetSection(file.c_str(), k, nullptr, hash, 0);
      NLIBCSzHashFree(hash);
      break;
    }
    default: {
      // A handle: one edit of a named section, saved.
      conf = NLIBCConfOpen(file.c_str(), NLIBC_CONF_LOCK);
      if (conf == nullptr) {
        rc = -1;
        break;
      }
      PNLIBSZHASH hash = NLIBCSzHashAlloc(4);
      for (const auto& kv : pairs)
        NLIBCSzHashSetValue(&hash, kv.first.c_str(), kv.second.c_str());
      if (op == 8) rc = NLIBCConfSet(conf, named.c_str(), k, value.c_str());
      if (op == 9) rc = NLIBCConfComment(conf, named.c_str(), k);
      if (op == 10) {
        editedKey = "";
        rc = NLIBCConfSetSection(conf, named.c_str(), hash);
      }
      NLIBCSzHashFree(hash);
      if (rc >= 0) rc = NLIBCConfSave(conf, 0);
      NLIBCConfFree(conf);
    }
  }
  const std::string after = Slurp(file);
  if (rc < 0) {
    FUZZ_CHECK(after == text);  // refused: byte-identical
    return 0;
  }
  // Written (or left alone): Subversion reads it, and only the edited
  // option or section changed.  Keys and tokens are matched after
  // trimming, as the parser trims them.
  FUZZ_CHECK(svnOk);
  nlibc::ConfDoc afterDoc;
  FUZZ_CHECK(afterDoc.Load(after) == 0);
  std::string readBack;
  bool found = false;
  afterDoc.Get(section, key, &readBack, &found);
  if (op == 2 || op == 8) FUZZ_CHECK(found && readBack == value);
  if (op == 9) FUZZ_CHECK(!found);
  if (!oracle) return 0;
  SvnView seen;
  FUZZ_CHECK(SvnParseText(after, &seen));
  // A token selects its key as the parser reads it: up to ':' or '=',
  // trimmed.
  std::string tokenKey = key.substr(0, key.find_first_of(":="));
  while (!tokenKey.empty() && isspace(static_cast<unsigned char>(tokenKey.back())))
    tokenKey.pop_back();
  while (!tokenKey.empty() && isspace(static_cast<unsigned char>(tokenKey[0])))
    tokenKey.erase(0, 1);
  if (op != 6 && op != 10) editedKey = tokenKey;
  FUZZ_CHECK(Others(Flatten(before), editedSection, editedKey) ==
        Others(Flatten(seen), editedSection, editedKey));
  // Every lookup svnserve could make, [DEFAULT]'s included, is as before
  // but the edited ones.
  SvnLookupView lookupsBefore, lookupsAfter;
  FUZZ_CHECK(SvnLookupsText(text, &lookupsBefore) && SvnLookupsText(after, &lookupsAfter));
  auto fold = [](const SvnLookupView& v) {
    Flat flat;
    for (const auto& e : v) flat[{Lower(e.first.first), Lower(e.first.second)}] = e.second;
    return flat;
  };
  FUZZ_CHECK(Others(fold(lookupsBefore), editedSection, editedKey) ==
        Others(fold(lookupsAfter), editedSection, editedKey));
  Flat flat = Flatten(seen);
  auto at = flat.find({Lower(section), Lower(tokenKey)});
  std::string used;
  if (op == 2 || op == 8)
    FUZZ_CHECK(SvnGetText(after, section, key, &used) && used == value);
  if (op == 4) FUZZ_CHECK(at == flat.end());
  if (op == 9) FUZZ_CHECK(!SvnGetText(after, section, key, &used));
  if (op == 6 || op == 10) {
    // What svnserve finds looking the pairs up is exactly them: each
    // reads back, and its enumerated options add no other name.
    std::map<std::string, std::string> want;
    for (const auto& kv : pairs) want[kv.first] = kv.second;  // as the hash keeps them
    std::set<std::string> names;
    for (const auto& kv : want) {
      FUZZ_CHECK(SvnGetText(after, editedSection, kv.first, &used) && used == kv.second);
      names.insert(Lower(kv.first));
    }
    for (const auto& s : seen)
      if (Lower(s.first) == Lower(editedSection))
        for (const auto& kv : s.second) FUZZ_CHECK(names.count(Lower(kv.first)) == 1);
  }
  return 0;
}
