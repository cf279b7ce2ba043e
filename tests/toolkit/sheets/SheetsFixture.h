// What the sheet and drawer tests share: document windows over the bundle's
// and the tests' layouts, and a procedure that records what it hears.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "platform/files/Resources.h"
#include "platform/framework/LCommander.h"
#include "platform/framework/LListener.h"
#include "support/ui/UiTestSupport.h"
#include "toolkit/CRegularWindow.h"

// What a sheet's or drawer's procedure heard, and what it answers.
struct SProcLog {
  std::vector<SInt32> heard;
  std::map<SInt32, SInt32> answers;           // message -> answer (0 otherwise)
  std::function<void(SInt32)> onMessage;      // runs before the answer
  SInt32 Count(SInt32 inMessage) const {
    SInt32 n = 0;
    for (SInt32 m : heard) n += m == inMessage;
    return n;
  }
  SInt32 Hear(SInt32 inMessage) {
    heard.push_back(inMessage);
    if (onMessage) onMessage(inMessage);
    auto it = answers.find(inMessage);
    return it == answers.end() ? 0 : it->second;
  }
};

// Records broadcasts.
class SRecorder : public LListener {
 public:
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    heard.push_back(inMessage);
    if (ioParam && inMessage != 'shRl') params.push_back(*static_cast<OSType*>(ioParam));
  }
  SInt32 Count(MessageT inMessage) const {
    SInt32 n = 0;
    for (MessageT m : heard) n += m == inMessage;
    return n;
  }
  std::vector<MessageT> heard;
  std::vector<OSType> params;
};

class SheetsFixture : public UiFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A visible, active document window at a place on the screen.
  CRegularWindow* NewWindow(SInt16 inLeft = 60, SInt16 inTop = 60, SInt16 inWidth = 400, SInt16 inHeight = 240);

  LCommander mApp;
  SInt16 mLayoutsFile = kResFileNotOpened;
};
