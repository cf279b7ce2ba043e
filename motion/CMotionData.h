// The motion data of one movie: the measured motion records read from its
// motion-data tracks, and the per-frame correction records computed from them.
#pragma once

#include <vector>

#include "media/FrameData.h"
#include "media/MotionSettings.h"
#include "platform/base/ImageMatrix.h"
#include "platform/base/MacTypes.h"
#include "platform/framework/TArray.h"
#include "platform/movies/Movies.h"

class CMovie;

constexpr SInt16 kMotionTrackLayer = 0x3000;
constexpr UInt32 kMotionOptionFieldPair = 0x100;
constexpr UInt8 kMotionDataVersion = 4;
constexpr size_t kDiffMotionDataSize = 64;

// One measured motion record: the 64-byte sample of the motion-data track,
// in host order in memory. In a field-pair record the first half describes
// the whole frame and the second half the second field alone.
struct DiffMotionData {
  UInt8 version;
  UInt8 reserved[3];
  UInt32 options;
  Float32 quality;
  Float32 xShift;
  Float32 yShift;
  Float32 rotation;
  Float32 scale;
  SInt32 time;
  SInt32 duration;
  Float32 centerX;
  Float32 centerY;
  Float32 quality2;
  Float32 xShift2;
  Float32 yShift2;
  Float32 rotation2;
  Float32 scale2;
};
static_assert(sizeof(DiffMotionData) == kDiffMotionDataSize);

// Reads a stored sample: bytes 0-3 as they stand, the words from offset 4
// converted from big-endian. A shorter sample fills the start, the rest is 0.
void DiffMotionDataFromSample(const void* inBytes, size_t inSize, DiffMotionData& outRecord);
// Writes the 64-byte big-endian sample of a record.
void DiffMotionDataToSample(const DiffMotionData& inRecord, void* outBytes64);

// Kinds of working records.
enum EFieldInfo : SInt32 {
  kFieldInfoFrame = 1,
  kFieldInfoFirstField = 2,
  kFieldInfoSecondField = 3,
};

// The motion-data tracks last read, to notice when they change.
struct TrackSettings {
  Track track = nullptr;
  SInt32 offset = 0;
  SInt32 duration = 0;
  UInt32 modificationTime = 0;
  bool operator==(const TrackSettings& o) const {
    return track == o.track && offset == o.offset && duration == o.duration && modificationTime == o.modificationTime;
  }
};

// The working record of the correction pipeline: one per frame, two per field pair.
struct FFData {
  SInt32 kind = kFieldInfoFrame;
  SInt32 time = 0;
  SInt32 duration = 0;
  Float32 values[4] = {0, 0, 0, 0};  // x shift, y shift, rotation, log10 scale
  Float32 centerX = 0;
  Float32 centerY = 0;
  Float32 quality = 0;
  Float32 measure = 0;
  MatrixRecord matrix;
  FFData() { SetIdentityMatrix(&matrix); }
};

// One scene: [first, end) indices into the working records.
struct TrackInfo {
  SInt32 first = 0;
  SInt32 end = 0;
};

// Marks a record without a centre: the smallest positive normal float.
extern const Float32 kNoCenter;

class CMotionData {
 public:
  CMotionData();
  virtual ~CMotionData();

  // Reading the motion-data tracks of a movie.
  OSErr ScanMovie(CMovie* inMovie);
  bool MovieChanged(CMovie* inMovie);
  static bool HasValidMotionDataTrack(CMovie* inMovie);
  // The same on a toolbox movie with its encoded bounds.
  OSErr ScanMovie(Movie inMovie, const Rect& inEncodedBounds);
  bool MovieChanged(Movie inMovie);
  static bool HasValidMotionDataTrack(Movie inMovie);

  // Replaces the measured records (kept sorted by time, one record per time)
  // and the movie facts they belong to. ScanMovie ends here too.
  void SetRecords(const std::vector<DiffMotionData>& inRecords, const Rect& inBounds, SInt32 inTimeScale,
                  SInt32 inDuration);

  OSErr CreateMatrices(MotionSettings* inSettings, float inFieldOffset);
  bool FetchAtTime(SInt32 inTime, FrameData& outFrame);
  bool FetchMatrixAtTime(SInt32 inTime, MatrixRecord& outFirst, MatrixRecord& outSecond, float& outFirstMeasure,
                         float& outSecondMeasure);
  SInt32 GetStart();
  SInt32 GetStop();

  void InvalidateRawData();
  void InvalidateMatrices();
  void InvalidateSafeBounds();

  static void CalcTVSafeBounds(Rect inRect, Rect& outRect);
  static void CalcTitleSafeBounds(Rect inRect, Rect& outRect);
  float GetFieldTime(SInt32 inTime, SInt32 inKind);
  static void CalcInnerBounds(MatrixRecord* inMatrix, Rect inRect, Rect& outRect);
  static void DoMedianSort(float* ioValues, SInt32 inCount, float& outResult);

  // The steps of CreateMatrices.
  OSErr Transfer(MotionSettings* inSettings, TArray<FFData>& outRecords);
  OSErr SplitIntoScenes(TArray<FFData>& ioRecords, TArray<TrackInfo>& outScenes);
  OSErr LowPass(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount, SInt32 inFirst, SInt32 inEnd);
  OSErr MakeTransformMatrix(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount);
  OSErr CalcSafeBounds(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount);
  OSErr RescaleToCoverBounds(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount);
  OSErr FadeInOut(MotionSettings* inSettings, FFData* ioRecords, SInt32 inCount, SInt32 inFirst, SInt32 inEnd);

  TArray<DiffMotionData>& GetRecords() { return mRecords; }
  TArray<FrameData>& GetFrames() { return mFrames; }
  const Rect& GetBounds() const { return mBounds; }
  const Rect& GetCoverRect() const { return mCoverRect; }
  const Rect& GetSafeBounds() const { return mSafeBounds; }
  bool IsRawDataValid() const { return mRawDataValid; }
  bool AreMatricesValid() const { return mMatricesValid; }
  SInt32 GetTimeScale() const { return mTimeScale; }
  SInt32 GetDuration() const { return mDuration; }

 protected:
  TArray<TrackSettings> mTrackSettings;
  TArray<DiffMotionData> mRecords;
  TArray<FrameData> mFrames;
  SInt32 mTimeScale = 600;
  SInt32 mDuration = 0;
  Rect mBounds = {0, 0, 0, 0};
  Rect mCoverRect = {0, 0, 0, 0};
  Rect mSafeBounds = {-1, -1, -1, -1};
  bool mRawDataValid = false;
  bool mMatricesValid = false;
  Float32 mFieldOffset = 0;

  double Seconds(const FFData& inRecord) const;
  // The settings of the enabled motion-data tracks, last track first.
  static void CollectTrackSettings(Movie inMovie, TArray<TrackSettings>& outSettings);
  // Sorts the records by time and keeps the first of equal times.
  void SortRecords();
  // Neutralises values that cannot be a measured motion (not finite, scale
  // not positive, shifts far beyond the picture): such a record corrects nothing.
  bool SaneMotion(Float32 inX, Float32 inY, Float32 inRotation, Float32 inScale) const;
};
