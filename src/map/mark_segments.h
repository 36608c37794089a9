// Painting one NTFS file's segments by category, and marking them in the
// computed bitmap that the bitmap check compares with the volume's own.
#pragma once

#include <cstdint>

#include "ntfs/record_info.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"

namespace vr {

// The category colour of a file: Fixed when unmovable, else File for a
// folder, Sys for the DOS system attribute, Cmprs when compressed, BigFile
// above BigFileClusters, else File.
int Segment_Color(const RecordInfo& Info, bool Unmovable);

// Paints and marks the segments of one record (1-based lists trimmed to 0 ..
// count; nothing when there are none). A file in one fragment is painted as
// one run in its category colour; the segments of a fragmented file are
// painted Frag, unless the file is unmovable. In SharedMode the computed
// bitmap serves the cross-link test only, and only when it is sized. Returns the first cluster that
// was marked already (a cross-link), kClaimOutside for a run beyond the computed bitmap, else
// kClaimFree (volume/cluster_claims.h); the painting happens either way.
int64_t Mark_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                      const RecordInfo& Info, bool Unmovable);

}  // namespace vr
