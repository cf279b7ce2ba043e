// An owned array of floats on a cache-line boundary: the estimator's FFT
// planes and scratch, and the pyramid's gradient planes. Aligned planes keep
// the vector loops on whole lines and keep two threads' planes off one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "platform/base/LargeBlocks.h"
#include "platform/base/LException.h"

class CAlignedPlane {
 public:
  static constexpr size_t kAlignment = 64;

  CAlignedPlane() = default;
  // inFloats floats, zero-filled when inZeroed; 'nilP' when memory cannot be had.
  explicit CAlignedPlane(size_t inFloats, bool inZeroed = true) { Reset(inFloats, inZeroed); }
  ~CAlignedPlane() { Free(); }
  CAlignedPlane(const CAlignedPlane&) = delete;
  CAlignedPlane& operator=(const CAlignedPlane&) = delete;
  CAlignedPlane(CAlignedPlane&& ioOther) noexcept { Swap(ioOther); }
  CAlignedPlane& operator=(CAlignedPlane&& ioOther) noexcept {
    if (this != &ioOther) {
      Free();
      Swap(ioOther);
    }
    return *this;
  }

  // Frees the present floats and takes inFloats new ones (none for 0). On a
  // failure ('nilP') the plane is left empty.
  void Reset(size_t inFloats, bool inZeroed = true) {
    Free();
    if (inFloats == 0) return;
    if (inFloats > (SIZE_MAX - kAlignment) / sizeof(float)) Throw_(err_NilPointer);
    const size_t bytes = inFloats * sizeof(float);
    if (IsMappedLargeBlock(bytes)) {
      // Zero already, and in huge pages where the kernel has them.
      void* p = NewLargeBlock(bytes);
      ThrowIfNil_(p);
      mData = static_cast<float*>(p);
      mCount = inFloats;
      return;
    }
    void* p = ::operator new(bytes, std::align_val_t(kAlignment), std::nothrow);
    ThrowIfNil_(p);
    if (inZeroed) std::memset(p, 0, bytes);
    mData = static_cast<float*>(p);
    mCount = inFloats;
  }
  void Free() {
    if (mData && IsMappedLargeBlock(mCount * sizeof(float)))
      DisposeLargeBlock(mData, mCount * sizeof(float));
    else if (mData)
      ::operator delete(mData, std::align_val_t(kAlignment));
    mData = nullptr;
    mCount = 0;
  }
  void Swap(CAlignedPlane& ioOther) noexcept {
    std::swap(mData, ioOther.mData);
    std::swap(mCount, ioOther.mCount);
  }

  float* Get() const { return mData; }
  size_t Count() const { return mCount; }
  explicit operator bool() const { return mData != nullptr; }

 private:
  float* mData = nullptr;
  size_t mCount = 0;
};
