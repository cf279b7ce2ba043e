// The exporters' Options dialog: the real dialog behind the exporter-options
// question. It shows the settings the exporter has (video exporters: quality,
// bit rate and frame size; every exporter with sound: sample rate and
// channels), read from and written back into the settings' atom container
// bytes (one big-endian UInt32 atom, id 1, per value); atoms it does not
// show pass through unchanged.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/ui/UResponder.h"

class QDialog;

namespace UExporterOptionsDialog {

// Makes the dialog the presenter of question_ExporterOptions.
void Install();
// Opens the dialog for the question (window-modal on its parent when set);
// inReply gets the edited settings, or a cancel. Returns the dialog.
QDialog* Present(const SQuestion& inQuestion, UResponder::Reply inReply);

// The value of a UInt32 atom (id 1) of settings bytes; false when it has none.
bool GetValue(const std::vector<UInt8>& inSettings, OSType inType, UInt32& outValue);
// Sets (or appends) a UInt32 atom (id 1).
void SetValue(std::vector<UInt8>& ioSettings, OSType inType, UInt32 inValue);

}  // namespace UExporterOptionsDialog
