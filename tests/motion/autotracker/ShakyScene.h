// Shaky test sequences with known motion: a procedurally textured scene
// (smooth value noise of several octaves with hard-edged shapes) seen
// through a camera pose that changes from frame to frame by known
// translation, rotation and scale, sampled with a reference bilinear sampler
// into 8-bit ARGB buffers as decoded video arrives.
#pragma once

#include <complex>
#include <vector>

#include "media/CBuffer.h"
#include "platform/base/MacTypes.h"

namespace shaky {

// A similarity about the centre of the picture, in complex form: a point z
// (relative to the centre, y down) goes to c * z + t. In the block
// estimator's terms a = Re c, b = -Im c, tx = Re t, ty = Im t.
struct Pose {
  std::complex<double> c{1.0, 0.0};
  std::complex<double> t{0.0, 0.0};

  static Pose Make(double inScale, double inAngle, double inDx, double inDy) {
    return {std::polar(inScale, -inAngle), {inDx, inDy}};
  }
  Pose Inverse() const { return {1.0 / c, -t / c}; }
  // This pose after inFirst: z -> this(inFirst(z)).
  Pose After(const Pose& inFirst) const { return {c * inFirst.c, c * inFirst.t + t}; }
  double A() const { return c.real(); }
  double B() const { return -c.imag(); }
};

// A grey texture larger than the pictures made from it.
struct Texture {
  SInt32 width = 0;
  SInt32 height = 0;
  std::vector<float> pixels;
  float At(SInt32 x, SInt32 y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Texture MakeTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed);
// Bilinear sample at continuous coordinates (pixel i covers [i, i + 1));
// outside the texture the nearest edge pixel.
double SampleBilinear(const Texture& inTexture, double inX, double inY);

// Which rows of a frame are rendered.
enum class ERows { kAll, kEvenRows, kOddRows };

// Renders the texture seen through the pose (texture centre to picture
// centre: a texture point z goes to pose(z) in the picture) into the rows of
// an 8-bit ARGB buffer (bounds from 0, 0). Red, green and blue carry the
// grey value with small colour differences; alpha is 255.
void Render(const Texture& inTexture, const Pose& inPose, CBuffer* ioFrame, ERows inRows = ERows::kAll);

// A photograph-like texture: value noise whose octave amplitudes fall with
// frequency as in natural images, soft shaded discs and bars, fine grain.
Texture MakePhotoTexture(SInt32 inWidth, SInt32 inHeight, UInt32 inSeed);

// As Render, from a texture inOversample times finer than the picture, each
// pixel the mean of 2 x 2 samples, as a sensor integrates its area.
void RenderArea(const Texture& inTexture, const Pose& inPose, CBuffer* ioFrame, double inOversample);

// A sequence of camera poses: pose 0 is the identity; each next pose adds a
// random step (translation up to inMaxShift, rotation up to inMaxAngle,
// scale up to 1 +- inMaxScale) and is pulled back towards the identity.
std::vector<Pose> MakePoses(SInt32 inCount, double inMaxShift, double inMaxAngle, double inMaxScale, UInt32 inSeed);

// The motion of the content from pose inPrevious to pose inCurrent, in the
// estimator's model (about the picture centre).
inline Pose MotionBetween(const Pose& inPrevious, const Pose& inCurrent) {
  return inCurrent.After(inPrevious.Inverse());
}

// A new 8-bit ARGB buffer of the size at the origin.
CBuffer* NewFrame(SInt32 inWidth, SInt32 inHeight);

}  // namespace shaky
