// A bag of typed data items: at most one item per four-character type, each
// an arbitrary block of bytes, kept in the order they were added. The bag
// reads and writes itself as a tagged stream, as resources of a resource
// file, as flavors of a drag item and as flavors of the clipboard. Every
// operation goes through the virtual table so that a subclass may replace
// any one of them.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/Drag.h"
#include "platform/framework/TArray.h"

class LTagReader;
class LTagWriter;
struct Picture;

class CUserData {
 public:
  CUserData();
  CUserData(const CUserData& inOriginal);
  explicit CUserData(LTagReader& inReader);
  CUserData& operator=(const CUserData& inOriginal) = default;
  virtual ~CUserData();

  // One tagged record per item in item order, then the end record. Reading
  // adds every record of non-zero length; damaged data ends the reading quietly.
  virtual void ReadFromStream(LTagReader& inReader);
  virtual OSErr WriteToStream(LTagWriter& inWriter);

  // A Pascal string's characters (without the length byte) as the item.
  virtual OSErr AddText(unsigned char* inText, OSType inType);
  // At most 255 bytes of the item into a Pascal string; no item: empty text.
  virtual OSErr GetText(unsigned char* outText, OSType inType);
  // The picture's bytes as item 'PICT'; GetPict makes a new picture the caller owns (nil when absent).
  virtual OSErr AddPict(Picture** inPict);
  virtual Picture** GetPict();

  // Replaces any item of the type; the new item goes last.
  virtual OSErr AddData(OSType inType, Handle inData);
  virtual OSErr AddData(OSType inType, const void* inData, SInt32 inSize);
  virtual OSErr RemoveData(OSType inType);
  // The item's size; no item: size 0 and -1.
  virtual OSErr GetDataSize(OSType inType, SInt32& outSize);
  // Copies at most ioSize bytes. A smaller item sets ioSize to its size; no item: ioSize 0.
  virtual OSErr GetData(OSType inType, void* outData, SInt32& ioSize);
  // A new handle holding the item (the caller owns it); no item or an empty one: 'nilP' and nil.
  virtual OSErr GetData(OSType inType, Handle& outData);

  // Every item as a sender-only flavor of the drag item, in item order.
  virtual OSErr AddDataToDrag(DragRef inDrag, DragItemRef inItem);
  // Every item as a flavor of the clipboard, after clearing it when asked.
  virtual OSErr PutOnScrap(Boolean inClearFirst);
  virtual SInt32 GetDataTypeCount();
  // One resource per item (its type, id 128) in the given resource file.
  virtual OSErr WriteToResource(SInt16 inRefNum);
  // The first resource of every type in the given resource file.
  virtual OSErr ReadFromResource(SInt16 inRefNum);

  // The type of the item at a 1-based index (0 when out of range).
  OSType GetDataTypeAt(SInt32 inIndex) const;

 protected:
  // 1-based index of the item of a type, 0 when there is none.
  SInt32 IndexOfType(OSType inType) const;

  std::vector<std::vector<char>> mBlocks;  // item i's bytes
  TArray<OSType> mTypes;                   // item i's type, parallel to mBlocks
};
