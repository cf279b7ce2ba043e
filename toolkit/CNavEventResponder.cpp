#include "toolkit/CNavEventResponder.h"

CNavEventResponder::~CNavEventResponder() {
  mClosing = true;
  if (mNavDialog) {
    NavDialogRef dialog = mNavDialog;
    mNavDialog = nullptr;
    NavDialogDispose(dialog);
  }
}

void CNavEventResponder::SetNavDialog(NavDialogRef inDialog) { mNavDialog = inDialog; }

void CNavEventResponder::InvokeNavStart(NavCBRec*) {}

void CNavEventResponder::InvokeNavCustomize(NavCBRec*) {}

// Our event loop dispatches the events of every window, the dialog's among
// them, so nothing is left to do here.
void CNavEventResponder::InvokeNavEvent(NavCBRec*) {}

void CNavEventResponder::InvokeNavUserAction(NavCBRec*) {}

void CNavEventResponder::InvokeNavTerminate(NavCBRec*) {}
