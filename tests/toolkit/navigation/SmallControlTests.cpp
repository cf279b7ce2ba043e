#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "NavTestFixture.h"
#include "toolkit/CRegularWindow.h"
#include "platform/base/Clock.h"
#include "platform/framework/LHandleStream.h"
#include "platform/framework/LListener.h"
#include "platform/ui/LMenu.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UResponder.h"
#include "toolkit/LClickAttachment.h"
#include "toolkit/LClickText.h"
#include "toolkit/LGotoButton.h"
#include "toolkit/LStepButton.h"

namespace {

// Writes down the messages it hears with the SInt32 behind the parameter;
// it fills a menu it is given.
class Heard : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    SInt32 value = 0;
    if (inMessage == mFillMessage && ioParam) {
      auto* menu = static_cast<LMenu*>(ioParam);
      menu->RemoveAllItems();
      menu->AppendItem("Start");
      menu->AppendItem("End");
      if (mControl) mValueWhileShown = mControl->GetValue();
    } else if (ioParam && inMessage != 812) {
      value = *static_cast<SInt32*>(ioParam);
    }
    messages.emplace_back(inMessage, value);
  }
  std::vector<std::pair<MessageT, SInt32>> messages;
  MessageT mFillMessage = 0;
  LControl* mControl = nullptr;
  SInt32 mValueWhileShown = -1;
};

typedef std::vector<std::pair<MessageT, SInt32>> Messages;

class SmallControlTest : public NavTestFixture {
 protected:
  void SetUp() override {
    NavTestFixture::SetUp();
    // One shown window at a time: the offscreen desktop keeps passing the
    // activation between two windows the program activates in turn.
    mWindow->Hide();
    mControls = UReanimator::CreateWindow(9101, &mApp);
    mControls->Show();
    UiTest::Pump(10);
  }
  Point Centre(LPane* inPane) {
    Rect r;
    inPane->CalcPortFrameRect(r);
    return Point{static_cast<SInt16>((r.top + r.bottom) / 2), static_cast<SInt16>((r.left + r.right) / 2)};
  }
  LWindow* mControls = nullptr;
};

}  // namespace

// Held for a second: one broadcast at the press, then one on every pass
// after the first half second; the release adds none.
TEST_F(SmallControlTest, AStepButtonRepeatsWhileHeld) {
  StManualClock clock;
  auto* step = dynamic_cast<LStepButton*>(mControls->FindPaneByID(20));
  ASSERT_NE(step, nullptr);
  Heard heard;
  step->AddListener(&heard);
  step->BeginTracking(Centre(step), 0);
  EXPECT_EQ(heard.messages.size(), 1u);
  EXPECT_TRUE(step->IsRepeating());
  EventRecord null;
  for (int ticks = 5; ticks <= 60; ticks += 5) {
    UClock::AdvanceTicks(5);
    step->SpendTime(null);
  }
  EXPECT_EQ(heard.messages.size(), 7u);  // the press, then 35, 40 … 60 ticks
  for (auto& [message, value] : heard.messages) EXPECT_EQ(message, 20);
  step->EndTracking(Centre(step));
  UClock::AdvanceTicks(5);
  step->SpendTime(null);
  EXPECT_EQ(heard.messages.size(), 7u);
  EXPECT_FALSE(step->IsRepeating());

  // A quick click of the real button: one broadcast, even after a long hold before.
  heard.messages.clear();
  QWidget* widget = step->GetWidget();
  QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(10, 10));
  UClock::AdvanceTicks(5);
  UiTest::Pump(5);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(10, 10));
  UiTest::Pump(5);
  EXPECT_EQ(heard.messages, (Messages{{20, 0}}));
  EXPECT_FALSE(step->IsTracking());
}

// The go-to button: the listener fills MENU 143, the item chosen is
// broadcast; a dismissed menu broadcasts only the fill; without an
// update-menu message the menu shows as loaded.
TEST_F(SmallControlTest, AGotoButtonPopsUpTheMenuItsListenerFills) {
  auto* go = dynamic_cast<LGotoButton*>(mControls->FindPaneByID(21));
  ASSERT_NE(go, nullptr);
  Heard heard;
  heard.mFillMessage = 160;
  go->AddListener(&heard);
  go->SetUpdateMenuMessage(160);
  UResponder::Script(question_PopupMenu, SAnswer::Choice(2));
  go->SimulateHotSpotClick(1);
  ASSERT_EQ(heard.messages.size(), 2u);
  EXPECT_EQ(heard.messages[0].first, 160);
  EXPECT_EQ(heard.messages[1], (std::pair<MessageT, SInt32>{21, 2}));
  SQuestion asked = UResponder::GetLog().back();
  EXPECT_EQ(asked.choices, (std::vector<std::string>{"Start", "End"}));
  Rect frame = mControls->GetGlobalBounds();
  EXPECT_EQ(asked.where.h, frame.left + 80);
  EXPECT_EQ(asked.where.v, frame.top + 150 + 24 + 4);

  heard.messages.clear();
  UResponder::Script(question_PopupMenu, SAnswer::Cancel());
  go->SimulateHotSpotClick(1);
  EXPECT_EQ(heard.messages.size(), 1u);
  EXPECT_EQ(heard.messages[0].first, 160);

  heard.messages.clear();
  go->SetUpdateMenuMessage(kNoUpdateMenuMessage);
  UResponder::Script(question_PopupMenu, SAnswer::Choice(1));
  go->SimulateHotSpotClick(1);
  EXPECT_EQ(UResponder::GetLog().back().choices, (std::vector<std::string>{"Beginning", "End"}));
  EXPECT_EQ(heard.messages, (Messages{{21, 1}}));
}

// The pop-up attachment does the same for any control, which shows value 1
// while the menu is up; the control's own click does not run.
TEST_F(SmallControlTest, APopupMenuAttachmentPopsUpOnTheControlsClick) {
  auto* button = dynamic_cast<LControl*>(mControls->FindPaneByID(23));
  ASSERT_NE(button, nullptr);
  auto* popup = new LPopupMenuAttachment(button, 170, 171);
  button->AddAttachment(popup);
  Heard heard;
  heard.mFillMessage = 170;
  heard.mControl = button;
  popup->AddListener(&heard);
  button->SetMaxValue(1);
  UResponder::Script(question_PopupMenu, SAnswer::Choice(1));
  SMouseDownEvent click;
  click.whereLocal = click.wherePort = Centre(button);
  button->Click(click);
  EXPECT_EQ(heard.mValueWhileShown, 1);
  EXPECT_EQ(button->GetValue(), 0);
  ASSERT_EQ(heard.messages.size(), 2u);
  EXPECT_EQ(heard.messages[1], (std::pair<MessageT, SInt32>{171, 1}));
  EXPECT_FALSE(button->IsTracking());  // the button's own click did not run
}

// A click attachment broadcasts its message with the parameter of what it
// executed; from a layout stream it reads the message after its own record.
TEST_F(SmallControlTest, AClickAttachmentTurnsAClickIntoABroadcast) {
  auto* host = dynamic_cast<LControl*>(mControls->FindPaneByID(23));
  auto* click = new LClickAttachment(msg_Click, false);
  click->SetBroadcastMessage(77);
  MessageT message = 0;
  click->GetBroadcastMessage(message);
  EXPECT_EQ(message, 77);
  struct : LListener {
    std::vector<std::pair<MessageT, void*>> heard;
    void ListenToMessage(MessageT inMessage, void* ioParam) override { heard.emplace_back(inMessage, ioParam); }
  } heard;
  click->AddListener(&heard);
  host->AddAttachment(click);
  SMouseDownEvent mouse;
  host->Click(mouse);
  ASSERT_EQ(heard.heard.size(), 1u);
  EXPECT_EQ(heard.heard[0].first, 77);
  EXPECT_EQ(heard.heard[0].second, &mouse);

  LHandleStream stream;
  stream << static_cast<SInt32>(812) << static_cast<UInt8>(1) << static_cast<UInt32>('Clik');
  stream.SetMarker(0, streamFrom_Start);
  LAttachable::SetDefaultAttachable(nullptr);
  LClickAttachment fromStream(&stream);
  fromStream.GetBroadcastMessage(message);
  EXPECT_EQ(message, 'Clik');
  EXPECT_EQ(fromStream.GetMessage(), 812);
  EXPECT_TRUE(fromStream.GetExecuteHost());
}

// The click text: pressed, it shows its hot style; released outside it
// broadcasts nothing and shows plain; released inside it broadcasts. The
// pointing hand shows over it.
TEST_F(SmallControlTest, AClickTextActsAsALink) {
  auto* link = dynamic_cast<LClickText*>(mControls->FindPaneByID(22));
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->GetValueMessage(), 22);
  EXPECT_EQ(link->GetHotTextTraitsID(), 131);
  Heard heard;
  link->AddListener(&heard);
  Point inside = Centre(link);
  Point outside = {static_cast<SInt16>(inside.v + 100), inside.h};
  link->BeginTracking(inside);
  EXPECT_EQ(link->GetShownTextTraitsID(), 131);
  EXPECT_EQ(link->GetTextTraitsID(), 130);
  link->ContinueTracking(outside);
  EXPECT_EQ(link->GetShownTextTraitsID(), 130);
  link->EndTracking(outside);
  EXPECT_TRUE(heard.messages.empty());
  EXPECT_EQ(link->GetShownTextTraitsID(), 130);

  // The real widget pressed and released over the text.
  QWidget* widget = link->GetWidget();
  QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(link->GetShownTextTraitsID(), 131);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(heard.messages, (Messages{{22, 0}}));
  EXPECT_EQ(link->GetShownTextTraitsID(), 130);

  EventRecord event;
  link->AdjustMouse(inside, event, nullptr);
  EXPECT_EQ(UCursor::Get(), cursor_PointingHand);
  link->AdjustMouse(outside, event, nullptr);
  EXPECT_EQ(UCursor::Get(), cursor_Arrow);
}
