#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/LBroadcaster.h"
#include "platform/framework/LListener.h"
#include "platform/framework/LStr255.h"

namespace {
std::string Text(const LStr255& s) { return std::string(s.ConstTextPtr(), s.Length()); }
}  // namespace

TEST(LStr255Test, AssignAppendAndNumbers) {
  LStr255 s("movie");
  EXPECT_EQ(s.Length(), 5);
  s += ".mov";
  EXPECT_EQ(Text(s), "movie.mov");
  EXPECT_EQ(Text(LStr255(-42)), "-42");
  EXPECT_EQ(Text(LStr255(2.5, 3)), "2.500");
  EXPECT_EQ(Text(LStr255("a") + LStr255("b") + "c"), "abc");
  LStr255 p(reinterpret_cast<ConstStringPtr>("\x03xyz"));
  EXPECT_EQ(Text(p), "xyz");
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[1], 'x');

  EXPECT_EQ(static_cast<SInt32>(LStr255("  -17 frames")), -17);
  EXPECT_EQ(static_cast<SInt32>(LStr255("99999999999")), 0x7FFFFFFF);
  EXPECT_EQ(static_cast<SInt32>(LStr255("none")), 0);
  EXPECT_DOUBLE_EQ(static_cast<double>(LStr255("0.04s")), 0.04);

  // Growth stops at 255 characters, also when appending to itself.
  LStr255 big(std::string(200, 'a').c_str());
  big += big;
  EXPECT_EQ(big.Length(), 255);
  big += 'z';
  EXPECT_EQ(big.Length(), 255);
  EXPECT_EQ(big[255], 'a');
}

TEST(LStr255Test, FindRemoveReplaceAndCompare) {
  // The title edit of the document: the suffix goes before the extension.
  LStr255 title("clip.final.mov");
  UInt8 dot = title.ReverseFind('.');
  ASSERT_EQ(dot, 11);
  LStr255 ext = title.SubString(dot);
  title.Remove(dot, 255);
  title += " steady";
  title += ext;
  EXPECT_EQ(Text(title), "clip.final steady.mov");

  EXPECT_EQ(title.Find("steady"), 12);
  EXPECT_EQ(title.Find('.', 6), 18);
  EXPECT_EQ(title.Find("zzz"), 0);
  EXPECT_EQ(title.ReverseFind("xyz"), 0);
  title.Replace(12, 6, "smooth", 6);
  EXPECT_EQ(Text(title), "clip.final smooth.mov");
  title.Insert(">", 1, 1);
  EXPECT_TRUE(title.BeginsWith(">clip"));
  EXPECT_TRUE(title.EndsWith(".mov"));
  EXPECT_FALSE(title.EndsWith("a very long suffix that does not fit"));

  EXPECT_TRUE(LStr255("abc") == "abc");
  EXPECT_TRUE(LStr255("abc") != LStr255("abd"));
  EXPECT_TRUE(LStr255("ab") < LStr255("abc"));
  EXPECT_TRUE(LStr255("b") > LStr255("abc"));
  EXPECT_EQ(LStr255("").CompareTo(static_cast<ConstStringPtr>(nullptr)), 0);
}

namespace {

class Recorder : public LListener {
 public:
  explicit Recorder(std::vector<std::string>* inLog, const char* inName) : mLog(inLog), mName(inName) {}
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    mLog->push_back(mName + ":" + std::to_string(inMessage));
    // A copy: the action may delete this listener, and with it mOnMessage.
    auto action = mOnMessage;
    if (action) action(inMessage, ioParam);
  }
  std::vector<std::string>* mLog;
  std::string mName;
  std::function<void(MessageT, void*)> mOnMessage;
};

}  // namespace

TEST(Broadcasting, DeliversInOrderToListeningListenersOnly) {
  std::vector<std::string> log;
  LBroadcaster b;
  Recorder a(&log, "a"), c(&log, "c");
  b.AddListener(&a);
  b.AddListener(&c);
  b.AddListener(&a);  // once only
  EXPECT_EQ(b.CountListeners(), 2);
  int param = 0;
  a.mOnMessage = [&](MessageT, void* p) {
    if (p) *static_cast<int*>(p) += 1;
  };
  b.BroadcastMessage('done', &param);
  EXPECT_EQ(param, 1);
  c.StopListening();
  b.BroadcastMessage(300);
  b.StopBroadcasting();
  b.BroadcastMessage(301);
  b.StartBroadcasting();
  b.RemoveListener(&a);
  EXPECT_FALSE(a.HasBroadcaster(&b));
  c.StartListening();
  b.BroadcastMessage(302);
  EXPECT_EQ(log, (std::vector<std::string>{"a:" + std::to_string('done'), "c:" + std::to_string('done'), "a:300",
                                           "c:302"}));
}

TEST(Broadcasting, ListenerDeletingItselfOrOthersDuringABroadcast) {
  std::vector<std::string> log;
  LBroadcaster b, other;
  auto* first = new Recorder(&log, "first");
  auto* second = new Recorder(&log, "second");
  auto* third = new Recorder(&log, "third");
  b.AddListener(first);
  b.AddListener(second);
  b.AddListener(third);
  other.AddListener(second);
  first->mOnMessage = [&](MessageT, void*) { delete first; };
  second->mOnMessage = [&](MessageT, void*) {
    delete third;
    third = nullptr;
  };
  b.BroadcastMessage(1);
  EXPECT_EQ(log, (std::vector<std::string>{"first:1", "second:1"}));
  EXPECT_EQ(b.CountListeners(), 1);
  b.BroadcastMessage(2);
  EXPECT_EQ(log.back(), "second:2");
  delete second;
  EXPECT_EQ(other.CountListeners(), 0);
  b.BroadcastMessage(3);
  EXPECT_EQ(log.size(), 3u);
}

TEST(Broadcasting, BroadcasterDeletedByItsListenerEndsTheBroadcast) {
  std::vector<std::string> log;
  auto* b = new LBroadcaster;
  Recorder killer(&log, "killer"), after(&log, "after");
  b->AddListener(&killer);
  b->AddListener(&after);
  killer.mOnMessage = [&](MessageT inMessage, void*) {
    if (inMessage == 1) {
      b->BroadcastMessage(2);  // nested broadcast, then the broadcaster dies
      delete b;
    }
  };
  b->BroadcastMessage(1);
  EXPECT_EQ(log, (std::vector<std::string>{"killer:1", "killer:2", "after:2"}));
  EXPECT_FALSE(killer.HasBroadcaster(b));
  EXPECT_FALSE(after.HasBroadcaster(b));
}
