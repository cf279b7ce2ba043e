// The export-tween sheet of a movie document: the put-file dialog for the
// destination with three options (layout 1002) in its custom area: selection
// only, open the movie afterwards and hold the last frame. They show the
// class-wide options of the movie document when the dialog starts, and a
// click on one changes the class-wide option at once. The options are kept
// for the export-tween writer; nothing else reads them.
//
// A document opens it through UExportTweenSheet::Ask, which deletes the
// sheet once its answer has been handed on.
#pragma once

#include <functional>

#include "app/UExportTweenSheet.h"
#include "platform/base/MacTypes.h"
#include "platform/ui/LPane.h"
#include "toolkit/CNavEventResponder.h"

class LView;
class LWindow;

constexpr ResIDT DITL_ExportTweenOptions = 1002;

class LMovieExportTweenNavSheet : public CNavEventResponder {
 public:
  // The custom area's least size.
  static constexpr SInt16 kCustomWidth = 128;
  static constexpr SInt16 kCustomHeight = 64;

  typedef std::function<void(const UExportTweenSheet::SReply& inReply)> Completion;

  LMovieExportTweenNavSheet() = default;
  ~LMovieExportTweenNavSheet() override = default;

  // Opens the put-file dialog; inDone runs once, after the dialog has ended
  // (the sheet may be deleted inside it).
  OSStatus Start(const UExportTweenSheet::SOptions& inOptions, Completion inDone);

  void InvokeNavStart(NavCBRec* inParams) override;
  void InvokeNavCustomize(NavCBRec* inParams) override;
  void InvokeNavEvent(NavCBRec* inParams) override;
  void InvokeNavUserAction(NavCBRec* inParams) override;
  void InvokeNavTerminate(NavCBRec* inParams) override;

  // What a click on option inItem does.
  void DoItem(SInt16 inItem);
  // Negotiates the custom area: ioArea is what is proposed and becomes what is asked.
  void NegotiateCustomArea(Rect& ioArea);

  // The options area while the dialog is up (nil otherwise) and one option's box.
  LView* GetControls() const;
  LPane* GetItem(SInt16 inItem) const;

 private:
  void SyncControls();

  SInt16 mFirstItem = 0;
  Rect mLastTry{0, 0, 0, 0};
  Completion mDone;
  UExportTweenSheet::SReply mReply;
  Boolean mSyncing = false;
};
