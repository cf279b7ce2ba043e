#include "TaskTestSupport.h"

#include <cstring>

#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/CoreFoundation.h"
#include "support/BufferMovie.h"

// The bundle's Info.plist texts are read once and kept for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:ReadInfoPlist\n"; }

namespace tasktest {

Movie MakeRawMovie(SInt32 inWidth, SInt32 inHeight, SInt32 inFrames, TimeValue inDuration, TimeScale inScale,
                   const std::function<void(SInt32 k, CBuffer* frame)>& inDraw) {
  return testmovies::MakeBufferMovie(inWidth, inHeight, inFrames, inDraw, {inScale, inDuration});
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
