// Four-character codes: multi-character literals ('twen') give the big-endian
// value of the four bytes, which is how they are stored in files.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

// The four characters of a code, most significant byte first.
std::string FourCCToString(FourCharCode inCode);
// The code of the first four characters of a text (shorter texts padded with spaces).
FourCharCode StringToFourCC(const std::string& inText);
// True when all four bytes are printable ASCII.
bool LooksLikeFourCC(FourCharCode inCode);
