// Pieces the NTFS scans share between their files.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Records a fatal structural error of the walk: the first text wins, the
// context is set when empty, the count goes up and the scan stops.
void Scan_Fault(const std::string& Text, const std::string& Where);

// Steps 6-11 of one newly decoded record of the walk: tally, status lines,
// busy test, data check, painting and the security descriptor. InBlock: met
// in an index block (not in an index root).
void Process_File(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                  const VbArray<Long>& Lcns, const ByteArray& Buffer, bool InBlock);

// $Extend bookkeeping of the walk: the folder itself, records met while the
// walk is inside it, and the depth of the walk below it.
void Enter_Extend(Long Record);
void Note_Extend(Long Record);
bool Inside_Extend();
void Extend_Depth(int Step);
void Clear_Extend();

// Status line 2 (folders / files) and one turn of the message queue.
void Show_Counts();

// The parent folder of the record's first $FILE_NAME held in the base record
// Buffer (fixed up), or -1.
int64_t File_Name_Parent(Bytes Buffer);

}  // namespace vr
