// The path of a folder in a folder table (elements {Parent, Name}, element 0
// the root with Parent -1): the names from the root down, joined by "\".
#pragma once

#include <string>

#include "runtime/checked.h"
#include "runtime/run_error.h"
#include "runtime/vb_array.h"

namespace vr {

template <typename Entry>
std::string Folder_Table_Path(const VbArray<Entry>& Table, Integer Index) {
  std::string path = Table(Index).Name;
  int64_t current = Index;
  // Every folder is added under one already in the table, so the chain
  // reaches the root in fewer steps than there are elements; a longer one is
  // a damaged table, not a path.
  for (size_t steps = 0; Table(current).Parent >= 0; ++steps) {
    if (steps >= Table.size()) Raise(kErrIllegalCall);
    current = Table(current).Parent;
    path = Table(current).Name + "\\" + path;
  }
  return path;
}

}  // namespace vr
