// The searches of the Find menu and "Nextfile (F3)".
#include "ntfs/mft.h"
#include "runtime/format.h"
#include "viewer/hex_viewer.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {
constexpr int kYieldEvery = 128;
}  // namespace

bool HexViewer::Ask_Find_Args(FindKind Kind, FindArgs& Args) {
  std::string answer;
  if (Kind == FindKind::FileName) {
    if (!port_.AskText("Filename or pattern (e.g. * ? or #)", "Find $MFT entry for", answer) ||
        answer.empty())
      return false;
    for (char& c : answer)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    Args.pattern = answer;
    return true;
  }
  if (Kind == FindKind::EntryX0h || Kind == FindKind::EntryX0hIn20h) {
    if (!port_.AskText("Hex entry type x0",
                       Kind == FindKind::EntryX0h ? "Entry x0h" : "Entry x0h_In_20h", answer))
      return false;
    Args.type = Entry_Type_Answer(answer);
    if (Args.type == 0) {
      port_.Beep();
      return false;
    }
  }
  return true;
}

void HexViewer::Find(FindKind Kind) {
  Guarded([&] {
    if (VolumeSession.IsNtfs == 0 || !loaded_ || searching_) return;
    FindArgs args;
    if (!Ask_Find_Args(Kind, args)) return;
    findKind_ = Kind;
    findArgs_ = args;
    const Long shown = currentRecord_;
    currentRecord_ = Kind == FindKind::EntryX0h ? 0 : -1;
    Search(shown);
  });
}

void HexViewer::NextFile() {
  Guarded([this] {
    if (VolumeSession.IsNtfs == 0 || !loaded_ || searching_) return;
    if (findKind_ == FindKind::None) {
      port_.Beep();
      return;
    }
    Search(currentRecord_);
  });
}

bool HexViewer::StopSearch() {
  if (!searching_) return false;
  ErrorState.Failed = -1;
  return true;
}

// From the record after the current one to the last, records in use only;
// every 128 records the window gets its messages and shows how far the
// search is. No match: the record shown before comes back, with a beep.
void HexViewer::Search(Long ShownBefore) {
  ErrorState.Failed = 0;
  searching_ = true;
  port_.SetBusyCursor(true);
  Long found = -1;
  for (int64_t r = int64_t{currentRecord_.Value()} + 1; r <= lastRecord_.Value(); ++r) {
    if (r % kYieldEvery == 0) {
      port_.SetBoxText(HexBox::File, Str(r));
      port_.DoEvents();
      if (ErrorState.Failed != 0) break;
    }
    if (!Is_Active(Long(r))) continue;
    if (Record_Matches(findKind_, findArgs_, Long(r))) {
      found = Long(r);
      break;
    }
    if (ErrorState.Failed != 0) break;  // a failed read of the volume
  }
  searching_ = false;
  port_.SetBusyCursor(false);
  ErrorState.Failed = 0;
  currentRecord_ = found >= 0 ? found : ShownBefore;
  HexDisplayFile();
  if (found < 0) port_.Beep();
}

}  // namespace vr
