// The image decoder on its own: exact raw formats, the caller's row bytes,
// the code table, seeking by flushing, damaged data.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/movies/FFEncoder.h"
#include "platform/movies/FFCommon.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}
#include "tests/platform/ffmpeg/FFTestSupport.h"

using namespace fftest;

// libx264 keeps one small allocation of its option parser for the life of
// the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\n"; }

namespace {

struct QuietLogs : ::testing::Environment {
  void SetUp() override { av_log_set_level(AV_LOG_FATAL); }
};
const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new QuietLogs);

// Packets of an encoder kept in memory, in decode order.
struct Packet {
  std::vector<UInt8> bytes;
  SInt64 dts, pts;
  bool key;
};

std::vector<Packet> Encode(OSType codec, SInt32 w, SInt32 h, int frames, std::vector<UInt8>* outConfig,
                           SInt32 keyInterval = 0) {
  FFExportSettings settings;
  settings.keyFrameInterval = keyInterval;
  auto enc = CFFEncoder::NewVideo(codec, w, h, 600, 20, settings, true);
  std::vector<Packet> out;
  auto sink = [&](AVPacket* p) {
    out.push_back({std::vector<UInt8>(p->data, p->data + p->size), p->dts, p->pts, (p->flags & AV_PKT_FLAG_KEY) != 0});
  };
  for (int i = 0; i < frames; ++i) {
    Picture p = MakeFrame(w, h, i);
    enc->EncodeFrame(p.Buffer(), i * 20, 20, sink);
  }
  enc->Finish(sink);
  const AVCodecContext* c = enc->GetContext();
  if (outConfig) outConfig->assign(c->extradata, c->extradata + c->extradata_size);
  return out;
}

}  // namespace

TEST(CodecTable, CodesAndIdsMatch) {
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'avc1'), AV_CODEC_ID_H264);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'hvc1'), AV_CODEC_ID_HEVC);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'mjpb'), AV_CODEC_ID_MJPEGB);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'ap4h'), AV_CODEC_ID_PRORES);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'dv5p'), AV_CODEC_ID_DVVIDEO);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'xd5b'), AV_CODEC_ID_NONE);
  EXPECT_EQ(FFCodecIDForFourCC('vide', 'raw '), AV_CODEC_ID_RAWVIDEO);
  EXPECT_EQ(FFCodecIDForFourCC('soun', 'raw '), AV_CODEC_ID_PCM_U8);
  EXPECT_EQ(FFCodecIDForFourCC('soun', 'twos', 8), AV_CODEC_ID_PCM_S8);
  EXPECT_EQ(FFCodecIDForFourCC('soun', 'twos', 16), AV_CODEC_ID_PCM_S16BE);
  EXPECT_EQ(FFCodecIDForFourCC('soun', 'sowt', 16), AV_CODEC_ID_PCM_S16LE);
  AVCodecParameters* par = avcodec_parameters_alloc();
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_PRORES;
  par->profile = 3;
  EXPECT_EQ(FFFourCCForCodec(*par), static_cast<OSType>('apch'));
  par->codec_id = AV_CODEC_ID_MJPEG;
  EXPECT_EQ(FFFourCCForCodec(*par), static_cast<OSType>('jpeg'));
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = AV_CODEC_ID_PCM_MULAW;
  EXPECT_EQ(FFFourCCForCodec(*par), static_cast<OSType>('ulaw'));
  avcodec_parameters_free(&par);
  EXPECT_EQ(FFTagFromFourCC('avc1'), static_cast<UInt32>(MKTAG('a', 'v', 'c', '1')));
  EXPECT_TRUE(CFFDecoder::CanDecode('apcn'));
  EXPECT_FALSE(CFFDecoder::CanDecode('zzzz'));
}

TEST(Decoder, RawPicturesArriveExactlyWithOpaqueAlphaAndRowsKept) {
  const SInt32 w = 37, h = 11;
  // 32-bit 'raw ' is A, R, G, B per pixel; 24-bit is R, G, B.
  std::vector<UInt8> argb(static_cast<size_t>(w) * h * 4), rgb(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
    UInt8 r = static_cast<UInt8>(i * 7), g = static_cast<UInt8>(i * 13 + 5), b = static_cast<UInt8>(i * 29 + 1);
    argb[i * 4] = 0;  // alpha left 0 by many writers
    argb[i * 4 + 1] = r; argb[i * 4 + 2] = g; argb[i * 4 + 3] = b;
    rgb[i * 3] = r; rgb[i * 3 + 1] = g; rgb[i * 3 + 2] = b;
  }
  for (SInt16 depth : {SInt16(32), SInt16(24)}) {
    SCOPED_TRACE(depth);
    CFFDecoder dec('raw ', w, h, nullptr, 0, depth);
    const std::vector<UInt8>& src = depth == 32 ? argb : rgb;
    dec.SendSample(src.data(), static_cast<UInt32>(src.size()), 0, 0);
    Picture out = MakeBlank(w, h, 24);
    std::fill(out.pixels.begin(), out.pixels.end(), 0xEE);
    TimeValue64 t = -1;
    ASSERT_TRUE(dec.ReceiveFrame(out.Buffer(), &t));
    EXPECT_EQ(t, 0);
    for (SInt32 y = 0; y < h; ++y) {
      const UInt8* row = out.pixels.data() + static_cast<size_t>(y) * out.rowBytes;
      for (SInt32 x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        ASSERT_EQ(row[x * 4], 255);
        ASSERT_EQ(row[x * 4 + 1], argb[i * 4 + 1]);
        ASSERT_EQ(row[x * 4 + 2], argb[i * 4 + 2]);
        ASSERT_EQ(row[x * 4 + 3], argb[i * 4 + 3]);
      }
      // The padding at the end of each row is not the decoder's.
      for (SInt32 x = w * 4; x < out.rowBytes; ++x) ASSERT_EQ(row[x], 0xEE);
    }
    EXPECT_FALSE(dec.ReceiveFrame(out.Buffer(), &t));
    dec.SendEnd();
    EXPECT_FALSE(dec.ReceiveFrame(out.Buffer(), &t));
    EXPECT_TRUE(dec.AtEnd());
  }
}

TEST(Decoder, WritesOnlyInsideTheCallersPixels) {
  // Exact rows (no padding) between guard bytes, at an odd size and at a
  // size the fast converters work on in blocks.
  for (SInt32 w : {321, 640, 2600}) {
    const SInt32 h = w == 321 ? 239 : w == 640 ? 360 : 1500;
    std::vector<UInt8> config;
    std::vector<Packet> packets = Encode('jpeg', w, h, 1, &config);
    CFFDecoder dec('jpeg', w, h);
    dec.SendSample(packets[0].bytes.data(), static_cast<UInt32>(packets[0].bytes.size()), 0, 0);
    const size_t guard = 256, bytes = static_cast<size_t>(w) * 4 * h;
    std::vector<UInt8> memory(bytes + 2 * guard, 0x5A);
    FFPixelBuffer exact{memory.data() + guard, w * 4, w, h};
    ASSERT_TRUE(dec.ReceiveFrame(exact));
    for (size_t i = 0; i < guard; ++i) {
      ASSERT_EQ(memory[i], 0x5A) << i;
      ASSERT_EQ(memory[guard + bytes + i], 0x5A) << w << " " << i;
    }
    Picture ref = MakeFrame(w, h, 0);
    Picture got{w, h, w * 4, std::vector<UInt8>(memory.begin() + guard, memory.begin() + guard + bytes)};
    EXPECT_GT(PSNR(got, ref), 30);
    EXPECT_EQ(ReadFrameNumber(got), 0);
    for (size_t i = 0; i < bytes; i += 4) ASSERT_EQ(got.pixels[i], 255) << w << " row " << i / (w * 4) << " x " << (i % (w * 4)) / 4;
  }
}

// The picture libswscale makes of a decoded frame fed to it in slices of 16
// rows, written into a destination picture of the full size as its slice
// interface expects, in the decoder's colours, with the bytes in ARGB order
// and alpha opaque.
Picture ConvertIntoAWholePicture(const AVFrame* inFrame) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(inFrame->format));
  const bool yuv = (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0 && desc->nb_components >= 3;
  const bool jpeg = inFrame->format == AV_PIX_FMT_YUVJ420P || inFrame->format == AV_PIX_FMT_YUVJ422P ||
                    inFrame->format == AV_PIX_FMT_YUVJ444P;
  int space = inFrame->colorspace;
  if (space == AVCOL_SPC_UNSPECIFIED || space == AVCOL_SPC_RESERVED || space == AVCOL_SPC_RGB)
    space = FFDefaultColorSpace(inFrame->height);
  SwsContext* sws = sws_alloc_context();
  av_opt_set_int(sws, "srcw", inFrame->width, 0);
  av_opt_set_int(sws, "srch", inFrame->height, 0);
  av_opt_set_int(sws, "src_format", inFrame->format, 0);
  av_opt_set_int(sws, "dstw", inFrame->width, 0);
  av_opt_set_int(sws, "dsth", inFrame->height, 0);
  av_opt_set_int(sws, "dst_format", AV_PIX_FMT_BGRA, 0);
  av_opt_set_int(sws, "sws_flags", SWS_BILINEAR, 0);
  av_opt_set_int(sws, "threads", 1, 0);
  EXPECT_GE(sws_init_context(sws, nullptr, nullptr), 0);
  if (yuv)
    sws_setColorspaceDetails(sws, sws_getCoefficients(space), jpeg || inFrame->color_range == AVCOL_RANGE_JPEG ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  // Room past the last row and at the end of each for converters that write
  // whole blocks (the direct ones leave a row's last pixels out when its
  // blocks would not fit).
  Picture out = MakeBlank(inFrame->width, inFrame->height + 1, 64);
  out.height = inFrame->height;
  uint8_t* dst[4] = {out.pixels.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {out.rowBytes, 0, 0, 0};
  const AVPixFmtDescriptor* d = desc;
  int rows = 0;
  for (int y = 0; y < inFrame->height; y += 16) {
    const uint8_t* src[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int p = 0; p < 4; ++p)
      if (inFrame->data[p])
        src[p] = inFrame->data[p] + static_cast<ptrdiff_t>(y >> ((p == 1 || p == 2) ? d->log2_chroma_h : 0)) * inFrame->linesize[p];
    rows += sws_scale(sws, src, inFrame->linesize, y, std::min(16, inFrame->height - y), dst, strides);
  }
  EXPECT_EQ(rows, inFrame->height);
  sws_freeContext(sws);
  for (size_t i = 0; i < static_cast<size_t>(out.rowBytes) * out.height; i += 4) {
    std::swap(out.pixels[i], out.pixels[i + 3]);
    std::swap(out.pixels[i + 1], out.pixels[i + 2]);
    out.pixels[i] = 255;
  }
  out.pixels.resize(static_cast<size_t>(out.rowBytes) * out.height);
  return out;
}

// The samples decoded by libavcodec alone, and their last picture converted
// in one piece (ConvertIntoAWholePicture). A raw source names its layout.
void DecodeAndConvertWhole(AVCodecID inId, SInt32 inWidth, SInt32 inHeight, const std::vector<UInt8>& inConfig,
                           const std::vector<Packet>& inPackets, Picture* outWhole,
                           AVPixelFormat inRawFormat = AV_PIX_FMT_NONE, UInt32 inRawTag = 0) {
  const AVCodec* codec = avcodec_find_decoder(inId);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = inWidth;
  ctx->height = inHeight;
  if (inRawFormat != AV_PIX_FMT_NONE) {
    ctx->pix_fmt = inRawFormat;
    ctx->codec_tag = inRawTag;
  }
  if (!inConfig.empty()) {
    ctx->extradata = static_cast<uint8_t*>(av_mallocz(inConfig.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(ctx->extradata, inConfig.data(), inConfig.size());
    ctx->extradata_size = static_cast<int>(inConfig.size());
  }
  ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  for (const Packet& p : inPackets) {
    ASSERT_EQ(av_new_packet(pkt, static_cast<int>(p.bytes.size())), 0);
    std::memcpy(pkt->data, p.bytes.data(), p.bytes.size());
    avcodec_send_packet(ctx, pkt);
    av_packet_unref(pkt);
  }
  avcodec_send_packet(ctx, nullptr);
  ASSERT_EQ(avcodec_receive_frame(ctx, frame), 0);
  *outWhole = ConvertIntoAWholePicture(frame);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
}

// The decoder converts a frame a band of rows at a time through a few
// scratch rows, its converter pointed back as rows come out; the picture must
// be the one the converter writes into a picture of the full size, whatever
// the layout of the samples and however late the converter gives out its
// rows (4:2:0 and 4:2:2, 8 and 10 bits, planar and packed).
TEST(Decoder, FramesConvertedThroughAFewScratchRowsAreThoseOfAFullPicture) {
  // Rows not a multiple of the bands; an odd number of them keeps 4:2:0
  // off libswscale's direct converter, whose rows come out as they go in.
  const SInt32 w = 330;
  struct Case {
    OSType codec;
    AVCodecID id;
    SInt32 h;
  };
  for (const Case& c : {Case{'avc1', AV_CODEC_ID_H264, 238}, Case{'jpeg', AV_CODEC_ID_MJPEG, 238},
                        Case{'jpeg', AV_CODEC_ID_MJPEG, 237}, Case{'mp4v', AV_CODEC_ID_MPEG4, 238},
                        Case{'apcn', AV_CODEC_ID_PRORES, 237}, Case{'2vuy', AV_CODEC_ID_RAWVIDEO, 237}}) {
    const SInt32 h = c.h;
    const char name[5] = {static_cast<char>(c.codec >> 24), static_cast<char>(c.codec >> 16),
                          static_cast<char>(c.codec >> 8), static_cast<char>(c.codec), 0};
    SCOPED_TRACE(name);
    std::vector<UInt8> config;
    std::vector<Packet> packets;
    if (c.codec == '2vuy') {
      // Packed 4:2:2 with every byte different from its neighbours.
      Packet raw{std::vector<UInt8>(static_cast<size_t>(w) * h * 2), 0, 0, true};
      for (size_t i = 0; i < raw.bytes.size(); ++i) raw.bytes[i] = static_cast<UInt8>(i * 37 + (i / (w * 2)) * 11);
      packets.push_back(raw);
    } else {
      packets = Encode(c.codec, w, h, 1, &config);
    }
    ASSERT_FALSE(packets.empty());
    CFFDecoder dec(c.codec, w, h, config.empty() ? nullptr : config.data(), config.size());
    Picture got = MakeBlank(w, h, 12);
    for (const Packet& p : packets) dec.SendSample(p.bytes.data(), static_cast<UInt32>(p.bytes.size()), p.dts, p.pts);
    dec.SendEnd();
    ASSERT_TRUE(dec.ReceiveFrame(got.Buffer()));

    // The same sample through libavcodec and one whole conversion.
    Picture whole{};
    ASSERT_NO_FATAL_FAILURE(DecodeAndConvertWhole(c.id, w, h, config, packets, &whole,
                                                  c.codec == '2vuy' ? AV_PIX_FMT_UYVY422 : AV_PIX_FMT_NONE,
                                                  MKTAG('2', 'v', 'u', 'y')));

    for (SInt32 y = 0; y < h; ++y)
      ASSERT_EQ(0, std::memcmp(got.pixels.data() + static_cast<size_t>(y) * got.rowBytes,
                               whole.pixels.data() + static_cast<size_t>(y) * whole.rowBytes, static_cast<size_t>(w) * 4))
          << "row " << y;
  }
}

// A picture too large for the caches is written to memory past them. Its
// bytes must be those of the same picture written through the caches,
// wherever its rows start: on a vector boundary, a pixel or a few bytes off
// one, or rows each starting elsewhere; and nothing outside the pixels may
// be touched.
TEST(Decoder, LargePicturesWrittenPastTheCachesAreThoseOfAWholeConversion) {
  const SInt32 w = 1282, h = 720;
  std::vector<UInt8> config;
  std::vector<Packet> packets = Encode('avc1', w, h, 1, &config);
  ASSERT_FALSE(packets.empty());

  Picture whole{};
  ASSERT_NO_FATAL_FAILURE(DecodeAndConvertWhole(AV_CODEC_ID_H264, w, h, config, packets, &whole));

  struct Layout {
    size_t offset;     // bytes past a 64-byte boundary
    SInt32 rowBytes;
  };
  for (const Layout& layout : {Layout{0, w * 4}, Layout{0, w * 4 + 64}, Layout{4, w * 4 + 36}, Layout{2, w * 4},
                               Layout{28, w * 4 + 4}}) {
    SCOPED_TRACE(testing::Message() << "offset " << layout.offset << " row bytes " << layout.rowBytes);
    const size_t guard = 256, bytes = static_cast<size_t>(layout.rowBytes) * h;
    std::vector<UInt8> memory(bytes + 2 * guard + 64, 0xA5);
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(memory.data()) + guard + 63) & ~static_cast<uintptr_t>(63);
    UInt8* base = reinterpret_cast<UInt8*>(aligned + layout.offset);
    CFFDecoder dec('avc1', w, h, config.data(), config.size());
    dec.SendSample(packets[0].bytes.data(), static_cast<UInt32>(packets[0].bytes.size()), packets[0].dts,
                   packets[0].pts);
    dec.SendEnd();
    ASSERT_TRUE(dec.ReceiveFrame(FFPixelBuffer{base, layout.rowBytes, w, h}));
    for (SInt32 y = 0; y < h; ++y) {
      const UInt8* row = base + static_cast<size_t>(y) * layout.rowBytes;
      ASSERT_EQ(0, std::memcmp(row, whole.pixels.data() + static_cast<size_t>(y) * whole.rowBytes,
                               static_cast<size_t>(w) * 4))
          << "row " << y;
      for (SInt32 x = w * 4; x < layout.rowBytes; ++x) ASSERT_EQ(row[x], 0xA5) << "row " << y << " byte " << x;
    }
    for (const UInt8* p = memory.data(); p < base; ++p) ASSERT_EQ(*p, 0xA5);
    for (const UInt8* p = base + bytes; p < memory.data() + memory.size(); ++p) ASSERT_EQ(*p, 0xA5);
  }
}

TEST(Decoder, ScalesIntoADifferentlySizedBuffer) {
  std::vector<UInt8> config;
  std::vector<Packet> packets = Encode('jpeg', 320, 240, 1, &config);
  CFFDecoder dec('jpeg', 320, 240);
  dec.SendSample(packets[0].bytes.data(), static_cast<UInt32>(packets[0].bytes.size()), 0, 0);
  Picture half = MakeBlank(160, 120);
  ASSERT_TRUE(dec.ReceiveFrame(half.Buffer()));
  // The right half of the picture is greener (x gradient) than the left.
  EXPECT_GT(half.pixels[60 * half.rowBytes + 150 * 4 + 1], half.pixels[60 * half.rowBytes + 10 * 4 + 1] + 100);
  EXPECT_EQ(half.pixels[60 * half.rowBytes + 80 * 4], 255);
}

TEST(Decoder, FlushAndRestartAtAKeyFrame) {
  std::vector<UInt8> config;
  std::vector<Packet> packets = Encode('avc1', 256, 144, 30, &config, 10);
  CFFDecoder dec('avc1', 256, 144, config.data(), config.size());
  Picture out = MakeBlank(256, 144);
  // Decode the first few samples, then jump to the key frame of the third group.
  for (int i = 0; i < 4; ++i) {
    dec.SendSample(packets[i].bytes.data(), static_cast<UInt32>(packets[i].bytes.size()), packets[i].dts, packets[i].pts);
    while (dec.ReceiveFrame(out.Buffer())) {
    }
  }
  dec.Flush();
  // The last key frame: every later sample in decode order shows after it.
  size_t start = 0;
  for (size_t i = 0; i < packets.size(); ++i)
    if (packets[i].key) start = i;
  ASSERT_GT(start, 4u);
  const int first = static_cast<int>(packets[start].pts / 20);
  std::vector<int> seen;
  for (size_t i = start; i < packets.size(); ++i) {
    dec.SendSample(packets[i].bytes.data(), static_cast<UInt32>(packets[i].bytes.size()), packets[i].dts, packets[i].pts);
    TimeValue64 t;
    while (dec.ReceiveFrame(out.Buffer(), &t)) {
      seen.push_back(ReadFrameNumber(out));
      EXPECT_EQ(t, seen.back() * 20);
    }
  }
  dec.SendEnd();
  while (dec.ReceiveFrame(out.Buffer())) seen.push_back(ReadFrameNumber(out));
  std::vector<int> expected;
  for (int i = first; i < 30; ++i) expected.push_back(i);
  EXPECT_EQ(seen, expected);
}

TEST(Decoder, BadInputIsRefused) {
  EXPECT_THROW(CFFDecoder('zzzz', 64, 64), LException);
  try {
    CFFDecoder d('zzzz', 64, 64);
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), kFFNoCodecErr);
  }
  EXPECT_THROW(CFFDecoder('jpeg', 0, 64), LException);
  CFFDecoder dec('jpeg', 64, 64);
  Picture out = MakeBlank(64, 64);
  std::vector<UInt8> garbage(3000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<UInt8>(i * 31 + 7);
  bool failed = false;
  try {
    dec.SendSample(garbage.data(), static_cast<UInt32>(garbage.size()), 0, 0);
    dec.SendEnd();
    while (dec.ReceiveFrame(out.Buffer())) {
    }
  } catch (const LException& e) {
    failed = true;
    EXPECT_EQ(e.GetErrorCode(), kFFCodecBadDataErr);
  }
  EXPECT_TRUE(failed);
  FFPixelBuffer tooNarrow{out.pixels.data(), 10, 64, 64};
  EXPECT_THROW(dec.ReceiveFrame(tooNarrow), LException);
}

TEST(Decoder, EsdsPayloadGivesTheDecoderConfiguration) {
  // version/flags, ES descriptor, decoder configuration, decoder-specific info 12 34 56.
  const UInt8 esds[] = {0, 0, 0, 0, 0x03, 0x19, 0x00, 0x01, 0x00, 0x04, 0x11, 0x20, 0x11, 0x00, 0x10, 0x00,
                        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05, 0x03, 0x12, 0x34, 0x56, 0x06, 0x01, 0x02};
  EXPECT_EQ(FFDecoderConfigFromESDS(esds, sizeof esds), (std::vector<UInt8>{0x12, 0x34, 0x56}));
  const UInt8 plain[] = {0x00, 0x00, 0x01, 0xB0, 0x01};
  EXPECT_EQ(FFDecoderConfigFromESDS(plain, sizeof plain), std::vector<UInt8>(plain, plain + sizeof plain));
}

TEST(Decoder, DamagedH264SampleIsAnError) {
  std::vector<UInt8> config;
  std::vector<Packet> packets = Encode('avc1', 320, 240, 16, &config);
  // Zeroed bytes break the stream's units apart: the decoder cannot carry on.
  std::vector<UInt8>& damaged = packets[6].bytes;
  for (size_t k = 10; k < damaged.size(); k += 7) damaged[k] = 0;
  CFFDecoder dec('avc1', 320, 240, config.data(), config.size());
  Picture out = MakeBlank(320, 240);
  int frames = 0;
  try {
    for (const Packet& p : packets) {
      dec.SendSample(p.bytes.data(), static_cast<UInt32>(p.bytes.size()), p.dts, p.pts);
      while (dec.ReceiveFrame(out.Buffer())) ++frames;
    }
    dec.SendEnd();
    while (dec.ReceiveFrame(out.Buffer())) ++frames;
    FAIL() << "the damage went unnoticed";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), kFFCodecBadDataErr);
  }
  EXPECT_LT(frames, 16);
}
