// The layout and text-style sources the build compiles into the bundle's
// resources. A source either fails with its file, line and reason, or gives
// resources that hold the stored form exactly: a layout's records are whole,
// its blocks balanced, it ends with its end record, and its link list names
// as many panes as it counts; a text style is its fixed record.
#include <cstdlib>
#include <string>

#include "platform/base/Endian.h"
#include "platform/ui/LayoutFormat.h"
#include "resources/tools/LayoutSource.h"

namespace {

void CheckLayout(const ResourceMapEntry& inEntry) {
  const std::vector<char>& b = inEntry.data;
  size_t at = 0;
  int depth = 0;
  bool haveObject = false;
  for (;;) {
    if (at + 4 > b.size()) std::abort();
    const OSType tag = ReadBE32(&b[at]);
    at += 4;
    if (tag == kLayoutEndOfDataTag) break;
    if (tag == kLayoutObjectTag) {
      if (at + 4 > b.size()) std::abort();
      const UInt32 length = ReadBE32(&b[at]);
      at += 4;
      if (length < 4 || length > b.size() - at) std::abort();
      at += length;
      haveObject = true;
    } else if (tag == kLayoutBeginTag) {
      if (!haveObject) std::abort();
      ++depth;
    } else if (tag == kLayoutEndTag) {
      if (--depth < 0) std::abort();
    } else {
      std::abort();
    }
  }
  if (depth != 0 || !haveObject || at != b.size()) std::abort();
}

void CheckLinks(const ResourceMapEntry& inEntry) {
  const std::vector<char>& b = inEntry.data;
  if (b.size() < 2 || b.size() != 2 + 4 * static_cast<size_t>(ReadBE16(b.data()))) std::abort();
}

void CheckTextStyle(const ResourceMapEntry& inEntry) {
  const std::vector<char>& b = inEntry.data;
  // Str255 font, SInt16 size, UInt8 face, SInt16 justification, three UInt16 colours.
  if (b.empty() || b.size() != 1 + static_cast<size_t>(static_cast<UInt8>(b[0])) + 2 + 1 + 2 + 6) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string kind = SourceKind(text);
  try {
    if (kind == "Txtr") {
      for (const ResourceMapEntry& e : CompileTextStyleSource(text, "input")) {
        if (e.type != kTextStyleResType) std::abort();
        CheckTextStyle(e);
      }
      return 0;
    }
    const std::vector<ResourceMapEntry> entries = CompileLayoutSource(text, "input");
    if (entries.empty() || entries.size() > 2 || entries[0].type != kLayoutResType) std::abort();
    CheckLayout(entries[0]);
    if (entries.size() == 2) {
      if (entries[1].type != kLinkListResType || entries[1].id != entries[0].id) std::abort();
      CheckLinks(entries[1]);
    }
  } catch (const LayoutSourceError& e) {
    // A fault is told with where it is.
    if (e.text.rfind("input:", 0) != 0) std::abort();
  }
  return 0;
}
