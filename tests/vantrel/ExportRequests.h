// Export requests for a movie, built as the application builds them, and
// the failure a task's status records report: shared by the export tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/movies/MovieExport.h"
#include "vantrel/ExportClient.h"

inline Bytes HandleBytes(Handle h) { return Bytes(reinterpret_cast<UInt8*>(*h), reinterpret_cast<UInt8*>(*h) + GetHandleSize(h)); }

// The request for exporting inMovie to inPath with the exporter's default
// settings (and frame rate, when given), as the application sends it.
inline Bytes ExportRequestFor(Movie inMovie, const std::string& inPath, OSType inSubtype, UInt32 inCookie,
                              Fixed inFrameRate = 0) {
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
  if (inFrameRate != 0) {
    UInt8 rate[4] = {static_cast<UInt8>(inFrameRate >> 24), static_cast<UInt8>(inFrameRate >> 16),
                     static_cast<UInt8>(inFrameRate >> 8), static_cast<UInt8>(inFrameRate)};
    EXPECT_EQ(QTSetAtomData(settings, QTFindChildByID(settings, kParentAtomIsContainer, 'fps ', 1, nullptr), 4, rate),
              noErr);
  }
  const Bytes movieBytes = HandleBytes(movie), aliasBytes = HandleBytes(reinterpret_cast<Handle>(alias)),
              settingsBytes = HandleBytes(settings);
  const Bytes message = EncodeExportRequest(RequestFields(movieBytes, aliasBytes, inSubtype, settingsBytes, inCookie));
  DisposeHandle(movie);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  QTDisposeAtomContainer(settings);
  return message;
}

inline SInt16 ErrorOf(const std::vector<ExportStatus>& inRecords) {
  for (const ExportStatus& s : inRecords)
    if (s.kind == kExportStatusError) return s.error;
  return 0;
}
