// Damaged movies never make the readers ask for more memory than the data
// they come from could fill. This executable counts every allocation through
// operator new and refuses single requests above 512 MiB, so that an unchecked
// size from a file shows up as a failed expectation instead of a huge
// allocation or a crash of the machine's other work.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "../movies/MovieTestUtil.h"
#include "platform/base/Endian.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/MovieFFCodecs.h"
#include "support/movies/RawMovie.h"

namespace {
std::atomic<size_t> gLargest{0};
constexpr size_t kRefused = size_t{512} << 20;
}  // namespace

void* operator new(size_t n) {
  size_t seen = gLargest.load();
  while (n > seen && !gLargest.compare_exchange_weak(seen, n)) {
  }
  if (n > kRefused) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// The pair is malloc and free underneath, which g++ cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
// Every other unaligned form goes the same way, so that no pair is mixed.
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

constexpr size_t kSane = size_t{64} << 20;

std::vector<UInt8> Flattened(Movie m) {
  Handle h = NewHandle(0);
  EXPECT_EQ(PutMovieIntoHandle(m, h), noErr);
  std::vector<UInt8> bytes = HandleToBytes(h);
  DisposeHandle(h);
  return bytes;
}

// The offset of the payload of the first atom of this type.
size_t Find(const std::vector<UInt8>& bytes, OSType type) {
  const UInt8 tag[4] = {UInt8(type >> 24), UInt8(type >> 16), UInt8(type >> 8), UInt8(type)};
  auto it = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
  EXPECT_NE(it, bytes.end());
  return it == bytes.end() ? 0 : static_cast<size_t>(it - bytes.begin()) + 4;
}

Movie Load(const std::vector<UInt8>& bytes) {
  Handle h = BytesHandle(bytes);
  Movie m = nullptr;
  EXPECT_EQ(NewMovieFromHandle(&m, h, newMovieActive, nullptr), noErr);
  DisposeHandle(h);
  return m;
}

// Draws the movie at time 0 into a small picture.
void DrawAtStart(Movie m) {
  GWorldPtr world = nullptr;
  Rect bounds = {0, 0, 16, 16};
  ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  SetMovieGWorld(m, world, nullptr);
  SetMovieTimeValue(m, 0);
  UpdateMovie(m);
  MoviesTask(m, 0);
  SetMovieGWorld(m, nullptr, nullptr);
  DisposeGWorld(world);
}

}  // namespace

TEST(MovieLimits, PictureAndSampleSizesAreCheckedBeforeAllocating) {
  EnterMovies();
  Movie m = NewMovie(newMovieActive);
  AddRawVideoTrack(m, 8, 6, 3, 100, 600);
  const std::vector<UInt8> good = Flattened(m);
  DisposeMovie(m);

  // A 32767 x 32767 picture in the image description (a raw frame of 4 GiB).
  std::vector<UInt8> bad = good;
  const size_t stsd = Find(bad, 'stsd');
  const size_t desc = stsd + 8;  // version, flags, count: then the description
  ASSERT_EQ(ReadBE32(&bad[desc + 4]), static_cast<UInt32>('raw '));
  WriteBE16(&bad[desc + 32], 0x7FFF);
  WriteBE16(&bad[desc + 34], 0x7FFF);
  gLargest = 0;
  Movie r = Load(bad);
  ASSERT_NE(r, nullptr);
  DrawAtStart(r);
  EXPECT_LT(gLargest.load(), kSane);
  DisposeMovie(r);

  // Every sample claiming 2 GiB in a file of a few hundred bytes.
  bad = good;
  const size_t stsz = Find(bad, 'stsz');
  ASSERT_EQ(ReadBE32(&bad[stsz + 4]), 8u * 6u * 4u);
  WriteBE32(&bad[stsz + 4], 0x7FFFFF00u);
  gLargest = 0;
  r = Load(bad);
  ASSERT_NE(r, nullptr);
  DrawAtStart(r);
  EXPECT_LT(gLargest.load(), kSane);
  Handle h = NewHandle(0);
  Media md = GetTrackMedia(GetMovieIndTrack(r, 1));
  EXPECT_EQ(GetMediaSample(md, h, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
            endOfDataReached);
  EXPECT_LT(static_cast<size_t>(GetHandleSize(h)), kSane);
  EXPECT_EQ(GetMediaSample(md, h, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 100, nullptr, nullptr),
            endOfDataReached);
  EXPECT_LT(static_cast<size_t>(GetHandleSize(h)), kSane);
  DisposeHandle(h);
  DisposeMovie(r);
}

TEST(MovieLimits, SoundRunsStopAtTheirData) {
  EnterMovies();
  Movie m = NewMovie(0);
  std::vector<UInt8> pcm(2 * 400, 1);
  ASSERT_EQ(testmovies::AddPcmSoundTrack(m, 8000, 1, pcm), noErr);
  std::vector<UInt8> bytes = Flattened(m);
  DisposeMovie(m);
  std::vector<SInt16> good;
  Movie r = Load(bytes);
  ASSERT_EQ(GetMediaSound16(GetTrackMedia(GetMovieIndTrack(r, 1)), good, nullptr, nullptr), noErr);
  EXPECT_EQ(good.size(), 400u);
  DisposeMovie(r);

  const size_t stsz = Find(bytes, 'stsz');
  ASSERT_EQ(ReadBE32(&bytes[stsz + 4]), 2u);
  WriteBE32(&bytes[stsz + 4], 0x40000000u);
  gLargest = 0;
  r = Load(bytes);
  ASSERT_NE(r, nullptr);
  std::vector<SInt16> samples;
  EXPECT_NE(GetMediaSound16(GetTrackMedia(GetMovieIndTrack(r, 1)), samples, nullptr, nullptr), noErr);
  EXPECT_LT(gLargest.load(), kSane);
  DisposeMovie(r);
}
