#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <atomic>
#include <filesystem>

#include "platform/framework/LCommander.h"
#include "platform/framework/UEventLoop.h"
#include "platform/ui/Alerts.h"
#include "platform/ui/UDesktop.h"
#include "platform/ui/UQtSupport.h"
#include "platform/ui/UResponder.h"
#include "support/ui/UiTestSupport.h"

// Leaks inside these system libraries are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n"
         "leak:libfontconfig.so\n";
}

namespace {
std::atomic<int> sWarnings{0};
QtMessageHandler sNext = nullptr;

void CountingHandler(QtMsgType inType, const QMessageLogContext& inContext, const QString& inMessage) {
  if (inType != QtDebugMsg && inType != QtInfoMsg) ++sWarnings;
  if (sNext) sNext(inType, inContext, inMessage);
}
}  // namespace

namespace UiTest {

void Pump(int inMillis) {
  QElapsedTimer t;
  t.start();
  do {
    UEventLoop::ProcessOnce();
  } while (t.elapsed() < inMillis);
}

bool PumpUntil(const std::function<bool()>& inDone, int inMillis) {
  QElapsedTimer t;
  t.start();
  while (!inDone() && t.elapsed() < inMillis) UEventLoop::ProcessOnce();
  return inDone();
}

QImage Screenshot(QWidget* inWidget, const std::string& inName) {
  QDir().mkpath(QStringLiteral(TRX_SCREENSHOT_DIR));
  QImage image = inWidget->grab().toImage();
  image.save(QString::fromUtf8((std::string(TRX_SCREENSHOT_DIR) + "/" + inName + ".png").c_str()));
  return image;
}

int CountQtWarnings() { return sWarnings.load(); }
void ResetQtWarnings() { sWarnings = 0; }

}  // namespace UiTest

void UiFixture::SetUp() {
  UAlertResponder::Reset();
  UResponder::Reset();
  // A question nothing scripted would wait for a user that is not there.
  UResponder::SetUnexpectedHandler([](const SQuestion& inQuestion) {
    ADD_FAILURE() << "unexpected question (kind " << inQuestion.kind << "): " << inQuestion.message;
  });
  UEventLoop::Reset();
  UiTest::ResetQtWarnings();
}

void UiFixture::TearDown() {
  for (LWindow* w : UDesktop::GetWindows()) delete w;
  LCommander::SwitchTarget(nullptr);
  UEventLoop::RunUntilIdle(100);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(UResponder::CountScripted(), 0) << "scripted answers left unused";
  UAlertResponder::Reset();
  UResponder::Reset();
  UEventLoop::Reset();
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char runtime[] = "/tmp/trx-ui-test-XXXXXX";
  bool madeRuntime = mkdtemp(runtime) != nullptr;
  if (madeRuntime) {
    chmod(runtime, 0700);
    setenv("XDG_RUNTIME_DIR", runtime, 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  // Below the layer's own filter of the offscreen platform's messages.
  sNext = qInstallMessageHandler(CountingHandler);
  UQt::EnsureApplication();
  int result = RUN_ALL_TESTS();
  if (madeRuntime) {
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
  }
  return result;
}
