#include "platform/ui/UQtSupport.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/framework/LCommander.h"
#include "platform/framework/LThread.h"
#include "platform/framework/UEventLoop.h"
#include "platform/graphics/QuickDraw.h"
#include "platform/tasks/MPBands.h"
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
  // The rows run on the pool. The calling thread works through them too and
  // returns once every row is done, without waiting for pool tasks still
  // queued behind other work (analysis may hold every worker): then it
  // converts the rows itself.
  MPBandOptions options;
  options.minRunItems = 32;
  (void)MPRunBands(static_cast<size_t>(inBottom - inTop), options, [&](SInt32, size_t inBegin, size_t inEnd) -> OSStatus {
    for (SInt32 y = inTop + static_cast<SInt32>(inBegin); y < inTop + static_cast<SInt32>(inEnd); ++y) {
      const UInt8* src = base + static_cast<size_t>(y) * static_cast<size_t>(rowBytes) + 4 * static_cast<size_t>(inLeft);
      UInt32* dst = reinterpret_cast<UInt32*>(dstBase + y * dstStride) + inLeft;
      // Bytes A,R,G,B to the host-order word 0xAARRGGBB, opaque.
      for (SInt32 x = 0; x < width; ++x) {
        UInt32 v;
        std::memcpy(&v, src + 4 * x, 4);
        dst[x] = __builtin_bswap32(v) | 0xFF000000u;
      }
    }
    return noErr;
  });
}

}  // namespace UQt
