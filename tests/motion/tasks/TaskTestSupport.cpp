#include "TaskTestSupport.h"

#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/CoreFoundation.h"

// The bundle's Info.plist texts are read once and kept for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:ReadInfoPlist\n"; }

namespace tasktest {

Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames, TimeValue inDuration, TimeScale inScale,
                   const std::function<void(SInt32 k, CBuffer* frame)>& inDraw) {
  Movie m = NewMovie(newMovieActive);
  SetMovieTimeScale(m, inScale);
  Track t = NewMovieTrack(m, Long2Fix(inWidth), Long2Fix(inHeight), 0);
  Media md = NewTrackMedia(t, VideoMediaType, inScale, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**desc).idSize = sizeof(ImageDescription);
  (**desc).cType = 'raw ';
  (**desc).width = static_cast<SInt16>(inWidth);
  (**desc).height = static_cast<SInt16>(inHeight);
  (**desc).hRes = (**desc).vRes = Long2Fix(72);
  (**desc).frameCount = 1;
  (**desc).depth = 32;
  (**desc).clutID = -1;
  const size_t rowBytes = static_cast<size_t>(inWidth) * 4;
  Handle data = NewHandle(static_cast<SInt32>(rowBytes * inHeight));
  const Rect bounds = {0, 0, static_cast<SInt16>(inHeight), static_cast<SInt16>(inWidth)};
  CBuffer frame(bounds, kBufferDepth8, kBufferModeARGB);
  BeginMediaEdits(md);
  for (SInt32 k = 0; k < inFrames; ++k) {
    inDraw(k, &frame);
    for (SInt32 y = 0; y < inHeight; ++y)
      std::memcpy(*data + y * rowBytes, frame.GetData() + static_cast<size_t>(y) * frame.GetRowBytes(), rowBytes);
    AddMediaSample(md, data, 0, static_cast<UInt32>(rowBytes * inHeight), inDuration,
                   reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
  }
  EndMediaEdits(md);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1);
  return m;
}

bool RunTask(TestDocument& ioDocument, LThread* inTask, const std::function<void()>& inBetween, int inMaxTurns) {
  const size_t before = ioDocument.ended.size();
  inTask->Resume();
  for (int turn = 0; turn < inMaxTurns && ioDocument.ended.size() == before; ++turn) {
    LThread::Yield();
    if (ioDocument.ended.size() == before && inBetween) inBetween();
  }
  LThread::DeleteEndedThreads();
  return ioDocument.ended.size() > before;
}

void UseBundle() { UBundle::SetMainBundlePath(TRX_TEST_BUNDLE); }

}  // namespace tasktest
