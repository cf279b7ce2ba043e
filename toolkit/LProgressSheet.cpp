#include "toolkit/LProgressSheet.h"

#include <algorithm>
#include <map>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/PascalStrings.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/UDesktop.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/StDrawContextState.h"
#include "toolkit/UMessage.h"

namespace {

struct SProgressContext {
  CRegularWindow* window = nullptr;
  LListener* listener = nullptr;
  UInt32 lastTicks = 0;
  LProgressSheet* sheet = nullptr;
};

// Watches the context's sheet: a sheet that goes another way (its window
// closed) leaves the context.
class SheetWatcher : public LListener {
 public:
  explicit SheetWatcher(SProgressContext* inContext) : mContext(inContext) {}
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    if (inMessage == msg_SheetReleased && mContext->sheet == static_cast<LSheet*>(ioParam)) mContext->sheet = nullptr;
  }

 private:
  SProgressContext* mContext;
};

struct SContextEntry {
  SProgressContext context;
  SheetWatcher watcher{&context};
};

std::map<SInt32, SContextEntry*>& Contexts() {
  static auto* sContexts = new std::map<SInt32, SContextEntry*>;
  return *sContexts;
}
SInt32 sNextContext = 1;

SContextEntry* FindContext(SInt32 inRefCon) {
  auto it = Contexts().find(inRefCon);
  return it == Contexts().end() ? nullptr : it->second;
}

bool WindowExists(const LWindow* inWindow) {
  for (LWindow* w : UDesktop::GetWindows())
    if (w == inWindow) return true;
  return false;
}

template <class T>
T* FetchPane(LProgressSheet* inSheet, PaneIDT inID) {
  auto* pane = dynamic_cast<T*>(inSheet->FindPaneByID(inID));
  ThrowIfNil_(pane);
  return pane;
}

void SetText(LStaticText* inPane, ConstStringPtr inText) {
  Str255 current;
  inPane->GetDescriptor(current);
  if (!PStrEqual(current, inText)) inPane->SetDescriptor(inText);
}

}  // namespace

LProgressSheet::LProgressSheet(LListener* inListener, ResIDT inLayoutID)
    : LCustomDialogSheet(inListener, inLayoutID, nullptr, nullptr), mLastEventTicks(TickCount()) {}

SInt32 LProgressSheet::NewProgressContext(CRegularWindow* inWindow, LListener* inListener) {
  auto* entry = new SContextEntry;
  entry->context.window = inWindow;
  entry->context.listener = inListener;
  entry->context.lastTicks = TickCount();
  const SInt32 id = sNextContext++;
  Contexts()[id] = entry;
  return id;
}

void LProgressSheet::DisposeProgressContext(SInt32 inContext) {
  SContextEntry* entry = FindContext(inContext);
  if (!entry) return;
  Contexts().erase(inContext);
  if (LProgressSheet* sheet = entry->context.sheet) {
    entry->context.sheet = nullptr;
    sheet->Release();
  }
  delete entry;
}

LProgressSheet* LProgressSheet::GetContextSheet(SInt32 inContext) {
  SContextEntry* entry = FindContext(inContext);
  return entry ? entry->context.sheet : nullptr;
}

SInt16 LProgressSheet::UniversalProgressProcedure(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon,
                                                  unsigned char* inText) {
  static const unsigned char kEmpty[1] = {0};
  ConstStringPtr text = inText ? inText : kEmpty;
  SContextEntry* entry = FindContext(inRefCon);
  if (!entry) return inMessage == kProgressOpen ? static_cast<SInt16>(err_NilPointer & 0xFFFF) : 0;
  SProgressContext& context = entry->context;
  StDrawContextState state;
  if (TickCount() - context.lastTicks > kProgressTicks) {
    UMessage::ProcessEvents();
    // The events may have ended the context.
    entry = FindContext(inRefCon);
    if (!entry) return 0;
    entry->context.lastTicks = TickCount();
  }
  try {
    switch (inMessage) {
      case kProgressOpen: {
        if (!context.sheet) {
          // The window may have closed since the context was made.
          if (!context.window || !WindowExists(context.window)) return static_cast<SInt16>(err_NilPointer & 0xFFFF);
          auto* sheet = new LProgressSheet(context.listener);
          sheet->AddListener(&entry->watcher);
          context.sheet = sheet;
          context.window->AddSheet(sheet, true);
        }
        // A second open reuses the sheet: nothing is left behind on the window.
        SetText(FetchPane<LStaticText>(context.sheet, kProgressSheetText), text);
        FetchPane<LProgressBar>(context.sheet, kProgressSheetBar)->SetValue(0);
        context.lastTicks = TickCount();
        return 0;
      }
      case kProgressUpdate: {
        LProgressSheet* sheet = context.sheet;
        if (!sheet) return 0;
        SetText(FetchPane<LStaticText>(sheet, kProgressSheetText), text);
        LProgressBar* bar = FetchPane<LProgressBar>(sheet, kProgressSheetBar);
        const SInt32 value = (std::clamp<SInt32>(inFraction, 0, 0x10000) / 1024) * 4;
        if (bar->GetValue() != value) bar->SetValue(value);
        return sheet->GetLastMessage() == msg_SheetEscapeKey ? kProgressSheetCancelled : 0;
      }
      case kProgressClose:
        if (LProgressSheet* sheet = context.sheet) {
          context.sheet = nullptr;
          sheet->Release();
        }
        return 0;
      default:
        return 0;
    }
  } catch (const LException& e) {
    if (inMessage == kProgressOpen && context.sheet) {
      // A sheet without its panes is of no use: it goes again.
      LProgressSheet* sheet = context.sheet;
      context.sheet = nullptr;
      sheet->Release();
    }
    return static_cast<SInt16>(e.GetErrorCode() & 0xFFFF);
  }
}
