#include "platform/ui/LPopupButton.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QWidget>

#include "platform/framework/LStream.h"
#include "platform/ui/UControlSupport.h"

using UControlSupport::ToQString;

namespace {

// The popup's widget: a label (when there is a text) and the menu button.
struct PopupParts {
  QLabel* label;
  QComboBox* combo;
};

PopupParts PartsOf(QWidget* inWidget) {
  if (inWidget == nullptr) return {nullptr, nullptr};
  return {inWidget->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly),
          inWidget->findChild<QComboBox*>(QString(), Qt::FindDirectChildrenOnly)};
}

}  // namespace

LPopupButton::LPopupButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inLabel,
                           const std::vector<std::string>& inItems)
    : LTextControl(inPaneInfo, inControlInfo, inLabel) {
  for (const std::string& t : inItems) mItems.push_back({t, true});
}

LPopupButton::LPopupButton(LStream* inStream) : LTextControl(inStream) {
  UInt16 count = 0;
  *inStream >> count;
  for (UInt16 i = 0; i < count; ++i) {
    Str255 text;
    inStream->ReadPString(text);
    mItems.push_back({UControlSupport::FromPString(text), true});
  }
}

void LPopupButton::SetItems(const std::vector<std::string>& inItems) {
  mItems.clear();
  for (const std::string& t : inItems) mItems.push_back({t, true});
  ShowItems();
}

void LPopupButton::AppendItem(const std::string& inText) {
  mItems.push_back({inText, true});
  ShowItems();
}

void LPopupButton::DeleteAllItems() {
  mItems.clear();
  ShowItems();
}

std::string LPopupButton::GetItemText(SInt32 inItem) const {
  if (inItem < 1 || inItem > CountItems()) return "";
  return mItems[static_cast<size_t>(inItem - 1)].text;
}

void LPopupButton::SetItemText(SInt32 inItem, const std::string& inText) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].text = inText;
  ShowItems();
}

void LPopupButton::EnableItem(SInt32 inItem, Boolean inEnabled) {
  if (inItem < 1 || inItem > CountItems()) return;
  mItems[static_cast<size_t>(inItem - 1)].enabled = inEnabled;
  ShowItems();
}

Boolean LPopupButton::IsItemEnabled(SInt32 inItem) const {
  return inItem >= 1 && inItem <= CountItems() && mItems[static_cast<size_t>(inItem - 1)].enabled;
}

void LPopupButton::ChooseItem(SInt32 inItem) {
  if (!IsItemEnabled(inItem)) {
    ValueChanged();  // the menu shows the current item again
    return;
  }
  SetValue(inItem);
}

QWidget* LPopupButton::MakeWidget(QWidget* inParent) {
  auto* box = new QWidget(inParent);
  new QLabel(box);  // the label, found again by PartsOf
  auto* combo = new QComboBox(box);
  StyleWidget(box);
  QObject::connect(combo, qOverload<int>(&QComboBox::activated), [this](int inIndex) { ChooseItem(inIndex + 1); });
  mWidget = box;
  TextChanged();
  ShowItems();
  return box;
}

void LPopupButton::ShowItems() {
  // The range follows the items: 1 to their count (0 to 0 without items).
  mMinValue = mItems.empty() ? 0 : 1;
  mMaxValue = CountItems();
  if (mValue < mMinValue || mValue > mMaxValue) mValue = mItems.empty() ? 0 : 1;
  PopupParts parts = PartsOf(PeekWidget());
  if (parts.combo == nullptr) return;
  QSignalBlocker block(parts.combo);
  parts.combo->clear();
  for (const Item& item : mItems) {
    // "-" is a separator line in the menu, as in the program's menus.
    if (item.text == "-") parts.combo->insertSeparator(parts.combo->count());
    else parts.combo->addItem(ToQString(item.text));
    if (auto* model = qobject_cast<QStandardItemModel*>(parts.combo->model()))
      if (QStandardItem* row = model->item(parts.combo->count() - 1))
        row->setEnabled(item.enabled && item.text != "-");
  }
  parts.combo->setCurrentIndex(mValue - 1);
}

void LPopupButton::ValueChanged() {
  PopupParts parts = PartsOf(PeekWidget());
  if (parts.combo == nullptr) return;
  QSignalBlocker block(parts.combo);
  parts.combo->setCurrentIndex(mValue - 1);
}

void LPopupButton::TextChanged() {
  PopupParts parts = PartsOf(PeekWidget());
  if (parts.label == nullptr) return;
  parts.label->setText(ToQString(mText));
  parts.label->setVisible(!mText.empty());
  PlaceParts();
}

void LPopupButton::FrameChanged() {
  LTextControl::FrameChanged();
  PlaceParts();
}

void LPopupButton::PlaceParts() {
  PopupParts parts = PartsOf(PeekWidget());
  if (parts.combo == nullptr) return;
  int labelWidth = 0;
  if (!mText.empty()) {
    labelWidth = std::min<int>(parts.label->sizeHint().width() + 4, mWidth / 2);
    parts.label->setGeometry(0, 0, labelWidth, mHeight);
  }
  parts.combo->setGeometry(labelWidth, 0, std::max(0, mWidth - labelWidth), mHeight);
}
