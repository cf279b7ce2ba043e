#include "platform/dsp/VectorDSP.h"

#include <fftw3.h>

#include <map>
#include <new>
#include <mutex>
#include <vector>

#include "platform/base/LException.h"

namespace {

// FFTW's split-array transforms tie a plan to the distance between the real
// and the imaginary array it was made with, which differs for every pair of
// planes a caller owns. So every transform runs on an interleaved copy in a
// buffer of the calling thread, with one plan per size for the whole process.
// The copies cost little next to the transform and the plans stay few.
struct PlanKey {
  UInt32 log2Cols;
  UInt32 log2Rows;
  bool operator==(const PlanKey& o) const { return log2Cols == o.log2Cols && log2Rows == o.log2Rows; }
  bool operator<(const PlanKey& o) const {
    return log2Cols != o.log2Cols ? log2Cols < o.log2Cols : log2Rows < o.log2Rows;
  }
};

// FFTW's planner is not thread-safe; executing a finished plan on new arrays is.
std::mutex gPlannerLock;
// Plans live for the whole process. Held through a pointer that is never
// freed, so that no plan is destroyed while another static destructor could
// still run a transform.
std::map<PlanKey, fftwf_plan>* gPlans = nullptr;

fftwf_plan MakePlan(const PlanKey& inKey) {
  const SInt64 cols = SInt64{1} << inKey.log2Cols;
  const SInt64 rows = SInt64{1} << inKey.log2Rows;
  fftwf_complex* data = fftwf_alloc_complex(static_cast<size_t>(rows * cols));
  fftwf_plan plan = nullptr;
  if (data) {
    // Plans are estimated, not measured: for the sizes used here (blocks of
    // 16 to 64 on a side) an estimated plan runs as fast as a measured one,
    // while measuring costs 40 to 60 ms for each size, paid by every process
    // in its first analysis; and a measured plan is whichever algorithm won
    // the timing on that run, so its last bits could differ from run to
    // run. An estimated plan is the same every time.
    plan = fftwf_plan_dft_2d(static_cast<int>(rows), static_cast<int>(cols), data, data, FFTW_FORWARD, FFTW_ESTIMATE);
  }
  fftwf_free(data);
  return plan;
}

fftwf_plan GlobalPlan(const PlanKey& inKey) {
  std::lock_guard<std::mutex> lock(gPlannerLock);
  if (gPlans == nullptr) gPlans = new std::map<PlanKey, fftwf_plan>;
  auto it = gPlans->find(inKey);
  if (it != gPlans->end()) return it->second;
  fftwf_plan plan = MakePlan(inKey);
  if (plan == nullptr) Throw_(memFullErr);
  gPlans->emplace(inKey, plan);
  return plan;
}

// The calling thread's interleaved work buffer, aligned as FFTW allocates (so
// that every plan, made on such memory, may run on it). It only grows.
struct WorkBuffer {
  float* mData = nullptr;
  size_t mFloats = 0;
  ~WorkBuffer() { fftwf_free(mData); }
  float* Get(size_t inFloats) {
    if (inFloats > mFloats) {
      float* grown = fftwf_alloc_real(inFloats);
      if (grown == nullptr) Throw_(memFullErr);
      fftwf_free(mData);
      mData = grown;
      mFloats = inFloats;
    }
    return mData;
  }
};
thread_local WorkBuffer tWork;

// Interleaves one row (re, im) into (w[0], w[1]); swapped puts im first.
void Interleave(const float* __restrict re, const float* __restrict im, float* __restrict w, SInt64 n) {
  for (SInt64 k = 0; k < n; ++k) {
    w[2 * k] = re[k];
    w[2 * k + 1] = im[k];
  }
}
void Deinterleave(const float* __restrict w, float* __restrict re, float* __restrict im, SInt64 n) {
  for (SInt64 k = 0; k < n; ++k) {
    re[k] = w[2 * k];
    im[k] = w[2 * k + 1];
  }
}

}  // namespace

struct OpaqueFFTSetup {
  vDSP_Length mLog2n = 0;
  // The plans this setup has used, so that repeated transforms of one size
  // do not contend for the global planner lock.
  std::mutex mLock;
  std::vector<std::pair<PlanKey, fftwf_plan>> mPlans;

  fftwf_plan PlanFor(const PlanKey& inKey) {
    std::lock_guard<std::mutex> lock(mLock);
    for (const auto& entry : mPlans)
      if (entry.first == inKey) return entry.second;
    fftwf_plan plan = GlobalPlan(inKey);
    mPlans.emplace_back(inKey, plan);
    return plan;
  }
};

FFTSetup create_fftsetup(vDSP_Length log2n, FFTRadix radix) {
  if (radix != kFFTRadix2 || log2n > kFFTMaxLog2n) return nullptr;
  FFTSetup setup = new (std::nothrow) OpaqueFFTSetup;
  if (setup) setup->mLog2n = log2n;
  return setup;
}

void destroy_fftsetup(FFTSetup setup) { delete setup; }

void fft2d_zip(FFTSetup setup, DSPSplitComplex* ioData, vDSP_Stride rowStride, vDSP_Stride colStride,
               vDSP_Length log2nInCol, vDSP_Length log2nInRow, FFTDirection direction) {
  ThrowIfNil_(setup);
  ThrowIfNil_(ioData);
  ThrowIfNil_(ioData->realp);
  ThrowIfNil_(ioData->imagp);
  if (log2nInCol > setup->mLog2n || log2nInRow > setup->mLog2n) Throw_(paramErr);
  if (direction != kFFTDirection_Forward && direction != kFFTDirection_Inverse) Throw_(paramErr);
  if (rowStride < 1 || colStride < 0) Throw_(paramErr);
  if (log2nInCol + log2nInRow > 30) Throw_(paramErr);
  const SInt64 cols = SInt64{1} << log2nInCol;
  const SInt64 rows = SInt64{1} << log2nInRow;
  const SInt64 pitch = colStride == 0 ? cols * rowStride : colStride;

  fftwf_plan plan = setup->PlanFor(PlanKey{log2nInCol, log2nInRow});
  float* work = tWork.Get(static_cast<size_t>(2 * rows * cols));
  // The plan is forward (e^-2pi i); the inverse is the forward transform with
  // real and imaginary parts swapped on the way in and on the way out.
  const bool swap = direction == kFFTDirection_Inverse;
  float* re = swap ? ioData->imagp : ioData->realp;
  float* im = swap ? ioData->realp : ioData->imagp;
  if (rowStride == 1) {
    for (SInt64 r = 0; r < rows; ++r) Interleave(re + r * pitch, im + r * pitch, work + 2 * r * cols, cols);
  } else {
    for (SInt64 r = 0; r < rows; ++r)
      for (SInt64 c = 0; c < cols; ++c) {
        work[2 * (r * cols + c)] = re[r * pitch + c * rowStride];
        work[2 * (r * cols + c) + 1] = im[r * pitch + c * rowStride];
      }
  }
  fftwf_complex* data = reinterpret_cast<fftwf_complex*>(work);
  fftwf_execute_dft(plan, data, data);
  if (rowStride == 1) {
    for (SInt64 r = 0; r < rows; ++r) Deinterleave(work + 2 * r * cols, re + r * pitch, im + r * pitch, cols);
  } else {
    for (SInt64 r = 0; r < rows; ++r)
      for (SInt64 c = 0; c < cols; ++c) {
        re[r * pitch + c * rowStride] = work[2 * (r * cols + c)];
        im[r * pitch + c * rowStride] = work[2 * (r * cols + c) + 1];
      }
  }
}

void fft2d_zipt(FFTSetup setup, DSPSplitComplex* ioData, vDSP_Stride rowStride, vDSP_Stride colStride,
                DSPSplitComplex* /*temp*/, vDSP_Length log2nInCol, vDSP_Length log2nInRow, FFTDirection direction) {
  fft2d_zip(setup, ioData, rowStride, colStride, log2nInCol, log2nInRow, direction);
}

namespace {

// Kernels for the aliasing cases that occur, each free of possible aliasing
// between what it reads and what it writes, so that the compiler vectorises them.
template <bool kConj>
void MulDistinct(const float* __restrict ar, const float* __restrict ai, const float* __restrict br,
                 const float* __restrict bi, float* __restrict cr, float* __restrict ci, UInt32 n) {
  for (UInt32 k = 0; k < n; ++k) {
    const float xr = ar[k], xi = kConj ? -ai[k] : ai[k], yr = br[k], yi = bi[k];
    cr[k] = xr * yr - xi * yi;
    ci[k] = xr * yi + xi * yr;
  }
}

// c is b: b = a' * b.
template <bool kConj>
void MulIntoB(const float* __restrict ar, const float* __restrict ai, float* __restrict br, float* __restrict bi,
              UInt32 n) {
  for (UInt32 k = 0; k < n; ++k) {
    const float xr = ar[k], xi = kConj ? -ai[k] : ai[k], yr = br[k], yi = bi[k];
    br[k] = xr * yr - xi * yi;
    bi[k] = xr * yi + xi * yr;
  }
}

// c is a: a = a' * b (conjugating a). Same body with the roles named for a.
template <bool kConj>
void MulIntoA(float* __restrict ar, float* __restrict ai, const float* __restrict br, const float* __restrict bi,
              UInt32 n) {
  for (UInt32 k = 0; k < n; ++k) {
    const float xr = ar[k], xi = kConj ? -ai[k] : ai[k], yr = br[k], yi = bi[k];
    ar[k] = xr * yr - xi * yi;
    ai[k] = xr * yi + xi * yr;
  }
}

// a is b: c = a' * a, in place or not.
template <bool kConj>
void Square(const float* ar, const float* ai, float* cr, float* ci, UInt32 n) {
  if (ar == cr) {
    float* __restrict r = cr;
    float* __restrict i = ci;
    for (UInt32 k = 0; k < n; ++k) {
      const float xr = r[k], xi = i[k];
      if (kConj) {
        r[k] = xr * xr + xi * xi;
        i[k] = 0.0f;
      } else {
        r[k] = xr * xr - xi * xi;
        i[k] = 2.0f * xr * xi;
      }
    }
  } else {
    const float* __restrict sr = ar;
    const float* __restrict si = ai;
    float* __restrict r = cr;
    float* __restrict i = ci;
    for (UInt32 k = 0; k < n; ++k) {
      const float xr = sr[k], xi = si[k];
      if (kConj) {
        r[k] = xr * xr + xi * xi;
        i[k] = 0.0f;
      } else {
        r[k] = xr * xr - xi * xi;
        i[k] = 2.0f * xr * xi;
      }
    }
  }
}

template <bool kConj>
void MulContiguous(const DSPSplitComplex& a, const DSPSplitComplex& b, DSPSplitComplex& c, UInt32 n) {
  const bool aIsB = a.realp == b.realp && a.imagp == b.imagp;
  const bool cIsA = c.realp == a.realp && c.imagp == a.imagp;
  const bool cIsB = c.realp == b.realp && c.imagp == b.imagp;
  if (aIsB)
    Square<kConj>(a.realp, a.imagp, c.realp, c.imagp, n);
  else if (cIsB)
    MulIntoB<kConj>(a.realp, a.imagp, c.realp, c.imagp, n);
  else if (cIsA)
    MulIntoA<kConj>(c.realp, c.imagp, b.realp, b.imagp, n);
  else
    MulDistinct<kConj>(a.realp, a.imagp, b.realp, b.imagp, c.realp, c.imagp, n);
}

template <bool kConj>
void MulStrided(const DSPSplitComplex& a, SInt32 sa, const DSPSplitComplex& b, SInt32 sb, DSPSplitComplex& c,
                SInt32 sc, UInt32 n) {
  for (UInt32 k = 0; k < n; ++k) {
    const size_t ia = size_t{k} * static_cast<size_t>(sa), ib = size_t{k} * static_cast<size_t>(sb),
                 ic = size_t{k} * static_cast<size_t>(sc);
    const float xr = a.realp[ia], xi = kConj ? -a.imagp[ia] : a.imagp[ia], yr = b.realp[ib], yi = b.imagp[ib];
    c.realp[ic] = xr * yr - xi * yi;
    c.imagp[ic] = xr * yi + xi * yr;
  }
}

}  // namespace

void zvmul(const DSPSplitComplex* a, vDSP_Stride strideA, const DSPSplitComplex* b, vDSP_Stride strideB,
           DSPSplitComplex* c, vDSP_Stride strideC, vDSP_Length count, int conjugate) {
  if (conjugate != 1 && conjugate != -1) Throw_(paramErr);
  if (strideA < 1 || strideB < 1 || strideC < 1) Throw_(paramErr);
  if (count == 0) return;
  ThrowIfNil_(a);
  ThrowIfNil_(b);
  ThrowIfNil_(c);
  ThrowIfNil_(a->realp);
  ThrowIfNil_(a->imagp);
  ThrowIfNil_(b->realp);
  ThrowIfNil_(b->imagp);
  ThrowIfNil_(c->realp);
  ThrowIfNil_(c->imagp);
  if (strideA == 1 && strideB == 1 && strideC == 1) {
    if (conjugate == -1)
      MulContiguous<true>(*a, *b, *c, count);
    else
      MulContiguous<false>(*a, *b, *c, count);
  } else {
    if (conjugate == -1)
      MulStrided<true>(*a, strideA, *b, strideB, *c, strideC, count);
    else
      MulStrided<false>(*a, strideA, *b, strideB, *c, strideC, count);
  }
}
