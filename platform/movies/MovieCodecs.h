// The image decompression seam of the movie toolbox: a registry of decoders
// by codec type. The toolbox has a built-in decoder for uncompressed 'raw '
// images (32-bit ARGB and 24-bit RGB); other codecs are registered by the
// codec layer. Samples go in in decode order, frames come out in display
// order; a decoder keeps its position between frames.
#pragma once

#include <memory>
#include <vector>

#include "platform/movies/Movies.h"

// Caller-owned 32-bit ARGB pixels (bytes A, R, G, B): `rowBytes` apart, `width` x `height`.
struct MoviePixelBuffer {
  void* baseAddr = nullptr;
  SInt32 rowBytes = 0;
  SInt32 width = 0;
  SInt32 height = 0;
};

class CMovieDecoder {
 public:
  virtual ~CMovieDecoder() = default;
  // Feeds the next sample in decode order; times in the media's time scale.
  virtual void SendSample(const void* inData, UInt32 inSize, SInt64 inDecodeTime, SInt64 inDisplayTime) = 0;
  // No more samples follow.
  virtual void SendEnd() = 0;
  // The next frame in display order into `inDest` (scaled when sizes differ);
  // false when more samples are needed or every frame is out. Failures throw
  // an LException with the codec error.
  virtual bool ReceiveFrame(const MoviePixelBuffer& inDest, SInt64* outDisplayTime) = 0;
  // Forgets what it holds before continuing at a sync sample.
  virtual void Flush() = 0;
  // True when every pixel it gives out has alpha 255: its frames may then
  // be decoded straight into a movie's drawing target.
  virtual bool WritesOpaque() const { return false; }
};

// Makes a decoder for an image description (host order fields followed by
// its extension atoms), or answers nil when it cannot decode it. inThreads
// is how many threads it may decode on: 0 means one per processor.
typedef std::unique_ptr<CMovieDecoder> (*MovieDecoderFactory)(const ImageDescription& inDesc,
                                                               const std::vector<UInt8>& inDescBytes,
                                                               SInt32 inThreads);

// Registers a factory for a codec type; type 0 registers a fallback asked for
// every type without its own factory. A later registration of the same type
// replaces the earlier one.
void RegisterMovieDecoder(CodecType inType, MovieDecoderFactory inFactory);
// A decoder for the description, or nil (noCodecErr) when none is registered.
std::unique_ptr<CMovieDecoder> NewMovieDecoder(const std::vector<UInt8>& inDescBytes, SInt32 inThreads = 0);
