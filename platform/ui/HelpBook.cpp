#include "platform/ui/HelpBook.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <map>
#include <sys/stat.h>

#include "platform/files/Bundle.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UWindowState.h"
#include "platform/ui/UQtSupport.h"

namespace {

struct Book {
  std::string folder;
};

class UHelpWindow;

struct State {
  std::map<std::string, Book> books;
  UHelpWindow* window = nullptr;
  QPointer<QTextBrowser> browser;
  std::string shownPage;
  std::string shownAnchor;
};

State& S() {
  static auto* sState = new State;
  return *sState;
}

// The help window is one of the program's windows, so that it takes its part
// in the desktop's activation like every other.
class UHelpWindow : public LWindow {
 public:
  explicit UHelpWindow(const SWindowInfo& inInfo) : LWindow(inInfo, LCommander::GetTopCommander()) {}
  ~UHelpWindow() override {
    if (S().window == this) {
      S().window = nullptr;
      S().browser = nullptr;
    }
  }
};

std::string Text(CFStringRef inText) {
  if (!inText) return std::string();
  if (const char* p = CFStringGetCStringPtr(inText, kCFStringEncodingUTF8)) return p;
  char buffer[1024];
  return CFStringGetCString(inText, buffer, sizeof buffer, kCFStringEncodingUTF8) ? std::string(buffer) : std::string();
}

std::string InfoString(const char* inKey, OSStatus& outErr) {
  outErr = noErr;
  CFBundleRef bundle = CFBundleGetMainBundle();
  if (!bundle) {
    outErr = 'nilP';
    return std::string();
  }
  CFStringRef key = CFStringCreateWithCString(nullptr, inKey, kCFStringEncodingUTF8);
  CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, key);
  CFRelease(key);
  if (!value) outErr = 'nilP';
  else if (CFGetTypeID(value) != CFStringGetTypeID()) outErr = -1;
  return outErr == noErr ? Text(static_cast<CFStringRef>(value)) : std::string();
}

bool IsFolder(const std::string& inPath) {
  struct stat st;
  return stat(inPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& inPath) {
  struct stat st;
  return stat(inPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// One help window for the program, made on the first page.
QTextBrowser* Browser(const std::string& inTitle, const std::string& inHome) {
  State& s = S();
  if (!s.window) {
    SWindowInfo info;
    info.title = inTitle;
    info.left = 80;
    info.top = 60;
    info.width = 640;
    info.height = 560;
    info.minWidth = 320;
    info.minHeight = 240;
    s.window = new UHelpWindow(info);
    QWidget* window = s.window->GetWidget();
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QToolBar(window);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName("helpBrowser");
    browser->setOpenLinks(true);
    browser->setOpenExternalLinks(true);
    QAction* back = bar->addAction(QObject::tr("Back"));
    QAction* forward = bar->addAction(QObject::tr("Forward"));
    QAction* home = bar->addAction(QObject::tr("Contents"));
    back->setEnabled(false);
    forward->setEnabled(false);
    QObject::connect(back, &QAction::triggered, browser, [browser] { browser->backward(); });
    QObject::connect(forward, &QAction::triggered, browser, [browser] { browser->forward(); });
    QObject::connect(home, &QAction::triggered, browser, [browser] { browser->home(); });
    QObject::connect(browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QObject::connect(browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    // A link followed inside the book is the page shown.
    QObject::connect(browser, &QTextBrowser::sourceChanged, browser, [](const QUrl& inUrl) {
      S().shownPage = inUrl.toLocalFile().toStdString();
      S().shownAnchor = inUrl.fragment().toStdString();
    });
    layout->addWidget(bar);
    layout->addWidget(browser);
    s.browser = browser;
  }
  s.window->SetTitle(inTitle);
  if (!inHome.empty()) {
    // The book's title page is where Contents leads.
    QUrl home = QUrl::fromLocalFile(QString::fromUtf8(inHome.c_str()));
    if (s.browser->source().isEmpty()) {
      s.browser->setSource(home);
      s.browser->clearHistory();
    }
  }
  return s.browser;
}

}  // namespace

OSStatus AHRegisterHelpBook(const FSRef* inAppBundleRef) {
  if (!inAppBundleRef) return paramErr;
  OSStatus err = noErr;
  std::string name = InfoString("CFBundleHelpBookName", err);
  if (err != noErr) return err;
  std::string folderName = InfoString("CFBundleHelpBookFolder", err);
  if (err != noErr) return err;
  std::string folder = FSRefPath(*inAppBundleRef) + "/Contents/Resources/" + folderName;
  if (!IsFolder(folder)) return fnfErr;
  S().books[name] = Book{folder};
  return noErr;
}

OSStatus AHGotoPage(CFStringRef inBookName, CFStringRef inPath, CFStringRef inAnchor) {
  std::string page = Text(inPath);
  if (page.empty()) return paramErr;
  std::string path = page;
  std::string title = "Help";
  std::string home;
  if (inBookName) {
    auto it = S().books.find(Text(inBookName));
    if (it == S().books.end()) return kAHInternalErr;
    path = it->second.folder + "/" + page;
    title = it->first;
    if (IsFile(it->second.folder + "/index.html")) home = it->second.folder + "/index.html";
  }
  if (!IsFile(path)) return fnfErr;
  std::string anchor = Text(inAnchor);
  UQt::OnMain([&] {
    UQt::EnsureApplication();
    QTextBrowser* browser = Browser(title, home);
    QUrl url = QUrl::fromLocalFile(QString::fromUtf8(path.c_str()));
    if (!anchor.empty()) url.setFragment(QString::fromUtf8(anchor.c_str()));
    browser->setSource(url);
    S().shownPage = path;
    S().shownAnchor = anchor;
    S().window->Show();
    // A help window behind the others, or minimised, comes to the front.
    S().window->Select();
    UWindowState::BringForward(S().window);
  });
  return noErr;
}

std::string UHelpViewer::GetShownPage() { return S().shownPage; }
std::string UHelpViewer::GetShownAnchor() { return S().shownAnchor; }
QWidget* UHelpViewer::GetWindow() { return S().window ? S().window->GetFrameWidget() : nullptr; }

std::string UHelpViewer::GetBookFolder(const std::string& inBookName) {
  auto it = S().books.find(inBookName);
  return it == S().books.end() ? std::string() : it->second.folder;
}

void UHelpViewer::Reset() {
  State& s = S();
  delete s.window;  // its destructor forgets it
  s.window = nullptr;
  s.browser = nullptr;
  s.books.clear();
  s.shownPage.clear();
  s.shownAnchor.clear();
}
