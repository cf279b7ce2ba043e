// A list view: rows of items named by 32-bit ids, in columns that show a
// check box or a text. The texts and check-box values come from a data
// procedure the owner installs (asked again whenever the list is updated),
// and the user's ticks go back through it. Rows can be selected (several at
// once), dragged as a flavour holding their ids (4 bytes each, big-endian)
// and dropped back on the list, which hands the ids to the owner's receive
// procedure. Shown by a QTreeView; Qt is not visible here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/LPane.h"

typedef UInt32 ListItemID;
typedef OSType ListPropertyID;

constexpr OSStatus errListItemNotAdded = -4975;
constexpr OSStatus errListItemNotFound = -4971;
constexpr OSStatus errListPropertyNotSupported = -4979;

enum EListColumnKind { listColumn_CheckBox = 1, listColumn_Text = 2 };

struct SListColumn {
  ListPropertyID property = 0;
  EListColumnKind kind = listColumn_Text;
  SInt16 width = 100;
  Boolean rightAligned = false;
  std::string title;
};

// What the data procedure gets or sets for one cell.
struct SListItemData {
  SInt32 checkValue = 0;  // check boxes: 0 off, 1 on
  std::string text;       // texts (UTF-8)
};

class LListView : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'lstv';
  // Get (inSet false) or set (inSet true) one cell; answers noErr or an error.
  typedef std::function<OSStatus(ListItemID, ListPropertyID, SListItemData&, Boolean inSet)> DataProc;
  typedef std::function<void(const std::vector<ListItemID>&)> ReceiveProc;
  typedef std::function<void()> FocusProc;

  explicit LListView(const SPaneInfo& inPaneInfo);
  explicit LListView(LStream* inStream);
  ~LListView() override;
  ClassIDT GetClassID() const override { return class_ID; }

  void SetColumns(const std::vector<SListColumn>& inColumns);
  const std::vector<SListColumn>& GetColumns() const { return mColumns; }
  void SetDataProc(DataProc inProc) { mDataProc = std::move(inProc); }
  // The flavour of dragged rows ('Trck') and who receives dropped ones.
  void SetDragFlavor(OSType inFlavor) { mFlavor = inFlavor; }
  OSType GetDragFlavor() const { return mFlavor; }
  void SetReceiveProc(ReceiveProc inProc) { mReceiveProc = std::move(inProc); }
  // Called when the user clicks into the list (the owner becomes the target).
  void SetFocusProc(FocusProc inProc) { mFocusProc = std::move(inProc); }

  // Rows. Adding an id twice or removing one that is not there fails as a whole.
  OSStatus AddItems(const std::vector<ListItemID>& inItems);
  OSStatus RemoveItems(const std::vector<ListItemID>& inItems);
  void RemoveAllItems();
  const std::vector<ListItemID>& GetItems() const { return mItems; }
  std::vector<ListItemID> GetSelectedItems() const;
  void SetSelectedItems(const std::vector<ListItemID>& inItems);
  // The data of every row changed: asks the data procedure again.
  void UpdateItems();
  // One cell as the list shows it (asks the data procedure).
  OSStatus GetCell(ListItemID inItem, ListPropertyID inProperty, SListItemData& outData) const;
  // The user ticks a check box (as a click on it does).
  OSStatus SetCheck(ListItemID inItem, ListPropertyID inProperty, SInt32 inValue);

  // The drag flavour's bytes for rows, and a drop of such bytes.
  std::vector<UInt8> FlavorDataFor(const std::vector<ListItemID>& inItems) const;
  Boolean ReceiveFlavorData(const std::vector<UInt8>& inData);

  // Inside the desktop layer: the widget tells the model about the user.
  void WidgetSelectionChanged(const std::vector<ListItemID>& inSelected);
  void WidgetFocused();

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void SyncWidget() override;
  void ModelChanged();

  std::vector<SListColumn> mColumns;
  std::vector<ListItemID> mItems;
  std::vector<ListItemID> mSelected;
  DataProc mDataProc;
  ReceiveProc mReceiveProc;
  FocusProc mFocusProc;
  OSType mFlavor = 0;

 private:
  struct Impl;
  Impl* mImpl = nullptr;
};
