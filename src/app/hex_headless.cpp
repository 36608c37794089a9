// The viewer without a window: --hex and --find.
#include <algorithm>
#include <map>
#include <ostream>

#include "app/hex_command.h"
#include "runtime/run_error.h"
#include "viewer/hex_viewer.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/session.h"

namespace vr {

namespace {

// A window that keeps the boxes, answers the input box with a given text
// and counts beeps.
class HeadlessHexWindow : public HexWindowPort {
 public:
  explicit HeadlessHexWindow(std::string answer) : answer_(std::move(answer)) {}
  void SetCaption(const std::string&) override {}
  void SetBoxText(HexBox box, const std::string& text) override { boxes_[box] = text; }
  std::string BoxText(HexBox box) const override {
    const auto it = boxes_.find(box);
    return it == boxes_.end() ? std::string() : it->second;
  }
  void SetDirLabel(const std::string&) override {}
  void ShowNtfsControls(bool) override {}
  void SetScroll(bool, int) override {}
  void DrawPage(const HexPage&) override {}
  void Beep() override { ++beeps; }
  void DoEvents() override {}
  void SetBusyCursor(bool) override {}
  bool AskText(const std::string&, const std::string&, std::string& answer) override {
    answer = answer_;
    return true;
  }
  void Unload() override { unloaded = true; }

  int beeps = 0;
  bool unloaded = false;

 private:
  std::string answer_;
  std::map<HexBox, std::string> boxes_;
};

// Why the run ended: the lines the command left on the message area, else
// the recorded error.
void Tell_Why(std::ostream& err, char letter) {
  bool told = false;
  if (auto* recorder = dynamic_cast<RecordingMainWindow*>(&MainWindow())) {
    for (const std::string& line : recorder->LineTexts()) {
      if (line.empty()) continue;
      err << "voduru: " << line << "\n";
      told = true;
    }
  }
  if (!told && !ErrorState.ErrorText.empty()) {
    err << "voduru: " << ErrorState.ErrorText << "\n";
    told = true;
  }
  if (!told) err << "voduru: drive " << letter << ": cannot be viewed (not NTFS or FAT)\n";
}

// Opens drive Letter and loads the viewer as the window would.
bool Open_And_Load(char letter, HexViewer& viewer, HeadlessHexWindow& window, std::ostream& err) {
  MainWindow().MsgClear();
  const std::string entry = std::string(1, letter) + ":";
  if (!Open_Hex_Volume(entry)) {
    Tell_Why(err, letter);
    return false;
  }
  viewer.Timer1_Timer();
  if (window.unloaded || !viewer.Loaded()) {
    viewer.Form_Unload();
    Tell_Why(err, letter);
    return false;
  }
  return true;
}

}  // namespace

int Hex_Command(char Letter, const std::string& Number, std::ostream& out, std::ostream& err) {
  HeadlessHexWindow window("");
  HexViewer viewer(window);
  if (!Open_And_Load(Letter, viewer, window, err)) return 1;
  const int beepsBefore = window.beeps;
  if (VolumeSession.IsNtfs != 0) {
    window.SetBoxText(HexBox::File, Number);
    viewer.TxtFile_Enter();
  } else {
    window.SetBoxText(HexBox::Dir, Number);
    viewer.TxtDir_Enter();
  }
  const bool failed = window.unloaded || window.beeps != beepsBefore;
  if (!failed)
    for (const std::string& line : viewer.Listing()) out << line << "\n";
  viewer.Form_Unload();
  if (failed) {
    err << "voduru: block " << Number << " of drive " << Letter << ": cannot be read\n";
    return 1;
  }
  return 0;
}

int Find_Command(char Letter, const std::string& Search, std::ostream& out, std::ostream& err) {
  const size_t eq = Search.find('=');
  const std::string name = Search.substr(0, eq);
  const std::string answer = eq == std::string::npos ? "" : Search.substr(eq + 1);
  const FindKind kind = Find_By_Name(name);
  if (kind == FindKind::None) {
    err << "voduru: --find: no search named \"" << name << "\"\n";
    return 2;
  }
  if (kind == FindKind::FileName && answer.empty()) {
    err << "voduru: --find: FileName needs a pattern (FileName=PATTERN)\n";
    return 2;
  }
  HeadlessHexWindow window(answer);
  HexViewer viewer(window);
  if (!Open_And_Load(Letter, viewer, window, err)) return 1;
  if (VolumeSession.IsNtfs == 0) {
    viewer.Form_Unload();
    err << "voduru: --find: drive " << Letter << ": is not NTFS\n";
    return 1;
  }
  const int beeps = window.beeps;
  viewer.Find(kind);
  while (!window.unloaded && window.beeps == beeps) {
    out << viewer.CurrentRecord().Value() << "\n";
    viewer.NextFile();
  }
  viewer.Form_Unload();
  return window.unloaded ? 1 : 0;
}

int Run_Viewer_Requests(const std::vector<ViewerRequest>& Requests, std::ostream& out,
                        std::ostream& err) {
  int code = 0;
  for (const ViewerRequest& r : Requests) {
    const int c = r.find ? Find_Command(r.letter, r.argument, out, err)
                         : Hex_Command(r.letter, r.argument, out, err);
    code = std::max(code, c);
  }
  return code;
}

}  // namespace vr
