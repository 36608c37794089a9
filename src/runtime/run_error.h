// Run-time errors: C++ exceptions carrying the classic error number and its
// description. A procedure that traps errors catches RunError at its boundary
// and records it in the error state; nothing else catches them.
#pragma once

#include <stdexcept>
#include <string>

namespace vr {

enum ErrNumber : int {
  kErrReturnWithoutGosub = 3,
  kErrIllegalCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrFileNotFound = 53,
  kErrFileAlreadyOpen = 55,
  kErrDeviceIo = 57,
  kErrDiskFull = 61,
  kErrInputPastEnd = 62,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
};

// The classic description of a run-time error number ("Overflow", ...).
std::string ErrorDescription(int number);

class RunError : public std::runtime_error {
 public:
  explicit RunError(int number);
  RunError(int number, const std::string& description);
  int Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

// Raises run-time error `number` (throws RunError).
[[noreturn]] void Raise(int number);

}  // namespace vr
