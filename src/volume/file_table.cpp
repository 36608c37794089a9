#include "volume/file_table.h"

#include "volume/folder_path.h"

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

std::string Folder_Path(Integer Index) { return Folder_Table_Path(FolderTable, Index); }

}  // namespace vr
