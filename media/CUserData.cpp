#include "media/CUserData.h"

#include <algorithm>
#include <cstring>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/files/Scrap.h"
#include "platform/framework/LStream.h"
#include "toolkit/LTagReader.h"
#include "toolkit/LTagWriter.h"

namespace {

constexpr ResID kResourceID = 128;

// Catches the framework's exception and answers its code as an OSErr.
template <class F>
OSErr Guard(F&& inWork) {
  try {
    return inWork();
  } catch (...) {
    return OSErrOfCurrent();
  }
}

}  // namespace

CUserData::CUserData() = default;

CUserData::CUserData(const CUserData& inOriginal) : mBlocks(inOriginal.mBlocks), mTypes(inOriginal.mTypes) {}

CUserData::CUserData(LTagReader& inReader) { ReadFromStream(inReader); }

CUserData::~CUserData() = default;

SInt32 CUserData::IndexOfType(OSType inType) const { return mTypes.FetchIndexOf(inType); }

OSType CUserData::GetDataTypeAt(SInt32 inIndex) const {
  OSType type = 0;
  mTypes.FetchItemAt(inIndex, type);
  return type;
}

OSErr CUserData::AddText(unsigned char* inText, OSType inType) {
  if (!inText) return paramErr;
  return AddData(inType, inText + 1, inText[0]);
}

OSErr CUserData::GetText(unsigned char* outText, OSType inType) {
  if (!outText) return paramErr;
  SInt32 size = 255;
  OSErr err = GetData(inType, outText + 1, size);
  outText[0] = static_cast<unsigned char>(err == noErr ? size : 0);
  return noErr;
}

OSErr CUserData::AddPict(Picture** inPict) { return AddData('PICT', reinterpret_cast<Handle>(inPict)); }

Picture** CUserData::GetPict() {
  Handle h = nullptr;
  if (GetData('PICT', h) != noErr) return nullptr;
  return reinterpret_cast<Picture**>(h);
}

OSErr CUserData::AddData(OSType inType, Handle inData) {
  return Guard([&]() -> OSErr {
    ThrowIfNil_(inData);
    StHandleLocker lock(inData);
    return AddData(inType, *inData, GetHandleSize(inData));
  });
}

OSErr CUserData::AddData(OSType inType, const void* inData, SInt32 inSize) {
  if (inSize < 0 || (inSize > 0 && !inData)) return paramErr;
  return Guard([&]() -> OSErr {
    // Copy first: the bytes may come from the item being replaced.
    std::vector<char> bytes(static_cast<const char*>(inData), static_cast<const char*>(inData) + inSize);
    RemoveData(inType);
    mBlocks.push_back(std::move(bytes));
    mTypes.AddItem(inType);
    return noErr;
  });
}

OSErr CUserData::RemoveData(OSType inType) {
  SInt32 index = IndexOfType(inType);
  if (index != index_Bad) {
    mBlocks.erase(mBlocks.begin() + (index - 1));
    mTypes.RemoveItemsAt(1, index);
  }
  return noErr;
}

OSErr CUserData::GetDataSize(OSType inType, SInt32& outSize) {
  SInt32 index = IndexOfType(inType);
  if (index == index_Bad) {
    outSize = 0;
    return -1;
  }
  outSize = static_cast<SInt32>(mBlocks[static_cast<size_t>(index - 1)].size());
  return noErr;
}

OSErr CUserData::GetData(OSType inType, void* outData, SInt32& ioSize) {
  SInt32 index = IndexOfType(inType);
  if (index == index_Bad) {
    ioSize = 0;
    return noErr;
  }
  if (ioSize < 0 || (ioSize > 0 && !outData)) return paramErr;
  const std::vector<char>& block = mBlocks[static_cast<size_t>(index - 1)];
  SInt32 itemSize = static_cast<SInt32>(block.size());
  if (itemSize <= ioSize) {
    if (itemSize > 0) std::memcpy(outData, block.data(), static_cast<size_t>(itemSize));
    ioSize = itemSize;
  } else if (ioSize > 0) {
    std::memcpy(outData, block.data(), static_cast<size_t>(ioSize));
  }
  return noErr;
}

OSErr CUserData::GetData(OSType inType, Handle& outData) {
  outData = nullptr;
  SInt32 index = IndexOfType(inType);
  if (index == index_Bad || mBlocks[static_cast<size_t>(index - 1)].empty()) return ErrorCodeToOSErr(err_NilPointer);
  const std::vector<char>& block = mBlocks[static_cast<size_t>(index - 1)];
  Handle h = NewHandle(static_cast<SInt32>(block.size()));
  if (!h) return ErrorCodeToOSErr(err_NilPointer);
  std::memcpy(*h, block.data(), block.size());
  outData = h;
  return noErr;
}

OSErr CUserData::AddDataToDrag(DragRef inDrag, DragItemRef inItem) {
  SInt32 count = GetDataTypeCount();
  for (SInt32 i = 1; i <= count; ++i) {
    const std::vector<char>& block = mBlocks[static_cast<size_t>(i - 1)];
    OSErr err = ::AddDragItemFlavor(inDrag, inItem, mTypes[i], block.data(), static_cast<SInt32>(block.size()),
                                    flavorSenderOnly);
    if (err != noErr) return err;
  }
  return noErr;
}

OSErr CUserData::PutOnScrap(Boolean inClearFirst) {
  if (inClearFirst) {
    OSStatus err = ::ClearCurrentScrap();
    if (err != noErr) return static_cast<OSErr>(err);
  }
  ScrapRef scrap = nullptr;
  OSStatus err = ::GetCurrentScrap(&scrap);
  if (err != noErr) return static_cast<OSErr>(err);
  SInt32 count = GetDataTypeCount();
  for (SInt32 i = 1; i <= count; ++i) {
    const std::vector<char>& block = mBlocks[static_cast<size_t>(i - 1)];
    err = ::PutScrapFlavor(scrap, mTypes[i], kScrapFlavorMaskNone, static_cast<SInt32>(block.size()), block.data());
    if (err != noErr) return static_cast<OSErr>(err);
  }
  return noErr;
}

SInt32 CUserData::GetDataTypeCount() { return mTypes.GetCount(); }

void CUserData::ReadFromStream(LTagReader& inReader) {
  UInt32 tag = 0;
  UInt32 length = 0;
  while (inReader.ReadNextTag(tag, length)) {
    if (length == 0) continue;
    try {
      // A stored length beyond the data left is damage: stop before
      // allocating for it.
      LStream* stream = inReader.GetStream();
      if (length > 0x7FFFFFFFu) break;
      if (stream && static_cast<SInt64>(length) > static_cast<SInt64>(stream->GetLength()) - stream->GetMarker())
        break;
      std::vector<char> block(length);
      inReader.ReadData(block.data(), static_cast<SInt32>(length));
      if (AddData(tag, block.data(), static_cast<SInt32>(length)) != noErr) break;
    } catch (...) {
      break;
    }
  }
}

OSErr CUserData::WriteToStream(LTagWriter& inWriter) {
  OSErr itemErr = noErr;
  SInt32 count = GetDataTypeCount();
  for (SInt32 i = 1; i <= count; ++i) {
    const std::vector<char>& block = mBlocks[static_cast<size_t>(i - 1)];
    itemErr = inWriter.WriteNextTag(mTypes[i], static_cast<UInt32>(block.size()), block.data());
    if (itemErr != noErr) break;
  }
  OSErr endErr = inWriter.WriteNextTag(kTagEndOfSection, 0, nullptr);
  if (endErr != noErr) Throw_(endErr);
  // A failed item is reported, not passed off as success.
  return itemErr;
}

namespace {

// Makes a resource file current for the length of a block.
class StCurResFile {
 public:
  explicit StCurResFile(SInt16 inRefNum) : mSaved(::CurResFile()) { ::UseResFile(inRefNum); mErr = ::ResError(); }
  ~StCurResFile() { ::UseResFile(mSaved); }
  StCurResFile(const StCurResFile&) = delete;
  StCurResFile& operator=(const StCurResFile&) = delete;
  OSErr Error() const { return mErr; }

 private:
  SInt16 mSaved;
  OSErr mErr = noErr;
};

}  // namespace

OSErr CUserData::WriteToResource(SInt16 inRefNum) {
  StCurResFile useFile(inRefNum);
  if (useFile.Error() != noErr) return useFile.Error();
  SInt32 count = GetDataTypeCount();
  for (SInt32 i = 1; i <= count; ++i) {
    const std::vector<char>& block = mBlocks[static_cast<size_t>(i - 1)];
    // Replace an earlier copy, so the file never holds two resources of one type and id.
    if (Handle old = ::Get1Resource(mTypes[i], kResourceID)) {
      ::RemoveResource(old);
      if (::ResError() != noErr) return ::ResError();
      ::DisposeHandle(old);
    }
    Handle h = ::NewHandle(static_cast<SInt32>(block.size()));
    if (!h) return ErrorCodeToOSErr(err_NilPointer);
    if (!block.empty()) std::memcpy(*h, block.data(), block.size());
    ::AddResource(h, mTypes[i], kResourceID, nullptr);
    OSErr err = ::ResError();
    if (err != noErr) {
      ::DisposeHandle(h);
      return err;
    }
  }
  return noErr;
}

OSErr CUserData::ReadFromResource(SInt16 inRefNum) {
  StCurResFile useFile(inRefNum);
  if (useFile.Error() != noErr) return useFile.Error();
  SInt16 types = ::Count1Types();
  for (SInt16 i = 1; i <= types; ++i) {
    ResType type = 0;
    ::Get1IndType(&type, i);
    if (::ResError() != noErr) return ::ResError();
    Handle h = ::Get1IndResource(type, 1);
    if (!h) {
      if (::ResError() != noErr && ::ResError() != resNotFound) return ::ResError();
      continue;
    }
    if (::GetHandleSize(h) > 0) {
      OSErr err = AddData(type, h);
      if (err != noErr) return err;
    }
  }
  return noErr;
}
