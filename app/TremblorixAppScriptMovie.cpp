// What a script waits for and sets on the front movie document: its
// analysis, its session, its saving, the exports of the export client.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/CMovieDocument.h"
#include "app/TremblorixAppScript.h"
#include "app/USessionSupport.h"
#include "motion/CMotionData.h"
#include "platform/ui/LControl.h"
#include "platform/ui/UDesktop.h"
#include "toolkit/CRegularWindow.h"

namespace {

constexpr PaneIDT kSmoothingSlider = 101;  // the session drawer's smoothing slider

CMovieDocument* FrontMovieDocument() {
  for (LWindow* w : UDesktop::GetWindowsOfClass(kDocumentWindowClass))
    if (auto* doc = dynamic_cast<CMovieDocument*>(w->GetSuperCommander())) return doc;
  return nullptr;
}

Boolean Quiet(CMovieDocument* inDoc) {
  CRegularWindow* w = inDoc->GetWindow();
  return !inDoc->IsTaskRunning() && !inDoc->IsAsking() && !(w && w->GetCurrentSheet());
}

}  // namespace

// The export client's side (TremblorixAppScriptExport.cpp).
bool AppScriptExportsDone();

bool AppScriptMovieCondition(const std::string& inName) {
  if (inName == "exported") return AppScriptExportsDone();
  CMovieDocument* doc = FrontMovieDocument();
  if (!doc) return false;
  if (inName == "idle") return Quiet(doc);
  if (inName == "analysed")
    return Quiet(doc) && doc->GetMovie() && CMotionData::HasValidMotionDataTrack(doc->GetMovie());
  if (inName == "session") return doc->IsSessionOpen() && doc->GetDrawer() != nullptr;
  if (inName == "nosession") return !doc->IsSessionOpen() && Quiet(doc);
  if (inName == "saved") return Quiet(doc) && !doc->IsModified() && doc->HasFile();
  return false;
}

bool AppScriptMovieSetting(const std::string& inName, const std::string& inValue) {
  CMovieDocument* doc = FrontMovieDocument();
  if (!doc) return false;
  if (inName == "smoothing") {
    // As the user moves the drawer's slider.
    LWindow* drawer = doc->GetDrawer();
    if (!drawer) return false;
    auto* slider = dynamic_cast<LControl*>(drawer->FindPaneByID(kSmoothingSlider));
    if (!slider) return false;
    // The slider's positions are truncated both ways, so the position of a
    // time may show a tenth less: move on to the first one that shows it.
    const Float32 seconds = std::stof(inValue);
    SInt32 position = USessionSupport::SliderForSmoothingTime(seconds);
    for (int step = 0; step < 8 && position < slider->GetMaxValue() &&
                       USessionSupport::SmoothingTimeForSlider(position) + 0.05f < seconds;
         ++step)
      ++position;
    slider->SetValue(position);
    return true;
  }
  return false;
}
