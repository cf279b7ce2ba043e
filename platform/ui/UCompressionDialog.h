// The standard image compression settings dialog: a codec pop-up over the
// codecs the compression component offers, a quality slider, a key frame
// every so many frames and a data-rate limit, with OK and Cancel. It edits
// the component's settings state (the bytes of its atom container); values it
// does not show (frame rate, depth) pass through unchanged.
#pragma once

#include <functional>
#include <vector>

#include "platform/base/MacTypes.h"
#include "platform/movies/ImageCompression.h"

class LWindow;
class QDialog;

namespace UCompressionDialog {

// OK and the edited state, or false and the state as it came.
typedef std::function<void(Boolean inOK, const std::vector<UInt8>& inState)> Reply;

// Opens the dialog (window-modal on inParent when given, else
// application-modal) and returns at once; inReply runs once, when the user
// answers. The dialog deletes itself once closed.
QDialog* Present(LWindow* inParent, const std::vector<SCCodecInfo>& inCodecs, const std::vector<UInt8>& inState,
                 Reply inReply);

}  // namespace UCompressionDialog
