// Builds panes from layouts: the objects of a 'PPob' (see LayoutFormat.h)
// are created by class id through URegistrar, panes placed inside the view
// that holds them, attachments attached to their host; then the top pane
// finishes its creation. Link lists ('RidL') connect the layout's
// broadcasters to a listener.
#pragma once

#include "platform/base/LException.h"
#include "platform/framework/LListener.h"
#include "platform/ui/LPane.h"

class LCommander;
class LStream;
class LWindow;

// A layout names a class that is not registered.
constexpr ExceptionCode err_LayoutClassNotRegistered = 'clas';
// A layout's records are damaged (unknown tag, an object longer than its record).
constexpr ExceptionCode err_LayoutDamaged = 'ppob';

class UReanimator {
 public:
  // Reads the objects at the stream's marker up to the end-of-layout record.
  // The top pane goes inside inSuperView (nil: none) and is returned, the
  // caller's to delete. On failure everything built is deleted and the
  // exception passes on: err_LayoutClassNotRegistered, err_LayoutDamaged,
  // eofErr for a cut layout, or what a constructor threw.
  static LPane* ReadObjects(LStream* inStream, LView* inSuperView = nullptr);
  // The same from layout resource inLayoutID ('nilP' when there is none).
  static LPane* ReadObjects(ResIDT inLayoutID, LView* inSuperView = nullptr);
  // A window from a layout whose top pane is a window ('nilP' when the
  // layout or its window is missing); its super commander is inSuperCommander.
  static LWindow* CreateWindow(ResIDT inLayoutID, LCommander* inSuperCommander);

  // Adds inListener to every broadcaster that link list inLinkListID names
  // inside inContainer. Panes that are missing or do not broadcast are
  // passed over; no link list links nothing. Returns how many were linked.
  static SInt32 LinkListenerToBroadcasters(LListener* inListener, LPane* inContainer, ResIDT inLinkListID);
  // Adds inListener to every broadcasting pane inside inContainer.
  static SInt32 LinkListenerToControls(LListener* inListener, LPane* inContainer);
};
