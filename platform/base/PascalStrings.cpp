#include "platform/base/PascalStrings.h"

#include <algorithm>
#include <cstring>

void PStrCopy(StringPtr outDest, ConstStringPtr inSource) {
  if (!outDest) return;
  if (!inSource) {
    outDest[0] = 0;
    return;
  }
  std::memmove(outDest, inSource, static_cast<size_t>(inSource[0]) + 1);
}

void PStrCat(StringPtr ioDest, ConstStringPtr inSource) {
  if (!ioDest || !inSource) return;
  size_t room = 255 - ioDest[0];
  size_t n = std::min<size_t>(room, inSource[0]);
  std::memmove(ioDest + 1 + ioDest[0], inSource + 1, n);
  ioDest[0] = static_cast<unsigned char>(ioDest[0] + n);
}

void StringToPStr(const std::string& inText, StringPtr outDest, size_t inCapacity) {
  if (!outDest || inCapacity == 0) return;
  size_t n = std::min<size_t>({inText.size(), inCapacity - 1, 255});
  outDest[0] = static_cast<unsigned char>(n);
  std::memcpy(outDest + 1, inText.data(), n);
}

std::string PStrToString(ConstStringPtr inSource) {
  if (!inSource) return {};
  return std::string(reinterpret_cast<const char*>(inSource + 1), inSource[0]);
}

bool PStrEqual(ConstStringPtr a, ConstStringPtr b) {
  if (!a || !b) return a == b;
  return a[0] == b[0] && std::memcmp(a + 1, b + 1, a[0]) == 0;
}

void CopyCStringToPascal(const char* inSource, StringPtr outDest) {
  StringToPStr(inSource ? std::string(inSource) : std::string(), outDest);
}

void CopyPascalStringToC(ConstStringPtr inSource, char* outDest) {
  if (!outDest) return;
  size_t n = inSource ? inSource[0] : 0;
  if (n) std::memmove(outDest, inSource + 1, n);
  outDest[n] = 0;
}
