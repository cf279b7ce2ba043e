// What arrives at the export client's status port, as the client takes it
// while it holds a queue of exports (made by its own export of a movie), and
// the user's removals in between. Any local process may send to the port.
// Input: a first byte (bits 0-1: one to four exports are queued; bit 2:
// their destinations exist beforehand), then steps: a length byte L and L
// bytes handed to the port as they are (a status record is 16 bytes; a
// cookie of 1 to 4 names that export of this input), or L = 0xFF and a byte
// k: the user selects export k and removes it.
// Afterwards a done record for each export left ends the queue; every
// export then is gone and no export runs.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/CExportMovie.h"
#include "app/CExportMovieSettings.h"
#include "app/CExportTasksPane.h"
#include "app/CRecentFiles.h"
#include "app/LMovieExportNavSheet.h"
#include "media/CMovie.h"
#include "platform/base/Endian.h"
#include "platform/files/Files.h"
#include "platform/files/Sidecar.h"
#include "tests/fuzz/FuzzDesktop.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/movies/RawMovie.h"
#include "vantrel/ExportProtocol.h"

namespace {

CMovie* gMovie = nullptr;

std::string Destination(int inIndex) { return fuzz::DesktopFolder() + "/Export " + std::to_string(inIndex) + ".mov"; }

void Deliver(const UInt8* inBytes, size_t inLength) {
  CFDataRef data = CFDataCreate(kCFAllocatorDefault, inBytes, static_cast<CFIndex>(inLength));
  CExportMovie::ProgressPortCallBack(nullptr, 0, data, nullptr);
  if (data) CFRelease(data);
}

void Done(UInt32 inCookie) {
  UInt8 b[kExportStatusSize];
  EncodeExportStatus(ExportStatus{kExportStatusDone, kExportPhaseMovie, fixed1, 0, 0, inCookie}, b);
  Deliver(b, sizeof b);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartDesktop();
  // The client without Vantrel: its requests find no port and wait.
  if (CExportMovie::Init() != noErr || CExportMovie::GetExporter() == nullptr) std::abort();
  std::atexit([] { CExportMovie::Finish(); });
  Movie movie = testmovies::MakeRawMovie(16, 12, 3, [](SInt32 k, UInt8* outPixels, size_t inRowBytes) {
    for (size_t i = 0; i < inRowBytes * 12; ++i) outPixels[i] = static_cast<UInt8>(i + k);
  });
  gMovie = new CMovie(movie, true);
  CExportMovieSettings::sCurrentExporter = 'MooV';
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CExportMovie* client = CExportMovie::GetExporter();
  fuzz::Cursor in{data, size};
  const UInt8 first = in.Byte();
  const int count = 1 + (first & 3);
  std::vector<CExportTask*> tasks;
  for (int i = 0; i < count; ++i) {
    const std::string path = Destination(i + 1);
    if (first & 4) WriteWholeFileAtomically(path, {'o', 'l', 'd'});
    FSSpec spec;
    FSMakeFSSpecFromPath(path, &spec);
    try {
      CExportMovie::DoExport(gMovie, &spec);
    } catch (...) {
      std::abort();
    }
    tasks.push_back(client->GetTasks().back());
  }
  std::vector<UInt32> cookies;
  for (CExportTask* task : tasks) cookies.push_back(task->GetCookie());

  for (int step = 0; step < 64 && in.n > 0; ++step) {
    const UInt8 length = in.Byte();
    if (length == 0xFF) {
      const UInt8 k = in.Byte() % count;
      CExportTask* task = client->FindTask(cookies[k]);
      if (task == nullptr) continue;
      client->GetTaskList()->SelectTask(task, true, false);
      client->ListenToMessage(msg_RemoveExportTasks, nullptr);
      continue;
    }
    std::vector<UInt8> message = in.Take(length);
    if (message.size() >= kExportStatusSize) {
      const UInt32 named = ReadBE32(message.data() + 12);
      if (named >= 1 && named <= static_cast<UInt32>(count)) WriteBE32(message.data() + 12, cookies[named - 1]);
    }
    Deliver(message.data(), message.size());
  }

  for (int round = 0; round < 8 && !client->GetTasks().empty(); ++round)
    for (CExportTask* task : std::vector<CExportTask*>(client->GetTasks())) Done(task->GetCookie());
  if (!client->GetTasks().empty() || CExportMovie::GetCurrentTask() != nullptr) std::abort();

  CRecentFiles::Delete();
  for (int i = 1; i <= count; ++i) unlink(Destination(i).c_str());
  fuzz::SettleDesktop();
  return 0;
}
