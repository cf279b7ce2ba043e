// Drags as plain records: a drag holds items by reference number, each item a
// list of typed flavors. Nothing is shown; a drag ends when it is disposed of.
// A reference to a drag that no longer exists is refused, never followed.
#pragma once

#include "platform/base/MacTypes.h"

typedef struct OpaqueDragRef* DragRef;
typedef UInt32 DragItemRef;
typedef FourCharCode FlavorType;
typedef UInt32 FlavorFlags;

constexpr FlavorFlags flavorSenderOnly = 1;
constexpr FlavorFlags flavorSenderTranslated = 2;
constexpr FlavorFlags flavorNotSaved = 4;

constexpr OSErr badDragRefErr = -1850;
constexpr OSErr badDragItemErr = -1851;
constexpr OSErr badDragFlavorErr = -1852;
constexpr OSErr duplicateFlavorErr = -1853;

OSErr NewDrag(DragRef* outDrag);
OSErr DisposeDrag(DragRef inDrag);
// Adds a flavor to the item (the item is created on its first flavor).
OSErr AddDragItemFlavor(DragRef inDrag, DragItemRef inItem, FlavorType inType, const void* inData, SInt32 inSize,
                        FlavorFlags inFlags);
OSErr CountDragItems(DragRef inDrag, UInt16* outCount);
// The reference number of the item at a 1-based index.
OSErr GetDragItemReferenceNumber(DragRef inDrag, UInt16 inIndex, DragItemRef* outItem);
OSErr CountDragItemFlavors(DragRef inDrag, DragItemRef inItem, UInt16* outCount);
// The type of the flavor at a 1-based index, in the order added.
OSErr GetFlavorType(DragRef inDrag, DragItemRef inItem, UInt16 inIndex, FlavorType* outType);
OSErr GetFlavorFlags(DragRef inDrag, DragItemRef inItem, FlavorType inType, FlavorFlags* outFlags);
OSErr GetFlavorDataSize(DragRef inDrag, DragItemRef inItem, FlavorType inType, SInt32* outSize);
// Copies at most *ioSize bytes from inOffset and reports the number copied.
OSErr GetFlavorData(DragRef inDrag, DragItemRef inItem, FlavorType inType, void* outData, SInt32* ioSize,
                    UInt32 inOffset);
