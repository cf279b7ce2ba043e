#include "toolkit/UAcsiiUtils.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/Resources.h"
#include "platform/framework/LStream.h"

char UAcsiiUtils::sDecimalSymbol = 0;

namespace {

void Replace(char* ioText, SInt32 inLength, char inFrom, char inTo) {
  if (!ioText || inFrom == inTo) return;
  for (SInt32 i = 0; i < inLength; ++i)
    if (ioText[i] == inFrom) ioText[i] = inTo;
}

// The stream's bytes from its start; the marker is left at the end.
std::vector<char> ReadAll(LStream& ioStream) {
  std::vector<char> bytes(static_cast<size_t>(std::max<SInt32>(ioStream.GetLength(), 0)));
  ioStream.SetMarker(0, streamFrom_Start);
  const SInt32 got = ioStream.ReadData(bytes.data(), static_cast<SInt32>(bytes.size()));
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

}  // namespace

char UAcsiiUtils::GetDecimalSymbol() {
  if (sDecimalSymbol == 0) {
    Handle itl0 = GetResource('itl0', 0);
    sDecimalSymbol = itl0 && *itl0 && GetHandleSize(itl0) > 0 && **itl0 != 0 ? **itl0 : '.';
  }
  return sDecimalSymbol;
}

void UAcsiiUtils::DecimalPtToCurrent(char* ioText) {
  if (ioText) Replace(ioText, static_cast<SInt32>(std::strlen(ioText)), '.', GetDecimalSymbol());
}

void UAcsiiUtils::DecimalPtToCurrent(unsigned char* ioText) {
  if (ioText) Replace(reinterpret_cast<char*>(ioText + 1), ioText[0], '.', GetDecimalSymbol());
}

void UAcsiiUtils::CurrentDecimalToPt(char* ioText) {
  if (ioText) Replace(ioText, static_cast<SInt32>(std::strlen(ioText)), GetDecimalSymbol(), '.');
}

void UAcsiiUtils::CurrentDecimalToPt(unsigned char* ioText) {
  if (ioText) Replace(reinterpret_cast<char*>(ioText + 1), ioText[0], GetDecimalSymbol(), '.');
}

bool UAcsiiUtils::ConvertToPt(LStream& ioStream) {
  std::vector<char> bytes = ReadAll(ioStream);
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == ',') {
      ioStream.SetMarker(static_cast<SInt32>(i), streamFrom_Start);
      const char point = '.';
      ioStream.WriteData(&point, 1);
    }
  return true;
}

bool UAcsiiUtils::CountRowsAndCols(LStream& ioStream, SInt32* outColumns, SInt32* outRows) {
  const std::vector<char> bytes = ReadAll(ioStream);
  SInt32 rows = 0, columns = 0, tabs = 0;
  for (char c : bytes) {
    if (c == '\t') {
      ++tabs;
    } else if (c == '\r' || c == '\n') {
      ++rows;
      columns = std::max(columns, tabs + 1);
      tabs = 0;
    }
  }
  if (outColumns) *outColumns = columns;
  if (outRows) *outRows = rows;
  return true;
}

bool UAcsiiUtils::ReadItem(LStream& ioStream, char* outItem) {
  char c = 0;
  for (;;) {
    if (ioStream.ReadData(&c, 1) != 1) {
      if (outItem) outItem[0] = 0;
      return false;
    }
    if (c != '\r' && c != '\n' && c != '\t' && c != 0 && c != ' ') break;
  }
  SInt32 length = 0;
  for (;;) {
    if (c == '\r' || c == '\n' || c == '\t' || c == 0) break;
    if (c != ' ') {
      if (outItem) outItem[length] = c;
      if (++length == 255) break;
    }
    if (ioStream.ReadData(&c, 1) != 1) break;
  }
  if (outItem) outItem[length] = 0;
  return length < 255;
}
