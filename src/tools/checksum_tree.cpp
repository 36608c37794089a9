#include "tools/checksum_tree.h"

namespace vr {

VbArray<std::string> TreeFolderNames;
VbArray<Long> TreeFolderParents;
Long TreeFolderCount;
VbArray<std::string> TreeFileNames;
VbArray<Long> TreeFileFolders;
VbArray<Integer> TreeFileSums;
Long TreeFileCount;
float TreeBytes = 0;
Integer DriveError;
Integer ReadError;

void Start_Tree(const std::string& Drive) {
  TreeFolderNames.ReDim(100);
  TreeFolderParents.ReDim(100);
  TreeFileNames.ReDim(1000);
  TreeFileFolders.ReDim(1000);
  TreeFileSums.ReDim(1000);
  TreeFolderNames(0) = Drive;
  TreeFolderParents(0) = 0;
  TreeFolderCount = 1;
  TreeFileCount = 0;
}

Long Add_Tree_Folder(const std::string& Name, Long Parent) {
  const Long i = TreeFolderCount;
  if (i > TreeFolderNames.UBound()) {
    TreeFolderNames.ReDimPreserve(TreeFolderNames.UBound() + 100);
    TreeFolderParents.ReDimPreserve(TreeFolderNames.UBound());
  }
  TreeFolderNames(i) = Name;
  TreeFolderParents(i) = Parent;
  TreeFolderCount = i + 1;
  return i;
}

Long Add_Tree_File(const std::string& Name, Long Folder) {
  const Long j = TreeFileCount;
  if (j > TreeFileNames.UBound()) {
    TreeFileNames.ReDimPreserve(TreeFileNames.UBound() + 1000);
    TreeFileFolders.ReDimPreserve(TreeFileNames.UBound());
    TreeFileSums.ReDimPreserve(TreeFileNames.UBound());
  }
  TreeFileNames(j) = Name;
  TreeFileFolders(j) = Folder;
  TreeFileSums(j) = 0;
  TreeFileCount = j + 1;
  return j;
}

std::string Tree_File_Path(Long j) {
  std::string path = TreeFileNames(j);
  Long folder = TreeFileFolders(j);
  // Parents always come before their folders, so the walk up ends at 0;
  // the reader of the checksum file refuses any other order.
  for (;;) {
    path = TreeFolderNames(folder) + "\\" + path;
    if (folder == 0) break;
    const Long parent = TreeFolderParents(folder);
    if (parent >= folder) Raise(kErrSubscript);
    folder = parent;
  }
  return path;
}

void Release_Tree() {
  const std::string drive = TreeFolderNames.empty() ? std::string() : TreeFolderNames(0);
  TreeFolderNames.ReDim(0);
  TreeFolderParents.ReDim(0);
  TreeFolderNames(0) = drive;
  TreeFileNames.Erase();
  TreeFileFolders.Erase();
  TreeFileSums.Erase();
}

}  // namespace vr
