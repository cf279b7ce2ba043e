// The image decoder on its own: exact raw formats, the caller's row bytes,
// the code table, seeking by flushing, damaged data.
#include <gtest/gtest.h>

#include "platform/movies/FFEncoder.h"
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
