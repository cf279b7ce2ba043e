#include "app/TremblorixAppParts.h"

#include "platform/ui/UResponder.h"

namespace AppParts {

void RegisterMovieViewClasses() {}
void RegisterBrowserClasses() {}
void RegisterHelpButtonClasses() {}
void RegisterColorPickerClasses() {}
void RegisterAttachmentClasses() {}
void RegisterTimeSliderClasses() {}
void RegisterSmallControlClasses() {}
void RegisterExportClasses() {}

OSErr InitExportClient() { return noErr; }
void FinishExportClient() {}
Boolean ExportAllowsQuit() { return true; }
Boolean ExportTasksWindowVisible() { return false; }
void ToggleExportTasksWindow() {}

OSErr InitHelp() { return noErr; }
void FinishHelp() {}
void GotoHelpPage(const std::string&) {}
void AddHelpTracker(LAttachable*) {}

SInt16 AskReviewDocuments(SInt32 inCount) {
  SQuestion q;
  q.kind = question_ReviewChanges;
  q.message = "You have " + std::to_string(inCount) +
              " movies with unsaved changes. Do you want to review these changes before quitting?";
  q.explanation = "If you don't review your movies, all your changes will be lost.";
  q.choices = {"Review Changes…", "Discard Changes", "Cancel"};
  q.defaultChoice = 1;
  q.cancelChoice = 3;
  SAnswer a = UResponder::AskAndWait(q);
  if (a.cancelled) return kReviewReply_Cancel;
  switch (a.choice) {
    case 1: return kReviewReply_Review;
    case 2: return kReviewReply_Discard;
    default: return kReviewReply_Cancel;
  }
}

}  // namespace AppParts
