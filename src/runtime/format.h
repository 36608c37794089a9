// Number and time formatting as the program's messages use it.
#pragma once

#include <cstdint>
#include <string>

namespace vr {

// Formats `value` with one of the picture strings the program uses: "0",
// "0.0", "0.00", "#.00", "#.0", "#", "#,###". A "0" before the point always
// prints a digit, a "#" only a significant one; rounding is half away from
// zero at the shown number of decimals.
std::string Format(double value, const std::string& picture);

// A number converted to text with no blanks ("label & n").
std::string Str(int64_t n);

// A number written on its own in the message area: a blank (or the minus
// sign) before it and a blank after it.
std::string NumText(int64_t n);

// The shortest decimal text of a single-precision value (up to 7 significant
// digits, no trailing zeros, no leading zero before the point: 0.5 is ".5").
std::string SingleText(float value);

// An 8-bit name from a volume made fit to show: control characters become
// "?", and characters 0x80-0xFF (the low bytes of the name's code units) are
// written as the Latin-1 characters they stand for, in UTF-8. A damaged
// record's name never reaches a message as raw bytes.
std::string Printable(const std::string& Name);

// Seconds since midnight, local time, with fractions, plus the time the
// platform's virtual sleeping has skipped (AdvanceTimer), so timings that
// count in Timer seconds follow a sleep that did not wait.
double Timer();
void AdvanceTimer(double Seconds);

}  // namespace vr
