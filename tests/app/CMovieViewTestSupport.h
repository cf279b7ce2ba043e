// Helpers of the movie panes' tests: small movies with known frames and
// tracks, windows holding a pane, and the window port's pixels.
#pragma once

#include <cstring>
#include <vector>

#include "support/movies/RawMovie.h"
#include "media/CMovie.h"
#include "media/CTweenTracks.h"
#include "media/FrameData.h"
#include "platform/framework/TArray.h"
#include "toolkit/LTagWriter.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/framework/LListener.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LWindow.h"

namespace PaneTest {

// A movie of inFrames raw 32-bit frames of inWidth x inHeight, each inFrameTime
// long at time scale inScale; frame k is filled with grey level 40 + 10 k.
inline Movie SolidMovie(int inFrames, SInt16 inWidth, SInt16 inHeight, TimeValue inFrameTime = 60, TimeScale inScale = 600) {
  testmovies::RawMovieOptions options;
  options.timeScale = inScale;
  options.frameDuration = inFrameTime;
  options.compressorName = "None";
  return testmovies::MakeRawMovie(
      inWidth, inHeight, inFrames,
      [inHeight](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
        const size_t size = inRowBytes * static_cast<size_t>(inHeight);
        for (size_t p = 0; p < size; p += 4) {
          outPixels[p] = 0xFF;
          outPixels[p + 1] = outPixels[p + 2] = outPixels[p + 3] = static_cast<UInt8>(40 + 10 * k);
        }
      },
      options);
}

// A control track (the control-track code's own) with one record per frame
// time in [inStart, inEnd) every inStep; at inLayer when given another layer
// (0x3000: a motion-data track), with the settings item's 'opts' when asked.
inline Track AddCorrectionTrack(Movie inMovie, Rect inBounds, SInt32 inStart, SInt32 inEnd, SInt32 inStep,
                                SInt16 inLayer = kControlTrackLayer, UInt32 inOptions = 0) {
  TArray<FrameData> frames;
  for (SInt32 t = inStart; t < inEnd; t += inStep) {
    FrameData f;
    f.time = t;
    f.duration = inStep;
    frames.AddItem(f);
  }
  Track track = nullptr;
  if (CTweenTracks::CreateTweenTrackFromFrames(inMovie, inBounds, frames, &track) != noErr || !track) return nullptr;
  if (inLayer != kControlTrackLayer) SetTrackLayer(track, inLayer);
  if (inOptions) {
    LTagWriter writer;
    writer.WriteUInt32('opts', inOptions);
    writer.WriteNextTag('>>>>', 0, nullptr);
    AddUserData(GetTrackUserData(track), writer.GetHandle(), 'Trbx');
  }
  return track;
}

inline SWindowInfo WindowInfo(const char* inTitle, SInt16 inWidth, SInt16 inHeight) {
  SWindowInfo w;
  w.title = inTitle;
  w.width = inWidth;
  w.height = inHeight;
  return w;
}

inline SPaneInfo PaneInfo(PaneIDT inID, SInt32 inLeft, SInt32 inTop, SInt16 inWidth, SInt16 inHeight, LView* inSuper) {
  SPaneInfo p;
  p.paneID = inID;
  p.left = inLeft;
  p.top = inTop;
  p.width = inWidth;
  p.height = inHeight;
  p.superView = inSuper;
  return p;
}

// The colour of a port pixel as 8-bit red, green, blue.
struct RGB8 {
  int r = 0, g = 0, b = 0;
  bool operator==(const RGB8& o) const { return r == o.r && g == o.g && b == o.b; }
};

inline RGB8 PortPixel(LWindow* inWindow, SInt32 inH, SInt32 inV) {
  PixMapHandle pm = GetPortPixMap(inWindow->GetWindowPort());
  const Rect bounds = (*pm)->bounds;
  const UInt8* p = reinterpret_cast<const UInt8*>((*pm)->baseAddr) + (inV - bounds.top) * QTGetPixMapHandleRowBytes(pm) +
                   (inH - bounds.left) * 4;
  return RGB8{p[1], p[2], p[3]};
}

inline EventRecord MouseEvent(SInt16 inH, SInt16 inV, UInt16 inModifiers = 0) {
  EventRecord e;
  e.what = mouseDown;
  e.where.h = inH;
  e.where.v = inV;
  e.modifiers = inModifiers;
  return e;
}

inline Point Pt(SInt16 inH, SInt16 inV) {
  Point p;
  p.h = inH;
  p.v = inV;
  return p;
}

// Records every message a broadcaster sends, with an SInt32 or Rect parameter.
struct MessageLog : LListener {
  struct Entry {
    MessageT message;
    SInt32 value;
    Rect rect;
  };
  std::vector<Entry> entries;
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    Entry e{inMessage, 0, {0, 0, 0, 0}};
    if (ioParam && inMessage == 2001) e.rect = *static_cast<Rect*>(ioParam);
    else if (ioParam && (inMessage == 2010 || inMessage == 2011 || inMessage == 7100 || inMessage == 161))
      e.value = *static_cast<SInt32*>(ioParam);
    entries.push_back(e);
  }
  std::vector<MessageT> Messages() const {
    std::vector<MessageT> out;
    for (const Entry& e : entries) out.push_back(e.message);
    return out;
  }
  int Count(MessageT inMessage) const {
    int n = 0;
    for (const Entry& e : entries) n += e.message == inMessage;
    return n;
  }
};

}  // namespace PaneTest
