#include "volume/error_state.h"

#include "volume/report.h"

namespace vr {

ErrorStateData ErrorState;

void ResetErrorState() { ErrorState = ErrorStateData{}; }

namespace {
void CountError() {
  ErrorState.Failed = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
}
}  // namespace

void Read_Error() {
  ErrorState.ErrorText = "Error reading drive";
  ErrorState.ReadFault = kTrue;
  CountError();
}

void Set_Error(const std::string& Text) {
  ErrorState.ErrorText = Text;
  ErrorState.RecordFault = kTrue;
  CountError();
}

void Rec_Error(const std::string& Text, Bytes /*Buffer*/) {
  if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = Text;
  ErrorState.RecordFault = kTrue;
  CountError();
}

void Show_Errors(int ErrNumber) {
  if (ErrNumber == kErrOutOfMemory) {
    ErrorState.OutOfMemory = kTrue;
  } else {
    if (ErrNumber != 0) ErrorState.InternalFault = kTrue;
    if (!ErrorState.ErrorText.empty()) ReportError("Err=" + ErrorState.ErrorText);
    if (!ErrorState.ErrorWhere.empty()) ReportError("Source=" + ErrorState.ErrorWhere);
    // A plain read failure is the disk's fault, not the structure's.
    const bool plainReadFault = ErrorState.ReadFault != 0 && ErrorState.InternalFault == 0;
    if (ErrNumber == 0 && !plainReadFault) ErrorState.RecordFault = kTrue;
  }
  ErrorState.Failed = kTrue;
  ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
}

void Trap_Error(const std::string& Where, int /*Number*/, const std::string& Description) {
  if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = Description;
  ErrorState.ErrorWhere = Where;
  CountError();
}

}  // namespace vr
