#include "platform/movies/FFDecoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the pixel byte swap assumes a little-endian host");
// swscale's fast converters write B, G, R, A; the copy into the caller's
// rows turns that into A, R, G, B (its own A, R, G, B writers are slow and
// write a byte outside the row for RGB sources).
constexpr AVPixelFormat kScaleFormat = AV_PIX_FMT_BGRA;

// B, G, R, A becomes A, R, G, B with A = 255. Compiled for the vector units
// present, where a byte shuffle does a whole register at once.
#if defined(__x86_64__) && !defined(__clang__)
__attribute__((target_clones("avx2", "ssse3", "default")))
#endif
void CopyRowToARGB(UInt8* outRow, const UInt8* inRow, SInt32 inWidth) {
  for (SInt32 x = 0; x < inWidth; ++x) {
    UInt32 v;
    std::memcpy(&v, inRow + x * 4, 4);
    v = __builtin_bswap32(v) | 0xFFu;
    std::memcpy(outRow + x * 4, &v, 4);
  }
}

// The same for the rows of a picture too large for the caches: the bytes go
// straight to memory instead of each line of the destination being fetched
// into the cache first. Such a picture is read next by another thread (a
// tracker, a renderer), often while the one before is still being read, and
// its lines are in no cache of this thread: a cached store waits for each
// of them. (Drawing ahead of the tracker at 1280x720, the copy of a frame
// took 0.36 ms instead of 0.65.) The caller fences the stores before it
// hands the picture on.
#if defined(__x86_64__)
__attribute__((target("avx2"))) void StreamRowToARGB(UInt8* outRow, const UInt8* inRow, SInt32 inWidth) {
  // The pixels before the first 32-byte boundary go the cached way (a row
  // not on a 4-byte boundary never reaches one and goes that way whole).
  SInt32 x = 0;
  while (x < inWidth && (reinterpret_cast<uintptr_t>(outRow + x * 4) & 31) != 0) ++x;
  CopyRowToARGB(outRow, inRow, x);
  const __m256i order = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6, 5, 4,
                                         11, 10, 9, 8, 15, 14, 13, 12);
  const __m256i alpha = _mm256_set1_epi32(0xFF);
  for (; x + 8 <= inWidth; x += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inRow + x * 4));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(outRow + x * 4), _mm256_or_si256(_mm256_shuffle_epi8(v, order), alpha));
  }
  CopyRowToARGB(outRow + x * 4, inRow + x * 4, inWidth - x);
}

bool CanStreamRows() {
  static const bool sCan = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return sCan;
}
#endif

// Pictures of at least this many bytes are written past the caches.
constexpr size_t kStreamBytes = 2u << 20;

// Whether a picture of these rows goes past the caches.
bool StreamsPicture(SInt32 inRowBytes, SInt32 inHeight) {
#if defined(__x86_64__)
  return static_cast<size_t>(inRowBytes) * static_cast<size_t>(inHeight) >= kStreamBytes && CanStreamRows();
#else
  (void)inRowBytes;
  (void)inHeight;
  return false;
#endif
}

// One converted row into the caller's picture; then, once every row is in,
// the fence that makes streamed rows visible to other threads.
void WriteRow(UInt8* outRow, const UInt8* inRow, SInt32 inWidth, bool inStream) {
#if defined(__x86_64__)
  if (inStream) return StreamRowToARGB(outRow, inRow, inWidth);
#endif
  CopyRowToARGB(outRow, inRow, inWidth);
}

void FinishRows(bool inStream) {
#if defined(__x86_64__)
  if (inStream) _mm_sfence();
#else
  (void)inStream;
#endif
}

// Length field of an MPEG-4 descriptor: up to four bytes, 7 bits each.
bool ReadDescriptorLength(const UInt8*& p, const UInt8* end, size_t& outLength) {
  outLength = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    UInt8 b = *p++;
    outLength = (outLength << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) return true;
  }
  return true;
}

// A converter from a decoded picture to kScaleFormat. `inColorSpace` -1: an
// RGB source without YUV coefficients.
FFSwsPtr MakeScaler(int inFormat, int inSrcWidth, int inSrcHeight, int inDstWidth, int inDstHeight, int inColorSpace,
                    int inRange) {
  FFSwsPtr scaler(sws_alloc_context());
  ThrowIfMemFail_(scaler.get());
  SwsContext* s = scaler.get();
  av_opt_set_int(s, "srcw", inSrcWidth, 0);
  av_opt_set_int(s, "srch", inSrcHeight, 0);
  av_opt_set_int(s, "src_format", inFormat, 0);
  av_opt_set_int(s, "dstw", inDstWidth, 0);
  av_opt_set_int(s, "dsth", inDstHeight, 0);
  av_opt_set_int(s, "dst_format", kScaleFormat, 0);
  av_opt_set_int(s, "sws_flags", SWS_BILINEAR, 0);
  // One thread converts: the decoder's own threads keep the processors busy
  // meanwhile (and swscale's slice threads write past an exactly sized buffer).
  av_opt_set_int(s, "threads", 1, 0);
  if (sws_init_context(s, nullptr, nullptr) < 0) Throw_(kFFCodecErr);
  if (inColorSpace >= 0)
    sws_setColorspaceDetails(s, sws_getCoefficients(inColorSpace), inRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                             1 << 16, 1 << 16);
  return scaler;
}

}  // namespace

std::vector<UInt8> FFDecoderConfigFromESDS(const UInt8* inData, size_t inSize) {
  std::vector<UInt8> unchanged(inData, inData + inSize);
  // An 'esds' payload: version and flags (4 bytes, version 0), then the ES descriptor (tag 3).
  if (inSize < 6 || inData[0] != 0 || inData[4] != 0x03) return unchanged;
  const UInt8* p = inData + 5;
  const UInt8* end = inData + inSize;
  size_t len = 0;
  if (!ReadDescriptorLength(p, end, len) || end - p < 3) return unchanged;
  p += 2;  // ES id
  UInt8 flags = *p++;
  if (flags & 0x80) p += 2;                       // depends-on ES id
  if (flags & 0x40) { if (p >= end) return unchanged; p += 1 + *p; }  // URL
  if (flags & 0x20) p += 2;                       // OCR ES id
  if (p >= end || *p++ != 0x04) return unchanged; // decoder configuration descriptor
  if (!ReadDescriptorLength(p, end, len) || end - p < 13) return unchanged;
  p += 13;  // object type, stream type, buffer size, bit rates
  if (p >= end || *p++ != 0x05) return {};
  if (!ReadDescriptorLength(p, end, len) || static_cast<size_t>(end - p) < len) return unchanged;
  return std::vector<UInt8>(p, p + len);
}

UInt8 FFObjectTypeFromESDS(const UInt8* inData, size_t inSize) {
  if (inData == nullptr || inSize < 6 || inData[0] != 0 || inData[4] != 0x03) return 0;
  const UInt8* p = inData + 5;
  const UInt8* end = inData + inSize;
  size_t len = 0;
  if (!ReadDescriptorLength(p, end, len) || end - p < 3) return 0;
  p += 2;
  const UInt8 flags = *p++;
  if (flags & 0x80) p += 2;
  if (flags & 0x40) {
    if (p >= end) return 0;
    p += 1 + *p;
  }
  if (flags & 0x20) p += 2;
  if (p >= end || *p++ != 0x04) return 0;
  if (!ReadDescriptorLength(p, end, len) || end - p < 1) return 0;
  return *p;
}

int FFDefaultColorSpace(int inHeight) { return inHeight >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M; }

bool CFFDecoder::CanDecode(OSType inCodec) {
  AVCodecID id = FFCodecIDForFourCC('vide', inCodec);
  return id != AV_CODEC_ID_NONE && avcodec_find_decoder(id) != nullptr;
}

CFFDecoder::CFFDecoder(OSType inCodec, SInt32 inWidth, SInt32 inHeight, const void* inExtension,
                       size_t inExtensionSize, SInt16 inDepth, SInt32 inThreads)
    : mCodecType(inCodec), mWidth(inWidth), mHeight(inHeight) {
  if (inWidth <= 0 || inHeight <= 0 || inWidth > 16384 || inHeight > 16384) Throw_(paramErr);
  AVCodecID id = FFCodecIDForFourCC('vide', inCodec);
  const AVCodec* codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (codec == nullptr) Throw_(kFFNoCodecErr);
  mContext.reset(avcodec_alloc_context3(codec));
  ThrowIfMemFail_(mContext.get());
  AVCodecContext* c = mContext.get();
  c->width = inWidth;
  c->height = inHeight;
  c->coded_width = inWidth;
  c->coded_height = inHeight;
  c->codec_tag = FFTagFromFourCC(inCodec);
  c->bits_per_coded_sample = inDepth;
  // Damaged data is an error, not a picture patched up from its neighbours.
  c->err_recognition |= AV_EF_BITSTREAM | AV_EF_BUFFER;
  c->thread_count = inThreads > 0 ? inThreads : FFDefaultThreadCount();
  // Frame threads hold back as many frames as there are threads: codecs of
  // independent pictures split each picture instead, so one sample gives one frame.
  const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
  const bool intraOnly = desc != nullptr && (desc->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
  c->thread_type = intraOnly ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
  // A decoder told to stop at the first damage may do so after it said it
  // had a picture (the MPEG-4 part 2 decoder does): a frame thread then
  // hands on that it has one but drops the picture, and libavcodec aborts
  // the process on it when the frame is collected (when the end drains it,
  // most often). With frame threads damage is found in the pictures'
  // error flags instead (CheckFrame).
  if (intraOnly || c->thread_count == 1) c->err_recognition |= AV_EF_EXPLODE;
  if (inExtension != nullptr && inExtensionSize > 0) {
    std::vector<UInt8> config = FFDecoderConfigFromESDS(static_cast<const UInt8*>(inExtension), inExtensionSize);
    if (!config.empty()) {
      c->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      ThrowIfMemFail_(c->extradata);
      std::memcpy(c->extradata, config.data(), config.size());
      c->extradata_size = static_cast<int>(config.size());
    }
  }
  int err = avcodec_open2(c, codec, nullptr);
  if (err < 0) ThrowFFError(err, kFFCodecErr);
  mPacket = FFNewPacket();
  mFrame = FFNewFrame();
}

CFFDecoder::~CFFDecoder() = default;

void CFFDecoder::SendSample(const void* inData, UInt32 inSize, TimeValue64 inDecodeTime, TimeValue64 inDisplayTime) {
  if (mEnded) Throw_(paramErr);
  if (inData == nullptr || inSize == 0) Throw_(paramErr);
  // The decoder reads a little past the end of a packet: give it padded memory.
  av_packet_unref(mPacket.get());
  int err = av_new_packet(mPacket.get(), static_cast<int>(inSize));
  if (err < 0) ThrowFFError(err, memFullErr);
  std::memcpy(mPacket->data, inData, inSize);
  mPacket->dts = inDecodeTime;
  mPacket->pts = inDisplayTime;
  for (;;) {
    err = avcodec_send_packet(mContext.get(), mPacket.get());
    if (err != AVERROR(EAGAIN)) break;
    // The decoder's output is full: keep its next frame until it is asked for.
    FFFramePtr frame = FFNewFrame();
    int r = avcodec_receive_frame(mContext.get(), frame.get());
    if (r < 0) ThrowFFError(r, kFFCodecBadDataErr);
    mPending.push_back(std::move(frame));
  }
  av_packet_unref(mPacket.get());
  if (err < 0) ThrowFFError(err, err == AVERROR_INVALIDDATA ? kFFCodecBadDataErr : kFFCodecErr);
}

void CFFDecoder::SendEnd() {
  if (mEnded) return;
  mEnded = true;
  int err = avcodec_send_packet(mContext.get(), nullptr);
  if (err < 0 && err != AVERROR_EOF) ThrowFFError(err, kFFCodecErr);
}

void CFFDecoder::Flush() {
  avcodec_flush_buffers(mContext.get());
  mPending.clear();
  mEnded = false;
  mDrained = false;
}

bool CFFDecoder::NextDecodedFrame(AVFrame* outFrame) {
  if (!mPending.empty()) {
    av_frame_move_ref(outFrame, mPending.front().get());
    mPending.pop_front();
    return true;
  }
  if (mDrained) return false;
  int err = avcodec_receive_frame(mContext.get(), outFrame);
  if (err == AVERROR(EAGAIN)) return false;
  if (err == AVERROR_EOF) {
    mDrained = true;
    return false;
  }
  if (err < 0) ThrowFFError(err, kFFCodecBadDataErr);
  return true;
}

void CFFDecoder::CheckFrame(const AVFrame* inFrame) const {
  if (inFrame->decode_error_flags != 0 || (inFrame->flags & AV_FRAME_FLAG_CORRUPT) != 0)
    Throw_(kFFCodecBadDataErr);
  if (inFrame->width <= 0 || inFrame->height <= 0 || inFrame->data[0] == nullptr) Throw_(kFFCodecBadDataErr);
}

bool CFFDecoder::ReceiveFrame(const FFPixelBuffer& inDest, TimeValue64* outDisplayTime) {
  if (inDest.baseAddr == nullptr || inDest.width <= 0 || inDest.height <= 0 || inDest.rowBytes < inDest.width * 4)
    Throw_(paramErr);
  av_frame_unref(mFrame.get());
  if (!NextDecodedFrame(mFrame.get())) return false;
  CheckFrame(mFrame.get());
  Convert(mFrame.get(), inDest);
  if (outDisplayTime != nullptr) {
    SInt64 t = mFrame->best_effort_timestamp;
    if (t == AV_NOPTS_VALUE) t = mFrame->pts;
    *outDisplayTime = t;
  }
  av_frame_unref(mFrame.get());
  return true;
}

void CFFDecoder::Convert(const AVFrame* inFrame, const FFPixelBuffer& inDest) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(inFrame->format));
  if (desc == nullptr) Throw_(kFFCodecBadDataErr);
  const bool yuv = (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && desc->nb_components >= 3;
  const bool jpegFormat = inFrame->format == AV_PIX_FMT_YUVJ420P || inFrame->format == AV_PIX_FMT_YUVJ422P ||
                          inFrame->format == AV_PIX_FMT_YUVJ444P || inFrame->format == AV_PIX_FMT_YUVJ440P ||
                          inFrame->format == AV_PIX_FMT_YUVJ411P;
  const int range = (jpegFormat || inFrame->color_range == AVCOL_RANGE_JPEG) ? 1 : 0;
  int space = inFrame->colorspace;
  if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RESERVED || space == AVCOL_SPC_RGB)
    space = FFDefaultColorSpace(inFrame->height);
  if (!mScaler || mSrcFormat != inFrame->format || mSrcWidth != inFrame->width || mSrcHeight != inFrame->height ||
      mDstWidth != inDest.width || mDstHeight != inDest.height || mSrcColorSpace != space || mSrcRange != range) {
    mScaler.reset();
    mScaler = MakeScaler(inFrame->format, inFrame->width, inFrame->height, inDest.width, inDest.height, yuv ? space : -1,
                         range);
    mSrcFormat = inFrame->format;
    mSrcWidth = inFrame->width;
    mSrcHeight = inFrame->height;
    mDstWidth = inDest.width;
    mDstHeight = inDest.height;
    mSrcColorSpace = space;
    mSrcRange = range;
  }
  // swscale's vector converters write whole blocks of pixels, up to 32 bytes
  // past the end of a row, and the last row of a picture has no room for
  // that: they write into scratch rows with room to spare, and each band is
  // copied out (while still in the cache) with its bytes put in ARGB order.
  constexpr size_t kSlack = 256;
  // Bands are a multiple of every chroma subsampling height.
  constexpr int kBand = 16;
  const int scratchRowBytes = (inDest.width * 4 + 63) & ~63;
  // Without vertical scaling no row comes out before the source row of the
  // same number has gone in, so the rows a call gives out all lie between
  // the first row not yet copied and the band's end: the scratch holds just
  // those (and a band more, were a converter ever to run ahead), and the
  // converter is pointed that many rows back. (A scaling converter gets
  // scratch for its whole picture.)
  const bool sameHeight = inFrame->height == inDest.height;
  if (!sameHeight) mScratch.resize(static_cast<size_t>(scratchRowBytes) * inDest.height + kSlack);
  const int dstStrides[4] = {scratchRowBytes, 0, 0, 0};
  UInt8* base = static_cast<UInt8*>(inDest.baseAddr);
  const bool stream = StreamsPicture(inDest.rowBytes, inDest.height);
  SInt32 dstY = 0;
  for (int y = 0; y < inFrame->height; y += kBand) {
    const int bandRows = std::min(kBand, inFrame->height - y);
    // Pointers at the band's first row; chroma planes are shorter; a palette stays whole.
    const uint8_t* src[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int p = 0; p < 4; ++p) {
      if (inFrame->data[p] == nullptr) continue;
      const bool palette = p == 1 && (desc->flags & AV_PIX_FMT_FLAG_PAL) != 0;
      const int shift = (p == 1 || p == 2) ? desc->log2_chroma_h : 0;
      src[p] = palette ? inFrame->data[p] : inFrame->data[p] + static_cast<ptrdiff_t>(y >> shift) * inFrame->linesize[p];
    }
    // Where the converter's row 0 would be: row dstY lands on the first scratch row.
    uintptr_t origin = reinterpret_cast<uintptr_t>(mScratch.data());
    const int pendingRows = y + bandRows - dstY + kBand;
    if (sameHeight) {
      const size_t bytes = static_cast<size_t>(pendingRows) * scratchRowBytes + kSlack;
      if (mScratch.size() < bytes) mScratch.resize(bytes);
      origin = reinterpret_cast<uintptr_t>(mScratch.data()) - static_cast<uintptr_t>(dstY) * scratchRowBytes;
    }
    uint8_t* dstPlanes[4] = {reinterpret_cast<uint8_t*>(origin), nullptr, nullptr, nullptr};
    const int out = sws_scale(mScaler.get(), src, inFrame->linesize, y, bandRows, dstPlanes, dstStrides);
    if (out < 0) ThrowFFError(out, kFFCodecErr);
    if (sameHeight && out > pendingRows) Throw_(kFFCodecErr);
    // A scaling converter may give out its rows later than it takes them in.
    for (int r = 0; r < out && dstY < inDest.height; ++r, ++dstY)
      WriteRow(base + static_cast<size_t>(dstY) * inDest.rowBytes,
               reinterpret_cast<const UInt8*>(origin + static_cast<uintptr_t>(dstY) * scratchRowBytes), inDest.width,
               stream);
  }
  FinishRows(stream);
  if (dstY != inDest.height) Throw_(kFFCodecErr);
}
