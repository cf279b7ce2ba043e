// Compiles the readable layout and text-style sources (resources/layouts,
// resources/textstyles; see resources/layouts/README.txt) into resource
// entries: a layout file gives its 'PPob' and, when it names one, its 'RidL'
// link list; a text-style file gives one 'Txtr' per line.
#pragma once

#include <string>
#include <vector>

#include "platform/files/ResourceMap.h"

// A fault in a source: "file:line: reason".
struct LayoutSourceError {
  std::string text;
};

// The first header line of a source ("PPob", "Txtr", "STR#"), "" when none.
std::string SourceKind(const std::string& inText);

// Throw LayoutSourceError.
std::vector<ResourceMapEntry> CompileLayoutSource(const std::string& inText, const std::string& inFileName);
std::vector<ResourceMapEntry> CompileTextStyleSource(const std::string& inText, const std::string& inFileName);
