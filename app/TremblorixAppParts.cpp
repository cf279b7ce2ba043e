#include "app/TremblorixAppParts.h"

#include "app/CExportMovie.h"
#include "app/CExportTasksPane.h"
#include "app/CMovieView.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/framework/LAttachable.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/URegistrar.h"
#include "toolkit/LClickAttachment.h"
#include "toolkit/LClickText.h"
#include "toolkit/LGotoButton.h"
#include "toolkit/LHelpButton.h"
#include "toolkit/LStepButton.h"
#include "toolkit/UHelp.h"
#include "toolkit/UNavigation.h"

namespace AppParts {

// The movie panes register together: 'MovV', 'CtVw', 'TSld', 'BrPn', 'ClPc'.
void RegisterMovieViewClasses() { RegisterMoviePaneClasses(); }
void RegisterBrowserClasses() {}
void RegisterHelpButtonClasses() { TRegistrar<LHelpButton>::Register(); }
void RegisterColorPickerClasses() {}
void RegisterAttachmentClasses() { TRegistrar<LClickAttachment>::Register(); }
void RegisterTimeSliderClasses() {}
void RegisterSmallControlClasses() {
  TRegistrar<LStepButton>::Register();
  TRegistrar<LGotoButton>::Register();
  TRegistrar<LClickText>::Register();
}
void RegisterExportClasses() { CExportTasksPane::Register(); }

namespace {
std::string sExportClientFailure;
}

OSErr InitExportClient() {
  sExportClientFailure.clear();
  try {
    ConnectDocumentExports(true);
    return CExportMovie::Init();
  } catch (const LException& e) {
    ConstStringPtr words = e.GetErrorString();
    if (words && words[0]) sExportClientFailure.assign(reinterpret_cast<const char*>(words + 1), words[0]);
    OSErr err = ErrorCodeToOSErr(e.GetErrorCode());
    return err != noErr ? err : -1;
  }
}

const std::string& ExportClientFailure() { return sExportClientFailure; }

void FinishExportClient() {
  CExportMovie::Finish();
  ConnectDocumentExports(false);
}
Boolean ExportAllowsQuit() { return CExportMovie::AllowQuit(); }

Boolean ExportTasksWindowVisible() {
  CExportMovie* exporter = CExportMovie::GetExporter();
  return exporter && exporter->GetWindow() && exporter->GetWindow()->IsVisible();
}

void ToggleExportTasksWindow() { CExportMovie::ObeyCommand(cmd_ExportTasksWindow); }

OSErr InitHelp() { return UHelp::InitHelp(); }
void FinishHelp() { UHelp::FinishHelp(); }

void GotoHelpPage(const std::string& inPage) {
  Str255 page;
  StringToPStr(inPage, page);
  UHelp::GotoHelpPage(page, nullptr);
}

SInt16 AskReviewDocuments(SInt32 inCount) {
  NavDialogCreationOptions options;
  NavUserAction action = UNavigation::AskReviewDocuments(options, static_cast<UInt32>(inCount));
  if (action == kNavUserActionReviewDocuments) return kReviewReply_Review;
  if (action == kNavUserActionDiscardDocuments) return kReviewReply_Discard;
  return kReviewReply_Cancel;
}

}  // namespace AppParts
