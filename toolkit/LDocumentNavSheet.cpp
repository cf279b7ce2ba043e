#include "toolkit/LDocumentNavSheet.h"

#include "toolkit/CRegularWindow.h"

LDocumentNavSheet::LDocumentNavSheet(LListener* inListener) : LDocumentSheet(inListener) {}

LDocumentNavSheet::~LDocumentNavSheet() {
  if (mDeletedFlag) *mDeletedFlag = true;
  // The dialog goes while the sheet is whole; the terminate callback that
  // disposing of a running dialog causes is not forwarded (closing flag).
  mClosing = true;
  if (NavDialogRef dialog = mNavDialog) {
    mNavDialog = nullptr;
    NavDialogDispose(dialog);
  }
  if (mParentWindow) mParentWindow->RemoveSheet(this);
  if (mShown) Hide();
  BroadcastMessage(msg_SheetReleased, static_cast<LSheet*>(this));
}

void LDocumentNavSheet::Show() {
  if (mShown || !mParentWindow) return;
  LSheet::Show();
}

void LDocumentNavSheet::Hide() {
  if (!mShown) return;
  LSheet::Hide();
}

void LDocumentNavSheet::InvokeNavUserAction(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavUserAction(inParams);
  SetUpdateCommandStatus(true);
  BroadcastMessage(msg_NavSheetUserAction, inParams);
}

void LDocumentNavSheet::InvokeNavTerminate(NavCBRec* inParams) {
  CNavEventResponder::InvokeNavTerminate(inParams);
  {
    StSheetHandler handler(mHandlerDepth, mDeletedFlag);
    BroadcastMessage(msg_NavSheetTerminate, inParams);
    if (handler.Deleted()) return;
  }
  Release();
}
