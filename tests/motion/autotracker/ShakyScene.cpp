#include "ShakyScene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace shaky {

namespace {

// Smooth value noise of one octave: random lattice values every inCell
// pixels, blended with a smoothstep.
void AddValueNoise(Texture& ioTexture, SInt32 inCell, double inAmplitude, std::mt19937& ioRandom) {
  const SInt32 cols = ioTexture.width / inCell + 2, rows = ioTexture.height / inCell + 2;
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> lattice(static_cast<size_t>(cols) * rows);
  for (double& v : lattice) v = uniform(ioRandom);
  auto smooth = [](double f) { return f * f * (3.0 - 2.0 * f); };
  for (SInt32 y = 0; y < ioTexture.height; ++y) {
    const SInt32 gy = y / inCell;
    const double fy = smooth(static_cast<double>(y % inCell) / inCell);
    for (SInt32 x = 0; x < ioTexture.width; ++x) {
      const SInt32 gx = x / inCell;
      const double fx = smooth(static_cast<double>(x % inCell) / inCell);
      const double* row0 = &lattice[static_cast<size_t>(gy) * cols];
      const double* row1 = row0 + cols;
      const double top = row0[gx] + (row0[gx + 1] - row0[gx]) * fx;
      const double bottom = row1[gx] + (row1[gx + 1] - row1[gx]) * fx;
      ioTexture.pixels[static_cast<size_t>(y) * ioTexture.width + x] +=
          static_cast<float>(inAmplitude * (top + (bottom - top) * fy));
    }
  }
}

}  // namespace

Texture MakeTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed) {
  Texture t;
  t.width = inWidth;
  t.height = inHeight;
  t.pixels.assign(static_cast<size_t>(inWidth) * inHeight, 128.0f);
  std::mt19937 random(inSeed);
  AddValueNoise(t, 64, 50.0, random);
  AddValueNoise(t, 24, 35.0, random);
  AddValueNoise(t, 9, 22.0, random);
  AddValueNoise(t, 4, 10.0, random);
  // Hard-edged rectangles and discs.
  std::uniform_real_distribution<double> ux(0.0, inWidth), uy(0.0, inHeight), size(4.0, 28.0), shade(-60.0, 60.0);
  const SInt32 shapes = inWidth * inHeight / 1500;
  for (SInt32 i = 0; i < shapes; ++i) {
    const double cx = ux(random), cy = uy(random), r = size(random), v = shade(random);
    const bool disc = (i & 1) != 0;
    const SInt32 x0 = std::max<SInt32>(0, static_cast<SInt32>(cx - r)), x1 = std::min<SInt32>(inWidth, static_cast<SInt32>(cx + r) + 1);
    const SInt32 y0 = std::max<SInt32>(0, static_cast<SInt32>(cy - r)), y1 = std::min<SInt32>(inHeight, static_cast<SInt32>(cy + r) + 1);
    for (SInt32 y = y0; y < y1; ++y)
      for (SInt32 x = x0; x < x1; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        if (disc && dx * dx + dy * dy > r * r) continue;
        t.pixels[static_cast<size_t>(y) * inWidth + x] += static_cast<float>(v);
      }
  }
  for (float& p : t.pixels) p = std::clamp(p, 8.0f, 247.0f);
  return t;
}

double SampleBilinear(const Texture& inTexture, double inX, double inY) {
  // Pixel centres sit at i + 0.5.
  const double fx = inX - 0.5, fy = inY - 0.5;
  const double flx = std::floor(fx), fly = std::floor(fy);
  const double ax = fx - flx, ay = fy - fly;
  auto at = [&](SInt32 x, SInt32 y) {
    x = std::clamp<SInt32>(x, 0, inTexture.width - 1);
    y = std::clamp<SInt32>(y, 0, inTexture.height - 1);
    return static_cast<double>(inTexture.At(x, y));
  };
  const SInt32 x0 = static_cast<SInt32>(flx), y0 = static_cast<SInt32>(fly);
  const double top = at(x0, y0) * (1.0 - ax) + at(x0 + 1, y0) * ax;
  const double bottom = at(x0, y0 + 1) * (1.0 - ax) + at(x0 + 1, y0 + 1) * ax;
  return top * (1.0 - ay) + bottom * ay;
}

void Render(const Texture& inTexture, const Pose& inPose, CBuffer* ioFrame, ERows inRows) {
  const Rect& b = ioFrame->GetBounds();
  const SInt32 w = b.right - b.left, h = b.bottom - b.top;
  const Pose back = inPose.Inverse();
  const std::complex<double> pictureCentre(w * 0.5, h * 0.5), textureCentre(inTexture.width * 0.5, inTexture.height * 0.5);
  for (SInt32 y = 0; y < h; ++y) {
    if (inRows == ERows::kEvenRows && (y & 1)) continue;
    if (inRows == ERows::kOddRows && !(y & 1)) continue;
    UInt8* row = reinterpret_cast<UInt8*>(ioFrame->GetData()) + static_cast<ptrdiff_t>(y) * ioFrame->GetRowBytes();
    for (SInt32 x = 0; x < w; ++x) {
      const std::complex<double> z = std::complex<double>(x + 0.5, y + 0.5) - pictureCentre;
      const std::complex<double> src = back.c * z + back.t + textureCentre;
      const double v = SampleBilinear(inTexture, src.real(), src.imag());
      row[4 * x] = 255;
      row[4 * x + 1] = static_cast<UInt8>(std::clamp(v + 4.0, 0.0, 255.0) + 0.5);
      row[4 * x + 2] = static_cast<UInt8>(std::clamp(v, 0.0, 255.0) + 0.5);
      row[4 * x + 3] = static_cast<UInt8>(std::clamp(v - 4.0, 0.0, 255.0) + 0.5);
    }
  }
}

// A photograph-like picture: value noise whose octave amplitudes fall with
// frequency as in natural images, soft shaded discs and bars, and grain.
Texture MakePhotoTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed) {
  Texture t;
  t.width = inWidth;
  t.height = inHeight;
  t.pixels.assign(static_cast<size_t>(inWidth) * inHeight, 120.0f);
  std::mt19937 random(inSeed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (SInt32 cell = 512; cell >= 2; cell /= 2) {
    const SInt32 cols = inWidth / cell + 2, rows = inHeight / cell + 2;
    std::vector<double> lattice(static_cast<size_t>(cols) * rows);
    for (double& v : lattice) v = unit(random);
    const double amplitude = 3.2 * std::pow(static_cast<double>(cell), 0.6);
    auto smooth = [](double f) { return f * f * (3.0 - 2.0 * f); };
    for (SInt32 y = 0; y < inHeight; ++y) {
      const double fy = smooth(static_cast<double>(y % cell) / cell);
      const double* row0 = &lattice[static_cast<size_t>(y / cell) * cols];
      const double* row1 = row0 + cols;
      float* out = &t.pixels[static_cast<size_t>(y) * inWidth];
      for (SInt32 x = 0; x < inWidth; ++x) {
        const SInt32 gx = x / cell;
        const double fx = smooth(static_cast<double>(x % cell) / cell);
        const double top = row0[gx] + (row0[gx + 1] - row0[gx]) * fx;
        const double bottom = row1[gx] + (row1[gx + 1] - row1[gx]) * fx;
        out[x] += static_cast<float>(amplitude * (top + (bottom - top) * fy));
      }
    }
  }
  // Objects with soft edges and their own shading.
  std::uniform_real_distribution<double> ux(0.0, inWidth), uy(0.0, inHeight), size(6.0, 90.0), shade(-45.0, 45.0);
  const SInt32 shapes = inWidth * inHeight / 6000;
  for (SInt32 i = 0; i < shapes; ++i) {
    const double cx = ux(random), cy = uy(random), r = size(random), v = shade(random), soft = 1.5 + 0.03 * r;
    const double gradient = 0.4 * unit(random);
    const bool bar = (i % 3) == 0;
    const SInt32 reach = static_cast<SInt32>(r + 3 * soft) + 1;
    const SInt32 x0 = std::max<SInt32>(0, static_cast<SInt32>(cx) - reach), x1 = std::min<SInt32>(inWidth, static_cast<SInt32>(cx) + reach);
    const SInt32 y0 = std::max<SInt32>(0, static_cast<SInt32>(cy) - reach), y1 = std::min<SInt32>(inHeight, static_cast<SInt32>(cy) + reach);
    for (SInt32 y = y0; y < y1; ++y)
      for (SInt32 x = x0; x < x1; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        const double d = bar ? std::max(std::fabs(dx) - r, std::fabs(dy) - 0.25 * r) : std::hypot(dx, dy) - r;
        const double cover = 0.5 - 0.5 * std::tanh(d / soft);
        t.pixels[static_cast<size_t>(y) * inWidth + x] += static_cast<float>(cover * (v + gradient * dy));
      }
  }
  std::normal_distribution<double> grain(0.0, 2.0);
  for (float& p : t.pixels) p = static_cast<float>(std::clamp(p + grain(random), 4.0, 251.0));
  return t;
}


void RenderArea(const Texture& inTexture, const Pose& inPose, CBuffer* ioFrame, double inOversample) {
  const Rect& b = ioFrame->GetBounds();
  const SInt32 w = b.right - b.left, h = b.bottom - b.top;
  const Pose back = inPose.Inverse();
  const std::complex<double> pictureCentre(w * 0.5, h * 0.5), textureCentre(inTexture.width * 0.5, inTexture.height * 0.5);
  for (SInt32 y = 0; y < h; ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(ioFrame->GetData()) + static_cast<ptrdiff_t>(y) * ioFrame->GetRowBytes();
    for (SInt32 x = 0; x < w; ++x) {
      double v = 0;
      for (double sy : {0.25, 0.75})
        for (double sx : {0.25, 0.75}) {
          const std::complex<double> z = std::complex<double>(x + sx, y + sy) - pictureCentre;
          const std::complex<double> src = (back.c * z + back.t) * inOversample + textureCentre;
          v += SampleBilinear(inTexture, src.real(), src.imag());
        }
      v *= 0.25;
      row[4 * x] = 255;
      row[4 * x + 1] = static_cast<UInt8>(std::clamp(v * 1.04, 0.0, 255.0) + 0.5);
      row[4 * x + 2] = static_cast<UInt8>(std::clamp(v, 0.0, 255.0) + 0.5);
      row[4 * x + 3] = static_cast<UInt8>(std::clamp(v * 0.92, 0.0, 255.0) + 0.5);
    }
  }
}


std::vector<Pose> MakePoses(SInt32 inCount, double inMaxShift, double inMaxAngle, double inMaxScale, UInt32 inSeed) {
  std::mt19937 random(inSeed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<Pose> poses;
  double x = 0, y = 0, angle = 0, logScale = 0;
  for (SInt32 i = 0; i < inCount; ++i) {
    if (i > 0) {
      // A random step, pulled back halfway to the rest position so that the
      // frame-to-frame motion stays within the limits.
      x = 0.5 * x + 0.5 * inMaxShift * unit(random);
      y = 0.5 * y + 0.5 * inMaxShift * unit(random);
      angle = 0.5 * angle + 0.5 * inMaxAngle * unit(random);
      logScale = 0.5 * logScale + 0.5 * std::log1p(inMaxScale) * unit(random);
    }
    poses.push_back(Pose::Make(std::exp(logScale), angle, x, y));
  }
  return poses;
}

CBuffer* NewFrame(SInt32 inWidth, SInt32 inHeight) {
  Rect r;
  r.top = 0;
  r.left = 0;
  r.bottom = static_cast<SInt16>(inHeight);
  r.right = static_cast<SInt16>(inWidth);
  return new CBuffer(r, kBufferDepth8, kBufferModeARGB);
}

}  // namespace shaky
