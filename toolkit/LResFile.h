// Single resources of one file's resource fork, each call opening and closing
// the fork around its work and leaving the previous resource file current.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

struct Picture;

class LResFile {
 public:
  explicit LResFile(const FSSpec& inFileSpec);
  virtual ~LResFile();

  const FSSpec& GetSpecifier() const { return mFileSpec; }

  // A detached copy of the resource (the caller owns it); nil when the fork
  // cannot be opened or the resource is missing.
  Handle GetResHandle(ResType inType, ResID inID);
  // Replaces (or adds) the resource with a copy of the data; the caller keeps
  // its handle. A file without fork gets one; a missing file is created with
  // creator 'Trbx' and the resource type as file type. Failures are thrown
  // (a damaged fork: -1) and leave the stored resource as it was.
  void SetResHandle(ResType inType, ResID inID, Handle inData, ConstStringPtr inName);

  Picture** ReadPicture(ResID inID);
  // The indexed 'PICT' of the current resource chain (not detached).
  static Picture** ReadIndPicture(SInt16 inIndex);
  OSErr WritePicture(ResID inID, Picture** inPicture, ConstStringPtr inName);
  // Resource 'TEXT' id as a Str255 (its first 256 bytes); missing: 'nilP' thrown.
  void ReadString(ResID inID, unsigned char* outText);
  // The Str255 in a 258-byte zero-filled block as resource 'TEXT' id.
  void WriteString(ResID inID, ConstStringPtr inText, ConstStringPtr inName);

 protected:
  FSSpec mFileSpec;
};
