#include "platform/ui/LProgressBar.h"

#include <QFrame>
#include <QPainter>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QTimer>

#include "platform/framework/LStream.h"

// ---- LProgressBar

LProgressBar::LProgressBar(const SPaneInfo& inPaneInfo, const SControlInfo& inControlInfo, Boolean inIndeterminate)
    : LControl(inPaneInfo, inControlInfo), mIndeterminate(inIndeterminate) {}

LProgressBar::LProgressBar(LStream* inStream) : LControl(inStream) {
  UInt8 indeterminate = 0;
  *inStream >> indeterminate;
  mIndeterminate = indeterminate != 0;
}

void LProgressBar::SetIndeterminate(Boolean inIndeterminate) {
  mIndeterminate = inIndeterminate;
  ShowRange();
}

void LProgressBar::SetMinValue(SInt32 inMin) {
  LControl::SetMinValue(inMin);
  ShowRange();
}

void LProgressBar::SetMaxValue(SInt32 inMax) {
  LControl::SetMaxValue(inMax);
  ShowRange();
}

QWidget* LProgressBar::MakeWidget(QWidget* inParent) {
  auto* bar = new QProgressBar(inParent);
  bar->setTextVisible(false);
  bar->setOrientation(mWidth >= mHeight ? Qt::Horizontal : Qt::Vertical);
  mWidget = bar;
  ShowRange();
  return bar;
}

void LProgressBar::ShowRange() {
  auto* bar = static_cast<QProgressBar*>(PeekWidget());
  if (bar == nullptr) return;
  // A range of 0 to 0 is Qt's moving bar.
  if (mIndeterminate) bar->setRange(0, 0);
  else bar->setRange(mMinValue, std::max(mMinValue, mMaxValue));
  if (!mIndeterminate) bar->setValue(mValue);
}

void LProgressBar::ValueChanged() {
  auto* bar = static_cast<QProgressBar*>(PeekWidget());
  if (bar != nullptr && !mIndeterminate) bar->setValue(mValue);
}

// ---- LChasingArrows

namespace {

constexpr int kArrowDots = 8;

// A ring of dots whose bright dot goes round while the widget shows.
class ChasingArrows : public QWidget {
 public:
  explicit ChasingArrows(QWidget* inParent) : QWidget(inParent) {
    mTimer.setInterval(100);
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
      ++mStep;
      update();
    });
  }
  SInt32 Step() const { return mStep; }

 protected:
  void showEvent(QShowEvent*) override { mTimer.start(); }
  void hideEvent(QHideEvent*) override { mTimer.stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const double radius = side * 0.36, dot = side * 0.11;
    p.translate(width() / 2.0, height() / 2.0);
    QColor ink = palette().color(QPalette::WindowText);
    for (int i = 0; i < kArrowDots; ++i) {
      int age = (mStep - i + 2 * kArrowDots) % kArrowDots;
      QColor c = ink;
      c.setAlphaF(1.0 - 0.8 * age / kArrowDots);
      p.setBrush(c);
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPointF(0, -radius), dot, dot);
      p.rotate(360.0 / kArrowDots);
    }
  }

 private:
  QTimer mTimer;
  SInt32 mStep = 0;
};

}  // namespace

SInt32 LChasingArrows::GetStep() const {
  auto* arrows = dynamic_cast<ChasingArrows*>(PeekWidget());
  return arrows ? arrows->Step() : 0;
}

QWidget* LChasingArrows::MakeWidget(QWidget* inParent) { return new ChasingArrows(inParent); }

// ---- LSeparatorLine

QWidget* LSeparatorLine::MakeWidget(QWidget* inParent) {
  auto* line = new QFrame(inParent);
  line->setFrameShape(mWidth >= mHeight ? QFrame::HLine : QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

void LSeparatorLine::FrameChanged() {
  LPane::FrameChanged();
  if (auto* line = static_cast<QFrame*>(PeekWidget())) line->setFrameShape(mWidth >= mHeight ? QFrame::HLine : QFrame::VLine);
}
