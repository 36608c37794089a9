// The MFT: where FILE records lie on the disk (from the $MFT's own
// segments), reading them raw or through the file system, and the two
// record bitmaps (in use, seen). Attribute lists, whose attributes live in
// other FILE records, are in attribute_list.h.
#pragma once

#include <string>

#include "ntfs/attribute_list.h"
#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Bit 8n + k of these maps is bit k of byte n (least significant first).
extern ByteArray MftBitmap;    // records in use, from the $MFT's $BITMAP
extern ByteArray SeenRecords;  // records decoded, or named by an attribute list

// Error text for a record number that lies beyond the MFT's segments.
inline const std::string kBeyondMftText = "Beyond MFT";

// Makes Decode_FILE read records with Read_FILE and follow attribute lists
// with Do_20h (the default; tests may replace the hooks).
void Install_MFT_Hooks();

// Records the MFT's segments hold (whole records only); before record 0 has
// given them, the 32 clusters at MftLcn.
Long Mft_Record_Count();

// First sector of record RecordNumber. SectorsLeft: sectors of the MFT
// segment from there on; NextRunSector: where the rest of a record split
// over two segments lies (0 when it is not split). A record beyond the
// segments gives sector 0 and no sectors left; one that would need a third
// segment is "FB > 2 $MFT".
Long FileBlock(Long RecordNumber, Long& SectorsLeft, Long& NextRunSector);

// Reads FILE record RecordNumber into Buffer (SectorsPerFileRecord x 512
// bytes): raw when the volume is held exclusively, else through
// FSCTL_GET_NTFS_FILE_RECORD. Records a failure and returns false.
bool Read_FILE(ByteArray& Buffer, Long RecordNumber);

bool Is_Active(Long RecordNumber);
void Mark_Seen(Long RecordNumber);
// A record the scan reaches must be in use: marks it seen, or, once the real
// bitmap is loaded, records "ChkActive".
void ChkActive(Long RecordNumber);

// How every scan starts: record 0 decoded into the $MFT's own segments
// (VolumeSession.MftRunLengths/MftRunLcns), then the MFT bitmap loaded and
// SeenRecords sized to it. False after a recorded error.
bool Load_Mft();

// Reads the $MFT's $BITMAP (MftBitmapLengths/Lcns) into MftBitmap and sizes
// SeenRecords to match, keeping the bits already set.
void Load_MFT_Bitmap();

}  // namespace vr
