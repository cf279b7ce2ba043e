#include "platform/ui/UWindowState.h"

#include <QWidget>

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
