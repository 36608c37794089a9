#include "support/damaged_images.h"

#include <algorithm>
#include <stdexcept>

namespace testsupport::damage {

namespace {

uint64_t Le(const std::vector<uint8_t>& b, size_t at, int width) {
  if (at + width > b.size()) throw std::out_of_range("field past the buffer");
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

void PutLe(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  if (at + width > b.size()) throw std::out_of_range("field past the buffer");
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int64_t SignedLe(const std::vector<uint8_t>& b, size_t at, int width) {
  uint64_t v = Le(b, at, width);
  if (width < 8 && (v >> (8 * width - 1)) != 0) v |= ~uint64_t{0} << (8 * width);
  return static_cast<int64_t>(v);
}

// Restores the sector ends of a record from its update sequence array.
void Unprotect(std::vector<uint8_t>& r) {
  const size_t usa = Le(r, 4, 2), count = Le(r, 6, 2);
  for (size_t k = 1; k < count && k * 512 <= r.size(); ++k) {
    r[k * 512 - 2] = r[usa + 2 * k];
    r[k * 512 - 1] = r[usa + 2 * k + 1];
  }
}

void Protect(std::vector<uint8_t>& r) {
  const size_t usa = Le(r, 4, 2), count = Le(r, 6, 2);
  for (size_t k = 1; k < count && k * 512 <= r.size(); ++k) {
    r[usa + 2 * k] = r[k * 512 - 2];
    r[usa + 2 * k + 1] = r[k * 512 - 1];
    r[k * 512 - 2] = r[usa];
    r[k * 512 - 1] = r[usa + 1];
  }
}

// Offset of the first attribute of `type` in a fixed-up record; -1.
int64_t FindIn(const std::vector<uint8_t>& b, int type, const std::string& name) {
  size_t pos = Le(b, 0x14, 2);
  const size_t used = std::min<size_t>(Le(b, 0x18, 4), b.size());
  while (pos + 16 <= used) {
    const uint32_t t = static_cast<uint32_t>(Le(b, pos, 4));
    const size_t len = Le(b, pos + 4, 4);
    if (t == 0xFFFFFFFFu || len < 0x18 || pos + len > used) break;
    if (static_cast<int>(t) == type) {
      const size_t n = b[pos + 9];
      std::string have;
      for (size_t i = 0; i < n; ++i)
        have.push_back(static_cast<char>(Le(b, pos + Le(b, pos + 0x0A, 2) + 2 * i, 2)));
      if (name == "*" ? n != 0 : have == name) return static_cast<int64_t>(pos);
    }
    pos += len;
  }
  return -1;
}

}  // namespace

std::vector<std::pair<int64_t, int64_t>> DecodeRuns(const std::vector<uint8_t>& b, size_t at,
                                                    size_t end) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  int64_t lcn = 0;
  while (at < end && b[at] != 0) {
    const int l = b[at] & 15, f = b[at] >> 4;
    if (l == 0 || l > 8 || f > 8 || at + 1 + l + f > end) break;
    const int64_t length = static_cast<int64_t>(Le(b, at + 1, l));
    if (f != 0) {
      lcn += SignedLe(b, at + 1 + l, f);
      runs.emplace_back(lcn, length);
    }
    at += 1 + l + f;
  }
  return runs;
}

Mft::Mft(std::vector<uint8_t>& image) : image_(image) {
  if (image.size() < 4096) return;
  clusterBytes_ = int64_t{image[0x0D]} * Le(image, 0x0B, 2);
  const int8_t rec = static_cast<int8_t>(image[0x40]);
  recordBytes_ = rec < 0 ? int64_t{1} << -rec : rec * clusterBytes_;
  const int64_t mft = static_cast<int64_t>(Le(image, 0x30, 8)) * clusterBytes_;
  if (clusterBytes_ <= 0 || recordBytes_ < 1024 || mft + recordBytes_ > int64_t(image.size()))
    return;
  std::vector<uint8_t> zero(image.begin() + mft, image.begin() + mft + recordBytes_);
  Unprotect(zero);
  const int64_t data = FindIn(zero, 0x80, "");
  const int64_t bitmap = FindIn(zero, 0xB0, "");
  if (data < 0 || bitmap < 0 || zero[data + 8] == 0 || zero[bitmap + 8] == 0) return;
  mftRuns_ = DecodeRuns(zero, data + Le(zero, data + 0x20, 2), data + Le(zero, data + 4, 4));
  bitmapRuns_ =
      DecodeRuns(zero, bitmap + Le(zero, bitmap + 0x20, 2), bitmap + Le(zero, bitmap + 4, 4));
  records_ = static_cast<int64_t>(Le(zero, data + 0x30, 8)) / recordBytes_;
}

int64_t Mft::Offset(int64_t r) const {
  int64_t rel = r * recordBytes_;
  for (const auto& [lcn, clusters] : mftRuns_) {
    if (rel < clusters * clusterBytes_) return lcn * clusterBytes_ + rel;
    rel -= clusters * clusterBytes_;
  }
  return -1;
}

std::vector<uint8_t>& Mft::Record(int64_t r) {
  auto it = taken_.find(r);
  if (it != taken_.end()) return it->second;
  const int64_t at = Offset(r);
  if (at < 0 || at + recordBytes_ > int64_t(image_.size())) throw std::out_of_range("record");
  std::vector<uint8_t> b(image_.begin() + at, image_.begin() + at + recordBytes_);
  if (Le(b, 0, 4) == 0x454C4946u) Unprotect(b);
  return taken_[r] = std::move(b);
}

bool Mft::InUse(int64_t r) const {
  int64_t byte = r / 8;
  for (const auto& [lcn, clusters] : bitmapRuns_) {
    if (byte < clusters * clusterBytes_)
      return (image_.at(lcn * clusterBytes_ + byte) >> (r % 8)) & 1;
    byte -= clusters * clusterBytes_;
  }
  return false;
}

void Mft::SetInUse(int64_t r) {
  int64_t byte = r / 8;
  for (const auto& [lcn, clusters] : bitmapRuns_) {
    if (byte < clusters * clusterBytes_) {
      image_.at(lcn * clusterBytes_ + byte) |= static_cast<uint8_t>(1u << (r % 8));
      return;
    }
    byte -= clusters * clusterBytes_;
  }
}

bool Mft::IsBase(int64_t r) {
  if (!InUse(r)) return false;
  const std::vector<uint8_t>& b = Record(r);
  return Le(b, 0, 4) == 0x454C4946u && (Le(b, 0x16, 2) & 1) != 0 &&
         (Le(b, 0x20, 8) & 0xFFFFFFFFFFFFull) == 0 && b.at(Le(b, 0x14, 2)) == 0x10;
}

bool Mft::IsFolder(int64_t r) { return (Le(Record(r), 0x16, 2) & 2) != 0; }

std::string Mft::Name(int64_t r) {
  const std::vector<uint8_t>& b = Record(r);
  const int64_t a = FindIn(b, 0x30, "");
  if (a < 0) return "";
  const size_t value = a + Le(b, a + 0x14, 2);
  std::string name;
  for (size_t i = 0; i < b.at(value + 0x40); ++i)
    name.push_back(static_cast<char>(Le(b, value + 0x42 + 2 * i, 2) & 0xFF));
  return name;
}

int64_t Mft::Parent(int64_t r) {
  const std::vector<uint8_t>& b = Record(r);
  const int64_t a = FindIn(b, 0x30, "");
  if (a < 0) return -1;
  return static_cast<int64_t>(Le(b, a + Le(b, a + 0x14, 2), 8) & 0xFFFFFFFFFFFFull);
}

int64_t Mft::Attribute(int64_t r, int type, const std::string& name) {
  return FindIn(Record(r), type, name);
}

int64_t Mft::FindUserFile() {
  for (int64_t r = 24; r < records_; ++r) {
    if (!IsBase(r) || IsFolder(r) || Parent(r) != 5) continue;
    const std::string name = Name(r);
    if (!name.empty() && name[0] != '$' && Attribute(r, 0x20) < 0) return r;
  }
  return -1;
}

void Mft::PokeHeader(int64_t r, int offset, uint32_t value) {
  Store();  // records taken so far first, so that none overwrites the field
  const int64_t at = Offset(r);
  PutLe(image_, static_cast<size_t>(at + offset), value, offset < 0x18 ? 2 : 4);
}

void Mft::SetNameUnit(int64_t r, int i, uint16_t unit) {
  std::vector<uint8_t>& b = Record(r);
  const int64_t a = FindIn(b, 0x30, "");
  if (a < 0) return;
  PutLe(b, a + Le(b, a + 0x14, 2) + 0x42 + 2 * i, unit, 2);
}

int64_t Mft::BreakAttributeName() {
  for (int64_t r = 24; r < records_; ++r) {
    if (!IsBase(r) || Parent(r) != 5 || Name(r).empty() || Name(r)[0] == '$') continue;
    std::vector<uint8_t>& b = Record(r);
    const size_t used = std::min<size_t>(Le(b, 0x18, 4), b.size());
    for (size_t pos = Le(b, 0x14, 2); pos + 16 <= used;) {
      const size_t len = Le(b, pos + 4, 4);
      if (b[pos] == 0xFF || len < 0x18) break;
      if (b[pos + 9] != 0) {
        PutLe(b, pos + 0x0A, 0xFFF0, 2);
        return r;
      }
      pos += len;
    }
  }
  return -1;
}

void Mft::Store() {
  for (auto& [r, b] : taken_) {
    std::vector<uint8_t> out = b;
    if (Le(out, 0, 4) == 0x454C4946u) Protect(out);
    std::copy(out.begin(), out.end(), image_.begin() + Offset(r));
  }
  taken_.clear();
}

CrossLink LinkTwoFiles(Mft& mft) {
  struct One {
    int64_t record;
    size_t runs, space;
    int64_t clusters;
  };
  std::vector<One> ones;
  for (int64_t r = 24; r < mft.Records(); ++r) {
    if (!mft.IsBase(r) || mft.IsFolder(r) || mft.Attribute(r, 0x20) >= 0) continue;
    const std::string name = mft.Name(r);
    if (name.empty() || name[0] == '$') continue;
    const int64_t a = mft.Attribute(r, 0x80);
    const std::vector<uint8_t>& b = mft.Record(r);
    if (a < 0 || b[a + 8] == 0 || Le(b, a + 0x0C, 2) != 0 || Le(b, a + 0x10, 8) != 0) continue;
    const size_t runs = a + Le(b, a + 0x20, 2), end = a + Le(b, a + 4, 4);
    const auto decoded = DecodeRuns(b, runs, end);
    const size_t first = 1 + (b[runs] & 15) + (b[runs] >> 4);
    if (decoded.size() != 1 || runs + first >= end || b[runs + first] != 0) continue;
    ones.push_back({r, runs, end - runs, decoded[0].second});
  }
  for (const One& victim : ones) {
    for (const One& owner : ones) {
      if (owner.record == victim.record || owner.clusters != victim.clusters) continue;
      const std::vector<uint8_t> from = mft.Record(owner.record);
      const size_t length = 2 + (from[owner.runs] & 15) + (from[owner.runs] >> 4);
      if (length > victim.space) continue;
      std::vector<uint8_t>& to = mft.Record(victim.record);
      std::fill(to.begin() + victim.runs, to.begin() + victim.runs + victim.space, 0);
      std::copy(from.begin() + owner.runs, from.begin() + owner.runs + length,
                to.begin() + victim.runs);
      return {victim.record, mft.Name(victim.record), owner.record, mft.Name(owner.record)};
    }
  }
  return {};
}

int64_t OrphanCopy(Mft& mft, std::string& name) {
  int64_t source = -1;
  for (int64_t r = 24; r < mft.Records() && source < 0; ++r) {
    if (!mft.IsBase(r) || mft.IsFolder(r) || mft.Parent(r) != 5) continue;
    const std::string n = mft.Name(r);
    if (n.empty() || n[0] == '$') continue;
    const std::vector<uint8_t>& b = mft.Record(r);
    bool resident = true;
    const size_t used = std::min<size_t>(Le(b, 0x18, 4), b.size());
    for (size_t pos = Le(b, 0x14, 2); pos + 16 <= used;) {
      const size_t len = Le(b, pos + 4, 4);
      if (b[pos] == 0xFF || len < 0x18) break;
      resident = resident && b[pos + 8] == 0;
      pos += len;
    }
    if (resident) source = r;
  }
  if (source < 0) return -1;
  for (int64_t r = mft.Records() - 1; r >= 24; --r) {
    if (mft.InUse(r) || mft.Offset(r) < 0) continue;
    std::vector<uint8_t> copy = mft.Record(source);
    PutLe(copy, 0x2C, static_cast<uint64_t>(r), 4);
    mft.Record(r) = copy;
    mft.SetInUse(r);
    name = mft.Name(source);
    return r;
  }
  return -1;
}

}  // namespace testsupport::damage
