// The list of the export-tasks window ('ExPn'): one row per export task, in
// the order they were added, with three columns: the destination's file name
// ('Moov'), the activity ('Actv') and the progress ('Prgr', a bar and the
// percentage). Clicks select rows (shift or command adds to the selection);
// every change of the selection broadcasts message 1000.
#pragma once

#include <set>
#include <string>

#include "platform/framework/LBroadcaster.h"
#include "platform/ui/LPane.h"

class CExportTask;

// The columns' properties.
enum : OSType {
  kExportColumnMovie = 'Moov',
  kExportColumnActivity = 'Actv',
  kExportColumnProgress = 'Prgr',
};

class CExportTasksPane : public LPane, public LBroadcaster {
 public:
  static constexpr ClassIDT class_ID = 'ExPn';
  static constexpr SInt16 kRowHeight = 20;
  static constexpr SInt16 kHeaderHeight = 18;
  static constexpr SInt16 kMovieWidth = 170;
  static constexpr SInt16 kActivityWidth = 120;
  static constexpr SInt16 kPercentWidth = 62;

  explicit CExportTasksPane(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }
  // Registers the class for layouts (once).
  static void Register();

  // The text of a cell; paramErr-like empty text for an unknown property.
  // outText is set and 0 returned, or -4979 for a property the list lacks.
  static OSStatus GetSetItemDataProc(const CExportTask* inTask, OSType inProperty, std::string& outText);

  Boolean IsSelected(const CExportTask* inTask) const;
  SInt32 CountSelected() const;
  // Selects (inAdd: adds to the selection) or deselects a task; broadcasts 1000 on a change.
  void SelectTask(const CExportTask* inTask, Boolean inSelect, Boolean inAdd = true);
  void SelectRow(SInt32 inRow, SInt16 inModifiers);
  // The client removed a task: it leaves the selection.
  void TaskRemoved(const CExportTask* inTask);
  // The row (from 0) at a local point, -1 when none.
  SInt32 RowAt(Point inLocal) const;

 protected:
  void DrawSelf() override;
  void ClickSelf(const SMouseDownEvent& inMouseDown) override;

 private:
  void SelectionChanged();
  std::set<UInt32> mSelected;  // cookies
};
