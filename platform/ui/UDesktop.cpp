#include "platform/ui/UDesktop.h"

#include <algorithm>

#include <QWidget>

#include "platform/ui/UPaneHost.h"

namespace {
std::vector<LWindow*>& Windows() {
  static std::vector<LWindow*> sWindows;  // front to back within each layer
  return sWindows;
}
LWindow* sActive = nullptr;
bool sDesktopActive = true;

int LayerOf(const LWindow* inWindow) {
  if (inWindow->IsModal()) return 0;
  if (inWindow->IsFloating()) return 1;
  return 2;
}
}  // namespace

std::vector<LWindow*> UDesktop::GetWindows() {
  std::vector<LWindow*> all = Windows();
  std::stable_sort(all.begin(), all.end(), [](LWindow* a, LWindow* b) { return LayerOf(a) < LayerOf(b); });
  return all;
}

std::vector<LWindow*> UDesktop::GetWindowsOfClass(WindowClass inClass) {
  std::vector<LWindow*> out;
  for (LWindow* w : GetWindows())
    if (w->GetWindowClass() == inClass) out.push_back(w);
  return out;
}

static LWindow* TopOfLayer(int inLayer) {
  for (LWindow* w : Windows())
    if (LayerOf(w) == inLayer && w->GetVisibleState()) return w;
  return nullptr;
}

LWindow* UDesktop::FetchTopRegular() { return TopOfLayer(2); }
LWindow* UDesktop::FetchTopFloater() { return TopOfLayer(1); }
LWindow* UDesktop::FetchTopModal() { return TopOfLayer(0); }

LWindow* UDesktop::FetchActiveWindow() { return sActive; }

void UDesktop::AddWindow(LWindow* inWindow) {
  auto& list = Windows();
  if (std::find(list.begin(), list.end(), inWindow) == list.end()) list.push_back(inWindow);
}

void UDesktop::RemoveWindow(LWindow* inWindow) {
  auto& list = Windows();
  list.erase(std::remove(list.begin(), list.end(), inWindow), list.end());
  if (sActive == inWindow) sActive = nullptr;
}

void UDesktop::BringToFront(LWindow* inWindow) {
  auto& list = Windows();
  auto pos = std::find(list.begin(), list.end(), inWindow);
  if (pos == list.end()) return;
  list.erase(pos);
  list.insert(list.begin(), inWindow);
}

void UDesktop::SelectDeskWindow(LWindow* inWindow) {
  if (!inWindow) return;
  BringToFront(inWindow);
  UpdateActivation();
}

void UDesktop::UpdateActivation() {
  LWindow* want = nullptr;
  if (sDesktopActive) {
    want = FetchTopModal();
    if (!want) want = FetchTopRegular();
  }
  if (want == sActive) {
    // A new window of the same layer may have gone in front without a change here.
    return;
  }
  LWindow* old = sActive;
  sActive = want;
  if (old) old->Deactivate();
  if (want && sActive == want) want->Activate();
}

void UDesktop::Deactivate() {
  sDesktopActive = false;
  UpdateActivation();
}

void UDesktop::Activate() {
  sDesktopActive = true;
  UpdateActivation();
}

namespace {

// The visible windows that hang on a window: its sheets (child windows of
// its frame) and its drawers (panels inside its frame). They are not on the
// desktop's list; each is known by its content widget inside its own frame.
void AttachedWindows(LWindow* inWindow, std::vector<LWindow*>& outSheets, std::vector<LWindow*>& outDrawers) {
  QWidget* frame = inWindow->GetFrameWidget();
  for (QObject* child : frame->children()) {
    auto* childFrame = qobject_cast<QWidget*>(child);
    if (!childFrame || childFrame == inWindow->GetWidget() || !childFrame->isVisible()) continue;
    for (QObject* inner : childFrame->children()) {
      auto* w = dynamic_cast<LWindow*>(UPaneHost::FetchPane(qobject_cast<QWidget*>(inner)));
      if (!w || w == inWindow || !w->IsVisible() || w->GetFrameWidget() != childFrame) continue;
      (childFrame->isWindow() ? outSheets : outDrawers).push_back(w);
    }
  }
  // The last child is in front.
  std::reverse(outSheets.begin(), outSheets.end());
  std::reverse(outDrawers.begin(), outDrawers.end());
}

// The point in a window's port coordinates when its bounds hold it.
// Where the desktop really shows the window's content: a window manager's
// title bar and the window's own menu bar lie above the port.
bool Holds(LWindow* inWindow, Point inGlobal, Point& outPort) {
  QWidget* content = inWindow->GetWidget();
  if (!content || !content->isVisible()) return false;
  const QPoint local = content->mapFromGlobal(QPoint(inGlobal.h, inGlobal.v));
  if (!content->rect().contains(local)) return false;
  outPort = Point{static_cast<SInt16>(local.y()), static_cast<SInt16>(local.x())};
  return true;
}

// A sheet or drawer sits where the desktop shows it relative to its
// window: the point goes from the window's port into the widgets, and from
// there into the attached window's content.
bool HoldsBeside(LWindow* inAttached, LWindow* inWindow, Point inGlobal, Point& outPort) {
  (void)inWindow;
  QWidget* content = inAttached->GetWidget();
  if (!content->isVisible()) return false;
  const QPoint local = content->mapFromGlobal(QPoint(inGlobal.h, inGlobal.v));
  if (!content->rect().contains(local)) return false;
  outPort = Point{static_cast<SInt16>(local.y()), static_cast<SInt16>(local.x())};
  return true;
}

}  // namespace

LWindow* UDesktop::FindWindowAt(Point inGlobalPoint, Point& outPortPoint) {
  for (LWindow* window : GetWindows()) {
    if (!window->IsVisible()) continue;
    std::vector<LWindow*> sheets, drawers;
    AttachedWindows(window, sheets, drawers);
    // Sheets lie in front of the window's content; drawers beside it, and
    // behind it while they slide.
    for (LWindow* sheet : sheets)
      if (HoldsBeside(sheet, window, inGlobalPoint, outPortPoint)) return sheet;
    if (Holds(window, inGlobalPoint, outPortPoint)) return window;
    for (LWindow* drawer : drawers)
      if (HoldsBeside(drawer, window, inGlobalPoint, outPortPoint)) return drawer;
  }
  return nullptr;
}

LWindow* UDesktop::FetchHostWindow(LWindow* inWindow) {
  if (!inWindow) return nullptr;
  const std::vector<LWindow*>& listed = Windows();
  if (std::find(listed.begin(), listed.end(), inWindow) != listed.end()) return nullptr;
  QWidget* parent = inWindow->GetFrameWidget()->parentWidget();
  if (!parent) return nullptr;
  for (LWindow* w : listed)
    if (w->IsVisible() && w->GetFrameWidget() == parent) return w;
  return nullptr;
}
