// Synthetic pictures and sound for the codec and container tests: a smooth
// picture that survives compression, with its frame number written in large
// black and white blocks that can be read back after decoding.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/movies/FFDecoder.h"

namespace fftest {

constexpr int kBits = 8;
constexpr int kBlock = 16;

struct Picture {
  SInt32 width, height, rowBytes;
  std::vector<UInt8> pixels;
  FFPixelBuffer Buffer() { return FFPixelBuffer{pixels.data(), rowBytes, width, height}; }
};

inline Picture MakeBlank(SInt32 w, SInt32 h, SInt32 padding = 0) {
  Picture p{w, h, w * 4 + padding, {}};
  p.pixels.assign(static_cast<size_t>(p.rowBytes) * static_cast<size_t>(h), 0);
  return p;
}

// A smooth gradient with the frame number in a row of blocks at the top left.
inline Picture MakeFrame(SInt32 w, SInt32 h, int frame, SInt32 padding = 0) {
  Picture p = MakeBlank(w, h, padding);
  for (SInt32 y = 0; y < h; ++y) {
    UInt8* row = p.pixels.data() + static_cast<size_t>(y) * p.rowBytes;
    for (SInt32 x = 0; x < w; ++x) {
      UInt8* px = row + x * 4;
      px[0] = 255;
      px[1] = static_cast<UInt8>(40 + 170 * x / w);
      px[2] = static_cast<UInt8>(40 + 170 * y / h);
      px[3] = static_cast<UInt8>(128 + 60 * std::sin((x + y + 3 * frame) * 0.02));
      if (y < kBlock && x < kBits * kBlock) {
        const bool bit = ((frame >> (x / kBlock)) & 1) != 0;
        px[1] = px[2] = px[3] = bit ? 240 : 16;
      }
    }
  }
  return p;
}

// The frame number written by `MakeFrame`, from the middle of each block.
inline int ReadFrameNumber(const Picture& p) {
  int n = 0;
  for (int b = 0; b < kBits; ++b) {
    int sum = 0;
    for (int y = 4; y < 12; ++y)
      for (int x = b * kBlock + 4; x < b * kBlock + 12; ++x) sum += p.pixels[static_cast<size_t>(y) * p.rowBytes + x * 4 + 2];
    if (sum / 64 > 128) n |= 1 << b;
  }
  return n;
}

// Peak signal-to-noise ratio of the colour channels, in dB.
inline double PSNR(const Picture& a, const Picture& b) {
  double se = 0;
  size_t count = 0;
  for (SInt32 y = 0; y < a.height; ++y)
    for (SInt32 x = 0; x < a.width; ++x)
      for (int c = 1; c < 4; ++c) {
        double d = double(a.pixels[static_cast<size_t>(y) * a.rowBytes + x * 4 + c]) -
                   double(b.pixels[static_cast<size_t>(y) * b.rowBytes + x * 4 + c]);
        se += d * d;
        ++count;
      }
  if (se == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (se / double(count)));
}

// Interleaved 16-bit stereo: a different sine per channel.
inline std::vector<SInt16> MakeSine(int frames, int rate, int channels) {
  std::vector<SInt16> s(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[static_cast<size_t>(i) * channels + c] =
          static_cast<SInt16>(12000 * std::sin(2 * M_PI * (440.0 + 220 * c) * i / rate));
  return s;
}

// A file name in the temporary folder, removed at the end of the scope.
struct TempFile {
  std::string path;
  explicit TempFile(const std::string& name)
      : path((std::filesystem::temp_directory_path() / ("trx_ff_" + std::to_string(::getpid()) + "_" + name)).string()) {
    std::remove(path.c_str());
  }
  ~TempFile() { std::remove(path.c_str()); }
  bool Exists() const { return std::filesystem::exists(path); }
};

}  // namespace fftest
