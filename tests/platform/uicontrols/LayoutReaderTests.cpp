#include <gtest/gtest.h>

#include <QWidget>
#include <set>

#include "ControlsFixture.h"
#include "platform/base/Endian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/framework/LHandleStream.h"
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
#include "platform/ui/URegistrar.h"

namespace {

// The class ids a compiled layout names, walking its records.
std::vector<ClassIDT> ClassesIn(Handle inLayout) {
  std::vector<ClassIDT> ids;
  const char* p = *inLayout;
  const char* end = p + GetHandleSize(inLayout);
  while (p + 4 <= end) {
    UInt32 tag = ReadBE32(p);
    p += 4;
    if (tag == kLayoutEndOfDataTag) break;
    if (tag != kLayoutObjectTag) continue;
    if (p + 8 > end) break;
    SInt32 length = static_cast<SInt32>(ReadBE32(p));
    ids.push_back(static_cast<ClassIDT>(ReadBE32(p + 4)));
    p += 4 + length;
  }
  return ids;
}

Handle LayoutBytes(const std::string& inSourceBytes) {
  Handle h = nullptr;
  PtrToHand(inSourceBytes.data(), &h, static_cast<SInt32>(inSourceBytes.size()));
  return h;
}

// Counts its deletions, to see attachments freed with their host.
class CountingAttachment : public LAttachment {
 public:
  static constexpr ClassIDT class_ID = 'ClkA';
  explicit CountingAttachment(LStream* inStream) : LAttachment(inStream) { *inStream >> mBroadcast; }
  ~CountingAttachment() override { ++sDeleted; }
  SInt32 mBroadcast = 0;
  static int sDeleted;
};
int CountingAttachment::sDeleted = 0;

}  // namespace

// Every framework class (lower-case id) that a layout of the bundle or of
// the tests names creates its pane; application classes (upper-case ids)
// are checked where the application registers them.
TEST_F(ControlsTest, EveryFrameworkClassTheLayoutsUseCreatesItsPane) {
  std::set<ClassIDT> used;
  SInt16 count = CountResources(kLayoutResType);
  ASSERT_GE(count, 1);
  for (SInt16 i = 1; i <= count; ++i) {
    Handle layout = GetIndResource(kLayoutResType, i);
    ASSERT_NE(layout, nullptr);
    for (ClassIDT id : ClassesIn(layout)) used.insert(id);
    ReleaseResource(layout);
  }
  for (ClassIDT id : used) {
    char name[5] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id), 0};
    if (name[0] >= 'A' && name[0] <= 'Z') continue;
    EXPECT_TRUE(URegistrar::IsRegistered(id)) << name;
  }
  // The sample layout names every control class.
  for (ClassIDT id : {'pbut', 'cbox', 'rbut', 'radg', 'popb', 'slid', 'etxt', 'edit', 'stxt', 'capt', 'bbut', 'icnp',
                      'pbar', 'carr', 'sepl', 'txtv', 'tabg', 'dtri', 'view', 'wind'})
    EXPECT_TRUE(used.count(id)) << id;

  // Each layout of the bundle and the tests builds whole when it uses only
  // framework classes.
  for (SInt16 i = 1; i <= count; ++i) {
    Handle layout = GetIndResource(kLayoutResType, i);
    ResID resID = 0;
    ResType type = 0;
    Str255 name;
    GetResInfo(layout, &resID, &type, name);
    bool framework = true;
    for (ClassIDT id : ClassesIn(layout)) framework = framework && URegistrar::IsRegistered(id);
    ReleaseResource(layout);
    if (!framework) continue;
    LPane* top = UReanimator::ReadObjects(resID, nullptr);
    EXPECT_NE(top, nullptr) << resID;
    delete top;
  }
}

TEST_F(ControlsTest, PanesOfTheLayoutAreFoundWithTheirClassesAndValues) {
  LWindow* window = BuildEveryControl();
  EXPECT_EQ(window->GetTitle(), "Every Control");
  SDimension16 size;
  window->GetFrameSize(size);
  EXPECT_EQ(size.width, 520);
  EXPECT_EQ(size.height, 440);
  const std::vector<std::pair<PaneIDT, ClassIDT>> expected = {
      {2, 'pbut'},  {3, 'cbox'},  {4, 'radg'},  {41, 'rbut'},  {42, 'rbut'}, {43, 'rbut'}, {5, 'popb'},
      {6, 'slid'},  {7, 'etxt'},  {8, 'edit'},  {9, 'stxt'},   {10, 'capt'}, {11, 'bbut'}, {12, 'bbut'},
      {13, 'icnp'}, {14, 'pbar'}, {15, 'pbar'}, {16, 'carr'},  {17, 'sepl'}, {18, 'txtv'}, {19, 'tabg'},
      {191, 'view'}, {192, 'stxt'}, {193, 'view'}, {194, 'stxt'}, {20, 'pbut'}, {21, 'pbut'}, {22, 'dtri'}};
  for (auto [id, cls] : expected) {
    LPane* pane = window->FindPaneByIDOrNil(id);
    ASSERT_NE(pane, nullptr) << id;
    EXPECT_EQ(pane->GetClassID(), cls) << id;
    EXPECT_NE(pane->PeekWidget(), nullptr) << id;
  }
  EXPECT_EQ(window->FindPaneByIDOrNil(999), nullptr);
  EXPECT_THROW(window->FindPaneByID(999), LException);

  auto* check = dynamic_cast<LCheckBox*>(window->FindPaneByID(3));
  EXPECT_EQ(check->GetValue(), 1);
  EXPECT_EQ(check->GetMaxValue(), 2);
  EXPECT_EQ(check->GetText(), "Check Me");
  EXPECT_EQ(check->GetValueMessage(), 3);
  auto* group = dynamic_cast<LRadioGroup*>(window->FindPaneByID(4));
  EXPECT_EQ(group->GetCurrentRadioID(), 41);
  auto* popup = dynamic_cast<LPopupButton*>(window->FindPaneByID(5));
  EXPECT_EQ(popup->GetValue(), 2);
  EXPECT_EQ(popup->CountItems(), 3);
  EXPECT_EQ(popup->GetCurrentItemText(), "Best");
  EXPECT_EQ(popup->GetText(), "Mode:");
  auto* slider = dynamic_cast<LSlider*>(window->FindPaneByID(6));
  EXPECT_EQ(slider->GetValue(), 30);
  EXPECT_EQ(slider->GetMaxValue(), 100);
  auto* number = dynamic_cast<LEditText*>(window->FindPaneByID(7));
  EXPECT_EQ(number->GetValue(), 42);
  EXPECT_EQ(number->GetMaxChars(), 6);
  EXPECT_EQ(number->GetKeyFilter(), kKeyFilterInteger);
  auto* text = dynamic_cast<LStaticText*>(window->FindPaneByID(9));
  EXPECT_EQ(text->GetText(), "Static Text Here");
  EXPECT_EQ(text->GetTextTraitsID(), 131);
  auto* bevel = dynamic_cast<LBevelButton*>(window->FindPaneByID(11));
  EXPECT_EQ(bevel->GetContentKind(), kBevelContentIcon);
  EXPECT_TRUE(bevel->HasContentImage());
  EXPECT_TRUE(dynamic_cast<LBevelButton*>(window->FindPaneByID(12))->HasContentImage());
  EXPECT_TRUE(dynamic_cast<LIconControl*>(window->FindPaneByID(13))->HasIcon());
  EXPECT_TRUE(dynamic_cast<LProgressBar*>(window->FindPaneByID(15))->IsIndeterminate());
  EXPECT_EQ(dynamic_cast<LTextEditView*>(window->FindPaneByID(18))->GetText(), "Text View line one\nline two, read only");
  auto* tabs = dynamic_cast<LTabGroup*>(window->FindPaneByID(19));
  EXPECT_EQ(tabs->CountTabs(), 2);
  EXPECT_EQ(tabs->GetValue(), 1);
  EXPECT_TRUE(window->FindPaneByID(191)->IsVisible());
  EXPECT_FALSE(window->FindPaneByID(193)->IsVisible());
  // Reading the layout broadcast nothing and left no defaults behind.
  EXPECT_EQ(LPane::GetDefaultView(), nullptr);
  EXPECT_EQ(LAttachable::GetDefaultAttachable(), nullptr);
}

TEST_F(ControlsTest, TheLinkListConnectsTheLayoutsBroadcasters) {
  LWindow* window = BuildEveryControl();
  MessageLog log;
  EXPECT_EQ(UReanimator::LinkListenerToBroadcasters(&log, window, 9000), 14);
  dynamic_cast<LControl*>(window->FindPaneByID(6))->SetValue(55);
  dynamic_cast<LControl*>(window->FindPaneByID(2))->SimulateHotSpotClick(1);
  dynamic_cast<LRadioGroup*>(window->FindPaneByID(4))->SetCurrentRadioID(43);
  dynamic_cast<LTabGroup*>(window->FindPaneByID(19))->SetValue(2);
  const std::vector<std::pair<MessageT, SInt32>> heard = {{6, 55}, {2, 0}, {4, 43}, {19, 2}};
  EXPECT_EQ(log.heard, heard);
  // Panes the list does not name are not linked: the caption never was a
  // broadcaster, the second tab's text is not in the list.
  EXPECT_FALSE(dynamic_cast<LBroadcaster*>(window->FindPaneByID(10)));
  // No link list: nothing linked.
  MessageLog none;
  EXPECT_EQ(UReanimator::LinkListenerToBroadcasters(&none, window, 9999), 0);
}

TEST_F(ControlsTest, BindingsHoldWhenTheWindowIsResized) {
  LWindow* window = BuildEveryControl();
  auto frameOf = [&](PaneIDT id) {
    Rect r;
    window->FindPaneByID(id)->CalcPortFrameRect(r);
    return r;
  };
  Rect ok0 = frameOf(20), line0 = frameOf(17), text0 = frameOf(18), tabs0 = frameOf(19), page0 = frameOf(191),
       push0 = frameOf(2);
  window->ResizeWindowBy(100, 60);
  UiTest::Pump(10);
  Rect ok = frameOf(20), line = frameOf(17), text = frameOf(18), tabs = frameOf(19), page = frameOf(191),
       push = frameOf(2);
  // Bound right and bottom: moves with the corner.
  EXPECT_EQ(ok.left - ok0.left, 100);
  EXPECT_EQ(ok.top - ok0.top, 60);
  EXPECT_EQ(ok.right - ok.left, ok0.right - ok0.left);
  // Bound left, top, right: wider only.
  EXPECT_EQ(line.right - line0.right, 100);
  EXPECT_EQ(line.left, line0.left);
  EXPECT_EQ(line.bottom, line0.bottom);
  // Bound left, top, bottom: taller only.
  EXPECT_EQ(text.bottom - text0.bottom, 60);
  EXPECT_EQ(text.right, text0.right);
  // A view bound on all sides grows, and so does its page bound on all sides.
  EXPECT_EQ(tabs.right - tabs0.right, 100);
  EXPECT_EQ(tabs.bottom - tabs0.bottom, 60);
  EXPECT_EQ(page.right - page0.right, 100);
  EXPECT_EQ(page.bottom - page0.bottom, 60);
  // Unbound: stays.
  EXPECT_EQ(push.left, push0.left);
  EXPECT_EQ(push.top, push0.top);
  // The widgets follow the model.
  QWidget* okWidget = window->FindPaneByID(20)->PeekWidget();
  EXPECT_EQ(okWidget->mapTo(window->PeekWidget(), QPoint(0, 0)), QPoint(ok.left, ok.top));
  EXPECT_EQ(okWidget->width(), ok.right - ok.left);
  QWidget* textWidget = window->FindPaneByID(18)->PeekWidget();
  EXPECT_EQ(textWidget->height(), text.bottom - text.top);
}

TEST_F(ControlsTest, DamagedAndUnknownLayoutsFailCleanly) {
  // Missing layout.
  try {
    UReanimator::ReadObjects(static_cast<ResIDT>(4321), nullptr);
    ADD_FAILURE();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_NilPointer);
  }
  Handle layout = GetResource(kLayoutResType, 9000);
  ASSERT_NE(layout, nullptr);
  const std::string whole(*layout, static_cast<size_t>(GetHandleSize(layout)));
  ReleaseResource(layout);
  // Cut short anywhere: an error, everything built is freed (the sanitizer
  // build sees leaks), the defaults restored.
  for (size_t cut : {size_t(6), whole.size() / 3, whole.size() / 2, whole.size() - 5}) {
    LHandleStream stream(LayoutBytes(whole.substr(0, cut)));
    EXPECT_THROW(UReanimator::ReadObjects(&stream, nullptr), LException) << cut;
    EXPECT_EQ(LPane::GetDefaultView(), nullptr);
  }
  // A class nobody registered.
  URegistrar::UnregisterClass('slid');
  LHandleStream stream(LayoutBytes(whole));
  try {
    UReanimator::ReadObjects(&stream, nullptr);
    ADD_FAILURE();
  } catch (const LException& e) {
    EXPECT_EQ(e.GetErrorCode(), err_LayoutClassNotRegistered);
  }
}

TEST_F(ControlsTest, AttachmentsInALayoutJoinTheirHost) {
  TRegistrar<CountingAttachment>::Register();
  CountingAttachment::sDeleted = 0;
  LPane* top = UReanimator::ReadObjects(9001, nullptr);
  LPane* button = top->FindPaneByID(2);
  EXPECT_EQ(button->CountAttachments(), 1);
  EXPECT_EQ(top->CountAttachments(), 1);
  delete top;
  EXPECT_EQ(CountingAttachment::sDeleted, 2);
}
