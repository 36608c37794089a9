#include "ntfs/file_table.h"

namespace vr {

VbArray<std::string> FileNames(0);
VbArray<uint8_t> FileFlags(0);
VbArray<Integer> FragmentState(0);
VbArray<Long> ClusterCount(0);
VbArray<Long> FirstLcn(0);
VbArray<uint8_t> DoNotMove(0);
VbArray<uint8_t> MoveDelayed(0);
VbArray<Integer> FolderIndex(0);
VbArray<FolderEntry> FolderTable(0);
Integer FolderCount;

void Start_Folders(const std::string& RootName) {
  FolderTable.ReDim(100);
  FolderTable(0) = {Integer(-1), RootName};
  FolderCount = 0;
}

Integer Add_Folder(Integer Parent, const std::string& Name) {
  const Integer index = FolderCount + Integer(1);
  if (index > FolderTable.UBound()) FolderTable.ReDimPreserve(FolderTable.UBound() + 100);
  FolderTable(index) = {Parent, Name};
  FolderCount = index;
  return index;
}

std::string Folder_Path(Integer Index) {
  std::string path = FolderTable(Index).Name;
  int64_t current = Index;
  // Every folder was added under one already in the table, so the chain
  // reaches the root in fewer steps than there are elements; a longer one
  // is a damaged table, not a path.
  for (size_t steps = 0; FolderTable(current).Parent >= 0; ++steps) {
    if (steps >= FolderTable.size()) Raise(kErrIllegalCall);
    current = FolderTable(current).Parent;
    path = FolderTable(current).Name + "\\" + path;
  }
  return path;
}

}  // namespace vr
