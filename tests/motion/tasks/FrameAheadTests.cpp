#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "TaskTestSupport.h"
#include "media/CBuffer.h"
#include "media/CMovieFrameAhead.h"
#include "platform/movies/Movies.h"
#include "platform/tasks/Multiprocessing.h"

using namespace tasktest;

namespace {

constexpr SInt32 kW = 64, kH = 48;
constexpr TimeValue kStep = 20;
const Rect kBounds = {0, 0, kH, kW};

// Frame k: a gradient whose level and slope tell the frame.
void DrawGradient(SInt32 k, CBuffer* f) {
  for (SInt32 y = 0; y < f->GetHeight(); ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(f->GetData()) + static_cast<size_t>(y) * f->GetRowBytes();
    for (SInt32 x = 0; x < f->GetWidth(); ++x) {
      row[4 * x] = 255;
      row[4 * x + 1] = static_cast<UInt8>(20 * k + x);
      row[4 * x + 2] = static_cast<UInt8>(3 * y + k);
      row[4 * x + 3] = static_cast<UInt8>(x ^ y);
    }
  }
}

// Every frame as the movie draws it into a graphics world of its own.
std::vector<std::vector<UInt8>> DrawnDirectly(Movie inMovie, SInt32 inFrames) {
  CBuffer frame(kBounds, kBufferDepth8, kBufferModeARGB);
  GWorldPtr world = frame.CreateGWorld(nullptr, nullptr);
  SetMovieGWorld(inMovie, world, nullptr);
  SetMovieBox(inMovie, &kBounds);
  std::vector<std::vector<UInt8>> out;
  for (SInt32 k = 0; k < inFrames; ++k) {
    SetMovieTimeValue(inMovie, k * kStep);
    UpdateMovie(inMovie);
    MoviesTask(inMovie, 0);
    const UInt8* p = reinterpret_cast<const UInt8*>(frame.GetData());
    out.emplace_back(p, p + frame.GetDataSize());
  }
  SetMovieGWorld(inMovie, nullptr, nullptr);
  DisposeGWorld(world);
  return out;
}

bool SamePixels(const CBuffer* inView, const std::vector<UInt8>& inExpected) {
  return static_cast<size_t>(inView->GetDataSize()) == inExpected.size() &&
         std::memcmp(inView->GetData(), inExpected.data(), inExpected.size()) == 0;
}

}  // namespace

// The frames come in time order with their next times, each exactly as the
// movie draws it, and the view keeps showing the frame taken last while the
// thread draws further ahead; before the first is taken it shows nothing,
// however far the thread has drawn.
TEST(FrameAhead, DrawsEveryFrameInOrderAsTheMovieDraws) {
  constexpr SInt32 kFrames = 9;
  Movie movie = MakeRawMovie(kW, kH, kFrames, kStep, 600, DrawGradient);
  const auto expected = DrawnDirectly(movie, kFrames);
  for (SInt32 slots : {2, 3}) {
    SCOPED_TRACE(slots);
    CMovieFrameAhead ahead(movie, kBounds, 0, GetMovieDuration(movie), slots);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(SamePixels(ahead.GetView(), std::vector<UInt8>(static_cast<size_t>(ahead.GetView()->GetDataSize()), 0)));
    CMovieFrameAhead::Frame f;
    SInt32 k = 0;
    std::vector<UInt8> previous;
    while (ahead.Take(f)) {
      ASSERT_LT(k, kFrames);
      EXPECT_EQ(f.time, k * kStep);
      EXPECT_EQ(f.next, k + 1 < kFrames ? (k + 1) * kStep : -1);
      EXPECT_EQ(f.data, ahead.GetView()->GetData());
      EXPECT_TRUE(SamePixels(ahead.GetView(), expected[static_cast<size_t>(k)]));
      ++k;
    }
    EXPECT_EQ(k, kFrames);
    // After the end the last frame stays shown and nothing more comes.
    EXPECT_TRUE(SamePixels(ahead.GetView(), expected.back()));
    EXPECT_FALSE(ahead.Take(f));
  }
  DisposeMovie(movie);
}

// A range draws the frames from its start up to the last one that begins
// before its stop.
TEST(FrameAhead, ARangeEndsBeforeItsStop) {
  Movie movie = MakeRawMovie(kW, kH, 10, kStep, 600, DrawGradient);
  const auto expected = DrawnDirectly(movie, 10);
  CMovieFrameAhead ahead(movie, kBounds, 2 * kStep, 5 * kStep);
  CMovieFrameAhead::Frame f;
  std::vector<SInt32> times;
  while (ahead.Take(f)) {
    times.push_back(f.time);
    EXPECT_TRUE(SamePixels(ahead.GetView(), expected[static_cast<size_t>(f.time / kStep)]));
  }
  EXPECT_EQ(times, (std::vector<SInt32>{2 * kStep, 3 * kStep, 4 * kStep}));
  EXPECT_EQ(f.next, 5 * kStep);
  DisposeMovie(movie);
}

// Ending early (a cancelled analysis) stops the thread at once and leaves
// the movie drawing nowhere; bad bounds and no movie are refused.
TEST(FrameAhead, StopsEarlyAndRefusesBadInput) {
  Movie movie = MakeRawMovie(kW, kH, 40, kStep, 600, DrawGradient);
  {
    CMovieFrameAhead ahead(movie, kBounds, 0, GetMovieDuration(movie));
    CMovieFrameAhead::Frame f;
    ASSERT_TRUE(ahead.Take(f));
    EXPECT_EQ(f.time, 0);
  }
  MovieDrawTarget target = {reinterpret_cast<void*>(1), 0, {0, 0, 0, 0}};
  GetMovieDrawTarget(movie, &target);
  EXPECT_EQ(target.baseAddr, nullptr);
  {
    // Never taken from at all.
    CMovieFrameAhead ahead(movie, kBounds, 0, GetMovieDuration(movie));
  }
  EXPECT_THROW(CMovieFrameAhead(nullptr, kBounds, 0, 100), LException);
  EXPECT_THROW(CMovieFrameAhead(movie, Rect{0, 0, 0, 10}, 0, 100), LException);
  DisposeMovie(movie);
}

// While the reader lives, the movie's decoders take half the processors (the
// reader's own work wants the rest) and it keeps no copies of its frames;
// the movie's settings come back after, and a thread count set on purpose
// is left as it is.
TEST(FrameAhead, DecodesOnHalfTheProcessorsWhileItLives) {
  Movie movie = MakeRawMovie(kW, kH, 4, kStep, 600, DrawGradient);
  for (ItemCount processors : {8u, 5u, 1u}) {
    SCOPED_TRACE(processors);
    MPSetProcessorCountForTesting(processors);
    {
      CMovieFrameAhead ahead(movie, kBounds, 0, GetMovieDuration(movie));
      EXPECT_EQ(GetMovieDecodeThreads(movie), static_cast<SInt32>((processors + 1) / 2));
      EXPECT_FALSE(GetMovieKeepsDrawnFrame(movie));
      CMovieFrameAhead::Frame f;
      EXPECT_TRUE(ahead.Take(f));
    }
    EXPECT_EQ(GetMovieDecodeThreads(movie), 0);
    EXPECT_TRUE(GetMovieKeepsDrawnFrame(movie));
  }
  MPSetProcessorCountForTesting(0);
  SetMovieDecodeThreads(movie, 7);
  {
    CMovieFrameAhead ahead(movie, kBounds, 0, GetMovieDuration(movie));
    EXPECT_EQ(GetMovieDecodeThreads(movie), 7);
  }
  EXPECT_EQ(GetMovieDecodeThreads(movie), 7);
  DisposeMovie(movie);
}
