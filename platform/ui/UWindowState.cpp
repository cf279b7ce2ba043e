#include "platform/ui/UWindowState.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "platform/ui/LWindow.h"
#include "platform/ui/UQtSupport.h"

namespace {
QWidget* FrameOf(const LWindow* inWindow) {
  // Only a window that has its widget already can be minimised.
  return inWindow->PeekWidget() ? const_cast<LWindow*>(inWindow)->GetFrameWidget() : nullptr;
}
}  // namespace

Boolean UWindowState::IsCollapsable(const LWindow* inWindow) {
  return inWindow && inWindow->GetWindowClass() == kDocumentWindowClass;
}

Boolean UWindowState::IsCollapsed(const LWindow* inWindow) {
  QWidget* frame = inWindow ? FrameOf(inWindow) : nullptr;
  if (!frame) return false;
  Boolean collapsed = false;
  UQt::OnMain([&] { collapsed = (frame->windowState() & Qt::WindowMinimized) != 0; });
  return collapsed;
}

void UWindowState::SetCollapsed(LWindow* inWindow, Boolean inCollapsed) {
  if (!IsCollapsable(inWindow)) return;
  inWindow->GetWidget();
  QWidget* frame = FrameOf(inWindow);
  if (!frame) return;
  UQt::OnMain([&] {
    Qt::WindowStates state = frame->windowState();
    frame->setWindowState(inCollapsed ? (state | Qt::WindowMinimized) : (state & ~Qt::WindowMinimized));
  });
}

void UWindowState::BringForward(LWindow* inWindow) {
  if (!inWindow) return;
  if (IsCollapsed(inWindow)) SetCollapsed(inWindow, false);
  QWidget* frame = FrameOf(inWindow);
  if (!frame) return;
  UQt::OnMain([&] {
    if (!frame->isVisible()) return;
    frame->raise();
    frame->activateWindow();
  });
}

namespace {

Rect RectOf(const QRect& inRect) {
  return Rect{static_cast<SInt16>(inRect.top()), static_cast<SInt16>(inRect.left()),
              static_cast<SInt16>(inRect.top() + inRect.height()), static_cast<SInt16>(inRect.left() + inRect.width())};
}

UWindowState::DecorationSource& Source() {
  static UWindowState::DecorationSource sSource;
  return sSource;
}

// The decoration the window manager last gave a shown window: a window not
// shown yet will most likely get the same.
QMargins& LastDecoration() {
  static QMargins sLast;
  return sLast;
}

// The window manager's decoration around a shown top-level widget; zero on
// desktops without one (offscreen, bare X servers). Main thread.
QMargins DecorationOf(const QWidget* inFrame) {
  if (!inFrame || !inFrame->isWindow() || !inFrame->isVisible()) return QMargins();
  QMargins decoration;
  if (Source()) {
    const Rect r = Source()(inFrame);
    decoration = QMargins(r.left, r.top, r.right, r.bottom);
  } else {
    const QRect outer = inFrame->frameGeometry(), inner = inFrame->geometry();
    decoration = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                          outer.bottom() - inner.bottom());
  }
  if (!decoration.isNull() && !inFrame->windowFlags().testFlag(Qt::Popup) &&
      !inFrame->windowFlags().testFlag(Qt::ToolTip))
    LastDecoration() = decoration;
  return decoration;
}

}  // namespace

Rect UWindowState::GetAvailableScreenArea(const LWindow* inWindow) {
  QRect area;
  const Rect bounds = inWindow ? inWindow->GetGlobalBounds() : Rect{0, 0, 0, 0};
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QScreen* screen = inWindow ? QGuiApplication::screenAt(QPoint(bounds.left, bounds.top)) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) area = screen->availableGeometry();
  });
  if (area.isEmpty()) return Rect{0, 0, 0, 0};
  return RectOf(area);
}

Rect UWindowState::GetDecoration(const QWidget* inFrame) {
  QMargins decoration;
  UQt::OnMain([&] { decoration = DecorationOf(inFrame); });
  return Rect{static_cast<SInt16>(decoration.top()), static_cast<SInt16>(decoration.left()),
              static_cast<SInt16>(decoration.bottom()), static_cast<SInt16>(decoration.right())};
}

void UWindowState::SetDecorationSource(DecorationSource inSource) {
  UQt::OnMain([&] {
    Source() = std::move(inSource);
    LastDecoration() = QMargins();
  });
}

Rect UWindowState::GetFrameMargins(const LWindow* inWindow) {
  Rect margins = {0, 0, 0, 0};
  if (!inWindow) return margins;
  // The frame measured is the window's own: its menu bar comes with its
  // widgets, which a window about to be sized for the first time may not
  // have made yet.
  QWidget* frame = const_cast<LWindow*>(inWindow)->GetFrameWidget();
  QMargins decoration;
  UQt::OnMain([&] {
    if (frame && frame->isVisible()) {
      decoration = DecorationOf(frame);
      return;
    }
    // Not shown yet: the window manager decorates it as it does the others.
    for (QWidget* other : QApplication::topLevelWidgets())
      if (other != frame && other->isVisible() && !other->windowFlags().testFlag(Qt::Popup) &&
          !other->windowFlags().testFlag(Qt::ToolTip)) {
        decoration = DecorationOf(other);
        if (!decoration.isNull()) return;
      }
    decoration = LastDecoration();
  });
  const int bar = inWindow->GetQtMenuBar() ? inWindow->GetQtMenuBar()->sizeHint().height() : 0;
  margins.top = static_cast<SInt16>(decoration.top() + bar);
  margins.left = static_cast<SInt16>(decoration.left() + inWindow->GetFrameInsetLeft());
  margins.bottom = static_cast<SInt16>(decoration.bottom() + inWindow->GetFrameInsetBottom());
  margins.right = static_cast<SInt16>(decoration.right() + inWindow->GetFrameInsetRight());
  return margins;
}

void UWindowState::KeepOnScreen(LWindow* inWindow) {
  if (!inWindow) return;
  const Rect area = GetAvailableScreenArea(inWindow);
  if (area.right <= area.left || area.bottom <= area.top) return;
  const Rect margins = GetFrameMargins(inWindow);
  SDimension16 size;
  inWindow->GetFrameSize(size);
  // The frame's top-left corner is where the window was moved to.
  const Rect content = inWindow->GetGlobalBounds();
  const SInt32 frameLeft = content.left - inWindow->GetFrameInsetLeft();
  const SInt32 frameTop = content.top;
  const SInt32 width = size.width + margins.left + margins.right;
  const SInt32 height = size.height + margins.top + margins.bottom;
  const SInt32 left = std::clamp<SInt32>(frameLeft, area.left, std::max<SInt32>(area.left, area.right - width));
  const SInt32 top = std::clamp<SInt32>(frameTop, area.top, std::max<SInt32>(area.top, area.bottom - height));
  if (left != frameLeft || top != frameTop) inWindow->MoveWindowTo(static_cast<SInt16>(left), static_cast<SInt16>(top));
}
