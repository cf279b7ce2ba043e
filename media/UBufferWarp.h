// Draws an 8-bit A,R,G,B buffer through a matrix into 32-bit A,R,G,B pixels
// (a port's, or any picture's memory): the picture the movie view shows at
// its own size. Each destination pixel centre inside the clip maps through
// the inverse matrix into the source; it is sampled bilinearly (edges
// clamped, weights in 1/256) when smooth, else from the nearest pixel.
// Pixels that map outside the source are left as they were. A matrix of
// scale and offset only takes each column's taps once for all rows; other
// matrices map every pixel. Rows run in bands on the task pool.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/base/ImageMatrix.h"

class CBuffer;

class UBufferWarp {
 public:
  // The destination: its memory, row bytes and the rectangle its first byte stands for.
  struct SPixels {
    UInt8* base = nullptr;
    SInt32 rowBytes = 0;
    Rect bounds = {0, 0, 0, 0};
  };
  // Throws paramErr for a source that is not 8-bit A,R,G,B, a matrix that
  // cannot be inverted, or a clip outside the destination; 'nilP' without pixels.
  static void Draw(const CBuffer& inSource, const MatrixRecord& inMatrix, const SPixels& inDest, const Rect& inClip,
                   Boolean inSmooth);
};
