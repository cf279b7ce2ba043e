// Text styles ('Txtr' resources, see LayoutFormat.h): the font, size, face,
// justification and colour a layout's texts are shown in.
#pragma once

#include <string>

#include "platform/base/MacTypes.h"

constexpr UInt8 kTextFaceBold = 1;
constexpr UInt8 kTextFaceItalic = 2;
constexpr UInt8 kTextFaceUnderline = 4;
constexpr SInt16 kTextJustLeft = 0;
constexpr SInt16 kTextJustCenter = 1;
constexpr SInt16 kTextJustRight = -1;

struct STextTraits {
  std::string font;  // "" the system font
  SInt16 size = 0;   // points; 0 the system size
  UInt8 face = 0;
  SInt16 just = kTextJustLeft;
  UInt16 red = 0, green = 0, blue = 0;
};

class UTextTraits {
 public:
  // Text style inID from the resources; false (and the system style) when
  // the id is 0 or there is no such style.
  static Boolean Load(SInt16 inID, STextTraits& outTraits);
};
