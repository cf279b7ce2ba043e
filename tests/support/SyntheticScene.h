// Procedural test pictures with known motion: a real-looking grey texture
// (octaves of smooth value noise with hard-edged shapes and soft blobs), a
// reference bilinear warp in double precision, and the gradient plane the
// motion trackers work on.
#pragma once

#include <functional>
#include <vector>

#include "platform/base/MacTypes.h"

struct SyntheticPicture {
  SInt32 width = 0;
  SInt32 height = 0;
  std::vector<double> pixels;  // row after row, grey values 0..255

  double At(SInt32 x, SInt32 y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  double& At(SInt32 x, SInt32 y) { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A similarity model about a centre, in the block estimator's convention: a
// point (X, Y) relative to (cx, cy) in the previous picture moves to
// (a*X + b*Y + tx, -b*X + a*Y + ty) in the current one.
struct SyntheticMotion {
  double a = 1.0;
  double b = 0.0;
  double tx = 0.0;
  double ty = 0.0;
  double cx = 0.0;
  double cy = 0.0;

  static SyntheticMotion Translation(double inDx, double inDy) { return {1.0, 0.0, inDx, inDy, 0.0, 0.0}; }
  // Scale s and rotation r (radians, b = s*sin r, a = s*cos r) about (cx, cy).
  static SyntheticMotion Similarity(double inScale, double inRotation, double inDx, double inDy, double inCx,
                                    double inCy);
  // Where the content at (x, y) of the current picture was in the previous one.
  void MapBack(double& ioX, double& ioY) const;
};

class USyntheticScene {
 public:
  // A textured picture, the same for the same size and seed.
  static SyntheticPicture MakeTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed);
  // Bilinear sample; outside the picture the nearest edge pixel.
  static double SampleBilinear(const SyntheticPicture& inPicture, double inX, double inY);
  // out(x, y) = in(mapBack(x, y)), sampled bilinearly.
  static SyntheticPicture Warp(const SyntheticPicture& inPicture,
                               const std::function<void(double& x, double& y)>& inMapBack);
  // The current picture after `inMotion` moved the content of the previous one.
  static SyntheticPicture Move(const SyntheticPicture& inPrevious, const SyntheticMotion& inMotion);
  // ((s[x+1] - s[x-1]) + (s[y+1] - s[y-1])) / 256 inside, 0 on the outermost
  // rows and columns: the plane the trackers compare.
  static std::vector<float> Gradient(const SyntheticPicture& inPicture);
};

// A block provider over a float plane of the whole picture (refcon: a
// SyntheticPlane). Blocks must lie strictly inside the picture, as the
// trackers' providers require; others are refused.
struct SyntheticPlane {
  SInt32 width = 0;
  SInt32 height = 0;
  std::vector<float> samples;
};
Boolean SyntheticBlockProvider(float* outDest, SInt32 inCount, Rect inBlock, void* inRefcon);
