// Helpers of the desktop layer's tests. The test main (UiTestMain.cpp) sets
// QT_QPA_PLATFORM=offscreen and a private XDG_RUNTIME_DIR, then makes the
// QApplication before the first test.
#pragma once

#include <gtest/gtest.h>

#include <string>

class QWidget;
class QImage;

namespace UiTest {

// The bound of a wait for something that must happen: only a hang reaches
// it, however busy the machine is.
constexpr int kHangMillis = 120000;

// Runs passes of our event loop (never sleeping) for about inMillis of real time.
void Pump(int inMillis = 20);
// Runs passes until inDone() or inMillis passed; returns inDone().
bool PumpUntil(const std::function<bool()>& inDone, int inMillis = kHangMillis);
// Saves the widget's grab() as <build>/screenshots/<name>.png and returns it.
QImage Screenshot(QWidget* inWidget, const std::string& inName);
// Counts Qt warnings (after the offscreen ones are filtered) since the last reset.
int CountQtWarnings();
void ResetQtWarnings();

}  // namespace UiTest

// A fixture that leaves no window, target or scripted answer behind.
class UiFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};
