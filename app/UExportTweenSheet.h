// The movie documents' way to the export-tween sheet, kept apart from the
// sheet's own header so that a document's code needs none of the dialog's
// types.
#pragma once

#include <functional>
#include <string>

#include "platform/base/MacTypes.h"

class LMovieExportTweenNavSheet;
class LWindow;

// The options, counted after the options area's first item (a caption).
enum : SInt16 {
  kTweenItemSelectionOnly = 1,
  kTweenItemOpenMovie = 2,
  kTweenItemHoldLastFrame = 3,
};

// The movie option the third item shows (the movie holds its last frame).
constexpr UInt32 kTweenHoldLastFrameOption = 0x100;

namespace UExportTweenSheet {

// What the sheet shows: its title, the proposed name and the action button;
// a sheet of the parent window when there is one, else application-modal.
struct SOptions {
  std::string title;
  std::string saveName;
  std::string actionLabel;
  LWindow* parent = nullptr;
};

// The user's answer. For a save the folder and the whole name; replacing
// tells that a file of that name exists and the user agreed to replace it.
struct SReply {
  Boolean saved = false;
  std::string folder;
  std::string saveName;
  Boolean replacing = false;
};

// Opens the sheet; inDone runs once when it has gone (not saved: cancelled,
// or the sheet could not open). The answer: the sheet while it is up, nil
// when it is over already.
LMovieExportTweenNavSheet* Ask(const SOptions& inOptions, std::function<void(const SReply&)> inDone);

// The class-wide option of the movie documents that an item shows, and
// changing it (items other than the three: false, nothing changes).
Boolean GetOption(SInt16 inItem);
void SetOption(SInt16 inItem, Boolean inOn);

// Takes a sheet that is still up away unanswered: its inDone never runs.
void Dismiss(LMovieExportTweenNavSheet* inSheet);

}  // namespace UExportTweenSheet
