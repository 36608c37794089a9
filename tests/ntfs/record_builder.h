// Builds FILE records for the decoder tests: a header with the update
// sequence array at a chosen offset, attributes laid out as NTFS lays them
// out, and the sector ends protected with the update sequence number.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/run_encoder.h"
#include "runtime/vb_array.h"

namespace vr::test {

inline void Put(std::vector<uint8_t>& b, size_t off, uint64_t v, int width) {
  if (b.size() < off + width) b.resize(off + width);
  for (int i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

// One run list: (length, first cluster) pairs; a first cluster of -1 makes
// a sparse run. Encoded by the program's own encoder (each run following the
// one before), terminated by 0 unless `terminate` is false.
struct RunSpec {
  int64_t length;
  int64_t lcn;  // -1: sparse
};

inline std::vector<uint8_t> EncodeRuns(const std::vector<RunSpec>& runs, bool terminate = true) {
  std::vector<RunExtent> extents;
  int64_t vcn = 0;
  for (const RunSpec& r : runs) {
    extents.push_back({vcn, r.lcn < 0 ? kSparseLcn : r.lcn, r.length});
    vcn += r.length;
  }
  std::vector<uint8_t> out(static_cast<size_t>(EncodeRunList(extents, {}).Size));
  if (!EncodeRunList(extents, out).Fits) ADD_FAILURE() << "the test's runs are no run list";
  if (!terminate && !out.empty()) out.pop_back();
  return out;
}

inline std::vector<uint8_t> Utf16(const std::u16string& s) {
  std::vector<uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

class RecordBuilder {
 public:
  // sectors: record size in sectors; usaOffset 0x2A (NT 3.51/4.0) or 0x30.
  explicit RecordBuilder(int sectors = 2, int usaOffset = 0x30)
      : sectors_(sectors), usaOffset_(usaOffset), bytes_(static_cast<size_t>(sectors) * 512, 0) {
    for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<uint8_t>("FILE"[i]);
    Put(bytes_, 4, static_cast<uint64_t>(usaOffset), 2);
    Put(bytes_, 6, static_cast<uint64_t>(sectors + 1), 2);
    Put(bytes_, 0x12, 1, 2);  // link count
    Put(bytes_, 0x16, 1, 2);  // in use
    Put(bytes_, 0x1C, bytes_.size(), 4);
    pos_ = Align8(static_cast<size_t>(usaOffset) + 2 * (static_cast<size_t>(sectors) + 1));
    Put(bytes_, 0x14, pos_, 2);
  }

  // A resident attribute with an optional name and a value.
  RecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value,
                          const std::u16string& name = u"") {
    const size_t nameOff = 0x18;
    const size_t valueOff = Align8(nameOff + 2 * name.size());
    const size_t len = Align8(valueOff + value.size());
    std::vector<uint8_t> a(len, 0);
    Put(a, 0, type, 4);
    Put(a, 4, len, 4);
    a[8] = 0;
    a[9] = static_cast<uint8_t>(name.size());
    Put(a, 0x0A, name.empty() ? 0 : nameOff, 2);
    Put(a, 0x10, value.size(), 4);
    Put(a, 0x14, valueOff, 2);
    const auto n = Utf16(name);
    std::copy(n.begin(), n.end(), a.begin() + nameOff);
    std::copy(value.begin(), value.end(), a.begin() + valueOff);
    return Append(a);
  }

  // A non-resident attribute; the run list follows the header and name.
  RecordBuilder& NonResident(uint32_t type, const std::vector<uint8_t>& runList,
                             const std::u16string& name = u"", uint16_t flags = 0,
                             int64_t dataSize = 0, int64_t initSize = 0, int64_t allocSize = 0,
                             int64_t lowestVcn = 0, int64_t highestVcn = 0) {
    const size_t header = (flags & 0xFF) != 0 ? 0x48 : 0x40;
    const size_t runOff = Align8(header + 2 * name.size());
    const size_t len = Align8(runOff + runList.size());
    std::vector<uint8_t> a(len, 0);
    Put(a, 0, type, 4);
    Put(a, 4, len, 4);
    a[8] = 1;
    a[9] = static_cast<uint8_t>(name.size());
    Put(a, 0x0A, name.empty() ? 0 : header, 2);
    Put(a, 0x0C, flags, 2);
    Put(a, 0x10, static_cast<uint64_t>(lowestVcn), 8);
    Put(a, 0x18, static_cast<uint64_t>(highestVcn), 8);
    Put(a, 0x20, runOff, 2);
    Put(a, 0x28, static_cast<uint64_t>(allocSize), 8);
    Put(a, 0x30, static_cast<uint64_t>(dataSize), 8);
    Put(a, 0x38, static_cast<uint64_t>(initSize), 8);
    const auto n = Utf16(name);
    std::copy(n.begin(), n.end(), a.begin() + header);
    std::copy(runList.begin(), runList.end(), a.begin() + runOff);
    return Append(a);
  }

  RecordBuilder& StandardInformation(uint8_t dosAttributes) {
    std::vector<uint8_t> v(0x48, 0);
    v[0x20] = dosAttributes;
    return Resident(0x10, v);
  }

  RecordBuilder& FileName(const std::u16string& name) {
    std::vector<uint8_t> v(0x42, 0);
    v[0x40] = static_cast<uint8_t>(name.size());
    v[0x41] = 1;  // Win32 namespace
    const auto n = Utf16(name);
    v.insert(v.end(), n.begin(), n.end());
    return Resident(0x30, v);
  }

  RecordBuilder& IndexRoot(const std::u16string& name, uint32_t blockSize) {
    std::vector<uint8_t> v(0x30, 0);
    Put(v, 0, 0x30, 4);  // indexed attribute type
    Put(v, 8, blockSize, 4);
    return Resident(0x90, v, name);
  }

  // Raw attribute bytes, taken as they are.
  RecordBuilder& Append(const std::vector<uint8_t>& a) {
    if (bytes_.size() < pos_ + a.size() + 8) bytes_.resize(pos_ + a.size() + 8);
    std::copy(a.begin(), a.end(), bytes_.begin() + pos_);
    attributeStarts_.push_back(pos_);
    pos_ += a.size();
    return *this;
  }

  size_t AttributeOffset(size_t i) const { return attributeStarts_.at(i); }

  // The record with its end marker and bytes in use; the sector ends
  // protected with `usn` unless `protect` is false.
  std::vector<uint8_t> Bytes(uint16_t usn = 0x0102, bool protect = true) const {
    std::vector<uint8_t> b = bytes_;
    Put(b, pos_, 0xFFFFFFFFu, 4);
    Put(b, 0x18, pos_ + 8, 4);
    b.resize(static_cast<size_t>(sectors_) * 512);
    if (protect) {
      Put(b, static_cast<size_t>(usaOffset_), usn, 2);
      for (int k = 0; k < sectors_; ++k) {
        const size_t end = static_cast<size_t>(k) * 512 + 510;
        b[static_cast<size_t>(usaOffset_) + 2 + 2 * k] = b[end];
        b[static_cast<size_t>(usaOffset_) + 3 + 2 * k] = b[end + 1];
        Put(b, end, usn, 2);
      }
    }
    return b;
  }

  ByteArray Array(uint16_t usn = 0x0102, bool protect = true) const {
    const auto b = Bytes(usn, protect);
    ByteArray a(static_cast<int64_t>(b.size()) - 1);
    std::copy(b.begin(), b.end(), a.data());
    return a;
  }

 private:
  int sectors_;
  int usaOffset_;
  std::vector<uint8_t> bytes_;
  size_t pos_;
  std::vector<size_t> attributeStarts_;
};

}  // namespace vr::test
