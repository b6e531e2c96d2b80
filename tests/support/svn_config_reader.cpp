#include "svn_config_reader.h"

#include <apr_general.h>
#include <apr_pools.h>
#include <svn_config.h>
#include <svn_error.h>
#include <svn_pools.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "svn_expand.h"

namespace {

struct Pool {
  Pool() {
    static bool initialized = apr_initialize() == APR_SUCCESS;
    (void)initialized;
    pool = svn_pool_create(nullptr);
  }
  ~Pool() { svn_pool_destroy(pool); }
  apr_pool_t* pool;
};

svn_config_t* Read(const std::string& path, apr_pool_t* pool,
                   std::string* error) {
  svn_config_t* cfg = nullptr;
  svn_error_t* err = svn_config_read3(&cfg, path.c_str(), TRUE, FALSE, FALSE,
                                      pool);
  if (err != nullptr) {
    char buf[512];
    if (error != nullptr) *error = svn_err_best_message(err, buf, sizeof buf);
    svn_error_clear(err);
    return nullptr;
  }
  return cfg;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

struct Walk {
  SvnConfig* config;
  const char* section;
  svn_config_t* cfg;
};

svn_boolean_t OnOption(const char* name, const char* value, void* baton,
                       apr_pool_t*) {
  Walk* w = static_cast<Walk*>(baton);
  (*w->config)[w->section][name] = value;
  return TRUE;
}

svn_boolean_t OnSection(const char* name, void* baton, apr_pool_t* pool) {
  Walk* w = static_cast<Walk*>(baton);
  Walk inner{w->config, name, w->cfg};
  (*w->config)[name];
  svn_config_enumerate2(w->cfg, name, OnOption, &inner, pool);
  return TRUE;
}

}  // namespace

bool SvnReadConfig(const std::string& path, SvnConfig* config,
                   std::string* error) {
  Pool p;
  svn_config_t* cfg = Read(path, p.pool, error);
  if (cfg == nullptr) return false;
  config->clear();
  Walk w{config, nullptr, cfg};
  svn_config_enumerate_sections2(cfg, OnSection, &w, p.pool);
  return true;
}

bool SvnGetValue(const std::string& path, const std::string& section,
                 const std::string& option, std::string* value) {
  Pool p;
  svn_config_t* cfg = Read(path, p.pool, nullptr);
  if (cfg == nullptr) return false;
  SvnExpandAll(cfg, p.pool);
  const char* v = nullptr;
  svn_config_get(cfg, &v, section.c_str(), option.c_str(), nullptr);
  if (v == nullptr) return false;
  *value = v;
  return true;
}

namespace {

// Runs `read` on a temporary file holding `text`.
template <typename Read>
bool OnTextFile(const std::string& text, Read read) {
  char path[] = "/tmp/svnconfXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) ==
            static_cast<ssize_t>(text.size());
  close(fd);
  ok = ok && read(std::string(path));
  unlink(path);
  return ok;
}

}  // namespace

bool SvnReadConfigText(const std::string& text, SvnConfig* config,
                       std::string* error) {
  return OnTextFile(text, [&](const std::string& path) {
    return SvnReadConfig(path, config, error);
  });
}

bool SvnGetValueText(const std::string& text, const std::string& section,
                     const std::string& option, std::string* value) {
  return OnTextFile(text, [&](const std::string& path) {
    return SvnGetValue(path, section, option, value);
  });
}

bool SvnLookupsText(const std::string& text, SvnLookupMap* lookups) {
  return OnTextFile(text, [&](const std::string& path) {
    Pool p;
    svn_config_t* cfg = Read(path, p.pool, nullptr);
    if (cfg == nullptr) return false;
    SvnExpandAll(cfg, p.pool);
    SvnConfig config;
    Walk w{&config, nullptr, cfg};
    svn_config_enumerate_sections2(cfg, OnSection, &w, p.pool);
    lookups->clear();
    for (const auto& s : config)
      for (const auto& t : config)
        for (const auto& o : t.second) {
          const char* v = nullptr;
          svn_config_get(cfg, &v, s.first.c_str(), o.first.c_str(), nullptr);
          if (v != nullptr) (*lookups)[{Lower(s.first), Lower(o.first)}] = v;
        }
    return true;
  });
}
