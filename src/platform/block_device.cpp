// Block devices: image files and block devices through pread/pwrite, memory
// images, fault injection and a write log.
#include "platform/block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// True when [offset, offset + size) lies inside a device of `total` bytes.
bool InRange(uint64_t offset, size_t size, uint64_t total) {
  return offset <= total && size <= total - offset;
}

class FileDevice : public BlockDevice {
 public:
  FileDevice(int fd, uint64_t size, bool readOnly) : fd_(fd), size_(size), readOnly_(readOnly) {}
  ~FileDevice() override { ::close(fd_); }

  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (!InRange(offset, size, size_)) return false;
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // an error, or the end of the file before the last byte
      p += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    if (readOnly_ || !InRange(offset, size, size_)) return false;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  bool Flush() override { return readOnly_ || ::fdatasync(fd_) == 0; }
  uint64_t Size() const override { return size_; }
  bool ReadOnly() const override { return readOnly_; }

 private:
  int fd_;
  uint64_t size_;
  bool readOnly_;
};

}  // namespace

std::shared_ptr<BlockDevice> OpenFileDevice(const std::string& path, bool writable, int& error) {
  error = 0;
  const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  uint64_t size = 0;
  if (S_ISBLK(st.st_mode)) {
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) {
      error = errno;
      ::close(fd);
      return nullptr;
    }
  } else if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
  } else {
    error = ENODEV;
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<FileDevice>(fd, size, !writable);
}

MemoryDevice::MemoryDevice(std::vector<uint8_t> bytes, bool readOnly)
    : bytes_(std::move(bytes)), readOnly_(readOnly) {}

bool MemoryDevice::Read(uint64_t offset, void* buffer, size_t size) {
  if (!InRange(offset, size, bytes_.size())) return false;
  if (size > 0) std::memcpy(buffer, bytes_.data() + offset, size);
  return true;
}

bool MemoryDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  if (readOnly_ || !InRange(offset, size, bytes_.size())) return false;
  if (size > 0) std::memcpy(bytes_.data() + offset, buffer, size);
  return true;
}

FaultDevice::FaultDevice(std::shared_ptr<BlockDevice> inner, uint64_t failRead, uint64_t failWrite,
                         bool sticky)
    : ForwardingDevice(std::move(inner)),
      failRead_(failRead),
      failWrite_(failWrite),
      sticky_(sticky) {}

bool FaultDevice::Read(uint64_t offset, void* buffer, size_t size) {
  ++reads_;
  if (tripped_ || (failRead_ != 0 && reads_ == failRead_)) {
    tripped_ = sticky_;
    return false;
  }
  return inner_->Read(offset, buffer, size);
}

bool FaultDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  ++writes_;
  if (tripped_ || (failWrite_ != 0 && writes_ == failWrite_)) {
    tripped_ = sticky_;
    return false;
  }
  return inner_->Write(offset, buffer, size);
}

PartitionDevice::PartitionDevice(std::shared_ptr<BlockDevice> disk, uint64_t start, uint64_t length)
    : disk_(std::move(disk)), start_(start), length_(length) {
  // A partition that does not lie wholly on its disk is cut to the disk.
  const uint64_t total = disk_->Size();
  if (start_ > total) start_ = total;
  if (length_ > total - start_) length_ = total - start_;
}

bool PartitionDevice::Read(uint64_t offset, void* buffer, size_t size) {
  return InRange(offset, size, length_) && disk_->Read(start_ + offset, buffer, size);
}

bool PartitionDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  return InRange(offset, size, length_) && disk_->Write(start_ + offset, buffer, size);
}

WriteLogDevice::WriteLogDevice(std::shared_ptr<BlockDevice> inner)
    : ForwardingDevice(std::move(inner)) {}

bool WriteLogDevice::Write(uint64_t offset, const void* buffer, size_t size) {
  // Only writes that reached the device are logged: a replay rebuilds what
  // the volume really holds.
  if (!inner_->Write(offset, buffer, size)) return false;
  const auto* p = static_cast<const uint8_t*>(buffer);
  log_.push_back(Entry{offset, std::vector<uint8_t>(p, p + size)});
  return true;
}

void WriteLogDevice::Replay(std::vector<uint8_t>& image, size_t count) const {
  count = std::min(count, log_.size());
  for (size_t i = 0; i < count; ++i) {
    const Entry& e = log_[i];
    if (!InRange(e.offset, e.bytes.size(), image.size()))
      image.resize(static_cast<size_t>(e.offset) + e.bytes.size());
    std::copy(e.bytes.begin(), e.bytes.end(), image.begin() + static_cast<ptrdiff_t>(e.offset));
  }
}

}  // namespace platform
