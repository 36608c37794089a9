#include "drivers/ntfs/ntfs_ordered_device.h"

#include <algorithm>
#include <cstring>

namespace platform {

bool NtfsOrderedDevice::Read(uint64_t offset, void* buffer, size_t size) {
  if (!inner_->Read(offset, buffer, size)) return false;
  // Later writes lie over earlier ones.
  auto* out = static_cast<uint8_t*>(buffer);
  for (const HeldWrite& w : held_) {
    const uint64_t start = std::max(offset, w.offset);
    const uint64_t end = std::min(offset + size, w.offset + w.bytes.size());
    if (start < end)
      std::memcpy(out + (start - offset), w.bytes.data() + (start - w.offset), end - start);
  }
  return true;
}

bool NtfsOrderedDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (holding_) {
    if (ReadOnly()) return false;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    held_.push_back({offset, std::vector<uint8_t>(bytes, bytes + size)});
    return true;
  }
  // A held write must not land after a later one over the same bytes.
  if (Overlaps(offset, size) && !Flush()) return false;
  return inner_->Write(offset, buffer, size);
}

bool NtfsOrderedDevice::Overlaps(uint64_t offset, size_t size) const {
  return std::any_of(held_.begin(), held_.end(), [&](const HeldWrite& w) {
    return w.offset < offset + size && offset < w.offset + w.bytes.size();
  });
}

bool NtfsOrderedDevice::WriteHeld() {
  if (held_.empty()) return true;
  // The data the held records point at reaches the disk first.
  bool ok = inner_->Flush();
  for (const HeldWrite& w : held_)
    ok = ok && inner_->Write(w.offset, w.bytes.data(), w.bytes.size());
  if (!ok) lost_ = true;
  held_.clear();
  return ok;
}

bool NtfsOrderedDevice::Flush() {
  if (!WriteHeld() || !inner_->Flush()) return false;
  ++flushes_;
  return true;
}

void NtfsOrderedDevice::DropHeld(size_t keep) {
  if (keep < held_.size()) held_.resize(keep);
}

bool NtfsOrderedDevice::TakeLost() {
  const bool lost = lost_;
  lost_ = false;
  return lost;
}

}  // namespace platform
