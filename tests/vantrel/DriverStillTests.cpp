// The developer driver's before | after still for H.264 clips as cameras and
// converters make them (B-frames, 4:2:0 of limited and full range, 10 bits,
// 720p and 1080p), made here with libavcodec from a hand-held look at a
// photograph-like scene: the still shows the clip's middle frame on the left
// and its steadied picture on the right, never black.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "media/CBuffer.h"
#include "support/ShakyClip.h"
#include "support/movies/DecodeFrames.h"

namespace fs = std::filesystem;

#ifdef TRX_STABILISE_PATH
namespace {

constexpr int kFrames = 16;
constexpr int kRate = 30;

struct ClipKind {
  const char* name;
  int width, height;
  AVPixelFormat format;
  const char* container;
};

std::ostream& operator<<(std::ostream& os, const ClipKind& k) { return os << k.name; }

// RGB24 pictures, rows packed.
struct RGBPicture {
  int width = 0, height = 0;
  std::vector<UInt8> pixels;
};

// The clip: a slow pan with hand shake over the scene, coded with B-frames
// and a key frame every 12 frames, its colour stated as HD cameras state it.
bool WriteClip(const std::string& inPath, const ClipKind& inKind) {
  const shaky::Texture texture = shaky::MakePhotoTexture(inKind.width + 200, inKind.height + 160, 45);
  shaky::H264ClipSpec spec;
  spec.container = inKind.container;
  spec.width = inKind.width;
  spec.height = inKind.height;
  spec.frames = kFrames;
  spec.rate = kRate;
  spec.pixelFormat = inKind.format;
  spec.gop = 12;
  spec.crf = "18";
  spec.hdColour = true;
  return shaky::WriteH264Clip(inPath, spec, texture, [](int k) {
    const double t = k / static_cast<double>(kRate);
    return shaky::Pose::Make(1.0, 0.004 * std::sin(k * 1.9), 60 * t + 5 * std::sin(k * 2.3), 4 * std::cos(k * 1.7));
  });
}

// Every picture of a file's video in display order, as RGB24 (colour as
// the stream states it).
std::vector<RGBPicture> DecodeRGB(const std::string& inPath) {
  std::vector<RGBPicture> pictures;
  testmovies::DecodeVideoFrames(inPath, [&](const AVFrame& f) {
    RGBPicture p;
    p.width = f.width;
    p.height = f.height;
    p.pixels.resize(static_cast<size_t>(p.width) * p.height * 3);
    SwsContext* sws = sws_getContext(f.width, f.height, static_cast<AVPixelFormat>(f.format), f.width, f.height,
                                     AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const bool full = f.color_range == AVCOL_RANGE_JPEG || f.format == AV_PIX_FMT_YUVJ420P;
    if (f.format != AV_PIX_FMT_RGB24)
      sws_setColorspaceDetails(sws, sws_getCoefficients(SWS_CS_ITU709), full ? 1 : 0,
                               sws_getCoefficients(SWS_CS_ITU709), 1, 0, 1 << 16, 1 << 16);
    uint8_t* dst[4] = {p.pixels.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {p.width * 3, 0, 0, 0};
    sws_scale(sws, f.data, f.linesize, 0, f.height, dst, dstStride);
    sws_freeContext(sws);
    pictures.push_back(std::move(p));
  });
  return pictures;
}

// The left or right half of the still.
RGBPicture Half(const RGBPicture& inStill, int inHalf) {
  RGBPicture h;
  h.width = inStill.width / 2;
  h.height = inStill.height;
  h.pixels.resize(static_cast<size_t>(h.width) * h.height * 3);
  for (int y = 0; y < h.height; ++y)
    std::copy_n(inStill.pixels.begin() + (static_cast<ptrdiff_t>(y) * inStill.width + inHalf * h.width) * 3,
                h.width * 3, h.pixels.begin() + static_cast<ptrdiff_t>(y) * h.width * 3);
  return h;
}

// Peak signal to noise ratio over the inner part (borders a correction
// uncovers left out), dB.
double PSNR(const RGBPicture& a, const RGBPicture& b) {
  double sum = 0;
  size_t n = 0;
  for (int y = a.height / 8; y < a.height * 7 / 8; ++y)
    for (int x = a.width / 8; x < a.width * 7 / 8; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        const size_t i = (static_cast<size_t>(y) * a.width + x) * 3 + ch;
        const double e = static_cast<double>(a.pixels[i]) - b.pixels[i];
        sum += e * e;
        ++n;
      }
  const double mse = sum / static_cast<double>(n);
  return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The share of pixels of the inner part that are black or nearly so.
double DarkShare(const RGBPicture& p) {
  size_t dark = 0, n = 0;
  for (int y = p.height / 8; y < p.height * 7 / 8; ++y)
    for (int x = p.width / 8; x < p.width * 7 / 8; ++x) {
      const UInt8* px = &p.pixels[(static_cast<size_t>(y) * p.width + x) * 3];
      if (px[0] < 16 && px[1] < 16 && px[2] < 16) ++dark;
      ++n;
    }
  return static_cast<double>(dark) / static_cast<double>(n);
}

class DriverStill : public ::testing::TestWithParam<ClipKind> {};

}  // namespace

TEST_P(DriverStill, ShowsTheMiddleFrameAndItsSteadiedPicture) {
  const ClipKind& kind = GetParam();
  char pattern[] = "/tmp/trx-driver-still-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const std::string clip = folder + "/clip." + (std::string(kind.container) == "mov" ? "mov" : "mp4");
  ASSERT_TRUE(WriteClip(clip, kind));
  const std::vector<RGBPicture> frames = DecodeRGB(clip);
  ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));

  const std::string command = std::string(TRX_STABILISE_PATH) + " " + clip + " --out " + folder + "/out > " + folder +
                              "/log.txt 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << std::ifstream(folder + "/log.txt").rdbuf();

  const std::vector<RGBPicture> still = DecodeRGB(folder + "/out/clip-before-after.png");
  ASSERT_EQ(still.size(), 1u);
  ASSERT_EQ(still[0].width, 2 * kind.width);
  ASSERT_EQ(still[0].height, kind.height);
  const RGBPicture before = Half(still[0], 0), after = Half(still[0], 1);
  // No more of either half is black than of the frame itself (the scene has
  // dark places of its own).
  const RGBPicture& middle = frames[kFrames / 2];
  EXPECT_LT(DarkShare(before), DarkShare(middle) + 0.03);
  EXPECT_LT(DarkShare(after), DarkShare(middle) + 0.03);
  // The left half is the middle frame itself, told from its neighbours
  // (the camera moves a few pixels from frame to frame).
  const double same = PSNR(before, middle);
  EXPECT_GT(same, 26.0);
  EXPECT_GT(same, PSNR(before, frames[kFrames / 2 - 3]) + 4.0);
  EXPECT_GT(same, PSNR(before, frames[kFrames / 2 + 3]) + 4.0);
  // The right half is the same picture moved a little by the correction.
  EXPECT_GT(PSNR(after, middle), 14.0);
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(H264, DriverStill,
                         ::testing::Values(ClipKind{"BFrames720p", 1280, 720, AV_PIX_FMT_YUV420P, "mp4"},
                                           ClipKind{"BFrames1080p", 1920, 1080, AV_PIX_FMT_YUV420P, "mp4"},
                                           ClipKind{"FullRange1080pQuickTime", 1920, 1080, AV_PIX_FMT_YUVJ420P, "mov"},
                                           ClipKind{"TenBit720p", 1280, 720, AV_PIX_FMT_YUV420P10LE, "mp4"}),
                         [](const ::testing::TestParamInfo<ClipKind>& inInfo) { return inInfo.param.name; });
#endif
