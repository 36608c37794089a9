#include "viewer/hex_viewer.h"

#include <algorithm>

#include "alloc/volume_bitmap.h"
#include "ntfs/file_record.h"
#include "ntfs/index_block.h"
#include "ntfs/mft.h"
#include "runtime/format.h"
#include "runtime/run_error.h"
#include "viewer/hex_lines.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

// The window's error routine: a run-time error prints its text on the main
// window in the error colour and closes the viewer.
void HexViewer::Guarded(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    searching_ = false;
    port_.SetBusyCursor(false);
    ReportError(e.Description());
    port_.Unload();
  }
}

void HexViewer::Timer1_Timer() {
  if (timerFired_) return;
  timerFired_ = true;
  Guarded([this] { LoadForm(); });
}

void HexViewer::LoadForm() {
  port_.SetCaption("Hex " + VolumeSession.DriveName);
  port_.ShowNtfsControls(VolumeSession.IsNtfs != 0);
  if (VolumeSession.IsNtfs != 0)
    Load_Ntfs();
  else
    Load_Fat();
}

void HexViewer::Load_Ntfs() {
  if (!Load_Mft()) {
    ReportError(ErrorState.ErrorText);
    port_.Unload();
    return;
  }
  lastRecord_ = Mft_Record_Count() - 1;
  ByteArray buffer(0);
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  // The volume bitmap serves "&Invalid"; without it that search looks at
  // decoding errors only.
  const ErrorStateData before = ErrorState;
  Decode_FILE(VolumeSession.VolumeHandle, 6, lengths, lcns, buffer, info);
  if (!AnyErrorCounted()) Load_Bitmap(lengths, lcns);
  if (AnyErrorCounted()) {
    Forget_Volume_Bitmap();
    ErrorState = before;
  }
  info = RecordInfo{};
  Decode_FILE(VolumeSession.VolumeHandle, 5, indexLengths_, indexLcns_, buffer, info);
  ErrorState = before;
  loaded_ = true;
  currentRecord_ = 0;
  port_.SetBoxText(HexBox::File, "0");
  HexDisplayFile();
}

// Reads a block into Buffer; a record through the MFT (so a record split
// across $MFT segments comes whole), an index block through the folder's
// index segments, anything else raw at the current sector.
bool HexViewer::Read_Block(Long Sectors, BlockKind Kind, ByteArray& Buffer) {
  if (Kind == BlockKind::FileRecord) return Read_FILE(Buffer, currentRecord_);
  Buffer.ReDim(int64_t{Sectors.Value()} * kSectorSize - 1);
  return Raw_Read(currentSector_, Buffer.Span());
}

void HexViewer::HexDisplay(Long Sectors, BlockKind Kind) {
  ByteArray buffer(0);
  const ErrorStateData before = ErrorState;
  bool ok = true;
  if (Kind == BlockKind::IndexBlock) {
    buffer = block_;  // read by Show_Index_Block
  } else {
    ok = Read_Block(Sectors, Kind, buffer);
  }
  if (ok && buffer.size() > kSectorSize) {
    const std::string magic = GetAscii(buffer.Span(), 0, 4);
    if (magic == "FILE") Fixup_FILE(buffer.Span());
    if (magic == "INDX") Fixup_INDX(buffer.Span());
  }
  // The viewer shows what is there: only a failed read of the volume stays
  // recorded (for the error summary when the viewer closes), and it does
  // not stop the viewer.
  const Integer readFault = ErrorState.ReadFault;
  ErrorState = before;
  ErrorState.ReadFault = readFault;
  if (!ok) {
    port_.Beep();
    return;
  }
  block_ = std::move(buffer);
  kind_ = Kind;
  port_.SetBoxText(HexBox::Block, Str(currentSector_.Value()));
  const int bytes = static_cast<int>(block_.size());
  port_.SetScroll(bytes > kSectorSize, std::max(bytes - kSectorSize, 0));
  pageOffset_ = 0;
  HexInfo();
}

void HexViewer::HexDisplayFile() {
  Long left = 0, next = 0;
  currentSector_ = FileBlock(currentRecord_, left, next);
  port_.SetBoxText(HexBox::File, Str(currentRecord_.Value()));
  indexShown_ = false;
  HexDisplay(VolumeSession.SectorsPerFileRecord, BlockKind::FileRecord);
}

std::vector<FieldMark> HexViewer::Marks() const {
  const Bytes b = block_.Span();
  if (kind_ == BlockKind::DirSector) return Fat_Dir_Marks(b);
  if (VolumeSession.IsNtfs == 0 || b.size() < 4) return {};
  const std::string magic(b.begin(), b.begin() + 4);
  if (magic == "FILE") return File_Record_Marks(b);
  if (magic == "INDX") return Index_Block_Marks(b);
  return {};
}

void HexViewer::HexInfo() {
  HexPage page;
  const Bytes b = block_.Span();
  for (int row = 0; row < kHexPageRows; ++row) {
    const int64_t at = pageOffset_ + row * kHexRowBytes;
    if (at >= static_cast<int64_t>(b.size())) break;
    page.offsets.push_back(Offset_Text(at));
    page.hex.push_back(Hex_Row(b, at));
    page.chars.push_back(Char_Row(b, at));
  }
  page.boxes = Page_Boxes(Marks(), pageOffset_);
  port_.DrawPage(page);
}

std::vector<std::string> HexViewer::Listing() const { return Hex_Listing(block_.Span()); }

void HexViewer::VscBlock_Change(int Value) {
  Guarded([&] {
    const int last = std::max(static_cast<int>(block_.size()) - kSectorSize, 0);
    pageOffset_ = std::clamp(Value / kSectorSize * kSectorSize, 0, last);
    HexInfo();
  });
}

// The number in a box: digits only (the box refuses anything else); a
// number too large for the volume is clamped by the caller.
Long HexViewer::Box_Number(HexBox Box, bool& Empty) const {
  const std::string text = port_.BoxText(Box);
  Empty = text.empty();
  int64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') continue;
    n = std::min<int64_t>(n * 10 + (c - '0'), 0x7FFFFFFF);
  }
  return Long(n);
}

void HexViewer::TxtBlock_Enter() {
  Guarded([this] {
    bool empty = false;
    const Long n = Box_Number(HexBox::Block, empty);
    currentSector_ = std::min<int64_t>(n.Value(), VolumeSession.TotalSectors.Value() - 1);
    if (currentSector_ < 0) currentSector_ = 0;
    indexShown_ = false;
    HexDisplay(1, BlockKind::Sector);
  });
}

void HexViewer::TxtFile_Enter() {
  Guarded([this] {
    if (VolumeSession.IsNtfs == 0 || !loaded_) return;
    bool empty = false;
    const Long n = Box_Number(HexBox::File, empty);
    currentRecord_ = std::min<int64_t>(n.Value(), lastRecord_.Value());
    HexDisplayFile();
  });
}

// Reads index block Number of the folder whose segments are held, following
// the block into the next segment when it is split.
bool HexViewer::Read_Index_Block(Long Number, ByteArray& Buffer, Long& FirstSector) {
  const int64_t blockSectors = VolumeSession.SectorsPerIndexBlock.Value();
  const int64_t spc = VolumeSession.SectorsPerCluster.Value();
  if (blockSectors < 1 || spc < 1) return false;
  // VCNs count sectors when a block is smaller than a cluster.
  const int64_t perVcn = blockSectors < spc ? 1 : spc;
  const int64_t vcn = int64_t{Number.Value()} * blockSectors / perVcn;
  if (vcn > 0x7FFFFFFF) return false;
  Long offset = 0;
  int64_t i = Vcn_To_Run(Long(vcn), indexLengths_, offset).Value();
  if (i < 0) return false;
  Buffer.ReDim(blockSectors * kSectorSize - 1);
  int64_t inRun = int64_t{offset.Value()} * perVcn;
  for (int64_t done = 0; done < blockSectors; ++i, inRun = 0) {
    if (i > indexLengths_.UBound() || i > indexLcns_.UBound() || indexLcns_(i) < 0) return false;
    const int64_t count = std::min(indexLengths_(i).Value() * spc - inRun, blockSectors - done);
    if (count <= 0) continue;
    const int64_t sector = indexLcns_(i).Value() * spc + inRun;
    if (sector > 0x7FFFFFFF) return false;
    if (done == 0) FirstSector = Long(sector);
    MutableBytes part = Buffer.Span().subspan(static_cast<size_t>(done * kSectorSize),
                                              static_cast<size_t>(count * kSectorSize));
    if (!Raw_Read(Long(sector), part)) return false;
    done += count;
  }
  return true;
}

void HexViewer::Show_Index_Block(Long Number) {
  ByteArray buffer(0);
  Long first = 0;
  const ErrorStateData before = ErrorState;
  const bool ok = Read_Index_Block(Number, buffer, first);
  const Integer readFault = ErrorState.ReadFault;
  ErrorState = before;
  ErrorState.ReadFault = readFault;
  if (!ok) {
    // A block outside the folder's index segments.
    port_.Beep();
    return;
  }
  currentSector_ = first;
  block_ = std::move(buffer);
  indexShown_ = true;
  port_.SetBoxText(HexBox::Indx, Str(Number.Value()));
  HexDisplay(VolumeSession.SectorsPerIndexBlock, BlockKind::IndexBlock);
}

void HexViewer::TxtIndx_Enter() {
  Guarded([this] {
    if (VolumeSession.IsNtfs == 0 || !loaded_) return;
    bool empty = false;
    const Long n = Box_Number(HexBox::Indx, empty);
    if (empty) {
      port_.Beep();
      return;
    }
    Show_Index_Block(n);
  });
}

void HexViewer::Show_Indx() {
  Guarded([this] {
    if (VolumeSession.IsNtfs == 0 || !loaded_) return;
    ByteArray buffer(0);
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    const ErrorStateData before = ErrorState;
    Decode_FILE(VolumeSession.VolumeHandle, currentRecord_, lengths, lcns, buffer, info);
    const bool failed = AnyErrorCounted();
    ErrorState = before;
    if (failed || info.IsDirectory == 0 || lengths.UBound() < 1) {
      port_.Beep();  // not a folder, or one without index blocks
      return;
    }
    indexLengths_ = lengths;
    indexLcns_ = lcns;
    Show_Index_Block(0);
  });
}

void HexViewer::Escape() {
  if (StopSearch()) return;
  Guarded([this] {
    if (VolumeSession.IsNtfs != 0 && indexShown_) {
      port_.SetBoxText(HexBox::Indx, "");
      HexDisplayFile();
      return;
    }
    if (VolumeSession.IsNtfs == 0 && dirs_.size() > 1) {
      dirs_.pop_back();
      Show_Dir_Sector(0);
      return;
    }
    port_.Unload();
  });
}

void HexViewer::Form_Unload() {
  StopSearch();
  Close_Drive(VolumeSession.VolumeHandle);
}

}  // namespace vr
