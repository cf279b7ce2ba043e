// The band engine: every pixel operation over image buffers runs through
// CBuffer::Convert, which clips the rectangles, cuts the destination box into
// horizontal bands, runs one band procedure per band on the task engine,
// reports the averaged progress, lets the user cancel, collects the first
// failure and marks the destination dirty.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "media/CBuffer.h"
#include "media/CBufferProcs.h"
#include "platform/base/LException.h"
#include "platform/tasks/MPBands.h"
#include "toolkit/ULocalization.h"
#include "toolkit/UProgress.h"

namespace {

// Bands beyond a few per processor only add overhead; a count this large is a caller's mistake.
constexpr SInt32 kMaxBands = 256;

}  // namespace

// ---------------------------------------------------------------------------
// CBufferTask

CBufferTask::CBufferTask(BandProcPtr inProc) : mProc(inProc) {}

CBufferTask::~CBufferTask() {
  // The task must have ended before its scratch memory goes away.
  if (IsRunning()) StopTask(true);
  for (void*& slot : mScratch) {
    std::free(slot);
    slot = nullptr;
  }
}

SInt32 CBufferTask::Run() {
  try {
    return mProc ? mProc(this) : static_cast<SInt32>(paramErr);
  } catch (...) {
    return ExceptionCodeOfCurrent(err_NilPointer, paramErr);
  }
}

// ---------------------------------------------------------------------------
// Convert

OSErr CBuffer::Convert(CBuffer* inSource, CBuffer* inDest, CBuffer* inMask, const Rect* inSourceRect,
                       const Rect* inDestRect, BandProcPtr inProc, void* inUserParam, ProgressProcPtr inProgress,
                       void* inRefCon, const TaskOptions* inOptions) {
  StBufferRetainer holdSource(inSource), holdDest(inDest), holdMask(inMask);
  bool dirtyKnown = false;
  Rect destBox{0, 0, 0, 0};
  ExceptionCode result = noErr;
  try {
    Str255 text = {0};
    if (inProgress) ULocalization::GetString(text, 5000, 4);
    // The progress procedure's reference is 32 bits wide.
    UProgress progress(LStr255(text), inProgress, static_cast<SInt32>(reinterpret_cast<intptr_t>(inRefCon)));
    ThrowIfNil_(inDest);
    ThrowIfNil_(inSource);
    if (!inProc) Throw_(paramErr);

    Rect sourceBox = inSource->GetBounds();
    if (inSourceRect && !SectRect(&sourceBox, inSourceRect, &sourceBox)) return paramErr;
    if (EmptyRect(&sourceBox)) return paramErr;
    destBox = inDest->GetBounds();
    if (inDestRect && !SectRect(&destBox, inDestRect, &destBox)) return paramErr;
    if (inMask && !SectRect(&destBox, &inMask->GetBounds(), &destBox)) return paramErr;
    if (EmptyRect(&destBox)) return paramErr;
    dirtyKnown = true;

    SInt32 bands = inOptions && inOptions->mBandCount > 0 ? inOptions->mBandCount : CTaskGroup::GetPreferredTaskCount();
    bands = std::clamp<SInt32>(bands, 1, kMaxBands);
    const SInt32 height = destBox.bottom - destBox.top;
    // The rows are handed out in runs to as many workers as there are bands;
    // each worker runs its runs one after another through its own record, so
    // a procedure's scratch memory serves every run of that worker.
    MPBandOptions options;
    options.workers = bands;
    // A failure of the progress procedure cancels the run and is answered after it.
    struct Reporter {
      UProgress& progress;
      ExceptionCode failure = noErr;
    } reporter{progress};
    if (inProgress) {
      options.progress = [](void* inRefCon, SInt32 inDone) {
        auto& r = *static_cast<Reporter*>(inRefCon);
        try {
          return r.progress.Progress(inDone);
        } catch (...) {
          r.failure = ExceptionCodeOfCurrent();
          return false;
        }
      };
      options.progressRefCon = &reporter;
    }
    const SInt32 workers = MPBandWorkers(static_cast<size_t>(height), options);
    // The group owns the records and gives them its critical region, which
    // procedures that add up results across bands enter.
    CTaskGroup group;
    std::vector<CBufferTask*> records;
    records.reserve(static_cast<size_t>(workers));
    for (SInt32 i = 0; i < workers; ++i) {
      auto task = std::make_unique<CBufferTask>(inProc);
      task->mSource = inSource;
      task->mDest = inDest;
      task->mMask = inMask;
      task->mSourceBox = sourceBox;
      task->mDestBox = destBox;
      task->mUserParam = inUserParam;
      ThrowIfOSErr_(group.AddTaskObject(task.get()));
      records.push_back(task.release());
    }
    options.workers = workers;
    const OSStatus err = MPRunBands(static_cast<size_t>(height), options, [&](SInt32 inWorker, size_t inBegin, size_t inEnd) {
      CBufferTask& task = *records[static_cast<size_t>(inWorker)];
      task.mFirstRow = static_cast<SInt32>(inBegin);
      task.mRows = static_cast<SInt32>(inEnd - inBegin);
      return static_cast<OSStatus>(task.Run());
    });
    if (reporter.failure != noErr) Throw_(reporter.failure);
    if (err != noErr) Throw_(err);
  } catch (...) {
    result = ExceptionCodeOfCurrent();
  }
  if (dirtyKnown) inDest->SetDirty(&destBox);
  return ErrorCodeToOSErr(result);
}

OSErr CBuffer::CopyTo(CBuffer* inDest, const Rect* inRect, CBuffer* inMask, ProgressProcPtr inProgress,
                      void* inRefCon) {
  if (!inDest) return ErrorCodeToOSErr(err_NilPointer);
  Rect box = inDest->GetBounds();
  if (inRect) SectRect(&box, inRect, &box);
  if (inMask) SectRect(&box, &inMask->GetBounds(), &box);
  BandProcPtr proc = CBufferProcs::Copy_proc;
  return Convert(this, inDest, inMask, &box, &box, proc, nullptr, inProgress, inRefCon, nullptr);
}

OSErr CBuffer::Erase(const RGBColor* inColor, const Rect* inRect, CBuffer* inMask, ProgressProcPtr inProgress,
                     void* inRefCon) {
  const RGBColor color = inColor ? *inColor : sEraseColor;
  UInt16 value[4];
  value[0] = static_cast<UInt16>((static_cast<UInt32>(color.red) + color.green + color.blue) / 3u);
  value[1] = color.red;
  value[2] = color.green;
  value[3] = color.blue;
  // The mask limits the destination; limiting the source the same way keeps
  // both boxes equal, so that a mask smaller than the buffer erases under it.
  Rect box = mBounds;
  if (inRect) SectRect(&box, inRect, &box);
  if (inMask) SectRect(&box, &inMask->GetBounds(), &box);
  BandProcPtr proc = CBufferProcs::Erase_proc;
  return Convert(this, this, inMask, &box, &box, proc, value, inProgress, inRefCon, nullptr);
}
