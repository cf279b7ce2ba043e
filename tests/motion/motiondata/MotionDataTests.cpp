#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "motion/CMotionData.h"
#include "platform/base/Endian.h"
#include "platform/base/FixMath.h"

namespace {

const Rect kBounds = {0, 0, 480, 720};

DiffMotionData Frame(SInt32 time, SInt32 duration, float x, float y = 0, float quality = 100) {
  DiffMotionData d{};
  d.version = 4;
  d.quality = quality;
  d.xShift = x;
  d.yShift = y;
  d.scale = 1.0f;
  d.time = time;
  d.duration = duration;
  d.centerX = 360;
  d.centerY = 240;
  return d;
}

MotionSettings Settings(float lowpass, bool h = true, bool v = true, bool r = true, bool z = false) {
  MotionSettings s;
  s.lowpassTime = lowpass;
  s.doHorizontal = h;
  s.doVertical = v;
  s.doRotation = r;
  s.doZoom = z;
  s.zoomMode = kZoomNone;
  return s;
}

double Tx(const MatrixRecord& m) { return Fix2X(m.matrix[2][0]); }

bool IsIdentity(const MatrixRecord& m) {
  MatrixRecord id;
  SetIdentityMatrix(&id);
  return EqualMatrix(&m, &id);
}

}  // namespace

TEST(MotionRecord, SampleIsBigEndianFromOffsetFourAndShortSamplesZeroFill) {
  DiffMotionData d = Frame(123, 20, 1.5f, -2.25f);
  d.reserved[0] = 7;
  d.options = 0x102;
  UInt8 bytes[64];
  DiffMotionDataToSample(d, bytes);
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(bytes[1], 7);
  EXPECT_EQ(ReadBE32(bytes + 4), 0x102u);
  EXPECT_EQ(ReadBEFloat(bytes + 12), 1.5f);
  EXPECT_EQ(ReadBEFloat(bytes + 16), -2.25f);
  EXPECT_EQ(static_cast<SInt32>(ReadBE32(bytes + 28)), 123);
  DiffMotionData back;
  DiffMotionDataFromSample(bytes, 64, back);
  EXPECT_EQ(std::memcmp(&back, &d, 64), 0);
  DiffMotionDataFromSample(bytes, 16, back);
  EXPECT_EQ(back.xShift, 1.5f);
  EXPECT_EQ(back.yShift, 0.0f);
  EXPECT_EQ(back.scale2, 0.0f);
}

TEST(MotionStore, KeepsOneRecordPerTimeAndFetchesByHalfOpenInterval) {
  CMotionData store;
  store.SetRecords({Frame(40, 40, 2), Frame(0, 40, 1), Frame(40, 40, 3), Frame(80, 40, 4)}, kBounds, 1000, 120);
  ASSERT_EQ(store.GetRecords().GetCount(), 3);
  EXPECT_EQ(store.GetRecords()[2].xShift, 2);  // the first of equal times stays

  MatrixRecord a, b;
  float m1 = 5, m2 = 5;
  EXPECT_FALSE(store.FetchMatrixAtTime(50, a, b, m1, m2));
  EXPECT_TRUE(IsIdentity(a));
  EXPECT_EQ(m1, 0);
  EXPECT_EQ(store.GetStart(), 0);
  EXPECT_EQ(store.GetStop(), 0);

  MotionSettings s = Settings(0.5f);
  ASSERT_EQ(store.CreateMatrices(&s, 0.016667f), noErr);
  FrameData f;
  ASSERT_TRUE(store.FetchAtTime(40, f));
  EXPECT_EQ(f.time, 40);
  ASSERT_TRUE(store.FetchAtTime(79, f));
  EXPECT_EQ(f.time, 40);
  ASSERT_TRUE(store.FetchAtTime(80, f));  // a record's end belongs to the next
  EXPECT_EQ(f.time, 80);
  EXPECT_FALSE(store.FetchAtTime(120, f));
  EXPECT_FALSE(store.FetchAtTime(-1, f));
  EXPECT_EQ(store.GetStart(), 0);
  EXPECT_EQ(store.GetStop(), 120);
  EXPECT_TRUE(store.FetchMatrixAtTime(10, a, b, m1, m2));
}

TEST(MotionStore, SafeAreaInsets) {
  Rect out;
  CMotionData::CalcTVSafeBounds(kBounds, out);
  EXPECT_EQ(out.top, 24);
  EXPECT_EQ(out.left, 36);
  EXPECT_EQ(out.bottom, 456);
  EXPECT_EQ(out.right, 684);
  CMotionData::CalcTitleSafeBounds(kBounds, out);
  EXPECT_EQ(out.top, 48);
  EXPECT_EQ(out.left, 72);
  EXPECT_EQ(out.bottom, 432);
  EXPECT_EQ(out.right, 648);
  float values[] = {3, 9, 1, 7, 5};
  float median;
  CMotionData::DoMedianSort(values, 5, median);
  EXPECT_EQ(median, 5);
}

TEST(CorrectionPipeline, NoSmoothingOrNoSwitchesGiveIdentity) {
  std::vector<DiffMotionData> recs;
  for (int i = 0; i < 20; ++i) recs.push_back(Frame(i * 40, 40, (i % 3) - 1.0f, (i % 2) * 2.0f));
  for (auto s : {Settings(0.0f), Settings(1.0f, false, false, false, false)}) {
    CMotionData store;
    store.SetRecords(recs, kBounds, 1000, 800);
    ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
    ASSERT_EQ(store.GetFrames().GetCount(), 20);
    for (const FrameData& f : store.GetFrames()) EXPECT_TRUE(IsIdentity(f.matrix1));
  }
}

TEST(CorrectionPipeline, RemovesJitterAndKeepsTheIntendedPan) {
  // Camera path: a steady pan of 2 px per frame with +-3 px of jitter.
  const int n = 120;
  std::vector<double> path(n);
  for (int i = 0; i < n; ++i) path[i] = 2.0 * i + 3.0 * std::sin(i * 1.7) * std::cos(i * 0.31);
  std::vector<DiffMotionData> recs;
  for (int i = 0; i < n; ++i) recs.push_back(Frame(i * 40, 40, static_cast<float>(i ? path[i] - path[i - 1] : 0)));
  CMotionData store;
  store.SetRecords(recs, kBounds, 1000, n * 40 + 1000);
  MotionSettings s = Settings(0.4f);
  ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
  ASSERT_EQ(store.GetFrames().GetCount(), n);
  // Steadied position = camera position + correction translation.
  auto rough = [&](bool corrected) {
    double sum = 0;
    for (int i = 2; i < n - 2; ++i) {
      auto pos = [&](int k) { return path[k] + (corrected ? Tx(store.GetFrames()[k + 1].matrix1) : 0.0); };
      double second = pos(i + 1) - 2 * pos(i) + pos(i - 1);
      sum += second * second;
    }
    return std::sqrt(sum / (n - 4));
  };
  EXPECT_LT(rough(true), 0.25 * rough(false));
  // The pan survives: the corrected path still advances about 2 px per frame.
  double first = path[10] + Tx(store.GetFrames()[11].matrix1);
  double last = path[n - 10] + Tx(store.GetFrames()[n - 9].matrix1);
  EXPECT_NEAR((last - first) / (n - 20), 2.0, 0.2);
}

TEST(CorrectionPipeline, ScenesFromGapsAndQualityDips) {
  std::vector<DiffMotionData> recs;
  for (int i = 0; i < 10; ++i) recs.push_back(Frame(i * 40, 40, 1.0f, 0, i == 5 ? 10.0f : 100.0f));
  recs.push_back(Frame(1000, 40, 7.0f));  // after a gap: a one-record scene
  CMotionData store;
  store.SetRecords(recs, kBounds, 1000, 5000);
  TArray<FFData> work;
  TArray<TrackInfo> scenes;
  MotionSettings s = Settings(0.5f);
  ASSERT_EQ(store.Transfer(&s, work), noErr);
  ASSERT_EQ(store.SplitIntoScenes(work, scenes), noErr);
  ASSERT_EQ(scenes.GetCount(), 3);
  EXPECT_EQ(scenes[1].end, 5);
  EXPECT_EQ(scenes[2].first, 5);
  EXPECT_EQ(scenes[3].first, 10);
  EXPECT_NEAR(work[6].measure, (100 + 100 - 20.0) / 200.0, 1e-6);
  ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
  // The lone last record takes no correction: its measured shift is the
  // jump across the gap, not a shake of its scene.
  EXPECT_EQ(store.GetFrames()[11].values1[0], 0.0f);
}

TEST(CorrectionPipeline, FieldPairsSplitIntoTwoFields) {
  DiffMotionData d = Frame(0, 40, 4.0f, 2.0f);
  d.options = kMotionOptionFieldPair;
  d.quality2 = 50;
  d.xShift2 = 4.0f;
  d.yShift2 = 2.0f;
  d.scale2 = 1.0f;
  d.scale = 1.0f;
  CMotionData store;
  store.SetRecords({d}, kBounds, 1000, 40);
  TArray<FFData> work;
  MotionSettings s = Settings(1.0f);
  ASSERT_EQ(store.Transfer(&s, work), noErr);
  ASSERT_EQ(work.GetCount(), 2);
  EXPECT_EQ(work[1].kind, kFieldInfoFirstField);
  EXPECT_EQ(work[1].values[0], 0);
  EXPECT_EQ(work[1].values[3], 0);
  EXPECT_EQ(work[2].kind, kFieldInfoSecondField);
  EXPECT_EQ(work[2].values[0], 4);
  ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
  ASSERT_EQ(store.GetFrames().GetCount(), 1);
  EXPECT_EQ(store.GetFrames()[1].flags, kFrameDataFieldPair);
}

TEST(CorrectionPipeline, HostileRecordsAndTinySmoothingStayFinite) {
  std::vector<DiffMotionData> recs;
  for (int i = 0; i < 30; ++i) recs.push_back(Frame(i * 40, 40, (i % 2) ? 3.0f : -3.0f));
  recs[7].xShift = NAN;
  recs[8].scale = -1.0f;
  recs[9].yShift = INFINITY;
  recs[10].xShift = 1e9f;
  recs[11].centerX = NAN;
  // A smoothing time far below the frame interval must not blow up.
  MotionSettings s = Settings(0.0005f, true, true, true, true);
  CMotionData store;
  store.SetRecords(recs, kBounds, 1000, 1200);
  ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
  for (const FrameData& f : store.GetFrames()) {
    for (float v : f.values1) EXPECT_TRUE(std::isfinite(v));
    EXPECT_LT(std::fabs(Tx(f.matrix1)), 50.0);
  }
}

TEST(CorrectionPipeline, SafeBoundsZoomAndFades) {
  // Corrections of +-10 px horizontally: the covered area loses 10 px a side.
  std::vector<DiffMotionData> recs;
  for (int i = 0; i < 40; ++i) recs.push_back(Frame(i * 40, 40, (i % 2) ? 20.0f : -20.0f));
  CMotionData store;
  store.SetRecords(recs, kBounds, 1000, 100000);
  MotionSettings s = Settings(10.0f, true, false, false, false);
  s.zoomMode = kZoomFull;
  ASSERT_EQ(store.CreateMatrices(&s, 0.02f), noErr);
  const Rect& safe = store.GetSafeBounds();
  EXPECT_GT(safe.left, 5);
  EXPECT_LT(safe.right, 715);
  EXPECT_NEAR((safe.right - safe.left) / double(safe.bottom - safe.top), 1.5, 0.02);
  Rect cover = store.GetCoverRect();
  EXPECT_EQ(cover.right, 720);
  // Every corrected frame now covers the whole picture.
  for (const FrameData& f : store.GetFrames()) {
    Rect inner;
    MatrixRecord m = f.matrix1;
    CMotionData::CalcInnerBounds(&m, kBounds, inner);
    EXPECT_LE(inner.left, 1);
    EXPECT_GE(inner.right, 719);
  }

  // Fade-in over 0.4 s of a scene that does not start at 0: the correction
  // grows linearly from nothing.
  std::vector<DiffMotionData> later;
  for (int i = 0; i < 40; ++i) later.push_back(Frame(1000 + i * 40, 40, (i % 2) ? 6.0f : -6.0f));
  CMotionData faded;
  faded.SetRecords(later, kBounds, 1000, 100000);
  MotionSettings f = Settings(10.0f, true, false, false, false);
  f.fadeInDuration = 0.4f;
  ASSERT_EQ(faded.CreateMatrices(&f, 0.02f), noErr);
  EXPECT_EQ(Tx(faded.GetFrames()[1].matrix1), 0.0);
  CMotionData plain;
  plain.SetRecords(later, kBounds, 1000, 100000);
  MotionSettings p = Settings(10.0f, true, false, false, false);
  ASSERT_EQ(plain.CreateMatrices(&p, 0.02f), noErr);
  EXPECT_NEAR(Tx(faded.GetFrames()[6].matrix1), 0.5 * Tx(plain.GetFrames()[6].matrix1), 0.01);
  EXPECT_EQ(Tx(faded.GetFrames()[20].matrix1), Tx(plain.GetFrames()[20].matrix1));
}
