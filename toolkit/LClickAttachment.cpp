#include "toolkit/LClickAttachment.h"

#include "platform/framework/LStream.h"

LClickAttachment::LClickAttachment(MessageT inMessage, Boolean inExecuteHost) : LAttachment(inMessage, inExecuteHost) {}

LClickAttachment::LClickAttachment(LStream* inStream) : LAttachment(inStream) {
  UInt32 message = 0;
  *inStream >> message;
  mBroadcastMessage = static_cast<MessageT>(message);
}

void LClickAttachment::ExecuteSelf(MessageT, void* ioParam) { BroadcastMessage(mBroadcastMessage, ioParam); }
