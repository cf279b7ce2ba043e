#include "support/SyntheticScene.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Smooth value noise: random values on a lattice of the given spacing,
// interpolated with a C1 smoothstep.
class ValueNoise {
 public:
  ValueNoise(SInt32 inWidth, SInt32 inHeight, double inSpacing, std::mt19937& ioGen)
      : mSpacing(inSpacing),
        mCols(static_cast<SInt32>(inWidth / inSpacing) + 3),
        mRows(static_cast<SInt32>(inHeight / inSpacing) + 3),
        mLattice(static_cast<size_t>(mCols) * mRows) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (double& v : mLattice) v = d(ioGen);
  }
  double At(double inX, double inY) const {
    const double gx = inX / mSpacing, gy = inY / mSpacing;
    const SInt32 ix = static_cast<SInt32>(std::floor(gx)), iy = static_cast<SInt32>(std::floor(gy));
    const double fx = Smooth(gx - ix), fy = Smooth(gy - iy);
    auto L = [&](SInt32 x, SInt32 y) {
      x = std::clamp(x, 0, mCols - 1);
      y = std::clamp(y, 0, mRows - 1);
      return mLattice[static_cast<size_t>(y) * mCols + x];
    };
    const double top = L(ix, iy) + (L(ix + 1, iy) - L(ix, iy)) * fx;
    const double bottom = L(ix, iy + 1) + (L(ix + 1, iy + 1) - L(ix, iy + 1)) * fx;
    return top + (bottom - top) * fy;
  }

 private:
  static double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }
  double mSpacing;
  SInt32 mCols, mRows;
  std::vector<double> mLattice;
};

}  // namespace

SyntheticMotion SyntheticMotion::Similarity(double inScale, double inRotation, double inDx, double inDy, double inCx,
                                            double inCy) {
  return {inScale * std::cos(inRotation), inScale * std::sin(inRotation), inDx, inDy, inCx, inCy};
}

void SyntheticMotion::MapBack(double& ioX, double& ioY) const {
  // Solve (a*X + b*Y + tx, -b*X + a*Y + ty) = (x, y) relative to the centre.
  const double u = ioX - cx - tx, v = ioY - cy - ty;
  const double det = a * a + b * b;
  ioX = cx + (a * u - b * v) / det;
  ioY = cy + (b * u + a * v) / det;
}

SyntheticPicture USyntheticScene::MakeTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed) {
  std::mt19937 gen(inSeed);
  SyntheticPicture pic;
  pic.width = inWidth;
  pic.height = inHeight;
  pic.pixels.assign(static_cast<size_t>(inWidth) * inHeight, 0.0);

  // Octaves from broad shading down to fine grain.
  std::vector<ValueNoise> octaves;
  const double spacings[] = {96.0, 41.0, 17.0, 7.3, 3.1};
  const double amplitudes[] = {60.0, 38.0, 24.0, 15.0, 8.0};
  for (double s : spacings) octaves.emplace_back(inWidth, inHeight, s, gen);

  // Hard-edged shapes (rectangles and bars at random angles) and soft blobs.
  struct Shape {
    double cx, cy, halfW, halfH, cosA, sinA, level;
  };
  struct Blob {
    double cx, cy, radius, level;
  };
  std::uniform_real_distribution<double> ux(0.0, inWidth), uy(0.0, inHeight), unit(0.0, 1.0);
  const SInt32 area = inWidth * inHeight;
  std::vector<Shape> shapes(static_cast<size_t>(std::max(4, area / 6000)));
  for (Shape& s : shapes) {
    const double angle = unit(gen) * M_PI;
    s = {ux(gen), uy(gen), 4.0 + 30.0 * unit(gen), 2.0 + 14.0 * unit(gen), std::cos(angle), std::sin(angle),
         (unit(gen) - 0.5) * 90.0};
  }
  std::vector<Blob> blobs(static_cast<size_t>(std::max(4, area / 9000)));
  for (Blob& b : blobs) b = {ux(gen), uy(gen), 3.0 + 12.0 * unit(gen), (unit(gen) - 0.5) * 120.0};

  for (SInt32 y = 0; y < inHeight; ++y)
    for (SInt32 x = 0; x < inWidth; ++x) {
      double v = 128.0;
      for (size_t o = 0; o < octaves.size(); ++o) v += amplitudes[o] * octaves[o].At(x, y);
      pic.At(x, y) = v;
    }
  // Each shape and blob only touches the pixels near it.
  auto span = [](double lo, double hi, SInt32 limit, SInt32& first, SInt32& last) {
    first = std::max(0, static_cast<SInt32>(std::floor(lo)));
    last = std::min(limit - 1, static_cast<SInt32>(std::ceil(hi)));
  };
  for (const Shape& s : shapes) {
    const double reach = std::hypot(s.halfW, s.halfH);
    SInt32 x0, x1, y0, y1;
    span(s.cx - reach, s.cx + reach, inWidth, x0, x1);
    span(s.cy - reach, s.cy + reach, inHeight, y0, y1);
    for (SInt32 y = y0; y <= y1; ++y)
      for (SInt32 x = x0; x <= x1; ++x) {
        const double dx = x - s.cx, dy = y - s.cy;
        const double u = dx * s.cosA + dy * s.sinA, w = -dx * s.sinA + dy * s.cosA;
        if (std::fabs(u) <= s.halfW && std::fabs(w) <= s.halfH) pic.At(x, y) += s.level;
      }
  }
  for (const Blob& b : blobs) {
    const double reach = 4.0 * b.radius;
    SInt32 x0, x1, y0, y1;
    span(b.cx - reach, b.cx + reach, inWidth, x0, x1);
    span(b.cy - reach, b.cy + reach, inHeight, y0, y1);
    for (SInt32 y = y0; y <= y1; ++y)
      for (SInt32 x = x0; x <= x1; ++x) {
        const double d2 = (x - b.cx) * (x - b.cx) + (y - b.cy) * (y - b.cy);
        pic.At(x, y) += b.level * std::exp(-d2 / (2.0 * b.radius * b.radius));
      }
  }
  for (double& v : pic.pixels) v = std::clamp(v, 0.0, 255.0);
  return pic;
}

double USyntheticScene::SampleBilinear(const SyntheticPicture& inPicture, double inX, double inY) {
  const double x = std::clamp(inX, 0.0, double(inPicture.width - 1));
  const double y = std::clamp(inY, 0.0, double(inPicture.height - 1));
  const SInt32 x0 = std::min(static_cast<SInt32>(x), inPicture.width - 2);
  const SInt32 y0 = std::min(static_cast<SInt32>(y), inPicture.height - 2);
  const double fx = x - x0, fy = y - y0;
  const double top = inPicture.At(x0, y0) * (1.0 - fx) + inPicture.At(x0 + 1, y0) * fx;
  const double bottom = inPicture.At(x0, y0 + 1) * (1.0 - fx) + inPicture.At(x0 + 1, y0 + 1) * fx;
  return top * (1.0 - fy) + bottom * fy;
}

SyntheticPicture USyntheticScene::Warp(const SyntheticPicture& inPicture,
                                       const std::function<void(double& x, double& y)>& inMapBack) {
  SyntheticPicture out;
  out.width = inPicture.width;
  out.height = inPicture.height;
  out.pixels.resize(inPicture.pixels.size());
  for (SInt32 y = 0; y < out.height; ++y)
    for (SInt32 x = 0; x < out.width; ++x) {
      double sx = x, sy = y;
      inMapBack(sx, sy);
      out.At(x, y) = SampleBilinear(inPicture, sx, sy);
    }
  return out;
}

SyntheticPicture USyntheticScene::Move(const SyntheticPicture& inPrevious, const SyntheticMotion& inMotion) {
  return Warp(inPrevious, [&inMotion](double& x, double& y) { inMotion.MapBack(x, y); });
}

std::vector<float> USyntheticScene::Gradient(const SyntheticPicture& inPicture) {
  const SInt32 w = inPicture.width, h = inPicture.height;
  std::vector<float> g(static_cast<size_t>(w) * h, 0.0f);
  for (SInt32 y = 1; y + 1 < h; ++y)
    for (SInt32 x = 1; x + 1 < w; ++x)
      g[static_cast<size_t>(y) * w + x] = static_cast<float>(
          ((inPicture.At(x + 1, y) - inPicture.At(x - 1, y)) + (inPicture.At(x, y + 1) - inPicture.At(x, y - 1))) /
          256.0);
  return g;
}

Boolean SyntheticBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefcon) {
  const auto* plane = static_cast<const SyntheticPlane*>(inRefcon);
  const SInt32 w = inBlock.right - inBlock.left, h = inBlock.bottom - inBlock.top;
  if (plane == nullptr || outDest == nullptr || w * h != inCount) return false;
  if (inBlock.left <= 0 || inBlock.top <= 0 || inBlock.right >= plane->width || inBlock.bottom >= plane->height)
    return false;
  for (SInt32 r = 0; r < h; ++r)
    std::copy_n(plane->samples.begin() + static_cast<ptrdiff_t>(inBlock.top + r) * plane->width + inBlock.left, w,
                outDest + static_cast<size_t>(r) * w);
  return true;
}
