#include "media/CUserData.h"

#include <algorithm>
#include <cstring>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Scrap.h"

namespace {

// Catches the framework's exception and answers its code as an OSErr.
template <class F>
OSErr Guard(F&& inWork) {
  try {
    return inWork();
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  } catch (const std::bad_alloc&) {
    return ErrorCodeToOSErr(err_NilPointer);
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

// Stream and resource forms follow once the tagged stream and the resource
// manager are in place.
void CUserData::ReadFromStream(LTagReader&) {}
OSErr CUserData::WriteToStream(LTagWriter&) { return unimpErr; }
OSErr CUserData::WriteToResource(SInt16) { return unimpErr; }
OSErr CUserData::ReadFromResource(SInt16) { return unimpErr; }
