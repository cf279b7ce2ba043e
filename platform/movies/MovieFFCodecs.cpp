#include "platform/movies/MovieFFCodecs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/movies/FFDecoder.h"
#include "platform/movies/FFEncoder.h"
#include "platform/movies/FFSoundConverter.h"
#include "platform/movies/MovieCodecs.h"
#include "platform/movies/MovieFFImport.h"
#include "platform/movies/MovieImport.h"
#include "platform/movies/MovieModel.h"

using namespace movies;

namespace {

// Finds the payload of the first atom of `inType` among the atoms in
// [inBegin, inEnd), looking inside 'wave' atoms too.
bool FindAtom(const UInt8* inBegin, const UInt8* inEnd, OSType inType, std::vector<UInt8>& outPayload) {
  const UInt8* p = inBegin;
  while (inEnd - p >= 8) {
    const UInt32 size = ReadBE32(p);
    const OSType type = ReadBE32(p + 4);
    if (size < 8 || size > static_cast<UInt64>(inEnd - p)) return false;
    if (type == inType) {
      outPayload.assign(p + 8, p + size);
      return true;
    }
    if (type == 'wave' && FindAtom(p + 8, p + size, inType, outPayload)) return true;
    p += size;
  }
  return false;
}

// An image decompressor over libavcodec. The decoder keeps its position
// between frames; frame threads where the codec allows them.
class CFFMovieDecoder : public CMovieDecoder {
 public:
  CFFMovieDecoder(const ImageDescription& inDesc, const std::vector<UInt8>& inConfig, SInt32 inThreads)
      : mDecoder(inDesc.cType, inDesc.width, inDesc.height, inConfig.empty() ? nullptr : inConfig.data(),
                 inConfig.size(), inDesc.depth, inThreads) {}

  void SendSample(const void* inData, UInt32 inSize, SInt64 inDecodeTime, SInt64 inDisplayTime) override {
    mDecoder.SendSample(inData, inSize, inDecodeTime, inDisplayTime);
  }
  void SendEnd() override { mDecoder.SendEnd(); }
  bool ReceiveFrame(const MoviePixelBuffer& inDest, SInt64* outDisplayTime) override {
    if (inDest.baseAddr == nullptr || inDest.width <= 0 || inDest.height <= 0) {
      // A frame nobody looks at still has to come out of the decoder.
      if (mScratch.empty()) mScratch.resize(4);
      TimeValue64 t = 0;
      if (!mDecoder.ReceiveFrame(FFPixelBuffer{mScratch.data(), 4, 1, 1}, &t)) return false;
      if (outDisplayTime) *outDisplayTime = t;
      return true;
    }
    TimeValue64 t = 0;
    if (!mDecoder.ReceiveFrame(FFPixelBuffer{inDest.baseAddr, inDest.rowBytes, inDest.width, inDest.height}, &t))
      return false;
    if (outDisplayTime) *outDisplayTime = t;
    return true;
  }
  void Flush() override { mDecoder.Flush(); }
  // The conversion sets every alpha byte.
  bool WritesOpaque() const override { return true; }

 private:
  CFFDecoder mDecoder;
  std::vector<UInt8> mScratch;
};

std::unique_ptr<CMovieDecoder> NewFFMovieDecoder(const ImageDescription& inDesc, const std::vector<UInt8>& inBytes,
                                                 SInt32 inThreads) {
  if (inDesc.width <= 0 || inDesc.height <= 0 || !CFFDecoder::CanDecode(inDesc.cType)) return nullptr;
  try {
    return std::make_unique<CFFMovieDecoder>(inDesc, GetDescriptionDecoderConfig(inBytes, sizeof(ImageDescription)),
                                             inThreads);
  } catch (const LException& e) {
    // A codec we know but cannot open for this description: the registry answers noCodecErr.
    if (ErrorCodeToOSErr(e.GetErrorCode()) == kFFNoCodecErr) return nullptr;
    throw;
  }
}

// Codecs registered by name; the fallback serves any other code libavcodec knows.
constexpr OSType kVideoCodecs[] = {
    'avc1', 'avc3', 'H264', 'h264', 'hvc1', 'hev1', 'mp4v', 'jpeg', 'mjpa', 'AVDJ', 'mjpb', 'apcn', 'apch', 'apcs',
    'apco', 'ap4h', 'ap4x', 'dvc ', 'dvcp', 'dvpp', 'dv5n', 'dv5p', 'dvh5', 'dvh6', 'dvhq', 'dvhp', 'yuv2', '2vuy',
    'yuvs', 'v210', 'mp2v', 'mx5n', 'mx5p', 'mx4n', 'mx4p', 'mx3n', 'mx3p', 'hdv1', 'hdv2', 'hdv3', 'hdv5', 'hdv6',
    'hdv7', 'mp1v', 'm1v ', 'h263', 's263', 'SVQ1', 'SVQ3', 'cvid', 'rle ', 'rpza', 'smc ', 'png ', 'tiff', 'gif ',
    'vp09', 'av01', 'VP80', 'theo', 'FLV1', 'WMV3', 'WVC1'};

// --- sound ---------------------------------------------------------------------

struct SoundSource {
  const MediaObj* media = nullptr;
  SInt64 next = 0;        // sample number
  bool compressed = false;
  std::vector<UInt8> bytes;
  OSErr error = noErr;
};

bool IsUncompressedSound(OSType inFormat) {
  switch (inFormat) {
    case 'raw ': case 'twos': case 'sowt': case 'in24': case 'in32': case 'fl32': case 'fl64': case 'NONE':
      return true;
    default:
      return false;
  }
}

bool FillSound(FFSoundInput* outInput, void* inRefCon) {
  auto* s = static_cast<SoundSource*>(inRefCon);
  SampleInfo info;
  if (!s->media->samples.At(s->next, info)) return false;
  // Uncompressed sound is one sample per frame: hand over a run of them at once.
  OSErr err = CheckSampleBytes(*s->media, info);
  if (err != noErr) {
    s->error = err;
    return false;
  }
  UInt32 size = info.size;
  SInt64 count = 1;
  if (!s->compressed) {
    // A run stops at the end of its data and at a few megabytes.
    constexpr UInt32 kMaxRun = 8 * 1024 * 1024;
    const SInt64 end = SampleDataSize(*s->media, info.descIndex);
    SampleInfo n;
    while (count < 65536 && s->media->samples.At(s->next + count, n) && n.offset == info.offset + size &&
           n.descIndex == info.descIndex && n.size <= kMaxRun - size && n.offset + n.size <= end) {
      size += n.size;
      ++count;
    }
  }
  s->bytes.resize(size);
  info.size = size;
  err = ReadSampleBytes(*s->media, info, s->bytes.data());
  if (err != noErr) {
    s->error = err;
    return false;
  }
  s->next += count;
  outInput->data = s->bytes.data();
  outInput->bytes = size;
  outInput->packetSize = s->compressed ? size : 0;
  return size > 0;
}

}  // namespace

std::vector<UInt8> GetDescriptionDecoderConfig(const std::vector<UInt8>& inDescBytes, size_t inFixedSize) {
  std::vector<UInt8> payload;
  if (inDescBytes.size() <= inFixedSize) return payload;
  const UInt8* begin = inDescBytes.data() + inFixedSize;
  const UInt8* end = inDescBytes.data() + inDescBytes.size();
  for (OSType type : {OSType('avcC'), OSType('hvcC'), OSType('esds'), OSType('glbl')})
    if (FindAtom(begin, end, type, payload)) return payload;
  payload.clear();
  return payload;
}

OSErr GetMediaSound16(Media inMedia, std::vector<SInt16>& outSamples, SInt16* outChannels, Float64* outSampleRate) {
  outSamples.clear();
  return GuardedErr([&] {
    const MediaObj& m = GetMedia(inMedia);
    if (m.type != SoundMediaType || m.descs.empty() || m.descs[0].size() < sizeof(SoundDescription))
      Throw_(invalidMedia);
    SoundDescription sd;
    std::memcpy(&sd, m.descs[0].data(), sizeof sd);
    if (sd.numChannels <= 0) Throw_(kFFBadSoundFormatErr);
    FFSoundFormat in;
    in.format = sd.dataFormat;
    in.sampleRate = sd.sampleRate / 65536.0;
    in.channels = sd.numChannels;
    in.sampleSize = sd.sampleSize;
    FFSoundFormat out = in;
    out.format = 'sowt';
    out.sampleSize = 16;
    CFFSoundConverter converter(in, out);
    SoundSource source;
    source.media = &m;
    source.compressed = !IsUncompressedSound(sd.dataFormat);
    if (source.compressed) {
      const size_t fixed = sd.version == 1 ? 52 : sd.version == 2 ? 72 : sizeof(SoundDescription);
      std::vector<UInt8> config = GetDescriptionDecoderConfig(m.descs[0], fixed);
      if (!config.empty()) converter.SetDecompressionParams(config.data(), config.size());
    }
    converter.BeginConversion();
    std::vector<UInt8> buffer(64 * 1024);
    for (;;) {
      UInt32 bytes = 0, frames = 0, flags = 0;
      converter.FillBuffer(FillSound, &source, buffer.data(), static_cast<UInt32>(buffer.size()), &bytes, &frames,
                           &flags);
      if (source.error != noErr) Throw_(source.error);
      const size_t at = outSamples.size();
      outSamples.resize(at + bytes / 2);
      std::memcpy(outSamples.data() + at, buffer.data(), bytes / 2 * 2);
      if ((flags & kFFSoundEnded) != 0 || (bytes == 0 && (flags & kFFSoundDidntFillBuffer) != 0)) break;
    }
    UInt32 bytes = 0, frames = 0;
    converter.EndConversion(buffer.data(), static_cast<UInt32>(buffer.size()), &bytes, &frames);
    const size_t at = outSamples.size();
    outSamples.resize(at + bytes / 2);
    std::memcpy(outSamples.data() + at, buffer.data(), bytes / 2 * 2);
    if (outChannels) *outChannels = sd.numChannels;
    if (outSampleRate) *outSampleRate = in.sampleRate;
  });
}

void InstallFFmpegMovieComponents() {
  static std::once_flag once;
  std::call_once(once, [] {
    InstallFFmpegLog();
    for (OSType code : kVideoCodecs)
      if (CFFDecoder::CanDecode(code)) RegisterMovieDecoder(code, NewFFMovieDecoder);
    RegisterMovieDecoder(0, NewFFMovieDecoder);
  });
  // The importer is set every time: a test may have removed it.
  SetMovieFileImporter(ImportMovieWithFFmpeg);
}

namespace {

SInt32 FieldOrderOfFiel(const std::vector<UInt8>& inPayload) {
  if (inPayload.size() < 2) return -1;
  if (inPayload[0] == 1) return 0;
  if (inPayload[0] != 2) return -1;
  // The detail byte: 1 and 9 put the top field first in time, 6 and 14 the bottom one.
  switch (inPayload[1]) {
    case 1: case 9: return kFFFieldsUpperFirst;
    case 6: case 14: return kFFFieldsLowerFirst;
    default: return -1;
  }
}

// An MPEG-4 part 2 video object layer header (start code 00 00 01 2x, in
// the decoder configuration or the first picture) states whether the
// pictures are interlaced: progressive ones answer 0; interlaced ones name
// their field order per picture only, so they answer -1 as a stream that
// states nothing.
SInt32 FieldOrderOfMpeg4Layer(const UInt8* inData, size_t inSize) {
  for (size_t i = 0; i + 4 <= inSize; ++i) {
    if (inData[i] != 0 || inData[i + 1] != 0 || inData[i + 2] != 1 || (inData[i + 3] & 0xF0) != 0x20) continue;
    const UInt8* bits = inData + i + 4;
    const size_t count = (inSize - i - 4) * 8;
    size_t at = 0;
    bool ok = true;
    auto get = [&](unsigned inWidth) {
      UInt32 v = 0;
      for (unsigned k = 0; k < inWidth; ++k, ++at) {
        if (at >= count) {
          ok = false;
          return 0u;
        }
        v = (v << 1) | ((bits[at / 8] >> (7 - at % 8)) & 1u);
      }
      return v;
    };
    get(1);  // random accessible
    get(8);  // object type
    UInt32 version = 1;
    if (get(1)) {
      version = get(4);
      get(3);
    }
    if (get(4) == 15) get(16);  // an extended pixel aspect ratio
    if (get(1)) {               // control parameters: chroma format, low delay, buffer sizes
      get(3);
      if (get(1)) get(79);
    }
    const UInt32 shape = get(2);
    if (shape == 3 && version != 1) get(4);
    get(1);
    const UInt32 resolution = get(16);
    get(1);
    if (get(1)) {  // a fixed frame rate: its increment in as many bits as the resolution needs
      unsigned width = 1;
      while (width < 16 && (1u << width) < resolution) ++width;
      get(width);
    }
    if (shape == 2) return -1;  // shapes alone: no pictures
    if (shape == 0) get(29);    // markers, width and height of rectangular pictures
    const UInt32 interlaced = get(1);
    if (!ok) return -1;
    return interlaced ? -1 : 0;
  }
  return -1;
}

SInt32 FieldOrderOfParser(AVFieldOrder inOrder) {
  switch (inOrder) {
    case AV_FIELD_PROGRESSIVE: return kFFFieldsProgressive;
    case AV_FIELD_TT: case AV_FIELD_TB: return kFFFieldsUpperFirst;
    case AV_FIELD_BB: case AV_FIELD_BT: return kFFFieldsLowerFirst;
    default: return -1;
  }
}

struct FFParserFree {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

}  // namespace

SInt32 GetMediaStatedFieldOrder(Media inMedia) {
  if (!inMedia || GetMediaSampleDescriptionCount(inMedia) < 1) return -1;
  Handle desc = NewHandle(0);
  GetMediaSampleDescription(inMedia, 1, reinterpret_cast<SampleDescriptionHandle>(desc));
  std::vector<UInt8> bytes;
  if (GetMoviesError() == noErr && desc && GetHandleSize(desc) >= static_cast<SInt32>(sizeof(ImageDescription)))
    bytes.assign(reinterpret_cast<const UInt8*>(*desc), reinterpret_cast<const UInt8*>(*desc) + GetHandleSize(desc));
  if (desc) DisposeHandle(desc);
  if (bytes.empty()) return -1;
  ImageDescription fixed;
  std::memcpy(&fixed, bytes.data(), sizeof fixed);
  std::vector<UInt8> fiel;
  if (FindAtom(bytes.data() + sizeof fixed, bytes.data() + bytes.size(), 'fiel', fiel)) {
    const SInt32 order = FieldOrderOfFiel(fiel);
    if (order >= 0) return order;
  }
  const AVCodecID id = FFCodecIDForFourCC(VideoMediaType, fixed.cType);
  if (id == AV_CODEC_ID_NONE) return -1;
  std::unique_ptr<AVCodecParserContext, FFParserFree> parser(av_parser_init(id));
  if (!parser) return -1;
  parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
  const AVCodec* codec = avcodec_find_decoder(id);
  FFCodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return -1;
  // The parser finds the parameter sets of length-prefixed streams in the extradata.
  const std::vector<UInt8> config = GetDescriptionDecoderConfig(bytes, sizeof fixed);
  if (!config.empty()) {
    context->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata) return -1;
    std::memcpy(context->extradata, config.data(), config.size());
    context->extradata_size = static_cast<int>(config.size());
  }
  const SInt32 count = std::min<SInt32>(GetMediaSampleCount(inMedia), 8);
  Handle sample = NewHandle(0);
  if (!sample) return -1;
  SInt32 result = -1;
  for (SInt32 n = 1; n <= count && result < 0; ++n) {
    TimeValue time = 0, duration = 0;
    if (SampleNumToMediaTime(inMedia, n, &time, &duration) != noErr) break;
    SInt32 size = 0;
    if (GetMediaSample(inMedia, sample, 0, &size, time, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr) !=
            noErr ||
        size <= 0)
      break;
    std::vector<uint8_t> data(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(data.data(), *sample, static_cast<size_t>(size));
    uint8_t* out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser.get(), context.get(), &out, &outSize, data.data(), size, AV_NOPTS_VALUE, AV_NOPTS_VALUE,
                     0);
    result = FieldOrderOfParser(parser->field_order);
    // libavcodec's parser says nothing of MPEG-4 part 2: its layer header does.
    if (result < 0 && id == AV_CODEC_ID_MPEG4 && n == 1) {
      result = FieldOrderOfMpeg4Layer(config.data(), config.size());
      if (result < 0)
        result = FieldOrderOfMpeg4Layer(reinterpret_cast<const UInt8*>(*sample), static_cast<size_t>(size));
    }
  }
  DisposeHandle(sample);
  return result;
}
