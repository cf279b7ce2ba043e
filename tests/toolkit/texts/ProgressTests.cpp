#include <gtest/gtest.h>

#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "toolkit/UProgress.h"

namespace {

struct Call {
  SInt16 message;
  SInt32 fraction;
  SInt32 refCon;
};

std::vector<Call> gCalls;
SInt16 gOpenResult = 0;
SInt16 gUpdateResult = 0;

SInt16 Recorder(SInt16 inMessage, SInt32 inFraction, SInt32 inRefCon, unsigned char*) {
  gCalls.push_back({inMessage, inFraction, inRefCon});
  if (inMessage == kProgressOpen) return gOpenResult;
  if (inMessage == kProgressUpdate) return gUpdateResult;
  return 0;
}

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    gOpenResult = 0;
    gUpdateResult = 0;
  }
  StManualClock mClock;
};

}  // namespace

TEST_F(ProgressTest, OpensLazilyAndThrottlesToSixTicks) {
  {
    UProgress progress(LStr255("Working"), Recorder, 77);
    EXPECT_TRUE(progress.Progress(10));  // within 6 ticks of construction: nothing
    EXPECT_TRUE(gCalls.empty());
    UClock::AdvanceTicks(7);
    EXPECT_TRUE(progress.Progress(128));
    ASSERT_EQ(gCalls.size(), 2u);
    EXPECT_EQ(gCalls[0].message, kProgressOpen);
    EXPECT_EQ(gCalls[0].fraction, 0);
    EXPECT_EQ(gCalls[1].message, kProgressUpdate);
    EXPECT_EQ(gCalls[1].fraction, 32768);
    EXPECT_EQ(gCalls[1].refCon, 77);
    UClock::AdvanceTicks(2);
    EXPECT_TRUE(progress.Progress(200));
    EXPECT_EQ(gCalls.size(), 2u);
    UClock::AdvanceTicks(6);
    EXPECT_TRUE(progress.Progress(256));
    EXPECT_EQ(gCalls.back().fraction, 65536);
  }
  EXPECT_EQ(gCalls.back().message, kProgressClose);
  EXPECT_EQ(gCalls.back().fraction, 65536);

  // An operation that ends within 6 ticks never shows progress.
  gCalls.clear();
  {
    UProgress quick(LStr255("Quick"), Recorder, 0);
    quick.Progress(256);
  }
  EXPECT_TRUE(gCalls.empty());
}

TEST_F(ProgressTest, CancelAndOpenFailures) {
  UProgress progress(LStr255("Working"), Recorder, 0);
  UClock::AdvanceTicks(6);
  gUpdateResult = 1;
  EXPECT_FALSE(progress.Progress(64));
  EXPECT_FALSE(progress.UserReply());
  gUpdateResult = 0;
  progress.SetMessage(LStr255("Other"));
  EXPECT_TRUE(progress.UserReply());

  // -128 at open is no error; other results are thrown (the procedure still gets closed).
  gCalls.clear();
  gOpenResult = userCanceledErr;
  {
    UProgress p(LStr255("x"), Recorder, 0);
    UClock::AdvanceTicks(6);
    EXPECT_NO_THROW(p.Progress(1));
  }
  gOpenResult = paramErr;
  gCalls.clear();
  {
    UProgress p(LStr255("x"), Recorder, 0);
    UClock::AdvanceTicks(6);
    try {
      p.Progress(1);
      ADD_FAILURE() << "open failure must throw";
    } catch (const LException& e) {
      EXPECT_EQ(e.GetErrorCode(), paramErr);
    }
  }
  ASSERT_FALSE(gCalls.empty());
  EXPECT_EQ(gCalls.back().message, kProgressClose);

  // Without a procedure the operation simply goes on.
  UProgress none(LStr255("x"), nullptr, 0);
  UClock::AdvanceTicks(6);
  EXPECT_TRUE(none.Progress(300));
  EXPECT_EQ(none.GetFraction(), 65536);  // values beyond 256 count as done
}
