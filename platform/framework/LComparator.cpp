#include "platform/framework/LComparator.h"

#include <algorithm>
#include <cstring>

SInt32 LComparator::Compare(const void* inItemOne, const void* inItemTwo, UInt32 inSizeOne, UInt32 inSizeTwo) const {
  UInt32 n = std::min(inSizeOne, inSizeTwo);
  if (n > 0 && inItemOne && inItemTwo) {
    int r = std::memcmp(inItemOne, inItemTwo, n);
    if (r != 0) return r < 0 ? -1 : 1;
  }
  if (inSizeOne == inSizeTwo) return 0;
  return inSizeOne < inSizeTwo ? -1 : 1;
}

SInt32 LLongComparator::Compare(const void* inItemOne, const void* inItemTwo, UInt32, UInt32) const {
  SInt32 a, b;
  std::memcpy(&a, inItemOne, sizeof a);
  std::memcpy(&b, inItemTwo, sizeof b);
  return a < b ? -1 : (a > b ? 1 : 0);
}
