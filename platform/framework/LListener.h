// The receiving side of broadcaster messages; see LBroadcaster.h.
#pragma once

#include "platform/framework/LBroadcaster.h"

class LListener {
 public:
  LListener() = default;
  // A copy listens to no broadcaster.
  LListener(const LListener&) {}
  LListener& operator=(const LListener&) { return *this; }
  // Leaves every broadcaster it listens to.
  virtual ~LListener();

  bool HasBroadcaster(LBroadcaster* inBroadcaster) const {
    return mBroadcasters.FetchIndexOf(inBroadcaster) != index_Bad;
  }
  void StartListening() { mIsListening = true; }
  void StopListening() { mIsListening = false; }
  bool IsListening() const { return mIsListening; }

  virtual void ListenToMessage(MessageT inMessage, void* ioParam) = 0;

 private:
  friend class LBroadcaster;
  TArray<LBroadcaster*> mBroadcasters;
  bool mIsListening = true;
};
