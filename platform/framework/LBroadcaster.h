// Numbered messages from a broadcaster to its listeners. Listeners and
// broadcasters may be destroyed at any time, also from inside a broadcast:
// a listener destroyed during a broadcast gets no further message, and a
// broadcaster destroyed by one of its listeners ends its broadcast there.
// Broadcasts run on the main thread or on a cooperative thread holding the baton.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/framework/TArray.h"

typedef SInt32 MessageT;
constexpr MessageT msg_Nothing = 0;

class LListener;

class LBroadcaster {
 public:
  LBroadcaster() = default;
  // A copy starts without listeners.
  LBroadcaster(const LBroadcaster&) {}
  LBroadcaster& operator=(const LBroadcaster&) { return *this; }
  virtual ~LBroadcaster();

  // Adding a listener twice keeps it once.
  void AddListener(LListener* inListener);
  void RemoveListener(LListener* inListener);
  bool HasListener(LListener* inListener) const { return mListeners.FetchIndexOf(inListener) != index_Bad; }
  SInt32 CountListeners() const { return mListeners.GetCount(); }

  void StartBroadcasting() { mIsBroadcasting = true; }
  void StopBroadcasting() { mIsBroadcasting = false; }
  bool IsBroadcasting() const { return mIsBroadcasting; }

  // Sends the message to every listener that is listening, in the order they
  // were added.
  virtual void BroadcastMessage(MessageT inMessage, void* ioParam = nullptr);

 private:
  friend class LListener;
  struct BroadcastFrame;

  TArray<LListener*> mListeners;
  bool mIsBroadcasting = true;
  BroadcastFrame* mBroadcasts = nullptr;  // the broadcasts under way, innermost first
};
