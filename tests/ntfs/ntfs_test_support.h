// Shared set-up for the NTFS decoder tests: a clean error state and a
// volume geometry set per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/bytes.h"
#include "runtime/vb_array.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr::test {

class NtfsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetErrorState();
    VolumeSession.TotalClusters = 100000;
    VolumeSession.SectorsPerCluster = 8;
    VolumeSession.SectorsPerFileRecord = 2;
    VolumeSession.SectorsPerIndexBlock = 8;
    VolumeSession.SharedMode = 0;
    VolumeSession.MftLcn = 4;
  }
  void TearDown() override { ResetErrorState(); }

  static int Errors() { return ErrorState.ErrorCount; }
  static bool MarkPending() { return ErrorState.AlignmentMark != 0; }
};

inline std::vector<int64_t> Column(const VbArray<Long>& a) {
  std::vector<int64_t> out;
  for (int64_t i = 1; i <= a.UBound(); ++i) out.push_back(a(i));
  return out;
}

// Offset of the first attribute of `type` in a record, 0 when none.
inline int64_t AttributeAt(Bytes record, uint32_t type) {
  int64_t at = U16(record, 0x14);
  while (at + 8 <= static_cast<int64_t>(record.size())) {
    const uint32_t t = U32(record, at);
    if (t == 0xFFFFFFFFu || U32(record, at + 4) == 0) return 0;
    if (t == type) return at;
    at += U32(record, at + 4);
  }
  return 0;
}

}  // namespace vr::test
