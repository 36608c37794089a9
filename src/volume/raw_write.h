// The one raw-write path of the program: every byte written to a volume
// by the engines passes through Raw_Write.
#pragma once

#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

// One write of whole sectors at Sector on VolumeHandle. Refused (nothing
// written, false, WhyNot() says why) unless the volume is held exclusively
// and locked on a writable handle and has passed the clean-volume check.
// A failed seek, a partial sector or a short write is a failure; with
// read-back verification on, the sectors are read again and compared.
// The error state is the caller's to set.
bool Raw_Write(Long Sector, Bytes Data);

// Reads every written sector back and compares it (tests turn it on).
void SetWriteVerify(bool on);

// Why the last Raw_Write was refused or failed; empty after a success.
const std::string& LastWriteRefusal();

// Whether the last Raw_Write was refused by the clean-volume check; its one
// line is then LastWriteRefusal().
bool LastWriteFoundUnclean();

}  // namespace vr
