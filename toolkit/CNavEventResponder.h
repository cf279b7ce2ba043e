// Receives the callbacks of one navigation dialog and hands them to virtual
// operations; the navigation sheets derive from it. The responder owns its
// dialog: destroying the responder disposes of it, and a terminate callback
// that this disposal causes is not forwarded.
#pragma once

#include "platform/ui/NavServices.h"

class CNavEventResponder {
 public:
  CNavEventResponder() = default;
  CNavEventResponder(const CNavEventResponder&) = delete;
  CNavEventResponder& operator=(const CNavEventResponder&) = delete;
  // Sets the closing flag, then disposes of the dialog when there is one.
  virtual ~CNavEventResponder();

  // Takes the dialog (nil: the responder no longer has one and will not dispose of it).
  virtual void SetNavDialog(NavDialogRef inDialog);
  virtual void InvokeNavStart(NavCBRec* inParams);
  virtual void InvokeNavCustomize(NavCBRec* inParams);
  // The dialog's events; the framework's own event handling deals with them.
  virtual void InvokeNavEvent(NavCBRec* inParams);
  virtual void InvokeNavUserAction(NavCBRec* inParams);
  virtual void InvokeNavTerminate(NavCBRec* inParams);

  // The custom-area negotiation of a dialog whose area needs inWidth by
  // inHeight: an empty proposal (the first) is answered with that size; a
  // later one may grow it, and keeps a side the dialog changed since
  // ioLastTry even when smaller. ioArea becomes what is asked.
  static void NegotiateCustomArea(Rect& ioArea, Rect& ioLastTry, SInt16 inWidth, SInt16 inHeight);

  NavDialogRef GetNavDialog() const { return mNavDialog; }
  Boolean IsClosing() const { return mClosing; }

 protected:
  NavDialogRef mNavDialog = nullptr;
  Boolean mClosing = false;
};
