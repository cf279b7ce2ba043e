// The export client's request writer: the checks of the destination, and
// the request for Vantrel, made from the movie (or its selection), the
// destination's alias and the current exporter with its stored settings.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/CExportMovie.h"
#include "media/CMovie.h"
#include "platform/base/LException.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/files/PartialFiles.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/Movies.h"
#include "vantrel/ExportProtocol.h"

namespace {

// A handle's bytes for a request record (none for a nil handle).
const UInt8* BytesOf(Handle inHandle) { return inHandle ? reinterpret_cast<const UInt8*>(*inHandle) : nullptr; }
size_t SizeOf(Handle inHandle) { return inHandle && *inHandle ? static_cast<size_t>(GetHandleSize(inHandle)) : 0; }

std::filesystem::path Normal(const std::string& inPath) {
  std::error_code ignored;
  std::filesystem::path p = std::filesystem::weakly_canonical(inPath, ignored);
  return p.empty() ? std::filesystem::path(inPath).lexically_normal() : p;
}

bool SameFile(const std::string& inA, const std::string& inB) {
  if (inA.empty() || inB.empty()) return false;
  std::error_code error;
  if (std::filesystem::exists(inA, error) && std::filesystem::exists(inB, error))
    return std::filesystem::equivalent(inA, inB, error);
  return Normal(inA) == Normal(inB);
}

// The file a data reference names ("" for memory and other kinds). File
// references come as an alias record, or, for the movie's own file, as its path.
std::string DataRefPath(Handle inDataRef, OSType inType) {
  if (inDataRef == nullptr || *inDataRef == nullptr || inType != rAliasType) return "";
  FSSpec target;
  Boolean changed = false;
  if (ResolveAlias(nullptr, reinterpret_cast<AliasHandle>(inDataRef), &target, &changed) == noErr)
    return FSSpecPath(target);
  const std::string bytes(*inDataRef, static_cast<size_t>(GetHandleSize(inDataRef)));
  if (!bytes.empty() && bytes[0] == '/' && bytes.find('\0') == std::string::npos) return bytes;
  return "";
}

}  // namespace

OSErr CExportMovie::CheckDestination(const FSSpec& inDestination) {
  const std::string path = FSSpecPath(inDestination);
  if (path.empty() || path.back() == '/') return bdNamErr;
  const std::filesystem::path place(path);
  std::error_code error;
  const std::filesystem::path folder = place.parent_path();
  if (!std::filesystem::is_directory(folder, error)) return dirNFErr;
  // Vantrel makes a new file in the folder and renames it over the destination.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return afpAccessDenied;
  const std::filesystem::file_status status = std::filesystem::symlink_status(place, error);
  if (std::filesystem::exists(status) && std::filesystem::is_directory(std::filesystem::status(place, error)))
    return notAFileErr;
  return noErr;
}

Boolean CExportMovie::IsSourceOfMovie(Movie inMovie, const FSSpec& inFile) {
  if (inMovie == nullptr) return false;
  const std::string target = FSSpecPath(inFile);
  Handle ref = nullptr;
  OSType type = 0;
  if (GetMovieDefaultDataRef(inMovie, &ref, &type) == noErr && ref) {
    const bool same = SameFile(DataRefPath(ref, type), target);
    DisposeHandle(ref);
    if (same) return true;
  }
  const SInt32 tracks = GetMovieTrackCount(inMovie);
  for (SInt32 t = 1; t <= tracks; ++t) {
    Media media = GetTrackMedia(GetMovieIndTrack(inMovie, t));
    if (media == nullptr) continue;
    SInt16 refs = 0;
    if (GetMediaDataRefCount(media, &refs) != noErr) continue;
    for (SInt16 r = 1; r <= refs; ++r) {
      Handle dataRef = nullptr;
      OSType dataRefType = 0;
      if (GetMediaDataRef(media, r, &dataRef, &dataRefType, nullptr) != noErr || dataRef == nullptr) continue;
      const bool same = SameFile(DataRefPath(dataRef, dataRefType), target);
      DisposeHandle(dataRef);
      if (same) return true;
    }
  }
  return false;
}

OSErr CExportMovie::DoExport(CMovie* inMovie, FSSpec* inDestination) {
  ThrowIfNil_(inMovie);
  ThrowIfNil_(inDestination);
  ThrowIfNil_(sExporter);
  ThrowIfNil_(inMovie->GetMovie());
  Movie movie = inMovie->GetMovie();
  // Never delete what the export is about to read.
  if (IsSourceOfMovie(movie, *inDestination)) Throw_(err_ExportOverwritesSource);

  // Nothing is made or removed at the destination here: Vantrel writes the
  // movie beside it and renames it over the destination only when it is
  // whole, so an earlier file there stays as it is until then, and stays
  // for good when the export is removed, fails or never ends.
  ThrowIfOSErr_(CheckDestination(*inDestination));
  // A killed export to the same place left its partial file beside it.
  RemoveLeftoversBeside(FSSpecPath(*inDestination));
  OSErr err = noErr;
  AliasHandle alias = nullptr;
  Handle movieHandle = nullptr;
  QTAtomContainer settings = nullptr;
  MovieExportComponent exporter = nullptr;
  CFDataRef request = nullptr;
  CExportTask* task = nullptr;
  try {
    ThrowIfOSErr_(NewAliasToPath(inDestination, &alias));
    ThrowIfNil_(alias);
    ThrowIfOSErr_(OpenADefaultComponent(MovieExportType, CExportMovieSettings::sCurrentExporter, &exporter));
    ThrowIfNil_(exporter);
    if (sExporter->mSettings.GetSettings(CExportMovieSettings::sCurrentExporter, &settings) != noErr || settings == nullptr)
      ThrowIfOSErr_(MovieExportGetSettingsAsAtomContainer(exporter, &settings));

    movieHandle = NewHandle(0);
    ThrowIfNil_(movieHandle);
    SInt32 selStart = 0, selEnd = 0;
    inMovie->GetSelection(&selStart, &selEnd);
    if (CExportMovieSettings::sSelectionOnly && selEnd != selStart) {
      Movie selection = CopyMovieSelection(movie);
      ThrowIfNil_(selection);
      Rect bounds;
      inMovie->GetCurrentBounds(bounds);
      SetMovieBox(selection, &bounds);
      err = PutMovieIntoHandle(selection, movieHandle);
      DisposeMovie(selection);
      ThrowIfOSErr_(err);
    } else {
      ThrowIfOSErr_(PutMovieIntoHandle(movie, movieHandle));
    }

    task = new CExportTask;
    task->SetCookie(sExporter->mQueue.NewCookie());
    static_assert(MovieExportType == 'spit', "the request names the movie exporters' type");
    const Handle destination = reinterpret_cast<Handle>(alias);
    const ExportRequestFields fields = ExportRequestOf(
        BytesOf(movieHandle), SizeOf(movieHandle), BytesOf(destination), SizeOf(destination),
        CExportMovieSettings::sCurrentExporter, BytesOf(settings), SizeOf(settings), task->GetCookie(),
        CExportMovieSettings::sSingleField);
    const std::vector<UInt8> message = EncodeExportRequest(fields);
    request = CFDataCreate(kCFAllocatorDefault, message.data(), static_cast<CFIndex>(message.size()));
    ThrowIfNil_(request);
  } catch (...) {
    if (task) {
      sExporter->mQueue.ReleaseCookie(task->GetCookie());
      delete task;
    }
    if (request) CFRelease(request);
    if (movieHandle) DisposeHandle(movieHandle);
    if (settings) QTDisposeAtomContainer(settings);
    if (exporter) CloseComponent(exporter);
    if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
    throw;
  }
  DisposeHandle(movieHandle);
  QTDisposeAtomContainer(settings);
  CloseComponent(exporter);

  sExporter->ShowWindow();
  task->Init(*inDestination, request);
  CFRelease(request);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  ThrowIfOSErr_(static_cast<OSErr>(sExporter->AddTask(task)));
  return noErr;
}
