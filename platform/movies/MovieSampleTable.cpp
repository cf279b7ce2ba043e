#include "platform/movies/MovieSampleTable.h"

#include <algorithm>

namespace movies {

SInt64 CSampleTable::Append(SInt64 offset, UInt32 size, SInt32 duration, SInt64 count, SInt32 descIndex, bool sync,
                            SInt32 compOffset) {
  SInt64 start = mDuration;
  if (count <= 0) return start;
  if (compOffset != 0) mHasCompOffsets = true;
  mDisplayValid = false;
  if (!mRuns.empty()) {
    SampleRun& last = mRuns.back();
    if (last.duration == duration && last.size == size && last.descIndex == descIndex && last.sync == sync &&
        last.compOffset == compOffset && last.offset + last.count * static_cast<SInt64>(last.size) == offset) {
      last.count += count;
      mDuration += count * duration;
      return start;
    }
  }
  SampleRun r;
  r.first = Count();
  r.count = count;
  r.decodeTime = start;
  r.duration = duration;
  r.compOffset = compOffset;
  r.size = size;
  r.offset = offset;
  r.descIndex = descIndex;
  r.sync = sync;
  mRuns.push_back(r);
  mDuration += count * static_cast<SInt64>(duration);
  return start;
}

size_t CSampleTable::RunOf(SInt64 number) const {
  auto it = std::upper_bound(mRuns.begin(), mRuns.end(), number,
                             [](SInt64 n, const SampleRun& r) { return n < r.first; });
  return static_cast<size_t>(it - mRuns.begin()) - 1;
}

const SampleRun* CSampleTable::RunContaining(SInt64 number) const {
  if (number < 0 || number >= Count()) return nullptr;
  return &mRuns[RunOf(number)];
}

bool CSampleTable::At(SInt64 number, SampleInfo& out) const {
  if (number < 0 || number >= Count()) return false;
  const SampleRun& r = mRuns[RunOf(number)];
  SInt64 k = number - r.first;
  out.number = number;
  out.decodeTime = r.decodeTime + k * r.duration;
  out.duration = r.duration;
  out.compOffset = r.compOffset;
  out.size = r.size;
  out.offset = r.offset + k * static_cast<SInt64>(r.size);
  out.descIndex = r.descIndex;
  out.sync = r.sync;
  return true;
}

bool CSampleTable::FindByDecodeTime(SInt64 t, SampleInfo& out) const {
  if (t < 0 || t >= mDuration) return false;
  // The last run starting at or before t with a positive length.
  auto it = std::upper_bound(mRuns.begin(), mRuns.end(), t,
                             [](SInt64 v, const SampleRun& r) { return v < r.decodeTime; });
  while (it != mRuns.begin()) {
    --it;
    if (it->duration > 0 && it->count > 0) {
      SInt64 end = it->decodeTime + it->count * it->duration;
      if (t >= end) return false;
      return At(it->first + (t - it->decodeTime) / it->duration, out);
    }
  }
  return false;
}

void CSampleTable::BuildDisplayCache() const {
  if (mDisplayValid) return;
  mDisplay.clear();
  mDisplay.reserve(static_cast<size_t>(Count()));
  for (const SampleRun& r : mRuns)
    for (SInt64 k = 0; k < r.count; ++k)
      if (r.duration > 0) mDisplay.emplace_back(r.decodeTime + k * r.duration + r.compOffset, r.first + k);
  std::sort(mDisplay.begin(), mDisplay.end());
  mDisplayValid = true;
}

bool CSampleTable::FindByDisplayTime(SInt64 t, SampleInfo& out) const {
  if (!mHasCompOffsets) return FindByDecodeTime(t, out);
  BuildDisplayCache();
  auto it = std::upper_bound(mDisplay.begin(), mDisplay.end(), std::make_pair(t, INT64_MAX));
  if (it == mDisplay.begin()) return false;
  --it;
  SampleInfo s;
  if (!At(it->second, s)) return false;
  if (t >= it->first + s.duration) return false;
  out = s;
  return true;
}

SInt64 CSampleTable::NextDisplayTime(SInt64 t, bool syncOnly) const {
  if (mHasCompOffsets) {
    BuildDisplayCache();
    auto it = std::upper_bound(mDisplay.begin(), mDisplay.end(), std::make_pair(t, INT64_MAX));
    for (; it != mDisplay.end(); ++it) {
      SampleInfo s;
      if (!syncOnly || (At(it->second, s) && s.sync)) return it->first;
    }
    return -1;
  }
  auto it = std::upper_bound(mRuns.begin(), mRuns.end(), t,
                             [](SInt64 v, const SampleRun& r) { return v < r.decodeTime; });
  if (it != mRuns.begin()) {
    const SampleRun& r = *(it - 1);
    if (r.duration > 0 && (!syncOnly || r.sync)) {
      SInt64 k = (t - r.decodeTime) / r.duration + 1;
      if (k < r.count) return r.decodeTime + k * r.duration;
    }
  }
  for (; it != mRuns.end(); ++it)
    if (it->duration > 0 && (!syncOnly || it->sync)) return it->decodeTime;
  return -1;
}

SInt64 CSampleTable::PreviousDisplayTime(SInt64 t, bool syncOnly) const {
  if (mHasCompOffsets) {
    BuildDisplayCache();
    auto it = std::lower_bound(mDisplay.begin(), mDisplay.end(), std::make_pair(t, INT64_MIN));
    while (it != mDisplay.begin()) {
      --it;
      SampleInfo s;
      if (!syncOnly || (At(it->second, s) && s.sync)) return it->first;
    }
    return -1;
  }
  // Runs starting strictly before t.
  auto it = std::lower_bound(mRuns.begin(), mRuns.end(), t,
                             [](const SampleRun& r, SInt64 v) { return r.decodeTime < v; });
  while (it != mRuns.begin()) {
    --it;
    const SampleRun& r = *it;
    if (r.duration <= 0 || (syncOnly && !r.sync)) continue;
    SInt64 k = (t - r.decodeTime - 1) / r.duration;  // last start strictly before t
    if (k >= r.count) k = r.count - 1;
    return r.decodeTime + k * r.duration;
  }
  return -1;
}

bool CSampleTable::SetCompositionOffset(SInt64 number, SInt32 offset) {
  if (number < 0 || number >= Count()) return false;
  size_t ri = RunOf(number);
  SampleRun r = mRuns[ri];
  if (r.compOffset == offset) return true;
  // Split the run into before / the sample / after.
  std::vector<SampleRun> parts;
  SInt64 k = number - r.first;
  if (k > 0) {
    SampleRun a = r;
    a.count = k;
    parts.push_back(a);
  }
  SampleRun m = r;
  m.first = number;
  m.count = 1;
  m.decodeTime = r.decodeTime + k * r.duration;
  m.offset = r.offset + k * static_cast<SInt64>(r.size);
  m.compOffset = offset;
  parts.push_back(m);
  if (k + 1 < r.count) {
    SampleRun b = r;
    b.first = number + 1;
    b.count = r.count - k - 1;
    b.decodeTime = m.decodeTime + r.duration;
    b.offset = m.offset + r.size;
    parts.push_back(b);
  }
  mRuns.erase(mRuns.begin() + static_cast<std::ptrdiff_t>(ri));
  mRuns.insert(mRuns.begin() + static_cast<std::ptrdiff_t>(ri), parts.begin(), parts.end());
  if (offset != 0) mHasCompOffsets = true;
  mDisplayValid = false;
  return true;
}

SInt64 CSampleTable::SyncSampleAtOrBefore(SInt64 number) const {
  if (number < 0 || number >= Count()) return -1;
  size_t ri = RunOf(number);
  for (size_t i = ri + 1; i-- > 0;) {
    const SampleRun& r = mRuns[i];
    if (r.sync) return i == ri ? number : r.first + r.count - 1;
  }
  return 0;  // no sync sample at all: decode from the start
}

void CSampleTable::Clear() {
  mRuns.clear();
  mDuration = 0;
  mHasCompOffsets = false;
  mDisplay.clear();
  mDisplayValid = false;
}

}  // namespace movies
