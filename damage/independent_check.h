// What a reader other than VoduRU says of an image: fsck.fat -n for FAT,
// libntfs-3g's own view of every attribute of every record for NTFS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace damage {

// True when the independent reader finds the volume sound; `why` names
// what it found otherwise.
bool FatReaderSaysSound(const std::vector<uint8_t>& image, const std::string& scratch,
                        std::string& why);
bool NtfsReaderSaysSound(const std::vector<uint8_t>& image, std::string& why);

}  // namespace damage
