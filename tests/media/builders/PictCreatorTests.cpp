#include <gtest/gtest.h>

#include <cstring>

#include "media/PictCreator.h"

namespace {

// A 32-bit world made current for the test's length.
struct WorldFixture : ::testing::Test {
  GWorldPtr world = nullptr;
  CGrafPtr savedPort = nullptr;
  GDHandle savedDevice = nullptr;
  const Rect bounds = {0, 0, 20, 30};
  void SetUp() override {
    GetGWorld(&savedPort, &savedDevice);
    ASSERT_EQ(NewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
    SetGWorld(world, nullptr);
  }
  void TearDown() override {
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
  }
};

// The A, R, G, B bytes of a pixel of a 32-bit world.
void Pixel(GWorldPtr w, SInt16 h, SInt16 v, UInt8 out[4]) {
  PixMapHandle pm = GetGWorldPixMap(w);
  const UInt8* p = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm)) + v * GetPixRowBytes(pm) + h * 4;
  std::memcpy(out, p, 4);
}

TEST_F(WorldFixture, PictureIsNilWhileRecordingAndTheCallersAfterwards) {
  PicHandle pic = nullptr;
  {
    PictCreator creator;
    const Rect r = {2, 3, 12, 13};
    ASSERT_EQ(creator.StartRecording(r), noErr);
    EXPECT_TRUE(creator.IsRecording());
    EXPECT_EQ(creator.GetPict(), nullptr);
    RGBColor red = {0xFFFF, 0, 0};
    RGBForeColor(&red);
    PaintRect(&r);
    creator.StopRecording();
    EXPECT_FALSE(creator.IsRecording());
    pic = creator.GetPict();
    ASSERT_NE(pic, nullptr);
    EXPECT_TRUE(IsValidPicture(pic));
    Rect frame;
    ASSERT_NE(QDGetPictureBounds(pic, &frame), nullptr);
    EXPECT_TRUE(EqualRect(&frame, &r));
  }
  // The creator is gone; the picture is still whole and draws the red square.
  ASSERT_TRUE(IsValidPicture(pic));
  GWorldPtr other = nullptr;
  ASSERT_EQ(NewGWorld(&other, 32, &bounds, nullptr, nullptr, 0), noErr);
  SetGWorld(other, nullptr);
  const Rect dst = {0, 0, 10, 10};
  DrawPicture(pic, &dst);
  SetGWorld(world, nullptr);
  UInt8 px[4];
  Pixel(other, 5, 5, px);
  EXPECT_EQ(px[1], 0xFF);
  EXPECT_EQ(px[2], 0);
  EXPECT_EQ(px[3], 0);
  Pixel(other, 15, 15, px);
  EXPECT_NE(px[1] == 0xFF && px[2] == 0 && px[3] == 0, true);
  DisposeGWorld(other);
  KillPicture(pic);
}

TEST_F(WorldFixture, RecordingDoesNotDrawAndClipComesBack) {
  RgnHandle before = NewRgn();
  GetClip(before);
  {
    PictCreator creator;
    const Rect r = {0, 0, 5, 5};
    ASSERT_EQ(creator.StartRecording(r), noErr);
    RgnHandle during = NewRgn();
    GetClip(during);
    Rect box;
    GetRegionBounds(during, &box);
    EXPECT_TRUE(EqualRect(&box, &r));
    DisposeRgn(during);
    ForeColor(whiteColor);
    PaintRect(&bounds);
    creator.StopRecording();
  }
  RgnHandle after = NewRgn();
  GetClip(after);
  EXPECT_TRUE(EqualRgn(before, after));
  DisposeRgn(before);
  DisposeRgn(after);
  UInt8 px[4];
  Pixel(world, 1, 1, px);
  EXPECT_EQ(px[1], 0);  // the new world is still cleared: nothing was painted
}

TEST_F(WorldFixture, StopsInItsOwnPortWhenAnotherIsCurrent) {
  GWorldPtr other = nullptr;
  ASSERT_EQ(NewGWorld(&other, 32, &bounds, nullptr, nullptr, 0), noErr);
  PictCreator creator;
  const Rect r = {0, 0, 10, 10};
  ASSERT_EQ(creator.StartRecording(r), noErr);
  PaintRect(&r);
  SetGWorld(other, nullptr);
  creator.StopRecording();
  CGrafPtr current = nullptr;
  GetGWorld(&current, nullptr);
  EXPECT_EQ(current, other);
  SetGWorld(world, nullptr);
  // The first world records no longer: a new recording can start in it.
  PictCreator second;
  EXPECT_EQ(second.StartRecording(r), noErr);
  second.StopRecording();
  PicHandle pic = creator.GetPict();
  ASSERT_NE(pic, nullptr);
  EXPECT_TRUE(IsValidPicture(pic));
  KillPicture(pic);
  DisposeGWorld(other);
}

TEST_F(WorldFixture, RestartingKillsTheUntakenPictureAndKeepsATakenOne) {
  PictCreator creator;
  const Rect r = {0, 0, 4, 4};
  ASSERT_EQ(creator.StartRecording(r), noErr);
  creator.StopRecording();
  PicHandle taken = creator.GetPict();
  ASSERT_NE(taken, nullptr);
  // A second recording while the first is taken leaves the first alone.
  ASSERT_EQ(creator.StartRecording(r), noErr);
  EXPECT_EQ(creator.GetPict(), nullptr);
  // Starting again while recording closes the open recording first.
  ASSERT_EQ(creator.StartRecording(r), noErr);
  creator.StopRecording();
  EXPECT_TRUE(IsValidPicture(taken));
  KillPicture(taken);
  // The last picture was never taken: the creator kills it (the sanitizer
  // build reports a leak otherwise).
}

TEST_F(WorldFixture, AFailedStartRecordsNothing) {
  // The world already records a picture of its own.
  const Rect r = {0, 0, 4, 4};
  PicHandle open = OpenPicture(&r);
  ASSERT_NE(open, nullptr);
  PictCreator creator;
  EXPECT_NE(creator.StartRecording(r), noErr);
  EXPECT_FALSE(creator.IsRecording());
  EXPECT_EQ(creator.GetPict(), nullptr);
  ClosePicture();
  KillPicture(open);
}

}  // namespace
