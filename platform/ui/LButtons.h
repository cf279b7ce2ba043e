// Push buttons, check boxes, radio buttons, bevel buttons and icon controls.
#pragma once

#include "platform/ui/LTextControl.h"

class QAbstractButton;

// What the text buttons share: the subclass makes its Qt button; here it is
// styled, its click goes to HotSpotResult and the control's state is shown
// on it (ShowState: the text, then the value).
class LButtonControl : public LTextControl {
 public:
  using LTextControl::LTextControl;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  // The new Qt button, before styling.
  virtual QAbstractButton* NewButton(QWidget* inParent) = 0;
  virtual void ShowState();
  void TextChanged() override;
};

// A push button (QPushButton): a click broadcasts the value message.
// Layout: control record, text, text style.
class LPushButton : public LButtonControl {
 public:
  static constexpr ClassIDT class_ID = 'pbut';
  using LButtonControl::LButtonControl;
  ClassIDT GetClassID() const override { return class_ID; }
  // A click released on the button.
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QAbstractButton* NewButton(QWidget* inParent) override;
  void ShowState() override;
};

// A check box (QCheckBox): value 0 off, 1 on, 2 mixed; a click turns it on
// or off. Layout: control record, text, text style.
class LCheckBox : public LButtonControl {
 public:
  static constexpr ClassIDT class_ID = 'cbox';
  using LButtonControl::LButtonControl;
  ClassIDT GetClassID() const override { return class_ID; }
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QAbstractButton* NewButton(QWidget* inParent) override;
  void ValueChanged() override;
};

// A radio button (QRadioButton): a click turns it on (an on button stays
// on); its radio group turns the others off. Layout: as the check box.
class LRadioButton : public LButtonControl {
 public:
  static constexpr ClassIDT class_ID = 'rbut';
  using LButtonControl::LButtonControl;
  ClassIDT GetClassID() const override { return class_ID; }
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QAbstractButton* NewButton(QWidget* inParent) override;
  void ValueChanged() override;
};

// A bevel button (QToolButton) showing its text, an icon ('PNG ' resource)
// or a picture ('PICT' resource). A push bevel broadcasts on each click; a
// toggling one flips its value 0/1 and broadcasts the change.
// Layout: control record, text, text style, SInt16 content kind (text 0,
// icon 1, picture 2), SInt16 content resource id, UInt8 toggles.
class LBevelButton : public LButtonControl {
 public:
  static constexpr ClassIDT class_ID = 'bbut';
  LBevelButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText,
               SInt16 inContentKind, SInt16 inContentID, Boolean inToggles);
  explicit LBevelButton(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  SInt16 GetContentKind() const { return mContentKind; }
  SInt16 GetContentID() const { return mContentID; }
  // kBevelContentText, kBevelContentIcon or kBevelContentPicture and the resource id.
  void SetContent(SInt16 inKind, SInt16 inResourceID);
  Boolean Toggles() const { return mToggles; }
  // Whether the icon or picture was found (false for text content).
  Boolean HasContentImage() const;
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QAbstractButton* NewButton(QWidget* inParent) override;
  void TextChanged() override;
  void ValueChanged() override;
  void ShowContent();

  SInt16 mContentKind = 0;
  SInt16 mContentID = 0;
  Boolean mToggles = false;
};

// A disclosure triangle (a QToolButton with an arrow, and its text beside):
// value 0 closed (pointing right), 1 open (pointing down); a click flips it.
// Layout: control record, text, text style.
class LDisclosureTriangle : public LButtonControl {
 public:
  static constexpr ClassIDT class_ID = 'dtri';
  using LButtonControl::LButtonControl;
  ClassIDT GetClassID() const override { return class_ID; }
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QAbstractButton* NewButton(QWidget* inParent) override;
  void ValueChanged() override;
};

// An icon ('PNG ' resource) that broadcasts its value message when clicked.
// Layout: control record, SInt16 icon id.
class LIconControl : public LControl {
 public:
  static constexpr ClassIDT class_ID = 'icnp';
  LIconControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, SInt16 inIconID);
  explicit LIconControl(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }
  SInt16 GetIconID() const { return mIconID; }
  void SetIconID(SInt16 inIconID);
  Boolean HasIcon() const;
  void HotSpotResult(SInt16 inHotSpot) override;

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;

  SInt16 mIconID = 0;
};
