// A media's sample table, kept as runs of alike samples: a run holds samples
// of one duration, size, description, sync flag and composition offset whose
// bytes follow each other in one data reference. Sound media, whose samples
// are single audio frames, stay small this way.
#pragma once

#include <vector>

#include "platform/base/MacTypes.h"

namespace movies {

struct SampleInfo {
  SInt64 number = 0;  // 0-based
  SInt64 decodeTime = 0;
  SInt32 duration = 0;
  SInt32 compOffset = 0;
  UInt32 size = 0;
  SInt64 offset = 0;
  SInt32 descIndex = 1;
  bool sync = true;
};

struct SampleRun {
  SInt64 first = 0;
  SInt64 count = 0;
  SInt64 decodeTime = 0;
  SInt32 duration = 0;
  SInt32 compOffset = 0;
  UInt32 size = 0;
  SInt64 offset = 0;
  SInt32 descIndex = 1;
  bool sync = true;
};

class CSampleTable {
 public:
  SInt64 Count() const { return mRuns.empty() ? 0 : mRuns.back().first + mRuns.back().count; }
  SInt64 Duration() const { return mDuration; }
  const std::vector<SampleRun>& Runs() const { return mRuns; }
  bool HasCompositionOffsets() const { return mHasCompOffsets; }

  // Appends `count` samples; answers the decode time of the first.
  SInt64 Append(SInt64 offset, UInt32 size, SInt32 duration, SInt64 count, SInt32 descIndex, bool sync,
                SInt32 compOffset);
  bool At(SInt64 number, SampleInfo& out) const;
  // The run holding sample `number`, nil when out of range.
  const SampleRun* RunContaining(SInt64 number) const;
  // The sample whose decode interval holds t (zero-length samples never do).
  bool FindByDecodeTime(SInt64 t, SampleInfo& out) const;
  // The sample displayed at media time t.
  bool FindByDisplayTime(SInt64 t, SampleInfo& out) const;
  // Display start times strictly after / before t; -1 when none.
  SInt64 NextDisplayTime(SInt64 t, bool syncOnly) const;
  SInt64 PreviousDisplayTime(SInt64 t, bool syncOnly) const;
  bool SetCompositionOffset(SInt64 number, SInt32 offset);
  // The last sync sample at or before `number`.
  SInt64 SyncSampleAtOrBefore(SInt64 number) const;
  void Clear();

 private:
  size_t RunOf(SInt64 number) const;
  void BuildDisplayCache() const;

  std::vector<SampleRun> mRuns;
  SInt64 mDuration = 0;
  bool mHasCompOffsets = false;
  // Display start times with their sample numbers, sorted; built on demand
  // for media with composition offsets.
  mutable std::vector<std::pair<SInt64, SInt64>> mDisplay;
  mutable bool mDisplayValid = false;
};

}  // namespace movies
