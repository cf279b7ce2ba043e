#include "platform/movies/MovieCodecs.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "platform/base/LException.h"

namespace {

std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}

std::map<CodecType, MovieDecoderFactory>& Factories() {
  static auto* f = new std::map<CodecType, MovieDecoderFactory>;
  return *f;
}

// Uncompressed images: 'raw ' at depth 32 (bytes A R G B) or 24 (R G B),
// rows packed without padding. Every sample is a whole frame.
class CRawDecoder : public CMovieDecoder {
 public:
  CRawDecoder(SInt32 w, SInt32 h, SInt16 depth) : mWidth(w), mHeight(h), mBytesPerPixel(depth == 24 ? 3 : 4) {}

  void SendSample(const void* inData, UInt32 inSize, SInt64, SInt64 inDisplayTime) override {
    UInt64 need = static_cast<UInt64>(mWidth) * static_cast<UInt64>(mHeight) * mBytesPerPixel;
    if (inSize < need) Throw_(codecErr);
    Frame f;
    f.time = inDisplayTime;
    // Frame memory goes round instead of being allocated (and its pages
    // faulted in) for every sample.
    if (!mSpare.empty()) {
      f.pixels = std::move(mSpare.back());
      mSpare.pop_back();
    }
    f.pixels.resize(static_cast<size_t>(need));
    std::memcpy(f.pixels.data(), inData, static_cast<size_t>(need));
    // Frames come out in display order.
    auto it = std::find_if(mFrames.begin(), mFrames.end(), [&](const Frame& o) { return o.time > f.time; });
    mFrames.insert(it, std::move(f));
  }
  void SendEnd() override {}
  bool ReceiveFrame(const MoviePixelBuffer& inDest, SInt64* outDisplayTime) override {
    if (mFrames.empty()) return false;
    Frame f = std::move(mFrames.front());
    mFrames.pop_front();
    if (outDisplayTime) *outDisplayTime = f.time;
    if (inDest.baseAddr && inDest.width > 0 && inDest.height > 0) Copy(f.pixels, inDest);
    if (mSpare.size() < 2) mSpare.push_back(std::move(f.pixels));
    return true;
  }
  void Flush() override { mFrames.clear(); }
  bool WritesOpaque() const override { return true; }

 private:
  struct Frame {
    SInt64 time = 0;
    std::vector<UInt8> pixels;
  };

  void Copy(const std::vector<UInt8>& inPixels, const MoviePixelBuffer& inDest) const {
    if (inDest.width == mWidth && inDest.height == mHeight) {
      // The same size: whole rows, alpha set to 255.
      for (SInt32 y = 0; y < mHeight; ++y) {
        UInt8* d = static_cast<UInt8*>(inDest.baseAddr) + static_cast<ptrdiff_t>(y) * inDest.rowBytes;
        const UInt8* srow = inPixels.data() + static_cast<size_t>(y) * mWidth * mBytesPerPixel;
        if (mBytesPerPixel == 4) {
          for (SInt32 x = 0; x < mWidth; ++x) {
            UInt32 v;
            std::memcpy(&v, srow + static_cast<size_t>(x) * 4, 4);
            v |= kOpaqueFirstByte;
            std::memcpy(d + static_cast<size_t>(x) * 4, &v, 4);
          }
        } else {
          for (SInt32 x = 0; x < mWidth; ++x) {
            d[4 * x] = 255;
            d[4 * x + 1] = srow[3 * x], d[4 * x + 2] = srow[3 * x + 1], d[4 * x + 3] = srow[3 * x + 2];
          }
        }
      }
      return;
    }
    for (SInt32 y = 0; y < inDest.height; ++y) {
      SInt32 sy = static_cast<SInt32>(static_cast<SInt64>(y) * mHeight / inDest.height);
      UInt8* d = static_cast<UInt8*>(inDest.baseAddr) + static_cast<ptrdiff_t>(y) * inDest.rowBytes;
      const UInt8* srow = inPixels.data() + static_cast<size_t>(sy) * mWidth * mBytesPerPixel;
      for (SInt32 x = 0; x < inDest.width; ++x) {
        SInt32 sx = static_cast<SInt32>(static_cast<SInt64>(x) * mWidth / inDest.width);
        const UInt8* s = srow + static_cast<size_t>(sx) * mBytesPerPixel;
        d[4 * x] = 255;
        if (mBytesPerPixel == 4) {
          d[4 * x + 1] = s[1], d[4 * x + 2] = s[2], d[4 * x + 3] = s[3];
        } else {
          d[4 * x + 1] = s[0], d[4 * x + 2] = s[1], d[4 * x + 3] = s[2];
        }
      }
    }
  }

  // The alpha byte (the first in memory) of a pixel read as a host word.
  static constexpr UInt32 kOpaqueFirstByte = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 0x000000FFu : 0xFF000000u;
  SInt32 mWidth, mHeight;
  SInt32 mBytesPerPixel;
  std::deque<Frame> mFrames;
  std::vector<std::vector<UInt8>> mSpare;
};

std::unique_ptr<CMovieDecoder> NewRawDecoder(const ImageDescription& d, const std::vector<UInt8>&) {
  if (d.width <= 0 || d.height <= 0 || (d.depth != 32 && d.depth != 24)) return nullptr;
  return std::make_unique<CRawDecoder>(d.width, d.height, d.depth);
}

}  // namespace

void RegisterMovieDecoder(CodecType inType, MovieDecoderFactory inFactory) {
  std::lock_guard<std::mutex> g(RegistryLock());
  if (inFactory)
    Factories()[inType] = inFactory;
  else
    Factories().erase(inType);
}

std::unique_ptr<CMovieDecoder> NewMovieDecoder(const std::vector<UInt8>& inDescBytes, SInt32 inThreads) {
  if (inDescBytes.size() < sizeof(ImageDescription)) return nullptr;
  ImageDescription d;
  std::memcpy(&d, inDescBytes.data(), sizeof d);
  MovieDecoderFactory own = nullptr, fallback = nullptr;
  {
    std::lock_guard<std::mutex> g(RegistryLock());
    auto it = Factories().find(d.cType);
    if (it != Factories().end()) own = it->second;
    auto fb = Factories().find(0);
    if (fb != Factories().end()) fallback = fb->second;
  }
  if (own)
    if (auto dec = own(d, inDescBytes, inThreads)) return dec;
  if (d.cType == 'raw ')
    if (auto dec = NewRawDecoder(d, inDescBytes)) return dec;
  if (fallback) return fallback(d, inDescBytes, inThreads);
  return nullptr;
}
