#include "media/CMovieTask.h"

#include "platform/base/Clock.h"
#include "platform/base/LException.h"

namespace {

CMovie* MovieOf(CMovieTaskDocument* inDocument) {
  ThrowIfNil_(inDocument);
  CMovie* movie = inDocument->GetTaskMovie();
  ThrowIfNil_(movie);
  return movie;
}

}  // namespace

CMovieTask::CMovieTask(CMovieTaskDocument* inDocument)
    : LThread(false, 0, 4), mDocument(inDocument), mMovie(MovieOf(inDocument)), mStartTick(TickCount()) {
  AddListener(mDocument);
  StartBroadcasting();
}

CMovieTask::~CMovieTask() { BroadcastEndMessage(); }

void CMovieTask::BroadcastEndMessage() {
  if (mEndMessage == msg_Nothing) return;
  const MessageT message = mEndMessage;
  mEndMessage = msg_Nothing;
  BroadcastMessage(message, this);
}
