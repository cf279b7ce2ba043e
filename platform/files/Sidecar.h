// The sidecar of a file: an AppleDouble file "._name" beside it that holds
// the file's resource fork (entry 2) and, where extended attributes are not
// available, its Finder information (entry 9, 32 bytes). Numbers are
// big-endian. Used by the file and resource managers only.
#pragma once

#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

struct SidecarContents {
  bool hasFinderInfo = false;
  UInt8 finderInfo[32] = {};
  bool hasFork = false;
  std::vector<char> fork;
};

// The sidecar of a file: "._name" in the same folder.
std::string SidecarPathFor(const std::string& inPath);

// A missing sidecar gives empty contents and noErr; a damaged one eofErr.
OSErr ReadSidecar(const std::string& inDataPath, SidecarContents& outContents);
// Parses sidecar bytes (exposed for tests of damaged input).
OSErr ParseSidecar(const std::vector<char>& inBytes, SidecarContents& outContents);
// Replaces the sidecar as a whole (written beside it, then renamed over it);
// contents with neither entry remove the sidecar.
OSErr WriteSidecar(const std::string& inDataPath, const SidecarContents& inContents);
// Reads or replaces a whole file.
OSErr ReadWholeFile(const std::string& inPath, std::vector<char>& outBytes);
OSErr WriteWholeFileAtomically(const std::string& inPath, const std::vector<char>& inBytes);
