// The closing report of an optimiser run: what moved and how fast, the
// fragmented files left, and the free space as the volume reports it after
// the run.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"

namespace vr {

// Seconds from Start (a Timer value) to now; a difference below -0.1 has
// crossed midnight and gains a day.
double Seconds_Since(double Start);

// Megabytes in Clusters clusters of SectorsPerCluster sectors.
float Moved_Megabytes(int64_t Clusters, int64_t SectorsPerCluster);

// "Moved: Files=" n ",  Mb=" megabytes ("0").
std::string Moved_Line(int64_t Files, float Megabytes);
// "   Time=" seconds ("0.0") ",  Mb/Sec=" rate ("0.00"). A time of 0
// measured nothing: the rate is then shown as 0.00.
std::string Time_Line(float Seconds, float Megabytes);

// The three report lines from the run's counters (FilesMoved,
// ClustersMoved, the fragmented files left).
void Report_Moves(float Seconds);

// On a volume in use, re-reads the volume bitmap (the raw $Bitmap when it
// is one run, else through the file system); then rebuilds the free
// segments and writes "Small free Space=" and "Large free space=". Nothing
// is written after a read error.
void Report_Free_Space();

}  // namespace vr
