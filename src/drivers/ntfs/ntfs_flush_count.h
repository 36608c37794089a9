// The NTFS driver's view of its device: every transfer passes through
// unchanged, and the flushes that succeeded are counted, so the driver can
// tell whether a record it wrote has reached the disk since (a flush came
// after it) without sending another flush.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/block_device.h"

namespace platform {

class FlushCountingDevice : public BlockDevice {
 public:
  explicit FlushCountingDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    return inner_->Write(offset, buffer, size);
  }
  bool Flush() override {
    if (!inner_->Flush()) return false;
    ++flushes_;
    return true;
  }
  uint64_t Size() const override { return inner_->Size(); }
  bool ReadOnly() const override { return inner_->ReadOnly(); }
  // Successful flushes so far. Whatever was written before Flushes() was
  // `mark` is on the disk once Flushes() exceeds `mark`.
  uint64_t Flushes() const { return flushes_; }

 private:
  std::shared_ptr<BlockDevice> inner_;
  uint64_t flushes_ = 0;
};

}  // namespace platform
