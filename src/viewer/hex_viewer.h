// The structure viewer NTBrimHex without its drawing: the block on display
// (a sector, a FILE record, an index block, a FAT directory sector), its
// pages and field marks, the boxes, Esc and F5, the FAT directory walk and
// the searches of the Find menu. It only reads the volume.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "viewer/field_marks.h"
#include "viewer/hex_window_port.h"
#include "viewer/searches.h"

namespace vr {

enum class BlockKind { Sector, FileRecord, IndexBlock, DirSector };

// A run of sectors of the FAT directory on display.
struct DirRun {
  Long sector;
  Long count;
};

class HexViewer {
 public:
  explicit HexViewer(HexWindowPort& port) : port_(port) {}

  // Timer1 has fired: LoadForm, once.
  void Timer1_Timer();
  void LoadForm();

  // The boxes accept digits and Backspace only.
  static bool Accepts_Key(char Key) { return (Key >= '0' && Key <= '9') || Key == '\b'; }
  void TxtBlock_Enter();
  void TxtFile_Enter();
  void TxtIndx_Enter();
  void TxtDir_Enter();
  void VscBlock_Change(int Value);
  void Show_Indx();  // F5
  void Escape();     // Esc
  // A click in the character column at Row (0 .. 31), Column (0 .. 15).
  void PicText_Click(int Row, int Column);
  void Find(FindKind Kind);
  void NextFile();  // F3
  // Ends a running search (the window's close request and Esc while
  // searching); false when none runs.
  bool StopSearch();
  // The window unloads: the volume is closed.
  void Form_Unload();

  void HexDisplay(Long Sectors, BlockKind Kind);
  void HexDisplayFile();
  void HexInfo();

  Long CurrentSector() const { return currentSector_; }
  Long CurrentRecord() const { return currentRecord_; }
  Long LastRecord() const { return lastRecord_; }
  const ByteArray& Block() const { return block_; }
  BlockKind Kind() const { return kind_; }
  int PageOffset() const { return pageOffset_; }
  bool Searching() const { return searching_; }
  bool Loaded() const { return loaded_; }
  size_t DirDepth() const { return dirs_.size(); }
  // The marks of the block on display (whole block).
  std::vector<FieldMark> Marks() const;
  // The block as hexadecimal and character lines.
  std::vector<std::string> Listing() const;

 private:
  void Guarded(const std::function<void()>& f);
  void Load_Ntfs();
  void Load_Fat();
  bool Read_Block(Long Sectors, BlockKind Kind, ByteArray& Buffer);
  bool Read_Index_Block(Long Number, ByteArray& Buffer, Long& FirstSector);
  void Show_Index_Block(Long Number);
  void Show_Dir_Sector(Long Number);
  void Open_Dir(Long Cluster);
  void Search(Long ShownBefore);
  Long Box_Number(HexBox Box, bool& Empty) const;
  bool Ask_Find_Args(FindKind Kind, FindArgs& Args);

  HexWindowPort& port_;
  bool timerFired_ = false;
  bool loaded_ = false;
  Long currentSector_ = 0;
  Long currentRecord_ = 0;
  Long lastRecord_ = 0;
  ByteArray block_ = ByteArray(-1);
  BlockKind kind_ = BlockKind::Sector;
  int pageOffset_ = 0;
  VbArray<Long> indexLengths_ = VbArray<Long>(0), indexLcns_ = VbArray<Long>(0);
  bool indexShown_ = false;
  FindKind findKind_ = FindKind::None;
  FindArgs findArgs_;
  bool searching_ = false;
  std::vector<std::vector<DirRun>> dirs_;  // root first
  Long dirSector_ = 0;
};

}  // namespace vr
