// The tracks sheet of a movie document: every track of the movie in a list
// with a check box (enabled), its kind and its start and end time codes. The
// user ticks tracks on or off, deletes rows and reorders them by dragging;
// OK applies everything as one undoable edit, Cancel changes nothing.
//
// The sheet's procedure talks to its document through CTrackBrowserClient
// (the movie, where undoable actions go, the track an edit session holds).
#pragma once

#include <string>
#include <vector>

#include "app/CBrowserPane.h"

class CMovie;
class LCustomDialogSheet;
class LView;

constexpr PaneIDT kTrackBrowserPaneID = 10;
constexpr SInt16 STRx_TrackBrowser = 5018;

// Messages of the sheet's procedure besides the sheet's own (built -10,
// Return 900, Escape or Cancel 901, other keys 814 with the EventRecord*).
constexpr SInt32 msg_TracksReload = 11;
constexpr SInt32 msg_TracksDelete = 4;
constexpr SInt32 kSheetClose = -128;
constexpr ResIDT PPob_TracksSheet = 505;

class CTrackBrowserClient {
 public:
  virtual ~CTrackBrowserClient() = default;
  virtual CMovie* GetBrowserMovie() = 0;
  // Where the sheet's undoable edit is posted (the document).
  virtual LCommander* GetBrowserUndoTarget() = 0;
  // The track an open edit session works on: deleting it is refused. Nil: none.
  virtual Track GetBrowserSessionTrack() { return nullptr; }
};

class CTrackBrowser {
 public:
  // The procedure of the tracks sheet (layout 505) made with the client as
  // its reference value:
  //   new LCustomDialogSheet(listener, PPob_TracksSheet, CTrackBrowser::TrackBrowserProc, client)
  static SInt32 TrackBrowserProc(LCustomDialogSheet* inSheet, SInt32 inMessage, void* ioParam, void* inRefCon);
  // The same for the sheet's contents: inSheet holds the list (pane 10).
  // Answers 0, the status of the operation, or kSheetClose for OK and
  // Cancel. A missing list, client or movie throws 'nilP'.
  static SInt32 HandleSheetMessage(LView* inSheet, SInt32 inMessage, void* ioParam, CTrackBrowserClient* inClient);

  static OSStatus InitBrowser(CBrowserPane* inPane, CMovie* inMovie);
  // Rebuilds the list from the movie, dropping changes not applied.
  static OSStatus LoadTrackData(CBrowserPane* inPane, CMovie* inMovie);
  // With inApply: ticks and deletions go to the movie (a deletion of
  // inSessionTrack is skipped). Then the items are let go.
  static OSStatus FinishBrowser(CBrowserPane* inPane, CMovie* inMovie, Boolean inApply, Track inSessionTrack = nullptr);
  static OSStatus GetSelectedItems(CBrowserPane* inPane, std::vector<ListItemID>& outItems);
  // Removes the selected rows from the list and marks them deleted; the row
  // of inSessionTrack stays. Answers the status.
  static OSStatus DeleteSelectedRows(CBrowserPane* inPane, Track inSessionTrack);
  // Dropped rows move to the end of the list.
  static void ReceiveDrag(CBrowserPane* inPane, const std::vector<ListItemID>& inItems);
  // OK: one undoable edit when anything changed; the dirty state kept otherwise.
  static OSStatus ApplyChanges(CBrowserPane* inPane, CTrackBrowserClient* inClient);

  static OSStatus GetSetItemData(CBrowserPane* inPane, ListItemID inItem, ListPropertyID inProperty,
                                 SListItemData& ioData, Boolean inSet);
  // The text of the kind column.
  static std::string GetKindText(const TrackItem& inItem);
};
