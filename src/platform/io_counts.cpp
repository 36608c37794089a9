#include "platform/io_counts.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace platform {

namespace {

std::map<char, IoCounts>& Counts() {
  static std::map<char, IoCounts> counts;
  return counts;
}

void WriteCountsFile() {
  const char* file = std::getenv("VODURU_IO_COUNTS");
  if (file == nullptr || *file == '\0') return;
  if (std::FILE* out = std::fopen(file, "w")) {
    for (const auto& [letter, c] : Counts())
      std::fprintf(out, "%c: reads=%llu bytes=%llu writes=%llu written=%llu\n", letter,
                   static_cast<unsigned long long>(c.reads),
                   static_cast<unsigned long long>(c.readBytes),
                   static_cast<unsigned long long>(c.writes),
                   static_cast<unsigned long long>(c.writtenBytes));
    std::fclose(out);
  }
}

class CountingDevice : public ForwardingDevice {
 public:
  CountingDevice(std::shared_ptr<BlockDevice> inner, IoCounts& counts)
      : ForwardingDevice(std::move(inner)), counts_(counts) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    ++counts_.reads;
    counts_.readBytes += size;
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    ++counts_.writes;
    counts_.writtenBytes += size;
    return inner_->Write(offset, buffer, size);
  }

 private:
  IoCounts& counts_;  // entries of a std::map stay where they are
};

}  // namespace

IoCounts TransferCounts(char letter) {
  auto it = Counts().find(letter);
  return it == Counts().end() ? IoCounts{} : it->second;
}

std::shared_ptr<BlockDevice> CountTransfers(char letter, std::shared_ptr<BlockDevice> inner) {
  static const bool registered = [] {
    Counts();  // built before the handler is registered, so it outlives it
    return std::getenv("VODURU_IO_COUNTS") != nullptr && std::atexit(WriteCountsFile) == 0;
  }();
  (void)registered;
  return std::make_shared<CountingDevice>(std::move(inner), Counts()[letter]);
}

}  // namespace platform
