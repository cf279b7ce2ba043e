// Shaky clips with known camera poses, measured by the automatic tracker
// and corrected by the correction road, judged against the poses: where the
// corrected frames put fixed points of the scene. Shared by the scene-cut
// tests and the scene-cut benchmark.
#pragma once

#include <vector>

#include "media/MotionSettings.h"
#include "motion/CMotionData.h"
#include "support/ShakyScene.h"

namespace stabclip {

constexpr SInt32 kWidth = 320, kHeight = 240;
constexpr SInt32 kFrameDuration = 40;  // 25 frames per second at time scale 1000
constexpr SInt32 kTimeScale = 1000;

// One frame of a clip: which scene it shows, through which camera pose, and
// the sensor noise it carries (grain 0: none; frames of the same grain
// carry the same noise, so a repeated frame is the same picture).
struct ClipFrame {
  int scene = 0;
  shaky::Pose pose;
  UInt32 grain = 0;
};

// Grey levels of sensor noise (standard deviation) on frames with a grain.
constexpr double kNoiseLevel = 6.0;

// The scenes a clip is made from (photograph-like textures, one per seed).
// inCount frames of scene inScene shaken by a hand-held pose sequence
// (4 px, small turns) drawn from inSeed, each with its own grain.
std::vector<ClipFrame> ShakenClip(int inScene, SInt32 inCount, UInt32 inSeed);

std::vector<shaky::Texture> MakeScenes(const std::vector<UInt32>& inSeeds);

// Renders every frame and measures it with the automatic tracker; the
// records get the frame times.
std::vector<DiffMotionData> Measure(const std::vector<shaky::Texture>& inScenes, const std::vector<ClipFrame>& inClip);

// The settings a new movie document starts with (shifts corrected, rotation
// and zoom not), with the given smoothing time.
MotionSettings DocumentSettings(Float32 inSmoothingTime);

// Corrections of the records (FrameData list) with the settings.
std::vector<FrameData> Correct(const std::vector<DiffMotionData>& inRecords, MotionSettings inSettings);

// Scene boundaries the correction road finds in the records: the first
// index of every scene after the first.
std::vector<SInt32> SceneStarts(const std::vector<DiffMotionData>& inRecords);

// Where scene point inZ (relative to the texture centre) appears in the
// output frame: seen through the pose, then moved by the correction.
void OutputPoint(const ClipFrame& inFrame, const MatrixRecord& inCorrection, std::complex<double> inZ, double& outX,
                 double& outY);

// Frame-to-frame jitter of the output in px RMS: the motion of a few scene
// points between consecutive frames of the same scene, less its mean.
// Without corrections, the input's jitter.
double Jitter(const std::vector<ClipFrame>& inClip, const std::vector<FrameData>* inCorrections);

// How far a correction moves the picture (largest displacement of the
// points the jitter uses), px.
double CorrectionSize(const MatrixRecord& inCorrection);

// How far the camera was from its rest pose (the same points), px.
double ShakeSize(const shaky::Pose& inPose);

}  // namespace stabclip
