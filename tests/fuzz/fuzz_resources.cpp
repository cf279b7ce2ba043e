// Resource maps and sidecars: what parses writes out and parses to the same.
// The first byte picks the reader.
#include <cstdlib>

#include "platform/files/ResourceMap.h"
#include "platform/files/Sidecar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  if (data[0] & 1) {
    SidecarContents c;
    ParseSidecar(std::vector<char>(bytes, bytes + size - 1), c);
    return 0;
  }
  ResourceMapContents map;
  if (ParseResourceMap(bytes, size - 1, map) != noErr) return 0;
  // Writing groups a type's entries; from then on a map reads and writes
  // back byte for byte.
  std::vector<char> out;
  if (SerializeResourceMap(map, out) != noErr) return 0;
  ResourceMapContents back;
  if (ParseResourceMap(out.data(), out.size(), back) != noErr || back.entries.size() != map.entries.size()) std::abort();
  std::vector<char> again;
  if (SerializeResourceMap(back, again) != noErr || again != out) std::abort();
  return 0;
}
