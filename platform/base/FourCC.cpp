#include "platform/base/FourCC.h"

std::string FourCCToString(FourCharCode inCode) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((inCode >> (24 - 8 * i)) & 0xFF);
  return s;
}

FourCharCode StringToFourCC(const std::string& inText) {
  FourCharCode code = 0;
  for (size_t i = 0; i < 4; ++i) {
    unsigned char c = i < inText.size() ? static_cast<unsigned char>(inText[i]) : ' ';
    code = (code << 8) | c;
  }
  return code;
}

bool LooksLikeFourCC(FourCharCode inCode) {
  for (int i = 0; i < 4; ++i) {
    unsigned c = (inCode >> (8 * i)) & 0xFF;
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}
