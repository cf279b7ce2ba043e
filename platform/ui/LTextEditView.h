// A text view (QTextEdit): styled text, read-only unless the program allows
// editing. Layout: pane record, SInt32 text length and the UTF-8 bytes,
// SInt16 text style.
#pragma once

#include <string>

#include "platform/ui/LPane.h"

class LTextEditView : public LPane {
 public:
  static constexpr ClassIDT class_ID = 'txtv';
  LTextEditView(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID = 0);
  explicit LTextEditView(LStream* inStream);
  ClassIDT GetClassID() const override { return class_ID; }

  // Line ends may be carriage returns (13), as the program's reports write them.
  void SetTextPtr(const void* inText, SInt32 inLength);
  void SetText(const std::string& inText);
  // The text as typed or set (carriage returns become line feeds).
  std::string GetText() const;
  // A point size over bytes [inStart, inEnd) of the text (clamped to it).
  void SetFontSize(SInt32 inStart, SInt32 inEnd, SInt16 inSize);
  // The point size at a byte of the text (0: the style's own).
  SInt16 GetFontSizeAt(SInt32 inOffset) const;
  void SetReadOnly(Boolean inReadOnly);
  Boolean IsReadOnly() const { return mReadOnly; }
  // kControlEditTextLockedTag (Boolean: read-only) and kControlSizeTag;
  // other tags: errDataNotSupported.
  OSStatus SetDataTag(SInt16 inPartCode, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr);

 protected:
  QWidget* MakeWidget(QWidget* inParent) override;
  void ShowText();

  struct SizeRun {
    SInt32 start, end;
    SInt16 size;
  };
  std::string mText;
  std::vector<SizeRun> mRuns;
  SInt16 mTextTraitsID = 0;
  Boolean mReadOnly = true;
  SInt16 mControlSize = 0;
};
