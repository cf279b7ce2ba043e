#include "platform/ui/LButtons.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <functional>

#include "platform/framework/LStream.h"
#include "platform/ui/LRadioGroup.h"
#include "platform/ui/LayoutFormat.h"
#include "platform/ui/UControlSupport.h"

using UControlSupport::ToQString;

// ---- LButtonControl

QWidget* LButtonControl::MakeWidget(QWidget* inParent) {
  QAbstractButton* button = NewButton(inParent);
  StyleWidget(button);
  QObject::connect(button, &QAbstractButton::clicked, [this] { HotSpotResult(1); });
  mWidget = button;
  ShowState();
  return button;
}

void LButtonControl::ShowState() {
  TextChanged();
  ValueChanged();
}

void LButtonControl::TextChanged() {
  if (auto* button = static_cast<QAbstractButton*>(PeekWidget())) button->setText(ToQString(mText));
}

// ---- LPushButton

void LPushButton::HotSpotResult(SInt16) { BroadcastValueMessage(); }

QAbstractButton* LPushButton::NewButton(QWidget* inParent) {
  auto* button = new QPushButton(inParent);
  button->setAutoDefault(false);
  return button;
}

// A push button has no value to show.
void LPushButton::ShowState() { TextChanged(); }

// ---- LCheckBox

void LCheckBox::HotSpotResult(SInt16) { SetValue(mValue == 1 ? 0 : 1); }

QAbstractButton* LCheckBox::NewButton(QWidget* inParent) {
  auto* box = new QCheckBox(inParent);
  box->setTristate(mMaxValue >= 2);
  return box;
}

void LCheckBox::ValueChanged() {
  auto* box = static_cast<QCheckBox*>(PeekWidget());
  if (box == nullptr) return;
  QSignalBlocker block(box);
  if (mValue >= 2) box->setTristate(true);
  box->setCheckState(mValue == 0 ? Qt::Unchecked : mValue == 1 ? Qt::Checked : Qt::PartiallyChecked);
}

// ---- LRadioButton

void LRadioButton::HotSpotResult(SInt16) {
  if (mValue == 1) {
    ValueChanged();  // an on button stays on: the widget shows it again
    return;
  }
  SetValue(1);
}

QAbstractButton* LRadioButton::NewButton(QWidget* inParent) {
  auto* radio = new QRadioButton(inParent);
  // The group keeps one button on in the model; Qt's own exclusivity would
  // fight it across views.
  radio->setAutoExclusive(false);
  return radio;
}

void LRadioButton::ValueChanged() {
  if (auto* radio = static_cast<QRadioButton*>(PeekWidget())) {
    QSignalBlocker block(radio);
    radio->setChecked(mValue != 0);
  }
  if (mValue != 0)
    if (auto* group = dynamic_cast<LRadioGroup*>(GetSuperView())) group->RadioTurnedOn(this);
}

// ---- LBevelButton

LBevelButton::LBevelButton(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, const std::string& inText,
                           SInt16 inContentKind, SInt16 inContentID, Boolean inToggles)
    : LButtonControl(inPaneInfo, inControlInfo, inText),
      mContentKind(inContentKind),
      mContentID(inContentID),
      mToggles(inToggles) {}

LBevelButton::LBevelButton(LStream* inStream) : LButtonControl(inStream) {
  UInt8 toggles = 0;
  *inStream >> mContentKind >> mContentID >> toggles;
  mToggles = toggles != 0;
}

void LBevelButton::SetContent(SInt16 inKind, SInt16 inResourceID) {
  mContentKind = inKind;
  mContentID = inResourceID;
  ShowContent();
}

Boolean LBevelButton::HasContentImage() const {
  if (mContentKind == kBevelContentIcon) return !UControlSupport::LoadIcon(mContentID).isNull();
  if (mContentKind == kBevelContentPicture) return !UControlSupport::LoadPicture(mContentID).isNull();
  return false;
}

void LBevelButton::HotSpotResult(SInt16) {
  if (mToggles) {
    // A toggle whose range does not reach 1 still turns on and off.
    if (mMaxValue < 1) mMaxValue = 1;
    SetValue(mValue == 0 ? 1 : 0);
  } else {
    BroadcastValueMessage();
  }
}

QAbstractButton* LBevelButton::NewButton(QWidget* inParent) {
  auto* button = new QToolButton(inParent);
  button->setCheckable(mToggles);
  return button;
}

void LBevelButton::ShowContent() {
  auto* button = static_cast<QToolButton*>(PeekWidget());
  if (button == nullptr) return;
  QPixmap image;
  if (mContentKind == kBevelContentIcon) image = UControlSupport::LoadIcon(mContentID);
  else if (mContentKind == kBevelContentPicture) image = UControlSupport::LoadPicture(mContentID);
  button->setText(ToQString(mText));
  if (image.isNull()) {
    button->setIcon(QIcon());
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  } else {
    button->setIcon(QIcon(image));
    button->setIconSize(image.size().boundedTo(QSize(mWidth - 8, mHeight - 8)).expandedTo(QSize(1, 1)));
    button->setToolButtonStyle(mText.empty() ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
  }
}

void LBevelButton::TextChanged() { ShowContent(); }

void LBevelButton::ValueChanged() {
  auto* button = static_cast<QToolButton*>(PeekWidget());
  if (button == nullptr || !mToggles) return;
  QSignalBlocker block(button);
  button->setChecked(mValue != 0);
}

// ---- LDisclosureTriangle

void LDisclosureTriangle::HotSpotResult(SInt16) {
  if (mMaxValue < 1) mMaxValue = 1;  // open and closed, whatever the layout's range
  SetValue(mValue == 0 ? 1 : 0);
}

QAbstractButton* LDisclosureTriangle::NewButton(QWidget* inParent) {
  auto* button = new QToolButton(inParent);
  button->setAutoRaise(true);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  return button;
}

void LDisclosureTriangle::ValueChanged() {
  if (auto* button = static_cast<QToolButton*>(PeekWidget())) button->setArrowType(mValue ? Qt::DownArrow : Qt::RightArrow);
}

// ---- LIconControl

namespace {

// A label that reports a click released over it.
class ClickableLabel : public QLabel {
 public:
  ClickableLabel(QWidget* inParent, std::function<void()> inClicked) : QLabel(inParent), mClicked(std::move(inClicked)) {}

 protected:
  void mousePressEvent(QMouseEvent* inEvent) override { inEvent->accept(); }
  void mouseReleaseEvent(QMouseEvent* inEvent) override {
    if (inEvent->button() == Qt::LeftButton && rect().contains(inEvent->position().toPoint())) mClicked();
  }

 private:
  std::function<void()> mClicked;
};

}  // namespace

LIconControl::LIconControl(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, SInt16 inIconID)
    : LControl(inPaneInfo, inControlInfo), mIconID(inIconID) {}

LIconControl::LIconControl(LStream* inStream) : LControl(inStream) { *inStream >> mIconID; }

void LIconControl::SetIconID(SInt16 inIconID) {
  mIconID = inIconID;
  if (auto* label = static_cast<QLabel*>(PeekWidget())) label->setPixmap(UControlSupport::LoadIcon(mIconID));
}

Boolean LIconControl::HasIcon() const { return !UControlSupport::LoadIcon(mIconID).isNull(); }

void LIconControl::HotSpotResult(SInt16) { BroadcastValueMessage(); }

QWidget* LIconControl::MakeWidget(QWidget* inParent) {
  auto* label = new ClickableLabel(inParent, [this] {
    if (IsEnabled()) HotSpotResult(1);
  });
  label->setAlignment(Qt::AlignCenter);
  QPixmap icon = UControlSupport::LoadIcon(mIconID);
  if (!icon.isNull() && (icon.width() > mWidth || icon.height() > mHeight))
    icon = icon.scaled(mWidth, mHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  label->setPixmap(icon);
  return label;
}
