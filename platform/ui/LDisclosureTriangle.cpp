#include "platform/ui/LDisclosureTriangle.h"

#include <QSignalBlocker>
#include <QToolButton>

#include "platform/ui/UQtSupport.h"

namespace {
void Range(LControl& ioControl) {
  ioControl.SetMinValue(0);
  ioControl.SetMaxValue(1);
}
}  // namespace

LDisclosureTriangle::LDisclosureTriangle(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo)
    : LControl(inPaneInfo, inControlInfo) {
  Range(*this);
}

LDisclosureTriangle::LDisclosureTriangle(LStream* inStream) : LControl(inStream) { Range(*this); }

void LDisclosureTriangle::HotSpotResult(SInt16) { SetValue(mValue == 0 ? 1 : 0); }

QWidget* LDisclosureTriangle::MakeWidget(QWidget* inParent) {
  auto* button = new QToolButton(inParent);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::TabFocus);
  QObject::connect(button, &QToolButton::clicked, [this] { HotSpotResult(1); });
  mWidget = button;
  ValueChanged();
  return button;
}

void LDisclosureTriangle::ValueChanged() {
  auto* button = static_cast<QToolButton*>(PeekWidget());
  if (!button) return;
  const bool open = mValue != 0;
  UQt::OnMain([button, open] {
    QSignalBlocker block(button);
    button->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
  });
}
