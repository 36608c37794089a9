// The error state every reader and writer of the disk reports through. It is
// reset at the start of each volume command; the first fault of a record wins
// where the procedures say so.
#pragma once

#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"

namespace vr {

struct ErrorStateData {
  std::string ErrorText;   // shown after "Err="
  std::string ErrorWhere;  // shown after "Source="
  Integer ErrorCount;      // number of errors recorded
  // -1: the run decoder met a compression unit that is not aligned; the
  // record decoder turns it into its error (or drops it) and clears it.
  Integer AlignmentMark;
  Integer Failed;  // -1 stops the current scan or pass
  Integer RecordFault;
  Integer ReadFault;
  Integer InternalFault;
  Integer OutOfMemory;
};

extern ErrorStateData ErrorState;

void ResetErrorState();

// Some error is counted (the alignment mark is no error yet).
inline bool AnyErrorCounted() { return ErrorState.ErrorCount != 0; }

// Each sets Failed = -1 and adds 1 to ErrorCount (16-bit, checked).
void Read_Error();                                      // "Error reading drive", ReadFault
void Set_Error(const std::string& Text);                // overwrites ErrorText, RecordFault
void Rec_Error(const std::string& Text, Bytes Buffer);  // first text wins, RecordFault
// 0: print "Err=" / "Source=" lines; 7: OutOfMemory only; other: InternalFault
// and the same two lines.
void Show_Errors(int ErrNumber);

// Records a trapped run-time error the classic way: its description becomes
// ErrorText (when none is recorded yet), the procedure name ErrorWhere, the
// count goes up and Failed is set. Used at procedure boundaries.
void Trap_Error(const std::string& Where, int Number, const std::string& Description);

}  // namespace vr
