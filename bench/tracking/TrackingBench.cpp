// Tracking throughput of the automatic tracker at accuracy 3 on shaky
// sequences whose frames are already decoded (synthetic content, and a
// photograph-like picture shaken by sub-pixel steps), on 1, 2, 4 and 8
// threads (and all, when there are more), with the mean translation error
// against the known motion. Each figure is the best of several runs, as wall
// time and as processor time per frame (all threads of the process, over the
// tracking calls and the idle spins between them); the scaling is the 1-thread
// wall time over the n-thread one, and also the median of the ratios within
// rounds that time every thread count in turn. One thread: one processor and no
// multiprocessing, so that every operation runs as a single band (with one
// processor the engine would still cut two).
// Last come the machine's own ceilings for the scaling: plain arithmetic on
// a block that stays in each processor's cache, and the estimator's own
// block comparisons on a picture that stays in each processor's cache, each
// on one thread and then on eight at once, with nothing shared between
// them. Processors of a virtual machine slow each other down (shared host
// cores, clocks lowered with load), so no loop of that arithmetic can scale
// better than this.
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <thread>
#include <vector>

#include "support/FrameView.h"
#include "support/ShakyScene.h"
#include "support/SyntheticScene.h"
#include "media/CBuffer.h"
#include "media/CTaskObject.h"
#include "motion/CAutoMotionTracker.h"
#include "motion/CTracker.h"
#include "platform/tasks/Multiprocessing.h"

using namespace shaky;

namespace {

struct Figure {
  double fps = 0;
  double cpuMsPerFrame = 0;
  double meanError = 0;
};

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Frames reach the tracker through a view, as the task hands them over,
// read from memory far larger than the caches, as a decoder's ring would
// leave them. One tracker goes through the whole sequence, as an analysis
// goes through a movie: the frames forward, then back, and so on, inLaps
// times their number in all. (A fresh tracker every few frames would time
// its start-up again and again: its first frame, with memory and per-worker
// state new, costs about a frame's time on one thread but two on eight.)
Figure TrackSequence(const std::vector<CBuffer*>& inFrames, const std::vector<Pose>& inPoses, SInt32 inLaps) {
  const SInt32 count = static_cast<SInt32>(inFrames.size());
  std::vector<size_t> order;
  for (SInt32 i = 0, at = 0, step = 1; i < inLaps * count; ++i) {
    order.push_back(static_cast<size_t>(at));
    if (count > 1 && (at + step < 0 || at + step >= count)) step = -step;
    at += step;
  }
  CFrameView frame(inFrames.front());
  CAutoMotionTracker tracker;
  tracker.SetAccuracy(3);
  tracker.BeginTracking(&frame, frame.GetBounds(), nullptr, nullptr);
  // Frames back to back, as the task takes them from a decoder that runs ahead.
  const double c0 = ProcessSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t at : order) {
    frame.Show(inFrames[at]);
    tracker.ProcessFrame(1, ETrackerFieldMode::kFrame, nullptr, nullptr);
  }
  // The last frame's record is complete only once it has been asked for
  // (its fit waits for the next frame).
  tracker.GetMotionDataArray();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = ProcessSeconds() - c0;
  tracker.EndTracking();
  auto& records = tracker.GetMotionDataArray();
  double errorSum = 0;
  SInt32 measured = 0;
  for (SInt32 i = 2; i <= records.GetCount(); ++i) {
    const Pose motion = MotionBetween(inPoses[order[static_cast<size_t>(i - 2)]], inPoses[order[static_cast<size_t>(i - 1)]]);
    errorSum += std::hypot(records[i].xShift - motion.t.real(), records[i].yShift - motion.t.imag());
    ++measured;
  }
  const double processed = static_cast<double>(order.size());
  return {processed / seconds, 1000.0 * cpu / processed, measured ? errorSum / measured : 0.0};
}

// Runs inWork(k) on inThreads threads at once, each storing its seconds in
// inSeconds[k]; answers their mean.
template <class Work>
double MeanSecondsOnThreads(int inThreads, Work& inWork, const std::vector<double>& inSeconds) {
  std::vector<std::thread> threads;
  for (int k = 0; k < inThreads; ++k) threads.emplace_back(inWork, k);
  for (std::thread& t : threads) t.join();
  double sum = 0;
  for (double v : inSeconds) sum += v;
  return sum / inThreads;
}

// Seconds one thread takes for a fixed amount of in-cache arithmetic, on
// each of inThreads threads running at once (the mean of their times).
double InCacheArithmeticSeconds(int inThreads) {
  std::vector<double> seconds(static_cast<size_t>(inThreads));
  std::vector<float> sinks(static_cast<size_t>(inThreads) * 16);
  auto work = [&](int inIndex) {
    constexpr size_t kCount = 4096;  // 16 KB: well inside the first-level cache
    std::vector<float> a(kCount, 1.0f);
    const auto t0 = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 120000; ++pass)
      for (size_t i = 0; i < kCount; ++i) a[i] = a[i] * 0.999f + std::sqrt(a[(i * 17) & (kCount - 1)] + 1.0f) * 0.001f;
    seconds[static_cast<size_t>(inIndex)] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    sinks[static_cast<size_t>(inIndex) * 16] = a[kCount / 2];  // keeps the work from being optimised away
  };
  return MeanSecondsOnThreads(inThreads, work, seconds);
}

// Seconds one thread takes for a fixed number of the estimator's block
// comparisons (32 x 32, the tracker's) on a picture of its own that stays
// in its caches, on each of inThreads threads running at once (the mean of
// their times): the same arithmetic as the tracker's blocks, without
// anything shared between the threads.
double InCacheBlockCompareSeconds(int inThreads) {
  std::vector<double> seconds(static_cast<size_t>(inThreads));
  auto work = [&](int inIndex) {
    // The tracker's block side, on a textured picture moved by (2, 1).
    constexpr SInt32 kExponent = CAutoMotionTracker::kBlockExponent, kSide = SInt32{1} << kExponent, kPlane = 96;
    const SyntheticPicture before = USyntheticScene::MakeTexture(kPlane, kPlane, 77u + static_cast<UInt32>(inIndex));
    const SyntheticPicture after = USyntheticScene::Move(before, SyntheticMotion::Translation(2.0, 1.0));
    SyntheticPlane previous{kPlane, kPlane, USyntheticScene::Gradient(before)};
    SyntheticPlane current{kPlane, kPlane, USyntheticScene::Gradient(after)};
    std::vector<BlockData> blocks;
    for (SInt32 y = 8; y + kSide <= kPlane - 8; y += 16)
      for (SInt32 x = 8; x + kSide <= kPlane - 8; x += 16) blocks.push_back(BlockData{x, y, x, y});
    FrameTaskData data{SyntheticBlockProvider, SyntheticBlockProvider,    &current, &previous, kPlane, kPlane, 0.0f,
                       blocks.data(),          static_cast<SInt32>(blocks.size()), kExponent, kSide,
                       Rect{0, 0, kPlane, kPlane}};
    FrameTask task(data);
    task.Run();  // warm-up
    const auto t0 = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 1500; ++pass) {
      task.SetShare(data);
      task.Run();
    }
    seconds[static_cast<size_t>(inIndex)] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  return MeanSecondsOnThreads(inThreads, work, seconds);
}

// One ceiling: the best of three runs on one thread and on eight at once.
void PrintCeiling(const char* inName, double (*inSeconds)(int)) {
  double one = 1e30, eight = 1e30;
  for (int trial = 0; trial < 3; ++trial) {
    one = std::min(one, inSeconds(1));
    eight = std::min(eight, inSeconds(8));
  }
  std::printf("machine_in_cache_%s_8_threads_scaling: %.2fx (each of 8 threads at %.0f%% of one thread alone)\n", inName,
              8.0 * one / eight, 100.0 * one / eight);
}

}  // namespace

// An optional argument multiplies the number of timed passes; a second one
// keeps only the size of that width, a third only that thread count (for
// profiling one configuration; -1: only the ceilings).
int main(int argc, char** argv) {
  const SInt32 repeat = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const SInt32 onlyWidth = argc > 2 ? std::atoi(argv[2]) : 0;
  const int onlyThreads = argc > 3 ? std::atoi(argv[3]) : 0;
  struct Size {
    SInt32 w, h;
    double target;  // frames per second on 8 cores
  };
  const Size sizes[] = {{720, 576, 0}, {1280, 720, 300}, {1920, 1080, 0}};
  const SInt32 kFrames = 16;
  for (const Size& s : sizes)
  for (const bool photo : {false, true}) {
    if ((onlyWidth != 0 && s.w != onlyWidth) || onlyThreads < 0) continue;
    // Synthetic content (sharp noise and shapes), and real-looking content:
    // a photograph-like picture seen by a sensor, shaken by sub-pixel steps.
    const std::vector<Pose> poses = photo ? MakePoses(kFrames, 2.5, 0.002, 0.001, 15) : MakePoses(kFrames, 6.0, 0.01, 0.005, 7);
    std::vector<CBuffer*> frames;
    {
      const Texture texture = photo ? MakePhotoTexture(2 * (s.w + 160), 2 * (s.h + 120), 2026) : MakeTexture(s.w + 200, s.h + 160, 42);
      for (const Pose& pose : poses) {
        frames.push_back(NewFrame(s.w, s.h));
        if (photo)
          RenderArea(texture, pose, frames.back(), 2.0);
        else
          Render(texture, pose, frames.back());
      }
    }
    std::vector<int> counts = {1, 2, 4, 8};
    const int all = static_cast<int>(MPPoolWorkerCount());
    if (all > 8) counts.push_back(all);
    if (onlyThreads > 0) counts = {onlyThreads};
    // Five rounds, each timing every thread count in turn (every other
    // round the other way round). Each rate is the best of its rounds; the
    // scaling comes both as the best rate over the best one-thread rate and
    // as the median of each round's own ratio, whose counts ran in one
    // state of the machine.
    constexpr int kRounds = 5;
    std::vector<std::vector<Figure>> runs(counts.size());
    for (int round = 0; round < kRounds; ++round) {
      for (size_t c = 0; c < counts.size(); ++c) {
        const size_t at = round % 2 == 0 ? c : counts.size() - 1 - c;
        MPSetProcessorCountForTesting(static_cast<ItemCount>(counts[at]));
        CTaskGroup::mAllowMP = counts[at] != 1;
        TrackSequence(frames, poses, 1);  // warm-up: plans, pool and memory
        runs[at].push_back(TrackSequence(frames, poses, 4 * repeat));
      }
    }
    auto best = [](const std::vector<Figure>& inRuns) {
      Figure f;
      for (const Figure& t : inRuns)
        if (t.fps > f.fps) f = t;
      return f;
    };
    const double oneThreadFps = best(runs.front()).fps;
    for (size_t c = 0; c < counts.size(); ++c) {
      const int threads = counts[c];
      const Figure f = best(runs[c]);
      double bestCpu = 1e30;
      for (const Figure& t : runs[c]) bestCpu = std::min(bestCpu, t.cpuMsPerFrame);
      std::printf("track_%s_%dx%d_acc3_%d_threads_fps: %.1f cpu_ms_per_frame: %.3f", photo ? "photo" : "synthetic",
                  static_cast<int>(s.w), static_cast<int>(s.h), threads, f.fps, bestCpu);
      if (threads != 1 && counts.front() == 1) {
        std::printf(" scaling: %.2fx", f.fps / oneThreadFps);
        if (s.target > 0 && threads == 8) std::printf(" (target >= 5x, >= %.0f fps)", s.target);
        std::vector<double> ratios;
        for (int round = 0; round < kRounds; ++round)
          ratios.push_back(runs[c][static_cast<size_t>(round)].fps / runs[0][static_cast<size_t>(round)].fps);
        std::sort(ratios.begin(), ratios.end());
        std::printf(" same_round_scaling: %.2fx (%.2f-%.2fx)", ratios[kRounds / 2], ratios.front(), ratios.back());
      }
      std::printf(" mean_err_px: %.3f\n", f.meanError);
    }
    std::fflush(stdout);
    MPSetProcessorCountForTesting(0);
    CTaskGroup::mAllowMP = true;
    for (CBuffer* b : frames) b->Release();
  }
  if ((onlyWidth == 0 && onlyThreads == 0) || onlyThreads < 0) {
    PrintCeiling("arithmetic", InCacheArithmeticSeconds);
    PrintCeiling("block_compare", InCacheBlockCompareSeconds);
  }
  return 0;
}
