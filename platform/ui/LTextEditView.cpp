#include "platform/ui/LTextEditView.h"

#include <QTextCursor>
#include <QTextEdit>

#include "platform/framework/LStream.h"
#include "platform/ui/LControl.h"
#include "platform/ui/UControlSupport.h"

namespace {

std::string WithLineFeeds(std::string inText) {
  for (char& c : inText)
    if (c == '\r') c = '\n';
  return inText;
}

// Byte offset in UTF-8 to a position in the UTF-16 text the widget holds.
int CharPosition(const std::string& inText, SInt32 inOffset) {
  return static_cast<int>(UControlSupport::ToQString(inText.substr(0, static_cast<size_t>(inOffset))).size());
}

}  // namespace

LTextEditView::LTextEditView(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inTextTraitsID)
    : LPane(inPaneInfo), mText(WithLineFeeds(inText)), mTextTraitsID(inTextTraitsID) {}

LTextEditView::LTextEditView(LStream* inStream) : LPane(inStream) {
  SInt32 length = 0;
  *inStream >> length;
  if (length < 0 || length > inStream->GetLength() - inStream->GetMarker()) Throw_(eofErr);
  mText.resize(static_cast<size_t>(length));
  inStream->ReadBlock(mText.data(), length);
  mText = WithLineFeeds(mText);
  *inStream >> mTextTraitsID;
}

void LTextEditView::SetTextPtr(const void* inText, SInt32 inLength) {
  SetText(inText && inLength > 0 ? std::string(static_cast<const char*>(inText), static_cast<size_t>(inLength)) : "");
}

void LTextEditView::SetText(const std::string& inText) {
  mText = WithLineFeeds(inText);
  mRuns.clear();
  ShowText();
}

std::string LTextEditView::GetText() const {
  if (auto* edit = static_cast<QTextEdit*>(PeekWidget()); edit && !mReadOnly)
    return UControlSupport::FromQString(edit->toPlainText());
  return mText;
}

void LTextEditView::SetFontSize(SInt32 inStart, SInt32 inEnd, SInt16 inSize) {
  const SInt32 length = static_cast<SInt32>(mText.size());
  inStart = std::clamp<SInt32>(inStart, 0, length);
  inEnd = std::clamp<SInt32>(inEnd, inStart, length);
  if (inStart == inEnd) return;
  mRuns.push_back({inStart, inEnd, inSize});
  ShowText();
}

SInt16 LTextEditView::GetFontSizeAt(SInt32 inOffset) const {
  SInt16 size = 0;
  for (const SizeRun& run : mRuns)
    if (inOffset >= run.start && inOffset < run.end) size = run.size;  // the latest run wins
  return size;
}

void LTextEditView::SetReadOnly(Boolean inReadOnly) {
  if (!inReadOnly || mReadOnly == inReadOnly) {
    mReadOnly = inReadOnly;
  } else {
    mText = GetText();  // keep what was typed before the text freezes
    mReadOnly = true;
  }
  if (auto* edit = static_cast<QTextEdit*>(PeekWidget())) edit->setReadOnly(mReadOnly);
}

OSStatus LTextEditView::SetDataTag(SInt16, FourCharCode inTag, SInt32 inDataSize, const void* inDataPtr) {
  if (inTag == kControlEditTextLockedTag) {
    if (inDataPtr == nullptr || inDataSize < 1) return paramErr;
    SetReadOnly(*static_cast<const UInt8*>(inDataPtr) != 0);
    return noErr;
  }
  if (inTag != kControlSizeTag) return errDataNotSupported;
  OSStatus err = UControlSupport::ReadControlSize(inDataSize, inDataPtr, mControlSize);
  if (err == noErr) UControlSupport::ApplyControlSize(PeekWidget(), mControlSize);
  return err;
}

QWidget* LTextEditView::MakeWidget(QWidget* inParent) {
  auto* edit = new QTextEdit(inParent);
  edit->setAcceptRichText(false);
  edit->setReadOnly(mReadOnly);
  UControlSupport::ApplyTextStyle(edit, mTextTraitsID);
  UControlSupport::ApplyControlSize(edit, mControlSize);
  mWidget = edit;
  ShowText();
  return edit;
}

void LTextEditView::ShowText() {
  auto* edit = static_cast<QTextEdit*>(PeekWidget());
  if (edit == nullptr) return;
  edit->setPlainText(UControlSupport::ToQString(mText));
  for (const SizeRun& run : mRuns) {
    QTextCursor cursor(edit->document());
    cursor.setPosition(CharPosition(mText, run.start));
    cursor.setPosition(CharPosition(mText, run.end), QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setFontPointSize(run.size);
    cursor.mergeCharFormat(format);
  }
}
