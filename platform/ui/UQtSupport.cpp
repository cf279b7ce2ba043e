#include "platform/ui/UQtSupport.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <cmath>
#include <cstring>

#include "platform/framework/LCommander.h"
#include "platform/framework/LThread.h"
#include "platform/framework/UEventLoop.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/tasks/Multiprocessing.h"
#include "platform/ui/LMenu.h"

namespace {

QtMessageHandler sPreviousHandler = nullptr;

// The offscreen platform's three complaints about what it cannot do are
// expected in tests; everything else goes through.
void FilterMessages(QtMsgType inType, const QMessageLogContext& inContext, const QString& inMessage) {
  static const char* const kExpected[] = {
      "This plugin does not support propagateSizeHints()",
      "This plugin does not support raise()",
      "This plugin does not support grabbing the keyboard",
  };
  for (const char* text : kExpected)
    if (inMessage.contains(QLatin1String(text))) return;
  if (sPreviousHandler) sPreviousHandler(inType, inContext, inMessage);
}

// Drives Qt from our loop: pending events every pass, and the loop's sleep
// as a wait for Qt events bounded by a precise timer.
class UQtEventSource : public UEventSource {
 public:
  UQtEventSource() {
    mDispatcher.store(QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread()));
    mTimer = new QTimer(QCoreApplication::instance());
    mTimer->setSingleShot(true);
    mTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(mTimer, &QTimer::timeout, mTimer, [] {});
  }

  void ProcessPending() override {
    UQt::OnMain([] {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (UEventLoop::GetPassDepth() <= 1) {
        // Widgets of deleted panes go once no pass runs inside another.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A commander asked for fresh menu status (the target changed, a mode changed).
        if (LCommander::GetUpdateCommandStatus())
          if (LMenuBar* bar = LMenuBar::GetCurrentMenuBar()) bar->UpdateCommandStatus();
      }
    });
  }

  void WaitAndProcess(SInt64 inMicros) override {
    UQt::OnMain([this, inMicros] {
      int ms = static_cast<int>(std::min<SInt64>((inMicros + 999) / 1000, 1000));
      mTimer->start(std::max(ms, 1));
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      mTimer->stop();
    });
  }

  void WakeUp() override {
    if (QAbstractEventDispatcher* d = mDispatcher.load()) d->wakeUp();
  }

 private:
  std::atomic<QAbstractEventDispatcher*> mDispatcher{nullptr};
  QTimer* mTimer = nullptr;
};

// Key presses ask the menus for fresh status before the shortcut map acts.
class UShortcutStatusFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::ShortcutOverride) {
      if (LMenuBar* bar = LMenuBar::GetCurrentMenuBar()) bar->UpdateCommandStatus();
    }
    return QObject::eventFilter(inObject, inEvent);
  }
};

int sArgc = 1;
char sArg0[] = "Tremblorix";
char* sArgv[] = {sArg0, nullptr};

}  // namespace

namespace UQt {

void EnsureApplication() {
  if (QCoreApplication::instance()) {
    if (!UEventLoop::GetEventSource()) UEventLoop::SetEventSource(new UQtEventSource);
    return;
  }
  sPreviousHandler = qInstallMessageHandler(FilterMessages);
  // Lives for the rest of the process: widgets may outlast any one owner.
  auto* app = new QApplication(sArgc, sArgv);
  app->setQuitOnLastWindowClosed(false);
  app->installEventFilter(new UShortcutStatusFilter(app));
  UEventLoop::SetEventSource(new UQtEventSource);
}

bool HasApplication() { return QCoreApplication::instance() != nullptr; }

void OnMain(const std::function<void()>& inWork) {
  // Qt only on the main thread; other threads that are not cooperative
  // threads have no business here and are ignored.
  LThread::RunOnMainThread(inWork);
}

namespace {
// The rows of one conversion, handed out in runs from a shared counter. The
// calling thread works through them too; pool tasks only help. A helper
// that starts after the caller has closed the work (the pool was busy with
// analysis and the caller did every row itself) leaves at once without
// touching the rows: the caller waits only for helpers that took rows, never
// for tasks still queued behind other work. The state outlives the call in
// the hands of such late helpers.
struct BandShared {
  std::function<void(SInt32, SInt32)> fn;
  SInt32 rows = 0;
  SInt32 runRows = 1;
  std::atomic<SInt32> next{0};
  std::mutex lock;
  std::condition_variable idle;
  SInt32 active = 0;
  bool closed = false;

  void Work() {
    for (;;) {
      SInt32 begin = next.fetch_add(runRows);
      if (begin >= rows) return;
      fn(begin, std::min(rows, begin + runRows));
    }
  }
  void Help() {
    {
      std::lock_guard<std::mutex> g(lock);
      if (closed) return;
      ++active;
    }
    Work();
    std::lock_guard<std::mutex> g(lock);
    if (--active == 0) idle.notify_all();
  }
  // Stops helpers from joining and waits for those at work.
  void Close() {
    std::unique_lock<std::mutex> g(lock);
    closed = true;
    idle.wait(g, [&] { return active == 0; });
  }
};

OSStatus BandEntry(void* p) {
  auto* shared = static_cast<std::shared_ptr<BandShared>*>(p);
  (*shared)->Help();
  delete shared;
  return noErr;
}

void ForEachBand(SInt32 inRows, const std::function<void(SInt32, SInt32)>& inFn) {
  SInt32 bands = static_cast<SInt32>(std::max<ItemCount>(1, MPProcessors()));
  bands = std::min<SInt32>(bands, std::max<SInt32>(1, inRows / 32));
  if (bands <= 1) {
    inFn(0, inRows);
    return;
  }
  auto shared = std::make_shared<BandShared>();
  shared->fn = inFn;
  shared->rows = inRows;
  shared->runRows = std::max<SInt32>(8, (inRows + 4 * bands - 1) / (4 * bands));
  for (SInt32 i = 1; i < bands; ++i) {
    auto* ref = new std::shared_ptr<BandShared>(shared);
    MPTaskID task = nullptr;
    if (MPCreateTask(BandEntry, ref, 0, nullptr, nullptr, nullptr, 0, &task) != noErr) delete ref;
  }
  shared->Work();
  shared->Close();
}
}  // namespace

void ConvertPortToImage(GrafPort* inPort, QImage& ioImage, SInt32 inLeft, SInt32 inTop, SInt32 inRight, SInt32 inBottom) {
  PixMapHandle pm = GetGWorldPixMap(inPort);
  const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
  SInt32 rowBytes = GetPixRowBytes(pm);
  Rect bounds;
  GetPortBounds(inPort, &bounds);
  inRight = std::min<SInt32>(inRight, bounds.right - bounds.left);
  inBottom = std::min<SInt32>(inBottom, bounds.bottom - bounds.top);
  if (!base || inRight <= inLeft || inBottom <= inTop) return;
  uchar* dstBase = ioImage.bits();
  qsizetype dstStride = ioImage.bytesPerLine();
  SInt32 width = inRight - inLeft;
  ForEachBand(inBottom - inTop, [&](SInt32 inBegin, SInt32 inEnd) {
    for (SInt32 y = inTop + inBegin; y < inTop + inEnd; ++y) {
      const UInt8* src = base + static_cast<size_t>(y) * static_cast<size_t>(rowBytes) + 4 * static_cast<size_t>(inLeft);
      UInt32* dst = reinterpret_cast<UInt32*>(dstBase + y * dstStride) + inLeft;
      // Bytes A,R,G,B to the host-order word 0xAARRGGBB, opaque.
      for (SInt32 x = 0; x < width; ++x) {
        UInt32 v;
        std::memcpy(&v, src + 4 * x, 4);
        dst[x] = __builtin_bswap32(v) | 0xFF000000u;
      }
    }
  });
}

}  // namespace UQt
