#include "platform/ui/LEditField.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <cstdlib>

#include "platform/framework/LStream.h"
#include "platform/ui/LayoutFormat.h"
#include "platform/ui/UControlSupport.h"

using UControlSupport::FromQString;
using UControlSupport::ToQString;

namespace {

// Refuses typed characters the field's key filter does not take, before the
// line edit inserts them (so the caret stays where the user expects).
class KeyFilter : public QObject {
 public:
  KeyFilter(LEditField* inField, QObject* inParent) : QObject(inParent), mField(inField) {}

 protected:
  bool eventFilter(QObject* inWatched, QEvent* inEvent) override {
    if (inEvent->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(inEvent);
    const QString text = key->text();
    if (text.isEmpty() || (key->modifiers() & Qt::ControlModifier)) return false;
    auto* edit = static_cast<QLineEdit*>(inWatched);
    // Typing over a selection puts the character where the selection starts.
    SInt32 at = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    for (char32_t c : text.toUcs4()) {
      if (c < 0x20 || c == 0x7F) return false;  // editing keys (backspace, return) pass
      if (!LEditField::KeyFilterAccepts(mField->GetKeyFilter(), c, at)) return true;
    }
    return false;
  }

 private:
  LEditField* mField;
};

Boolean IsAsciiDigit(char32_t c) { return c >= '0' && c <= '9'; }
Boolean IsAlphaNumeric(char32_t c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || QChar::isLetterOrNumber(c);
}

}  // namespace

LEditField::LEditField(const SPaneInfo& inPaneInfo, const std::string& inText, SInt16 inMaxChars, UInt8 inKeyFilter,
                       MessageT inValueMessage)
    : LTextControl(inPaneInfo, SControlInfo{inValueMessage, 0, 0, 0}, inText),
      mMaxChars(inMaxChars),
      mKeyFilter(inKeyFilter) {}

LEditField::LEditField(LStream* inStream) : LTextControl(inStream) { *inStream >> mMaxChars >> mKeyFilter; }

Boolean LEditField::KeyFilterAccepts(UInt8 inKeyFilter, char32_t inChar, SInt32 inPosition) {
  switch (inKeyFilter) {
    case kKeyFilterInteger: return IsAsciiDigit(inChar);
    case kKeyFilterNegativeInteger: return IsAsciiDigit(inChar) || (inChar == '-' && inPosition == 0);
    case kKeyFilterAlphaNumeric: return IsAlphaNumeric(inChar);
    case kKeyFilterPrintingChar: return inChar >= 0x20 && inChar != 0x7F;
    default: return true;
  }
}

SInt32 LEditField::GetValue() const {
  long n = std::strtol(mText.c_str(), nullptr, 10);
  if (n > 0x7FFFFFFFL) return 0x7FFFFFFF;
  if (n < -0x7FFFFFFFL - 1) return -0x7FFFFFFF - 1;
  return static_cast<SInt32>(n);
}

void LEditField::SetValue(SInt32 inValue) { SetText(std::to_string(inValue)); }

void LEditField::SetText(const std::string& inText) {
  std::string text = inText;
  if (mMaxChars >= 0 && text.size() > static_cast<size_t>(mMaxChars)) {
    size_t n = static_cast<size_t>(mMaxChars);
    while (n > 0 && (static_cast<UInt8>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
  }
  LTextControl::SetText(text);
}

void LEditField::SetMaxChars(SInt16 inMaxChars) {
  mMaxChars = inMaxChars;
  if (auto* edit = static_cast<QLineEdit*>(PeekWidget())) edit->setMaxLength(inMaxChars > 0 ? inMaxChars : 32767);
  SetText(mText);
}

std::string LEditField::UserEdited(const std::string& inText) {
  // What a paste or drop brought in is filtered as typing would be.
  std::u32string kept;
  for (char32_t c : QString::fromUtf8(inText.data(), static_cast<int>(inText.size())).toUcs4())
    if (KeyFilterAccepts(mKeyFilter, c, static_cast<SInt32>(kept.size()))) kept.push_back(c);
  std::string text = FromQString(QString::fromUcs4(kept.data(), static_cast<qsizetype>(kept.size())));
  if (mMaxChars >= 0 && text.size() > static_cast<size_t>(mMaxChars)) {
    size_t n = static_cast<size_t>(mMaxChars);
    while (n > 0 && (static_cast<UInt8>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
  }
  mText = text;
  TextChanged();  // the widget drops what the filter refused
  SInt32 value = GetValue();
  if (mValueMessage != msg_Nothing) BroadcastMessage(mValueMessage, &value);
  return text;
}

void LEditField::SelectAll() {
  if (auto* edit = static_cast<QLineEdit*>(PeekWidget())) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}

QWidget* LEditField::MakeWidget(QWidget* inParent) {
  auto* edit = new QLineEdit(ToQString(mText), inParent);
  // The limit is in bytes of UTF-8; Qt counts characters, so it is checked
  // again on each edit.
  edit->setMaxLength(mMaxChars > 0 ? mMaxChars : 32767);
  StyleWidget(edit);
  edit->installEventFilter(new KeyFilter(this, edit));
  QObject::connect(edit, &QLineEdit::textEdited, [this](const QString& inText) { UserEdited(FromQString(inText)); });
  return edit;
}

void LEditField::TextChanged() {
  auto* edit = static_cast<QLineEdit*>(PeekWidget());
  if (edit == nullptr) return;
  QString text = ToQString(mText);
  if (edit->text() == text) return;
  QSignalBlocker block(edit);
  int caret = edit->cursorPosition();
  edit->setText(text);
  edit->setCursorPosition(std::min<int>(caret, static_cast<int>(text.size())));
}
