#include "platform/movies/FFSoundConverter.h"

#include <cmath>
#include <cstring>

#include "platform/movies/FFDecoder.h"

namespace {

inline UInt16 Swap16(UInt16 v) { return __builtin_bswap16(v); }
inline UInt32 Swap32(UInt32 v) { return __builtin_bswap32(v); }
inline UInt64 Swap64(UInt64 v) { return __builtin_bswap64(v); }
constexpr int kMaxPlanes = 32;  // more than the converter's channel limit
constexpr bool kHostLittle = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

}  // namespace

CFFSoundConverter::Pcm CFFSoundConverter::PcmOf(const FFSoundFormat& inFormat) {
  switch (inFormat.format) {
    case 'raw ': return inFormat.sampleSize == 8 ? Pcm::kU8 : Pcm::kNone;
    case 'twos': case 'sowt': {
      const bool little = inFormat.format == 'sowt';
      switch (inFormat.sampleSize) {
        case 8: return Pcm::kS8;
        case 16: return little ? Pcm::kS16LE : Pcm::kS16BE;
        case 24: return little ? Pcm::kS24LE : Pcm::kS24BE;
        case 32: return little ? Pcm::kS32LE : Pcm::kS32BE;
        default: return Pcm::kNone;
      }
    }
    case 'in24': return inFormat.littleEndian ? Pcm::kS24LE : Pcm::kS24BE;
    case 'in32': return inFormat.littleEndian ? Pcm::kS32LE : Pcm::kS32BE;
    case 'fl32': return inFormat.littleEndian ? Pcm::kF32LE : Pcm::kF32BE;
    case 'fl64': return inFormat.littleEndian ? Pcm::kF64LE : Pcm::kF64BE;
    default: return Pcm::kNone;
  }
}

UInt32 CFFSoundConverter::PcmBytes(Pcm inKind) {
  switch (inKind) {
    case Pcm::kU8: case Pcm::kS8: return 1;
    case Pcm::kS16BE: case Pcm::kS16LE: return 2;
    case Pcm::kS24BE: case Pcm::kS24LE: return 3;
    case Pcm::kS32BE: case Pcm::kS32LE: case Pcm::kF32BE: case Pcm::kF32LE: return 4;
    case Pcm::kF64BE: case Pcm::kF64LE: return 8;
    default: return 0;
  }
}

// The packed host-order format a kind of stored sample is unpacked to.
AVSampleFormat CFFSoundConverter::NativeFormat(Pcm inKind) {
  switch (inKind) {
    case Pcm::kU8: case Pcm::kS8: return AV_SAMPLE_FMT_U8;
    case Pcm::kS16BE: case Pcm::kS16LE: return AV_SAMPLE_FMT_S16;
    case Pcm::kS24BE: case Pcm::kS24LE: case Pcm::kS32BE: case Pcm::kS32LE: return AV_SAMPLE_FMT_S32;
    case Pcm::kF32BE: case Pcm::kF32LE: return AV_SAMPLE_FMT_FLT;
    case Pcm::kF64BE: case Pcm::kF64LE: return AV_SAMPLE_FMT_DBL;
    default: return AV_SAMPLE_FMT_NONE;
  }
}

CFFSoundConverter::CFFSoundConverter(const FFSoundFormat& inInput, const FFSoundFormat& inOutput)
    : mIn(inInput), mOut(inOutput), mInKind(PcmOf(inInput)), mOutKind(PcmOf(inOutput)) {
  auto validRate = [](Float64 r) { return r >= 1000.0 && r <= 768000.0; };
  if (!validRate(mIn.sampleRate) || !validRate(mOut.sampleRate) || mIn.channels < 1 || mIn.channels > 16 ||
      mOut.channels < 1 || mOut.channels > 16)
    Throw_(kFFBadSoundFormatErr);
  if (mOutKind == Pcm::kNone) Throw_(kFFBadSoundFormatErr);  // output is always uncompressed
  auto uncompressedCode = [](OSType c) {
    return c == 'raw ' || c == 'twos' || c == 'sowt' || c == 'in24' || c == 'in32' || c == 'fl32' || c == 'fl64';
  };
  if (mInKind == Pcm::kNone && uncompressedCode(mIn.format)) Throw_(kFFBadSoundFormatErr);
  if (mInKind == Pcm::kNone) {
    AVCodecID id = FFCodecIDForFourCC('soun', mIn.format, mIn.sampleSize);
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr) Throw_(kFFBadSoundFormatErr);
  }
  av_channel_layout_default(&mInLayout, mIn.channels);
  av_channel_layout_default(&mOutLayout, mOut.channels);
  mInFrameBytes = PcmBytes(mInKind) * static_cast<UInt32>(mIn.channels);
  mOutFrameBytes = PcmBytes(mOutKind) * static_cast<UInt32>(mOut.channels);
}

CFFSoundConverter::~CFFSoundConverter() {
  av_channel_layout_uninit(&mInLayout);
  av_channel_layout_uninit(&mOutLayout);
}

UInt64 CFFSoundConverter::GetChannelMask() const {
  if (!mOutLayoutKnown || mOutLayout.order != AV_CHANNEL_ORDER_NATIVE) return 0;
  return mOutLayout.u.mask;
}

void CFFSoundConverter::SetDecompressionParams(const void* inData, size_t inSize) {
  if (mBegun) Throw_(paramErr);
  if (inData == nullptr || inSize == 0) {
    mConfig.clear();
    mObjectType = 0;
    return;
  }
  mConfig = FFDecoderConfigFromESDS(static_cast<const UInt8*>(inData), inSize);
  mObjectType = FFObjectTypeFromESDS(static_cast<const UInt8*>(inData), inSize);
}

void CFFSoundConverter::GetBufferSizes(UInt32 inInputBytes, UInt32* outInputFrames, UInt32* outInputBytes,
                                       UInt32* outOutputBytes) const {
  UInt64 frames = 0, bytes = inInputBytes;
  if (mInKind != Pcm::kNone) {
    frames = inInputBytes / mInFrameBytes;
    bytes = frames * mInFrameBytes;
  } else if (mIn.format == 'ulaw' || mIn.format == 'alaw') {
    frames = inInputBytes / static_cast<UInt32>(mIn.channels);
    bytes = frames * static_cast<UInt32>(mIn.channels);
  } else if (mIn.format == 'ima4') {
    const UInt32 block = 34u * static_cast<UInt32>(mIn.channels);
    frames = static_cast<UInt64>(inInputBytes / block) * 64;
    bytes = static_cast<UInt64>(inInputBytes / block) * block;
  } else {
    // Variable-rate codecs: a generous guess of what the bytes decode to.
    frames = static_cast<UInt64>(inInputBytes) * 8 / static_cast<UInt32>(mIn.channels);
  }
  const UInt64 outFrames =
      static_cast<UInt64>(std::ceil(static_cast<double>(frames) * mOut.sampleRate / mIn.sampleRate)) + 64;
  const UInt64 outBytes = outFrames * mOutFrameBytes;
  if (outInputFrames) *outInputFrames = static_cast<UInt32>(std::min<UInt64>(frames, UINT32_MAX));
  if (outInputBytes) *outInputBytes = static_cast<UInt32>(std::min<UInt64>(bytes, UINT32_MAX));
  if (outOutputBytes) *outOutputBytes = static_cast<UInt32>(std::min<UInt64>(outBytes, UINT32_MAX));
}

void CFFSoundConverter::SetUpResampler(AVSampleFormat inFormat, int inRate) {
  SwrContext* swr = nullptr;
  int err = swr_alloc_set_opts2(&swr, &mOutLayout, NativeFormat(mOutKind), static_cast<int>(std::lround(mOut.sampleRate)),
                                &mInLayout, inFormat, inRate > 0 ? inRate : static_cast<int>(std::lround(mIn.sampleRate)),
                                0, nullptr);
  if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
  mResampler.reset(swr);
  err = swr_init(swr);
  if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
}

void CFFSoundConverter::BeginConversion() {
  mCarry.clear();
  mSourceEnded = false;
  mFlushed = false;
  mResampler.reset();
  mDecoder.reset();
  mDecodedFormat = -1;
  mDecodedRate = 0;
  av_channel_layout_uninit(&mInLayout);
  av_channel_layout_default(&mInLayout, mIn.channels);
  if (mInKind != Pcm::kNone) {
    SetUpResampler(NativeFormat(mInKind));
  } else {
    AVCodecID id = FFCodecIDForFourCC('soun', mIn.format, mIn.sampleSize);
    // MPEG-4 files describe MP3 and MP2 sound as 'mp4a' too: the object
    // type tells. The MPEG audio decoder takes every layer.
    if (mIn.format == 'mp4a' && (mObjectType == 0x69 || mObjectType == 0x6B)) id = AV_CODEC_ID_MP3;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) Throw_(kFFBadSoundFormatErr);
    mDecoder.reset(avcodec_alloc_context3(codec));
    ThrowIfMemFail_(mDecoder.get());
    AVCodecContext* c = mDecoder.get();
    c->sample_rate = static_cast<int>(std::lround(mIn.sampleRate));
    int err = av_channel_layout_copy(&c->ch_layout, &mInLayout);
    if (err < 0) ThrowFFError(err, memFullErr);
    if (mIn.format == 'ima4') c->block_align = 34 * mIn.channels;
    c->bits_per_coded_sample = mIn.sampleSize;
    if (!mConfig.empty()) {
      c->extradata = static_cast<uint8_t*>(av_mallocz(mConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      ThrowIfMemFail_(c->extradata);
      std::memcpy(c->extradata, mConfig.data(), mConfig.size());
      c->extradata_size = static_cast<int>(mConfig.size());
    }
    err = avcodec_open2(c, codec, nullptr);
    if (err < 0) ThrowFFError(err, kFFBadSoundFormatErr);
    mPacket = FFNewPacket();
    mFrame = FFNewFrame();
  }
  mBegun = true;
}

// Converts `inFrames` of input (nullptr input: flush) into up to `inCapacity`
// frames at `outNative`; input that does not fit waits in the resampler.
int CFFSoundConverter::Produce(uint8_t* outNative, int inCapacity, const uint8_t* const* inData, int inFrames) {
  static uint8_t sDummy[64];
  uint8_t* out[kMaxPlanes];
  for (int i = 0; i < kMaxPlanes; ++i) out[i] = inCapacity > 0 ? outNative : sDummy;
  const uint8_t* none[kMaxPlanes];
  for (int i = 0; i < kMaxPlanes; ++i) none[i] = sDummy;
  const uint8_t* const* in = inData != nullptr ? inData : (inFrames < 0 ? nullptr : none);
  int n = swr_convert(mResampler.get(), out, inCapacity, const_cast<const uint8_t**>(in), inFrames < 0 ? 0 : inFrames);
  if (n < 0) ThrowFFError(n, kFFBadSoundFormatErr);
  return n;
}

void CFFSoundConverter::Pack(const uint8_t* inNative, UInt32 inFrames, UInt8* outBytes) const {
  const size_t count = static_cast<size_t>(inFrames) * static_cast<size_t>(mOut.channels);
  switch (mOutKind) {
    case Pcm::kU8: std::memcpy(outBytes, inNative, count); break;
    case Pcm::kS8: for (size_t i = 0; i < count; ++i) outBytes[i] = inNative[i] ^ 0x80; break;
    case Pcm::kS16BE: case Pcm::kS16LE: {
      const bool swap = (mOutKind == Pcm::kS16BE) == kHostLittle;
      for (size_t i = 0; i < count; ++i) {
        UInt16 v;
        std::memcpy(&v, inNative + i * 2, 2);
        if (swap) v = Swap16(v);
        std::memcpy(outBytes + i * 2, &v, 2);
      }
      break;
    }
    case Pcm::kS24BE: case Pcm::kS24LE:
      for (size_t i = 0; i < count; ++i) {
        SInt32 v;
        std::memcpy(&v, inNative + i * 4, 4);
        const UInt32 u = static_cast<UInt32>(v) >> 8;  // the top 24 bits
        UInt8* p = outBytes + i * 3;
        if (mOutKind == Pcm::kS24BE) {
          p[0] = static_cast<UInt8>(u >> 16); p[1] = static_cast<UInt8>(u >> 8); p[2] = static_cast<UInt8>(u);
        } else {
          p[2] = static_cast<UInt8>(u >> 16); p[1] = static_cast<UInt8>(u >> 8); p[0] = static_cast<UInt8>(u);
        }
      }
      break;
    case Pcm::kS32BE: case Pcm::kS32LE: case Pcm::kF32BE: case Pcm::kF32LE: {
      const bool swap = (mOutKind == Pcm::kS32BE || mOutKind == Pcm::kF32BE) == kHostLittle;
      for (size_t i = 0; i < count; ++i) {
        UInt32 v;
        std::memcpy(&v, inNative + i * 4, 4);
        if (swap) v = Swap32(v);
        std::memcpy(outBytes + i * 4, &v, 4);
      }
      break;
    }
    case Pcm::kF64BE: case Pcm::kF64LE: {
      const bool swap = (mOutKind == Pcm::kF64BE) == kHostLittle;
      for (size_t i = 0; i < count; ++i) {
        UInt64 v;
        std::memcpy(&v, inNative + i * 8, 8);
        if (swap) v = Swap64(v);
        std::memcpy(outBytes + i * 8, &v, 8);
      }
      break;
    }
    case Pcm::kNone: break;
  }
}

// Asks the source for more sound and hands it to the resampler (buffered
// there until output space asks for it). False when the source has ended.
bool CFFSoundConverter::PullInput(FFSoundFillProc inFill, void* inRefCon) {
  FFSoundInput input;
  if (inFill == nullptr || !inFill(&input, inRefCon) || input.data == nullptr || input.bytes == 0) return false;
  const UInt8* src = static_cast<const UInt8*>(input.data);
  if (mInKind != Pcm::kNone) {
    // A source may hand out parts of a frame: the part waits for the rest.
    if (!mCarry.empty()) {
      mCarry.insert(mCarry.end(), src, src + input.bytes);
      mJoined.swap(mCarry);
      mCarry.clear();
      src = mJoined.data();
      input.bytes = static_cast<UInt32>(mJoined.size());
    }
    const UInt32 frames = input.bytes / mInFrameBytes;
    mCarry.assign(src + static_cast<size_t>(frames) * mInFrameBytes, src + input.bytes);
    if (frames == 0) return true;
    const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(mIn.channels);
    const size_t nativeBytes = static_cast<size_t>(av_get_bytes_per_sample(NativeFormat(mInKind)));
    mNativeIn.resize(count * nativeBytes);
    UInt8* dst = mNativeIn.data();
    switch (mInKind) {
      case Pcm::kU8: std::memcpy(dst, src, count); break;
      case Pcm::kS8: for (size_t i = 0; i < count; ++i) dst[i] = src[i] ^ 0x80; break;
      case Pcm::kS16BE: case Pcm::kS16LE: {
        const bool swap = (mInKind == Pcm::kS16BE) == kHostLittle;
        for (size_t i = 0; i < count; ++i) {
          UInt16 v;
          std::memcpy(&v, src + i * 2, 2);
          if (swap) v = Swap16(v);
          std::memcpy(dst + i * 2, &v, 2);
        }
        break;
      }
      case Pcm::kS24BE: case Pcm::kS24LE:
        for (size_t i = 0; i < count; ++i) {
          const UInt8* p = src + i * 3;
          UInt32 u = mInKind == Pcm::kS24BE ? (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8)
                                            : (UInt32(p[2]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[0]) << 8);
          std::memcpy(dst + i * 4, &u, 4);
        }
        break;
      case Pcm::kS32BE: case Pcm::kS32LE: case Pcm::kF32BE: case Pcm::kF32LE: {
        const bool swap = (mInKind == Pcm::kS32BE || mInKind == Pcm::kF32BE) == kHostLittle;
        for (size_t i = 0; i < count; ++i) {
          UInt32 v;
          std::memcpy(&v, src + i * 4, 4);
          if (swap) v = Swap32(v);
          std::memcpy(dst + i * 4, &v, 4);
        }
        break;
      }
      case Pcm::kF64BE: case Pcm::kF64LE: {
        const bool swap = (mInKind == Pcm::kF64BE) == kHostLittle;
        for (size_t i = 0; i < count; ++i) {
          UInt64 v;
          std::memcpy(&v, src + i * 8, 8);
          if (swap) v = Swap64(v);
          std::memcpy(dst + i * 8, &v, 8);
        }
        break;
      }
      case Pcm::kNone: break;
    }
    const uint8_t* planes[kMaxPlanes] = {mNativeIn.data()};
    Produce(nullptr, 0, planes, static_cast<int>(frames));
    return true;
  }
  // Compressed: decode packet by packet; the decoded frames wait in the resampler.
  AVCodecContext* c = mDecoder.get();
  UInt32 packet = input.packetSize;
  if (packet == 0) packet = c->block_align > 0 ? static_cast<UInt32>(c->block_align) : input.bytes;
  for (UInt32 at = 0; at < input.bytes; at += packet) {
    const UInt32 size = std::min(packet, input.bytes - at);
    av_packet_unref(mPacket.get());
    int err = av_new_packet(mPacket.get(), static_cast<int>(size));
    if (err < 0) ThrowFFError(err, memFullErr);
    std::memcpy(mPacket->data, src + at, size);
    err = avcodec_send_packet(c, mPacket.get());
    if (err < 0) ThrowFFError(err, kFFCodecBadDataErr);
    for (;;) {
      err = avcodec_receive_frame(c, mFrame.get());
      if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) break;
      if (err < 0) ThrowFFError(err, kFFCodecBadDataErr);
      // The resampler takes the frames as the decoder lays them out: a
      // description may name another channel count or rate than the stream
      // carries (mono AAC described as stereo), and reading planes that a
      // frame does not have would run off its memory.
      if (!mResampler || mFrame->format != mDecodedFormat || mFrame->sample_rate != mDecodedRate ||
          av_channel_layout_compare(&mFrame->ch_layout, &mInLayout) != 0) {
        if (mFrame->ch_layout.nb_channels < 1 || mFrame->ch_layout.nb_channels > 16 || mFrame->sample_rate <= 0)
          Throw_(kFFCodecBadDataErr);
        av_channel_layout_uninit(&mInLayout);
        err = av_channel_layout_copy(&mInLayout, &mFrame->ch_layout);
        if (err < 0) ThrowFFError(err, memFullErr);
        // The same count of channels comes out in the decoder's own layout:
        // a default layout of the count would move side channels to the back.
        if (mInLayout.order == AV_CHANNEL_ORDER_NATIVE && mInLayout.nb_channels == mOut.channels) {
          av_channel_layout_uninit(&mOutLayout);
          err = av_channel_layout_copy(&mOutLayout, &mInLayout);
          if (err < 0) ThrowFFError(err, memFullErr);
          mOutLayoutKnown = true;
        }
        mDecodedFormat = mFrame->format;
        mDecodedRate = mFrame->sample_rate;
        SetUpResampler(static_cast<AVSampleFormat>(mFrame->format), mFrame->sample_rate);
      }
      Produce(nullptr, 0, const_cast<const uint8_t* const*>(mFrame->extended_data), mFrame->nb_samples);
      av_frame_unref(mFrame.get());
    }
  }
  return true;
}

void CFFSoundConverter::FillBuffer(FFSoundFillProc inFill, void* inRefCon, void* outBuffer, UInt32 inBufferBytes,
                                   UInt32* outBytes, UInt32* outFrames, UInt32* outFlags) {
  if (!mBegun) Throw_(paramErr);
  if (outBuffer == nullptr) Throw_(paramErr);
  const int capacity = static_cast<int>(inBufferBytes / mOutFrameBytes);
  if (capacity <= 0) Throw_(paramErr);
  const size_t nativeFrameBytes =
      static_cast<size_t>(av_get_bytes_per_sample(NativeFormat(mOutKind))) * static_cast<size_t>(mOut.channels);
  mNativeOut.resize(static_cast<size_t>(capacity) * nativeFrameBytes);
  int got = 0;
  while (got < capacity && !mFlushed) {
    uint8_t* at = mNativeOut.data() + static_cast<size_t>(got) * nativeFrameBytes;
    if (mResampler) {
      const int n = Produce(at, capacity - got, nullptr, 0);
      got += n;
      if (n > 0) continue;
    }
    if (!mSourceEnded) {
      if (!PullInput(inFill, inRefCon)) mSourceEnded = true;
      continue;
    }
    // The source has ended: the resampler gives out what it still holds.
    const int n = mResampler ? Produce(at, capacity - got, nullptr, -1) : 0;
    if (n <= 0) mFlushed = true;
    got += n > 0 ? n : 0;
  }
  Pack(mNativeOut.data(), static_cast<UInt32>(got), static_cast<UInt8*>(outBuffer));
  UInt32 flags = 0;
  if (got < capacity) flags |= kFFSoundDidntFillBuffer;
  if (mFlushed) flags |= kFFSoundEnded;
  if (outBytes) *outBytes = static_cast<UInt32>(got) * mOutFrameBytes;
  if (outFrames) *outFrames = static_cast<UInt32>(got);
  if (outFlags) *outFlags = flags;
}

void CFFSoundConverter::EndConversion(void* outBuffer, UInt32 inBufferBytes, UInt32* outBytes, UInt32* outFrames) {
  UInt32 bytes = 0, frames = 0;
  if (mBegun && outBuffer != nullptr && inBufferBytes >= mOutFrameBytes) {
    mSourceEnded = true;
    UInt32 flags = 0;
    FillBuffer(nullptr, nullptr, outBuffer, inBufferBytes, &bytes, &frames, &flags);
  }
  if (outBytes) *outBytes = bytes;
  if (outFrames) *outFrames = frames;
  mBegun = false;
  mResampler.reset();
  mDecoder.reset();
}
