// The facts decoded from one FILE record.
#pragma once

#include <string>

#include "runtime/checked.h"

namespace vr {

struct RecordInfo {
  Integer IndexBlockSize;       // $I30 index root: bytes per index block
  Integer SecurityNonResident;  // a non-resident security descriptor was decoded
  Integer Compressed;           // the unnamed $DATA carries compression flags
  Integer IsDirectory;          // an index named $I30 is present
  Integer HasAttributeList;     // $ATTRIBUTE_LIST present
  Integer DosAttributes;        // low byte of the standard information's file attributes
  std::string Name;             // first $FILE_NAME, 8-bit text
  Long Size;                    // unnamed $DATA size (low 32 bits) or index allocated size
  Long FileHandle;              // set by the retrieval-pointer reader, not by the decoder
  Long Clusters;                // allocated clusters of the decoded runs
  Long SparseClusters;          // clusters of sparse runs
  Integer ResidentData;         // the unnamed $DATA is resident and not empty
};

}  // namespace vr
