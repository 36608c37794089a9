// Checked little-endian access to byte buffers read from a disk. An access
// past the end of the buffer raises run-time error 9, so a damaged volume ends
// in a recorded error, never in an out-of-bounds read.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "runtime/run_error.h"

namespace vr {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline void CheckRange(size_t size, int64_t offset, int64_t width) {
  if (offset < 0 || width < 0 ||
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(width) > size)
    Raise(kErrSubscript);
}

inline uint64_t GetLE(Bytes b, int64_t offset, int width) {
  CheckRange(b.size(), offset, width);
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b[static_cast<size_t>(offset + i)];
  return v;
}
inline uint8_t U8(Bytes b, int64_t off) { return static_cast<uint8_t>(GetLE(b, off, 1)); }
inline uint16_t U16(Bytes b, int64_t off) { return static_cast<uint16_t>(GetLE(b, off, 2)); }
inline uint32_t U32(Bytes b, int64_t off) { return static_cast<uint32_t>(GetLE(b, off, 4)); }
inline uint64_t U64(Bytes b, int64_t off) { return GetLE(b, off, 8); }
inline int8_t I8(Bytes b, int64_t off) { return static_cast<int8_t>(U8(b, off)); }
inline int16_t I16(Bytes b, int64_t off) { return static_cast<int16_t>(U16(b, off)); }
inline int32_t I32(Bytes b, int64_t off) { return static_cast<int32_t>(U32(b, off)); }
inline int64_t I64(Bytes b, int64_t off) { return static_cast<int64_t>(U64(b, off)); }

inline void PutLE(MutableBytes b, int64_t offset, int width, uint64_t v) {
  CheckRange(b.size(), offset, width);
  for (int i = 0; i < width; ++i)
    b[static_cast<size_t>(offset + i)] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU8(MutableBytes b, int64_t off, uint8_t v) { PutLE(b, off, 1, v); }
inline void PutU16(MutableBytes b, int64_t off, uint16_t v) { PutLE(b, off, 2, v); }
inline void PutU32(MutableBytes b, int64_t off, uint32_t v) { PutLE(b, off, 4, v); }
inline void PutU64(MutableBytes b, int64_t off, uint64_t v) { PutLE(b, off, 8, v); }

// `count` bytes from `offset` as text (bytes taken as Latin-1 characters).
inline std::string GetAscii(Bytes b, int64_t offset, int64_t count) {
  CheckRange(b.size(), offset, count);
  return std::string(reinterpret_cast<const char*>(b.data() + offset), static_cast<size_t>(count));
}

}  // namespace vr
