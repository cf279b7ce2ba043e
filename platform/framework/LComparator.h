// Comparators for the arrays: order and equality of two items given as bytes.
#pragma once

#include "platform/base/MacTypes.h"

class LComparator {
 public:
  LComparator() = default;
  virtual ~LComparator() = default;

  // Negative, zero or positive as item one sorts before, with or after item
  // two. The base compares the bytes (unsigned), then the sizes.
  virtual SInt32 Compare(const void* inItemOne, const void* inItemTwo, UInt32 inSizeOne, UInt32 inSizeTwo) const;
  virtual bool IsEqualTo(const void* inItemOne, const void* inItemTwo, UInt32 inSizeOne, UInt32 inSizeTwo) const {
    return Compare(inItemOne, inItemTwo, inSizeOne, inSizeTwo) == 0;
  }
  // A new comparator of the same class; the caller owns it.
  virtual LComparator* Clone() const { return new LComparator; }
};

// Compares items holding one SInt32 each (without overflow).
class LLongComparator : public LComparator {
 public:
  SInt32 Compare(const void* inItemOne, const void* inItemTwo, UInt32 inSizeOne, UInt32 inSizeTwo) const override;
  LComparator* Clone() const override { return new LLongComparator; }
};
