// The movie window as the user meets it, driven through its widgets: a
// click on the slider's indicator, the Loop play mode, windows kept on the
// screen, a collapsed window called back from the Window menu, the help
// window brought forward, and a paused window that paints nothing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <vector>

#include "app/CMovieDocument.h"
#include "app/CMovieView.h"
#include "app/CTimeSlider.h"
#include "app/MovieDocumentTestSupport.h"
#include "app/TremblorixAppParts.h"
#include "media/CMovie.h"
#include "platform/framework/LListener.h"
#include "platform/ui/HelpBook.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/UWindowState.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/CWindowMenu.h"

using namespace movie_document_testing;

namespace {

struct SliderLog : LListener {
  int moved = 0;
  void ListenToMessage(MessageT inMessage, void*) override { moved += inMessage == msg_SliderTimeSet; }
};

// Counts the paints a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* inWidget) : QObject(inWidget) { inWidget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* inEvent) override {
    if (inEvent->type() == QEvent::Paint) ++paints;
    return false;
  }
};

QPoint WidgetPoint(LPane* inPane, Point inPortPoint) {
  Rect frame;
  inPane->CalcPortFrameRect(frame);
  return QPoint(inPortPoint.h - frame.left, inPortPoint.v - frame.top);
}

// The window's whole frame (its border, menu bar and drawer room included),
// global coordinates: the frame starts where the window was moved to.
Rect FrameOf(LWindow* inWindow) {
  const Rect content = inWindow->GetGlobalBounds();
  const Rect margins = UWindowState::GetFrameMargins(inWindow);
  const SInt16 left = static_cast<SInt16>(content.left - inWindow->GetFrameInsetLeft());
  return Rect{content.top, left,
              static_cast<SInt16>(content.bottom + margins.top + margins.bottom),
              static_cast<SInt16>(left + (content.right - content.left) + margins.left + margins.right)};
}

// A window manager for the offscreen desktop, which has none: it decorates
// each top-level window with a title bar and borders once the window is
// shown, and Qt hears of it by a move event, as from a real one reparenting
// the window a moment after it was mapped. Until then nothing tells the
// program how large the decoration will be.
class SimulatedWindowManager : public QObject {
 public:
  static constexpr SInt16 kTitle = 24, kSide = 2, kBottom = 6;
  SimulatedWindowManager() {
    UWindowState::SetDecorationSource([this](const QWidget* inFrame) {
      return IsDecorated(inFrame) ? Rect{kTitle, kSide, kBottom, kSide} : Rect{0, 0, 0, 0};
    });
    qApp->installEventFilter(this);
  }
  ~SimulatedWindowManager() override {
    qApp->removeEventFilter(this);
    UWindowState::SetDecorationSource(nullptr);
  }
  bool IsDecorated(const QWidget* inFrame) const {
    for (const QPointer<QWidget>& w : mDecorated)
      if (w == inFrame) return true;
    return false;
  }

 protected:
  bool eventFilter(QObject* inObject, QEvent* inEvent) override {
    auto* widget = qobject_cast<QWidget*>(inObject);
    if (inEvent->type() == QEvent::Show && widget && widget->isWindow() && !IsDecorated(widget)) {
      QPointer<QWidget> frame(widget);
      QMetaObject::invokeMethod(
          this,
          [this, frame] {
            if (!frame || !frame->isVisible()) return;
            mDecorated.push_back(frame);
            QMoveEvent moved(frame->pos(), frame->pos());
            QApplication::sendEvent(frame.data(), &moved);
          },
          Qt::QueuedConnection);
    }
    return false;
  }

 private:
  std::vector<QPointer<QWidget>> mDecorated;
};

Rect Available() {
  const QRect a = QGuiApplication::primaryScreen()->availableGeometry();
  return Rect{static_cast<SInt16>(a.top()), static_cast<SInt16>(a.left()), static_cast<SInt16>(a.top() + a.height()),
              static_cast<SInt16>(a.left() + a.width())};
}

class MovieWindowTest : public DocumentFixture {
 protected:
  void TearDown() override {
    if (mOwnMenu) {
      CloseAllDocuments();
      CWindowMenu::mWindowMenu = nullptr;
      delete mOwnMenu;
      mOwnMenu = nullptr;
    }
    DocumentFixture::TearDown();
  }
  CWindowMenu* mOwnMenu = nullptr;
};

TEST_F(MovieWindowTest, AClickOnTheSliderIndicatorWithoutMovingLeavesTheMovieWhereItWas) {
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 30);
  CMovieDocument* doc = OpenShown("m.mov");
  CTimeSlider* slider = doc->GetTimeSlider();
  ASSERT_NE(slider, nullptr);
  // A time between two pixels' worth of time: snapping it would move it.
  SInt32 time = 0;
  for (SInt32 t = 101; t < 500; ++t)
    if (slider->PositionToValue(slider->ValueToPosition(t)) != t) {
      time = t;
      break;
    }
  ASSERT_NE(time, 0);
  doc->GetMovie()->GotoTime(time);
  ASSERT_TRUE(PumpUntil([&] { return slider->GetValue() == time; }));
  SliderLog log;
  slider->AddListener(&log);
  Rect indicator;
  slider->CalcIndicatorRect(indicator, slider->GetValue());
  const QPoint on = WidgetPoint(slider, Point{static_cast<SInt16>(indicator.top + 8), static_cast<SInt16>(indicator.left + 6)});
  QWidget* widget = slider->GetWidget();
  QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, on);
  QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, on);
  Pump(50);
  EXPECT_FALSE(slider->IsDragging());
  EXPECT_EQ(log.moved, 0);
  EXPECT_EQ(doc->GetMovie()->GetTimeValue(), time);
  EXPECT_EQ(slider->GetValue(), time);
  slider->RemoveListener(&log);
}

TEST_F(MovieWindowTest, LoopChosenFromTheOptionsMenuPlaysTheMovieAgainFromItsStart) {
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 30);  // half a second
  CMovieDocument* doc = OpenShown("m.mov");
  LMenu menu(3030, "Options");
  doc->ListenToMessage(msg_OptionsPopulate, &menu);
  SInt32 loopItem = 0;
  for (SInt16 i = 1; i <= menu.CountItems(); ++i)
    if (menu.GetItem(i).text == "Loop") loopItem = i;
  ASSERT_NE(loopItem, 0);
  doc->ListenToMessage(msg_OptionsChosen, &loopItem);
  EXPECT_TRUE(doc->GetMovie()->GetOptions() & kMovieOption_Loop);
  QTest::keyClick(doc->GetWindow()->GetWidget(), Qt::Key_Space);
  ASSERT_TRUE(PumpUntil([&] { return doc->GetMovie()->IsPlaying(); }));
  CMovie* movie = doc->GetMovie();
  const SInt32 duration = movie->GetDuration();
  // Past the middle, then back before it: it went round.
  ASSERT_TRUE(PumpUntil([&] { return movie->GetTimeValue() > duration / 2; }, 20000));
  EXPECT_TRUE(PumpUntil([&] { return movie->GetTimeValue() < duration / 2; }, 20000));
  EXPECT_TRUE(movie->IsPlaying());
  movie->StopPlaying();
}

// The toolbar's options button, clicked as the user does: its menu holds the
// document's items with their marks, and its Loop item makes playing go round.
TEST_F(MovieWindowTest, TheOptionsButtonOpensTheDocumentsMenuAndItsLoopItemLoops) {
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 30);  // half a second
  CMovieDocument* doc = OpenShown("m.mov");
  LPane* options = doc->GetWindow()->FindPaneByID(kPaneOptionsPopup);
  ASSERT_NE(options, nullptr);
  QWidget* widget = options->GetWidget();
  ASSERT_NE(widget, nullptr);
  auto* button = qobject_cast<QAbstractButton*>(widget);
  if (!button) button = widget->findChild<QAbstractButton*>();
  ASSERT_NE(button, nullptr) << "the options control is no button that pops up a menu";
  // Opens the menu, answers it with inChoice (0: dismissed) and returns the menu shown.
  auto pop = [&](SInt32 inChoice) {
    UResponder::Script(question_PopupMenu, inChoice ? SAnswer::Choice(inChoice) : SAnswer::Cancel());
    const size_t before = UResponder::GetLog().size();
    QTest::mouseClick(button, Qt::LeftButton);
    Pump(20);
    SQuestion shown;
    const std::vector<SQuestion> log = UResponder::GetLog();
    for (size_t i = before; i < log.size(); ++i)
      if (log[i].kind == question_PopupMenu) shown = log[i];
    return shown;
  };
  SQuestion menu = pop(0);
  SInt32 loopItem = 0;
  for (size_t i = 0; i < menu.choices.size(); ++i)
    if (menu.choices[i] == "Loop") loopItem = static_cast<SInt32>(i + 1);
  ASSERT_NE(loopItem, 0);
  ASSERT_GE(menu.checked.size(), static_cast<size_t>(loopItem));
  EXPECT_FALSE(menu.checked[static_cast<size_t>(loopItem - 1)]);
  CMovie* movie = doc->GetMovie();
  EXPECT_FALSE(movie->GetOptions() & kMovieOption_Loop);
  pop(loopItem);
  EXPECT_TRUE(movie->GetOptions() & kMovieOption_Loop);
  EXPECT_FALSE(movie->GetOptions() & kMovieOption_PlaySelection);
  menu = pop(0);
  ASSERT_GE(menu.checked.size(), static_cast<size_t>(loopItem));
  EXPECT_TRUE(menu.checked[static_cast<size_t>(loopItem - 1)]);
  QTest::keyClick(doc->GetWindow()->GetWidget(), Qt::Key_Space);
  ASSERT_TRUE(PumpUntil([&] { return movie->IsPlaying(); }));
  const SInt32 duration = movie->GetDuration();
  ASSERT_TRUE(PumpUntil([&] { return movie->GetTimeValue() > duration / 2; }, 20000));
  EXPECT_TRUE(PumpUntil([&] { return movie->GetTimeValue() < duration / 2; }, 20000));
  EXPECT_TRUE(movie->IsPlaying());
  movie->StopPlaying();
  // Chosen again, Loop is off.
  pop(loopItem);
  EXPECT_FALSE(movie->GetOptions() & kMovieOption_Loop);
}

// The picture is smaller than the movie's inWidth x inHeight and of its shape.
void ExpectShrunkToItsShape(CMovieDocument* inDoc, SInt32 inWidth, SInt32 inHeight) {
  SDimension32 image;
  inDoc->GetMovieView()->GetImageSize(image);
  ASSERT_GT(image.height, 0);
  EXPECT_LT(image.width, inWidth);
  EXPECT_NEAR(static_cast<double>(image.width) / image.height, static_cast<double>(inWidth) / inHeight, 0.02);
}

TEST_F(MovieWindowTest, NewWindowsAndALargeMovieStayInsideTheScreen) {
  const Rect area = Available();
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 2);
  for (int k = 0; k < 24; ++k) {
    CMovieDocument* doc = OpenShown("m.mov");
    const Rect frame = FrameOf(doc->GetWindow());
    EXPECT_GE(frame.left, area.left) << k;
    EXPECT_GE(frame.top, area.top) << k;
    EXPECT_LE(frame.right, area.right) << k;
    EXPECT_LE(frame.bottom, area.bottom) << k;
  }
  CloseAllDocuments();
  // A movie larger than the screen opens smaller, with its shape kept.
  const SInt32 w = area.right - area.left + 400, h = (area.right - area.left + 400) * 9 / 16;
  WriteQuickTimeMovie(Path("big.mov"), w, h, 2);
  CMovieDocument* doc = OpenShown("big.mov");
  // (Its content: the border it is given only once shown is not known when it is sized.)
  const Rect frame = doc->GetWindow()->GetGlobalBounds();
  EXPECT_GE(frame.left, area.left);
  EXPECT_GE(frame.top, area.top);
  EXPECT_LE(frame.right, area.right);
  EXPECT_LE(frame.bottom, area.bottom);
  ExpectShrunkToItsShape(doc, w, h);
}

// The whole frame (decoration and menu bar included) lies within the area.
bool FrameInside(LWindow* inWindow, const Rect& inArea) {
  const Rect frame = FrameOf(inWindow);
  return frame.left >= inArea.left && frame.top >= inArea.top && frame.right <= inArea.right &&
         frame.bottom <= inArea.bottom;
}

TEST_F(MovieWindowTest, ALargeMovieFitsWithTheFrameTheWindowManagerGivesItOnceShown) {
  // Document windows carry the program's menus, as in the program.
  LMenuBar* bar = new LMenuBar(128);
  SimulatedWindowManager manager;
  const Rect area = Available();
  const SInt32 w = area.right - area.left + 400, h = w * 9 / 16;
  WriteQuickTimeMovie(Path("big.mov"), w, h, 2);
  // The first window: no other shows the decoration it will get.
  CMovieDocument* doc = OpenShown("big.mov");
  CRegularWindow* window = doc->GetWindow();
  ASSERT_TRUE(PumpUntil([&] { return manager.IsDecorated(window->GetFrameWidget()); }));
  const Rect margins = UWindowState::GetFrameMargins(window);
  EXPECT_GE(margins.top, SimulatedWindowManager::kTitle + 1);  // the title bar and the menu bar
  EXPECT_TRUE(PumpUntil([&] { return FrameInside(window, area); }))
      << "frame " << FrameOf(window).top << "," << FrameOf(window).left << "," << FrameOf(window).bottom << ","
      << FrameOf(window).right << " area " << area.bottom << "," << area.right;
  ExpectShrunkToItsShape(doc, w, h);
  // Shrunk only as far as needed: the frame touches the area's bottom or its right.
  const Rect frame = FrameOf(window);
  EXPECT_TRUE(frame.bottom - frame.top >= area.bottom - area.top - 2 || frame.right - frame.left >= area.right - area.left - 2);

  // A second one is sized with the decoration known beforehand.
  WriteQuickTimeMovie(Path("big2.mov"), w, h, 2);
  CMovieDocument* second = OpenShown("big2.mov");
  ASSERT_TRUE(PumpUntil([&] { return manager.IsDecorated(second->GetWindow()->GetFrameWidget()); }));
  EXPECT_TRUE(PumpUntil([&] { return FrameInside(second->GetWindow(), area); }));

  // A movie that fits with its frame still opens at its own size.
  WriteQuickTimeMovie(Path("small.mov"), 160, 120, 2);
  CMovieDocument* small = OpenShown("small.mov");
  ASSERT_TRUE(PumpUntil([&] { return manager.IsDecorated(small->GetWindow()->GetFrameWidget()); }));
  Pump(50);
  SDimension32 image;
  small->GetMovieView()->GetImageSize(image);
  EXPECT_EQ(image.width, 160);
  EXPECT_EQ(image.height, 120);
  EXPECT_TRUE(FrameInside(small->GetWindow(), area));
  CloseAllDocuments();
  delete bar;
}

TEST_F(MovieWindowTest, NewWindowsCascadeAndStartAgainAtTheTopOfTheScreen) {
  SimulatedWindowManager manager;
  const Rect area = Available();
  // Windows a little over half the area's height: a few steps down, then
  // the cascade has to start again.
  const SInt32 h = (area.bottom - area.top) * 6 / 10;
  WriteQuickTimeMovie(Path("m.mov"), h * 4 / 3, h, 2);
  std::vector<CMovieDocument*> docs;
  int wrapped = 0;
  for (int k = 0; k < 12; ++k) {
    docs.push_back(OpenShown("m.mov"));
    CRegularWindow* window = docs.back()->GetWindow();
    ASSERT_TRUE(PumpUntil([&] { return manager.IsDecorated(window->GetFrameWidget()); })) << k;
    Pump(20);
    EXPECT_TRUE(FrameInside(window, area)) << k;
    if (k == 0) continue;
    const Rect now = FrameOf(window), before = FrameOf(docs[k - 1]->GetWindow());
    const bool stepped = now.left == before.left + 22 && now.top == before.top + 22;
    const bool atTop = now.left == area.left && now.top == area.top;
    EXPECT_TRUE(stepped || atTop) << k << ": at " << now.left << "," << now.top << " after " << before.left << ","
                                  << before.top;
    wrapped += atTop;
  }
  EXPECT_GE(wrapped, 1);
  CloseAllDocuments();
}

TEST_F(MovieWindowTest, ACollapsedWindowComesBackFromTheWindowMenu) {
  if (!CWindowMenu::mWindowMenu) {
    mOwnMenu = new CWindowMenu(MENU_Window, "Window");
    mOwnMenu->AppendItem("Collapse", cmd_CollapseWindow);
    CWindowMenu::mWindowMenu = mOwnMenu;
  }
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 2);
  CMovieDocument* first = OpenShown("m.mov");
  CMovieDocument* second = OpenShown("m.mov");
  CRegularWindow* window = first->GetWindow();
  window->SetCollapsed(true);
  ASSERT_TRUE(PumpUntil([&] { return window->IsCollapsed(); }));
  const SInt16 item = CWindowMenu::mWindowMenu->WindowToMenuItem(window);
  ASSERT_GT(item, 0);
  const CommandT command = -((static_cast<SInt32>(MENU_Window) << 16) | item);
  EXPECT_TRUE(CWindowMenu::ObeyWindowCommand(command));
  EXPECT_TRUE(PumpUntil([&] { return !window->IsCollapsed(); }));
  EXPECT_EQ(UDesktop::FetchTopRegular(), window);
  (void)second;
}

TEST_F(MovieWindowTest, TremblorixHelpBringsItsWindowInFrontOfTheMovieWindow) {
  ASSERT_EQ(AppParts::InitHelp(), noErr);
  WriteQuickTimeMovie(Path("m.mov"), 96, 64, 2);
  CMovieDocument* doc = OpenShown("m.mov");
  // What Help > Tremblorix Help shows.
  AppParts::GotoHelpPage("index.html");
  ASSERT_TRUE(PumpUntil([] { return UHelpViewer::GetWindow() && UHelpViewer::GetWindow()->isVisible(); }));
  LWindow* help = nullptr;
  for (LWindow* w : UDesktop::GetWindows())
    if (w->GetFrameWidget() == UHelpViewer::GetWindow()) help = w;
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return UDesktop::FetchTopRegular() == help; }));
  // The movie window goes in front; asking for help again brings the help
  // window back in front of it.
  doc->GetWindow()->Select();
  ASSERT_TRUE(PumpUntil([&] { return UDesktop::FetchTopRegular() == doc->GetWindow(); }));
  AppParts::GotoHelpPage("index.html");
  EXPECT_TRUE(PumpUntil([&] { return UDesktop::FetchTopRegular() == help; }));
  EXPECT_TRUE(help->IsVisible());
  UHelpViewer::Reset();
}

TEST_F(MovieWindowTest, APausedWindowPaintsNothing) {
  WriteMp4(Path("m.mp4"), 320, 240, 10);
  CMovieDocument* doc = OpenShown("m.mp4");
  CMovieView* view = doc->GetMovieView();
  CMovie* movie = doc->GetMovie();
  movie->GotoTime(60);
  // Its frame is drawn first.
  Pump(300);
  PaintCounter counter(view->GetWidget());
  Pump(1000);
  EXPECT_FALSE(movie->IsPlaying());
  EXPECT_LE(counter.paints, 1);
  // A new time is painted.
  movie->GotoTime(120);
  EXPECT_TRUE(PumpUntil([&] { return counter.paints > 0; }));
}

}  // namespace
