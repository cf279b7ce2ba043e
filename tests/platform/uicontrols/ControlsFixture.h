// The control tests' fixture: every framework layout class registered, the
// test layouts' resource file open in the chain, and an icon ('PNG ' 9001)
// and a picture ('PICT' 9002) in a temporary resource file above it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/files/TempFolder.h"
#include "platform/framework/LListener.h"
#include "support/ui/UiTestSupport.h"

class LPane;
class LWindow;

// Registers the framework's pane classes the layouts use.
void RegisterFrameworkClasses();

// Records what it hears.
class MessageLog : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    heard.emplace_back(inMessage, ioParam ? *static_cast<SInt32*>(ioParam) : 0);
  }
  std::vector<std::pair<MessageT, SInt32>> heard;
};

class ControlsTest : public UiFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Layout 9000 ("Every Control") as a shown window.
  LWindow* BuildEveryControl();

  TempFolder mTmp;
  SInt16 mLayoutsFile = -1;
  SInt16 mImagesFile = -1;
};
