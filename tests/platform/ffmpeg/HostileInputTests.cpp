// Damaged and impossible foreign files: errors, never an abort or a value
// that cannot be held.
#include <gtest/gtest.h>

#include <random>

#include "platform/movies/FFDemuxer.h"
#include "platform/movies/FFEncoder.h"
#include "platform/movies/FFMuxer.h"
#include "tests/platform/ffmpeg/FFTestSupport.h"

using namespace fftest;

namespace {

// Encodes `frames` pictures with libavcodec's encoder of `codec` and writes
// them with libavformat as `format`, in a stream of `timeBase`: with
// reordered frames at the encoder's times (20/600 s apart), else one packet
// every `ticks` ticks.
void WritePackets(const std::string& path, const char* format, OSType codec, int frames, AVRational timeBase,
                  int64_t ticks, bool reorder) {
  FFExportSettings settings;
  settings.keyFrameInterval = 12;
  auto enc = CFFEncoder::NewVideo(codec, 64, 48, 600, 20, settings, false, reorder);
  AVFormatContext* out = nullptr;
  ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, format, path.c_str()), 0);
  AVStream* st = avformat_new_stream(out, nullptr);
  ASSERT_GE(avcodec_parameters_from_context(st->codecpar, enc->GetContext()), 0);
  st->time_base = timeBase;
  ASSERT_GE(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out, nullptr), 0);
  int64_t n = 0;
  auto sink = [&](AVPacket* p) {
    if (reorder) {
      av_packet_rescale_ts(p, AVRational{1, 600}, st->time_base);
    } else {
      p->pts = p->dts = n * ticks;
      p->duration = ticks;
    }
    ++n;
    p->stream_index = st->index;
    ASSERT_GE(av_write_frame(out, p), 0);
  };
  for (int i = 0; i < frames; ++i) {
    Picture p = MakeFrame(64, 48, i);
    enc->EncodeFrame(p.Buffer(), i * 20, 20, sink);
  }
  enc->Finish(sink);
  ASSERT_GE(av_write_trailer(out), 0);
  avio_closep(&out->pb);
  avformat_free_context(out);
}

std::vector<UInt8> ReadBytes(const std::string& path) {
  std::vector<UInt8> b;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    UInt8 buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
  }
  return b;
}

void WriteBytes(const std::string& path, const std::vector<UInt8>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// Every sample fed, the end sent, every frame taken: errors are allowed, an
// abort is not. Returns how many frames came out.
int DecodeThrough(const std::string& path) {
  int frames = 0;
  try {
    CFFDemuxer d(path);
    for (ItemCount k = 0; k < d.CountTracks(); ++k) {
      const FFTrackInfo& t = d.GetTrack(k);
      if (t.handlerType != 'vide') continue;
      CFFDecoder decoder(t.codecType, t.width, t.height, t.codecPrivate.data(), t.codecPrivate.size(), t.depth);
      Picture out = MakeBlank(t.width, t.height);
      std::vector<UInt8> bytes;
      auto receive = [&] {
        for (;;) {
          try {
            if (!decoder.ReceiveFrame(out.Buffer(), nullptr)) return;
            ++frames;
          } catch (const LException&) {
          }
        }
      };
      for (ItemCount i = 0; i < t.samples.size(); ++i) {
        try {
          d.ReadSample(k, i, bytes);
          const FFSampleInfo& s = t.samples[i];
          decoder.SendSample(bytes.data(), static_cast<UInt32>(bytes.size()), s.decodeTime,
                             s.decodeTime + s.compositionOffset);
        } catch (const LException&) {
        }
        receive();
      }
      decoder.SendEnd();
      receive();
    }
  } catch (const LException&) {
  }
  return frames;
}

}  // namespace

// A damaged MPEG-4 part 2 stream in AVI decodes frame by frame to its end:
// damaged pictures are errors of their own and the end still drains.
TEST(HostileInput, DamagedMPEG4InAVIDrainsWithoutAborting) {
  TempFile file("mpeg4.avi");
  WritePackets(file.path, "avi", 'mp4v', 36, AVRational{1, 30}, 1, true);
  const std::vector<UInt8> good = ReadBytes(file.path);
  ASSERT_GT(good.size(), 2000u);
  EXPECT_EQ(DecodeThrough(file.path), 36);
  // Damage past the headers only, so that the file still opens.
  const size_t from = 1024, to = good.size() - 512;
  std::mt19937 rng(16);
  for (int round = 0; round < 60; ++round) {
    std::vector<UInt8> bad = good;
    const int hits = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < hits; ++i) {
      const size_t at = from + rng() % (to - from);
      const size_t span = 1 + rng() % 24;
      for (size_t j = at; j < std::min(to, at + span); ++j) bad[j] = static_cast<UInt8>(rng());
    }
    WriteBytes(file.path, bad);
    DecodeThrough(file.path);
  }
}

// A frame rate no 16.16 number can hold (90000 frames a second) is unknown.
TEST(HostileInput, ImpossibleFrameRateIsUnknown) {
  TempFile file("fast.mp4");
  WritePackets(file.path, "mp4", 'mp4v', 8, AVRational{1, 90000}, 1, false);
  CFFDemuxer d(file.path);
  const FFTrackInfo* video = nullptr;
  for (ItemCount k = 0; k < d.CountTracks(); ++k)
    if (d.GetTrack(k).handlerType == 'vide') video = &d.GetTrack(k);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->frameRate, 0);
  EXPECT_EQ(video->samples.size(), 8u);
}
