// An attachment that turns the message it executes into a broadcast of its
// own message (with the executed message's parameter). Layout class 'ClkA':
// the attachment's record, then UInt32 broadcast message (big-endian).
#pragma once

#include "platform/framework/LAttachable.h"
#include "platform/framework/LBroadcaster.h"

class LClickAttachment : public LAttachment, public LBroadcaster {
 public:
  static constexpr SInt32 class_ID = 'ClkA';

  LClickAttachment(MessageT inMessage, Boolean inExecuteHost);
  explicit LClickAttachment(LStream* inStream);

  void SetBroadcastMessage(MessageT inMessage) { mBroadcastMessage = inMessage; }
  void GetBroadcastMessage(MessageT& outMessage) const { outMessage = mBroadcastMessage; }

 protected:
  void ExecuteSelf(MessageT inMessage, void* ioParam) override;

  MessageT mBroadcastMessage = 0;
};
