// The NTFS driver's view of its device: every transfer passes through
// unchanged, and the flushes that succeeded are counted, so the driver can
// tell whether a record it wrote has reached the disk since (a flush came
// after it) without sending another flush.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/block_device.h"

namespace platform {

class FlushCountingDevice : public ForwardingDevice {
 public:
  explicit FlushCountingDevice(std::shared_ptr<BlockDevice> inner)
      : ForwardingDevice(std::move(inner)) {}
  bool Flush() override {
    if (!inner_->Flush()) return false;
    ++flushes_;
    return true;
  }
  // Successful flushes so far. Whatever was written before Flushes() was
  // `mark` is on the disk once Flushes() exceeds `mark`.
  uint64_t Flushes() const { return flushes_; }

 private:
  uint64_t flushes_ = 0;
};

}  // namespace platform
