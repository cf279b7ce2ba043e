#include "app/CBrowserPane.h"

CBrowserPane::CBrowserPane(const SPaneInfo& inPaneInfo, LCommander* inSuper)
    : LListView(inPaneInfo), LCommander(inSuper) {
  SetDragFlavor(kTrackDragFlavor);
}

CBrowserPane::CBrowserPane(LStream* inStream) : LListView(inStream) { SetDragFlavor(kTrackDragFlavor); }

CBrowserPane::~CBrowserPane() { SetItemTable(nullptr); }

void CBrowserPane::SetItemTable(std::map<ListItemID, TrackItem>* inTable) {
  if (mItemTable == inTable) return;
  delete mItemTable;
  mItemTable = inTable;
}

void CBrowserPane::FinishCreateSelf() {
  LListView::FinishCreateSelf();
  SetFocusProc([this] {
    if (!IsTarget()) SwitchTarget(this);
  });
}

Boolean CBrowserPane::HandleKeyPress(const EventRecord& inKeyEvent) {
  // The list itself moves the selection; Delete and the rest go up the chain.
  return LCommander::HandleKeyPress(inKeyEvent);
}
