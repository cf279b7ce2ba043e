// The clipboard: one process-wide scrap of typed flavors. Clearing it starts a
// new scrap; a reference to a cleared scrap is refused. Tests reset it.
#pragma once

#include "platform/base/MacTypes.h"

typedef struct OpaqueScrapRef* ScrapRef;
typedef FourCharCode ScrapFlavorType;
typedef UInt32 ScrapFlavorFlags;

struct ScrapFlavorInfo {
  ScrapFlavorType flavorType;
  ScrapFlavorFlags flavorFlags;
};

constexpr ScrapFlavorFlags kScrapFlavorMaskNone = 0;
constexpr ScrapFlavorFlags kScrapFlavorMaskSenderOnly = 1;

constexpr OSStatus noScrapErr = -100;
constexpr OSStatus noTypeErr = -102;
constexpr OSStatus duplicateScrapFlavorErr = -4960;
constexpr OSStatus badScrapRefErr = -4961;

OSStatus GetCurrentScrap(ScrapRef* outScrap);
// Empties the clipboard; references obtained before stop working.
OSStatus ClearCurrentScrap();
// Adds a flavor; a flavor of the same type already there is refused.
OSStatus PutScrapFlavor(ScrapRef inScrap, ScrapFlavorType inType, ScrapFlavorFlags inFlags, SInt32 inSize,
                        const void* inData);
OSStatus GetScrapFlavorFlags(ScrapRef inScrap, ScrapFlavorType inType, ScrapFlavorFlags* outFlags);
OSStatus GetScrapFlavorSize(ScrapRef inScrap, ScrapFlavorType inType, SInt32* outSize);
// Copies at most *ioSize bytes and reports the number copied.
OSStatus GetScrapFlavorData(ScrapRef inScrap, ScrapFlavorType inType, SInt32* ioSize, void* outData);
OSStatus GetScrapFlavorCount(ScrapRef inScrap, UInt32* outCount);
// Fills at most *ioCount entries in the order the flavors were put; reports the number filled.
OSStatus GetScrapFlavorInfoList(ScrapRef inScrap, UInt32* ioCount, ScrapFlavorInfo outInfo[]);

class UScrap {
 public:
  // Empties the clipboard and forgets every reference (for tests).
  static void Reset();
};
