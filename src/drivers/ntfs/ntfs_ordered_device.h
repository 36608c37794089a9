// The NTFS driver's view of its device. Every transfer passes through,
// except the writes of file records made while `Hold` is on: those wait in
// memory (reads see them) until the next flush, which first makes every
// earlier write durable and only then writes them. A run of moves thus
// needs one flush for the copied data of all of them instead of one each,
// and a record never reaches the disk before the data it points at.
//
// Successful flushes are counted, so the driver can tell whether a record
// it wrote has reached the disk since (a flush came after it).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/block_device.h"

namespace platform {

class NtfsOrderedDevice : public ForwardingDevice {
 public:
  explicit NtfsOrderedDevice(std::shared_ptr<BlockDevice> inner)
      : ForwardingDevice(std::move(inner)) {}

  bool Read(uint64_t offset, void* buffer, size_t size) override;
  bool Write(uint64_t offset, const void* buffer, size_t size) override;
  // Flushes what came before the held writes, writes them, flushes again.
  // When a held write fails the rest are dropped and Lost() turns true.
  bool Flush() override;

  // While on, writes are held back until the next flush.
  void Hold(bool on) { holding_ = on; }
  size_t Held() const { return held_.size(); }
  // Forgets the held writes from the `keep`th on (a move that failed half
  // way) or all of them (the volume changed behind the driver).
  void DropHeld(size_t keep = 0);
  // Whether held writes were lost in a failed flush since the last call:
  // records the driver reported as moved may not be on the disk.
  bool TakeLost();
  // Successful flushes so far. Whatever was written before Flushes() was
  // `mark` is on the disk once Flushes() exceeds `mark`.
  uint64_t Flushes() const { return flushes_; }

 private:
  struct HeldWrite {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  bool Overlaps(uint64_t offset, size_t size) const;
  bool WriteHeld();

  std::vector<HeldWrite> held_;
  bool holding_ = false;
  bool lost_ = false;
  uint64_t flushes_ = 0;
};

}  // namespace platform
