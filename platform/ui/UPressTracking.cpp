#include "platform/ui/UPressTracking.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

#include "platform/ui/LPane.h"

namespace {

class PressFilter : public QObject {
 public:
  PressFilter(QWidget* inWidget, LPane* inPane, UPressTracking::Handler inPress, UPressTracking::Handler inMove,
              UPressTracking::Handler inRelease)
      : QObject(inWidget), mPane(inPane), mPress(std::move(inPress)), mMove(std::move(inMove)), mRelease(std::move(inRelease)) {}

  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    auto type = inEvent->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
      return QObject::eventFilter(inObject, inEvent);
    auto* mouse = static_cast<QMouseEvent*>(inEvent);
    Rect frame;
    mPane->CalcPortFrameRect(frame);
    QPoint at = mouse->position().toPoint();
    Point port = {static_cast<SInt16>(frame.top + at.y()), static_cast<SInt16>(frame.left + at.x())};
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
      mHeld = true;
      if (mPress) mPress(port);
    } else if (type == QEvent::MouseMove && mHeld) {
      if (mMove) mMove(port);
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton && mHeld) {
      mHeld = false;
      if (mRelease) mRelease(port);
    }
    return QObject::eventFilter(inObject, inEvent);
  }

 private:
  LPane* mPane;
  UPressTracking::Handler mPress, mMove, mRelease;
  bool mHeld = false;
};

}  // namespace

void UPressTracking::Install(QWidget* inWidget, LPane* inPane, Handler inPress, Handler inMove, Handler inRelease) {
  if (!inWidget || !inPane) return;
  inWidget->installEventFilter(new PressFilter(inWidget, inPane, std::move(inPress), std::move(inMove), std::move(inRelease)));
}
