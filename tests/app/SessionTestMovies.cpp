#include "SessionTestMovies.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "app/CMovieDocument.h"
#include "motion/CMotionData.h"
#include "motion/CMotionTrackerTask.h"
#include "platform/base/FixMath.h"
#include "platform/base/MacMemory.h"
#include "platform/files/Files.h"
#include "platform/ui/LEditField.h"
#include "platform/ui/LStaticText.h"
#include "platform/ui/LTextEditView.h"
#include "platform/ui/LView.h"
#include "platform/ui/LWindow.h"
#include "platform/ui/UControlRegistry.h"
#include "platform/ui/URegistrar.h"
#include "support/BufferMovie.h"
#include "toolkit/CRegularWindow.h"

namespace sessiontest {

double Scene(double x, double y) {
  return 128 + 55 * std::sin(0.23 * x + 0.8 * std::sin(0.061 * y)) +
         45 * std::cos(0.19 * y + 0.7 * std::sin(0.043 * x));
}

void DrawShifted(CBuffer* f, double dx, double dy, ERows inRows) {
  for (SInt32 y = 0; y < f->GetHeight(); ++y) {
    if ((inRows == ERows::kEven && y % 2) || (inRows == ERows::kOdd && y % 2 == 0)) continue;
    UInt8* row = reinterpret_cast<UInt8*>(f->GetData()) + static_cast<size_t>(y) * f->GetRowBytes();
    for (SInt32 x = 0; x < f->GetWidth(); ++x) {
      const auto v = static_cast<UInt8>(std::lround(std::clamp(Scene(x - dx, y - dy), 0.0, 255.0)));
      row[4 * x] = 255;
      row[4 * x + 1] = row[4 * x + 2] = row[4 * x + 3] = v;
    }
  }
}

Shake::Shake(SInt32 inFrames, UInt32 inSeed, double inAmplitude) {
  UInt32 seed = inSeed;
  auto rnd = [&seed, inAmplitude] {
    seed = seed * 1664525u + 1013904223u;
    return ((static_cast<double>(seed >> 8) / (1u << 24)) * 2.0 - 1.0) * inAmplitude;
  };
  for (SInt32 k = 0; k < inFrames; ++k) {
    dx.push_back(k == 0 ? 0 : rnd());
    dy.push_back(k == 0 ? 0 : rnd());
  }
}

Movie MakeMovie(SInt32 inFrames, const std::function<void(SInt32, CBuffer*)>& inDraw) {
  return testmovies::MakeBufferMovie(kW, kH, inFrames, inDraw, {600, kFrame});
}

Movie MakeShakyMovie(const Shake& inShake) {
  return MakeMovie(static_cast<SInt32>(inShake.dx.size()), [&](SInt32 k, CBuffer* f) {
    DrawShifted(f, inShake.dx[static_cast<size_t>(k)], inShake.dy[static_cast<size_t>(k)]);
  });
}

Movie MakeInterlacedMovie(SInt32 inFrames) {
  return MakeMovie(inFrames, [](SInt32 k, CBuffer* f) {
    DrawShifted(f, 3.0 * (2 * k), 0.8 * (2 * k), ERows::kEven);
    DrawShifted(f, 3.0 * (2 * k + 1), 0.8 * (2 * k + 1), ERows::kOdd);
  });
}

Movie MakeStillMovie(SInt32 inFrames) {
  return MakeMovie(inFrames, [](SInt32, CBuffer* f) { DrawShifted(f, 0, 0); });
}

CMovie* OpenAsFile(Movie inMovie, const std::string& inName) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("trx-behaviour-" + std::to_string(::getpid()) + "-" + inName + ".mov"))
                               .string();
  FSSpec spec;
  FSMakeFSSpecFromPath(path, &spec);
  Movie saved = FlattenMovieData(inMovie, flattenAddMovieToDataFork, &spec, 'TVOD', smSystemScript,
                                 createMovieFileDeleteCurFile);
  DisposeMovie(inMovie);
  if (!saved) return nullptr;
  DisposeMovie(saved);
  return new CMovie(&spec);
}

Track StoreMotion(CMovie& ioMovie, const Shake& inShake) {
  TArray<DiffMotionData> records;
  for (size_t k = 0; k < inShake.dx.size(); ++k) {
    DiffMotionData d{};
    d.version = kMotionDataVersion;
    d.quality = 1;
    d.scale = 1;
    d.time = static_cast<SInt32>(k) * kFrame;
    d.duration = kFrame;
    d.centerX = kW / 2.0f;
    d.centerY = kH / 2.0f;
    if (k > 0) {
      d.xShift = static_cast<Float32>(inShake.dx[k] - inShake.dx[k - 1]);
      d.yShift = static_cast<Float32>(inShake.dy[k] - inShake.dy[k - 1]);
    }
    records.AddItem(d);
  }
  Track track = nullptr;
  const Rect bounds = {0, 0, kH, kW};
  if (CMotionTrackerTask::WriteMotionDataTrack(ioMovie.GetMovie(), bounds, records, 2, 0, 2, 0, &track) != noErr)
    return nullptr;
  return track;
}

void MeasureShift(CBuffer* inFrame, double& outX, double& outY) {
  double best = 1e300;
  for (double sy = -5; sy <= 5; sy += 0.25)
    for (double sx = -5; sx <= 5; sx += 0.25) {
      double sum = 0;
      for (SInt32 y = 14; y < inFrame->GetHeight() - 14; y += 3) {
        const UInt8* row =
            reinterpret_cast<const UInt8*>(inFrame->GetData()) + static_cast<size_t>(y) * inFrame->GetRowBytes();
        for (SInt32 x = 14; x < inFrame->GetWidth() - 14; x += 3) {
          const double e = row[4 * x + 2] - Scene(x - sx, y - sy);
          sum += e * e;
        }
      }
      if (sum < best) {
        best = sum;
        outX = sx;
        outY = sy;
      }
    }
}

double Spread(const std::vector<double>& inValues) {
  double mean = 0;
  for (double v : inValues) mean += v;
  mean /= static_cast<double>(inValues.size());
  double var = 0;
  for (double v : inValues) var += (v - mean) * (v - mean);
  return std::sqrt(var / static_cast<double>(inValues.size()));
}

double Jitter(const std::vector<double>& inValues) {
  const double n = static_cast<double>(inValues.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < inValues.size(); ++i) {
    const double x = static_cast<double>(i);
    sx += x;
    sy += inValues[i];
    sxx += x * x;
    sxy += x * inValues[i];
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), offset = (sy - slope * sx) / n;
  double var = 0;
  for (size_t i = 0; i < inValues.size(); ++i) {
    const double e = inValues[i] - (offset + slope * static_cast<double>(i));
    var += e * e;
  }
  return std::sqrt(var / n);
}

void RegisterLayoutClasses() {
  UControlRegistry::RegisterClasses();
  if (!URegistrar::IsRegistered(LWindow::class_ID)) TRegistrar<LWindow>::Register();
  if (!URegistrar::IsRegistered(LView::class_ID)) TRegistrar<LView>::Register();
  if (!URegistrar::IsRegistered(LCaption::class_ID)) TRegistrar<LCaption>::Register();
  if (!URegistrar::IsRegistered(LTextEditView::class_ID)) TRegistrar<LTextEditView>::Register();
  if (!URegistrar::IsRegistered(LEditField::class_ID)) TRegistrar<LEditField>::Register();
}

namespace {
struct WindowedDocument : CMovieDocument {
  explicit WindowedDocument(CMovie* inMovie) : CMovieDocument(inMovie) {
    if (!mWindow) {
      SWindowInfo info;
      info.title = "Shaky";
      info.left = 40;
      info.top = 40;
      info.width = 360;
      info.height = 300;
      mWindow = new CRegularWindow(info, this);
    }
    mWindow->Show();
  }
};
}  // namespace

CMovieDocument* NewWindowedDocument(CMovie* inMovie) { return new WindowedDocument(inMovie); }

SInt32 CountTracksAtLayer(Movie inMovie, SInt16 inLayer) {
  SInt32 n = 0;
  for (SInt32 i = 1; i <= GetMovieTrackCount(inMovie); ++i)
    if (GetTrackLayer(GetMovieIndTrack(inMovie, i)) == inLayer) ++n;
  return n;
}

}  // namespace sessiontest
