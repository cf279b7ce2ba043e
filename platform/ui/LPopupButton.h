// A popup button (QComboBox, with its label to the left when it has one):
// value = the current item, 1-based, min 1, max the item count. Choosing an
// item broadcasts the value message.
// Layout: control record, Str255 label, SInt16 text style, UInt16 item
// count, a Str255 per item.
#pragma once

#include <vector>

#include "platform/ui/LTextControl.h"

class LPopupButton : public LTextControl {
 public:
  static constexpr ClassIDT class_ID = 'popb';
  LPopupButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inLabel,
               const std::vector<std::string>& inItems);
  explicit LPopupButton(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  SInt32 CountItems() const { return static_cast<SInt32>(mItems.size()); }
  // Replaces the items; the value stays where it was when still in range.
  void SetItems(const std::vector<std::string>& inItems);
  void AppendItem(const std::string& inText);
  void DeleteAllItems();
  // 1-based; "" outside the list.
  std::string GetItemText(SInt32 inItem) const;
  void SetItemText(SInt32 inItem, const std::string& inText);
  void EnableItem(SInt32 inItem, Boolean inEnabled);
  Boolean IsItemEnabled(SInt32 inItem) const;
  // The current item's text.
  std::string GetCurrentItemText() const { return GetItemText(mValue); }
  // Chooses as the user does (the value message goes out when it changes).
  void ChooseItem(SInt32 inItem);

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void TextChanged() override;
  void ValueChanged() override;
  void FrameChanged() override;
  void ShowItems();
  void PlaceParts();

  struct Item {
    std::string text;
    Boolean enabled = true;
  };
  std::vector<Item> mItems;
};
