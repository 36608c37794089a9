// Painting one NTFS file's segments by category. Marking them in the
// computed bitmap is the allocation layer's (Mark_Segments_Used).
#pragma once

#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// The category colour of a file: Fixed when unmovable, else File for a
// folder, Sys for the DOS system attribute, Cmprs when compressed, BigFile
// above BigFileClusters, else File.
int Segment_Color(const RecordInfo& Info, bool Unmovable);

// Paints the segments of one record (1-based lists trimmed to 0 .. count;
// nothing when there are none). A file in one fragment is painted as one run
// in its category colour; the segments of a fragmented file are painted
// Frag, unless the file is unmovable.
void Mark_Segments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, const RecordInfo& Info,
                   bool Unmovable);

}  // namespace vr
