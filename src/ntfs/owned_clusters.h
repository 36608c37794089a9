// Every cluster a file owns, marked in the computed bitmap with the
// cross-link test, and painted: the segments the record decoder collects
// (the unnamed data or a folder's $I30 index allocation, a non-resident
// security descriptor) and every other non-resident attribute of the file,
// in its base record and in the extension records its attribute list names
// (named streams such as $Secure:$SDS or $UsnJrnl:$J, the other indexes
// $SDH, $SII, $O, $R, $Q, folder bitmaps, the attribute list itself,
// $BadClus:$Bad).
#pragma once

#include <string>

#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Mark_Segments for segments of record Record; a cluster another owner
// claimed before is the fatal error "Crosslinked " & Record & " " & name,
// a run beyond the computed bitmap "Bitmap " & Record & " " & name. False
// after such an error.
bool Claim_Segments(Long Record, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                    const RecordInfo& Info, bool Unmovable);

// The non-resident attributes of record Record (Buffer: its fixed-up base
// record as Decode_FILE left it) that the decoder did not collect, claimed
// and painted like the file's own segments (Fixed when Unmovable). Errors
// are recorded
// (run-list damage, unreadable extension records, cross-links); false after
// one.
bool Mark_Attributes(Long Record, const ByteArray& Buffer, const RecordInfo& Info, bool Unmovable);

}  // namespace vr
