// The application's calls into the parts of the program it starts, asks and
// stops: the movie panes' layout classes, the help book and help tags, the
// export client and its tasks window, the review question at quitting.
// Kept in one place so the application object reads as its own sequence.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

class LAttachable;

// Replies of the review question at quitting.
constexpr SInt16 kReviewReply_Review = 9;
constexpr SInt16 kReviewReply_Discard = 10;
constexpr SInt16 kReviewReply_Cancel = 11;

namespace AppParts {

void RegisterMovieViewClasses();
void RegisterBrowserClasses();
void RegisterHelpButtonClasses();
void RegisterColorPickerClasses();
void RegisterAttachmentClasses();
void RegisterTimeSliderClasses();
void RegisterSmallControlClasses();
void RegisterExportClasses();

// The export client: launching Vantrel (noErr or the failure), stopping it.
OSErr InitExportClient();
// Why the export client could not start, in words ("" when it did, or when the failure has none).
const std::string& ExportClientFailure();
void FinishExportClient();
// The movie documents queue their exports with the export client (false: no more).
void ConnectDocumentExports(Boolean inConnect);
// False when an export runs and the user does not want to quit.
Boolean ExportAllowsQuit();
Boolean ExportTasksWindowVisible();
void ToggleExportTasksWindow();

// The help book: noErr, or the failure (the program then goes on without it).
OSErr InitHelp();
void FinishHelp();
void GotoHelpPage(const std::string& inPage);
void AddHelpTracker(LAttachable* inHost);

// The review question for inCount modified movies: review, discard or cancel.
SInt16 AskReviewDocuments(SInt32 inCount);

}  // namespace AppParts
