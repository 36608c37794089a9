// Decoding of one NTFS FILE record: update-sequence fixup, the attribute
// walk of a base record, and the facts and data segments it yields.
#pragma once

#include <functional>

#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Segments of a non-resident security descriptor (trimmed to their count),
// and of the $MFT's own $BITMAP (from record 0).
extern VbArray<Long> SecurityLengths, SecurityLcns;
extern VbArray<Long> MftBitmapLengths, MftBitmapLcns;

// Reads FILE record RecordNumber into Buffer (sized to the record). Returns
// false after recording the failure. Installed by the MFT loader, which
// knows where records lie and refuses numbers beyond the MFT.
using FileRecordReader = std::function<bool(ByteArray& Buffer, Long RecordNumber)>;

// Handles the $ATTRIBUTE_LIST at AttributeOffset of base record
// RecordNumber: appends the runs of the attributes it names (in VCN order,
// from whichever record holds them) to Lengths/Lcns after Count, sets
// Info.Clusters to their total, may set Info.Size, Info.Compressed,
// Info.IsDirectory and Info.Name (a $FILE_NAME held in an extension record),
// and marks the records it names as seen. Errors go to the error state.
// Buffer holds the base record; the handler must not resize it.
using AttributeListHandler = std::function<void(
    Long RecordNumber, ByteArray& Buffer, Long AttributeOffset, VbArray<Long>& Lengths,
    VbArray<Long>& Lcns, RecordInfo& Info, Integer& Count)>;

extern FileRecordReader Read_FILE_Hook;
extern AttributeListHandler Do_20h_Hook;

// Applies the update-sequence fixup to a FILE record of SectorsPerFileRecord
// sectors. The array is found through the header field at offset 4 (count at
// offset 6): 0x2A on NT 3.51/4.0 volumes, 0x30 on later ones. A sector end
// without the sequence number is "Fixup", except in SharedMode, where the
// file system delivers records already fixed up. Every sector is checked
// before any is changed: a torn record is left exactly as read.
bool Fixup_FILE(MutableBytes Buffer);

// Reads record RecordNumber through Read_FILE_Hook and decodes it into Info
// and the segments Lengths/Lcns (1-based, trimmed to 0 .. count). For record
// 0, element 1 is preset to 32 clusters at MftLcn while the record is read.
// Faults end in the error state; a run-time error is trapped here.
void Decode_FILE(Long VolumeHandle, Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns,
                 ByteArray& Buffer, RecordInfo& Info);

// The same decode for a record already in Buffer (not yet fixed up).
void Decode_FILE_Record(Long RecordNumber, VbArray<Long>& Lengths, VbArray<Long>& Lcns,
                        ByteArray& Buffer, RecordInfo& Info);

}  // namespace vr
