// The exporters' muxer: the table of exporters, cancel and failure removing
// the file, codecs a container cannot hold, ProRes and raw in QuickTime files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>

#include "platform/movies/FFDemuxer.h"
#include "platform/movies/FFMuxer.h"
#include "tests/platform/ffmpeg/FFTestSupport.h"

using namespace fftest;

TEST(Exporters, ExtensionsAndDefaults) {
  EXPECT_EQ(FFGetFileNameExtension('MooV'), static_cast<OSType>('mov '));
  EXPECT_EQ(FFGetFileNameExtension('mpg4'), static_cast<OSType>('mp4 '));
  EXPECT_EQ(FFGetFileNameExtension('VfW '), static_cast<OSType>('avi '));
  EXPECT_EQ(FFGetFileNameExtension('3gpp'), static_cast<OSType>('3gp '));
  EXPECT_EQ(FFGetFileNameExtension('AIFF'), static_cast<OSType>('aif '));
  EXPECT_EQ(FFGetFileNameExtension('WAVE'), static_cast<OSType>('wav '));
  EXPECT_EQ(FFGetFileNameExtension('ULAW'), static_cast<OSType>('au  '));
  EXPECT_THROW(FFGetFileNameExtension('sfil'), LException);
  ItemCount count = 0;
  const FFExporterInfo* all = FFGetExporters(&count);
  ASSERT_EQ(count, 7u);
  for (ItemCount i = 0; i < count; ++i) {
    // Every exporter's container exists in this libavformat, with its default codecs.
    EXPECT_NE(av_guess_format(all[i].muxerName, nullptr, nullptr), nullptr) << all[i].muxerName;
    if (all[i].hasVideo) {
      EXPECT_NE(FFCodecIDForFourCC('vide', all[i].defaultVideoCodec), AV_CODEC_ID_NONE);
    }
    EXPECT_NE(FFCodecIDForFourCC('soun', all[i].defaultSoundCodec), AV_CODEC_ID_NONE);
  }
}

TEST(Muxer, CancelFailureAndAbandonRemoveTheFile) {
  std::atomic<bool> cancel{false};
  TempFile file("cancel.mov");
  {
    CFFMuxer muxer(file.path, 'MooV', FFExportSettings());
    muxer.SetCancelFlag(&cancel);
    SInt32 v = muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Begin();
    EXPECT_FALSE(file.Exists());  // nothing under the destination's name until it is complete
    Picture p = MakeFrame(64, 48, 0);
    muxer.WriteVideoFrame(v, p.Buffer(), 0, 20);
    cancel = true;
    try {
      muxer.WriteVideoFrame(v, p.Buffer(), 20, 20);
      FAIL();
    } catch (const LException& e) {
      EXPECT_EQ(e.GetErrorCode(), userCanceledErr);
    }
    EXPECT_FALSE(file.Exists());
    EXPECT_THROW(muxer.Finish(), LException);
  }
  {
    CFFMuxer muxer(file.path, 'VfW ', FFExportSettings());
    SInt32 v = muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Begin();
    Picture wrong = MakeFrame(32, 48, 0);
    EXPECT_THROW(muxer.WriteVideoFrame(v, wrong.Buffer(), 0, 20), LException);
    EXPECT_FALSE(file.Exists());
  }
  {
    CFFMuxer muxer(file.path, 'mpg4', FFExportSettings());
    SInt32 v = muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Begin();
    Picture p = MakeFrame(64, 48, 0);
    muxer.WriteVideoFrame(v, p.Buffer(), 0, 20);
  }  // never finished
  EXPECT_FALSE(file.Exists());
  {
    CFFMuxer muxer(file.path, 'MooV', FFExportSettings());
    muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Cancel();
  }
  EXPECT_FALSE(file.Exists());
}

TEST(Muxer, RefusesWhatTheContainerOrCodecCannotTake) {
  TempFile file("refuse.mp4");
  EXPECT_THROW(CFFMuxer(file.path, 'zzzz', FFExportSettings()), LException);
  FFExportSettings prores;
  prores.videoCodec = 'apch';
  CFFMuxer mp4(file.path, 'mpg4', prores);
  try {
    mp4.AddVideoTrack(64, 48, 600, 20);
    FAIL();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), kFFNoCodecErr);
  }
  EXPECT_THROW(mp4.Begin(), LException);  // no tracks
  FFExportSettings noSound;
  noSound.soundOn = kFalse;
  CFFMuxer silent(file.path, 'MooV', noSound);
  EXPECT_EQ(silent.AddSoundTrack(44100, 2), -1);
  EXPECT_FALSE(file.Exists());
}

TEST(Muxer, ProResAndRawInQuickTimeFiles) {
  for (OSType codec : {OSType('apcn'), OSType('ap4h'), OSType('raw ')}) {
    SCOPED_TRACE(codec);
    TempFile file("pro.mov");
    FFExportSettings settings;
    settings.videoCodec = codec;
    {
      CFFMuxer muxer(file.path, 'MooV', settings);
      SInt32 v = muxer.AddVideoTrack(128, 96, 2500, 100);
      muxer.Begin();
      for (int i = 0; i < 5; ++i) {
        Picture p = MakeFrame(128, 96, i);
        muxer.WriteVideoFrame(v, p.Buffer(), i * 100, 100);
      }
      muxer.Finish();
    }
    CFFDemuxer d(file.path);
    ASSERT_EQ(d.CountTracks(), 1u);
    const FFTrackInfo& t = d.GetTrack(0);
    EXPECT_EQ(t.codecType, codec);
    ASSERT_EQ(t.samples.size(), 5u);
    CFFDecoder dec(t.codecType, t.width, t.height, t.codecPrivate.data(), t.codecPrivate.size(), t.depth);
    std::vector<UInt8> bytes;
    Picture out = MakeBlank(128, 96);
    for (ItemCount i = 0; i < 5; ++i) {
      d.ReadSample(0, i, bytes);
      dec.SendSample(bytes.data(), static_cast<UInt32>(bytes.size()), t.samples[i].decodeTime, t.samples[i].decodeTime);
      ASSERT_TRUE(dec.ReceiveFrame(out.Buffer()));
      EXPECT_EQ(ReadFrameNumber(out), static_cast<int>(i));
      const double psnr = PSNR(out, MakeFrame(128, 96, static_cast<int>(i)));
      if (codec == 'raw ') {
        EXPECT_EQ(psnr, 99);
      } else {
        EXPECT_GT(psnr, 38);
      }
    }
  }
}

TEST(Muxer, MuLawSoundFile) {
  TempFile file("s.au");
  {
    CFFMuxer muxer(file.path, 'ULAW', FFExportSettings());
    SInt32 s = muxer.AddSoundTrack(8000, 1);
    EXPECT_THROW(muxer.AddSoundTrack(8000, 1), LException);
    muxer.Begin();
    std::vector<SInt16> samples = MakeSine(8000, 8000, 1);
    muxer.WriteSound(s, samples.data(), 8000);
    muxer.Finish();
  }
  CFFDemuxer d(file.path);
  ASSERT_EQ(d.CountTracks(), 1u);
  EXPECT_EQ(d.GetTrack(0).codecType, static_cast<OSType>('ulaw'));
  EXPECT_EQ(d.GetTrack(0).duration, 8000);
  EXPECT_EQ(d.GetTrack(0).sampleSize, 8);
}

namespace {

// The names in a folder that start with a dot (the muxer's files in the making).
int HiddenFilesIn(const std::string& inFolder) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(inFolder))
    if (e.path().filename().string()[0] == '.') ++n;
  return n;
}

}  // namespace

// An earlier file at the destination stays as it was until the new movie is
// complete, and stays when the new one fails; nothing is left beside it.
TEST(Muxer, AnEarlierFileStaysUntilTheNewOneIsComplete) {
  char pattern[] = "/tmp/trx-muxer-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const std::string path = folder + "/movie.mov";
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fputs("earlier", f);
  std::fclose(f);
  {
    CFFMuxer muxer(path, 'MooV', FFExportSettings());
    SInt32 v = muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Begin();
    Picture p = MakeFrame(64, 48, 0);
    muxer.WriteVideoFrame(v, p.Buffer(), 0, 20);
    EXPECT_EQ(std::filesystem::file_size(path), 7u);
    EXPECT_EQ(HiddenFilesIn(folder), 1);
    muxer.Cancel();
  }
  EXPECT_EQ(std::filesystem::file_size(path), 7u);
  EXPECT_EQ(HiddenFilesIn(folder), 0);
  {
    CFFMuxer muxer(path, 'MooV', FFExportSettings());
    SInt32 v = muxer.AddVideoTrack(64, 48, 600, 20);
    muxer.Begin();
    Picture p = MakeFrame(64, 48, 0);
    muxer.WriteVideoFrame(v, p.Buffer(), 0, 20);
    muxer.Finish();
  }
  EXPECT_GT(std::filesystem::file_size(path), 7u);
  EXPECT_EQ(HiddenFilesIn(folder), 0);
  CFFDemuxer back(path);
  EXPECT_EQ(back.CountTracks(), 1u);
  std::filesystem::remove_all(folder);
}

// Odd sizes: H.264's 4:2:0 pictures are coded one row and column larger with
// the picture's edge repeated (the picture itself unchanged); JPEG keeps the
// odd size.
TEST(Muxer, OddSizesAreCodedWithoutDistortion) {
  for (OSType codec : {OSType('avc1'), OSType('jpeg')}) {
    TempFile file("odd.mov");
    FFExportSettings settings;
    settings.videoCodec = codec;
    settings.quality = kFFMaxQuality;
    {
      CFFMuxer muxer(file.path, 'MooV', settings);
      SInt32 v = muxer.AddVideoTrack(321, 239, 600, 20);
      muxer.Begin();
      for (int k = 0; k < 3; ++k) {
        Picture p = MakeFrame(321, 239, k);
        muxer.WriteVideoFrame(v, p.Buffer(), k * 20, 20);
      }
      muxer.Finish();
    }
    CFFDemuxer back(file.path);
    ASSERT_EQ(back.CountTracks(), 1u);
    const FFTrackInfo& t = back.GetTrack(0);
    if (codec == 'avc1') {
      EXPECT_EQ(t.width, 322);
      EXPECT_EQ(t.height, 240);
    } else {
      EXPECT_EQ(t.width, 321);
      EXPECT_EQ(t.height, 239);
    }
    std::vector<UInt8> bytes;
    back.ReadSample(0, 0, bytes);
    CFFDecoder decoder(t.codecType, t.width, t.height, t.codecPrivate.data(), t.codecPrivate.size());
    Picture got = MakeBlank(t.width, t.height);
    decoder.SendSample(bytes.data(), static_cast<UInt32>(bytes.size()), 0, 0);
    if (!decoder.ReceiveFrame(got.Buffer())) {
      decoder.SendEnd();
      ASSERT_TRUE(decoder.ReceiveFrame(got.Buffer()));
    }
    // The picture where it was; the added column and row repeat its edge.
    Picture want = MakeFrame(321, 239, 0);
    Picture inner = MakeBlank(321, 239);
    for (int y = 0; y < 239; ++y)
      std::memcpy(&inner.pixels[static_cast<size_t>(y) * inner.rowBytes], &got.pixels[static_cast<size_t>(y) * got.rowBytes],
                  321 * 4);
    EXPECT_GT(PSNR(inner, want), 35.0);
    EXPECT_EQ(ReadFrameNumber(inner), 0);
    if (codec == 'avc1') {
      for (int y : {20, 120, 230}) {
        const UInt8* row = &got.pixels[static_cast<size_t>(y) * got.rowBytes];
        for (int c = 1; c < 4; ++c) EXPECT_NEAR(row[321 * 4 + c], row[320 * 4 + c], 12) << y;
      }
    }
  }
}
