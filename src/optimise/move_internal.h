// Helpers the move engine's files share: the file's own map colour, the
// move request, the answers that mean "this file cannot be moved", ages in
// Timer seconds across midnight.
#pragma once

#include <string>

#include "platform/nt.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Seconds from Since (a Timer() value) to Now, corrected at midnight.
double AgeOf(double Since, double Now);

// The colour record R is drawn in when it stays where it is: "Frag" when
// fragmented, else "Cmprs" when compressed, else "File".
Integer FileColour(Long R);

// The lowest cluster of a segment list (0 when it has none).
Long LowestLcn(const VbArray<Long>& Lcns);

// One FSCTL_MOVE_FILE on the volume handle: Count clusters of the file from
// Vcn to Lcn, waited for when pending.
nt::NTSTATUS SendMove(Long FileHandle, Long Vcn, Long Lcn, Long Count);

// The file system refuses this file, not the volume: the file is left where
// it is and the run goes on.
bool FileRefused(nt::NTSTATUS Status);

// Record R will not be moved in this run: DoNotMove, and listed with the
// unmovable files when fragmented (which takes it out of FragmentedFiles).
void CannotMove(Long R, RecordInfo& Info);

// Marks clusters Start .. Start + N - 1 used in VolumeBitmap, clipped to
// the bitmap.
void MarkTarget(Long Start, Long N);

}  // namespace vr
