#include "app/CColorPickerPane.h"

#include <memory>

#include "platform/graphics/QuickDraw.h"
#include "platform/ui/UResponder.h"
#include "toolkit/ULocalization.h"

CColorPickerPane::CColorPickerPane(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo)
    : LBevelButton(inPaneInfo, inControlInfo, "", 0, 0, false),
      mPicking(std::make_shared<Boolean>(false)),
      mSelf(std::make_shared<CColorPickerPane*>(this)) {}

CColorPickerPane::CColorPickerPane(LStream* inStream)
    : LBevelButton(inStream), mPicking(std::make_shared<Boolean>(false)), mSelf(std::make_shared<CColorPickerPane*>(this)) {}

CColorPickerPane::~CColorPickerPane() { *mSelf = nullptr; }

// The swatch draws itself; the click tracking is the control's own.
QWidget* CColorPickerPane::MakeWidget(QWidget* inParent) { return LPane::MakeWidget(inParent); }

void CColorPickerPane::SetColor(const RGBColor& inColor) {
  mColor = inColor;
  Refresh();
}

void CColorPickerPane::DrawSelf() {
  Rect frame;
  CalcLocalFrameRect(frame);
  const RGBColor face = IsEnabled() ? RGBColor{0xEEEE, 0xEEEE, 0xEEEE} : RGBColor{0xF6F6, 0xF6F6, 0xF6F6};
  RGBForeColor(&face);
  PaintRect(&frame);
  const RGBColor edge = {0x9999, 0x9999, 0x9999};
  RGBForeColor(&edge);
  FrameRect(&frame);
  Rect swatch = frame;
  InsetRect(&swatch, 4, 4);
  RGBForeColor(&mColor);
  PaintRect(&swatch);
  const RGBColor black = {0, 0, 0};
  RGBForeColor(&black);
}

void CColorPickerPane::HotSpotResult(SInt16 inHotSpot) {
  if (*mPicking) return;
  SQuestion question;
  question.kind = question_Color;
  char prompt[256];
  ULocalization::GetString(prompt, STRx_ColorPicker, 1);
  question.title = prompt;
  question.message = prompt;
  question.color = mColor;
  question.parent = GetWindow();
  *mPicking = true;
  auto self = mSelf;
  auto picking = mPicking;
  UResponder::Ask(question, [self, picking, inHotSpot](const SAnswer& inAnswer) {
    *picking = false;
    CColorPickerPane* pane = *self;
    if (!pane || inAnswer.cancelled) return;
    pane->SetColor(inAnswer.color);
    pane->LBevelButton::HotSpotResult(inHotSpot);
  });
}
