#include "app/UExportSheet.h"

#include <memory>

#include "app/LMovieExportNavSheet.h"

namespace UExportSheet {

void Ask(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inWindow, const std::string& inName,
         std::function<void(const FSSpec* inFile)> inDone) {
  auto* sheet = new LMovieExportNavSheet(inMovie, inInterlaceMode, inWindow);
  auto answered = std::make_shared<bool>(false);
  const OSStatus err = sheet->Start(inName, [sheet, inDone, answered](const FSSpec* inFile) {
    *answered = true;
    if (inDone) inDone(inFile);
    delete sheet;
  });
  if (err != noErr && !*answered) {
    // A dialog that could not open never answers.
    delete sheet;
    if (inDone) inDone(nullptr);
  }
}

}  // namespace UExportSheet
