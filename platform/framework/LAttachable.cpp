#include "platform/framework/LAttachable.h"

#include <algorithm>

#include "platform/framework/LStream.h"

LAttachable* LAttachable::sDefaultAttachable = nullptr;

LAttachable::~LAttachable() {
  if (sDefaultAttachable == this) sDefaultAttachable = nullptr;
  RemoveAllAttachments();
}

void LAttachable::AddAttachment(LAttachment* inAttachment, LAttachment* inBefore, Boolean inOwnsAttachment) {
  if (!inAttachment) return;
  if (inAttachment->mOwnerHost) inAttachment->mOwnerHost->RemoveAttachment(inAttachment);
  auto pos = std::find_if(mAttachments.begin(), mAttachments.end(), [&](const Entry& e) { return e.attachment == inBefore; });
  if (!inBefore) pos = mAttachments.end();
  mAttachments.insert(pos, Entry{inAttachment, inOwnsAttachment != 0});
  inAttachment->SetOwnerHost(this);
}

void LAttachable::RemoveAttachment(LAttachment* inAttachment) {
  auto pos = std::find_if(mAttachments.begin(), mAttachments.end(), [&](const Entry& e) { return e.attachment == inAttachment; });
  if (pos == mAttachments.end()) return;
  mAttachments.erase(pos);
  if (inAttachment->mOwnerHost == this) inAttachment->SetOwnerHost(nullptr);
}

void LAttachable::RemoveAllAttachments() {
  while (!mAttachments.empty()) {
    Entry e = mAttachments.back();
    mAttachments.pop_back();
    e.attachment->mOwnerHost = nullptr;
    if (e.owned) delete e.attachment;
  }
}

bool LAttachable::HasAttachment(const LAttachment* inAttachment) const {
  return std::any_of(mAttachments.begin(), mAttachments.end(), [&](const Entry& e) { return e.attachment == inAttachment; });
}

Boolean LAttachable::ExecuteAttachments(MessageT inMessage, void* ioParam) {
  // A snapshot, each entry checked again before it runs: attachments may
  // remove or delete themselves and each other while executing.
  std::vector<LAttachment*> snapshot;
  snapshot.reserve(mAttachments.size());
  for (const Entry& e : mAttachments) snapshot.push_back(e.attachment);
  Boolean executeHost = true;
  for (LAttachment* a : snapshot) {
    if (!HasAttachment(a)) continue;
    if (!a->Execute(inMessage, ioParam)) executeHost = false;
  }
  return executeHost;
}

LAttachment::LAttachment(MessageT inMessage, Boolean inExecuteHost) : mMessage(inMessage), mExecuteHost(inExecuteHost) {}

LAttachment::LAttachment(LStream* inStream) : mMessage(msg_AnyMessage), mExecuteHost(true) {
  SInt32 message = 0;
  UInt8 executeHost = 1;
  *inStream >> message >> executeHost;
  mMessage = message;
  mExecuteHost = executeHost != 0;
  if (LAttachable* host = LAttachable::GetDefaultAttachable()) host->AddAttachment(this);
}

LAttachment::~LAttachment() {
  if (mOwnerHost) mOwnerHost->RemoveAttachment(this);
}

Boolean LAttachment::Execute(MessageT inMessage, void* ioParam) {
  if (mMessage != msg_AnyMessage && mMessage != inMessage) return true;
  ExecuteSelf(inMessage, ioParam);
  return mExecuteHost;
}

void LAttachment::ExecuteSelf(MessageT, void*) {}
