// Image decompression of any codec libavcodec decodes, into 32-bit ARGB
// pixel memory (bytes A, R, G, B; alpha 255). Samples go in in decode order
// with their times; frames come out in display order. The decoder keeps its
// position, so stepping frame by frame never seeks; `Flush` prepares it for
// a jump to another sync sample.
#pragma once

#include <deque>
#include <vector>

#include "platform/movies/FFCommon.h"

// Caller-owned 32-bit ARGB pixels: `rowBytes` apart, `width` x `height`.
struct FFPixelBuffer {
  void* baseAddr = nullptr;
  SInt32 rowBytes = 0;
  SInt32 width = 0;
  SInt32 height = 0;
};

class CFFDecoder {
 public:
  // `inCodec` is a sample description's data format ('avc1', 'jpeg', 'raw '...),
  // `inExtension` its decoder configuration: the payload of an 'avcC' or 'hvcC'
  // atom, of an 'esds' atom (the decoder-specific information is taken out of
  // it) or the decoder-specific information itself. `inDepth` is the
  // description's depth, which selects the pixel layout of 'raw ' data.
  // `inThreads` 0 means one per processor. Throws kFFNoCodecErr for a codec
  // that cannot be decoded.
  CFFDecoder(OSType inCodec, SInt32 inWidth, SInt32 inHeight, const void* inExtension = nullptr,
             size_t inExtensionSize = 0, SInt16 inDepth = 24, SInt32 inThreads = 0);
  ~CFFDecoder();
  CFFDecoder(const CFFDecoder&) = delete;
  CFFDecoder& operator=(const CFFDecoder&) = delete;

  static bool CanDecode(OSType inCodec);

  // Feeds the next sample in decode order. Times are in the media's time scale.
  void SendSample(const void* inData, UInt32 inSize, TimeValue64 inDecodeTime, TimeValue64 inDisplayTime);
  // No more samples follow: the frames the decoder still holds come out.
  void SendEnd();
  // The next frame in display order, converted into `inDest` (scaled when the
  // sizes differ). False when the decoder needs more samples or has given
  // out every frame after `SendEnd`. Damaged data throws kFFCodecBadDataErr.
  bool ReceiveFrame(const FFPixelBuffer& inDest, TimeValue64* outDisplayTime = nullptr);
  // True after `SendEnd` once every frame has been received.
  bool AtEnd() const { return mEnded && mPending.empty() && mDrained; }
  // Forgets the samples and frames held, before continuing at a sync sample.
  void Flush();

  OSType GetCodecType() const { return mCodecType; }
  SInt32 GetWidth() const { return mWidth; }
  SInt32 GetHeight() const { return mHeight; }

 private:
  bool NextDecodedFrame(AVFrame* outFrame);
  void CheckFrame(const AVFrame* inFrame) const;
  void Convert(const AVFrame* inFrame, const FFPixelBuffer& inDest);

  OSType mCodecType;
  SInt32 mWidth;
  SInt32 mHeight;
  FFCodecContextPtr mContext;
  FFPacketPtr mPacket;
  FFFramePtr mFrame;
  std::deque<FFFramePtr> mPending;  // frames taken out early to make room for input
  bool mEnded = false;
  bool mDrained = false;

  // Conversion state, rebuilt when the source or destination geometry changes.
  FFSwsPtr mScaler;
  std::vector<UInt8> mScratch;  // converted rows before they go into the caller's pixels
  int mSrcFormat = -1, mSrcWidth = 0, mSrcHeight = 0, mDstWidth = 0, mDstHeight = 0;
  int mSrcColorSpace = -1, mSrcRange = -1;
};

// The decoder-specific information inside an 'esds' atom's payload, or the
// bytes unchanged when they are not an 'esds' payload.
std::vector<UInt8> FFDecoderConfigFromESDS(const UInt8* inData, size_t inSize);
// The object type of an 'esds' payload's decoder configuration (0x40 AAC,
// 0x69 and 0x6B MPEG audio layers I to III), 0 when there is none.
UInt8 FFObjectTypeFromESDS(const UInt8* inData, size_t inSize);

// The YUV matrix of a picture when its stream does not say: BT.709 from 720
// lines up, else BT.601. Encoder and decoder agree on it.
int FFDefaultColorSpace(int inHeight);
