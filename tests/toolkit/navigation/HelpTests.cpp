#include <gtest/gtest.h>

#include <QImage>
#include <QTextBrowser>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <string>

#include "NavTestFixture.h"
#include "toolkit/CRegularWindow.h"
#include "platform/base/PascalStrings.h"
#include "platform/files/Bundle.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/HelpBook.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UReanimator.h"
#include "toolkit/LHelpButton.h"
#include "toolkit/UHelp.h"

namespace {

class HelpTest : public NavTestFixture {
 protected:
  void SetUp() override {
    NavTestFixture::SetUp();
    UHelpViewer::Reset();
  }
  void TearDown() override {
    UHelpViewer::Reset();
    UHelp::FinishHelp();
    NavTestFixture::TearDown();
  }
  // A bundle whose Info.plist holds the given dictionary entries.
  void MakeBundle(const std::string& inEntries) {
    std::string contents = mTmp / "Test.app/Contents";
    std::filesystem::create_directories(contents + "/Resources/Book");
    std::ofstream(contents + "/Info.plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                            << inEntries << "</dict>\n</plist>\n";
    // The program's texts come along.
    std::filesystem::copy_file(std::string(TRX_TEST_BUNDLE) + "/Contents/Resources/Tremblorix.rsrc",
                               contents + "/Resources/Tremblorix.rsrc");
    UBundle::SetMainBundlePath(mTmp / "Test.app");
  }
};

std::string BookFolder() { return std::string(TRX_TEST_BUNDLE) + "/Contents/Resources/Tremblorix Help"; }

}  // namespace

// The bundle's book: registered at start-up, its pages exist, and every
// link of a page leads to a page of the book.
TEST_F(HelpTest, TheBundleBookIsRegisteredAndItsLinksLeadToItsPages) {
  EXPECT_EQ(UHelp::InitHelp(), noErr);
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());
  EXPECT_EQ(UHelp::sBookName, "Tremblorix Help");
  EXPECT_EQ(UHelp::sBookFolder, "Tremblorix Help");
  EXPECT_EQ(UHelpViewer::GetBookFolder("Tremblorix Help"), BookFolder());
  const char* pages[] = {"index.html", "Introduction/QuickStart.html", "Introduction/LicenseAgreement.html",
                         "Windows/MovieWindow.html", "Windows/StabilisationDrawer.html", "Windows/ExportTasks.html",
                         "Windows/Preferences.html", "Sheets/Export.html", "Sheets/MovieInformation.html",
                         "Sheets/MovieSize.html", "Sheets/MovieFormat.html", "Sheets/Tracks.html"};
  for (const char* page : pages) {
    std::string path = BookFolder() + "/" + page;
    std::ifstream in(path);
    ASSERT_TRUE(in.good()) << page;
    std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string folder = path.substr(0, path.find_last_of('/'));
    for (size_t at = html.find("href=\""); at != std::string::npos; at = html.find("href=\"", at + 1)) {
      std::string target = html.substr(at + 6, html.find('"', at + 6) - at - 6);
      target = target.substr(0, target.find('#'));
      EXPECT_TRUE(std::filesystem::exists(folder + "/" + target)) << page << " links to " << target;
    }
  }
}

// A bundle without the book's name: the note alert of item 1 with 'nilP',
// nothing registered, no exception.
TEST_F(HelpTest, ABundleWithoutTheBookNameIsOnlyNoted) {
  MakeBundle("<key>CFBundleName</key><string>Test</string>\n");
  EXPECT_EQ(UHelp::InitHelp(), noErr);
  std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].kind, kAlertNoteAlert);
  EXPECT_EQ(alerts[0].message, "The help book could not be found.");
  // The four-character code by its text and its characters, not as a number.
  EXPECT_EQ(alerts[0].explanation, "A required object is missing.\rError: 'nilP'");
  EXPECT_TRUE(UHelpViewer::GetBookFolder("Tremblorix Help").empty());
}

// A named book whose folder is missing: registering it fails and says so.
TEST_F(HelpTest, ABookWithoutItsFolderIsNotRegistered) {
  MakeBundle("<key>CFBundleHelpBookName</key><string>Gone</string>\n"
             "<key>CFBundleHelpBookFolder</key><string>Missing</string>\n");
  EXPECT_EQ(UHelp::InitHelp(), noErr);
  std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].message, "The help book could not be registered.");
  EXPECT_EQ(alerts[0].explanation, "The file could not be found.\rError: " + std::to_string(fnfErr));
  Str255 page;
  CopyCStringToPascal("index.html", page);
  EXPECT_EQ(UHelp::GotoHelpPage(page, nullptr), kAHInternalErr);
}

// Help buttons open the page they name, at their anchor or at the top; a
// missing page gives the note alert and opens nothing. Links followed in
// the help window show the page they lead to.
TEST_F(HelpTest, HelpButtonsOpenTheirPagesInTheHelpWindow) {
  ASSERT_EQ(UHelp::InitHelp(), noErr);
  // Only the help window is shown (see the small controls' tests).
  mWindow->Hide();
  LWindow* window = UReanimator::CreateWindow(9101, &mApp);
  auto* withAnchor = dynamic_cast<LHelpButton*>(window->FindPaneByID(2));
  auto* plain = dynamic_cast<LHelpButton*>(window->FindPaneByID(3));
  auto* missing = dynamic_cast<LHelpButton*>(window->FindPaneByID(4));
  ASSERT_TRUE(withAnchor && plain && missing);
  EXPECT_EQ(PStrToString(withAnchor->GetPageName()), "Windows/MovieWindow.html");

  withAnchor->SimulateHotSpotClick(1);
  EXPECT_EQ(UHelpViewer::GetShownPage(), BookFolder() + "/Windows/MovieWindow.html");
  EXPECT_EQ(UHelpViewer::GetShownAnchor(), "Commands");
  plain->SimulateHotSpotClick(1);
  EXPECT_EQ(UHelpViewer::GetShownPage(), BookFolder() + "/Sheets/Export.html");
  EXPECT_EQ(UHelpViewer::GetShownAnchor(), "");
  ASSERT_NE(UHelpViewer::GetWindow(), nullptr);
  EXPECT_TRUE(UHelpViewer::GetWindow()->isVisible());
  EXPECT_TRUE(UAlertResponder::GetRecorded().empty());

  missing->SimulateHotSpotClick(1);
  std::vector<AlertRecord> alerts = UAlertResponder::GetRecorded();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].kind, kAlertNoteAlert);
  EXPECT_EQ(alerts[0].message, "The help page could not be opened.");
  EXPECT_EQ(alerts[0].explanation, "The file could not be found.\rError: " + std::to_string(fnfErr));
  EXPECT_EQ(UHelpViewer::GetShownPage(), BookFolder() + "/Sheets/Export.html");

  // The quick start, as the program shows it at the first launch; then a link.
  Str255 page;
  CopyCStringToPascal("Introduction/QuickStart.html", page);
  ASSERT_EQ(UHelp::GotoHelpPage(page, nullptr), noErr);
  auto* browser = UHelpViewer::GetWindow()->findChild<QTextBrowser*>("helpBrowser");
  ASSERT_NE(browser, nullptr);
  EXPECT_NE(browser->toPlainText().indexOf("Analyse the motion"), -1);
  UHelpViewer::GetWindow()->resize(560, 480);
  UiTest::Pump(30);
  QImage shot = UiTest::Screenshot(UHelpViewer::GetWindow(), "help-window-quick-start");
  EXPECT_FALSE(shot.isNull());
  browser->setSource(QUrl::fromLocalFile(QString::fromStdString(BookFolder() + "/Sheets/Export.html")));
  EXPECT_EQ(UHelpViewer::GetShownPage(), BookFolder() + "/Sheets/Export.html");
  browser->backward();
  EXPECT_EQ(UHelpViewer::GetShownPage(), BookFolder() + "/Introduction/QuickStart.html");
}
