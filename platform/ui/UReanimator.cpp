#include "platform/ui/UReanimator.h"

#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LHandleStream.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/LayoutFormat.h"
#include "platform/ui/URegistrar.h"

namespace {

// Puts the default view and attachable back however reading ends.
class StLayoutDefaults {
 public:
  StLayoutDefaults() : mView(LPane::GetDefaultView()), mAttachable(LAttachable::GetDefaultAttachable()) {}
  ~StLayoutDefaults() {
    LPane::SetDefaultView(mView);
    LAttachable::SetDefaultAttachable(mAttachable);
  }
  StLayoutDefaults(const StLayoutDefaults&) = delete;
  StLayoutDefaults& operator=(const StLayoutDefaults&) = delete;

 private:
  LView* mView;
  LAttachable* mAttachable;
};

// A copy of a resource's bytes in a stream (the resource stays the manager's).
Handle CopyResource(ResType inType, ResIDT inID) {
  Handle res = GetResource(inType, inID);
  if (res == nullptr) return nullptr;
  Handle copy = nullptr;
  PtrToHand(*res, &copy, GetHandleSize(res));
  ReleaseResource(res);
  return copy;
}

void Collect(LPane* inPane, std::vector<LPane*>& outPanes) {
  outPanes.push_back(inPane);
  if (auto* view = dynamic_cast<LView*>(inPane))
    for (LPane* sub : view->GetSubPanes()) Collect(sub, outPanes);
}

}  // namespace

LPane* UReanimator::ReadObjects(LStream* inStream, LView* inSuperView) {
  StLayoutDefaults keep;
  LPane::SetDefaultView(inSuperView);
  LAttachable::SetDefaultAttachable(nullptr);
  LPane* top = nullptr;
  std::vector<LAttachment*> loose;  // attachments without a host yet
  struct Level {
    LView* view;
    LAttachable* attachable;
  };
  std::vector<Level> levels;
  LPane* last = nullptr;
  try {
    for (;;) {
      OSType tag = 0;
      *inStream >> tag;
      if (tag == kLayoutEndOfDataTag) break;
      if (tag == kLayoutBeginTag) {
        if (last == nullptr) Throw_(err_LayoutDamaged);
        levels.push_back({LPane::GetDefaultView(), LAttachable::GetDefaultAttachable()});
        // Panes that follow go inside a view; attachments onto the pane.
        LPane::SetDefaultView(dynamic_cast<LView*>(last));
        LAttachable::SetDefaultAttachable(last);
        continue;
      }
      if (tag == kLayoutEndTag) {
        if (levels.empty()) Throw_(err_LayoutDamaged);
        LPane::SetDefaultView(levels.back().view);
        LAttachable::SetDefaultAttachable(levels.back().attachable);
        levels.pop_back();
        continue;
      }
      if (tag != kLayoutObjectTag) Throw_(err_LayoutDamaged);
      SInt32 length = 0;
      ClassIDT classID = 0;
      *inStream >> length;
      SInt32 start = inStream->GetMarker();
      if (length < 4 || length > inStream->GetLength() - start) Throw_(err_LayoutDamaged);
      *inStream >> classID;
      if (!URegistrar::IsRegistered(classID)) Throw_(err_LayoutClassNotRegistered);
      SLayoutObject made = URegistrar::CreateObject(classID, inStream);
      if (made.pane) {
        if (top == nullptr) {
          top = made.pane;
        } else if (made.pane->GetSuperView() == nullptr) {
          // A pane in the block of a pane that is not a view has no place.
          delete made.pane;
          Throw_(err_LayoutDamaged);
        }
        last = made.pane;
      } else if (made.attachment && made.attachment->GetOwnerHost() == nullptr) {
        loose.push_back(made.attachment);
      }
      // A class that reads less than its record skips the rest; one that
      // read into the next record met a layout it does not understand.
      SInt32 end = start + length;
      if (inStream->GetMarker() > end) Throw_(err_LayoutDamaged);
      inStream->SetMarker(end, streamFrom_Start);
    }
    if (top == nullptr || !levels.empty()) Throw_(err_LayoutDamaged);
  } catch (...) {
    for (LAttachment* a : loose) delete a;
    delete top;
    throw;
  }
  for (LAttachment* a : loose) delete a;
  // The tree finishes once it stands whole (views pass it on to their panes).
  top->FinishCreate();
  return top;
}

LPane* UReanimator::ReadObjects(ResIDT inLayoutID, LView* inSuperView) {
  Handle bytes = CopyResource(kLayoutResType, inLayoutID);
  ThrowIfNil_(bytes);
  LHandleStream stream(bytes);
  return ReadObjects(&stream, inSuperView);
}

LWindow* UReanimator::CreateWindow(ResIDT inLayoutID, LCommander* inSuperCommander) {
  LPane* top = ReadObjects(inLayoutID, nullptr);
  auto* window = dynamic_cast<LWindow*>(top);
  if (window == nullptr) {
    delete top;
    Throw_(err_NilPointer);
  }
  if (inSuperCommander) window->SetSuperCommander(inSuperCommander);
  return window;
}

SInt32 UReanimator::LinkListenerToBroadcasters(LListener* inListener, LPane* inContainer, ResIDT inLinkListID) {
  if (inListener == nullptr || inContainer == nullptr) return 0;
  Handle bytes = CopyResource(kLinkListResType, inLinkListID);
  if (bytes == nullptr) return 0;
  LHandleStream stream(bytes);
  SInt32 linked = 0;
  UInt16 count = 0;
  stream >> count;
  for (UInt16 i = 0; i < count && !stream.AtEnd(); ++i) {
    PaneIDT id = 0;
    stream >> id;
    auto* broadcaster = dynamic_cast<LBroadcaster*>(inContainer->FindPaneByIDOrNil(id));
    if (broadcaster == nullptr) continue;
    broadcaster->AddListener(inListener);
    ++linked;
  }
  return linked;
}

SInt32 UReanimator::LinkListenerToControls(LListener* inListener, LPane* inContainer) {
  if (inListener == nullptr || inContainer == nullptr) return 0;
  std::vector<LPane*> panes;
  Collect(inContainer, panes);
  SInt32 linked = 0;
  for (LPane* p : panes) {
    if (auto* broadcaster = dynamic_cast<LBroadcaster*>(p)) {
      broadcaster->AddListener(inListener);
      ++linked;
    }
  }
  return linked;
}
