// The classic resource-file layout, parsed and written as a whole:
//   header (16 bytes): data offset, map offset, data length, map length;
//   data: per resource a 32-bit length and the bytes;
//   map: a copy of the header, 4+2 reserved bytes, file attributes, offsets
//   of the type list and the name list; the type list (count - 1, then per
//   type: type, count - 1, offset of its reference list); reference lists
//   (id, name offset or -1, attributes, 24-bit data offset, 4 reserved);
//   the names as Pascal strings. All numbers big-endian.
// Parsing treats every offset and length as untrusted: damaged input is
// eofErr, never a read outside the bytes.
#pragma once

#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

struct ResourceMapEntry {
  ResType type = 0;
  ResID id = 0;
  bool hasName = false;
  std::string name;
  UInt8 attrs = 0;
  std::vector<char> data;
};

struct ResourceMapContents {
  UInt16 fileAttrs = 0;
  // Entries of one type follow one another; types in file order.
  std::vector<ResourceMapEntry> entries;
};

// Empty input is a file without resource fork: resFNotFound.
OSErr ParseResourceMap(const char* inBytes, size_t inSize, ResourceMapContents& outContents);
// Entries are written grouped by type, types in order of first appearance.
// Resource data beyond the 24-bit offsets of the map: addResFailed.
OSErr SerializeResourceMap(const ResourceMapContents& inContents, std::vector<char>& outBytes);
