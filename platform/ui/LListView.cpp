#include "platform/ui/LListView.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QTreeView>

#include <algorithm>

#include "platform/ui/UPaneHost.h"

namespace {

QString MimeTypeFor(OSType inFlavor) {
  char code[5] = {static_cast<char>(inFlavor >> 24), static_cast<char>(inFlavor >> 16),
                  static_cast<char>(inFlavor >> 8), static_cast<char>(inFlavor), 0};
  return QStringLiteral("application/x-tremblorix-") + QString::fromLatin1(code);
}

class UListModel : public QAbstractTableModel {
 public:
  explicit UListModel(LListView* inList) : mList(inList) {}
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  void Changed() {
    if (rowCount() > 0) dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  }
  int rowCount(const QModelIndex& inParent = QModelIndex()) const override {
    return inParent.isValid() ? 0 : static_cast<int>(mList->GetItems().size());
  }
  int columnCount(const QModelIndex& inParent = QModelIndex()) const override {
    return inParent.isValid() ? 0 : static_cast<int>(mList->GetColumns().size());
  }
  QVariant data(const QModelIndex& inIndex, int inRole) const override {
    if (!inIndex.isValid()) return {};
    const SListColumn& column = mList->GetColumns()[inIndex.column()];
    const ListItemID item = mList->GetItems()[inIndex.row()];
    if (inRole == Qt::TextAlignmentRole)
      return QVariant::fromValue(static_cast<int>((column.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    SListItemData cell;
    if (column.kind == listColumn_CheckBox && inRole == Qt::CheckStateRole) {
      if (mList->GetCell(item, column.property, cell) != noErr) return {};
      return cell.checkValue ? Qt::Checked : Qt::Unchecked;
    }
    if (column.kind == listColumn_Text && inRole == Qt::DisplayRole) {
      if (mList->GetCell(item, column.property, cell) != noErr) return {};
      return QString::fromUtf8(cell.text.c_str());
    }
    return {};
  }
  bool setData(const QModelIndex& inIndex, const QVariant& inValue, int inRole) override {
    if (!inIndex.isValid() || inRole != Qt::CheckStateRole) return false;
    const SListColumn& column = mList->GetColumns()[inIndex.column()];
    if (column.kind != listColumn_CheckBox) return false;
    const SInt32 on = inValue.toInt() == Qt::Checked ? 1 : 0;
    if (mList->SetCheck(mList->GetItems()[inIndex.row()], column.property, on) != noErr) return false;
    dataChanged(inIndex, inIndex);
    return true;
  }
  QVariant headerData(int inSection, Qt::Orientation inOrientation, int inRole) const override {
    if (inOrientation != Qt::Horizontal || inRole != Qt::DisplayRole) return {};
    if (inSection < 0 || inSection >= columnCount()) return {};
    return QString::fromUtf8(mList->GetColumns()[inSection].title.c_str());
  }
  Qt::ItemFlags flags(const QModelIndex& inIndex) const override {
    if (!inIndex.isValid()) return mList->GetDragFlavor() ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (mList->GetDragFlavor()) f |= Qt::ItemIsDragEnabled;
    if (mList->GetColumns()[inIndex.column()].kind == listColumn_CheckBox) f |= Qt::ItemIsUserCheckable;
    return f;
  }
  Qt::DropActions supportedDropActions() const override { return Qt::MoveAction | Qt::CopyAction; }
  QStringList mimeTypes() const override { return {MimeTypeFor(mList->GetDragFlavor())}; }
  QMimeData* mimeData(const QModelIndexList& inIndexes) const override {
    std::vector<ListItemID> items;
    for (const QModelIndex& i : inIndexes) {
      if (!i.isValid()) continue;
      const ListItemID id = mList->GetItems()[i.row()];
      if (std::find(items.begin(), items.end(), id) == items.end()) items.push_back(id);
    }
    std::vector<UInt8> bytes = mList->FlavorDataFor(items);
    auto* mime = new QMimeData;
    mime->setData(MimeTypeFor(mList->GetDragFlavor()),
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
    return mime;
  }
  bool dropMimeData(const QMimeData* inData, Qt::DropAction, int, int, const QModelIndex&) override {
    if (!inData || !mList->GetDragFlavor()) return false;
    QByteArray raw = inData->data(MimeTypeFor(mList->GetDragFlavor()));
    std::vector<UInt8> bytes(raw.begin(), raw.end());
    // The list moves the rows itself; the view must not remove the dragged ones.
    mList->ReceiveFlavorData(bytes);
    return false;
  }

 private:
  LListView* mList;
};

class UListWidget : public QTreeView {
 public:
  explicit UListWidget(LListView* inList, QWidget* inParent) : QTreeView(inParent), mList(inList) {}
  void ForgetList() { mList = nullptr; }

 protected:
  void keyPressEvent(QKeyEvent* inEvent) override {
    QPointer<UListWidget> self(this);
    if ((inEvent->key() == Qt::Key_Backspace || inEvent->key() == Qt::Key_Delete) && UPaneHost::DeliverKey(inEvent, true))
      return;
    if (self) QTreeView::keyPressEvent(inEvent);
  }
  void focusInEvent(QFocusEvent* inEvent) override {
    if (mList) mList->WidgetFocused();
    QTreeView::focusInEvent(inEvent);
  }

 private:
  LListView* mList;
};

}  // namespace

struct LListView::Impl {
  UListModel* model = nullptr;
  QPointer<UListWidget> view;
  bool syncing = false;
};

LListView::LListView(const SPaneInfo& inPaneInfo) : LPane(inPaneInfo), mImpl(new Impl) {}

LListView::LListView(LStream* inStream) : LPane(inStream), mImpl(new Impl) {}

LListView::~LListView() {
  if (mImpl->view) mImpl->view->ForgetList();
  delete mImpl->model;
  mImpl->model = nullptr;
  delete mImpl;
  mImpl = nullptr;
}

QWidget* LListView::MakeWidget(QWidget* inParent) {
  auto* view = new UListWidget(this, inParent);
  mImpl->view = view;
  if (!mImpl->model) mImpl->model = new UListModel(this);
  view->setModel(mImpl->model);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  view->setDragDropMode(QAbstractItemView::DragDrop);
  view->setDefaultDropAction(Qt::MoveAction);
  view->setDragEnabled(mFlavor != 0);
  view->setAcceptDrops(mFlavor != 0);
  view->header()->setStretchLastSection(false);
  view->header()->setSectionsMovable(false);
  QFont small = view->header()->font();
  if (small.pointSizeF() > 0) small.setPointSizeF(small.pointSizeF() * 0.85);
  view->header()->setFont(small);
  for (size_t i = 0; i < mColumns.size(); ++i) view->setColumnWidth(static_cast<int>(i), mColumns[i].width);
  QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, [this, view]() {
    if (mImpl->syncing) return;
    std::vector<ListItemID> selected;
    for (const QModelIndex& row : view->selectionModel()->selectedRows())
      if (row.row() >= 0 && row.row() < static_cast<int>(mItems.size())) selected.push_back(mItems[row.row()]);
    WidgetSelectionChanged(selected);
  });
  return view;
}

void LListView::SyncWidget() {
  LPane::SyncWidget();
  if (!mImpl->view) return;
  mImpl->syncing = true;
  mImpl->view->setDragEnabled(mFlavor != 0);
  mImpl->view->setAcceptDrops(mFlavor != 0);
  for (size_t i = 0; i < mColumns.size(); ++i) mImpl->view->setColumnWidth(static_cast<int>(i), mColumns[i].width);
  QItemSelectionModel* selection = mImpl->view->selectionModel();
  selection->clearSelection();
  for (ListItemID id : mSelected) {
    auto it = std::find(mItems.begin(), mItems.end(), id);
    if (it == mItems.end()) continue;
    const int row = static_cast<int>(it - mItems.begin());
    selection->select(mImpl->model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  mImpl->syncing = false;
}

void LListView::ModelChanged() {
  if (!mImpl->model) return;
  mImpl->syncing = true;
  mImpl->model->Reset();
  mImpl->syncing = false;
  SyncWidget();
}

void LListView::SetColumns(const std::vector<SListColumn>& inColumns) {
  mColumns = inColumns;
  ModelChanged();
}

OSStatus LListView::AddItems(const std::vector<ListItemID>& inItems) {
  for (size_t i = 0; i < inItems.size(); ++i) {
    if (std::find(mItems.begin(), mItems.end(), inItems[i]) != mItems.end()) return errListItemNotAdded;
    if (std::find(inItems.begin(), inItems.begin() + static_cast<long>(i), inItems[i]) != inItems.begin() + static_cast<long>(i))
      return errListItemNotAdded;
  }
  mItems.insert(mItems.end(), inItems.begin(), inItems.end());
  ModelChanged();
  return noErr;
}

OSStatus LListView::RemoveItems(const std::vector<ListItemID>& inItems) {
  for (ListItemID id : inItems)
    if (std::find(mItems.begin(), mItems.end(), id) == mItems.end()) return errListItemNotFound;
  for (ListItemID id : inItems) {
    mItems.erase(std::remove(mItems.begin(), mItems.end(), id), mItems.end());
    mSelected.erase(std::remove(mSelected.begin(), mSelected.end(), id), mSelected.end());
  }
  ModelChanged();
  return noErr;
}

void LListView::RemoveAllItems() {
  mItems.clear();
  mSelected.clear();
  ModelChanged();
}

std::vector<ListItemID> LListView::GetSelectedItems() const {
  // In the order of the rows.
  std::vector<ListItemID> out;
  for (ListItemID id : mItems)
    if (std::find(mSelected.begin(), mSelected.end(), id) != mSelected.end()) out.push_back(id);
  return out;
}

void LListView::SetSelectedItems(const std::vector<ListItemID>& inItems) {
  mSelected.clear();
  for (ListItemID id : inItems)
    if (std::find(mItems.begin(), mItems.end(), id) != mItems.end()) mSelected.push_back(id);
  SyncWidget();
}

void LListView::UpdateItems() {
  if (mImpl->model) mImpl->model->Changed();
}

OSStatus LListView::GetCell(ListItemID inItem, ListPropertyID inProperty, SListItemData& outData) const {
  if (!mDataProc) return errListPropertyNotSupported;
  return mDataProc(inItem, inProperty, outData, false);
}

OSStatus LListView::SetCheck(ListItemID inItem, ListPropertyID inProperty, SInt32 inValue) {
  if (!mDataProc) return errListPropertyNotSupported;
  SListItemData data;
  data.checkValue = inValue;
  const OSStatus err = mDataProc(inItem, inProperty, data, true);
  if (err == noErr) UpdateItems();
  return err;
}

std::vector<UInt8> LListView::FlavorDataFor(const std::vector<ListItemID>& inItems) const {
  std::vector<UInt8> bytes;
  for (ListItemID id : inItems) {
    bytes.push_back(static_cast<UInt8>(id >> 24));
    bytes.push_back(static_cast<UInt8>(id >> 16));
    bytes.push_back(static_cast<UInt8>(id >> 8));
    bytes.push_back(static_cast<UInt8>(id));
  }
  return bytes;
}

Boolean LListView::ReceiveFlavorData(const std::vector<UInt8>& inData) {
  if (inData.size() % 4 != 0) return false;
  std::vector<ListItemID> items;
  for (size_t i = 0; i + 3 < inData.size(); i += 4) {
    const ListItemID id = (static_cast<ListItemID>(inData[i]) << 24) | (static_cast<ListItemID>(inData[i + 1]) << 16) |
                          (static_cast<ListItemID>(inData[i + 2]) << 8) | inData[i + 3];
    // Only rows of this list are taken.
    if (std::find(mItems.begin(), mItems.end(), id) != mItems.end()) items.push_back(id);
  }
  if (items.empty()) return false;
  if (mReceiveProc) mReceiveProc(items);
  return true;
}

void LListView::WidgetSelectionChanged(const std::vector<ListItemID>& inSelected) { mSelected = inSelected; }

void LListView::WidgetFocused() {
  if (mFocusProc) mFocusProc();
}
