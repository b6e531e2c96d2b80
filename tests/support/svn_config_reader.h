// svn_config_reader.h: reads a config file with Subversion's own parser,
// exactly as svnserve reads svnserve.conf and passwd (section and option
// names case-insensitive), so tests can check what svnserve would see.
#ifndef TESTS_SUPPORT_SVN_CONFIG_READER_H_
#define TESTS_SUPPORT_SVN_CONFIG_READER_H_

#include <map>
#include <string>
#include <utility>

// Sections in Subversion's spelling, each with its options and values as
// enumerated (no [DEFAULT] fallback).
using SvnConfig = std::map<std::string, std::map<std::string, std::string>>;

// Parses `path`.  False with the parser's message in *error when
// Subversion refuses the file.
bool SvnReadConfig(const std::string& path, SvnConfig* config,
                   std::string* error);

// The value svnserve would get for section/option (with [DEFAULT] and
// %(name)s applied, every option expanded first, as svnserve's
// configuration cache does); false when the file does not parse or lacks
// it.
bool SvnGetValue(const std::string& path, const std::string& section,
                 const std::string& option, std::string* value);

// The same two calls on a text, through a temporary file.
bool SvnReadConfigText(const std::string& text, SvnConfig* config,
                       std::string* error);
bool SvnGetValueText(const std::string& text, const std::string& section,
                     const std::string& option, std::string* value);

// Every lookup svnserve could make in a text: each section it enumerates,
// with each option name any section holds, to the value svnserve gets
// (names in lower case).  False when Subversion refuses the text.
using SvnLookupMap = std::map<std::pair<std::string, std::string>, std::string>;
bool SvnLookupsText(const std::string& text, SvnLookupMap* lookups);

#endif  // TESTS_SUPPORT_SVN_CONFIG_READER_H_
