// How the application object sees its documents: the open movie documents,
// front to back, and the few things it asks of each (modified, its window,
// its file, bring it forward, close it). The movie document class provides
// the real list; tests put in documents of their own, so that the quitting
// and opening rules can be checked on their own.
#pragma once

#include <functional>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

class LCommander;
class LWindow;
class CMovie;

class CAppDocument {
 public:
  virtual ~CAppDocument() = default;
  virtual Boolean IsModified() const = 0;
  // Its window (nil: none any more).
  virtual LWindow* GetWindow() const = 0;
  virtual Boolean UsesFile(const FSSpec& inSpec) const = 0;
  // Brings the document's window forward and makes it the target.
  virtual void MakeCurrent() = 0;
  // Closes through the document's own questions (save changes, a running
  // task, a showing sheet); may refuse.
  virtual void AttemptClose(Boolean inRecordIt) = 0;
  // Whether a task of the document runs (its analysis); asking it to stop.
  virtual Boolean IsTaskRunning() const = 0;
  virtual void StopTask() = 0;
  // Whether the document asks the user something now (a sheet or question
  // on its window).
  virtual Boolean IsAsking() const = 0;
  // Closes at once, changes dropped.
  virtual void Close() = 0;
  // The commander that answers for it.
  virtual LCommander* GetCommander() = 0;
};

class UAppDocuments {
 public:
  // The documents, in the order of their windows from the front; documents
  // whose windows are hidden come after the visible ones.
  static std::vector<CAppDocument*> GetDocuments();
  static CAppDocument* FindByFileSpec(const FSSpec& inSpec);
  // Makes a movie document on a file, or over a movie wrapper (owned by it
  // from then on); a failure is thrown.
  static CAppDocument* OpenMovieDocument(FSSpec* inSpec);
  static CAppDocument* NewMovieDocument(CMovie* inMovie);

  // The quitting state of the documents: closing each through its own
  // questions, or discarding every change.
  static Boolean IsQuitting();
  static void SetQuitting(Boolean inQuitting, Boolean inDisregardChanges);
  // Quitting, changes dropped: from the event loop every document closes,
  // its running task stopped first and its end awaited; one that asks the
  // user something comes forward and the quit stops there.
  static void DiscardAllForQuit();
  static Boolean IsDiscarding();

  // Tests: documents of their own instead of the movie documents (nil: back
  // to the movie documents).
  struct SProvider {
    std::function<std::vector<CAppDocument*>()> list;
    std::function<CAppDocument*(FSSpec*)> open;
    std::function<CAppDocument*(CMovie*)> make;
  };
  static void SetProvider(const SProvider* inProvider);
  static Boolean GetDisregardChanges();
};
