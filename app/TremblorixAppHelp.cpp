// The help tags' tracker: attached to the application, it follows the mouse
// over every window's panes and shows the pane's help tag.
#include "app/TremblorixAppParts.h"
#include "toolkit/LMouseHelpTracker.h"

namespace AppParts {

void AddHelpTracker(LAttachable* inHost) {
  if (inHost) inHost->AddAttachment(new LMouseHelpTracker, nullptr, true);
}

}  // namespace AppParts
