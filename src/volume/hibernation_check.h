// Whether Windows hibernated onto an NTFS volume: the root folder holds a
// hiberfil.sys whose header says so. The rule is libntfs-3g's, which refuses
// to write such a volume: the file's first four bytes are "hibr" or "HIBR",
// or the file is shorter than its 4096-byte header. A zeroed header (or
// "wake", written once the system resumed) is not hibernated, and neither is
// a volume without the file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vr {

// How the check reads the volume: whole sectors at a byte offset, false
// when the read fails.
using ReadVolumeBytes = std::function<bool(int64_t offset, std::vector<uint8_t>& buffer)>;

struct NtfsGeometry {
  int64_t clusterBytes = 0;
  int64_t recordBytes = 0;
  int64_t mftLcn = 0;
};

// "" when the volume is not hibernated, else the reason (a phrase that
// follows "The volume is not clean: "). Structures it cannot read make the
// volume unclean too; damaged fields raise run-time errors.
std::string HibernationReason(const NtfsGeometry& geometry, const ReadVolumeBytes& read);

}  // namespace vr
