#include "platform/ui/UDesktop.h"

#include <algorithm>

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
