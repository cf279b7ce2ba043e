// Draws a movie's video frames ahead of the code that reads them, on a
// thread of its own, so that decoding and drawing overlap the work done on
// each frame (a tracker measuring it) instead of adding up with it.
//
// The frames are drawn in time order, from a start time up to the last frame
// that begins before a stop time, into a small ring of buffers of the given
// bounds (8-bit ARGB, each drawn exactly as the movie draws into a graphics
// world over such a buffer). The reader takes them one after the other; a
// frame's buffer is drawn again only once the reader has taken the frame
// after it, so the frame taken last stays untouched while it is read.
//
// While the object lives, only its thread may use the movie (its time, box,
// hints and drawing target are set before; the movie should not be tasked
// by anyone else). Its decoders then use half the processors, since the
// reader's work wants the others, and it keeps no copy of the frames it
// draws (each is drawn once, straight into its buffer where it can be); the
// movie's own settings come back after. The movie toolbox itself serialises its calls, so other
// movies may be used meanwhile. Qt is never touched.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"

class CBuffer;

class CMovieFrameAhead {
 public:
  struct Frame {
    SInt32 time = -1;  // the frame's movie time
    SInt32 next = -1;  // the next frame's time, -1 when there is none
    Ptr data = nullptr;
  };

  // Starts drawing at inStart. The frames end with the first one whose next
  // frame time is none or at or after inStop. inSlots (at least 2) buffers
  // are drawn into. Allocation failure throws 'nilP'; -50 for empty bounds.
  CMovieFrameAhead(Movie inMovie, const Rect& inBounds, SInt32 inStart, SInt32 inStop, SInt32 inSlots = 3);
  // Stops the thread (a frame being drawn is finished first) and takes the
  // drawing target off the movie.
  ~CMovieFrameAhead();
  CMovieFrameAhead(const CMovieFrameAhead&) = delete;
  CMovieFrameAhead& operator=(const CMovieFrameAhead&) = delete;

  // Waits for the next frame and shows it in the view; false once every
  // frame has been taken. A frame that could not be drawn throws its error
  // (as an LException) when it is its turn. Taking a frame hands the frame
  // taken before back for drawing.
  bool Take(Frame& outFrame);

  // A buffer whose pixels are those of the frame taken last (all zero
  // before any). It is the object's; retain it to hold it,
  // but read it only while the object lives.
  CBuffer* GetView() const { return mView; }
  const Rect& GetBounds() const { return mBounds; }

 private:
  void Run();
  // Writes every slot once, in order, while the decoder starts: a page of a
  // new process costs far more to write the first time than after, and the
  // drawing thread would otherwise pay that inside its first frames.
  void Prepare();
  // Asks both threads to stop and waits for them.
  void StopThreads();
  // Puts the movie's own settings back and releases the buffers.
  void GiveBack();

  Movie mMovie;
  Rect mBounds;
  SInt32 mStart;
  SInt32 mStop;
  SInt32 mDecodeThreads;  // the movie's decoder threads before
  Boolean mKeptFrames;    // whether the movie kept its drawn frames before
  std::vector<CBuffer*> mSlots;
  // What the view shows before any frame is taken: zero, and never written,
  // so that the slots may be written while nobody may look at them.
  CBuffer* mBlank = nullptr;
  CBuffer* mView = nullptr;

  std::mutex mLock;
  std::condition_variable mChanged;
  std::vector<Frame> mFrames;  // one per slot: the frame drawn into it
  std::vector<OSErr> mErrors;  // one per slot: its drawing failure
  UInt64 mDrawn = 0;           // frames drawn (or failed) so far
  UInt64 mTaken = 0;           // frames the reader has taken
  bool mHolding = false;       // the reader still reads the frame it took last
  bool mFinished = false;      // no frame follows the ones drawn
  bool mStopping = false;
  size_t mPrepared = 0;        // slots written once (all: drawn into at once)
  std::thread mThread;
  std::thread mPreparer;
};
