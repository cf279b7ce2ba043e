// Movies written with the exporters' muxer, read back with the demuxer and
// decoded: every frame present once, at the right time, close to what was
// encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "platform/movies/FFDemuxer.h"
#include "platform/movies/FFMuxer.h"
#include "tests/platform/ffmpeg/FFTestSupport.h"

using namespace fftest;

namespace {

struct MovieSpec {
  OSType exporter;
  OSType codec;
  SInt32 width, height;
  int frames;
  TimeScale scale = 600;
  SInt32 frameDuration = 20;
  int soundRate = 0;  // 0: no sound
};

std::vector<SInt16> WriteMovie(const std::string& path, const MovieSpec& spec) {
  FFExportSettings settings;
  settings.videoCodec = spec.codec;
  settings.quality = kFFHighQuality;
  CFFMuxer muxer(path, spec.exporter, settings);
  SInt32 video = muxer.AddVideoTrack(spec.width, spec.height, spec.scale, spec.frameDuration);
  SInt32 sound = spec.soundRate ? muxer.AddSoundTrack(spec.soundRate, 2) : -1;
  muxer.Begin();
  std::vector<SInt16> samples;
  if (spec.soundRate) samples = MakeSine(spec.soundRate * spec.frames * spec.frameDuration / spec.scale, spec.soundRate, 2);
  size_t soundFrame = 0;
  const size_t perVideoFrame = samples.size() / 2 / static_cast<size_t>(spec.frames);
  for (int i = 0; i < spec.frames; ++i) {
    Picture p = MakeFrame(spec.width, spec.height, i, 12);
    muxer.WriteVideoFrame(video, p.Buffer(), static_cast<TimeValue64>(i) * spec.frameDuration, spec.frameDuration);
    if (sound >= 0) {
      size_t n = i + 1 == spec.frames ? samples.size() / 2 - soundFrame : perVideoFrame;
      muxer.WriteSound(sound, samples.data() + soundFrame * 2, static_cast<UInt32>(n));
      soundFrame += n;
    }
  }
  muxer.Finish();
  return samples;
}

const FFTrackInfo* FindTrack(const CFFDemuxer& d, OSType handler, ItemCount* outIndex = nullptr) {
  for (ItemCount i = 0; i < d.CountTracks(); ++i)
    if (d.GetTrack(i).handlerType == handler) {
      if (outIndex) *outIndex = i;
      return &d.GetTrack(i);
    }
  return nullptr;
}

struct Decoded {
  TimeValue64 time;
  int number;
  double psnr;
};

// Decodes a video track sample by sample in decode order, receiving frames as
// they become ready, the way a player steps through a movie.
std::vector<Decoded> DecodeAll(CFFDemuxer& d, ItemCount track) {
  const FFTrackInfo& t = d.GetTrack(track);
  CFFDecoder decoder(t.codecType, t.width, t.height, t.codecPrivate.data(), t.codecPrivate.size(), t.depth);
  Picture out = MakeBlank(t.width, t.height, 20);
  std::vector<Decoded> frames;
  std::vector<UInt8> bytes;
  auto receive = [&] {
    TimeValue64 time = 0;
    while (decoder.ReceiveFrame(out.Buffer(), &time)) {
      int n = ReadFrameNumber(out);
      frames.push_back({time, n, PSNR(out, MakeFrame(t.width, t.height, n))});
    }
  };
  for (ItemCount i = 0; i < t.samples.size(); ++i) {
    d.ReadSample(track, i, bytes);
    const FFSampleInfo& s = t.samples[i];
    decoder.SendSample(bytes.data(), static_cast<UInt32>(bytes.size()), s.decodeTime, s.decodeTime + s.compositionOffset);
    receive();
  }
  decoder.SendEnd();
  receive();
  EXPECT_TRUE(decoder.AtEnd());
  return frames;
}

// The sample table of a constant-rate video track: every frame once, in
// step, display times a permutation of the frame times.
void CheckVideoTable(const FFTrackInfo& t, const MovieSpec& spec) {
  ASSERT_EQ(t.samples.size(), static_cast<size_t>(spec.frames));
  ASSERT_GT(t.timeScale, 0);
  const SInt64 step = SInt64(t.timeScale) * spec.frameDuration / spec.scale;
  ASSERT_EQ(SInt64(t.timeScale) * spec.frameDuration % spec.scale, 0);
  std::vector<TimeValue64> display;
  for (size_t i = 0; i < t.samples.size(); ++i) {
    EXPECT_EQ(t.samples[i].decodeTime, t.samples[0].decodeTime + SInt64(i) * step) << i;
    EXPECT_EQ(t.samples[i].duration, step) << i;
    EXPECT_GT(t.samples[i].size, 0u);
    display.push_back(t.samples[i].decodeTime + t.samples[i].compositionOffset);
  }
  EXPECT_TRUE(t.samples[0].sync);
  std::sort(display.begin(), display.end());
  for (size_t i = 0; i < display.size(); ++i) EXPECT_EQ(display[i], t.firstDisplayTime + SInt64(i) * step);
  EXPECT_EQ(t.duration, t.samples[0].decodeTime + SInt64(spec.frames) * step);
}

void CheckDecodedInOrder(const std::vector<Decoded>& frames, const MovieSpec& spec, double minPSNR) {
  ASSERT_EQ(frames.size(), static_cast<size_t>(spec.frames));
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].number, static_cast<int>(i)) << "frame " << i;
    EXPECT_GT(frames[i].psnr, minPSNR) << "frame " << i;
    if (i > 0) {
      EXPECT_GT(frames[i].time, frames[i - 1].time);
    }
  }
}

// Reads the file with libavformat's own defaults (edit lists applied) and
// checks that nothing of the video is cut: every packet kept, the stream as
// long as its frames.
void CheckPlainReading(const std::string& path, int frames, double seconds) {
  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(avformat_open_input(&ctx, path.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(ctx, nullptr), 0);
  int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  ASSERT_GE(video, 0);
  AVPacket* pkt = av_packet_alloc();
  int kept = 0;
  while (av_read_frame(ctx, pkt) >= 0) {
    if (pkt->stream_index == video && (pkt->flags & AV_PKT_FLAG_DISCARD) == 0) ++kept;
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  EXPECT_EQ(kept, frames);
  const AVStream* st = ctx->streams[video];
  EXPECT_NEAR(st->duration * av_q2d(st->time_base), seconds, 1e-3);
  EXPECT_NEAR(av_q2d(st->avg_frame_rate), frames / seconds, 0.01);
  avformat_close_input(&ctx);
}

}  // namespace

TEST(MovieRoundTrip, H264InMP4KeepsEveryFrameThroughReordering) {
  TempFile file("h264.mp4");
  MovieSpec spec{'mpg4', 'avc1', 320, 240, 36};
  WriteMovie(file.path, spec);
  CheckPlainReading(file.path, spec.frames, 36 / 30.0);

  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* t = FindTrack(d, 'vide', &index);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->codecType, static_cast<OSType>('avc1'));
  EXPECT_EQ(t->width, 320);
  EXPECT_EQ(t->height, 240);
  EXPECT_FALSE(t->codecPrivate.empty());
  EXPECT_TRUE(t->fromIndex);
  EXPECT_NEAR(t->frameRate / 65536.0, 30.0, 0.01);
  CheckVideoTable(*t, spec);
  // B-frames: some samples are shown later than they are decoded.
  bool reordered = false;
  for (const FFSampleInfo& s : t->samples) reordered |= s.compositionOffset != t->samples[0].compositionOffset;
  EXPECT_TRUE(reordered);
  CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
}

TEST(MovieRoundTrip, MPEG4InMP4) {
  TempFile file("mp4v.mp4");
  MovieSpec spec{'mpg4', 'mp4v', 352, 288, 25, 2500, 100};
  WriteMovie(file.path, spec);
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* t = FindTrack(d, 'vide', &index);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->codecType, static_cast<OSType>('mp4v'));
  CheckVideoTable(*t, spec);
  CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
}

TEST(MovieRoundTrip, MJPEGInAVIAndMOVAtAnOddSize) {
  for (OSType exporter : {OSType('VfW '), OSType('MooV')}) {
    SCOPED_TRACE(exporter == 'VfW ' ? "avi" : "mov");
    TempFile file(exporter == 'VfW ' ? "mjpeg.avi" : "mjpeg.mov");
    MovieSpec spec{exporter, 'jpeg', 321, 239, 12, 2997, 100};
    WriteMovie(file.path, spec);
    CFFDemuxer d(file.path);
    ItemCount index = 0;
    const FFTrackInfo* t = FindTrack(d, 'vide', &index);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->codecType, static_cast<OSType>('jpeg'));
    EXPECT_EQ(t->width, 321);
    EXPECT_EQ(t->height, 239);
    EXPECT_TRUE(t->fromIndex);
    CheckVideoTable(*t, spec);
    for (const FFSampleInfo& s : t->samples) EXPECT_TRUE(s.sync);
    // Sample bytes read by offset are exactly the container's packets.
    AVFormatContext* ctx = nullptr;
    ASSERT_EQ(avformat_open_input(&ctx, file.path.c_str(), nullptr, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    std::vector<UInt8> bytes;
    ItemCount n = 0;
    while (av_read_frame(ctx, pkt) >= 0) {
      if (pkt->stream_index == t->streamIndex) {
        d.ReadSample(index, n++, bytes);
        EXPECT_EQ(bytes, std::vector<UInt8>(pkt->data, pkt->data + pkt->size));
      }
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    EXPECT_EQ(n, t->samples.size());
    CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
  }
}

TEST(MovieRoundTrip, H264InAVIIsStoredInDisplayOrder) {
  TempFile file("h264.avi");
  MovieSpec spec{'VfW ', 'avc1', 320, 240, 20};
  WriteMovie(file.path, spec);
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* t = FindTrack(d, 'vide', &index);
  ASSERT_NE(t, nullptr);
  CheckVideoTable(*t, spec);
  for (const FFSampleInfo& s : t->samples) EXPECT_EQ(s.compositionOffset, 0);
  CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
}

TEST(MovieRoundTrip, VariableFrameDurationsAreKept) {
  // NTSC-like timing at 600: frames alternately 20 and 21 units long... in
  // display order the times must come back exactly.
  TempFile file("vfr.mov");
  FFExportSettings settings;
  settings.videoCodec = 'jpeg';
  CFFMuxer muxer(file.path, 'MooV', settings);
  SInt32 video = muxer.AddVideoTrack(160, 120, 600, 20);
  muxer.Begin();
  std::vector<TimeValue64> times;
  TimeValue64 t = 0;
  for (int i = 0; i < 10; ++i) {
    Picture p = MakeFrame(160, 120, i);
    SInt32 dur = i % 2 ? 21 : 20;
    muxer.WriteVideoFrame(video, p.Buffer(), t, dur);
    times.push_back(t);
    t += dur;
  }
  muxer.Finish();
  CFFDemuxer d(file.path);
  const FFTrackInfo* track = FindTrack(d, 'vide');
  ASSERT_NE(track, nullptr);
  ASSERT_EQ(track->samples.size(), times.size());
  const double k = track->timeScale / 600.0;
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_EQ(track->samples[i].decodeTime, static_cast<TimeValue64>(times[i] * k));
    EXPECT_EQ(track->samples[i].duration, static_cast<SInt32>((i % 2 ? 21 : 20) * k));
  }
  EXPECT_EQ(track->duration, static_cast<TimeValue64>(t * k));
}

TEST(MovieRoundTrip, SoundTrackBesideVideoKeepsEverySample) {
  TempFile file("sound.mov");
  MovieSpec spec{'MooV', 'avc1', 192, 144, 30, 600, 20, 48000};
  std::vector<SInt16> written = WriteMovie(file.path, spec);
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* s = FindTrack(d, 'soun', &index);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->codecType, static_cast<OSType>('sowt'));
  EXPECT_EQ(s->sampleRate, 48000);
  EXPECT_EQ(s->channels, 2);
  EXPECT_EQ(s->sampleSize, 16);
  EXPECT_EQ(s->timeScale, 48000);
  EXPECT_EQ(s->duration, 48000);
  std::vector<SInt16> read;
  std::vector<UInt8> bytes;
  TimeValue64 next = 0;
  for (ItemCount i = 0; i < s->samples.size(); ++i) {
    EXPECT_EQ(s->samples[i].decodeTime, next);
    next += s->samples[i].duration;
    d.ReadSample(index, i, bytes);
    ASSERT_EQ(bytes.size() % 4, 0u);
    EXPECT_EQ(bytes.size(), static_cast<size_t>(s->samples[i].duration) * 4);
    for (size_t b = 0; b + 1 < bytes.size(); b += 2) read.push_back(static_cast<SInt16>(bytes[b] | (bytes[b + 1] << 8)));
  }
  EXPECT_EQ(read, written);
  CheckPlainReading(file.path, spec.frames, 1.0);
}

TEST(MovieRoundTrip, AACInMP4HasTheSoundsLength) {
  TempFile file("aac.mp4");
  MovieSpec spec{'mpg4', 'avc1', 128, 96, 15, 600, 40, 44100};
  WriteMovie(file.path, spec);
  CFFDemuxer d(file.path);
  const FFTrackInfo* s = FindTrack(d, 'soun');
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->codecType, static_cast<OSType>('mp4a'));
  EXPECT_FALSE(s->codecPrivate.empty());
  EXPECT_EQ(s->samples.front().duration, 1024);
  // The encoder's priming frames lie before the first second.
  EXPECT_GE(s->duration, 44100);
  EXPECT_LE(s->duration, 44100 + 3 * 1024);
}

TEST(MovieRoundTrip, SoundOnlyExportersWriteTheirContainers) {
  struct Case { OSType exporter; const char* name; OSType codec; };
  for (const Case& c : {Case{'AIFF', "s.aif", 'twos'}, Case{'WAVE', "s.wav", 'sowt'}}) {
    SCOPED_TRACE(c.name);
    TempFile file(c.name);
    std::vector<SInt16> samples = MakeSine(22050, 22050, 2);
    {
      CFFMuxer muxer(file.path, c.exporter, FFExportSettings());
      EXPECT_THROW(muxer.AddVideoTrack(64, 64, 600, 20), LException);
      SInt32 track = muxer.AddSoundTrack(22050, 2);
      muxer.Begin();
      for (size_t at = 0; at < 22050; at += 1000)
        muxer.WriteSound(track, samples.data() + at * 2, static_cast<UInt32>(std::min<size_t>(1000, 22050 - at)));
      muxer.Finish();
    }
    CFFDemuxer d(file.path);
    ASSERT_EQ(d.CountTracks(), 1u);
    const FFTrackInfo& t = d.GetTrack(0);
    EXPECT_EQ(t.codecType, c.codec);
    EXPECT_EQ(t.sampleRate, 22050);
    EXPECT_EQ(t.duration, 22050);
    std::vector<SInt16> read;
    std::vector<UInt8> bytes;
    for (ItemCount i = 0; i < t.samples.size(); ++i) {
      d.ReadSample(0, i, bytes);
      for (size_t b = 0; b + 1 < bytes.size(); b += 2)
        read.push_back(static_cast<SInt16>(c.codec == 'twos' ? (bytes[b] << 8) | bytes[b + 1] : bytes[b] | (bytes[b + 1] << 8)));
    }
    EXPECT_EQ(read, samples);
  }
}

TEST(MovieRoundTrip, DamagedFilesGiveErrorsNotCrashes) {
  TempFile file("whole.avi");
  MovieSpec spec{'VfW ', 'jpeg', 160, 120, 20};
  WriteMovie(file.path, spec);
  std::ifstream in(file.path, std::ios::binary);
  std::vector<char> whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A file cut short: either refused at open or every sample read or refused.
  for (double fraction : {0.1, 0.5, 0.8, 0.97}) {
    SCOPED_TRACE(fraction);
    TempFile cut("cut.avi");
    std::ofstream(cut.path, std::ios::binary).write(whole.data(), static_cast<std::streamsize>(whole.size() * fraction));
    try {
      CFFDemuxer d(cut.path);
      const FFTrackInfo* t = FindTrack(d, 'vide');
      ASSERT_NE(t, nullptr);
      EXPECT_LE(t->samples.size(), static_cast<size_t>(spec.frames));
      std::vector<UInt8> bytes;
      int failures = 0;
      for (ItemCount i = 0; i < t->samples.size(); ++i) {
        try {
          d.ReadSample(0, i, bytes);
        } catch (const LException&) {
          ++failures;
        }
      }
      EXPECT_LE(failures, 1);
    } catch (const LException& e) {
      EXPECT_NE(e.GetErrorCode(), 0);
    }
  }
  // A QuickTime file whose index never got written is no movie.
  TempFile mp4("whole.mp4");
  WriteMovie(mp4.path, MovieSpec{'mpg4', 'avc1', 160, 120, 10});
  std::ifstream in2(mp4.path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in2)), std::istreambuf_iterator<char>());
  TempFile cut("cut.mp4");
  std::ofstream(cut.path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  try {
    CFFDemuxer d(cut.path);
    FAIL() << "a movie without its index opened";
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), kFFNoMovieFoundErr);
  }
  TempFile garbage("garbage.mov");
  std::ofstream(garbage.path, std::ios::binary) << std::string(5000, 'x');
  EXPECT_THROW(CFFDemuxer d(garbage.path), LException);
  try {
    CFFDemuxer d("/nonexistent/trx/movie.mov");
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), fnfErr);
  }
}

TEST(MovieRoundTrip, ThreeGPPWithAACOpens) {
  TempFile file("clip.3gp");
  MovieSpec spec{'3gpp', 'avc1', 176, 144, 15, 600, 40, 16000};
  WriteMovie(file.path, spec);
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* v = FindTrack(d, 'vide', &index);
  ASSERT_NE(v, nullptr);
  CheckVideoTable(*v, spec);
  CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
  ASSERT_NE(FindTrack(d, 'soun'), nullptr);
  EXPECT_EQ(FindTrack(d, 'soun')->codecType, static_cast<OSType>('mp4a'));
}

TEST(MovieRoundTrip, TransportStreamWithoutIndexIsScanned) {
  // An MPEG transport stream has no sample index: the table comes from a
  // scan of its packets, and samples are read back through the demuxer.
  TempFile file("clip.ts");
  const int frames = 24;
  std::vector<std::vector<UInt8>> written;
  {
    FFExportSettings settings;
    auto enc = CFFEncoder::NewVideo('avc1', 320, 240, 600, 20, settings, false);
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, "mpegts", file.path.c_str()), 0);
    AVStream* st = avformat_new_stream(out, nullptr);
    ASSERT_GE(avcodec_parameters_from_context(st->codecpar, enc->GetContext()), 0);
    st->time_base = AVRational{1, 90000};
    ASSERT_GE(avio_open(&out->pb, file.path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    auto sink = [&](AVPacket* p) {
      written.emplace_back(p->data, p->data + p->size);
      av_packet_rescale_ts(p, AVRational{1, 600}, st->time_base);
      p->stream_index = st->index;
      ASSERT_GE(av_write_frame(out, p), 0);
    };
    for (int i = 0; i < frames; ++i) {
      Picture p = MakeFrame(320, 240, i);
      enc->EncodeFrame(p.Buffer(), i * 20, 20, sink);
    }
    enc->Finish(sink);
    ASSERT_GE(av_write_trailer(out), 0);
    avio_closep(&out->pb);
    avformat_free_context(out);
  }
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* t = FindTrack(d, 'vide', &index);
  ASSERT_NE(t, nullptr);
  EXPECT_FALSE(t->fromIndex);
  EXPECT_EQ(t->codecType, static_cast<OSType>('avc1'));
  EXPECT_EQ(t->timeScale, 90000);
  MovieSpec spec{'MooV', 'avc1', 320, 240, frames, 600, 20};
  CheckVideoTable(*t, spec);
  // Out of order and in order, the bytes are the container's packets (the
  // encoder's, with the access unit delimiters the muxer put in front).
  written.clear();
  AVFormatContext* ctx = nullptr;
  ASSERT_EQ(avformat_open_input(&ctx, file.path.c_str(), nullptr, nullptr), 0);
  AVPacket* pkt = av_packet_alloc();
  while (av_read_frame(ctx, pkt) >= 0) {
    if (pkt->stream_index == t->streamIndex) written.emplace_back(pkt->data, pkt->data + pkt->size);
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
  ASSERT_EQ(written.size(), static_cast<size_t>(frames));
  std::vector<UInt8> bytes;
  for (ItemCount i : {ItemCount(17), ItemCount(3), ItemCount(4), ItemCount(23), ItemCount(0)}) {
    d.ReadSample(index, i, bytes);
    EXPECT_EQ(bytes, written[i]) << i;
  }
  CheckDecodedInOrder(DecodeAll(d, index), spec, 30.0);
}

// MPEG-2 with B-frames in a program stream: most packets carry no time
// stamp, so display times come from the pictures' own order.
TEST(MovieRoundTrip, MPEG2ProgramStreamWithBFramesKeepsDisplayOrder) {
  TempFile file("clip.mpg");
  const int frames = 30;
  std::vector<SInt64> truth;  // the pictures' display times in frames, in decode order
  {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = 320;
    c->height = 240;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->max_b_frames = 2;
    c->gop_size = 12;
    c->bit_rate = 4000000;
    ASSERT_GE(avcodec_open2(c, codec, nullptr), 0);
    AVFormatContext* out = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&out, nullptr, "mpeg", file.path.c_str()), 0);
    AVStream* st = avformat_new_stream(out, nullptr);
    ASSERT_GE(avcodec_parameters_from_context(st->codecpar, c), 0);
    st->time_base = c->time_base;
    ASSERT_GE(avio_open(&out->pb, file.path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVFrame* f = av_frame_alloc();
    f->format = c->pix_fmt;
    f->width = 320;
    f->height = 240;
    av_frame_get_buffer(f, 0);
    SwsContext* sws = sws_getContext(320, 240, AV_PIX_FMT_ARGB, 320, 240, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                                     nullptr, nullptr);
    AVPacket* pkt = av_packet_alloc();
    auto drain = [&] {
      while (avcodec_receive_packet(c, pkt) == 0) {
        truth.push_back(pkt->pts);
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        pkt->stream_index = st->index;
        av_interleaved_write_frame(out, pkt);
      }
    };
    for (int i = 0; i < frames; ++i) {
      av_frame_make_writable(f);
      Picture p = MakeFrame(320, 240, i);
      const uint8_t* src[4] = {p.pixels.data(), nullptr, nullptr, nullptr};
      const int stride[4] = {p.rowBytes, 0, 0, 0};
      sws_scale(sws, src, stride, 0, 240, f->data, f->linesize);
      f->pts = i;
      ASSERT_GE(avcodec_send_frame(c, f), 0);
      drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_write_trailer(out);
    av_packet_free(&pkt);
    sws_freeContext(sws);
    av_frame_free(&f);
    avio_closep(&out->pb);
    avformat_free_context(out);
    avcodec_free_context(&c);
  }
  CFFDemuxer d(file.path);
  ItemCount index = 0;
  const FFTrackInfo* t = FindTrack(d, 'vide', &index);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->samples.size(), static_cast<size_t>(frames));
  const SInt64 step = t->timeScale / 25;
  std::vector<TimeValue64> display;
  for (const FFSampleInfo& s : t->samples) display.push_back(s.decodeTime + s.compositionOffset);
  std::vector<TimeValue64> sorted = display;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(sorted[i], sorted[0] + SInt64(i) * step) << i;
  for (size_t i = 0; i < t->samples.size(); ++i) EXPECT_GE(t->samples[i].compositionOffset, 0) << i;
  // Every picture at the display time its encoder gave it.
  ASSERT_EQ(truth.size(), t->samples.size());
  for (size_t i = 0; i < truth.size(); ++i) EXPECT_EQ(display[i], sorted[0] + truth[i] * step) << i;
}
