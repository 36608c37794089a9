// Changes to an NTFS image through libntfs-3g, as another system would make
// them between a Checksum and a Validate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vr::test {

// Overwrites bytes of the unnamed $DATA of `path` ("\"-separated) at `offset`.
bool NtfsOverwrite(const std::string& image, const std::string& path, int64_t offset,
                   const std::vector<uint8_t>& bytes, std::string& error);
// Deletes the file `path`.
bool NtfsDeleteFile(const std::string& image, const std::string& path, std::string& error);

}  // namespace vr::test
