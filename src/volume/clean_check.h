// The clean-volume check every exclusive write depends on. NTFS: the
// $Volume dirty flag clear, Windows not hibernated onto the volume
// (hiberfil.sys) and $LogFile empty or cleanly closed. FAT: the
// clean-shutdown and no-error bits of FAT entry 1 set and, on FAT16, the
// dirty bit of boot byte 0x25 clear. It reads the volume through the
// session's handle once per open, at the first write request, so that
// viewing a volume reads exactly what it read before.
#pragma once

#include <string>

namespace vr {

// Empty when the volume open on VolumeHandle is clean, else one line
// saying why it may not be written.
const std::string& VolumeNotClean();

// Where an optimisation would start writing a volume held exclusively: when
// the volume failed the check, reports its one line in the error colour,
// stops the run (Failed) and returns true. Writes nothing.
bool StopIfNotClean();

// Forgets the result of the last check (each open starts afresh).
void ForgetCleanCheck();

// Takes the volume open now as clean without reading it: for tests over
// synthetic devices that carry no file system.
void AssumeVolumeClean();

}  // namespace vr
