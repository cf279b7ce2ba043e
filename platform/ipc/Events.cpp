#include "platform/ipc/Events.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/ipc/CFRunLoop.h"
#include "platform/ipc/ProcessWatch.h"

namespace {

struct SParam {
  EventParamName name;
  EventParamType type;
  std::vector<UInt8> bytes;
};

struct SEvent {
  UInt32 eventClass;
  UInt32 kind;
  std::vector<SParam> params;
};

struct SHandler {
  EventHandlerUPP proc;
  std::vector<EventTypeSpec> types;
  void* userData;
};

std::mutex gLock;
std::deque<SEvent> gPending;     // application events not yet dispatched
std::deque<EventRecord> gReady;  // events for WaitNextEvent to return
std::vector<std::unique_ptr<SHandler>> gHandlers;
std::vector<CFRunLoopRef> gLoopsWithQueueSource;
std::atomic<bool> gWakeUp{false};  // WakeUpProcess: the next or current sleep ends

// Posting wakes whichever loop is waiting in WaitNextEvent; the source also
// keeps that loop from ever being empty.
int QueueDescriptor() {
  static const int sFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return sFd;
}

void SignalQueue() {
  UInt64 one = 1;
  ssize_t n = write(QueueDescriptor(), &one, sizeof(one));
  (void)n;
}

void DrainQueueSignal() {
  UInt64 value;
  while (read(QueueDescriptor(), &value, sizeof(value)) > 0) {
  }
}

void AttachQueueSource(CFRunLoopRef inLoop) {
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (std::find(gLoopsWithQueueSource.begin(), gLoopsWithQueueSource.end(), inLoop) !=
        gLoopsWithQueueSource.end())
      return;
    gLoopsWithQueueSource.push_back(inLoop);
  }
  CFRunLoopSourceRef source = CFRunLoopSourceCreateForDescriptor(QueueDescriptor(), DrainQueueSignal, -1);
  CFRunLoopAddSource(inLoop, source, kCFRunLoopCommonModes);
  CFRelease(source);
}

SEvent* AsEvent(EventRef inEvent) { return reinterpret_cast<SEvent*>(inEvent); }

void Dispatch(SEvent& ioEvent) {
  struct SCall {
    EventHandlerUPP proc;
    void* userData;
  };
  std::vector<SCall> calls;
  {
    std::lock_guard<std::mutex> guard(gLock);
    // The most recently installed handler first.
    for (auto it = gHandlers.rbegin(); it != gHandlers.rend(); ++it)
      for (const EventTypeSpec& spec : (*it)->types)
        if (spec.eventClass == ioEvent.eventClass && spec.eventKind == ioEvent.kind) {
          calls.push_back({(*it)->proc, (*it)->userData});
          break;
        }
  }
  for (const SCall& call : calls)
    if (call.proc(nullptr, reinterpret_cast<EventRef>(&ioEvent), call.userData) != eventNotHandledErr) return;

  if (ioEvent.eventClass == kEventClassApplication && ioEvent.kind == kEventAppTerminated) {
    EventRecord died{};
    died.what = kHighLevelEvent;
    died.message = kCoreEventClass;
    died.where.v = static_cast<SInt16>(kAEApplicationDied >> 16);
    died.where.h = static_cast<SInt16>(kAEApplicationDied & 0xFFFF);
    std::lock_guard<std::mutex> guard(gLock);
    gReady.push_back(died);
  }
}

void DispatchPending() {
  for (;;) {
    SEvent event;
    {
      std::lock_guard<std::mutex> guard(gLock);
      if (gPending.empty()) return;
      event = std::move(gPending.front());
      gPending.pop_front();
    }
    Dispatch(event);
  }
}

bool TakeReady(EventMask inMask, EventRecord* outEvent) {
  std::lock_guard<std::mutex> guard(gLock);
  for (auto it = gReady.begin(); it != gReady.end(); ++it) {
    bool wanted = it->what == kHighLevelEvent ? (inMask & highLevelEventMask) != 0 : (inMask & (1u << it->what)) != 0;
    if (!wanted) continue;
    *outEvent = *it;
    outEvent->when = TickCount();
    gReady.erase(it);
    return true;
  }
  return false;
}

void NullEvent(EventRecord* outEvent) {
  *outEvent = EventRecord{};
  outEvent->what = nullEvent;
  outEvent->when = TickCount();
}

}  // namespace

OSType GetHighLevelEventID(const EventRecord& inEvent) {
  return (static_cast<UInt32>(static_cast<UInt16>(inEvent.where.v)) << 16) |
         static_cast<UInt16>(inEvent.where.h);
}

Boolean WaitNextEvent(EventMask inMask, EventRecord* outEvent, UInt32 inSleepTicks, const void*) {
  EventRecord scratch;
  if (outEvent == nullptr) outEvent = &scratch;
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  AttachQueueSource(loop);
  UProcessWatch::Attach(loop);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(static_cast<SInt64>(inSleepTicks) * 1000000 / 60);
  bool served = false;
  for (;;) {
    if (UProcessWatch::NeedsPolling()) UProcessWatch::Poll();
    DispatchPending();
    if (TakeReady(inMask, outEvent)) return true;
    if (gWakeUp.exchange(false)) break;
    if (UClock::IsManual()) {
      // A manual clock never waits: serve what is ready, then let the sleep pass on the clock.
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false);
      DispatchPending();
      if (TakeReady(inMask, outEvent)) return true;
      UClock::AdvanceTicks(inSleepTicks);
      break;
    }
    // The loop's sources are served at least once, even without a sleep.
    double remaining = std::chrono::duration<double>(deadline - Clock::now()).count();
    if (served && remaining <= 0) break;
    remaining = std::max(remaining, 0.0);
    if (UProcessWatch::NeedsPolling()) remaining = std::min(remaining, 0.25);
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, remaining, true);
    served = true;
  }
  NullEvent(outEvent);
  return false;
}

OSErr WakeUpProcess(const ProcessSerialNumber* inProcess) {
  if (inProcess == nullptr) return paramErr;
  const bool current = inProcess->highLongOfPSN == 0 && inProcess->lowLongOfPSN == kCurrentProcess;
  ProcessSerialNumber self{0, kCurrentProcess};
  Boolean same = current;
  if (!current && (SameProcess(inProcess, &self, &same) != noErr || !same)) return procNotFound;
  gWakeUp.store(true);
  SignalQueue();
  return noErr;
}

void PostQuitAppleEvent() {
  EventRecord quit{};
  quit.what = kHighLevelEvent;
  quit.message = kCoreEventClass;
  quit.where.v = static_cast<SInt16>(kAEQuitApplication >> 16);
  quit.where.h = static_cast<SInt16>(kAEQuitApplication & 0xFFFF);
  {
    std::lock_guard<std::mutex> guard(gLock);
    gReady.push_back(quit);
  }
  SignalQueue();
}

EventTargetRef GetApplicationEventTarget() {
  static int sApplicationTarget = 0;
  return reinterpret_cast<EventTargetRef>(&sApplicationTarget);
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef) {
  if (outRef) *outRef = nullptr;
  if (inTarget != GetApplicationEventTarget() || inHandler == nullptr || (inNumTypes > 0 && inList == nullptr))
    return paramErr;
  auto owned = std::make_unique<SHandler>(SHandler{inHandler, std::vector<EventTypeSpec>(inList, inList + inNumTypes), inUserData});
  SHandler* handler = owned.get();
  {
    std::lock_guard<std::mutex> guard(gLock);
    gHandlers.push_back(std::move(owned));
  }
  if (outRef) *outRef = reinterpret_cast<EventHandlerRef>(handler);
  return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef inRef) {
  SHandler* handler = reinterpret_cast<SHandler*>(inRef);
  std::lock_guard<std::mutex> guard(gLock);
  auto it = std::find_if(gHandlers.begin(), gHandlers.end(), [&](const auto& h) { return h.get() == handler; });
  if (it == gHandlers.end()) return paramErr;
  gHandlers.erase(it);
  return noErr;
}

UInt32 GetEventClass(EventRef inEvent) { return inEvent ? AsEvent(inEvent)->eventClass : 0; }
UInt32 GetEventKind(EventRef inEvent) { return inEvent ? AsEvent(inEvent)->kind : 0; }

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData) {
  if (inEvent == nullptr) return paramErr;
  for (const SParam& param : AsEvent(inEvent)->params) {
    if (param.name != inName) continue;
    if (inDesiredType != typeWildCard && inDesiredType != param.type) return eventParameterNotFoundErr;
    if (outActualType) *outActualType = param.type;
    if (outActualSize) *outActualSize = static_cast<ByteCount>(param.bytes.size());
    if (outData) {
      if (inBufferSize < param.bytes.size()) return paramErr;
      std::memcpy(outData, param.bytes.data(), param.bytes.size());
    }
    return noErr;
  }
  return eventParameterNotFoundErr;
}

void PostApplicationEvent(UInt32 inKind, const ProcessSerialNumber& inPSN, const UInt32* inLaunchRefCon) {
  SEvent event{kEventClassApplication, inKind, {}};
  const UInt8* psn = reinterpret_cast<const UInt8*>(&inPSN);
  event.params.push_back({kEventParamProcessID, typeProcessSerialNumber, std::vector<UInt8>(psn, psn + sizeof(inPSN))});
  if (inLaunchRefCon) {
    const UInt8* ref = reinterpret_cast<const UInt8*>(inLaunchRefCon);
    event.params.push_back({kEventParamLaunchRefCon, typeUInt32, std::vector<UInt8>(ref, ref + sizeof(UInt32))});
  }
  {
    std::lock_guard<std::mutex> guard(gLock);
    gPending.push_back(std::move(event));
  }
  SignalQueue();
}

void ResetApplicationEventsForTesting() {
  std::lock_guard<std::mutex> guard(gLock);
  gPending.clear();
  gReady.clear();
  gHandlers.clear();
}
