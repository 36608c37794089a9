// The block-device interface every byte of a volume passes through, and the
// wrappers that stack on a device: an in-memory image, fault injection and a
// write log that can replay any prefix of the writes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // Whole transfers only: a read or write that cannot move every byte fails
  // (returns false) and moves nothing the caller may rely on.
  virtual bool Read(uint64_t offset, void* buffer, size_t size) = 0;
  virtual bool Write(uint64_t offset, const void* buffer, size_t size) = 0;
  virtual bool Flush() = 0;
  virtual uint64_t Size() const = 0;
  virtual bool ReadOnly() const = 0;
};

// A device stacked on another: every call passes through to the inner
// device unless the wrapper overrides it.
class ForwardingDevice : public BlockDevice {
 public:
  explicit ForwardingDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    return inner_->Write(offset, buffer, size);
  }
  bool Flush() override { return inner_->Flush(); }
  uint64_t Size() const override { return inner_->Size(); }
  bool ReadOnly() const override { return inner_->ReadOnly(); }

 protected:
  const std::shared_ptr<BlockDevice> inner_;
};

// A disk image file or a block device, opened read-only or read-write.
// Returns null and sets `error` (an errno value) when it cannot be opened.
std::shared_ptr<BlockDevice> OpenFileDevice(const std::string& path, bool writable, int& error);

// A volume held in memory (fuzzing, fast tests).
class MemoryDevice : public BlockDevice {
 public:
  explicit MemoryDevice(std::vector<uint8_t> bytes, bool readOnly = false);
  bool Read(uint64_t offset, void* buffer, size_t size) override;
  bool Write(uint64_t offset, const void* buffer, size_t size) override;
  bool Flush() override { return true; }
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadOnly() const override { return readOnly_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  bool readOnly_;
};

// Fails the Nth read and/or the Nth write (1-based, 0 = never) from the time
// it is stacked; with `sticky` every transfer after the first failure fails.
class FaultDevice : public ForwardingDevice {
 public:
  FaultDevice(std::shared_ptr<BlockDevice> inner, uint64_t failRead, uint64_t failWrite,
              bool sticky = false);
  bool Read(uint64_t offset, void* buffer, size_t size) override;
  bool Write(uint64_t offset, const void* buffer, size_t size) override;
  uint64_t Reads() const { return reads_; }
  uint64_t Writes() const { return writes_; }

 private:
  uint64_t failRead_, failWrite_;
  bool sticky_;
  bool tripped_ = false;
  uint64_t reads_ = 0, writes_ = 0;
};

// One partition of a whole disk: offsets count from the partition's first
// byte, and no read or write reaches outside [start, start + length).
class PartitionDevice : public BlockDevice {
 public:
  PartitionDevice(std::shared_ptr<BlockDevice> disk, uint64_t start, uint64_t length);
  bool Read(uint64_t offset, void* buffer, size_t size) override;
  bool Write(uint64_t offset, const void* buffer, size_t size) override;
  bool Flush() override { return disk_->Flush(); }
  uint64_t Size() const override { return length_; }
  bool ReadOnly() const override { return disk_->ReadOnly(); }

 private:
  std::shared_ptr<BlockDevice> disk_;
  uint64_t start_, length_;
};

// Records every write (offset and bytes) before passing it on, so a test can
// rebuild the volume as it would be had the program stopped after write k.
class WriteLogDevice : public ForwardingDevice {
 public:
  struct Entry {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  explicit WriteLogDevice(std::shared_ptr<BlockDevice> inner);
  bool Write(uint64_t offset, const void* buffer, size_t size) override;
  const std::vector<Entry>& Log() const { return log_; }
  // Applies the first `count` logged writes to `image` (a copy of the volume
  // as it was when the log started).
  void Replay(std::vector<uint8_t>& image, size_t count) const;

 private:
  std::vector<Entry> log_;
};

}  // namespace platform
