// The movie documents' way to the export sheet, kept apart from the sheet's
// own header so that a document's code needs none of the dialog's types.
#pragma once

#include <functional>
#include <string>

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

class CMovie;
class LWindow;

namespace UExportSheet {
// Opens the export sheet on inWindow proposing inName; inDone runs once with
// the chosen file, or nil when the user cancelled or the sheet could not open.
void Ask(CMovie* inMovie, SInt32 inInterlaceMode, LWindow* inWindow, const std::string& inName,
         std::function<void(const FSSpec* inFile)> inDone);
}  // namespace UExportSheet
