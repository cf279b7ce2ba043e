// Edit fields (QLineEdit): one line of text the user types, at most a given
// number of bytes, with a key filter that refuses characters as they are
// typed or pasted. The value is the number the text holds. Every edit by the
// user broadcasts the value message; the program's changes do not (a listener
// that sets one field from another would otherwise answer itself).
// Layout: control record, Str255 text, SInt16 text style, SInt16 maximum
// characters, UInt8 key filter (LayoutFormat.h kKeyFilter...).
#pragma once

#include "platform/ui/LTextControl.h"

class LEditField : public LTextControl {
 public:
  static constexpr ClassIDT class_ID = 'edit';
  LEditField(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inMaxChars, UInt8 inKeyFilter,
             MessageT inValueMessage = msg_Nothing);
  explicit LEditField(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  // The number at the start of the text (0 when there is none).
  SInt32 GetValue() const override;
  // Shows the number as the text.
  void SetValue(SInt32 inValue) override;
  void SetText(const std::string& inText) override;
  SInt16 GetMaxChars() const { return mMaxChars; }
  void SetMaxChars(SInt16 inMaxChars);
  UInt8 GetKeyFilter() const { return mKeyFilter; }
  void SetKeyFilter(UInt8 inKeyFilter) { mKeyFilter = inKeyFilter; }
  // Whether the filter takes a character typed at a position of the text.
  static Boolean KeyFilterAccepts(UInt8 inKeyFilter, char32_t inChar, SInt32 inPosition);
  // The user's edit: filtered, cut to the maximum, stored and broadcast.
  // Returns the text kept.
  std::string UserEdited(const std::string& inText);
  // Keyboard focus to the field, the whole text selected.
  void SelectAll();

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void TextChanged() override;

  SInt16 mMaxChars = 255;
  UInt8 mKeyFilter = 0;
};

// The appearance edit text: the same field under its own class id.
class LEditText : public LEditField {
 public:
  static constexpr ClassIDT class_ID = 'etxt';
  using LEditField::LEditField;
  ClassIDT GetClassID() const override { return class_ID; }
};
