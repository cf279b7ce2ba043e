#include "platform/movies/MoviePictCodec.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/MovieCodecs.h"

namespace {

constexpr CodecType kPictCodec = 'PICT';

class CPictDecoder : public CMovieDecoder {
 public:
  void SendSample(const void* inData, UInt32 inSize, SInt64, SInt64 inDisplayTime) override {
    Frame f;
    f.time = inDisplayTime;
    f.bytes.assign(static_cast<const UInt8*>(inData), static_cast<const UInt8*>(inData) + inSize);
    auto it = std::find_if(mFrames.begin(), mFrames.end(), [&](const Frame& o) { return o.time > f.time; });
    mFrames.insert(it, std::move(f));
  }
  void SendEnd() override {}
  bool ReceiveFrame(const MoviePixelBuffer& inDest, SInt64* outDisplayTime) override {
    if (mFrames.empty()) return false;
    Frame f = std::move(mFrames.front());
    mFrames.pop_front();
    if (outDisplayTime) *outDisplayTime = f.time;
    if (!inDest.baseAddr || inDest.width <= 0 || inDest.height <= 0) return true;
    Draw(f.bytes, inDest);
    return true;
  }
  void Flush() override { mFrames.clear(); }

 private:
  struct Frame {
    SInt64 time = 0;
    std::vector<UInt8> bytes;
  };

  static void Draw(const std::vector<UInt8>& inBytes, const MoviePixelBuffer& inDest) {
    if (inBytes.size() > 0x7FFFFFFFu) Throw_(codecErr);
    StHandleBlock pic(static_cast<SInt32>(inBytes.size()), false);
    if (!pic.Get()) Throw_(memFullErr);
    if (!inBytes.empty()) std::memcpy(*pic.Get(), inBytes.data(), inBytes.size());
    PicHandle picture = reinterpret_cast<PicHandle>(pic.Get());
    if (!IsValidPicture(picture)) Throw_(codecErr);

    Rect bounds = {0, 0, static_cast<SInt16>(std::min<SInt32>(inDest.height, 0x7FFF)),
                   static_cast<SInt16>(std::min<SInt32>(inDest.width, 0x7FFF))};
    GWorldPtr world = nullptr;
    OSErr err = QTNewGWorldFromPtr(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, inDest.baseAddr,
                                   inDest.rowBytes);
    if (err != noErr || !world) Throw_(err != noErr ? err : codecErr);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    const RGBColor black = {0, 0, 0};
    RGBForeColor(&black);
    PaintRect(&bounds);
    DrawPicture(picture, &bounds);
    err = QDError();
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
    if (err != noErr) Throw_(err);
    // Frames are opaque.
    for (SInt32 y = 0; y < bounds.bottom; ++y) {
      UInt8* row = static_cast<UInt8*>(inDest.baseAddr) + static_cast<ptrdiff_t>(y) * inDest.rowBytes;
      for (SInt32 x = 0; x < bounds.right; ++x) row[4 * x] = 255;
    }
  }

  std::deque<Frame> mFrames;
};

std::unique_ptr<CMovieDecoder> NewPictDecoder(const ImageDescription& inDesc, const std::vector<UInt8>&, SInt32) {
  if (inDesc.cType != kPictCodec) return nullptr;
  return std::make_unique<CPictDecoder>();
}

}  // namespace

void InstallPictMovieDecoder() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterMovieDecoder(kPictCodec, NewPictDecoder); });
}
