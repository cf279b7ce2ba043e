#include "platform/ui/UMouseTracking.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QStyleHints>

#include "platform/ui/LWindow.h"
#include "platform/ui/UPaneHost.h"

namespace {

LDragTracker* sCurrent = nullptr;

class UTrackingHost : public UPaneHost {
 public:
  UTrackingHost(LPane* inPane, LDragTracker* inTracker, QWidget* inParent)
      : UPaneHost(inPane, inParent), mTracker(inTracker) {}

 protected:
  Point PortPointOf(QMouseEvent* inEvent) {
    Point p = {0, 0};
    LWindow* window = mPane ? mPane->GetWindow() : nullptr;
    if (!window || !window->PeekWidget()) return p;
    QPoint inContent = mapTo(window->PeekWidget()->window(), inEvent->position().toPoint());
    QPoint origin = window->PeekWidget()->mapTo(window->PeekWidget()->window(), QPoint(0, 0));
    p.h = static_cast<SInt16>(inContent.x() - origin.x());
    p.v = static_cast<SInt16>(inContent.y() - origin.y());
    return p;
  }
  void mouseMoveEvent(QMouseEvent* inEvent) override {
    if (mPane && sCurrent == mTracker && (inEvent->buttons() & Qt::LeftButton)) {
      mTracker->MouseTracked(PortPointOf(inEvent), ModifiersOf(inEvent->modifiers()));
      return;
    }
    UPaneHost::mouseMoveEvent(inEvent);
  }
  void mouseReleaseEvent(QMouseEvent* inEvent) override {
    if (mPane && sCurrent == mTracker && inEvent->button() == Qt::LeftButton) {
      sCurrent = nullptr;
      mTracker->MouseReleased(PortPointOf(inEvent), ModifiersOf(inEvent->modifiers()));
      return;
    }
    UPaneHost::mouseReleaseEvent(inEvent);
  }

 private:
  LDragTracker* mTracker;
};

}  // namespace

LDragTracker::~LDragTracker() {
  if (sCurrent == this) sCurrent = nullptr;
}

QWidget* UMouseTracking::MakeHostWidget(LPane* inPane, LDragTracker* inTracker, QWidget* inParent) {
  auto* host = new UTrackingHost(inPane, inTracker, inParent);
  UPaneHost::MarkWidget(host, inPane);
  return host;
}

void UMouseTracking::Begin(LDragTracker* inTracker) { sCurrent = inTracker; }

void UMouseTracking::End(LDragTracker* inTracker) {
  if (sCurrent == inTracker) sCurrent = nullptr;
}

LDragTracker* UMouseTracking::GetCurrent() { return sCurrent; }

UInt32 UMouseTracking::GetDblTime() {
  int millis = 500;
  if (QGuiApplication::instance()) millis = QGuiApplication::styleHints()->mouseDoubleClickInterval();
  if (millis <= 0) millis = 500;
  return static_cast<UInt32>((millis * 60 + 999) / 1000);
}

Boolean UMouseTracking::IsWindowCollapsed(LWindow* inWindow) {
  if (!inWindow) return false;
  QWidget* frame = inWindow->PeekWidget() ? inWindow->PeekWidget()->window() : nullptr;
  return frame && frame->isMinimized();
}
