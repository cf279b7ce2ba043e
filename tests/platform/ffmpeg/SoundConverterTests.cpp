// The sound converter: lengths across rate changes, exact format changes,
// compressed input, the fill procedure's protocol.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/movies/FFSoundConverter.h"
#include "tests/platform/ffmpeg/FFTestSupport.h"

using namespace fftest;

namespace {

// A source that hands out its bytes in pieces of `chunk`.
struct Source {
  std::vector<UInt8> bytes;
  size_t at = 0;
  size_t chunk = 10000;
  UInt32 packetSize = 0;
  int calls = 0;
  static bool Fill(FFSoundInput* out, void* ref) {
    Source* s = static_cast<Source*>(ref);
    ++s->calls;
    if (s->at >= s->bytes.size()) return false;
    size_t n = std::min(s->chunk, s->bytes.size() - s->at);
    out->data = s->bytes.data() + s->at;
    out->bytes = static_cast<UInt32>(n);
    out->packetSize = s->packetSize;
    s->at += n;
    return true;
  }
};

std::vector<UInt8> ConvertAll(CFFSoundConverter& c, Source& src, UInt32 bufferBytes, int* outBuffers = nullptr) {
  std::vector<UInt8> out, buffer(bufferBytes);
  c.BeginConversion();
  int buffers = 0;
  for (;;) {
    UInt32 bytes = 0, frames = 0, flags = 0;
    c.FillBuffer(Source::Fill, &src, buffer.data(), bufferBytes, &bytes, &frames, &flags);
    EXPECT_EQ(bytes, frames * c.GetOutputFrameBytes());
    EXPECT_LE(bytes, bufferBytes);
    out.insert(out.end(), buffer.begin(), buffer.begin() + bytes);
    ++buffers;
    if (flags & kFFSoundEnded) break;
    EXPECT_EQ(bytes, bufferBytes / c.GetOutputFrameBytes() * c.GetOutputFrameBytes()) << "only the last buffer is short";
    if (buffers > 100000) break;
  }
  UInt32 bytes = 0, frames = 0;
  c.EndConversion(buffer.data(), bufferBytes, &bytes, &frames);
  EXPECT_EQ(bytes, 0u);
  if (outBuffers) *outBuffers = buffers;
  return out;
}

std::vector<UInt8> S16Bytes(const std::vector<SInt16>& s, bool bigEndian) {
  std::vector<UInt8> b(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    UInt16 v = static_cast<UInt16>(s[i]);
    b[i * 2] = static_cast<UInt8>(bigEndian ? v >> 8 : v);
    b[i * 2 + 1] = static_cast<UInt8>(bigEndian ? v : v >> 8);
  }
  return b;
}

FFSoundFormat Format(OSType code, double rate, SInt16 channels, SInt16 bits = 16, bool little = false) {
  FFSoundFormat f;
  f.format = code;
  f.sampleRate = rate;
  f.channels = channels;
  f.sampleSize = bits;
  f.littleEndian = little;
  return f;
}

}  // namespace

TEST(SoundConverter, ResamplingKeepsTheLengthWithinOneBuffer) {
  const int inFrames = 44100 * 2 + 777;
  Source src;
  src.bytes = S16Bytes(MakeSine(inFrames, 44100, 2), true);
  CFFSoundConverter c(Format('twos', 44100, 2), Format('sowt', 48000, 2));
  UInt32 inputFrames = 0, inputBytes = 0, outputBytes = 0;
  c.GetBufferSizes(1000000, &inputFrames, &inputBytes, &outputBytes);
  EXPECT_EQ(inputFrames, 250000u);
  EXPECT_EQ(inputBytes, 1000000u);
  EXPECT_GE(outputBytes, 250000u * 48000 / 44100 * 4);
  const UInt32 bufferBytes = 4096 * 4;
  int buffers = 0;
  std::vector<UInt8> out = ConvertAll(c, src, bufferBytes, &buffers);
  const double expected = inFrames * 48000.0 / 44100.0;
  const double got = out.size() / 4.0;
  EXPECT_NEAR(got, expected, 4096.0);
  EXPECT_NEAR(got, expected, 64.0) << "the resampler's tail is delivered";
  // The signal survives: the same loudness before and after.
  double rmsIn = 0, rmsOut = 0;
  std::vector<SInt16> in = MakeSine(inFrames, 44100, 2);
  for (SInt16 v : in) rmsIn += double(v) * v;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    double v = static_cast<SInt16>(out[i] | (out[i + 1] << 8));
    rmsOut += v * v;
  }
  EXPECT_NEAR(std::sqrt(rmsOut / (out.size() / 2)), std::sqrt(rmsIn / in.size()), 100);
}

TEST(SoundConverter, FormatChangesAtOneRateAreExact) {
  std::vector<SInt16> samples = MakeSine(5001, 32000, 2);
  samples[0] = -32768;
  samples[1] = 32767;
  const std::vector<UInt8> big = S16Bytes(samples, true);
  // Through every wider format and back: the 16-bit samples come back unchanged.
  for (FFSoundFormat mid : {Format('in24', 32000, 2, 24, true), Format('in24', 32000, 2, 24, false),
                            Format('in32', 32000, 2, 32, true), Format('fl32', 32000, 2, 32, false),
                            Format('fl64', 32000, 2, 64, true), Format('twos', 32000, 2, 24)}) {
    SCOPED_TRACE(std::to_string(mid.format) + (mid.littleEndian ? " little" : " big"));
    Source there;
    there.bytes = big;
    CFFSoundConverter to(Format('twos', 32000, 2), mid);
    std::vector<UInt8> wide = ConvertAll(to, there, 9000);
    ASSERT_EQ(wide.size(), samples.size() * (mid.sampleSize / 8));
    Source back;
    back.bytes = wide;
    CFFSoundConverter from(mid, Format('twos', 32000, 2));
    EXPECT_EQ(ConvertAll(from, back, 7000), big);
  }
  // 24-bit big-endian by hand: the 16-bit value in the top two bytes.
  Source src;
  src.bytes = big;
  CFFSoundConverter to24(Format('twos', 32000, 2), Format('in24', 32000, 2, 24));
  std::vector<UInt8> b24 = ConvertAll(to24, src, 6000);
  EXPECT_EQ(b24[0], 0x80);
  EXPECT_EQ(b24[1], 0x00);
  EXPECT_EQ(b24[2], 0x00);
  EXPECT_EQ(b24[3], 0x7F);
  EXPECT_EQ(b24[4], 0xFF);
  // 8-bit signed and unsigned samples differ only in their top bit.
  Source s8;
  s8.bytes = {0x00, 0x7F, 0x80, 0x01};
  CFFSoundConverter to8(Format('twos', 8000, 1, 8), Format('raw ', 8000, 1, 8));
  EXPECT_EQ(ConvertAll(to8, s8, 100), (std::vector<UInt8>{0x80, 0xFF, 0x00, 0x81}));
}

TEST(SoundConverter, ChannelCountsChange) {
  Source src;
  src.bytes = S16Bytes(MakeSine(8000, 16000, 1), false);
  CFFSoundConverter c(Format('sowt', 16000, 1), Format('sowt', 16000, 2));
  std::vector<UInt8> out = ConvertAll(c, src, 3000);
  ASSERT_EQ(out.size(), 8000u * 4);
  // Both channels carry the mono signal alike.
  for (size_t i = 0; i < out.size(); i += 4) ASSERT_EQ(std::memcmp(&out[i], &out[i + 2], 2), 0);
}

TEST(SoundConverter, CompressedInputIsDecoded) {
  // µ-law bytes of a sine, made with libavcodec's own encoder.
  const std::vector<SInt16> samples = MakeSine(11025, 11025, 1);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_MULAW);
  ASSERT_NE(codec, nullptr);
  AVCodecContext* enc = avcodec_alloc_context3(codec);
  enc->sample_rate = 11025;
  enc->sample_fmt = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&enc->ch_layout, 1);
  ASSERT_EQ(avcodec_open2(enc, codec, nullptr), 0);
  AVFrame* f = av_frame_alloc();
  f->nb_samples = static_cast<int>(samples.size());
  f->format = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&f->ch_layout, 1);
  ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
  std::memcpy(f->data[0], samples.data(), samples.size() * 2);
  AVPacket* p = av_packet_alloc();
  ASSERT_EQ(avcodec_send_frame(enc, f), 0);
  ASSERT_EQ(avcodec_receive_packet(enc, p), 0);
  Source src;
  src.bytes.assign(p->data, p->data + p->size);
  src.chunk = 1000;
  av_packet_free(&p);
  av_frame_free(&f);
  avcodec_free_context(&enc);

  CFFSoundConverter c(Format('ulaw', 11025, 1, 8), Format('sowt', 11025, 1));
  UInt32 frames = 0;
  c.GetBufferSizes(1000, &frames, nullptr, nullptr);
  EXPECT_EQ(frames, 1000u);
  std::vector<UInt8> out = ConvertAll(c, src, 2048);
  ASSERT_EQ(out.size(), samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    SInt16 v = static_cast<SInt16>(out[i * 2] | (out[i * 2 + 1] << 8));
    ASSERT_NEAR(v, samples[i], std::abs(samples[i]) / 16 + 16) << i;  // µ-law keeps about 4% of the value
  }
}

TEST(SoundConverter, RefusesWhatItCannotDo) {
  EXPECT_THROW(CFFSoundConverter(Format('sowt', 44100, 2), Format('mp4a', 44100, 2)), LException);
  EXPECT_THROW(CFFSoundConverter(Format('zzzz', 44100, 2), Format('sowt', 44100, 2)), LException);
  EXPECT_THROW(CFFSoundConverter(Format('sowt', 0, 2), Format('sowt', 44100, 2)), LException);
  EXPECT_THROW(CFFSoundConverter(Format('sowt', 44100, 0), Format('sowt', 44100, 2)), LException);
  EXPECT_THROW(CFFSoundConverter(Format('twos', 44100, 2, 12), Format('sowt', 44100, 2)), LException);
  CFFSoundConverter c(Format('sowt', 44100, 2), Format('sowt', 44100, 2));
  UInt8 buffer[16];
  UInt32 bytes, frames, flags;
  EXPECT_THROW(c.FillBuffer(Source::Fill, nullptr, buffer, sizeof buffer, &bytes, &frames, &flags), LException);
  // An empty source ends at once, with nothing.
  Source empty;
  c.BeginConversion();
  c.FillBuffer(Source::Fill, &empty, buffer, sizeof buffer, &bytes, &frames, &flags);
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(flags & kFFSoundEnded);
  EXPECT_TRUE(flags & kFFSoundDidntFillBuffer);
}
