#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "platform/base/LException.h"
#include "platform/dsp/VectorDSP.h"

namespace {

using cd = std::complex<double>;

// A 2-D DFT straight from the definition, in double precision.
std::vector<cd> NaiveDFT(const std::vector<cd>& in, int rows, int cols, int sign) {
  std::vector<cd> out(in.size());
  for (int kr = 0; kr < rows; ++kr)
    for (int kc = 0; kc < cols; ++kc) {
      cd sum = 0;
      for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
          const double phase = sign * 2.0 * M_PI * (double(kr) * r / rows + double(kc) * c / cols);
          sum += in[r * cols + c] * cd(std::cos(phase), std::sin(phase));
        }
      out[kr * cols + kc] = sum;
    }
  return out;
}

std::vector<cd> RandomComplex(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  std::vector<cd> v(n);
  for (auto& x : v) x = cd(d(gen), d(gen));
  return v;
}

double MaxAbs(const std::vector<cd>& v) {
  double m = 0;
  for (const auto& x : v) m = std::max(m, std::abs(x));
  return m;
}

// A split-complex array laid out with the given strides inside padded storage.
struct Layout {
  int rows, cols, rowStride, rowPitch, offset;
  std::vector<float> re, im;
  Layout(int r, int c, int rs, int pitch, int off)
      : rows(r), cols(c), rowStride(rs), rowPitch(pitch), offset(off),
        re(size_t(off + (r - 1) * pitch + (c - 1) * rs + 1 + 8), 99.0f),
        im(re.size(), -99.0f) {}
  size_t At(int r, int c) const { return size_t(offset + r * rowPitch + c * rowStride); }
  void Store(const std::vector<cd>& v) {
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        re[At(r, c)] = float(v[r * cols + c].real());
        im[At(r, c)] = float(v[r * cols + c].imag());
      }
  }
  std::vector<cd> Load() const {
    std::vector<cd> v(size_t(rows * cols));
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) v[r * cols + c] = cd(re[At(r, c)], im[At(r, c)]);
    return v;
  }
  DSPSplitComplex Split() { return {re.data() + offset, im.data() + offset}; }
};

struct SetupOwner {
  FFTSetup s;
  explicit SetupOwner(vDSP_Length log2n) : s(create_fftsetup(log2n, kFFTRadix2)) {}
  ~SetupOwner() { destroy_fftsetup(s); }
};

}  // namespace

TEST(FFT2D, MatchesTheDefinitionForSquareRectangularStridedAndUnalignedArrays) {
  SetupOwner setup(6);
  ASSERT_NE(setup.s, nullptr);
  struct Case {
    int log2Cols, log2Rows, rowStride, colStride, offset;
  } cases[] = {
      {5, 5, 1, 0, 0},   // the estimator's blocks: 32 x 32, contiguous
      {3, 3, 1, 0, 1},   // unaligned start
      {4, 2, 1, 0, 0},   // 16 columns, 4 rows
      {2, 5, 1, 0, 3},   // 4 columns, 32 rows
      {3, 4, 2, 21, 0},  // every other element, padded rows
      {0, 3, 1, 0, 0},   // one column
  };
  unsigned seed = 1;
  for (const Case& k : cases) {
    const int cols = 1 << k.log2Cols, rows = 1 << k.log2Rows;
    const int pitch = k.colStride == 0 ? cols * k.rowStride : k.colStride;
    for (FFTDirection dir : {kFFTDirection_Forward, kFFTDirection_Inverse}) {
      SCOPED_TRACE(testing::Message() << cols << "x" << rows << " stride " << k.rowStride << " dir " << dir);
      const auto input = RandomComplex(size_t(rows * cols), seed++);
      Layout lay(rows, cols, k.rowStride, pitch, k.offset);
      lay.Store(input);
      const std::vector<float> before = lay.re;
      DSPSplitComplex split = lay.Split();
      fft2d_zip(setup.s, &split, k.rowStride, k.colStride, k.log2Cols, k.log2Rows, dir);
      // The forward transform uses e^(-2 pi i k m / n), the inverse e^(+...); neither scales.
      const auto expected = NaiveDFT(input, rows, cols, dir == kFFTDirection_Forward ? -1 : +1);
      const auto got = lay.Load();
      double err = 0;
      for (size_t i = 0; i < got.size(); ++i) err = std::max(err, std::abs(got[i] - expected[i]));
      EXPECT_LT(err, 1e-5 * MaxAbs(expected) + 1e-6);
      // Elements between the strided ones are left alone.
      for (size_t i = 0; i < before.size(); ++i)
        if (before[i] == 99.0f) {
          EXPECT_EQ(lay.re[i], 99.0f) << i;
        }
    }
  }
}

TEST(FFT2D, ScratchVariantAndRoundTripScaleByTheElementCount) {
  SetupOwner setup(5);
  const int n = 32;
  const auto input = RandomComplex(n * n, 42);
  Layout lay(n, n, 1, n, 0);
  lay.Store(input);
  std::vector<float> tr(4096), ti(4096);
  DSPSplitComplex temp{tr.data(), ti.data()};
  DSPSplitComplex split = lay.Split();
  fft2d_zipt(setup.s, &split, 1, 0, &temp, 5, 5, kFFTDirection_Forward);
  fft2d_zipt(setup.s, &split, 1, 0, nullptr, 5, 5, kFFTDirection_Inverse);
  const auto got = lay.Load();
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(std::abs(got[i] / double(n * n) - input[i]), 0.0, 1e-5);
}

// What the block estimator relies on: with A and B real, a second forward
// transform of conj(FFT(A)) * FFT(B) gives N * sum A(x, y) * B(x - c, y - r)
// at index (r, c), indices wrapped.
TEST(FFT2D, SecondForwardTransformGivesTheCorrelationWithReversedIndices) {
  const int n = 16, N = n * n;
  SetupOwner setup(4);
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> ar(N), ai(N, 0.0f), br(N), bi(N, 0.0f);
  for (int i = 0; i < N; ++i) {
    ar[i] = d(gen);
    br[i] = d(gen);
  }
  const std::vector<float> a0 = ar, b0 = br;
  DSPSplitComplex A{ar.data(), ai.data()}, B{br.data(), bi.data()};
  fft2d_zip(setup.s, &A, 1, 0, 4, 4, kFFTDirection_Forward);
  fft2d_zip(setup.s, &B, 1, 0, 4, 4, kFFTDirection_Forward);
  zvmul(&A, 1, &B, 1, &B, 1, N, -1);
  fft2d_zip(setup.s, &B, 1, 0, 4, 4, kFFTDirection_Forward);
  double scale = 0;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      double sum = 0;
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) sum += double(a0[y * n + x]) * b0[((y - r + n) % n) * n + (x - c + n) % n];
      scale = std::max(scale, std::abs(sum));
      EXPECT_NEAR(br[r * n + c], N * sum, 2e-3 * N) << r << "," << c;
      EXPECT_NEAR(bi[r * n + c], 0.0, 2e-3 * N);
    }
  EXPECT_GT(scale, 1.0);
}

TEST(FFT2D, ConcurrentTransformsGiveTheSameResultAsOneThread) {
  const int n = 32, N = n * n;
  const auto input = RandomComplex(N, 3);
  auto run = [&](std::vector<float>& re, std::vector<float>& im) {
    SetupOwner setup(5);
    for (int i = 0; i < N; ++i) {
      re[i] = float(input[i].real());
      im[i] = float(input[i].imag());
    }
    DSPSplitComplex s{re.data(), im.data()};
    for (int k = 0; k < 200; ++k) {
      fft2d_zip(setup.s, &s, 1, 0, 5, 5, kFFTDirection_Forward);
      fft2d_zip(setup.s, &s, 1, 0, 5, 5, kFFTDirection_Inverse);
      for (int i = 0; i < N; ++i) {
        re[i] /= N;
        im[i] /= N;
      }
    }
  };
  std::vector<float> refRe(N), refIm(N);
  run(refRe, refIm);
  std::vector<std::vector<float>> re(8, std::vector<float>(N)), im(8, std::vector<float>(N));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { run(re[t], im[t]); });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) {
    EXPECT_EQ(re[t], refRe);
    EXPECT_EQ(im[t], refIm);
  }
}

TEST(FFT2D, SetupLimitsAndMisuseAreReported) {
  EXPECT_EQ(create_fftsetup(5, kFFTRadix3), nullptr);
  EXPECT_EQ(create_fftsetup(kFFTMaxLog2n + 1, kFFTRadix2), nullptr);
  destroy_fftsetup(nullptr);
  SetupOwner setup(4);
  std::vector<float> re(64 * 64), im(64 * 64);
  DSPSplitComplex s{re.data(), im.data()};
  auto code = [](auto&& f) {
    try {
      f();
    } catch (const LException& e) {
      return e.GetErrorCode();
    }
    return ExceptionCode{0};
  };
  EXPECT_EQ(code([&] { fft2d_zip(nullptr, &s, 1, 0, 4, 4, kFFTDirection_Forward); }), err_NilPointer);
  DSPSplitComplex noImag{re.data(), nullptr};
  EXPECT_EQ(code([&] { fft2d_zip(setup.s, &noImag, 1, 0, 4, 4, kFFTDirection_Forward); }), err_NilPointer);
  EXPECT_EQ(code([&] { fft2d_zip(setup.s, &s, 1, 0, 5, 4, kFFTDirection_Forward); }), paramErr);
  EXPECT_EQ(code([&] { fft2d_zip(setup.s, &s, 1, 0, 4, 4, 2); }), paramErr);
  EXPECT_EQ(code([&] { fft2d_zip(setup.s, &s, 0, 0, 4, 4, kFFTDirection_Forward); }), paramErr);
  EXPECT_EQ(code([&] { zvmul(&s, 1, &s, 1, &s, 1, 4, 0); }), paramErr);
  EXPECT_EQ(code([&] { zvmul(&s, 1, nullptr, 1, &s, 1, 4, 1); }), err_NilPointer);
  EXPECT_EQ(code([&] { zvmul(&s, 1, nullptr, 1, &s, 1, 0, 1); }), 0);
}

TEST(ComplexMultiply, AllAliasingCasesAndStridesMatchComplexArithmetic) {
  const int n = 37;  // not a multiple of any vector width
  const auto va = RandomComplex(3 * n, 11), vb = RandomComplex(3 * n, 12);
  for (int conj : {1, -1}) {
    auto expect = [&](const std::vector<cd>& a, const std::vector<cd>& b, int i) {
      return (conj == -1 ? std::conj(a[i]) : a[i]) * b[i];
    };
    // Distinct arrays, c = b, c = a, a = b out of place, a = b = c.
    for (int mode = 0; mode < 5; ++mode) {
      SCOPED_TRACE(testing::Message() << "conj " << conj << " mode " << mode);
      std::vector<float> ar(n), ai(n), br(n), bi(n), cr(n), ci(n);
      std::vector<cd> a(va.begin(), va.begin() + n), b(vb.begin(), vb.begin() + n);
      if (mode >= 3) b = a;
      for (int i = 0; i < n; ++i) {
        ar[i] = float(a[i].real());
        ai[i] = float(a[i].imag());
        br[i] = float(b[i].real());
        bi[i] = float(b[i].imag());
      }
      DSPSplitComplex A{ar.data(), ai.data()}, B{br.data(), bi.data()}, C{cr.data(), ci.data()};
      DSPSplitComplex* pb = mode >= 3 ? &A : &B;
      DSPSplitComplex* pc = mode == 1 ? &B : mode == 2 || mode == 4 ? &A : &C;
      zvmul(&A, 1, pb, 1, pc, 1, n, conj);
      for (int i = 0; i < n; ++i) {
        const cd e = expect(a, b, i);
        EXPECT_NEAR(pc->realp[i], e.real(), 1e-5);
        EXPECT_NEAR(pc->imagp[i], e.imag(), 1e-5);
      }
    }
    // Strided: a every 2nd, b every 3rd element, c every 2nd.
    std::vector<float> ar(2 * n), ai(2 * n), br(3 * n), bi(3 * n), cr(2 * n, 5.0f), ci(2 * n, 5.0f);
    for (int i = 0; i < n; ++i) {
      ar[2 * i] = float(va[i].real());
      ai[2 * i] = float(va[i].imag());
      br[3 * i] = float(vb[i].real());
      bi[3 * i] = float(vb[i].imag());
    }
    DSPSplitComplex A{ar.data(), ai.data()}, B{br.data(), bi.data()}, C{cr.data(), ci.data()};
    zvmul(&A, 2, &B, 3, &C, 2, n, conj);
    for (int i = 0; i < n; ++i) {
      const cd e = expect(va, vb, i);
      EXPECT_NEAR(cr[2 * i], e.real(), 1e-5);
      EXPECT_NEAR(ci[2 * i], e.imag(), 1e-5);
      if (i + 1 < n) {
        EXPECT_EQ(cr[2 * i + 1], 5.0f);
      }
    }
  }
}
