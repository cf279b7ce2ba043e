// Export requests for a movie, built as the application builds them, and
// the failure a task's status records report: shared by the export tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieExport.h"
#include "vantrel/ExportClient.h"

inline Bytes HandleBytes(Handle h) { return Bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h)); }

// The request for exporting inMovie to inPath with the exporter's default
// settings, each of inValues (a settings atom and its 32-bit value) set as the
// options dialog stores it, as the application sends it.
inline Bytes ExportRequestWithSettings(Movie inMovie, const std::string& inPath, OSType inSubtype, UInt32 inCookie,
                                       const std::vector<std::pair<OSType, UInt32>>& inValues) {
  // As the application names the destination: by its path, with nothing made there.
  FSSpec spec;
  FSMakeFSSpecFromPath(inPath, &spec);
  AliasHandle alias = nullptr;
  EXPECT_EQ(NewAliasToPath(&spec, &alias), noErr);
  Handle movie = NewHandle(0);
  EXPECT_EQ(PutMovieIntoHandle(inMovie, movie), noErr);
  MovieExportComponent ci = nullptr;
  EXPECT_EQ(OpenADefaultComponent(MovieExportType, inSubtype, &ci), noErr);
  QTAtomContainer settings = nullptr;
  EXPECT_EQ(MovieExportGetSettingsAsAtomContainer(ci, &settings), noErr);
  CloseComponent(ci);
  for (const auto& [type, value] : inValues) {
    UInt8 bytes[4] = {static_cast<UInt8>(value >> 24), static_cast<UInt8>(value >> 16), static_cast<UInt8>(value >> 8),
                      static_cast<UInt8>(value)};
    const QTAtom atom = QTFindChildByID(settings, kParentAtomIsContainer, type, 1, nullptr);
    EXPECT_NE(atom, 0);
    EXPECT_EQ(QTSetAtomData(settings, atom, 4, bytes), noErr);
  }
  const Bytes movieBytes = HandleBytes(movie), aliasBytes = HandleBytes(reinterpret_cast<Handle>(alias)),
              settingsBytes = HandleBytes(settings);
  const Bytes message = EncodeExportRequest(RequestFields(movieBytes, aliasBytes, inSubtype, settingsBytes, inCookie));
  DisposeHandle(movie);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  QTDisposeAtomContainer(settings);
  return message;
}

// The same with the default settings but the frame rate, when given.
inline Bytes ExportRequestFor(Movie inMovie, const std::string& inPath, OSType inSubtype, UInt32 inCookie,
                              Fixed inFrameRate = 0) {
  std::vector<std::pair<OSType, UInt32>> values;
  if (inFrameRate != 0) values.push_back({'fps ', static_cast<UInt32>(inFrameRate)});
  return ExportRequestWithSettings(inMovie, inPath, inSubtype, inCookie, values);
}

inline SInt16 ErrorOf(const std::vector<ExportStatus>& inRecords) {
  for (const ExportStatus& s : inRecords)
    if (s.kind == kExportStatusError) return s.error;
  return 0;
}
