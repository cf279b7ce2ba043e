// trx_stabilise: the main road on one movie, for developers.
//
//   trx_stabilise [movie] [--out DIR] [--frames N] [--size WxH]
//   trx_stabilise --generate FILE [--frames N] [--size WxH]
//
// Opens the movie (without one, generates a short shaky clip of a textured
// scene on a slow pan), measures its motion with the automatic tracker,
// computes the corrections with a new document's settings, writes the control
// track, saves the movie, and exports it through a real Vantrel launched from
// the bundle with the default MPEG-4 exporter, printing its progress. Writes
// the steadied movie and a before | after still (PNG) into the output folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/CBuffer.h"
#include "media/CMovieFrameAhead.h"
#include "platform/base/LException.h"
#include "media/CMovieRendering.h"
#include "media/CTweenTracks.h"
#include "media/UMovies.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CMotionData.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/FixMath.h"
#include "platform/base/FourCC.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Aliases.h"
#include "platform/files/Bundle.h"
#include "platform/files/CoreFoundation.h"
#include "platform/files/PartialFiles.h"
#include "platform/ipc/CFMessagePort.h"
#include "platform/ipc/Processes.h"
#include "platform/movies/MovieExport.h"
#include "platform/movies/MovieFFCodecs.h"
#include "vantrel/ExportProtocol.h"

namespace fs = std::filesystem;

// Leak reports leave out libx264's lifetime allocation and the bundle's
// Info.plist texts, which the files layer reads once and keeps for the life
// of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx264.so\nleak:ReadInfoPlist\n"; }

namespace {

struct Options {
  std::string input;
  std::string out = "out";
  int frames = 60;
  int width = 640;
  int height = 360;
  std::string generate;  // only write the shaky clip into this file
};

// What an interrupted run must clean up, shared with the signal watcher:
// the private port folder of this run's Vantrel (removed on every way out),
// Vantrel itself while it runs, and the outputs being written.
std::mutex gCleanupLock;
std::string gPortFolder;
pid_t gVantrelPid = -1;
struct Unfinished {
  std::string path;
  bool removeItself;  // written in place (else beside it and renamed when whole)
};
std::vector<Unfinished> gUnfinished;

void RemovePortFolder() {
  std::lock_guard<std::mutex> g(gCleanupLock);
  if (gPortFolder.empty()) return;
  std::error_code ignored;
  fs::remove_all(gPortFolder, ignored);
  gPortFolder.clear();
}

void SetPortFolder(const std::string& inFolder) {
  std::lock_guard<std::mutex> g(gCleanupLock);
  gPortFolder = inFolder;
}

void SetVantrelPid(pid_t inPid) {
  std::lock_guard<std::mutex> g(gCleanupLock);
  gVantrelPid = inPid;
}

// An output from the moment it is begun until it is complete: an
// interrupted run removes the hidden files written beside it and, for one
// written in place, the output itself. An output that is renamed into place
// when whole keeps an earlier file of its name.
void BeginOutput(const std::string& inPath, bool inWrittenInPlace) {
  std::lock_guard<std::mutex> g(gCleanupLock);
  gUnfinished.push_back({inPath, inWrittenInPlace});
}

void EndOutput(const std::string& inPath) {
  std::lock_guard<std::mutex> g(gCleanupLock);
  gUnfinished.erase(std::remove_if(gUnfinished.begin(), gUnfinished.end(),
                                   [&](const Unfinished& u) { return u.path == inPath; }),
                    gUnfinished.end());
}

// SIGINT and SIGTERM: the handler only writes the signal's number into a
// pipe; a watcher thread reads it, cleans up and ends the process with
// 128 + the signal, as a shell reports a process the signal ended.
int gSignalPipe[2] = {-1, -1};

extern "C" void OnTerminatingSignal(int inSignal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(inSignal);
  ssize_t ignored = ::write(gSignalPipe[1], &number, 1);
  (void)ignored;
  errno = saved;
}

// Ends Vantrel when it still runs and removes the port folder and what the
// unfinished outputs left.
void RemoveUnfinished() {
  std::lock_guard<std::mutex> g(gCleanupLock);
  if (gVantrelPid > 0) {
    // Vantrel's own half-written file goes with it (removed below).
    ::kill(gVantrelPid, SIGKILL);
    ::waitpid(gVantrelPid, nullptr, 0);
    gVantrelPid = -1;
  }
  std::error_code ignored;
  // The partial files this process writes, and those the killed Vantrel left.
  RemoveOwnPartialFiles();
  for (const Unfinished& u : gUnfinished) {
    if (u.removeItself) fs::remove(u.path, ignored);
    RemoveLeftoversBeside(u.path);
  }
  gUnfinished.clear();
  if (!gPortFolder.empty()) fs::remove_all(gPortFolder, ignored);
  gPortFolder.clear();
}

[[noreturn]] void CleanUpAfterSignal(int inSignal) {
  RemoveUnfinished();
  std::fprintf(stderr, "\ntrx_stabilise: stopped by signal %d; unfinished outputs removed\n", inSignal);
  std::fflush(stderr);
  ::_exit(128 + inSignal);
}

void WatchTerminatingSignals() {
  if (::pipe2(gSignalPipe, O_CLOEXEC) != 0) return;
  std::thread([] {
    unsigned char number = 0;
    for (;;) {
      const ssize_t n = ::read(gSignalPipe[0], &number, 1);
      if (n == 1) CleanUpAfterSignal(number);
      if (n < 0 && errno == EINTR) continue;
      return;
    }
  }).detach();
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// An error code as words: four-character codes as such ('nilP' also as the
// 16-bit 27728 that status records carry), movie toolbox errors by name.
std::string ErrorText(long inCode) {
  char buffer[96];
  const UInt32 code = static_cast<UInt32>(inCode);
  if (inCode > 0xFFFF && LooksLikeFourCC(code)) {
    std::snprintf(buffer, sizeof buffer, "'%s'", FourCCToString(code).c_str());
    return buffer;
  }
  if (inCode == ErrorCodeToOSErr(err_NilPointer)) return "'nilP': something needed was missing or could not be made";
  struct Named {
    long code;
    const char* text;
  };
  static const Named kNames[] = {{-34, "the disk is full"},           {-36, "input/output error"},
                                 {-37, "bad file name"},              {-39, "end of file"},
                                 {-43, "file not found"},             {-44, "the folder or disk is read-only"},
                                 {-45, "the file is locked"},         {-48, "the file already exists"},
                                 {-61, "no permission to write"},     {-5000, "access denied"},
                                 {-50, "a parameter was wrong"},      {-54, "permission denied"},
                                 {-108, "out of memory"},             {-120, "folder not found"},
                                 {-128, "cancelled"},                 {-206, "sound format not supported"},
                                 {-8960, "a codec failed"},           {-8961, "no codec for this kind of data"},
                                 {-8969, "damaged compressed data"}};
  for (const Named& n : kNames)
    if (n.code == inCode) return n.text;
  LStr255 name;
  if (inCode >= -32768 && inCode <= 32767 && UMovies::GetQTErrorMessage(static_cast<OSErr>(inCode), name))
    return std::string(name.ConstTextPtr(), name.Length());
  std::snprintf(buffer, sizeof buffer, "error %ld", inCode);
  return buffer;
}

[[noreturn]] void Fail(const std::string& inWhat, long inCode) {
  std::fprintf(stderr, "trx_stabilise: %s: %s (%ld)\n", inWhat.c_str(), ErrorText(inCode).c_str(), inCode);
  RemoveUnfinished();
  std::exit(1);
}

[[noreturn]] void FailPlain(const std::string& inWhat) {
  std::fprintf(stderr, "trx_stabilise: %s\n", inWhat.c_str());
  RemoveUnfinished();
  std::exit(1);
}

void Check(long inErr, const std::string& inWhat) {
  if (inErr != 0) Fail(inWhat, inErr);
}

// ---------------------------------------------------------------------------
// The default input: a textured scene seen by a camera that pans slowly and
// shakes by a known amount.

double Hash(int x, int y) {
  UInt32 h = static_cast<UInt32>(x) * 374761393u + static_cast<UInt32>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return static_cast<double>(h ^ (h >> 16)) / 4294967295.0;
}

double Noise(double x, double y) {
  const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  const double fx = x - ix, fy = y - iy;
  const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
  const double a = Hash(ix, iy), b = Hash(ix + 1, iy), c = Hash(ix, iy + 1), d = Hash(ix + 1, iy + 1);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

// The scene's colour at a point of the world.
void Scene(double x, double y, UInt8* outARGB) {
  double v = 0, amp = 0.5, f = 1.0 / 64;
  for (int o = 0; o < 5; ++o, amp *= 0.5, f *= 2) v += amp * Noise(x * f, y * f);
  const bool tile = (static_cast<int>(std::floor(x / 48)) + static_cast<int>(std::floor(y / 48))) % 2 == 0;
  const double edge = tile ? 0.12 : -0.12;
  outARGB[0] = 255;
  outARGB[1] = static_cast<UInt8>(std::clamp(255 * (0.25 + 0.8 * v + edge), 0.0, 255.0));
  outARGB[2] = static_cast<UInt8>(std::clamp(255 * (0.2 + 0.7 * v), 0.0, 255.0));
  outARGB[3] = static_cast<UInt8>(std::clamp(255 * (0.55 - 0.4 * v + edge), 0.0, 255.0));
}

// The shake of frame k: a few incommensurate sines, pixels.
void Shake(int k, double& outX, double& outY) {
  outX = 5.0 * std::sin(k * 1.7) + 2.5 * std::sin(k * 4.1 + 1);
  outY = 4.0 * std::sin(k * 2.3 + 0.5) + 2.0 * std::sin(k * 5.3);
}

Movie MakeShakyMovie(const Options& o) {
  Movie m = NewMovie(newMovieActive);
  SetMovieTimeScale(m, 600);
  Track t = NewMovieTrack(m, Long2Fix(o.width), Long2Fix(o.height), 0);
  Media md = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
  Handle ref = NewHandleClear(sizeof(Handle));
  AddMediaDataRef(md, nullptr, ref, HandleDataHandlerSubType);
  DisposeHandle(ref);
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**desc).idSize = sizeof(ImageDescription);
  (**desc).cType = kRawCodecType;
  (**desc).width = static_cast<SInt16>(o.width);
  (**desc).height = static_cast<SInt16>(o.height);
  (**desc).hRes = (**desc).vRes = Long2Fix(72);
  (**desc).frameCount = 1;
  (**desc).depth = 32;
  (**desc).clutID = -1;
  const size_t bytes = static_cast<size_t>(o.width) * o.height * 4;
  Handle data = NewHandle(static_cast<SInt32>(bytes));
  Check(BeginMediaEdits(md), "media edits");
  for (int k = 0; k < o.frames; ++k) {
    double sx, sy;
    Shake(k, sx, sy);
    const double panX = 1.5 * k + sx, panY = sy;
    UInt8* p = reinterpret_cast<UInt8*>(*data);
    for (int y = 0; y < o.height; ++y)
      for (int x = 0; x < o.width; ++x) Scene(x + panX, y + panY, p + (static_cast<size_t>(y) * o.width + x) * 4);
    Check(AddMediaSample(md, data, 0, static_cast<UInt32>(bytes), 20, reinterpret_cast<SampleDescriptionHandle>(desc),
                         1, 0, nullptr),
          "adding a frame");
  }
  EndMediaEdits(md);
  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  Check(InsertMediaIntoTrack(t, 0, 0, GetMediaDuration(md), fixed1), "inserting the media");
  return m;
}

FSSpec SpecOf(const std::string& inPath) {
  FSSpec spec;
  FSMakeFSSpecFromPath(fs::absolute(inPath).string(), &spec);
  return spec;
}

Movie OpenMovie(const std::string& inPath) {
  FSSpec spec = SpecOf(inPath);
  SInt16 ref = 0;
  Check(OpenMovieFile(&spec, &ref, 1), "opening " + inPath);
  Movie movie = nullptr;
  SInt16 id = 0;
  Check(NewMovieFromFile(&movie, ref, &id, nullptr, newMovieActive, nullptr), "reading " + inPath);
  CloseMovieFile(ref);
  return movie;
}

Movie SaveMovie(Movie inMovie, const std::string& inPath) {
  FSSpec spec = SpecOf(inPath);
  BeginOutput(inPath, false);
  Movie saved = FlattenMovieData(inMovie, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                 createMovieFileDeleteCurFile);
  if (saved == nullptr) Fail("saving " + inPath, GetMoviesError());
  EndOutput(inPath);
  return saved;
}

// ---------------------------------------------------------------------------
// Analysis and corrections.

Rect NaturalBounds(Movie inMovie) {
  Rect r;
  GetMovieNaturalBoundsRect(inMovie, &r);
  OffsetRect(&r, static_cast<SInt16>(-r.left), static_cast<SInt16>(-r.top));
  return r;
}

std::vector<TimeValue> FrameTimes(Movie inMovie) {
  static const OSType kVisual = VisualMediaCharacteristic;
  std::vector<TimeValue> times;
  TimeValue t = 0;
  const TimeValue duration = GetMovieDuration(inMovie);
  while (t >= 0 && t < duration) {
    times.push_back(t);
    TimeValue next = -1;
    GetMovieNextInterestingTime(inMovie, nextTimeStep, 1, &kVisual, t, fixed1, &next, nullptr);
    if (next <= t) break;
    t = next;
  }
  return times;
}

// The automatic tracker needs pictures of at least this size.
constexpr int kTrackerMinimum = 48;

void Analyse(Movie inMovie, CMotionData& outData, MotionSettings& ioSettings) {
  const Rect bounds = NaturalBounds(inMovie);
  if (bounds.right < kTrackerMinimum || bounds.bottom < kTrackerMinimum)
    FailPlain("the picture (" + std::to_string(bounds.right) + "x" + std::to_string(bounds.bottom) +
              ") is smaller than the tracker's " + std::to_string(kTrackerMinimum) + "x" +
              std::to_string(kTrackerMinimum) + " minimum");
  SetMovieBox(inMovie, &bounds);
  const auto start = std::chrono::steady_clock::now();
  const size_t count = FrameTimes(inMovie).size();
  const TimeValue duration = GetMovieDuration(inMovie);
  // Frames are decoded and drawn a few ahead of the tracker, on a thread of
  // their own, so that decoding overlaps tracking; the tracker reads each
  // frame where it was drawn.
  CMovieFrameAhead ahead(inMovie, bounds, 0, duration);
  CAutoMotionTracker tracker;
  Check(tracker.BeginTracking(ahead.GetView(), bounds, nullptr, nullptr), "starting the tracker");
  std::vector<DiffMotionData> records;
  records.reserve(count);
  CMovieFrameAhead::Frame f;
  auto firstFrame = start;  // when the first frame had been drawn
  for (;;) {
    try {
      if (!ahead.Take(f)) break;
    } catch (...) {
      tracker.EndTracking();
      Fail("drawing a frame", OSErrOfCurrent());
    }
    if (records.empty()) firstFrame = std::chrono::steady_clock::now();
    const TimeValue t = f.time, d = (f.next >= 0 ? f.next : duration) - t;
    Check(tracker.ProcessFrame(d, ETrackerFieldMode::kFrame, nullptr, nullptr), "tracking");
    TArray<DiffMotionData>& made = tracker.GetMotionDataArray();
    DiffMotionData r = made[made.GetCount()];
    r.time = t;
    r.duration = d;
    records.push_back(r);
    std::printf("\ranalysing %zu/%zu", records.size(), count);
    std::fflush(stdout);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The start (the decoder's and tracker's set-up, the first frame) apart:
  // it is paid once per movie, the rest per frame.
  const double toFirst = std::chrono::duration<double>(firstFrame - start).count();
  std::printf("\nanalysed %zu frames in %.3f s: %.1f frames/s (the first frame after %.3f s)\n", records.size(),
              seconds, static_cast<double>(records.size()) / seconds, toFirst);
  tracker.EndTracking();
  // The movie keeps its analysis: a saved movie needs no second one.
  TArray<DiffMotionData> stored;
  for (const DiffMotionData& r : records) stored.AddItem(r);
  Check(CMotionTrackerTask::WriteMotionDataTrack(inMovie, bounds, stored, 2, tracker.GetOptions(), 0, 0, nullptr),
        "storing the motion data");
  outData.SetRecords(records, bounds, GetMovieTimeScale(inMovie), duration);
  Check(outData.CreateMatrices(&ioSettings, 0.0f), "computing the corrections");
}

void WriteControlTrack(Movie inMovie, CMotionData& inData, MotionSettings& inSettings) {
  // A movie analysed before keeps one control track: the new one replaces it.
  for (SInt32 i = GetMovieTrackCount(inMovie); i >= 1; --i) {
    Track old = GetMovieIndTrack(inMovie, i);
    if (old != nullptr && GetTrackLayer(old) == kControlTrackLayer) DisposeMovieTrack(old);
  }
  Track track = nullptr;
  Check(CTweenTracks::CreateTweenTrackFromMotionData(inMovie, NaturalBounds(inMovie), inData, &track),
        "writing the control track");
  if (track == nullptr) Fail("too few frames for a control track", paramErr);
  RenderFrameParams params;
  params.borderMode = kBorderColor;
  Check(CMovieRendering::WriteRenderParamsToTrack(track, params), "writing the render parameters");
  Check(CMovieRendering::WriteMoSettingsToTrack(track, inSettings), "writing the settings");
}

// ---------------------------------------------------------------------------
// The export through Vantrel.

struct StatusPort {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<ExportStatus> records;
  std::thread thread;
  CFRunLoopRef loop = nullptr;

  static CFDataRef CallBack(CFMessagePortRef, SInt32, CFDataRef inData, void* inInfo) {
    auto* self = static_cast<StatusPort*>(inInfo);
    ExportStatus s{};
    if (DecodeExportStatus(CFDataGetBytePtr(inData), static_cast<size_t>(CFDataGetLength(inData)), s)) {
      std::lock_guard<std::mutex> guard(self->lock);
      self->records.push_back(s);
    }
    self->arrived.notify_all();
    return nullptr;
  }
  bool Open() {
    std::atomic<int> state{0};
    thread = std::thread([&] {
      CFMessagePortContext context{0, this, nullptr, nullptr, nullptr};
      CFMessagePortRef port =
          CFMessagePortCreateLocal(kCFAllocatorDefault, CFStringMakeConstantString(kExportProgressPortName), CallBack, &context, nullptr);
      CFRunLoopSourceRef source = port ? CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, port, 0) : nullptr;
      if (source) {
        loop = CFRunLoopGetCurrent();
        CFRunLoopAddSource(loop, source, kCFRunLoopCommonModes);
      }
      state = source ? 1 : -1;
      if (source) {
        CFRunLoopRun();
        CFRunLoopRemoveSource(loop, source, kCFRunLoopCommonModes);
        CFRelease(source);
      }
      if (port) {
        CFMessagePortInvalidate(port);
        CFRelease(port);
      }
    });
    while (state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return state == 1;
  }
  void Close() {
    if (thread.joinable()) {
      if (loop) CFRunLoopStop(loop);
      thread.join();
    }
  }
};

std::string BundlePath(const char* inArgv0) {
  if (const char* env = std::getenv("TRX_BUNDLE"); env && *env) return env;
  fs::path beside = fs::path(inArgv0).parent_path().parent_path() / "Tremblorix.app";
  if (fs::exists(beside / "Contents/MacOS/Vantrel")) return beside.string();
  return TRX_BUILD_BUNDLE;
}

void ExportThroughVantrel(Movie inMovie, const std::string& inDestination, const std::string& inBundle) {
  // A private port folder: this run's Vantrel meets nobody else's.
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/trx-stabilise-XXXXXX";
  std::vector<char> pattern(folder.begin(), folder.end());
  pattern.push_back('\0');
  const char* ports = mkdtemp(pattern.data());
  if (ports == nullptr) Fail("no port folder", errno);
  SetPortFolder(ports);
  setenv("TRX_IPC_DIR", ports, 1);

  StatusPort status;
  if (!status.Open()) Fail("cannot open the status port", -1);
  UBundle::SetMainBundlePath(inBundle);
  const auto launched = std::chrono::steady_clock::now();
  ProcessSerialNumber psn{0, 0};
  Check(LaunchAuxiliaryExecutable("Vantrel", kVantrelLaunchRefCon, &psn), "launching Vantrel from " + inBundle);
  pid_t pid = -1;
  GetProcessPID(&psn, &pid);
  SetVantrelPid(pid);
  CFMessagePortRef remote = nullptr;
  for (int i = 0; i < 500 && remote == nullptr; ++i) {
    remote = CFMessagePortCreateRemote(kCFAllocatorDefault, CFStringMakeConstantString(kExportMessagePortName));
    if (!remote) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (remote == nullptr) Fail("Vantrel does not answer", -1);

  // The request, as the application writes it.
  // Vantrel writes the movie beside the destination and renames it over the
  // destination when whole: an earlier file there stays until then.
  FSSpec dest = SpecOf(inDestination);
  BeginOutput(inDestination, false);
  AliasHandle alias = nullptr;
  Check(NewAliasToPath(&dest, &alias), "making the destination's alias");
  Handle movie = NewHandle(0);
  Check(PutMovieIntoHandle(inMovie, movie), "putting the movie into a handle");
  MovieExportComponent exporter = nullptr;
  Check(OpenADefaultComponent(MovieExportType, 'mpg4', &exporter), "opening the MPEG-4 exporter");
  QTAtomContainer settings = nullptr;
  Check(MovieExportGetSettingsAsAtomContainer(exporter, &settings), "reading the exporter's settings");
  CloseComponent(exporter);
  const std::vector<UInt8> message = EncodeExportRequest(ExportRequestOf(
      reinterpret_cast<const UInt8*>(*movie), static_cast<size_t>(GetHandleSize(movie)),
      reinterpret_cast<const UInt8*>(*alias), static_cast<size_t>(GetHandleSize(reinterpret_cast<Handle>(alias))),
      'mpg4', reinterpret_cast<const UInt8*>(*settings), static_cast<size_t>(GetHandleSize(settings)), 1, false));
  DisposeHandle(movie);
  DisposeHandle(reinterpret_cast<Handle>(alias));
  QTDisposeAtomContainer(settings);

  CFDataRef data = CFDataCreate(kCFAllocatorDefault, message.data(), static_cast<CFIndex>(message.size()));
  CFDataRef reply = nullptr;
  SInt32 sent = CFMessagePortSendRequest(remote, kExportMessageID, data, kExportClientSendTimeout,
                                         kExportClientReceiveTimeout, kCFRunLoopDefaultMode, &reply);
  CFRelease(data);
  if (reply) CFRelease(reply);
  Check(sent, "sending the request");
  const double toRequest = std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();

  SInt16 error = 0;
  {
    std::unique_lock<std::mutex> lock(status.lock);
    size_t shown = 0;
    bool done = false;
    while (!done) {
      // Vantrel's end is noticed within a second; silence for two minutes
      // while it lives is a failure too.
      int quiet = 0;
      while (!status.arrived.wait_for(lock, std::chrono::seconds(1), [&] { return status.records.size() > shown; })) {
        int exitStatus = 0;
        if (pid > 0 && waitpid(pid, &exitStatus, WNOHANG) == pid) {
          pid = -1;
          SetVantrelPid(-1);
          if (status.records.size() > shown) break;
          lock.unlock();
          status.Close();
          FailPlain(WIFSIGNALED(exitStatus) ? "Vantrel died (signal " + std::to_string(WTERMSIG(exitStatus)) +
                                                  ") before the export was done"
                                            : "Vantrel ended before the export was done");
        }
        if (++quiet >= 120) FailPlain("Vantrel went quiet for two minutes");
      }
      for (; shown < status.records.size(); ++shown) {
        const ExportStatus& s = status.records[shown];
        if (s.kind == kExportStatusProgress) {
          std::printf("\r%s %5.1f %%", s.phase == kExportPhaseSound ? "sound " : "export", 100.0 * Fix2X(s.fraction));
          std::fflush(stdout);
        } else if (s.kind == kExportStatusError) {
          error = s.error;
        } else if (s.kind == kExportStatusDone) {
          done = true;
        }
      }
    }
  }
  const auto doneAt = std::chrono::steady_clock::now();
  std::printf("\n");
  const UInt8 quit = kExportCommandQuit;
  data = CFDataCreate(kCFAllocatorDefault, &quit, 1);
  CFMessagePortSendRequest(remote, kExportMessageID, data, kExportClientSendTimeout, kExportClientReceiveTimeout,
                           kCFRunLoopDefaultMode, nullptr);
  CFRelease(data);
  CFRelease(remote);
  if (pid > 0) waitpid(pid, nullptr, 0);
  SetVantrelPid(-1);
  status.Close();
  const double toExit = std::chrono::duration<double>(std::chrono::steady_clock::now() - doneAt).count();
  std::printf("Vantrel took the request %.3f s after its launch (target < 0.2 s); Vantrel and the status port "
              "ended %.3f s after the done record (target < 0.2 s)\n",
              toRequest, toExit);
  RemovePortFolder();
  Check(error, "Vantrel's export failed");
  EndOutput(inDestination);
}

// ---------------------------------------------------------------------------
// The before | after still.

void WritePNG(const std::string& inPath, const std::vector<UInt8>& inRGB, int inWidth, int inHeight) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (codec == nullptr) Fail("no PNG encoder", -1);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = inWidth;
  c->height = inHeight;
  c->pix_fmt = AV_PIX_FMT_RGB24;
  c->time_base = AVRational{1, 1};
  if (avcodec_open2(c, codec, nullptr) < 0) Fail("cannot open the PNG encoder", -1);
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_RGB24;
  f->width = inWidth;
  f->height = inHeight;
  av_frame_get_buffer(f, 0);
  for (int y = 0; y < inHeight; ++y)
    std::memcpy(f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0], inRGB.data() + static_cast<size_t>(y) * inWidth * 3,
                static_cast<size_t>(inWidth) * 3);
  AVPacket* pkt = av_packet_alloc();
  bool written = false;
  if (avcodec_send_frame(c, f) >= 0 && avcodec_send_frame(c, nullptr) >= 0) {
    // Written beside its place and renamed when whole, so a failure never
    // leaves half a picture and an earlier still stays until then.
    std::string partial = PartialPatternFor(inPath);
    const int lock = OpenPartialFile(partial);
    const int fd = lock >= 0 ? ::dup(lock) : -1;
    FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (file == nullptr && fd >= 0) ::close(fd);
    written = file != nullptr;
    while (avcodec_receive_packet(c, pkt) >= 0) {
      if (file)
        written = written &&
                  std::fwrite(pkt->data, 1, static_cast<size_t>(pkt->size), file) == static_cast<size_t>(pkt->size);
      av_packet_unref(pkt);
    }
    if (file) {
      ::fchmod(::fileno(file), 0644);
      written = std::fclose(file) == 0 && written;
    }
    written = written && std::rename(partial.c_str(), inPath.c_str()) == 0;
    if (!written && lock >= 0) std::remove(partial.c_str());
    ReleasePartialFile(lock);
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&c);
  if (!written) Fail("cannot write " + inPath, ioErr);
}

void WriteBeforeAfter(Movie inMovie, const std::string& inPath) {
  const Rect bounds = NaturalBounds(inMovie);
  const int W = bounds.right, H = bounds.bottom;
  SetMovieBox(inMovie, &bounds);
  CBuffer* before = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
  CBuffer* after = new CBuffer(bounds, kBufferDepth8, kBufferModeARGB);
  GWorldPtr world = before->CreateGWorld(nullptr, nullptr);
  SetMovieGWorld(inMovie, world, nullptr);
  const std::vector<TimeValue> times = FrameTimes(inMovie);
  const TimeValue t = times.empty() ? 0 : times[times.size() / 2];
  SetMovieTimeValue(inMovie, t);
  UpdateMovie(inMovie);
  MoviesTask(inMovie, 0);
  RenderFrameParams params;
  MatrixRecord first, second;
  float m1 = 0, m2 = 0;
  Track control = nullptr;
  if (CMovieRendering::GetTweenSample(inMovie, t, first, second, m1, m2, &control)) {
    CMovieRendering::ReadRenderParamsFromTrack(control, params);
    params.firstMatrix = first;
    params.secondMatrix = second;
  }
  params.fieldMode = kRenderFrame;
  params.interlaceMode = kInterlace_Progressive;
  params.quality = kQualityHigh;
  Check(CMovieRendering::RenderFrame(before, after, &params), "rendering the still");
  std::vector<UInt8> rgb(static_cast<size_t>(2 * W) * H * 3);
  for (int y = 0; y < H; ++y)
    for (int half = 0; half < 2; ++half) {
      const CBuffer* b = half == 0 ? before : after;
      const UInt8* row = reinterpret_cast<const UInt8*>(b->GetData()) + static_cast<size_t>(y) * b->GetRowBytes();
      for (int x = 0; x < W; ++x)
        std::memcpy(&rgb[(static_cast<size_t>(y) * 2 * W + half * W + x) * 3], row + 4 * x + 1, 3);
    }
  SetMovieGWorld(inMovie, nullptr, nullptr);
  DisposeGWorld(world);
  before->Release();
  after->Release();
  BeginOutput(inPath, false);
  WritePNG(inPath, rgb, 2 * W, H);
  EndOutput(inPath);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--out" && i + 1 < argc) {
      o.out = argv[++i];
    } else if (a == "--generate" && i + 1 < argc) {
      o.generate = argv[++i];
    } else if (a == "--frames" && i + 1 < argc) {
      o.frames = std::max(3, std::atoi(argv[++i]));
    } else if (a == "--size" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2 || o.width < 64 || o.height < 64 ||
          o.width > 4096 || o.height > 4096 || (o.width | o.height) & 1)
        Fail("--size takes an even WxH from 64x64 to 4096x4096", paramErr);
    } else if (!a.empty() && a[0] != '-' && o.input.empty()) {
      o.input = a;
    } else {
      std::fprintf(stderr,
                   "usage: trx_stabilise [movie] [--out DIR] [--frames N] [--size WxH]\n"
                   "       trx_stabilise --generate FILE [--frames N] [--size WxH]\n");
      std::exit(2);
    }
  }
  return o;
}

}  // namespace

int Run(int argc, char** argv);

int main(int argc, char** argv) {
  // Every failure ends with a clear message, never an uncaught exception.
  try {
    // What earlier runs, exports and saves left half-written when they were killed.
    RemoveNotedLeftovers();
    const int result = Run(argc, argv);
    RemovePortFolder();
    return result;
  } catch (const LException& e) {
    Fail("failed", e.GetErrorCode());
  } catch (const std::exception& e) {
    FailPlain(std::string("failed: ") + e.what());
  } catch (...) {
    FailPlain("failed for an unknown reason");
  }
}

int Run(int argc, char** argv) {
  WatchTerminatingSignals();
  Options o = ParseOptions(argc, argv);
  Check(EnterMovies(), "starting the movie toolbox");
  InstallFFmpegMovieComponents();
  if (!o.generate.empty()) {
    if (fs::path(o.generate).has_parent_path()) fs::create_directories(fs::path(o.generate).parent_path());
    Movie made = MakeShakyMovie(o);
    DisposeMovie(SaveMovie(made, o.generate));
    DisposeMovie(made);
    std::printf("generated %d frames of %dx%d into %s\n", o.frames, o.width, o.height, o.generate.c_str());
    return 0;
  }
  fs::create_directories(o.out);
  const std::string bundle = BundlePath(argv[0]);

  std::string input = o.input;
  if (input.empty()) {
    input = (fs::path(o.out) / "shaky.mov").string();
    std::printf("generating %d frames of %dx%d into %s\n", o.frames, o.width, o.height, input.c_str());
    Movie made = MakeShakyMovie(o);
    DisposeMovie(SaveMovie(made, input));
    DisposeMovie(made);
  }
  Movie movie = OpenMovie(input);
  const std::string base = fs::path(input).stem().string();

  CMotionData data;
  // The settings a new movie document starts with: shifts corrected,
  // rotation and zoom left as they are.
  MotionSettings settings;
  settings.doRotation = 0;
  settings.doZoom = 0;
  Analyse(movie, data, settings);
  WriteControlTrack(movie, data, settings);
  const std::string project = (fs::path(o.out) / (base + "-analysed.mov")).string();
  Movie saved = SaveMovie(movie, project);
  DisposeMovie(movie);
  std::printf("saved %s\n", project.c_str());

  const std::string steady = fs::absolute(fs::path(o.out) / (base + "-steady.mp4")).string();
  ExportThroughVantrel(saved, steady, bundle);
  const std::string still = (fs::path(o.out) / (base + "-before-after.png")).string();
  WriteBeforeAfter(saved, still);
  DisposeMovie(saved);
  std::printf("steadied movie: %s\nbefore | after: %s\n", steady.c_str(), still.c_str());
  return 0;
}
