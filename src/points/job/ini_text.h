#pragma once

#include <functional>
#include <istream>
#include <string>

// The one line rule of the settings, job and status files: lines trimmed; empty lines and
// lines starting with ';' or '#' skipped; "[name]" opens a section (name trimmed); other
// lines split at the first '=' into a trimmed key and value; lines without '=' skipped.
// Entries before the first section header carry the empty section name.
using IniEntryHandler = std::function<void(const std::string& section, const std::string& key,
                                           const std::string& value)>;

using IniSectionHandler = std::function<void(const std::string& section)>;

// onSection, when given, is called for every section header, also one without entries.
void forEachIniEntry(std::istream& in, const IniEntryHandler& handler,
                     const IniSectionHandler& onSection = {});
