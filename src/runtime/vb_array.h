// Arrays with explicit bounds: lower bound 0, upper bound set by ReDim.
// Every index is checked (run-time error 9 "Subscript out of range"), and a
// request the machine cannot satisfy raises error 7 "Out of memory".
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "runtime/run_error.h"

namespace vr {

template <typename T>
class VbArray {
 public:
  VbArray() = default;
  explicit VbArray(int64_t upper) { ReDim(upper); }

  // Discards the contents and makes the array 0 .. upper (upper -1: empty).
  void ReDim(int64_t upper) { Resize(upper, false); }
  // Keeps the contents that still fit, new elements are zero.
  void ReDimPreserve(int64_t upper) { Resize(upper, true); }
  void Erase() { std::vector<T>().swap(data_); }

  int64_t LBound() const { return 0; }
  int64_t UBound() const { return static_cast<int64_t>(data_.size()) - 1; }
  size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }

  T& operator()(int64_t i) { return data_[Check(i)]; }
  const T& operator()(int64_t i) const { return data_[Check(i)]; }
  T& operator[](int64_t i) { return data_[Check(i)]; }
  const T& operator[](int64_t i) const { return data_[Check(i)]; }

  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }
  std::span<T> Span() { return data_; }
  std::span<const T> Span() const { return data_; }
  void Fill(const T& value) { std::fill(data_.begin(), data_.end(), value); }

 private:
  size_t Check(int64_t i) const {
    if (i < 0 || i >= static_cast<int64_t>(data_.size())) Raise(kErrSubscript);
    return static_cast<size_t>(i);
  }
  void Resize(int64_t upper, bool preserve) {
    if (upper < -1) Raise(kErrSubscript);
    try {
      const size_t n = static_cast<size_t>(upper + 1);
      if (preserve) {
        data_.resize(n);
      } else {
        std::vector<T> fresh(n);
        data_.swap(fresh);
      }
    } catch (const std::bad_alloc&) {
      Raise(kErrOutOfMemory);
    } catch (const std::length_error&) {
      Raise(kErrOutOfMemory);
    }
  }
  std::vector<T> data_;
};

using ByteArray = VbArray<uint8_t>;

}  // namespace vr
