#include "support/BufferMovie.h"

#include <cstring>

namespace testmovies {

Movie MakeBufferMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames,
                      const std::function<void(SInt32 k, CBuffer* ioFrame)>& inDraw, const RawMovieOptions& inOptions) {
  const Rect bounds = {0, 0, static_cast<SInt16>(inHeight), static_cast<SInt16>(inWidth)};
  CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
  return MakeRawMovie(
      inWidth, inHeight, inFrames,
      [&](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
        inDraw(k, &frame);
        for (SInt32 y = 0; y < inHeight; ++y)
          std::memcpy(outPixels + static_cast<size_t>(y) * inRowBytes,
                      frame.GetData() + static_cast<size_t>(y) * frame.GetRowBytes(), inRowBytes);
      },
      inOptions);
}

}  // namespace testmovies
