// Status records as the application reads them: what decodes encodes to the same bytes.
#include <cstdlib>
#include <cstring>

#include "vantrel/ExportProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ExportStatus s;
  if (!DecodeExportStatus(data, size, s)) return 0;
  UInt8 again[kExportStatusSize];
  EncodeExportStatus(s, again);
  ExportStatus t;
  if (!DecodeExportStatus(again, sizeof again, t) || std::memcmp(&s, &t, sizeof s) != 0) std::abort();
  return 0;
}
