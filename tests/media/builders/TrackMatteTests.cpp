#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/CBuffer.h"
#include "media/CMovieTrack.h"
#include "platform/base/Endian.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"

namespace {

struct MatteFixture : ::testing::Test {
  Movie movie = nullptr;
  void SetUp() override {
    EnterMovies();
    movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
  }
  void TearDown() override { DisposeMovie(movie); }
};

std::vector<UInt8> MovieAtomBytes(Movie m) {
  Handle h = NewHandle(0);
  EXPECT_EQ(PutMovieIntoHandle(m, h), noErr);
  std::vector<UInt8> bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h));
  DisposeHandle(h);
  return bytes;
}

// The 'kmat' atoms found inside 'matt' atoms of the stored movie.
std::vector<std::vector<UInt8>> StoredMattes(const std::vector<UInt8>& bytes) {
  std::vector<std::vector<UInt8>> found;
  for (size_t i = 4; i + 20 <= bytes.size(); ++i) {
    if (ReadBE32(&bytes[i]) != 'matt' || ReadBE32(&bytes[i + 8]) != 'kmat') continue;
    UInt32 size = ReadBE32(&bytes[i + 4]);
    if (i + size - 4 > bytes.size()) continue;
    found.emplace_back(bytes.begin() + static_cast<long>(i + 4), bytes.begin() + static_cast<long>(i + 4 + size));
  }
  return found;
}

// A gray buffer whose pixel (h, v) holds 10 x v + h.
CBuffer* GrayRamp(const Rect& bounds) {
  auto* b = new CBuffer(bounds, kBufferDepth8, kBufferModeGray);
  for (SInt16 v = bounds.top; v < bounds.bottom; ++v)
    for (SInt16 h = bounds.left; h < bounds.right; ++h) {
      Point p = {v, h};
      *reinterpret_cast<UInt8*>(b->GetDataPtr(&p)) = static_cast<UInt8>(10 * (v - bounds.top) + (h - bounds.left));
    }
  return b;
}

TEST_F(MatteFixture, TheBuffersPixelsBecomeTheTracksStoredMatte) {
  CMovieTrack track(movie, Rect{0, 0, 30, 40});
  CBuffer* buffer = GrayRamp(Rect{0, 0, 3, 4});
  ASSERT_EQ(track.SetTrackMatte(buffer, nullptr), noErr);
  auto mattes = StoredMattes(MovieAtomBytes(movie));
  ASSERT_EQ(mattes.size(), 1u);
  const std::vector<UInt8>& k = mattes[0];
  // size, 'kmat', version and flags, then an 86-byte description and the rows.
  ASSERT_EQ(k.size(), 12u + 86u + 12u);
  const UInt8* d = k.data() + 12;
  EXPECT_EQ(ReadBE32(d), 86u);
  EXPECT_EQ(ReadBE32(d + 4), static_cast<UInt32>('raw '));
  EXPECT_EQ(ReadBE16(d + 32), 4);   // width
  EXPECT_EQ(ReadBE16(d + 34), 3);   // height
  EXPECT_EQ(ReadBE32(d + 44), 12u); // data size
  EXPECT_EQ(ReadBE16(d + 82), 40);  // 8-bit gray
  const UInt8* px = d + 86;
  for (int v = 0; v < 3; ++v)
    for (int h = 0; h < 4; ++h) EXPECT_EQ(px[v * 4 + h], 10 * v + h);
  buffer->Release();
}

TEST_F(MatteFixture, ARectangleTakesPartOfTheBufferAndANewMatteReplacesTheOld) {
  CMovieTrack track(movie, Rect{0, 0, 30, 40});
  CBuffer* buffer = GrayRamp(Rect{0, 0, 3, 4});
  ASSERT_EQ(track.SetTrackMatte(buffer, nullptr), noErr);
  Rect part = {1, 2, 3, 4};
  ASSERT_EQ(track.SetTrackMatte(buffer, &part), noErr);
  // Kept through a round trip of the stored movie.
  Handle h = NewHandle(0);
  ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
  Movie copy = nullptr;
  ASSERT_EQ(NewMovieFromHandle(&copy, h, 0, nullptr), noErr);
  DisposeHandle(h);
  auto mattes = StoredMattes(MovieAtomBytes(copy));
  DisposeMovie(copy);
  ASSERT_EQ(mattes.size(), 1u);
  const UInt8* d = mattes[0].data() + 12;
  EXPECT_EQ(ReadBE16(d + 32), 2);
  EXPECT_EQ(ReadBE16(d + 34), 2);
  const UInt8* px = d + 86;
  EXPECT_EQ(px[0], 12);
  EXPECT_EQ(px[1], 13);
  EXPECT_EQ(px[2], 22);
  EXPECT_EQ(px[3], 23);
  buffer->Release();
}

TEST_F(MatteFixture, NilBufferOrOutsideRectangleSetsNothing) {
  CMovieTrack track(movie, Rect{0, 0, 30, 40});
  EXPECT_EQ(track.SetTrackMatte(nullptr, nullptr), ErrorCodeToOSErr(err_NilPointer));
  CBuffer* buffer = GrayRamp(Rect{0, 0, 3, 4});
  Rect outside = {10, 10, 20, 20};
  EXPECT_NE(track.SetTrackMatte(buffer, &outside), noErr);
  EXPECT_TRUE(StoredMattes(MovieAtomBytes(movie)).empty());
  buffer->Release();
}

TEST_F(MatteFixture, AStaleTrackAnswersTheToolboxError) {
  auto* track = new CMovieTrack(movie, Rect{0, 0, 30, 40});
  DisposeMovieTrack(track->GetTrack());
  CBuffer* buffer = GrayRamp(Rect{0, 0, 3, 4});
  EXPECT_EQ(track->SetTrackMatte(buffer, nullptr), invalidTrack);
  delete track;
  buffer->Release();
}

}  // namespace
