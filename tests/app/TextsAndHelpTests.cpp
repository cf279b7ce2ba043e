// The words the program shows: every text of the bundle and every exporter
// name reaches the widgets as valid UTF-8; the about box's texts fit their
// frames; failures the user can provoke name their cause; one spelling of
// "stabilisation" and a help book that agrees with what the program opens;
// and help tags on the drawer's and the movie window's controls.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>

#include "MovieDocumentTestSupport.h"
#include "SessionTestMovies.h"
#include "app/CMovieDocument.h"
#include "app/TremblorixApp.h"
#include "media/CMovie.h"
#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Bundle.h"
#include "platform/files/Resources.h"
#include "platform/movies/MovieExport.h"
#include "platform/ui/LControl.h"
#include "platform/ui/LPopupButton.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UHelpTag.h"
#include "platform/ui/UReanimator.h"
#include "platform/ui/UResponder.h"
#include "platform/ui/USheetWindows.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"
#include "toolkit/LCustomDialogSheet.h"
#include "toolkit/LMouseHelpTracker.h"
#include "toolkit/UMessage.h"

using namespace sessiontest;

namespace {

// Valid UTF-8 that decodes without a replacement character and encodes back
// to the same bytes.
::testing::AssertionResult CleanUtf8(const std::string& inBytes) {
  const QString text = QString::fromUtf8(inBytes.data(), static_cast<qsizetype>(inBytes.size()));
  if (text.contains(QChar(0xFFFD))) return ::testing::AssertionFailure() << "replacement character in \"" << inBytes << "\"";
  if (text.toUtf8() != QByteArray(inBytes.data(), static_cast<qsizetype>(inBytes.size())))
    return ::testing::AssertionFailure() << "\"" << inBytes << "\" does not round-trip";
  return ::testing::AssertionSuccess();
}

// The texts a widget and its children show.
void CollectWidgetTexts(QWidget* inWidget, std::vector<std::string>& ioTexts) {
  if (!inWidget) return;
  ioTexts.push_back(inWidget->windowTitle().toStdString());
  ioTexts.push_back(inWidget->toolTip().toStdString());
  if (auto* l = qobject_cast<QLabel*>(inWidget)) ioTexts.push_back(l->text().toStdString());
  if (auto* b = qobject_cast<QAbstractButton*>(inWidget)) ioTexts.push_back(b->text().toStdString());
  if (auto* g = qobject_cast<QGroupBox*>(inWidget)) ioTexts.push_back(g->title().toStdString());
  if (auto* e = qobject_cast<QLineEdit*>(inWidget)) ioTexts.push_back(e->text().toStdString());
  if (auto* c = qobject_cast<QComboBox*>(inWidget))
    for (int i = 0; i < c->count(); ++i) ioTexts.push_back(c->itemText(i).toStdString());
  for (QObject* child : inWidget->children())
    if (auto* w = qobject_cast<QWidget*>(child)) CollectWidgetTexts(w, ioTexts);
}

std::string Lower(std::string inText) {
  std::transform(inText.begin(), inText.end(), inText.begin(), [](unsigned char c) { return std::tolower(c); });
  return inText;
}

std::string ReadFile(const std::string& inPath) {
  std::ifstream in(inPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every 'STR#' item of the bundle, as "list/item: text".
std::vector<std::pair<std::string, std::string>> AllStringItems() {
  std::vector<std::pair<std::string, std::string>> items;
  const SInt16 lists = CountResources('STR#');
  for (SInt16 i = 1; i <= lists; ++i) {
    Handle h = GetIndResource('STR#', i);
    if (!h) continue;
    ResID id = 0;
    ResType type = 0;
    Str255 name;
    GetResInfo(h, &id, &type, name);
    const SInt32 size = GetHandleSize(h);
    const UInt8* p = reinterpret_cast<const UInt8*>(*h);
    const SInt32 count = size >= 2 ? (p[0] << 8 | p[1]) : 0;
    for (SInt16 k = 1; k <= count; ++k)
      items.emplace_back(std::to_string(id) + "/" + std::to_string(k), IndString(id, k));
  }
  return items;
}

class TextsAndHelpTest : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    RegisterLayoutClasses();
    TremblorixApp::RegisterClasses();
  }
  void TearDown() override {
    UHelpTag::ClearMouse();
    if (doc) {
      doc->EndEditSession(false);
      doc->Close();
      doc = nullptr;
    }
    DocumentFixture::TearDown();
  }
  CMovieDocument* doc = nullptr;
};

}  // namespace

// The texts of the string lists, the menus, every layout and the exporters'
// names, read from the widgets that show them.
TEST_F(TextsAndHelpTest, EveryBundleTextAndExporterNameIsCleanUtf8) {
  const auto items = AllStringItems();
  ASSERT_GT(items.size(), 100u);
  for (const auto& [where, text] : items) EXPECT_TRUE(CleanUtf8(text)) << "STR# " << where;

  // Every layout of the bundle, built into its widgets.
  std::vector<std::string> texts;
  const SInt16 layouts = CountResources('PPob');
  ASSERT_GT(layouts, 10);
  for (SInt16 i = 1; i <= layouts; ++i) {
    Handle h = GetIndResource('PPob', i);
    ASSERT_NE(h, nullptr);
    ResID id = 0;
    ResType type = 0;
    Str255 name;
    GetResInfo(h, &id, &type, name);
    SCOPED_TRACE(id);
    try {
      std::unique_ptr<LWindow> window(UReanimator::CreateWindow(id, nullptr));
      if (!window) continue;
      window->Show();
      CollectWidgetTexts(window->GetFrameWidget(), texts);
    } catch (const LException&) {
      // A pane layout (the export controls) is not a window: its texts are in the resource itself.
    }
  }
  ASSERT_GT(texts.size(), 50u);
  for (const std::string& text : texts) EXPECT_TRUE(CleanUtf8(text));

  // The exporters' names, as the export sheet's pop-up shows them.
  std::vector<std::string> names;
  const ItemCount count = CountMovieExporters();
  for (ItemCount i = 1; i <= count; ++i) {
    ComponentDescription desc{};
    Str255 name;
    ASSERT_EQ(GetMovieExporterInfo(i, &desc, name), noErr);
    names.emplace_back(reinterpret_cast<const char*>(name + 1), name[0]);
  }
  ASSERT_FALSE(names.empty());
  SPaneInfo pane;
  pane.width = 240;
  pane.height = 22;
  SWindowInfo info;
  info.width = 300;
  info.height = 60;
  LWindow window(info);
  pane.superView = &window;
  SControlInfo control;
  control.minValue = 1;
  control.maxValue = static_cast<SInt32>(names.size());
  control.value = 1;
  auto* popup = new LPopupButton(pane, control, "Export:", names);
  window.Show();
  auto* combo = popup->GetWidget()->findChild<QComboBox*>();
  if (!combo) combo = qobject_cast<QComboBox*>(popup->GetWidget());
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->count(), static_cast<int>(names.size()));
  bool sawMuLaw = false;
  for (int i = 0; i < combo->count(); ++i) {
    const std::string shown = combo->itemText(i).toStdString();
    EXPECT_TRUE(CleanUtf8(names[static_cast<size_t>(i)])) << i;
    EXPECT_EQ(shown, names[static_cast<size_t>(i)]);
    sawMuLaw = sawMuLaw || combo->itemText(i) == QString::fromUtf8("\xC2\xB5Law");
  }
  EXPECT_TRUE(sawMuLaw);
}

// Every text of the about box fits the frame the layout gives it.
TEST_F(TextsAndHelpTest, TheAboutBoxTextsFitTheirFrames) {
  std::unique_ptr<LWindow> box(UReanimator::CreateWindow(601, nullptr));
  ASSERT_NE(box, nullptr);
  box->Show();
  UiTest::Pump(30);
  int labels = 0;
  for (QLabel* label : box->GetFrameWidget()->findChildren<QLabel*>()) {
    if (label->text().isEmpty() || !label->isVisible()) continue;
    ++labels;
    SCOPED_TRACE(label->text().toStdString());
    if (label->wordWrap()) {
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
    } else {
      EXPECT_LE(label->sizeHint().width(), label->width());
      EXPECT_LE(label->sizeHint().height(), label->height() + 2);
    }
  }
  EXPECT_GE(labels, 3);
  UiTest::Screenshot(box->GetFrameWidget(), "texts_about_box");
}

// Every code the movie toolbox, the codec layer, the system services and
// the program define has a text of its own; the failures a user can cause
// (a file that holds no movie, a movie cut short) name
// their cause (a failed export: the export client's tests).
TEST_F(TextsAndHelpTest, ProvokedFailuresNameTheirCause) {
  const OSErr codes[] = {-2000, -2003, -2009, -2019, -2037, -2041, -2046, -2048, -2053, -2054, -2055, -2059,
                         -8960, -8961, -8969, -8971, -8967, -206, -128, -108, -50, -39, -40, -61, -45, -46,
                         -38, -51, -33, -192, -193, -199, -4, -600, -1302, -1407, -3000, -9874, -10790, -1,
                         -5000, -35, -36, -37, -42, -43, -54, -120, -49, -48, -47, -44, -34,
                         ErrorCodeToOSErr(err_NilPointer), ErrorCodeToOSErr(err_AssertFailed)};
  for (OSErr code : codes) {
    LStr255 text;
    EXPECT_TRUE(UMessage::GetOSErrString(code, text)) << code;
    const std::string t(text.ConstTextPtr(), text.Length());
    EXPECT_EQ(Lower(t).find("unknown"), std::string::npos) << code << " " << t;
    EXPECT_EQ(Lower(t).find("unexpected"), std::string::npos) << code << " " << t;
  }

  // Files that hold no movie, or a movie cut short.
  const std::string junk = Path("junk.mov");
  std::ofstream(junk, std::ios::binary) << "no movie in here, only words";
  const std::string whole = Path("whole.mp4");
  movie_document_testing::WriteMp4(whole, 64, 48, 30);
  const std::string cut = Path("cut.mp4");
  const std::string bytes = ReadFile(whole);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 3);
  for (const std::string& path : {junk, cut}) {
    SCOPED_TRACE(path);
    FSSpec spec;
    FSMakeFSSpecFromPath(path, &spec);
    std::string message;
    OSErr code = noErr;
    try {
      CMovie movie(&spec);
      movie.GetDuration();
    } catch (const LException& e) {
      code = ErrorCodeToOSErr(e.GetErrorCode());
      message.assign(reinterpret_cast<const char*>(e.GetErrorString() + 1), e.GetErrorString()[0]);
    }
    ASSERT_NE(code, noErr);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(Lower(message).find("unknown"), std::string::npos) << message;
    EXPECT_EQ(message.find(std::to_string(code)), std::string::npos) << message;
  }
}

// One spelling throughout, and a quick-start page that names what the
// program opens and what it refuses, as the README does.
TEST_F(TextsAndHelpTest, OneSpellingAndHelpThatAgreesWithTheProgram) {
  for (const auto& [where, text] : AllStringItems())
    EXPECT_EQ(Lower(text).find("stabiliz"), std::string::npos) << "STR# " << where << ": " << text;
  std::unique_ptr<LWindow> drawer(UReanimator::CreateWindow(PPob_StabilizerDrawer, nullptr));
  ASSERT_NE(drawer, nullptr);
  EXPECT_EQ(drawer->GetTitle(), "Stabilisation");

  const std::string help = std::string(TRX_TEST_BUNDLE) + "/Contents/Resources/Tremblorix Help";
  const std::string quick = ReadFile(help + "/Introduction/QuickStart.html");
  ASSERT_FALSE(quick.empty());
  EXPECT_EQ(Lower(quick).find("stabiliz"), std::string::npos);
  // Matroska is named only as refused, as the program refuses it.
  const size_t mkv = quick.find("Matroska");
  ASSERT_NE(mkv, std::string::npos);
  const size_t end = quick.find(')', mkv);
  ASSERT_NE(end, std::string::npos);
  EXPECT_NE(quick.substr(mkv, end - mkv).find("not opened"), std::string::npos);
  for (const char* page : {"/Windows/StabilisationDrawer.html", "/Windows/MovieWindow.html", "/Sheets/Export.html",
                           "/index.html"})
    EXPECT_EQ(Lower(ReadFile(help + page)).find("stabiliz"), std::string::npos) << page;
}

// Every control of the stabilisation drawer and the movie window that the
// user works with names a help tag that has a text.
TEST_F(TextsAndHelpTest, TheDrawerAndMovieWindowControlsCarryHelpTags) {
  Shake shake(20);
  doc = NewWindowedDocument(OpenAsFile(MakeShakyMovie(shake), "help"));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  StoreMotion(*doc->GetMovie(), shake);
  doc->BeginEditSession(nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  LWindow* drawer = doc->GetDrawer();
  ASSERT_NE(drawer, nullptr);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return drawer->IsVisible(); }, 10000));

  // The controls of the drawer and the movie window carry help.
  for (PaneIDT id : {101, 4, 5, 7, 8, 50, 55, 30, 103, 104, 105, 400, 401, 402, 403}) {
    LPane* pane = drawer->FindPaneByIDOrNil(id);
    ASSERT_NE(pane, nullptr) << id;
    EXPECT_FALSE(LMouseHelpTracker::GetHelpText(pane->GetUserCon()).empty()) << id;
  }
  for (PaneIDT id : {1, 100, 120, 122, 123, 302, 150, 152, 153, 304, 124, 303}) {
    LPane* pane = doc->GetWindow()->FindPaneByIDOrNil(id);
    ASSERT_NE(pane, nullptr) << id;
    EXPECT_FALSE(LMouseHelpTracker::GetHelpText(pane->GetUserCon()).empty()) << id;
  }

  UiTest::Screenshot(drawer->GetFrameWidget(), "texts_drawer");
}

namespace {

// Rests the mouse on the middle of a pane and runs the tracker, on a clock
// of its own, for as long as it waits to show a tag; then the tag's widget
// must show the pane's help text.
::testing::AssertionResult TagShowsOver(LPane* inPane) {
  QWidget* widget = inPane->GetWidget();
  if (!widget || !widget->isVisible()) return ::testing::AssertionFailure() << "the pane has no visible widget";
  const QPoint middle = widget->mapToGlobal(widget->rect().center());
  const std::string expected = LMouseHelpTracker::GetHelpText(inPane->GetUserCon());
  if (expected.empty()) return ::testing::AssertionFailure() << "the pane has no help text";
  StManualClock clock;
  LMouseHelpTracker tracker;
  UHelpTag::SetMouse(Point{static_cast<SInt16>(middle.y()), static_cast<SInt16>(middle.x())}, false);
  EventRecord null;
  tracker.SpendTime(null);
  if (LPane::sLastPaneMoused != inPane)
    return ::testing::AssertionFailure() << "the tracker finds pane "
                                         << (LPane::sLastPaneMoused ? LPane::sLastPaneMoused->GetPaneID() : 0)
                                         << " under the mouse";
  if (!tracker.IsShowPending()) return ::testing::AssertionFailure() << "no tag is waiting to show";
  // The rest: as many passes as the tracker keeps waiting (a bound only a hang reaches).
  for (int pass = 0; pass < 10000 && tracker.IsShowPending(); ++pass) {
    UClock::AdvanceTicks(6);
    tracker.SpendTime(null);
  }
  if (!tracker.IsTagShown()) return ::testing::AssertionFailure() << "the tag was not shown";
  if (!UiTest::PumpUntil([] { return UHelpTag::GetWidget() && UHelpTag::GetWidget()->isVisible(); }, 10000))
    return ::testing::AssertionFailure() << "the tag's widget never became visible";
  if (UHelpTag::GetText() != expected)
    return ::testing::AssertionFailure() << "the tag reads \"" << UHelpTag::GetText() << "\"";
  return ::testing::AssertionSuccess();
}

}  // namespace

// Resting the mouse on a control of the drawer or of a sheet shows its tag,
// as over the movie window's own controls.
TEST_F(TextsAndHelpTest, HelpTagsShowOverTheDrawerAndTheSheets) {
  Shake shake(20);
  doc = NewWindowedDocument(OpenAsFile(MakeShakyMovie(shake), "tags"));
  doc->AdjustMovieFormat(kInterlace_Progressive, kInterlaceDelay_NTSC);
  StoreMotion(*doc->GetMovie(), shake);
  LPane* play = doc->GetWindow()->FindPaneByIDOrNil(100);
  ASSERT_NE(play, nullptr);
  EXPECT_TRUE(TagShowsOver(play));
  UHelpTag::Hide();

  doc->BeginEditSession(nullptr);
  ASSERT_TRUE(doc->IsSessionOpen());
  LWindow* drawer = doc->GetDrawer();
  ASSERT_NE(drawer, nullptr);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return drawer->IsVisible() && !USheetWindows::IsDrawerMoving(drawer); }, 10000));
  LPane* smoothing = drawer->FindPaneByIDOrNil(101);
  ASSERT_NE(smoothing, nullptr);
  EXPECT_TRUE(TagShowsOver(smoothing));
  UiTest::Screenshot(doc->GetWindow()->GetFrameWidget(), "texts_help_tag_drawer");
  UiTest::Screenshot(UHelpTag::GetWidget(), "texts_help_tag_drawer_tag");
  UHelpTag::Hide();
  doc->EndEditSession(false);

  doc->ProcessCommand(cmd_MovieSize);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return doc->GetWindow()->GetCurrentSheet() != nullptr; }, 10000));
  auto* sheet = dynamic_cast<LCustomDialogSheet*>(doc->GetWindow()->GetCurrentSheet());
  ASSERT_NE(sheet, nullptr);
  ASSERT_TRUE(UiTest::PumpUntil([&] { return sheet->GetSheetWindow()->IsVisible(); }, 10000));
  LPane* width = sheet->FindPaneByID(5);
  ASSERT_NE(width, nullptr);
  EXPECT_TRUE(TagShowsOver(width));
  UiTest::Screenshot(UHelpTag::GetWidget(), "texts_help_tag_sheet_tag");
  UHelpTag::Hide();
  sheet->GetProc()(sheet, msg_SheetEscapeKey, nullptr, sheet->GetRefCon());
  sheet->Release();
  UiTest::Pump(20);
}
