#include "platform/framework/LBroadcaster.h"

#include "platform/framework/LListener.h"

// One broadcast under way; the broadcaster's destructor marks it so that the
// broadcast stops touching the broadcaster.
struct LBroadcaster::BroadcastFrame {
  LBroadcaster* broadcaster;
  BroadcastFrame* outer;
  bool broadcasterDied = false;

  explicit BroadcastFrame(LBroadcaster* inBroadcaster) : broadcaster(inBroadcaster), outer(inBroadcaster->mBroadcasts) {
    inBroadcaster->mBroadcasts = this;
  }
  ~BroadcastFrame() {
    if (!broadcasterDied) broadcaster->mBroadcasts = outer;
  }
};

LBroadcaster::~LBroadcaster() {
  for (BroadcastFrame* f = mBroadcasts; f; f = f->outer) f->broadcasterDied = true;
  LListener* listener;
  while (mListeners.FetchItemAt(mListeners.GetCount(), listener)) {
    mListeners.RemoveItemsAt(1, mListeners.GetCount());
    listener->mBroadcasters.Remove(this);
  }
}

void LBroadcaster::AddListener(LListener* inListener) {
  if (!inListener || HasListener(inListener)) return;
  mListeners.AddItem(inListener);
  inListener->mBroadcasters.AddItem(this);
}

void LBroadcaster::RemoveListener(LListener* inListener) {
  if (!inListener) return;
  mListeners.Remove(inListener);
  inListener->mBroadcasters.Remove(this);
}

void LBroadcaster::BroadcastMessage(MessageT inMessage, void* ioParam) {
  if (!mIsBroadcasting) return;
  BroadcastFrame frame(this);
  // The iterator is destroyed before the frame; when the broadcaster dies its
  // array detaches the iterator, which then touches nothing.
  TArrayIterator<LListener*> iterator(mListeners);
  LListener* listener;
  while (iterator.Next(listener)) {
    if (listener->IsListening()) listener->ListenToMessage(inMessage, ioParam);
    if (frame.broadcasterDied) return;
  }
}

LListener::~LListener() {
  LBroadcaster* broadcaster;
  while (mBroadcasters.FetchItemAt(mBroadcasters.GetCount(), broadcaster)) {
    mBroadcasters.RemoveItemsAt(1, mBroadcasters.GetCount());
    broadcaster->mListeners.Remove(this);
  }
}
