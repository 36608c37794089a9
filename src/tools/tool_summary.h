// The summary lines the integrity tools share: the run's timing, and the
// "Bytes=" and "Time=" lines.
#pragma once

#include <cstdint>

namespace vr {

// Seconds since midnight, single precision, as the tools time a run.
float Tool_Clock();
// Seconds from `T0` to now; a run that passed midnight is counted on.
float Tool_Elapsed(float T0);

// "Bytes=" & TreeBytes formatted "#,###" & "   MB/Sec=" & the rate, and
// "Time=" & Elapsed & " Secs." & " Rate=" & files per second & " Files/Sec.".
// A run too short for the clock to measure (Elapsed 0) shows both rates
// as 0.
void Report_Rates(float Bytes, int64_t Files, float Elapsed);

}  // namespace vr
