// Attribute lists: the $ATTRIBUTE_LIST of a file whose attributes live in
// other FILE records (extension records), and the attributes gathered from
// them.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// Paints the clusters of a non-resident attribute list while the block map
// is drawn; empty when no map is being drawn.
extern std::function<void(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns)> Paint_20h_Hook;

// The $ATTRIBUTE_LIST at AttributeOffset of base record RecordNumber (held
// in Buffer, fixed up): gathers the file's segments from every extent the
// list names, in VCN order, takes the first $FILE_NAME wherever it lives,
// and marks every other record the list names as seen.
void Do_20h(Long RecordNumber, ByteArray& Buffer, Long AttributeOffset, VbArray<Long>& Lengths,
            VbArray<Long>& Lcns, RecordInfo& Info, Integer& Count);

// One attribute of Type held in record RecordRef, an extension of
// BaseRecord: its runs appended to Lengths/Lcns after Count. EntriesDone
// counts the collected entries already handled (0: the first, which gives
// Size and the compressed flag). Returns the compressed flag.
Integer Do_x0h(Integer Type, Integer EntriesDone, Long RecordRef, VbArray<Long>& Lengths,
               VbArray<Long>& Lcns, Long& Size, Integer& Count, Long& Clusters,
               Integer& IsDirectory, Long BaseRecord);

// The largest attribute list NTFS keeps (256 KB).
constexpr int64_t kMaxAttributeListBytes = 0x40000;

// The content of the non-resident attribute at AttributeOffset of Buffer:
// its runs decoded into Lengths/Lcns and its clusters read into Data.
void Load_20h_Data(Bytes Buffer, Long AttributeOffset, ByteArray& Data, VbArray<Long>& Lengths,
                   VbArray<Long>& Lcns);

}  // namespace vr
