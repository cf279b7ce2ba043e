#include "platform/framework/LThread.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/base/LException.h"

namespace {

// Thrown inside a deleted thread to unwind its Run().
struct ThreadDeath {};

thread_local LThread* tCurrent = nullptr;  // set on the threads of cooperative threads

}  // namespace

class UThreadScheduler {
 public:
  std::mutex mLock;
  std::condition_variable mChanged;
  LThread* mRunner = nullptr;  // who holds the baton; nil: the main thread
  std::deque<LThread*> mReady;  // ready to run, in turn; nil stands for the main thread
  std::vector<LThread*> mEnded;
  std::map<UInt32, LThread*> mLive;
  UInt32 mNextSerial = 0;
  bool mHasMain = false;
  std::thread::id mMainID;
  LThread* mMainObject = nullptr;
  // Work handed to the main thread by cooperative threads.
  struct MainWork {
    const std::function<void()>* work;
    std::exception_ptr failure;
    bool done = false;
  };
  std::deque<MainWork*> mMainWork;

  // The main thread's wait for the baton; it runs handed work meanwhile.
  void MainWait(std::unique_lock<std::mutex>& ioLock) {
    for (;;) {
      mChanged.wait(ioLock, [&] { return mRunner == nullptr || !mMainWork.empty(); });
      if (mRunner == nullptr) return;
      MainWork* item = mMainWork.front();
      mMainWork.pop_front();
      ioLock.unlock();
      try {
        (*item->work)();
      } catch (...) {
        item->failure = std::current_exception();
      }
      ioLock.lock();
      item->done = true;
      mChanged.notify_all();
    }
  }

  static UThreadScheduler& Get() {
    // Never destroyed: threads still waiting at exit must find it intact.
    static auto* sScheduler = new UThreadScheduler;
    return *sScheduler;
  }

  // Whether the caller is the main thread (the first non-cooperative thread
  // to use the scheduler, normally at static initialisation).
  bool CallerIsMain() {
    if (tCurrent) return false;
    if (!mHasMain) {
      mHasMain = true;
      mMainID = std::this_thread::get_id();
    }
    return mMainID == std::this_thread::get_id();
  }

  // Gives the baton to the first ready participant and, unless the caller is
  // ending, waits until it comes back. The caller has already queued itself
  // (Yield) or not (Suspend, end).
  void HandOff(std::unique_lock<std::mutex>& ioLock, LThread* inSelf, bool inEnding) {
    LThread* next = mReady.front();
    mReady.pop_front();
    if (next == inSelf && !inEnding) {
      if (inSelf) inSelf->mState = LThread::threadState_Running;
      return;
    }
    mRunner = next;
    if (next) next->mState = LThread::threadState_Running;
    mChanged.notify_all();
    if (inEnding) return;
    if (inSelf == nullptr)
      MainWait(ioLock);
    else
      mChanged.wait(ioLock, [&] { return mRunner == inSelf; });
  }

  // After getting the baton back: a thread asked to end unwinds now.
  static void CheckDeath(std::unique_lock<std::mutex>& ioLock, LThread* inSelf) {
    if (inSelf && inSelf->mDeathRequested && !inSelf->mDeathThrown) {
      inSelf->mDeathThrown = true;
      ioLock.unlock();
      throw ThreadDeath{};
    }
  }

  void RemoveReady(LThread* inThread) {
    auto pos = std::find(mReady.begin(), mReady.end(), inThread);
    if (pos != mReady.end()) mReady.erase(pos);
  }

  LThread* FindLive(UInt32 inSerial, LThread::EThreadState& outState) {
    auto pos = mLive.find(inSerial);
    if (pos == mLive.end()) return nullptr;
    outState = pos->second->mState;
    return pos->second;
  }

  static void Entry(LThread* inThread) {
    UThreadScheduler& s = Get();
    tCurrent = inThread;
    bool dead;
    {
      std::unique_lock<std::mutex> lock(s.mLock);
      s.mChanged.wait(lock, [&] { return s.mRunner == inThread; });
      dead = inThread->mDeathRequested;
      inThread->mDeathThrown = dead;
    }
    void* result = inThread->mResult;
    if (!dead) {
      try {
        result = inThread->Run();
      } catch (const ThreadDeath&) {
        result = inThread->mResult;
      } catch (...) {
        // A failure ends only this thread.
        LogCurrentException("threads", "Run");
      }
    }
    std::unique_lock<std::mutex> lock(s.mLock);
    inThread->mResult = result;
    inThread->mState = LThread::threadState_Ended;
    s.mEnded.push_back(inThread);
    s.HandOff(lock, inThread, true);
    // The object may be deleted from here on.
  }
};

namespace {
// Makes the thread that initialises the program its main thread.
const bool sMainMarked = [] {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  return s.CallerIsMain();
}();
}  // namespace

LThread::LThread(Boolean inPreemptive, UInt32, UInt32, void* inResult) : mResult(inResult) {
  if (inPreemptive) Throw_(paramErr);
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  s.CallerIsMain();
  mSerial = ++s.mNextSerial;
  s.mLive[mSerial] = this;
}

LThread::LThread(MainTag) : mState(threadState_Running), mIsMain(true) {}

LThread::~LThread() {
  if (mIsMain) return;
  UThreadScheduler& s = UThreadScheduler::Get();
  {
    std::lock_guard<std::mutex> lock(s.mLock);
    if (mState != threadState_Created && mState != threadState_Ended) {
      std::fprintf(stderr, "LThread deleted while it runs; use DeleteThread\n");
      std::abort();
    }
    s.mLive.erase(mSerial);
    s.mEnded.erase(std::remove(s.mEnded.begin(), s.mEnded.end(), this), s.mEnded.end());
  }
  if (mOSThread.joinable()) mOSThread.join();
}

bool LThread::IsCurrent() const {
  if (mIsMain) return InMainThread();
  return tCurrent == this;
}

void LThread::Resume() {
  if (mIsMain) return;
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  if (mState == threadState_Created) {
    mOSThread = std::thread(&UThreadScheduler::Entry, this);
    mState = threadState_Ready;
    s.mReady.push_back(this);
  } else if (mState == threadState_Suspended) {
    mState = threadState_Ready;
    s.mReady.push_back(this);
  }
}

void LThread::Suspend() {
  if (mIsMain) return;
  UThreadScheduler& s = UThreadScheduler::Get();
  std::unique_lock<std::mutex> lock(s.mLock);
  if (tCurrent == this) {
    mState = threadState_Suspended;
    s.HandOff(lock, this, false);
    UThreadScheduler::CheckDeath(lock, this);
  } else if (mState == threadState_Ready) {
    s.RemoveReady(this);
    mState = threadState_Suspended;
  }
}

void LThread::DeleteThread(void* inResult) {
  if (mIsMain) return;
  UThreadScheduler& s = UThreadScheduler::Get();
  UInt32 serial = mSerial;
  {
    std::unique_lock<std::mutex> lock(s.mLock);
    if (mState == threadState_Ended) return;
    mResult = inResult;
    if (tCurrent == this) {
      mDeathRequested = true;
      mDeathThrown = true;
      lock.unlock();
      throw ThreadDeath{};
    }
    if (mState == threadState_Created) {
      lock.unlock();
      delete this;
      return;
    }
    mDeathRequested = true;
    if (mState == threadState_Suspended) {
      mState = threadState_Ready;
      s.mReady.push_back(this);
    }
  }
  // Let it unwind; it is looked up by serial because it may be gone meanwhile.
  for (;;) {
    EThreadState state = threadState_Ended;
    LThread* t;
    {
      std::lock_guard<std::mutex> lock(s.mLock);
      t = s.FindLive(serial, state);
    }
    if (!t || state != threadState_Ready) break;
    Yield(t);
  }
  DeleteEndedThreads();
}

bool LThread::Wait() {
  UThreadScheduler& s = UThreadScheduler::Get();
  if (mIsMain) return false;
  UInt32 serial = mSerial;
  for (;;) {
    EThreadState state = threadState_Ended;
    LThread* t;
    {
      std::lock_guard<std::mutex> lock(s.mLock);
      t = s.FindLive(serial, state);
    }
    if (!t || state == threadState_Ended) {
      DeleteEndedThreads();
      return true;
    }
    if (state != threadState_Ready) return false;
    Yield(t);
  }
}

void LThread::Yield(const LThread* inYieldTo) {
  UThreadScheduler& s = UThreadScheduler::Get();
  bool isMain;
  {
    std::unique_lock<std::mutex> lock(s.mLock);
    isMain = s.CallerIsMain();
    LThread* self = tCurrent;
    if (!isMain && !self) return;  // a thread outside the baton
    if (s.mReady.empty()) {
      lock.unlock();
      if (isMain) DeleteEndedThreads();
      return;
    }
    auto target = std::find(s.mReady.begin(), s.mReady.end(), inYieldTo);
    if (inYieldTo && target != s.mReady.end()) {
      LThread* to = *target;
      s.mReady.erase(target);
      s.mReady.push_front(self);
      s.mReady.push_front(to);
    } else {
      s.mReady.push_back(self);
    }
    if (self) self->mState = threadState_Ready;
    s.HandOff(lock, self, false);
    UThreadScheduler::CheckDeath(lock, self);
  }
  if (isMain) DeleteEndedThreads();
}

LThread* LThread::GetCurrentThread() {
  if (tCurrent) return tCurrent;
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  return s.CallerIsMain() ? s.mMainObject : nullptr;
}

bool LThread::InMainThread() {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  return s.CallerIsMain();
}

SInt32 LThread::CountReadyThreads() {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  return static_cast<SInt32>(std::count_if(s.mReady.begin(), s.mReady.end(), [](LThread* t) { return t != nullptr; }));
}

void LThread::DeleteEndedThreads() {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::vector<LThread*> ended;
  {
    std::lock_guard<std::mutex> lock(s.mLock);
    if (!s.CallerIsMain()) return;
    ended.swap(s.mEnded);
  }
  for (LThread* t : ended) {
    if (t->mOSThread.joinable()) t->mOSThread.join();
    delete t;
  }
}

UMainThread::UMainThread() : LThread(MainTag{}) {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  s.CallerIsMain();
  s.mMainObject = this;
}

UMainThread::~UMainThread() {
  UThreadScheduler& s = UThreadScheduler::Get();
  std::lock_guard<std::mutex> lock(s.mLock);
  if (s.mMainObject == this) s.mMainObject = nullptr;
}

bool LThread::RunOnMainThread(const std::function<void()>& inWork) {
  UThreadScheduler& s = UThreadScheduler::Get();
  if (!tCurrent) {
    bool isMain;
    {
      std::lock_guard<std::mutex> lock(s.mLock);
      isMain = s.CallerIsMain();
    }
    if (!isMain) return false;
    inWork();
    return true;
  }
  UThreadScheduler::MainWork item{&inWork, nullptr, false};
  {
    std::unique_lock<std::mutex> lock(s.mLock);
    s.mMainWork.push_back(&item);
    s.mChanged.notify_all();
    s.mChanged.wait(lock, [&] { return item.done; });
  }
  if (item.failure) std::rethrow_exception(item.failure);
  return true;
}
