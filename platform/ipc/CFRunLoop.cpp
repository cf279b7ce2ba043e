#include "platform/ipc/CFRunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/ipc/CFObjectRecord.h"

const CFRunLoopMode kCFRunLoopDefaultMode = CFSTR("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = CFSTR("kCFRunLoopCommonModes");

namespace {

const char* const kCommonModesText = "kCFRunLoopCommonModes";

std::string ModeText(CFRunLoopMode inMode) {
  if (const char* text = CFStringGetCStringPtr(inMode, kCFStringEncodingUTF8)) return text;
  char buffer[256];
  return CFStringGetCString(inMode, buffer, sizeof(buffer), kCFStringEncodingUTF8) ? buffer : "";
}

class CRunLoopSource : public OpaqueCFObject {
 public:
  CRunLoopSource(int inFd, std::function<void()> inPerform, CFIndex inOrder, CFTypeRef inOwner)
      : OpaqueCFObject(kCFRunLoopSourceTypeID),
        mFd(inFd),
        mPerform(std::move(inPerform)),
        mOrder(inOrder),
        mOwner(CFRetain(inOwner)) {}
  void Retain() { CFRetain(static_cast<OpaqueCFObject*>(this)); }
  void Release() { CFRelease(static_cast<OpaqueCFObject*>(this)); }
  ~CRunLoopSource() override { CFRelease(mOwner); }

  int Descriptor() const { return mFd; }
  CFIndex Order() const { return mOrder; }
  bool IsValid() const { return mValid.load(); }
  void Invalidate() { mValid.store(false); }
  void Perform() {
    if (IsValid() && mPerform) mPerform();
  }

 private:
  int mFd;
  std::function<void()> mPerform;
  CFIndex mOrder;
  CFTypeRef mOwner;
  std::atomic<bool> mValid{true};
};

class CRunLoop;

// Every live run loop, so that an invalidated source can wake the loops that
// may be waiting on its descriptor.
std::mutex gLoopsLock;
std::set<CRunLoop*> gLoops;

class CRunLoop : public OpaqueCFObject {
 public:
  void Retain() { CFRetain(static_cast<OpaqueCFObject*>(this)); }
  void Release() { CFRelease(static_cast<OpaqueCFObject*>(this)); }
  CRunLoop() : OpaqueCFObject(kCFRunLoopTypeID) {
    mWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::lock_guard<std::mutex> guard(gLoopsLock);
    gLoops.insert(this);
  }
  ~CRunLoop() override {
    {
      std::lock_guard<std::mutex> guard(gLoopsLock);
      gLoops.erase(this);
    }
    for (auto& entry : mEntries) CFRelease(entry.source);
    if (mWakeFd >= 0) close(mWakeFd);
  }

  void Add(CRunLoopSource* inSource, const std::string& inMode) {
    std::lock_guard<std::mutex> guard(mLock);
    for (auto& entry : mEntries)
      if (entry.source == inSource && entry.mode == inMode) return;
    inSource->Retain();
    mEntries.push_back({inSource, inMode});
    WakeUp();
  }

  void Remove(CRunLoopSource* inSource, const std::string& inMode) {
    CRunLoopSource* removed = nullptr;
    {
      std::lock_guard<std::mutex> guard(mLock);
      auto it = std::find_if(mEntries.begin(), mEntries.end(),
                             [&](const Entry& e) { return e.source == inSource && e.mode == inMode; });
      if (it == mEntries.end()) return;
      removed = it->source;
      mEntries.erase(it);
    }
    removed->Release();
    WakeUp();
  }

  bool Contains(CRunLoopSource* inSource, const std::string& inMode) {
    std::lock_guard<std::mutex> guard(mLock);
    for (auto& entry : mEntries)
      if (entry.source == inSource && entry.mode == inMode) return true;
    return false;
  }

  void Stop() {
    mStopped.store(true);
    WakeUp();
  }

  void WakeUp() {
    if (mWakeFd >= 0) {
      UInt64 one = 1;
      ssize_t n = write(mWakeFd, &one, sizeof(one));
      (void)n;
    }
  }

  CFRunLoopRunResult Run(const std::string& inMode, CFTimeInterval inSeconds, bool inReturnAfterSourceHandled);

 private:
  struct Entry {
    CRunLoopSource* source;
    std::string mode;
  };

  // The valid sources served in the mode, retained, in order.
  std::vector<CRunLoopSource*> ActiveSources(const std::string& inMode) {
    std::vector<CRunLoopSource*> active;
    std::lock_guard<std::mutex> guard(mLock);
    for (auto& entry : mEntries) {
      if (entry.mode != inMode && entry.mode != kCommonModesText) continue;
      if (!entry.source->IsValid()) continue;
      if (std::find(active.begin(), active.end(), entry.source) != active.end()) continue;
      entry.source->Retain();
      active.push_back(entry.source);
    }
    std::stable_sort(active.begin(), active.end(),
                     [](const CRunLoopSource* a, const CRunLoopSource* b) { return a->Order() < b->Order(); });
    return active;
  }

  void DrainWake() {
    UInt64 value;
    while (read(mWakeFd, &value, sizeof(value)) > 0) {
    }
  }

  std::mutex mLock;
  std::vector<Entry> mEntries;
  int mWakeFd = -1;
  std::atomic<bool> mStopped{false};
};

CFRunLoopRunResult CRunLoop::Run(const std::string& inMode, CFTimeInterval inSeconds,
                                 bool inReturnAfterSourceHandled) {
  using Clock = std::chrono::steady_clock;
  if (!(inSeconds >= 0)) inSeconds = 0;  // negative or NaN
  inSeconds = std::min(inSeconds, 1.0e9);
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(inSeconds));
  for (;;) {
    if (mStopped.exchange(false)) return kCFRunLoopRunStopped;
    std::vector<CRunLoopSource*> active = ActiveSources(inMode);
    if (active.empty()) return kCFRunLoopRunFinished;

    std::vector<pollfd> fds;
    fds.push_back({mWakeFd, POLLIN, 0});
    for (CRunLoopSource* source : active) fds.push_back({source->Descriptor(), POLLIN, 0});
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    int timeout = static_cast<int>(std::clamp<long long>(remaining + 1, 0, 1000 * 60 * 60));
    if (remaining <= 0) timeout = 0;
    int ready = poll(fds.data(), fds.size(), timeout);

    bool handled = false;
    if (ready > 0) {
      if (fds[0].revents != 0) DrainWake();
      for (size_t i = 0; i < active.size(); ++i) {
        short ev = fds[i + 1].revents;
        if (ev & POLLNVAL) continue;  // the descriptor closed under us: the source is about to go invalid
        if (ev & (POLLIN | POLLHUP | POLLERR)) {
          active[i]->Perform();
          handled = true;
        }
      }
    }
    for (CRunLoopSource* source : active) source->Release();
    if (handled && inReturnAfterSourceHandled) return kCFRunLoopRunHandledSource;
    if (Clock::now() >= deadline) {
      if (mStopped.exchange(false)) return kCFRunLoopRunStopped;
      return kCFRunLoopRunTimedOut;
    }
  }
}

CRunLoop* AsLoop(CFRunLoopRef inLoop) { return static_cast<CRunLoop*>(reinterpret_cast<OpaqueCFObject*>(inLoop)); }
CRunLoopSource* AsSource(CFRunLoopSourceRef inSource) {
  return static_cast<CRunLoopSource*>(reinterpret_cast<OpaqueCFObject*>(inSource));
}
CFRunLoopRef AsRef(CRunLoop* inLoop) { return reinterpret_cast<CFRunLoopRef>(static_cast<OpaqueCFObject*>(inLoop)); }

bool IsMainThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

CRunLoop* MainLoop() {
  static CRunLoop* sMain = new CRunLoop;  // lives as long as the process
  return sMain;
}

struct StThreadLoop {
  CRunLoop* loop = nullptr;
  ~StThreadLoop() {
    if (loop) loop->Release();
  }
};

}  // namespace

CFRunLoopRef CFRunLoopGetMain() { return AsRef(MainLoop()); }

CFRunLoopRef CFRunLoopGetCurrent() {
  if (IsMainThread()) return CFRunLoopGetMain();
  thread_local StThreadLoop tLoop;
  if (tLoop.loop == nullptr) tLoop.loop = new CRunLoop;
  return AsRef(tLoop.loop);
}

void CFRunLoopAddSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode) {
  if (inLoop && inSource && inMode) AsLoop(inLoop)->Add(AsSource(inSource), ModeText(inMode));
}

void CFRunLoopRemoveSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode) {
  if (inLoop && inSource && inMode) AsLoop(inLoop)->Remove(AsSource(inSource), ModeText(inMode));
}

Boolean CFRunLoopContainsSource(CFRunLoopRef inLoop, CFRunLoopSourceRef inSource, CFRunLoopMode inMode) {
  return (inLoop && inSource && inMode) ? AsLoop(inLoop)->Contains(AsSource(inSource), ModeText(inMode)) : false;
}

void CFRunLoopRun() {
  for (;;) {
    CFRunLoopRunResult result = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1.0e9, false);
    if (result == kCFRunLoopRunStopped || result == kCFRunLoopRunFinished) return;
  }
}

CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode inMode, CFTimeInterval inSeconds,
                                      Boolean inReturnAfterSourceHandled) {
  if (inMode == nullptr) return kCFRunLoopRunFinished;
  return AsLoop(CFRunLoopGetCurrent())->Run(ModeText(inMode), inSeconds, inReturnAfterSourceHandled);
}

void CFRunLoopStop(CFRunLoopRef inLoop) {
  if (inLoop) AsLoop(inLoop)->Stop();
}

void CFRunLoopWakeUp(CFRunLoopRef inLoop) {
  if (inLoop) AsLoop(inLoop)->WakeUp();
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef inSource) {
  if (inSource == nullptr) return;
  AsSource(inSource)->Invalidate();
  std::lock_guard<std::mutex> guard(gLoopsLock);
  for (CRunLoop* loop : gLoops) loop->WakeUp();
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef inSource) {
  return inSource ? AsSource(inSource)->IsValid() : false;
}

CFRunLoopSourceRef CFRunLoopSourceCreateForDescriptor(int inDescriptor, std::function<void()> inPerform,
                                                      CFIndex inOrder, CFTypeRef inOwner) {
  if (inDescriptor < 0) return nullptr;
  OpaqueCFObject* source = new CRunLoopSource(inDescriptor, std::move(inPerform), inOrder, inOwner);
  return reinterpret_cast<CFRunLoopSourceRef>(source);
}
