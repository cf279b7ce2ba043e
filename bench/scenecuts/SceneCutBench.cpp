// Residual jitter of steadied footage with scene trouble: a shaky clip whose
// every third frame repeats (beside the same shake without repeats), and two
// unrelated shaky clips joined end to end. Soft, grainy synthetic footage,
// measured by the automatic tracker and corrected with a new document's
// settings (shifts only) at 1 s smoothing; the jitter is judged against the
// known camera poses (px RMS of the frame-to-frame motion of scene points).
// One line per figure: mean and spread over a few shakes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "StabiliseClip.h"

using namespace stabclip;

namespace {

struct Figure {
  const char* name;
  const char* unit;
  std::vector<double> values;
  void Print() const {
    double mean = 0;
    for (double v : values) mean += v;
    mean /= static_cast<double>(values.size());
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    std::printf("%-44s %7.3f %-2s (min %.3f, max %.3f, %zu shakes)\n", name, mean, unit, *lo, *hi, values.size());
  }
};

}  // namespace

int main() {
  const std::vector<shaky::Texture> scenes = MakeScenes({2026, 77});
  const MotionSettings settings = DocumentSettings(1.0f);
  Figure repeatIn{"repeated frames: input jitter", "px", {}}, repeatOut{"repeated frames: steadied", "px", {}};
  Figure plainIn{"same shake, no repeats: input jitter", "px", {}}, plainOut{"same shake, no repeats: steadied", "px", {}};
  Figure repeatCuts{"repeated frames: scene cuts found", "", {}}, largest{"repeated frames: largest correction", "px", {}};
  Figure joinIn{"joined scenes: input jitter", "px", {}}, joinOut{"joined scenes: steadied", "px", {}};
  Figure joinCuts{"joined scenes: scene cuts found (1 true)", "", {}};
  Figure joinDip{"joined scenes: quality at the joint / around", "", {}};
  for (UInt32 seed : {3u, 5u, 8u, 13u}) {
    const std::vector<ClipFrame> plain = ShakenClip(0, 75, seed);
    std::vector<ClipFrame> repeated = plain;
    for (size_t i = 2; i < repeated.size(); i += 3) repeated[i] = repeated[i - 1];
    const auto plainRecords = Measure(scenes, plain), records = Measure(scenes, repeated);
    const auto plainCorr = Correct(plainRecords, settings), corr = Correct(records, settings);
    plainIn.values.push_back(Jitter(plain, nullptr));
    plainOut.values.push_back(Jitter(plain, &plainCorr));
    repeatIn.values.push_back(Jitter(repeated, nullptr));
    repeatOut.values.push_back(Jitter(repeated, &corr));
    repeatCuts.values.push_back(static_cast<double>(SceneStarts(records).size()));
    double big = 0;
    for (const FrameData& f : corr) big = std::max(big, CorrectionSize(f.matrix1));
    largest.values.push_back(big);

    std::vector<ClipFrame> joined = ShakenClip(0, 40, seed);
    const std::vector<ClipFrame> second = ShakenClip(1, 40, seed + 100);
    joined.insert(joined.end(), second.begin(), second.end());
    const auto joinedRecords = Measure(scenes, joined);
    const auto joinedCorr = Correct(joinedRecords, settings);
    joinIn.values.push_back(Jitter(joined, nullptr));
    joinOut.values.push_back(Jitter(joined, &joinedCorr));
    joinCuts.values.push_back(static_cast<double>(SceneStarts(joinedRecords).size()));
    joinDip.values.push_back(joinedRecords[40].quality / (0.5 * (joinedRecords[39].quality + joinedRecords[41].quality)));
  }
  for (const Figure* f : {&repeatIn, &repeatOut, &plainIn, &plainOut, &repeatCuts, &largest, &joinIn, &joinOut,
                          &joinCuts, &joinDip})
    f->Print();
  return 0;
}
