// The help tags' tracker. Not attached for now: the movie panes' drag
// tracking (platform/ui/UMouseTracking.h) and the help tags' mouse tracker
// (toolkit/LMouseHelpTracker.h) are two different classes both named
// LMouseTracker, so one program holding both gets one of their tables for
// the other and crashes. Attach it again once one of them is renamed:
//   inHost->AddAttachment(new LMouseHelpTracker, nullptr, true);
#include "app/TremblorixAppParts.h"

namespace AppParts {

void AddHelpTracker(LAttachable*) {}

}  // namespace AppParts
