// The list of the tracks sheet: a list view with a check box, the track's
// kind and its start and end, that takes the keyboard when clicked and hands
// Delete to its commander chain (the sheet). Its rows are 32-bit ids from the
// track browser's item table, never addresses.
#pragma once

#include <map>

#include "platform/framework/LCommander.h"
#include "platform/movies/Movies.h"
#include "platform/ui/LListView.h"

class CMovie;

constexpr OSType kTrackDragFlavor = 'Trck';

// One movie track as the sheet shows it.
struct TrackItem {
  Track track = nullptr;
  UInt8 enabled = 0;  // the check box; starts as the track's enabled state
  UInt8 deleted = 0;  // the user removed the row
  CMovie* movie = nullptr;
  SInt32 layer = 0;
  UInt32 options = 0;  // 'opts' of the track's settings item, 0 when absent
};

class CBrowserPane : public LListView, public LCommander {
 public:
  static constexpr ClassIDT class_ID = 'BrPn';
  explicit CBrowserPane(const SPaneInfo& inPaneInfo, LCommander* inSuper = nullptr);
  explicit CBrowserPane(LStream* inStream);
  ~CBrowserPane() override;
  ClassIDT GetClassID() const override { return class_ID; }

  // The item table while the sheet is open (nil otherwise); the pane owns it.
  std::map<ListItemID, TrackItem>* GetItemTable() const { return mItemTable; }
  void SetItemTable(std::map<ListItemID, TrackItem>* inTable);
  // A new id for the table (never 0, never reused while the pane lives).
  ListItemID NewItemID() { return mNextID++; }

  Boolean HandleKeyPress(const EventRecord& inKeyEvent) override;

 protected:
  void FinishCreateSelf() override;

 private:
  std::map<ListItemID, TrackItem>* mItemTable = nullptr;
  ListItemID mNextID = 1;
};
