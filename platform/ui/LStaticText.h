// Texts that the user reads: a static text (QLabel, wrapped over its lines)
// and a caption (one line). Layout: pane record, Str255 text, SInt16 text style.
#pragma once

#include <string>

#include "platform/ui/LPane.h"

class LStaticText : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'stxt';
  LStaticText(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID = 0);
  explicit LStaticText(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  virtual void SetDescriptor(ConstStringPtr inDescriptor);
  virtual StringPtr GetDescriptor(Str255 outDescriptor) const;
  virtual void SetText(const std::string& inText);
  const std::string& GetText() const { return mText; }
  SInt16 GetTextTraitsID() const { return mTextTraitsID; }
  void SetTextTraitsID(SInt16 inID);

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  virtual Boolean WrapsLines() const { return true; }
  void ShowText();

  std::string mText;
  SInt16 mTextTraitsID = 0;
};

class LCaption : public LStaticText {
 public:
  static constexpr ClassIDT class_ID = 'capt';
  using LStaticText::LStaticText;
  ClassIDT GetClassID() const override { return class_ID; }

 protected:
  Boolean WrapsLines() const override { return false; }
};
