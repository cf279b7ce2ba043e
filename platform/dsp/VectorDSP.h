// The vector DSP subset the program uses: the 2-D complex FFT on split-complex
// planes and the complex vector multiply.
//
// Transforms run on FFTW (single precision). A plan is made once per size for
// the whole process, under a lock, and then executed concurrently by any
// number of threads; an FFTSetup only names the largest size it may be used
// for and remembers the plans it has looked up. Setups may be shared between
// threads.
//
// Conventions:
// - kFFTDirection_Forward computes X[k] = sum_m x[m] * e^(-2*pi*i*k*m/n) along
//   both dimensions; kFFTDirection_Inverse uses e^(+2*pi*i*k*m/n). Neither is
//   scaled: a forward and an inverse transform multiply the data by the
//   number of elements.
// - Misuse (null setup or planes, a size beyond the setup, a bad direction or
//   stride) throws an LException: 'nilP' for a missing pointer, paramErr else.
#pragma once

#include "platform/base/MacTypes.h"

typedef struct OpaqueFFTSetup* FFTSetup;
typedef SInt32 FFTDirection;
typedef SInt32 FFTRadix;
typedef UInt32 vDSP_Length;
typedef SInt32 vDSP_Stride;

enum : FFTDirection { kFFTDirection_Forward = +1, kFFTDirection_Inverse = -1 };
enum : FFTRadix { kFFTRadix2 = 0, kFFTRadix3 = 1, kFFTRadix5 = 2 };

// The largest log2 size a setup may be created for.
constexpr vDSP_Length kFFTMaxLog2n = 24;

struct DSPSplitComplex {
  float* realp;
  float* imagp;
};

// A setup for transforms of up to 2^log2n elements along each dimension. Only
// radix 2 is supported; null for any other radix or a log2n above kFFTMaxLog2n.
FFTSetup create_fftsetup(vDSP_Length log2n, FFTRadix radix);
// Null is ignored.
void destroy_fftsetup(FFTSetup setup);

// In-place 2-D FFT of a split-complex array of 2^log2nInRow rows of
// 2^log2nInCol elements (log2nInCol is the log2 of the number of columns).
// rowStride is the distance in elements between neighbours within a row (at
// least 1); colStride the distance between the starts of two rows, 0 meaning
// rows follow each other (2^log2nInCol * rowStride).
void fft2d_zip(FFTSetup setup, DSPSplitComplex* ioData, vDSP_Stride rowStride, vDSP_Stride colStride,
               vDSP_Length log2nInCol, vDSP_Length log2nInRow, FFTDirection direction);
// The same with caller-supplied scratch memory. This implementation works in a
// buffer of its own per thread (allocated on a thread's first transform of a
// size): temp may be null and is never touched.
void fft2d_zipt(FFTSetup setup, DSPSplitComplex* ioData, vDSP_Stride rowStride, vDSP_Stride colStride,
                DSPSplitComplex* temp, vDSP_Length log2nInCol, vDSP_Length log2nInRow, FFTDirection direction);

// c[k] = a[k] * b[k] for k < count (conjugate 1), or conj(a[k]) * b[k]
// (conjugate -1), with the given element strides. c may be the same array as a
// or b (same start and stride); other overlaps are not allowed.
void zvmul(const DSPSplitComplex* a, vDSP_Stride strideA, const DSPSplitComplex* b, vDSP_Stride strideB,
           DSPSplitComplex* c, vDSP_Stride strideC, vDSP_Length count, int conjugate);
