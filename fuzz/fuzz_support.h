// fuzz_support.h: what the fuzz targets share: invariant checks, reading
// a file whole, and Subversion's own config parser on a text in memory (no
// file per run).
#ifndef FUZZ_FUZZ_SUPPORT_H_
#define FUZZ_FUZZ_SUPPORT_H_

#include <apr_allocator.h>
#include <apr_general.h>
#include <apr_strings.h>
#include <svn_config.h>
#include <svn_pools.h>
#include <svn_string.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "../tests/support/svn_expand.h"

// Stops the run, naming the invariant that failed.
#define FUZZ_CHECK(...)                                                         \
  do {                                                                     \
    if (!(__VA_ARGS__)) {                                                  \
      fprintf(stderr, "%s:%d invariant failed: %s\n", __FILE__, __LINE__, \
              #__VA_ARGS__);                                               \
      abort();                                                             \
    }                                                                      \
  } while (0)

// Lays out the package directory `pkg` afresh with one repository made
// by svnadmin, repo/fuzz; `settings`, when given, is its whole
// svnserve.conf (the settings are read on every run: short ones keep runs
// fast).
inline void MakeFuzzRepository(const std::string& pkg, const char* settings = nullptr) {
  std::string cmd = "rm -rf '" + pkg + "' && mkdir -p '" + pkg + "/repo' && svnadmin create '" +
                    pkg + "/repo/fuzz'";
  if (std::system(cmd.c_str()) != 0) abort();
  if (settings != nullptr) std::ofstream(pkg + "/repo/fuzz/conf/svnserve.conf") << settings;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Sections (Subversion's spelling) to options to values, as svnserve sees
// them; false when Subversion refuses the text.
using SvnView = std::map<std::string, std::map<std::string, std::string>>;

// Parses `text` with Subversion's parser and, when it accepts it, hands
// the result to use(cfg, pool).  False when Subversion refuses the text.
template <typename Use>
bool WithSvnConfig(const std::string& text, Use use) {
  static bool init = apr_initialize() == APR_SUCCESS;
  (void)init;
  // A pool on an allocator of its own: no memory of an earlier run is
  // handed to the parser.
  apr_allocator_t* allocator = nullptr;
  apr_allocator_create(&allocator);
  apr_allocator_max_free_set(allocator, 1);
  apr_pool_t* pool = nullptr;
  apr_pool_create_ex(&pool, nullptr, nullptr, allocator);
  apr_allocator_owner_set(allocator, pool);
  // An exact copy, so that a read past its end is caught, not served
  // from the string's spare capacity.
  char* copy = static_cast<char*>(apr_pmemdup(pool, text.c_str(), text.size() + 1));
  svn_string_t str = {copy, text.size()};
  svn_config_t* cfg = nullptr;
  svn_error_t* err =
      svn_config_parse(&cfg, svn_stream_from_string(&str, pool), FALSE, FALSE, pool);
  bool ok = err == nullptr;
  svn_error_clear(err);
  if (ok) use(cfg, pool);
  svn_pool_destroy(pool);
  return ok;
}

// Every section with its options, as enumerated (no [DEFAULT] fallback).
inline bool SvnParseText(const std::string& text, SvnView* view) {
  return WithSvnConfig(text, [view](svn_config_t* cfg, apr_pool_t* pool) {
    if (view == nullptr) return;
    view->clear();
    struct Walk {
      SvnView* view;
      svn_config_t* cfg;
      const char* section;
    } walk{view, cfg, nullptr};
    svn_config_enumerate_sections2(
        cfg,
        [](const char* name, void* baton, apr_pool_t* p) -> svn_boolean_t {
          Walk* w = static_cast<Walk*>(baton);
          Walk inner{w->view, w->cfg, name};
          (*w->view)[name];
          svn_config_enumerate2(
              w->cfg, name,
              [](const char* key, const char* value, void* b, apr_pool_t*) -> svn_boolean_t {
                Walk* in = static_cast<Walk*>(b);
                (*in->view)[in->section][key] = value;
                return TRUE;
              },
              &inner, p);
          return TRUE;
        },
        &walk, pool);
  });
}

// The value svnserve gets for section/option, [DEFAULT] and expansion
// applied; false when it gets none (or the text is refused).
inline bool SvnGetText(const std::string& text, const std::string& section,
                       const std::string& option, std::string* value) {
  bool found = false;
  WithSvnConfig(text, [&](svn_config_t* cfg, apr_pool_t* pool) {
    SvnExpandAll(cfg, pool);
    const char* v = nullptr;
    svn_config_get(cfg, &v, section.c_str(), option.c_str(), nullptr);
    if (v != nullptr) *value = v;
    found = v != nullptr;
  });
  return found;
}

// Every lookup svnserve could make: each section it enumerates, with each
// option name of any section, to the value it gets (the names as
// enumerated, which the caller may fold).
using SvnLookupView = std::map<std::pair<std::string, std::string>, std::string>;
inline bool SvnLookupsText(const std::string& text, SvnLookupView* lookups) {
  SvnView view;
  if (!SvnParseText(text, &view)) return false;
  lookups->clear();
  WithSvnConfig(text, [&](svn_config_t* cfg, apr_pool_t* pool) {
    SvnExpandAll(cfg, pool);
    for (const auto& s : view)
      for (const auto& t : view)
        for (const auto& o : t.second) {
          const char* v = nullptr;
          svn_config_get(cfg, &v, s.first.c_str(), o.first.c_str(), nullptr);
          if (v != nullptr) (*lookups)[{s.first, o.first}] = v;
        }
  });
  return true;
}

#endif  // FUZZ_FUZZ_SUPPORT_H_
