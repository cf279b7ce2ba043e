// The export client's exporter list with the settings stored per exporter,
// and the export section of the preferences.
#include "app/CExportMovieSettings.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieExport.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

OSType CExportMovieSettings::sCurrentExporter = 'MooV';
Boolean CExportMovieSettings::sSelectionOnly = true;
Boolean CExportMovieSettings::sSingleField = false;

namespace {

Handle CopyOf(Handle inHandle) {
  if (inHandle == nullptr) return nullptr;
  Handle copy = inHandle;
  if (HandToHand(&copy) != noErr) return nullptr;
  return copy;
}

}  // namespace

CExportMovieSettings::~CExportMovieSettings() {
  for (ExporterItem* item : mExporters) delete item;
}

void CExportMovieSettings::CollectExporters() {
  const ItemCount count = CountMovieExporters();
  for (ItemCount i = 1; i <= count; ++i) {
    ComponentDescription desc{};
    Str255 name;
    if (GetMovieExporterInfo(i, &desc, name) != noErr) continue;
    if ((desc.componentFlags & canMovieExportFromProcedures) == 0) continue;
    auto* item = new ExporterItem;
    item->mFlags = desc.componentFlags;
    item->mSubtype = desc.componentSubType;
    std::memcpy(item->mName, name, static_cast<size_t>(name[0]) + 1);
    mExporters.push_back(item);
  }
}

ExporterItem* CExportMovieSettings::Find(OSType inSubtype) const {
  for (ExporterItem* item : mExporters)
    if (item->mSubtype == inSubtype) return item;
  return nullptr;
}

OSErr CExportMovieSettings::UpdateSettings(OSType inSubtype, Handle inSettings) {
  ExporterItem* item = Find(inSubtype);
  if (item == nullptr) return paramErr;
  Handle copy = nullptr;
  if (inSettings) {
    copy = CopyOf(inSettings);
    if (copy == nullptr) return memFullErr;
  }
  if (item->mSettings) DisposeHandle(item->mSettings);
  item->mSettings = copy;
  return noErr;
}

OSErr CExportMovieSettings::GetSettings(OSType inSubtype, Handle* outSettings) const {
  if (outSettings == nullptr) return paramErr;
  *outSettings = nullptr;
  const ExporterItem* item = Find(inSubtype);
  if (item == nullptr || item->mSettings == nullptr) return paramErr;
  *outSettings = CopyOf(item->mSettings);
  return *outSettings ? noErr : memFullErr;
}

std::vector<std::string> CExportMovieSettings::GetNames() const {
  std::vector<std::string> names;
  for (const ExporterItem* item : mExporters)
    names.emplace_back(reinterpret_cast<const char*>(item->mName + 1), item->mName[0]);
  return names;
}

SInt16 CExportMovieSettings::GetIndex(OSType inSubtype) const {
  for (size_t i = 0; i < mExporters.size(); ++i)
    if (mExporters[i]->mSubtype == inSubtype) return static_cast<SInt16>(i + 1);
  return -1;
}

UInt32 CExportMovieSettings::GetFlags(OSType inSubtype) const {
  const ExporterItem* item = Find(inSubtype);
  return item ? item->mFlags : 0;
}

OSType CExportMovieSettings::GetSubtype(SInt16 inIndex) const {
  if (inIndex < 1 || inIndex > static_cast<SInt16>(mExporters.size())) return 0;
  return mExporters[static_cast<size_t>(inIndex - 1)]->mSubtype;
}

void CExportMovieSettings::WriteToStream(LTagWriter& inWriter, LWindow* inWindow) const {
  const UInt8 selection = CExportMovieSettings::sSelectionOnly ? 1 : 0;
  const UInt8 single = CExportMovieSettings::sSingleField ? 1 : 0;
  ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefSelectionOnly, 1, &selection));
  ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefSingleField, 1, &single));
  ThrowIfOSErr_(inWriter.WriteUInt32(kExportPrefCurrentExporter, CExportMovieSettings::sCurrentExporter));
  if (inWindow) {
    const Rect bounds = inWindow->GetGlobalBounds();
    UInt8 bytes[8];
    WriteBE16(bytes + 0, static_cast<UInt16>(bounds.top));
    WriteBE16(bytes + 2, static_cast<UInt16>(bounds.left));
    WriteBE16(bytes + 4, static_cast<UInt16>(bounds.bottom));
    WriteBE16(bytes + 6, static_cast<UInt16>(bounds.right));
    ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefWindowBounds, 8, bytes));
    const UInt8 visible = inWindow->IsVisible() ? 1 : 0;
    ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefWindowVisible, 1, &visible));
  }
  for (const ExporterItem* item : mExporters) {
    if (item->mSettings == nullptr) continue;
    ThrowIfOSErr_(inWriter.WriteUInt32(kExportPrefExporterType, item->mSubtype));
    ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefExporterSettings, static_cast<UInt32>(GetHandleSize(item->mSettings)),
                                        *item->mSettings));
  }
  ThrowIfOSErr_(inWriter.WriteNextTag(kExportPrefEnd, 0, nullptr));
}

void CExportMovieSettings::ReadFromStream(LTagReader& inReader, LWindow* inWindow,
                                          const std::function<void()>& inShowWindow) {
  OSType exporter = 0;
  try {
    UInt32 tag = 0, length = 0;
    while (inReader.ReadNextTag(tag, length)) {
      switch (tag) {
        case kExportPrefSelectionOnly:
        case kExportPrefSingleField:
        case kExportPrefWindowVisible: {
          if (length < 1) return;
          UInt8 value = 0;
          inReader.ReadData(&value, 1);
          if (tag == kExportPrefSelectionOnly) CExportMovieSettings::sSelectionOnly = value != 0;
          if (tag == kExportPrefSingleField) CExportMovieSettings::sSingleField = value != 0;
          if (tag == kExportPrefWindowVisible && value != 0 && inShowWindow) inShowWindow();
          break;
        }
        case kExportPrefCurrentExporter:
        case kExportPrefExporterType: {
          if (length < 4) return;
          UInt32 value = 0;
          inReader.ReadUInt32(value);
          if (tag == kExportPrefCurrentExporter)
            CExportMovieSettings::sCurrentExporter = value;
          else
            exporter = value;
          break;
        }
        case kExportPrefWindowBounds: {
          if (length < 8) return;
          UInt8 bytes[8];
          inReader.ReadData(bytes, 8);
          const SInt16 top = static_cast<SInt16>(ReadBE16(bytes + 0));
          const SInt16 left = static_cast<SInt16>(ReadBE16(bytes + 2));
          const SInt16 bottom = static_cast<SInt16>(ReadBE16(bytes + 4));
          if (inWindow && bottom > top) {
            LWindow* window = inWindow;
            const Rect now = window->GetGlobalBounds();
            window->ResizeWindowTo(static_cast<SInt16>(now.right - now.left), static_cast<SInt16>(bottom - top));
            // Kept on the screen: never above or left of the desktop's origin,
            // and wholly inside the screen's free area (a place stored on a
            // larger or another screen).
            window->MoveWindowTo(std::max<SInt16>(left, 0), std::max<SInt16>(top, 0));
            UWindowState::KeepOnScreen(window);
          }
          break;
        }
        case kExportPrefExporterSettings: {
          if (length > 0x4000000) return;  // no settings are that large
          // A record that claims more than the section holds ends the reading
          // before anything is made for it.
          const LStream* stream = inReader.GetStream();
          if (stream == nullptr || stream->GetMarker() < 0 || stream->GetLength() < stream->GetMarker() ||
              length > static_cast<UInt32>(stream->GetLength() - stream->GetMarker()))
            return;
          std::vector<UInt8> bytes(length);
          if (length) inReader.ReadData(bytes.data(), static_cast<SInt32>(length));
          ExporterItem* item = Find(exporter);
          if (item == nullptr) break;  // not installed
          Handle settings = NewHandle(static_cast<SInt32>(length));
          if (settings == nullptr) return;
          if (length) std::memcpy(*settings, bytes.data(), length);
          UpdateSettings(exporter, settings);
          DisposeHandle(settings);
          break;
        }
        default:
          break;
      }
    }
  } catch (...) {
    // A damaged section ends the reading; what was read stays.
    LogCurrentException("export", "settings ReadFromStream");
  }
}
