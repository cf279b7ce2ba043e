// The export client's window: the export-tasks window of layout 1100, shown
// by every export and toggled by command 6300; closing it only hides it.
#include <algorithm>

#include "app/CExportMovie.h"
#include "app/CExportTasksPane.h"
#include "platform/base/LException.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UReanimator.h"

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

}  // namespace

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
}

void CExportMovie::ShowWindow() {
  if (mWindow == nullptr) return;
  mWindow->Show();
}

Boolean CExportMovie::IsWindowVisible() {
  return sExporter != nullptr && sExporter->mWindow != nullptr && sExporter->mWindow->IsVisible();
}

Boolean CExportMovie::ObeyCommand(CommandT inCommand) {
  if (inCommand != kCmdExportTasksWindow || sExporter == nullptr || sExporter->mWindow == nullptr) return false;
  if (sExporter->mWindow->IsVisible())
    sExporter->mWindow->Hide();
  else
    sExporter->mWindow->Show();
  return true;
}

Boolean CExportMovie::FindCommandStatus(CommandT inCommand, Boolean& outEnabled, Boolean& outUsesMark,
                                        UInt16& outMark) {
  if (inCommand != kCmdExportTasksWindow) return false;
  outEnabled = sExporter != nullptr && sExporter->mWindow != nullptr;
  outUsesMark = true;
  outMark = outEnabled && sExporter->mWindow->IsVisible() ? 0x12 : 0;  // check mark
  return true;
}
