// The desktop side of window-modal sheets and drawers.
//
// A sheet's window (its top-level widget is a dialog) becomes a child window
// of its document window's top-level widget (Qt::Sheet), opened window-modal
// with open() at the top of the document's content and centred on it; only
// that document window is blocked. Standard alerts are message boxes opened
// the same way; their answer comes back at a later pass of the event loop,
// never inside the click.
//
// A drawer's window becomes a panel inside its document window's top-level
// widget (a separate window could not be placed beside it on every desktop):
// the top-level widget grows by the drawer's width on the drawer's side, the
// content keeps its place on the screen, and the panel slides out from behind
// the content.
#pragma once

#include <functional>
#include <string>

#include "platform/base/MacTypes.h"
#include "platform/ui/Alerts.h"

class LWindow;
class QWidget;

// The commands of a standard alert's buttons.
constexpr OSType kAlertCommandDefault = 'ok  ';
constexpr OSType kAlertCommandCancel = 'not!';
constexpr OSType kAlertCommandOther = 'othr';

// Drawer sides.
constexpr SInt16 kDrawerSideNone = 0;
constexpr SInt16 kDrawerSideLeft = 1;
constexpr SInt16 kDrawerSideRight = 2;

class USheetWindows {
 public:
  // Shows the sheet window on the parent, window-modal to it.
  static void ShowSheetWindow(LWindow* inSheetWindow, LWindow* inParent);
  // Hides it and lets go of the parent (the sheet window outlives it safely).
  static void HideSheetWindow(LWindow* inSheetWindow);

  typedef std::function<void(OSType inCommand)> AlertReply;
  // Makes a standard alert (not yet shown) and returns its id. An empty
  // default text means "OK"; empty cancel or other texts leave those buttons
  // out. inParent nil: the alert will be application-modal. inReply runs once
  // with the button's command, at a later pass of the loop; never after
  // CloseAlert.
  static SInt32 NewAlert(LWindow* inParent, AlertType inAlertType, const std::string& inMessage,
                         const std::string& inExplanation, const std::string& inDefaultText,
                         const std::string& inCancelText, const std::string& inOtherText, AlertReply inReply);
  // Opens (again) or hides the alert; unknown ids do nothing.
  static void ShowAlert(SInt32 inAlertID);
  static void HideAlert(SInt32 inAlertID);
  // Closes the alert without an answer and forgets it.
  static void CloseAlert(SInt32 inAlertID);
  // The alert's dialog (tests press its buttons); nil once closed.
  static QWidget* GetAlertWidget(SInt32 inAlertID);

  // The union of every screen's rectangle, in global coordinates.
  static Rect GetScreensBounds();

  // Puts the drawer window's panel on the parent's side and slides it out
  // (inAnimate false: at once). The parent's frame grows by the drawer's width.
  static void AttachDrawer(LWindow* inDrawerWindow, LWindow* inParent, SInt16 inSide, Boolean inAnimate);
  // Slides the panel back and takes it out of the parent, which shrinks
  // again once it is in (inAnimate false: at once). inParent nil: the parent
  // is going away; only the panel is let go.
  static void DetachDrawer(LWindow* inDrawerWindow, LWindow* inParent, Boolean inAnimate);
  // Puts an open drawer's panel back beside the parent's content after the
  // content changed size (nothing while it slides).
  static void FollowParent(LWindow* inDrawerWindow, LWindow* inParent, SInt16 inSide);
  // Whether a drawer's slide is still under way.
  static Boolean IsDrawerMoving(LWindow* inDrawerWindow);
};
