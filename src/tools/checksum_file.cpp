#include "tools/checksum_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/nt.h"
#include "platform/platform.h"
#include "runtime/run_error.h"
#include "tools/checksum_tree.h"

namespace vr {

namespace {

std::string Program_File(const std::string& name) {
  std::string folder = platform::ProgramFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + name;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The fields of one line: numbers separated by commas, then (for folder and
// file lines) a quoted string to the end of the line. The name is the last
// field, so everything between its quotes belongs to it.
class LineReader {
 public:
  explicit LineReader(std::string line) : line_(std::move(line)) {}

  int64_t Number() {
    const size_t end = line_.find(',', pos_);
    const std::string field = line_.substr(pos_, end == std::string::npos ? end : end - pos_);
    pos_ = end == std::string::npos ? line_.size() : end + 1;
    int64_t value = 0;
    const char* first = field.data();
    const char* last = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (field.empty() || ec != std::errc() || ptr != last) Raise(kErrTypeMismatch);
    return value;
  }

  std::string Name() {
    const std::string rest = line_.substr(pos_);
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') Raise(kErrTypeMismatch);
    pos_ = line_.size();
    return rest.substr(1, rest.size() - 2);
  }

  void End() const {
    if (pos_ != line_.size()) Raise(kErrTypeMismatch);
  }

 private:
  std::string line_;
  size_t pos_ = 0;
};

class FileLines {
 public:
  explicit FileLines(const std::string& path) : in_(path, std::ios::binary) {
    if (!in_) Raise(kErrFileNotFound);
  }
  LineReader Next() {
    std::string line;
    if (!std::getline(in_, line)) Raise(kErrInputPastEnd);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return LineReader(std::move(line));
  }

 private:
  std::ifstream in_;
};

Long Checked_Long(int64_t v) { return Long(v); }

}  // namespace

std::string Checksum_File_Path(char Letter) {
  return Program_File(std::string("Checksum.") + Letter);
}

std::string Check_Log_Path(char Letter) { return Program_File(std::string("CheckLog.") + Letter); }

bool Checksum_File_Exists(char Letter) {
  nt::WIN32_FIND_DATAA data;
  const nt::HANDLE h = nt::FindFirstFileA(Program_File(std::string("CHECKSUM.") + Letter), &data);
  if (h == nt::INVALID_HANDLE_VALUE) return false;
  nt::FindClose(h);
  return true;
}

void Write_Checksum_File(const std::string& Path) {
  const std::string fresh = Path + ".new";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    if (!out) Raise(kErrPathFileAccess);
    out << TreeFolderCount.Value() << "," << TreeFileCount.Value() << "\r\n";
    for (Long i = 0; i < TreeFolderCount; ++i)
      out << TreeFolderParents(i).Value() << "," << Quoted(TreeFolderNames(i)) << "\r\n";
    for (Long j = 0; j < TreeFileCount; ++j)
      out << TreeFileFolders(j).Value() << "," << TreeFileSums(j).Value() << ","
          << Quoted(TreeFileNames(j)) << "\r\n";
    out.close();
    if (!out) {
      std::remove(fresh.c_str());
      Raise(kErrDiskFull);
    }
  }
  if (std::rename(fresh.c_str(), Path.c_str()) != 0) {
    std::remove(fresh.c_str());
    Raise(kErrPathFileAccess);
  }
}

void Read_Checksum_File(const std::string& Path, const std::function<void()>& Pending) {
  FileLines lines(Path);
  LineReader counts = lines.Next();
  const Long folders = Checked_Long(counts.Number());
  const Long files = Checked_Long(counts.Number());
  counts.End();
  if (folders < 1 || files < 0) Raise(kErrSubscript);

  // The arrays grow with the lines read, so a damaged count cannot ask for
  // more memory than the file holds lines.
  Start_Tree("");
  for (Long i = 0; i < folders; ++i) {
    LineReader line = lines.Next();
    const Long parent = Checked_Long(line.Number());
    const std::string name = line.Name();
    line.End();
    // Folder 0 is its own parent; every other folder comes after its parent.
    if (i == 0 ? parent != 0 : (parent < 0 || parent >= i)) Raise(kErrSubscript);
    if (i == 0)
      TreeFolderNames(0) = name;
    else
      Add_Tree_Folder(name, parent);
  }
  if (Pending) Pending();
  for (Long j = 0; j < files; ++j) {
    LineReader line = lines.Next();
    const Long folder = Checked_Long(line.Number());
    const Integer sum = Integer(line.Number());
    const std::string name = line.Name();
    line.End();
    if (folder < 0 || folder >= folders) Raise(kErrSubscript);
    Add_Tree_File(name, folder);
    TreeFileSums(j) = sum;
    if (Pending && (j + 1) % 512 == 0) Pending();
  }
  // One spare file entry, as the arrays were always sized.
  if (TreeFileNames.UBound() < files) {
    TreeFileNames.ReDimPreserve(files);
    TreeFileFolders.ReDimPreserve(files);
    TreeFileSums.ReDimPreserve(files);
  }
}

std::string File_Date_Time(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) Raise(kErrFileNotFound);
  std::tm local{};
  localtime_r(&st.st_mtime, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void Append_Check_Log(const std::string& Path, const std::vector<std::string>& Entries) {
  std::ofstream log(Path, std::ios::binary | std::ios::app);
  if (!log) Raise(kErrPathFileAccess);
  for (const std::string& e : Entries) log << e << "\r\n";
  log.close();
  if (!log) Raise(kErrDiskFull);
}

}  // namespace vr
