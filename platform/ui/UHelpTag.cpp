#include "platform/ui/UHelpTag.h"

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QToolTip>

#include "platform/ui/UQtSupport.h"

namespace {

QPointer<QLabel> gTag;
bool gMouseGiven = false;
Point gMouse = {0, 0};
bool gButton = false;

QLabel* Tag() {
  if (!gTag) {
    // The desktop's tool-tip look, painted by the label itself.
    auto* tag = new QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    tag->setObjectName("helpTag");
    tag->setAttribute(Qt::WA_ShowWithoutActivating);
    tag->setAttribute(Qt::WA_TransparentForMouseEvents);
    tag->setForegroundRole(QPalette::ToolTipText);
    tag->setBackgroundRole(QPalette::ToolTipBase);
    tag->setPalette(QToolTip::palette());
    tag->setFont(QToolTip::font());
    tag->setAutoFillBackground(true);
    tag->setMargin(1);
    tag->setIndent(2);
    gTag = tag;
  }
  return gTag;
}

}  // namespace

void UHelpTag::Show(const std::string& inText, Point inGlobalTopLeft, SInt16 inWidth, SInt16 inHeight) {
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QLabel* tag = Tag();
    tag->setText(QString::fromUtf8(inText.c_str()));
    QSize hint = tag->sizeHint();
    tag->setGeometry(inGlobalTopLeft.h, inGlobalTopLeft.v, std::max<int>(inWidth, hint.width()),
                     std::max<int>(inHeight, hint.height()));
    tag->setWindowOpacity(1.0);
    tag->show();
  });
}

void UHelpTag::SetOpacity(float inOpacity) {
  UQt::OnMain([&] {
    if (gTag) gTag->setWindowOpacity(inOpacity);
  });
}

void UHelpTag::Hide() {
  UQt::OnMain([] {
    if (gTag) gTag->hide();
  });
}

Boolean UHelpTag::IsShown() { return gTag && gTag->isVisible(); }

std::string UHelpTag::GetText() { return gTag ? gTag->text().toStdString() : std::string(); }

QWidget* UHelpTag::GetWidget() { return gTag.data(); }

Rect UHelpTag::GetScreenBounds(Point inGlobalPoint) {
  QRect area(0, 0, 1024, 768);
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QScreen* screen = QGuiApplication::screenAt(QPoint(inGlobalPoint.h, inGlobalPoint.v));
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) area = screen->availableGeometry();
  });
  return Rect{static_cast<SInt16>(area.top()), static_cast<SInt16>(area.left()),
              static_cast<SInt16>(area.top() + area.height()), static_cast<SInt16>(area.left() + area.width())};
}

void UHelpTag::GetMouse(Point& outGlobal, Boolean& outButtonDown) {
  if (gMouseGiven) {
    outGlobal = gMouse;
    outButtonDown = gButton;
    return;
  }
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QPoint p = QCursor::pos();
    outGlobal = Point{static_cast<SInt16>(p.y()), static_cast<SInt16>(p.x())};
    outButtonDown = QGuiApplication::mouseButtons() != Qt::NoButton;
  });
}

void UHelpTag::SetMouse(Point inGlobal, Boolean inButtonDown) {
  gMouseGiven = true;
  gMouse = inGlobal;
  gButton = inButtonDown;
}

void UHelpTag::ClearMouse() { gMouseGiven = false; }
