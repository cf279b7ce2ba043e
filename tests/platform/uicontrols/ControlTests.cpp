#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <set>
#include <QToolButton>

#include "ControlsFixture.h"
#include "platform/ui/LButtons.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LProgressBar.h"
#include "platform/ui/LRadioGroup.h"
#include "platform/ui/LSlider.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTabGroup.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/LayoutFormat.h"
#include "platform/ui/UReanimator.h"

namespace {

template <class W>
W* WidgetOf(LWindow* inWindow, PaneIDT inID) {
  return dynamic_cast<W*>(inWindow->FindPaneByID(inID)->PeekWidget());
}

template <class T>
T* PaneOf(LWindow* inWindow, PaneIDT inID) {
  return dynamic_cast<T*>(inWindow->FindPaneByID(inID));
}

// Pixels of the image inside the rectangle that differ clearly from the
// colour at its top-left corner (the background there).
int InkPixels(const QImage& inImage, const QRect& inRect) {
  QRect r = inRect.intersected(inImage.rect());
  if (r.isEmpty()) return 0;
  QRgb background = inImage.pixel(r.topLeft());
  int ink = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) {
      QRgb p = inImage.pixel(x, y);
      if (std::abs(qGray(p) - qGray(background)) > 60) ++ink;
    }
  return ink;
}

}  // namespace

// The user's changes go through the model and broadcast; the program's own
// SetValue broadcasts as LControl does, edit fields' programmatic texts do not.
TEST_F(ControlsTest, UsersChangesBroadcastTheValueMessage) {
  LWindow* window = BuildEveryControl();
  MessageLog log;
  UReanimator::LinkListenerToBroadcasters(&log, window, 9000);

  QTest::mouseClick(WidgetOf<QCheckBox>(window, 3), Qt::LeftButton);
  EXPECT_EQ(PaneOf<LCheckBox>(window, 3)->GetValue(), 0);
  QTest::mouseClick(WidgetOf<QCheckBox>(window, 3), Qt::LeftButton);
  EXPECT_EQ(PaneOf<LCheckBox>(window, 3)->GetValue(), 1);
  EXPECT_EQ(WidgetOf<QCheckBox>(window, 3)->checkState(), Qt::Checked);

  // Radio buttons: clicking the second turns the first off; clicking it
  // again keeps it on and says nothing.
  QTest::mouseClick(WidgetOf<QRadioButton>(window, 42), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QRadioButton>(window, 42), Qt::LeftButton);
  EXPECT_EQ(PaneOf<LRadioButton>(window, 41)->GetValue(), 0);
  EXPECT_EQ(PaneOf<LRadioButton>(window, 42)->GetValue(), 1);
  EXPECT_FALSE(WidgetOf<QRadioButton>(window, 41)->isChecked());
  EXPECT_TRUE(WidgetOf<QRadioButton>(window, 42)->isChecked());
  EXPECT_EQ(PaneOf<LRadioGroup>(window, 4)->GetCurrentRadioID(), 42);

  // The popup: the keyboard chooses the next item; a disabled item is refused.
  auto* combo = WidgetOf<QWidget>(window, 5)->findChild<QComboBox*>();
  ASSERT_NE(combo, nullptr);
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(PaneOf<LPopupButton>(window, 5)->GetValue(), 3);
  EXPECT_EQ(PaneOf<LPopupButton>(window, 5)->GetCurrentItemText(), "Draft");
  PaneOf<LPopupButton>(window, 5)->EnableItem(1, false);
  PaneOf<LPopupButton>(window, 5)->ChooseItem(1);
  EXPECT_EQ(PaneOf<LPopupButton>(window, 5)->GetValue(), 3);
  EXPECT_EQ(combo->currentIndex(), 2);

  // The slider, by the keyboard.
  QTest::keyClick(WidgetOf<QSlider>(window, 6), Qt::Key_Right);
  EXPECT_EQ(PaneOf<LSlider>(window, 6)->GetValue(), 31);

  // A tab chosen on the tab bar shows its page.
  auto* bar = WidgetOf<QWidget>(window, 19)->findChild<QTabBar*>();
  ASSERT_NE(bar, nullptr);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(PaneOf<LTabGroup>(window, 19)->GetValue(), 2);
  EXPECT_FALSE(window->FindPaneByID(191)->IsVisible());
  EXPECT_TRUE(window->FindPaneByID(193)->IsVisible());
  EXPECT_TRUE(window->FindPaneByID(194)->PeekWidget()->isVisible());

  // A toggling bevel button flips; a push bevel says its message each time.
  QTest::mouseClick(WidgetOf<QToolButton>(window, 11), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QToolButton>(window, 12), Qt::LeftButton);
  EXPECT_EQ(PaneOf<LBevelButton>(window, 11)->GetValue(), 1);
  EXPECT_TRUE(WidgetOf<QToolButton>(window, 11)->isChecked());
  // The icon control, clicked; the disclosure triangle opened.
  QTest::mouseClick(WidgetOf<QWidget>(window, 13), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QToolButton>(window, 22), Qt::LeftButton);
  EXPECT_EQ(WidgetOf<QToolButton>(window, 22)->arrowType(), Qt::DownArrow);

  const std::vector<std::pair<MessageT, SInt32>> heard = {{3, 0},  {3, 1},  {4, 42}, {5, 3},  {6, 31},
                                                          {19, 2}, {11, 1}, {12, 0}, {13, 0}, {22, 1}};
  EXPECT_EQ(log.heard, heard);

  // The program's own changes: controls broadcast as SetValue does, the
  // edit field's text set by the program stays quiet.
  log.heard.clear();
  PaneOf<LCheckBox>(window, 3)->SetValue(2);
  EXPECT_EQ(WidgetOf<QCheckBox>(window, 3)->checkState(), Qt::PartiallyChecked);
  PaneOf<LEditField>(window, 7)->SetValue(640);
  PaneOf<LEditField>(window, 8)->SetText("set by the program");
  EXPECT_EQ(WidgetOf<QLineEdit>(window, 7)->text(), "640");
  const std::vector<std::pair<MessageT, SInt32>> programs = {{3, 2}};
  EXPECT_EQ(log.heard, programs);
}

// The smoke test of real widgets: a click on a push button reaches its
// listener, typing into a field with a key filter keeps what it takes.
TEST_F(ControlsTest, SmokeClickAPushButtonAndTypeIntoFilteredFields) {
  LWindow* window = BuildEveryControl();
  MessageLog log;
  UReanimator::LinkListenerToBroadcasters(&log, window, 9000);
  QTest::mouseClick(WidgetOf<QPushButton>(window, 2), Qt::LeftButton);
  QTest::mouseClick(WidgetOf<QPushButton>(window, 20), Qt::LeftButton);
  const std::vector<std::pair<MessageT, SInt32>> clicks = {{2, 0}, {900, 0}};
  EXPECT_EQ(log.heard, clicks);
  // A disabled button does nothing.
  PaneOf<LPushButton>(window, 21)->Disable();
  QTest::mouseClick(WidgetOf<QPushButton>(window, 21), Qt::LeftButton);
  EXPECT_EQ(log.heard.size(), 2u);

  // Integer filter, at most 6 bytes: letters and signs refused.
  log.heard.clear();
  auto* number = WidgetOf<QLineEdit>(window, 7);
  number->setFocus();
  number->selectAll();
  QTest::keyClicks(number, "12a-3x45678");
  EXPECT_EQ(number->text(), "123456");
  EXPECT_EQ(PaneOf<LEditText>(window, 7)->GetText(), "123456");
  EXPECT_EQ(PaneOf<LEditText>(window, 7)->GetValue(), 123456);
  ASSERT_EQ(log.heard.size(), 6u);  // one broadcast per character kept
  EXPECT_EQ(log.heard.back(), (std::pair<MessageT, SInt32>{7, 123456}));
  QTest::keyClick(number, Qt::Key_Backspace);
  EXPECT_EQ(PaneOf<LEditText>(window, 7)->GetValue(), 12345);

  // A minus only in front, and pasted text filtered as typing is.
  auto* field = PaneOf<LEditField>(window, 8);
  field->SetKeyFilter(kKeyFilterNegativeInteger);
  field->SetText("");
  auto* edit = WidgetOf<QLineEdit>(window, 8);
  edit->setFocus();
  QTest::keyClicks(edit, "-5-0");
  EXPECT_EQ(field->GetText(), "-50");
  EXPECT_EQ(field->GetValue(), -50);
  EXPECT_EQ(field->UserEdited("7a8\x01-9"), "789");
  EXPECT_EQ(edit->text(), "789");
  // Printing characters keep UTF-8 whole within the byte limit.
  field->SetKeyFilter(kKeyFilterPrintingChar);
  field->SetMaxChars(5);
  EXPECT_EQ(field->UserEdited("\xC3\xA9\xC3\xA9\xC3\xA9"), "\xC3\xA9\xC3\xA9");
}

TEST_F(ControlsTest, TextViewProgressAndPopupItemsFollowTheProgram) {
  LWindow* window = BuildEveryControl();
  auto* view = PaneOf<LTextEditView>(window, 18);
  const char report[] = "Frames: 10\rDuration: 2 s\r";
  view->SetTextPtr(report, sizeof(report) - 1);
  view->SetFontSize(0, 0x7FFFFFFF, 10);
  EXPECT_EQ(view->GetText(), "Frames: 10\nDuration: 2 s\n");
  EXPECT_EQ(view->GetFontSizeAt(3), 10);
  auto* edit = WidgetOf<QTextEdit>(window, 18);
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->toPlainText(), "Frames: 10\nDuration: 2 s\n");
  QTextCursor cursor(edit->document());
  cursor.setPosition(4);
  EXPECT_EQ(cursor.charFormat().fontPointSize(), 10);
  // Typing into a read-only view changes nothing.
  QTest::keyClicks(edit, "zz");
  EXPECT_EQ(view->GetText(), "Frames: 10\nDuration: 2 s\n");

  // Unlocked by its data tag, the view takes typing; locked again, it keeps it.
  Boolean locked = false;
  EXPECT_EQ(view->SetDataTag(0, kControlEditTextLockedTag, 1, &locked), noErr);
  EXPECT_FALSE(edit->isReadOnly());
  edit->moveCursor(QTextCursor::End);
  QTest::keyClicks(edit, "ok");
  locked = true;
  EXPECT_EQ(view->SetDataTag(0, kControlEditTextLockedTag, 1, &locked), noErr);
  EXPECT_EQ(view->GetText(), "Frames: 10\nDuration: 2 s\nok");

  // The small control size makes the texts smaller, normal puts them back.
  auto* check = PaneOf<LCheckBox>(window, 3);
  const double normalPoints = WidgetOf<QCheckBox>(window, 3)->font().pointSizeF();
  SInt16 size = kControlSizeSmall;
  EXPECT_EQ(check->SetDataTag(0, kControlSizeTag, 2, &size), noErr);
  EXPECT_LT(WidgetOf<QCheckBox>(window, 3)->font().pointSizeF(), normalPoints);
  size = kControlSizeNormal;
  EXPECT_EQ(check->SetDataTag(0, kControlSizeTag, 2, &size), noErr);
  EXPECT_EQ(WidgetOf<QCheckBox>(window, 3)->font().pointSizeF(), normalPoints);
  size = 7;
  EXPECT_EQ(check->SetDataTag(0, kControlSizeTag, 2, &size), paramErr);
  size = kControlSizeSmall;
  EXPECT_EQ(PaneOf<LSlider>(window, 6)->SetDataTag(0, kControlSizeTag, 2, &size), noErr);
  EXPECT_EQ(PaneOf<LSlider>(window, 6)->SetDataTag(0, 'what', 2, &size), errDataNotSupported);

  auto* bar = PaneOf<LProgressBar>(window, 14);
  bar->SetValue(70);
  EXPECT_EQ(WidgetOf<QProgressBar>(window, 14)->value(), 70);
  bar->SetValue(500);  // clamped
  EXPECT_EQ(bar->GetValue(), 100);
  bar->SetIndeterminate(true);
  EXPECT_EQ(WidgetOf<QProgressBar>(window, 14)->maximum(), 0);

  auto* popup = PaneOf<LPopupButton>(window, 5);
  popup->SetItems({"Progressive", "-", "Upper first", "Lower first"});
  EXPECT_EQ(popup->GetMaxValue(), 4);
  popup->SetValue(4);
  EXPECT_EQ(popup->GetCurrentItemText(), "Lower first");
  auto* combo = WidgetOf<QWidget>(window, 5)->findChild<QComboBox*>();
  EXPECT_EQ(combo->currentText(), "Lower first");
  EXPECT_FALSE(popup->IsItemEnabled(5));
  popup->DeleteAllItems();
  EXPECT_EQ(popup->GetValue(), 0);
  EXPECT_EQ(popup->GetCurrentItemText(), "");

  PaneOf<LPushButton>(window, 2)->SetText("Stop");
  EXPECT_EQ(WidgetOf<QPushButton>(window, 2)->text(), "Stop");
  Str255 title;
  PaneOf<LStaticText>(window, 9)->SetDescriptor(reinterpret_cast<const unsigned char*>("\x05Ready"));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(PaneOf<LStaticText>(window, 9)->GetDescriptor(title)) + 1, 5),
            "Ready");
  EXPECT_EQ(WidgetOf<QLabel>(window, 9)->text(), "Ready");

  // The busy indicator turns while it is shown.
  auto* arrows = PaneOf<LChasingArrows>(window, 16);
  SInt32 before = arrows->GetStep();
  UiTest::PumpUntil([&] { return arrows->GetStep() > before + 1; }, 2000);
  EXPECT_GT(arrows->GetStep(), before + 1);
}

// Photographs of the window: not blank, and ink where every text should be.
TEST_F(ControlsTest, ScreenshotShowsEveryControl) {
  LWindow* window = BuildEveryControl();
  QImage shot = UiTest::Screenshot(window->PeekWidget(), "every-control");
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.width() / shot.devicePixelRatio(), 520);
  QImage image = shot.convertToFormat(QImage::Format_RGB32).scaled(520, 440);
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 20u);

  for (PaneIDT id : {2, 3, 41, 42, 43, 5, 7, 8, 9, 10, 11, 18, 19, 20, 21, 22}) {
    QWidget* w = window->FindPaneByID(id)->PeekWidget();
    QRect r(w->mapTo(window->PeekWidget(), QPoint(0, 0)), w->size());
    EXPECT_GT(InkPixels(image, r), 15) << "pane " << id;
  }
  // Each text control's widget shows the layout's text.
  EXPECT_EQ(WidgetOf<QPushButton>(window, 2)->text(), "Push Me");
  EXPECT_EQ(WidgetOf<QCheckBox>(window, 3)->text(), "Check Me");
  EXPECT_EQ(WidgetOf<QRadioButton>(window, 42)->text(), "Radio Two");
  EXPECT_EQ(WidgetOf<QLabel>(window, 10)->text(), "Caption Here");
  EXPECT_EQ(WidgetOf<QLineEdit>(window, 8)->text(), "Edit Field");
  EXPECT_EQ(WidgetOf<QToolButton>(window, 11)->text(), "Bevel");
  // The picture bevel shows red.
  QWidget* pict = window->FindPaneByID(12)->PeekWidget();
  QImage pictShot = pict->grab().toImage();
  int red = 0;
  for (int y = 0; y < pictShot.height(); ++y)
    for (int x = 0; x < pictShot.width(); ++x) {
      QColor c = pictShot.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++red;
    }
  EXPECT_GT(red, 200);

  PaneOf<LTabGroup>(window, 19)->SetValue(2);
  UiTest::Pump(10);
  UiTest::Screenshot(window->PeekWidget(), "every-control-second-tab");
}
