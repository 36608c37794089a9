// The optimiser's passes over the move engine: defragment (each fragmented
// file into one free region, big files first) and pack (fill the gaps from
// the start of the volume with files from further up), the candidate list
// and its sort, shared by every pass on both file systems.
#pragma once

#include <vector>

#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"

namespace vr {

// One candidate: the sort key (the file's FirstLcn) and its record.
struct Candidate {
  Long Key;
  Long Record;
};

// Ascending by key with the optimiser's shell sort; equal keys keep their
// order.
void Sort_Candidates(std::vector<Candidate>& List);

// Defragment pass.
void DeFragment();
bool Defrag_File(Long Record, RecordInfo& Info, VbArray<Long>& Lengths, VbArray<Long>& Lcns);
void Show_Fragments(const std::vector<Candidate>& List);
// The defragment pass's size thresholds in clusters: the first (16,384
// sectors, at least 1), and the one after Limit at the end of pass Pass,
// counting the passes (1 after the eighth, 0 when none follows).
Long First_Threshold();
Long Next_Threshold(Long Limit, Integer& Pass);
// A pass at threshold Limit tries record R: still fragmented, neither
// delayed nor unmovable, Limit <= its clusters < SmallestFailed, and below
// HugeFileClusters unless huge files are defragmented.
bool Defrag_Tries(Long R, Long Limit, Long SmallestFailed);

// Pack pass: one packing round; the clusters and count of delayed or
// unmovable files below the allocation floor come back.
void RemoveHoles(Long& UnmovableClusters, Long& UnmovableCount);

// Files starting at or below it count as packed (set by each round).
extern Long PackBoundary;

// The size classes and their lists, for one round.
constexpr int kClassCount = 83;
struct PackClasses {
  Long ClassSize[kClassCount + 1];  // 1..83
  Long ClassHead[kClassCount + 1];  // 1-based candidate index, 0 = empty
  std::vector<Long> NextCandidate;  // 1..count, 0 = end
};
// The class of a file of N clusters.
int Size_Class(const PackClasses& Classes, Long N);
// Builds the classes and pushes the sorted candidates onto them.
void Build_Classes(PackClasses& Classes, const std::vector<Candidate>& List);
// PackBoundary from the volume's use and the unmovable clusters below the
// floor.
Long Pack_Boundary(Long UnmovableClusters);

// How many of the two clusters beside the run (Start - 1, Start + Length)
// are free in VolumeBitmap.
int Q(Long Start, Long Length);
Long Best_Fit(Long Space, Long GapStart, PackClasses& Classes, const std::vector<Candidate>& List,
              bool Exact);
Long Shift_Fit(Long Gap, const std::vector<Candidate>& List);
bool Fill_Gap(Long& Gap, Long& GapLength, Long& GapStart, PackClasses& Classes,
              const std::vector<Candidate>& List, Long Minimum);
void Pack_Gaps(Long FirstGap, std::vector<Candidate>& List, Long UnmovableClusters);
void Show_Candidates(const PackClasses& Classes, const std::vector<Candidate>& List, Long GapStart);

}  // namespace vr
