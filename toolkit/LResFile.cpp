#include "toolkit/LResFile.h"

#include <algorithm>
#include <cstring>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"

namespace {

constexpr OSType kResFileCreator = 'Trbx';
constexpr SInt32 kStringBlockSize = 258;

}  // namespace

LResFile::LResFile(const FSSpec& inFileSpec) : mFileSpec(inFileSpec) {}

LResFile::~LResFile() = default;

Handle LResFile::GetResHandle(ResType inType, ResID inID) {
  SInt16 saved = CurResFile();
  SInt16 ref = FSpOpenResFile(&mFileSpec, fsRdPerm);
  if (ref == kResFileNotOpened) return nullptr;
  Handle h = Get1Resource(inType, inID);
  if (h) {
    LoadResource(h);
    DetachResource(h);
  }
  CloseResFile(ref);
  UseResFile(saved);
  return h;
}

void LResFile::SetResHandle(ResType inType, ResID inID, Handle inData, ConstStringPtr inName) {
  ThrowIfNil_(inData);
  SInt16 saved = CurResFile();
  SInt16 ref = FSpOpenResFile(&mFileSpec, fsRdWrPerm);
  if (ref == kResFileNotOpened) {
    OSErr err = ResError();
    if (err == eofErr) Throw_(-1);  // a damaged fork is not written over
    if (!FSSpecExists(mFileSpec)) {
      FSpCreateResFile(&mFileSpec, kResFileCreator, inType, smSystemScript);
    } else {
      FInfo info{};
      ThrowIfOSErr_(FSpGetFInfo(&mFileSpec, &info));
      FSpCreateResFile(&mFileSpec, info.fdCreator, info.fdType, smSystemScript);
    }
    ThrowIfOSErr_(ResError());
    ref = FSpOpenResFile(&mFileSpec, fsRdWrPerm);
    if (ref == kResFileNotOpened) Throw_(ResError() != noErr ? ResError() : -1);
  }

  OSErr err = noErr;
  UseResFile(ref);
  // The caller keeps its handle: the resource gets a copy. An existing
  // resource is replaced in place, so the file is written once and an
  // error leaves the stored resource as it was.
  Handle copy = inData;
  err = HandToHand(&copy);
  if (err == noErr) {
    if (Handle old = Get1Resource(inType, inID)) {
      SInt32 size = GetHandleSize(copy);
      SetHandleSize(old, size);
      err = MemError();
      if (err == noErr) {
        std::memcpy(*old, *copy, static_cast<size_t>(size));
        if (inName) SetResInfo(old, inID, inName);
        ChangedResource(old);
        err = ResError();
      }
      DisposeHandle(copy);
    } else {
      AddResource(copy, inType, inID, inName);
      err = ResError();
      if (err != noErr) DisposeHandle(copy);
    }
  }
  if (err == noErr) {
    UpdateResFile(ref);
    err = ResError();
  }
  if (err != noErr) {
    // Changes that did not reach the file are dropped with the closing.
    if (Handle h = Get1Resource(inType, inID)) SetResAttrs(h, static_cast<SInt16>(GetResAttrs(h) & ~resChanged));
  }
  CloseResFile(ref);
  UseResFile(saved);
  if (err != noErr) Throw_(err);
}

Picture** LResFile::ReadPicture(ResID inID) { return reinterpret_cast<Picture**>(GetResHandle('PICT', inID)); }

Picture** LResFile::ReadIndPicture(SInt16 inIndex) { return reinterpret_cast<Picture**>(GetIndResource('PICT', inIndex)); }

OSErr LResFile::WritePicture(ResID inID, Picture** inPicture, ConstStringPtr inName) {
  try {
    SetResHandle('PICT', inID, reinterpret_cast<Handle>(inPicture), inName);
  } catch (const LException& e) {
    return ErrorCodeToOSErr(e.GetErrorCode());
  }
  return noErr;
}

void LResFile::ReadString(ResID inID, unsigned char* outText) {
  ThrowIfNil_(outText);
  StHandleBlock h(GetResHandle('TEXT', inID));
  ThrowIfNil_(h.Get());
  SInt32 size = std::min<SInt32>(GetHandleSize(h), 256);
  std::memset(outText, 0, 256);
  if (size > 0) std::memcpy(outText, *h.Get(), static_cast<size_t>(size));
  // The length byte never claims more characters than were stored.
  if (size == 0)
    outText[0] = 0;
  else if (outText[0] > size - 1)
    outText[0] = static_cast<unsigned char>(size - 1);
}

void LResFile::WriteString(ResID inID, ConstStringPtr inText, ConstStringPtr inName) {
  ThrowIfNil_(inText);
  StHandleBlock block(NewHandleClear(kStringBlockSize));
  ThrowIfNil_(block.Get());
  // Only the string's own bytes are read: the caller's buffer may be shorter than 256.
  std::memcpy(*block.Get(), inText, static_cast<size_t>(inText[0]) + 1);
  SetResHandle('TEXT', inID, block, inName);
}
