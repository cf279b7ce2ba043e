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

void CNavEventResponder::NegotiateCustomArea(Rect& ioArea, Rect& ioLastTry, SInt16 inWidth, SInt16 inHeight) {
  if (ioArea.right == 0 && ioArea.bottom == 0) {
    ioArea.right = static_cast<SInt16>(ioArea.left + inWidth);
    ioArea.bottom = static_cast<SInt16>(ioArea.top + inHeight);
    ioLastTry = ioArea;
    return;
  }
  if (ioArea.right != ioLastTry.right && ioArea.right < ioArea.left + inWidth)
    ioArea.right = static_cast<SInt16>(ioArea.left + inWidth);
  if (ioArea.bottom != ioLastTry.bottom && ioArea.bottom < ioArea.top + inHeight)
    ioArea.bottom = static_cast<SInt16>(ioArea.top + inHeight);
  ioLastTry = ioArea;
}

// Our event loop dispatches the events of every window, the dialog's among
// them, so nothing is left to do here.
void CNavEventResponder::InvokeNavEvent(NavCBRec*) {}

void CNavEventResponder::InvokeNavUserAction(NavCBRec*) {}

void CNavEventResponder::InvokeNavTerminate(NavCBRec*) {}
