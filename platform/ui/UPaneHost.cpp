#include "platform/ui/UPaneHost.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleHints>
#include <QVariant>
#include <cstdlib>

#include "platform/base/Clock.h"
#include "platform/framework/LCommander.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"

namespace {
const char kPaneProperty[] = "trxPane";

// Click counting: presses close in time and place count up.
struct ClickState {
  SInt64 lastMicros = -1000000000;
  QPoint lastGlobal;
  SInt16 count = 0;
} sClicks;

Point PortPoint(LPane* inPane, QWidget* inWidget, const QPointF& inLocal) {
  Point p = {0, 0};
  LWindow* window = inPane ? inPane->GetWindow() : nullptr;
  if (!window || !window->PeekWidget()) return p;
  QPoint inContent = inWidget->mapTo(window->PeekWidget()->window(), inLocal.toPoint());
  QPoint contentOrigin = window->PeekWidget()->mapTo(window->PeekWidget()->window(), QPoint(0, 0));
  p.h = static_cast<SInt16>(inContent.x() - contentOrigin.x());
  p.v = static_cast<SInt16>(inContent.y() - contentOrigin.y());
  return p;
}
}  // namespace

UPaneHost::UPaneHost(LPane* inPane, QWidget* inParent) : QWidget(inParent), mPane(inPane) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

UPaneHost::~UPaneHost() = default;

LPane* UPaneHost::FetchPane(const QWidget* inWidget) {
  if (!inWidget) return nullptr;
  QVariant v = inWidget->property(kPaneProperty);
  return v.isValid() ? reinterpret_cast<LPane*>(v.value<quintptr>()) : nullptr;
}

void UPaneHost::MarkWidget(QWidget* inWidget, LPane* inPane) {
  if (!inWidget) return;
  if (inPane)
    inWidget->setProperty(kPaneProperty, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(inPane)));
  else
    inWidget->setProperty(kPaneProperty, QVariant());
}

UInt16 UPaneHost::ModifiersOf(Qt::KeyboardModifiers inMods) {
  UInt16 m = 0;
  if (inMods & Qt::ControlModifier) m |= cmdKey;
  if (inMods & Qt::ShiftModifier) m |= shiftKey;
  if (inMods & Qt::AltModifier) m |= optionKey;
  if (inMods & Qt::MetaModifier) m |= controlKey;
  return m;
}

void UPaneHost::paintEvent(QPaintEvent* inEvent) {
  if (!mPane) return;
  LWindow* window = mPane->GetWindow();
  if (!window) return;
  if (mPane->NeedsDraw()) {
    mPane->LPane::Draw(nullptr);
    // A view drew over its sub-panes' places in the port: they draw again
    // when they paint next (Qt paints them after their view).
    if (auto* view = dynamic_cast<LView*>(mPane)) {
      std::vector<LPane*> stack(view->GetSubPanes().begin(), view->GetSubPanes().end());
      while (!stack.empty()) {
        LPane* p = stack.back();
        stack.pop_back();
        p->mNeedsDraw = true;
        if (auto* v = dynamic_cast<LView*>(p)) stack.insert(stack.end(), v->GetSubPanes().begin(), v->GetSubPanes().end());
      }
    }
  }
  Rect frame;
  mPane->CalcPortFrameRect(frame);
  QRect r = inEvent->rect();
  Rect portRect = {static_cast<SInt16>(frame.top + r.top()), static_cast<SInt16>(frame.left + r.left()),
                   static_cast<SInt16>(frame.top + r.top() + r.height()), static_cast<SInt16>(frame.left + r.left() + r.width())};
  QImage* image = window->GetPortImage(portRect);
  if (!image) return;
  QPainter painter(this);
  painter.drawImage(r.topLeft(), *image, QRect(portRect.left, portRect.top, r.width(), r.height()));
}

void UPaneHost::DeliverMouseDown(LPane* inPane, QWidget* inWidget, QMouseEvent* inEvent) {
  LWindow* window = inPane ? inPane->GetWindow() : nullptr;
  if (!window) return;
  SInt64 now = UClock::NowMicroseconds();
  QPoint global = inEvent->globalPosition().toPoint();
  int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
  if (now - sClicks.lastMicros <= static_cast<SInt64>(interval) * 1000 &&
      std::abs(global.x() - sClicks.lastGlobal.x()) <= 4 && std::abs(global.y() - sClicks.lastGlobal.y()) <= 4)
    ++sClicks.count;
  else
    sClicks.count = 1;
  sClicks.lastMicros = now;
  sClicks.lastGlobal = global;
  EventRecord event;
  event.what = mouseDown;
  event.when = TickCount();
  event.where = PortPoint(inPane, inWidget, inEvent->position());
  event.modifiers = ModifiersOf(inEvent->modifiers());
  window->HandleClick(event, sClicks.count);
}

void UPaneHost::DeliverMouseMove(QWidget* inWidget, QMouseEvent* inEvent) {
  LPane* pane = FetchPane(inWidget);
  LWindow* window = pane ? pane->GetWindow() : nullptr;
  if (!window) return;
  EventRecord event;
  event.when = TickCount();
  event.where = PortPoint(pane, inWidget, inEvent->position());
  event.modifiers = ModifiersOf(inEvent->modifiers());
  if (!(inEvent->buttons() & Qt::LeftButton)) event.modifiers |= btnState;
  window->AdjustCursor(event.where, event);
}

bool UPaneHost::DeliverKey(QKeyEvent* inEvent, bool inDown) {
  LCommander* target = LCommander::GetTarget();
  if (!target) return false;
  UInt32 charCode = 0, keyCode = 0;
  switch (inEvent->key()) {
    case Qt::Key_Return: charCode = 13; keyCode = 0x24; break;
    case Qt::Key_Enter: charCode = 3; keyCode = 0x4C; break;
    case Qt::Key_Escape: charCode = 27; keyCode = 0x35; break;
    case Qt::Key_Tab: charCode = 9; keyCode = 0x30; break;
    case Qt::Key_Backspace: charCode = 8; keyCode = 0x33; break;
    case Qt::Key_Delete: charCode = 127; keyCode = 0x75; break;
    case Qt::Key_Left: charCode = 28; keyCode = 0x7B; break;
    case Qt::Key_Right: charCode = 29; keyCode = 0x7C; break;
    case Qt::Key_Up: charCode = 30; keyCode = 0x7E; break;
    case Qt::Key_Down: charCode = 31; keyCode = 0x7D; break;
    case Qt::Key_Home: charCode = 1; keyCode = 0x73; break;
    case Qt::Key_End: charCode = 4; keyCode = 0x77; break;
    case Qt::Key_PageUp: charCode = 11; keyCode = 0x74; break;
    case Qt::Key_PageDown: charCode = 12; keyCode = 0x79; break;
    default: {
      QString text = inEvent->text();
      if (!text.isEmpty() && text.at(0).unicode() < 256) charCode = text.at(0).unicode();
      else if (inEvent->key() >= Qt::Key_Space && inEvent->key() <= Qt::Key_AsciiTilde) charCode = static_cast<UInt32>(inEvent->key());
      else return false;
    }
  }
  EventRecord event;
  event.what = inDown ? (inEvent->isAutoRepeat() ? autoKey : keyDown) : keyUp;
  event.message = (keyCode << 8) | charCode;
  event.when = TickCount();
  event.modifiers = ModifiersOf(inEvent->modifiers());
  return target->ProcessKeyPress(event);
}

void UPaneHost::mousePressEvent(QMouseEvent* inEvent) {
  if (!mPane || inEvent->button() != Qt::LeftButton) return QWidget::mousePressEvent(inEvent);
  DeliverMouseDown(mPane, this, inEvent);
}

void UPaneHost::mouseDoubleClickEvent(QMouseEvent* inEvent) {
  // Counted by the presses themselves.
  mousePressEvent(inEvent);
}

void UPaneHost::mouseMoveEvent(QMouseEvent* inEvent) {
  QPointer<UPaneHost> self(this);
  DeliverMouseMove(this, inEvent);
  if (!self || !mPane) return;
  if (auto* control = dynamic_cast<LControl*>(LPane::sLastPaneClicked))
    if (control->IsTracking()) control->ContinueTracking(PortPoint(control, this, inEvent->position()));
}

void UPaneHost::mouseReleaseEvent(QMouseEvent* inEvent) {
  if (auto* control = dynamic_cast<LControl*>(LPane::sLastPaneClicked))
    if (control->IsTracking()) control->EndTracking(PortPoint(control, this, inEvent->position()));
}

void UPaneHost::keyPressEvent(QKeyEvent* inEvent) {
  QPointer<UPaneHost> self(this);
  if (DeliverKey(inEvent, true)) return;
  if (self) QWidget::keyPressEvent(inEvent);
}
