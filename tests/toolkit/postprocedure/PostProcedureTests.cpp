#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/Clock.h"
#include "platform/base/LException.h"
#include "platform/framework/UEventLoop.h"
#include "toolkit/CPostProcedure.h"

namespace {

struct Run {
  SInt32 id;
  std::string data;  // the bytes received ("<nil>" without data)
  SInt32 size;
};

class Recorder : public CPostProcedure {
 public:
  std::vector<Run> mRuns;
  std::function<void(SInt32)> mAction;  // may delete the object

  void ExecuteProcedure(SInt32 inProcID, void* inData, SInt32 inSize) override {
    mRuns.push_back({inProcID, inData ? std::string(static_cast<const char*>(inData), static_cast<size_t>(inSize)) : "<nil>",
                     inSize});
    if (mAction) {
      auto action = mAction;
      action(inProcID);
    }
  }
  std::vector<SInt32> Ids() const {
    std::vector<SInt32> ids;
    for (const Run& r : mRuns) ids.push_back(r.id);
    return ids;
  }
  void Post(SInt32 inID, const char* inText = nullptr) {
    PostProcedure(inID, inText, inText ? static_cast<SInt32>(std::strlen(inText)) : 0);
  }
};

class PostProcedureTest : public ::testing::Test {
 protected:
  void SetUp() override { UEventLoop::Reset(); }
  void TearDown() override { UEventLoop::Reset(); }
  // One millisecond on, then the loop until nothing more is due.
  void RunSoon() {
    UClock::AdvanceMicroseconds(1000);
    UEventLoop::RunUntilIdle(100);
  }
  StManualClock mClock;
};

}  // namespace

TEST_F(PostProcedureTest, RunsInPostingOrderWithCopiesOfTheData) {
  Recorder r;
  char text[] = "first";
  r.Post(1, text);
  std::strcpy(text, "XXXXX");  // the queue holds its own copy
  r.Post(2);
  r.PostProcedure(3, "ignored", 0);  // size 0: no copy
  r.PostProcedure(4, nullptr, 12);   // nil data: the size still arrives
  UEventLoop::ProcessOnce();         // not yet: 1 ms after posting
  EXPECT_TRUE(r.mRuns.empty());
  RunSoon();
  ASSERT_EQ(r.mRuns.size(), 4u);
  EXPECT_EQ(r.Ids(), (std::vector<SInt32>{1, 2, 3, 4}));
  EXPECT_EQ(r.mRuns[0].data, "first");
  EXPECT_EQ(r.mRuns[1].data, "<nil>");
  EXPECT_EQ(r.mRuns[2].data, "<nil>");
  EXPECT_EQ(r.mRuns[2].size, 0);
  EXPECT_EQ(r.mRuns[3].data, "<nil>");
  EXPECT_EQ(r.mRuns[3].size, 12);
  EXPECT_EQ(r.CountQueued(), 0);
  EXPECT_FALSE(r.IsArmed());  // nothing left: the timer rests
  RunSoon();
  EXPECT_EQ(r.mRuns.size(), 4u);
}

TEST_F(PostProcedureTest, PostsDuringARunAndRemovals) {
  Recorder r;
  r.mAction = [&](SInt32 id) {
    if (id == 1) r.Post(4, "late");
    if (id == 2) {
      EXPECT_EQ(r.RemoveProcedure(3), 0);  // removed before it ran
    }
  };
  r.Post(1);
  r.Post(2);
  r.Post(3, "never");
  r.Post(5);
  RunSoon();
  EXPECT_EQ(r.Ids(), (std::vector<SInt32>{1, 2, 5, 4}));
  EXPECT_EQ(r.mRuns.back().data, "late");

  // Removing takes the first entry with the id and frees its copy.
  r.mRuns.clear();
  r.mAction = nullptr;
  r.Post(1);
  r.Post(2, "a");
  r.Post(2, "b");
  EXPECT_EQ(r.RemoveProcedure(2), 0);
  EXPECT_EQ(r.RemoveProcedure(9), -1);
  RunSoon();
  EXPECT_EQ(r.Ids(), (std::vector<SInt32>{1, 2}));
  EXPECT_EQ(r.mRuns[1].data, "b");
  EXPECT_EQ(r.RemoveProcedure(1), -1);
}

TEST_F(PostProcedureTest, AThrowingProcedureDoesNotStopTheOthers) {
  Recorder r;
  r.mAction = [](SInt32 id) {
    if (id == 2) Throw_(-36);
    if (id == 3) throw std::runtime_error("plain");
  };
  r.Post(1, "one");
  r.Post(2, "two");  // its copy is still freed (the leak checker of the sanitizer build watches)
  r.Post(3, "three");
  r.Post(4, "four");
  RunSoon();
  EXPECT_EQ(r.Ids(), (std::vector<SInt32>{1, 2, 3, 4}));
}

TEST_F(PostProcedureTest, AProcedureMayDeleteItsOwnObject) {
  std::vector<SInt32> ran;
  auto* r = new Recorder;
  r->mAction = [&](SInt32 id) {
    ran.push_back(id);
    if (id == 2) delete r;  // as a document's close procedure does
  };
  r->Post(1, "one");
  r->Post(2, "two");
  r->Post(3, "three");  // dropped with the object, its copy freed
  RunSoon();
  EXPECT_EQ(ran, (std::vector<SInt32>{1, 2}));
  // The loop goes on without the deleted timer.
  RunSoon();
  EXPECT_EQ(ran.size(), 2u);
}

TEST_F(PostProcedureTest, TheWalkIsNotReenteredByNestedLoops) {
  Recorder r;
  int depth = 0, maxDepth = 0;
  r.mAction = [&](SInt32 id) {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    if (id == 1) {
      r.Post(3);
      // A procedure that runs the event loop (a modal alert does) or calls
      // the timer's action itself does not start a second walk.
      UClock::AdvanceMicroseconds(2000);
      UEventLoop::RunUntilIdle(10);
      r.DoTask();
    }
    --depth;
  };
  r.Post(1);
  r.Post(2);
  RunSoon();
  EXPECT_EQ(maxDepth, 1);
  EXPECT_EQ(r.Ids(), (std::vector<SInt32>{1, 2, 3}));
}

TEST_F(PostProcedureTest, EntriesLeftAtDestructionAreDroppedAndFreed) {
  std::vector<SInt32> ran;
  {
    Recorder r;
    r.mAction = [&](SInt32 id) { ran.push_back(id); };
    r.Post(1, "kept until the end");
    r.Post(2, "and this");
  }
  RunSoon();
  EXPECT_TRUE(ran.empty());
}
