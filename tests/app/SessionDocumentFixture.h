// A fixture for the tests of a movie document's analysis, edit session and
// sheets: the layout classes registered, one document with a window of its
// own, its tasks run to their ends with the end messages handed to it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MovieDocumentTestSupport.h"
#include "SessionTestMovies.h"
#include "app/CMovieDocument.h"
#include "media/CMovie.h"
#include "media/CMovieTask.h"
#include "media/CTweenTracks.h"
#include "motion/CMotionData.h"
#include "platform/framework/LThread.h"

// Hands the end messages of the document's tasks to the document as its
// message dispatch does (a second delivery finds the task gone and is ignored).
struct TaskEnds : LListener {
  CMovieDocument* doc = nullptr;
  std::vector<MessageT> seen;
  void ListenToMessage(MessageT inMessage, void* ioParam) override {
    seen.push_back(inMessage);
    auto* task = static_cast<CMovieTask*>(ioParam);
    if (inMessage == msg_MotionAnalysisEnded) doc->MotionAnalysisEnded(task);
    if (inMessage == msg_InterlaceAnalysisEnded) doc->InterlaceAnalysisEnded(task);
  }
};

class SessionDocumentFixture : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    sessiontest::RegisterLayoutClasses();
  }
  void TearDown() override {
    if (doc) {
      doc->EndEditSession(false);
      doc->Close();
      doc = nullptr;
    }
    DocumentFixture::TearDown();
  }

  using DocumentFixture::Open;
  // The movie flattened into a file named after the test, in a windowed document.
  void Open(Movie inMovie) {
    CMovie* movie =
        sessiontest::OpenAsFile(inMovie, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_NE(movie, nullptr);
    Open(movie);
  }
  void Open(CMovie* inMovie) {
    doc = sessiontest::NewWindowedDocument(inMovie);
    ends.doc = doc;
  }
  // Runs the running task to its end.
  bool RunTask() {
    CMovieTask* task = doc->GetRunningTask();
    if (!task) return false;
    task->AddListener(&ends);
    const size_t before = ends.seen.size();
    for (int turn = 0; turn < 2000000 && ends.seen.size() == before; ++turn) {
      LThread::Yield();
      LThread::DeleteEndedThreads();
    }
    return ends.seen.size() > before;
  }
  SInt32 ControlTracks() { return sessiontest::CountTracksAtLayer(doc->GetMovie()->GetMovie(), kControlTrackLayer); }
  SInt32 MotionTracks() { return sessiontest::CountTracksAtLayer(doc->GetMovie()->GetMovie(), kMotionTrackLayer); }

  CMovieDocument* doc = nullptr;
  TaskEnds ends;
};
