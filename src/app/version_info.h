// The program's own version information and the texts of the About box.
#pragma once

#include <string>

namespace vr {

inline constexpr const char* kProductName = "VoduRU";
inline constexpr const char* kProductVersion = "0.1.0";
inline constexpr const char* kFileDescription = "Disk optimiser for NTFS and FAT volumes";
inline constexpr const char* kLegalCopyright = "Copyright (C) 2026 the VoduRU project";
inline constexpr const char* kComments =
    "Maps, defragments and packs NTFS and FAT12/FAT16 volumes.";
inline constexpr const char* kMakerName = "VoduRU project";

struct AboutTexts {
  std::string app;    // title part, then "#" and the first line's addition
  std::string other;  // legal notice, CR LF, comments
};
// product & " " & description & "  -  Windows " & version & "#".
AboutTexts About_Texts(const std::string& windowsVersion);

}  // namespace vr
