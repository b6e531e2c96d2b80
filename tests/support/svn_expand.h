// svn_expand.h: expands a configuration as svnserve's configuration cache
// does before handing it out (libsvn_repos/config_pool.c, through
// svn_config__set_read_only): section by section, in the order of
// Subversion's hash, each option keeps the value it first expands to.
// svn_config_get on the result answers what svnserve gets.
#ifndef TESTS_SUPPORT_SVN_EXPAND_H_
#define TESTS_SUPPORT_SVN_EXPAND_H_

#include <svn_config.h>

inline void SvnExpandAll(svn_config_t* cfg, apr_pool_t* pool) {
  svn_config_enumerate_sections2(
      cfg,
      [](const char* name, void* baton, apr_pool_t* p) -> svn_boolean_t {
        svn_config_enumerate2(
            static_cast<svn_config_t*>(baton), name,
            [](const char*, const char*, void*, apr_pool_t*) -> svn_boolean_t {
              return TRUE;
            },
            nullptr, p);
        return TRUE;
      },
      cfg, pool);
}

#endif  // TESTS_SUPPORT_SVN_EXPAND_H_
