// The export client's window: the export-tasks window of layout 1100, shown
// by every export and toggled by cmd_ExportTasksWindow; closing it only hides it.
#include <algorithm>

#include "app/CExportMovie.h"
#include "app/CExportTasksPane.h"
#include "platform/base/LException.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UWindowState.h"

namespace {

// Keeps the export-tasks window: closing it only hides it and the tasks go on.
class CExportWindowKeeper : public LCommander {
 public:
  explicit CExportWindowKeeper(LCommander* inSuper) : LCommander(inSuper) {}
  Boolean AllowSubRemoval(LCommander* inSub) override {
    if (LWindow* window = dynamic_cast<LWindow*>(inSub)) {
      window->Hide();
      return false;
    }
    return true;
  }
};

// How far inside the right edge of the screen's free area the window's frame ends.
constexpr SInt32 kRightEdgeInset = 4;

}  // namespace

void CExportMovie::PlaceWindow() {
  // The main screen's free area: the window beside the movie windows, which
  // open at its top left, instead of over them.
  const Rect area = UWindowState::GetAvailableScreenArea(nullptr);
  if (area.right <= area.left || area.bottom <= area.top) return;
  const Rect margins = UWindowState::GetFrameMargins(mWindow);
  SDimension16 size;
  mWindow->GetFrameSize(size);
  const SInt32 width = size.width + margins.left + margins.right;
  const SInt32 left = std::max<SInt32>(area.left, area.right - kRightEdgeInset - width);
  mWindow->MoveWindowTo(static_cast<SInt16>(left), mWindow->GetGlobalBounds().top);
  UWindowState::KeepOnScreen(mWindow);
  mPlacedBounds = mWindow->GetGlobalBounds();
}

void CExportMovie::MakeWindow() {
  mWindowKeeper = new CExportWindowKeeper(LCommander::GetTopCommander());
  mWindow = UReanimator::CreateWindow(PPob_ExportTasks, mWindowKeeper);
  ThrowIfNil_(mWindow);
  mTaskList = dynamic_cast<CExportTasksPane*>(mWindow->FindPaneByIDOrNil(kExportTaskListPane));
  mRemoveButton = mWindow->FindPaneByIDOrNil(kExportRemoveButton);
  mRunningPane = mWindow->FindPaneByIDOrNil(kExportRunningPane);
  ThrowIfNil_(mTaskList);
  ThrowIfNil_(mRemoveButton);
  ThrowIfNil_(mRunningPane);
  mTaskList->AddListener(this);
  mRemoveButton->Disable();
  mRunningPane->Hide();
  UReanimator::LinkListenerToBroadcasters(this, mWindow, PPob_ExportTasks);
  PlaceWindow();
}

void CExportMovie::ShowWindow() {
  if (mWindow == nullptr) return;
  const Rect now = mWindow->GetGlobalBounds();
  const bool placed = !mWindowShown && now.left == mPlacedBounds.left && now.top == mPlacedBounds.top;
  mWindowShown = true;
  mWindow->Show();
  // Shown, the window manager's frame around it is known: the place is
  // made again with it when nothing moved the window since it was made,
  // else the whole frame is kept on the screen.
  if (placed)
    PlaceWindow();
  else
    UWindowState::KeepOnScreen(mWindow);
}

Boolean CExportMovie::IsWindowVisible() {
  return sExporter != nullptr && sExporter->mWindow != nullptr && sExporter->mWindow->IsVisible();
}

Boolean CExportMovie::ObeyCommand(CommandT inCommand) {
  if (inCommand != cmd_ExportTasksWindow || sExporter == nullptr || sExporter->mWindow == nullptr) return false;
  if (sExporter->mWindow->IsVisible())
    sExporter->mWindow->Hide();
  else
    sExporter->ShowWindow();
  return true;
}

Boolean CExportMovie::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                        UInt16& outMark) {
  if (inCommand != cmd_ExportTasksWindow) return false;
  outEnabled = sExporter != nullptr && sExporter->mWindow != nullptr;
  outUsesMark = true;
  outMark = outEnabled && sExporter->mWindow->IsVisible() ? 0x12 : 0;  // check mark
  return true;
}
