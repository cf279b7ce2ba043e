// An export request as Vantrel reads it: the records, the movie record
// opened as a movie, the exporter settings handed to the exporter it names.
#include "platform/movies/MovieExport.h"
#include "tests/fuzz/FuzzSupport.h"
#include "vantrel/ExportProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool entered = EnterMovies() == noErr;
  (void)entered;
  ExportRequestFields f;
  ParseExportRequest(data, size, f);
  if (f.hasMovie) {
    Handle h = fuzz::HandleOfBytes(f.movie, f.movieLength);
    Movie m = nullptr;
    if (NewMovieFromHandle(&m, h, newMovieDontAskUnresolvedDataRefs, nullptr) == noErr && m) {
      const SInt32 tracks = GetMovieTrackCount(m);
      for (SInt32 i = 1; i <= tracks && i <= 8; ++i) GetMediaSampleCount(GetTrackMedia(GetMovieIndTrack(m, i)));
      DisposeMovie(m);
    }
    DisposeHandle(h);
  }
  if (f.hasSettings) {
    // The exporter named, or one of those Vantrel knows when the name is unknown.
    static const OSType kSubtypes[] = {'MooV', 'mpg4', 'VfW ', '3gpp', 'AIFF', 'WAVE', 'ULAW'};
    MovieExportComponent exporter = nullptr;
    if (OpenADefaultComponent(MovieExportType, f.exporterSubtype, &exporter) != noErr)
      OpenADefaultComponent(MovieExportType, kSubtypes[f.exporterSubtype % 7], &exporter);
    if (exporter) {
      Handle settings = fuzz::HandleOfBytes(f.settings, f.settingsLength);
      if (MovieExportSetSettingsFromAtomContainer(exporter, settings) == noErr) {
        QTAtomContainer back = nullptr;
        if (MovieExportGetSettingsAsAtomContainer(exporter, &back) == noErr) DisposeHandle(back);
      }
      DisposeHandle(settings);
      CloseComponent(exporter);
    }
  }
  return 0;
}
