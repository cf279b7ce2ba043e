// The border tracker against pictures that move by known amounts inside
// dark borders.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/ShakyScene.h"
#include "media/CBuffer.h"
#include "motion/CBorderMotionTracker.h"
#include "platform/base/LException.h"
#include "platform/base/RectMake.h"

using namespace shaky;

namespace {

using BufferPtr = StBufferOwner;

const Texture& SharedTexture() {
  static const Texture texture = MakeTexture(400, 320, 5);
  return texture;
}

void SetPixel(CBuffer* b, SInt32 x, SInt32 y, UInt8 v) {
  UInt8* p = reinterpret_cast<UInt8*>(b->GetData()) + y * b->GetRowBytes() + x * b->GetBytesPerPixel();
  if (b->GetMode() == kBufferModeGray) {
    p[0] = v;
  } else {
    p[0] = 255;
    p[1] = p[2] = p[3] = v;
  }
}

// A frame that is black except for a textured picture area of the frame's
// size less the borders, moved by (dx, dy) from the middle; the content moves
// with the area. A border of 0 on a side means the area reaches that side.
void DrawFramedPicture(CBuffer* ioFrame, SInt32 inSideBorder, SInt32 inTopBorder, SInt32 dx, SInt32 dy) {
  const SInt32 w = ioFrame->GetWidth(), h = ioFrame->GetHeight();
  for (SInt32 y = 0; y < h; ++y)
    for (SInt32 x = 0; x < w; ++x) {
      const bool inside = x >= inSideBorder + dx && x < w - inSideBorder + dx && y >= inTopBorder + dy &&
                          y < h - inTopBorder + dy;
      SetPixel(ioFrame, x, y, inside ? static_cast<UInt8>(SharedTexture().At(x - dx + 20, y - dy + 20)) : 0);
    }
}

BufferPtr GreyPicture(SInt32 w, SInt32 h, UInt8 inValue) {
  BufferPtr b(new CBuffer(MakeRect(0, 0, h, w), kBufferDepth8, kBufferModeGray));
  std::memset(b->GetData(), inValue, static_cast<size_t>(b->GetDataSize()));
  return b;
}

}  // namespace

TEST(BorderTracker, FindsTheInnerEdgeOfDarkBorders) {
  const SInt32 w = 200, h = 120;
  BorderRawData d;
  {
    // A black border 20 pixels wide on the left of a mid-grey picture.
    BufferPtr grey = GreyPicture(w, h, 128);
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < 20; ++x) SetPixel(grey.get(), x, y, 0);
    ASSERT_EQ(CBorderMotionTracker::FindBorder(grey.get(), d, ETrackerFieldMode::kFrame), noErr);
    EXPECT_EQ(d.left, 19.0f);
    EXPECT_EQ(d.leftStrength, 128.0f * h);
    EXPECT_EQ(d.right, 0.0f);
    EXPECT_EQ(d.top, 0.0f);
    EXPECT_EQ(d.bottom, 0.0f);
    EXPECT_EQ(d.rightStrength + d.topStrength + d.bottomStrength, 0.0f);
  }
  {
    // Borders of 10 are not dark: no edge is searched there.
    BufferPtr grey = GreyPicture(w, h, 128);
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < 20; ++x) SetPixel(grey.get(), x, y, 10);
    ASSERT_EQ(CBorderMotionTracker::FindBorder(grey.get(), d, ETrackerFieldMode::kFrame), noErr);
    EXPECT_EQ(d.left, 0.0f);
    EXPECT_EQ(d.leftStrength, 0.0f);
  }
  {
    // Right and bottom borders; the left search stops before column W/4 and
    // the top search before row H/4, so borders reaching beyond are not found.
    BufferPtr grey = GreyPicture(w, h, 128);
    for (SInt32 y = 0; y < h; ++y)
      for (SInt32 x = 0; x < w; ++x)
        if (x >= w - 7 || y >= h - 12 || x < w / 4 + 3 || y < h / 4 + 2) SetPixel(grey.get(), x, y, 0);
    ASSERT_EQ(CBorderMotionTracker::FindBorder(grey.get(), d, ETrackerFieldMode::kFrame), noErr);
    EXPECT_EQ(d.right, 6.0f);
    EXPECT_EQ(d.bottom, 11.0f);
    EXPECT_EQ(d.left, 0.0f);
    EXPECT_EQ(d.top, 0.0f);
    // Field lines count double.
    ASSERT_EQ(CBorderMotionTracker::FindBorder(grey.get(), d, ETrackerFieldMode::kOddField), noErr);
    EXPECT_EQ(d.bottom, 22.0f);
    EXPECT_EQ(d.right, 6.0f);
    EXPECT_EQ(CBorderMotionTracker::FindBorder(grey.get(), d, static_cast<ETrackerFieldMode>(4)), paramErr);
  }
  // No borders; a picture too small to search; a colour picture.
  BufferPtr plain = GreyPicture(w, h, 90);
  ASSERT_EQ(CBorderMotionTracker::FindBorder(plain.get(), d, ETrackerFieldMode::kFrame), noErr);
  EXPECT_EQ(d.left + d.right + d.top + d.bottom, 0.0f);
  BufferPtr thin = GreyPicture(1, h, 0);
  EXPECT_EQ(CBorderMotionTracker::FindBorder(thin.get(), d, ETrackerFieldMode::kFrame), noErr);
  EXPECT_EQ(d.left + d.right + d.top + d.bottom, 0.0f);
  BufferPtr colour(NewFrame(40, 40));
  EXPECT_EQ(CBorderMotionTracker::FindBorder(colour.get(), d, ETrackerFieldMode::kFrame), paramErr);
  EXPECT_EQ(CBorderMotionTracker::FindBorder(nullptr, d, ETrackerFieldMode::kFrame),
            ErrorCodeToOSErr(err_NilPointer));
}

TEST(BorderTracker, MedianRule) {
  float odd[] = {104, 100, 102};
  float median;
  CBorderMotionTracker::DoMedianSortFloat(odd, 3, median);
  EXPECT_EQ(median, 102.0f);
  float even[] = {100, 106, 102, 104};
  CBorderMotionTracker::DoMedianSortFloat(even, 4, median);
  EXPECT_EQ(median, 102.0f);
  CBorderMotionTracker::DoMedianSortFloat(nullptr, 0, median);
  EXPECT_EQ(median, 0.0f);
  SInt32 longs[] = {7, 3, 5, 9, 1};
  SInt32 longMedian;
  CBorderMotionTracker::DoMedianSortLong(longs, 5, longMedian);
  EXPECT_EQ(longMedian, 5);
}

// Pictures moved by known offsets inside their borders: every record's
// shift is the change of the offset, and the first carries the first offset.
TEST(BorderTracker, RecoversKnownShiftsOfAFramedPicture) {
  const std::vector<std::pair<SInt32, SInt32>> offsets = {{0, 0}, {3, -2}, {-4, 5}, {6, 1}, {-1, -6}, {2, 4}};
  BufferPtr frame(NewFrame(320, 240));
  CBorderMotionTracker tracker;
  EXPECT_EQ(tracker.GetOptions(), 0x02000019u);
  tracker.SetAccuracy(3);
  EXPECT_EQ(tracker.GetOptions(), 0x02010019u);
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  for (auto [dx, dy] : offsets) {
    DrawFramedPicture(frame.get(), 20, 16, dx, dy);
    ASSERT_EQ(tracker.ProcessFrame(7, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  EXPECT_EQ(tracker.ProcessFrame(7, static_cast<ETrackerFieldMode>(4), nullptr, nullptr), paramErr);
  ASSERT_EQ(tracker.GetMeasurements().GetCount(), static_cast<SInt32>(offsets.size()));
  EXPECT_EQ(tracker.GetMeasurements()[1].left, 19.0f);
  EXPECT_EQ(tracker.GetMeasurements()[1].right, 19.0f);
  // Records appear only at the end.
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 0);
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  ASSERT_EQ(records.GetCount(), static_cast<SInt32>(offsets.size()));
  SInt32 px = 0, py = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const DiffMotionData& r = records[static_cast<SInt32>(i + 1)];
    EXPECT_EQ(r.xShift, static_cast<float>(offsets[i].first - px)) << i;
    EXPECT_EQ(r.yShift, static_cast<float>(offsets[i].second - py)) << i;
    EXPECT_EQ(r.version, 4);
    EXPECT_EQ(r.options, 0x02010019u);
    EXPECT_EQ(r.quality, 1.0f);
    EXPECT_EQ(r.rotation, 0.0f);
    EXPECT_EQ(r.scale, 1.0f);
    EXPECT_EQ(r.duration, 7);
    EXPECT_EQ(r.centerX, 160.0f);
    EXPECT_EQ(r.centerY, 120.0f);
    px = offsets[i].first;
    py = offsets[i].second;
  }
  // A new run empties both lists.
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  EXPECT_EQ(tracker.GetMeasurements().GetCount(), 0);
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 0);
  tracker.EndTracking();
  EXPECT_EQ(tracker.GetMotionDataArray().GetCount(), 0);
}

TEST(BorderTracker, LetterboxedPictureMovesVertically) {
  // Dark bands above and below only (no side borders): the vertical offsets
  // are still measured about the typical total band height.
  const SInt32 moves[] = {0, 4, -3, 2};
  BufferPtr frame(NewFrame(320, 240));
  CBorderMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  for (SInt32 dy : moves) {
    DrawFramedPicture(frame.get(), 0, 30, 0, dy);
    ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  ASSERT_EQ(records.GetCount(), 4);
  SInt32 previous = 0;
  for (SInt32 i = 0; i < 4; ++i) {
    EXPECT_EQ(records[i + 1].yShift, static_cast<float>(moves[i] - previous)) << i;
    EXPECT_EQ(records[i + 1].xShift, 0.0f) << i;
    previous = moves[i];
  }
}

TEST(BorderTracker, FieldsOfTheTrackingRect) {
  // Each frame's two fields are looked at in turn; offsets in whole frame
  // rows pairs so that both fields see the same picture. The tracking Rect
  // leaves out a margin at the top and bottom of the frame and stays as given.
  const std::vector<std::pair<SInt32, SInt32>> offsets = {{0, 0}, {2, 4}, {-3, -2}, {5, 6}};
  BufferPtr frame(NewFrame(320, 260));
  const Rect roi = MakeRect(10, 0, 250, 320);
  CBorderMotionTracker tracker;
  ASSERT_EQ(tracker.BeginTracking(frame.get(), roi, nullptr, nullptr), noErr);
  for (auto [dx, dy] : offsets) {
    DrawFramedPicture(frame.get(), 20, 26, dx, dy);
    ASSERT_EQ(tracker.ProcessFrame(3, ETrackerFieldMode::kOddField, nullptr, nullptr), noErr);
    ASSERT_EQ(tracker.ProcessFrame(3, ETrackerFieldMode::kEvenField, nullptr, nullptr), noErr);
  }
  for (const BorderRawData& m : tracker.GetMeasurements()) {
    EXPECT_EQ(static_cast<SInt32>(m.top) % 2, 0);
    EXPECT_EQ(static_cast<SInt32>(m.bottom) % 2, 0);
  }
  EXPECT_TRUE(EqualRect(&tracker.GetTrackRect(), &roi));
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  ASSERT_EQ(records.GetCount(), 8);
  float x = 0, y = 0;
  for (SInt32 i = 1; i <= 8; ++i) {
    x += records[i].xShift;
    y += records[i].yShift;
    const auto [dx, dy] = offsets[static_cast<size_t>((i - 1) / 2)];
    EXPECT_EQ(x, static_cast<float>(dx)) << i;
    EXPECT_EQ(y, static_cast<float>(dy)) << i;
    EXPECT_EQ(records[i].centerY, 130.0f);
  }
}

TEST(BorderTracker, PicturesWithoutBordersGiveNoMotion) {
  BufferPtr frame(NewFrame(160, 120));
  CBorderMotionTracker tracker;
  EXPECT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), paramErr);
  ASSERT_EQ(tracker.BeginTracking(frame.get(), frame->GetBounds(), nullptr, nullptr), noErr);
  for (SInt32 i = 0; i < 3; ++i) {
    Render(SharedTexture(), Pose::Make(1.0, 0.0, 3.0 * i, -2.0 * i), frame.get());
    ASSERT_EQ(tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr), noErr);
  }
  tracker.EndTracking();
  ASSERT_EQ(tracker.GetMotionDataArray().GetCount(), 3);
  for (const DiffMotionData& r : tracker.GetMotionDataArray()) {
    EXPECT_EQ(r.xShift, 0.0f);
    EXPECT_EQ(r.yShift, 0.0f);
  }
  EXPECT_EQ(frame->GetRetainCount(), 1);
}
