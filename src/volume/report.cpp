#include "volume/report.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/shared_state.h"

namespace vr {

std::string DebugLogPath;
std::string DebugLogText;
bool Unattended = false;

namespace {

int g_TextColour = kBlack;
std::string g_PendingLine;  // pieces of the line not yet ended

void Collect(const std::string& line) {
  if (!DebugLogPath.empty()) DebugLogText += line + "\r\n";
  if (Unattended) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
}

void ReportInColour(const std::string& Text, int colour) {
  g_TextColour = colour;
  ReportLine(Text);
  g_TextColour = kBlack;
}

}  // namespace

void ReportPiece(const std::string& text, int colour) {
  MainWindow().MsgWrite(text, colour);
  g_PendingLine += text;
}

void ReportLine(const std::string& Text) {
  MainWindow().MsgWrite(Text, g_TextColour);
  MainWindow().MsgEndLine();
  const std::string line = g_PendingLine + Text;
  g_PendingLine.clear();
  Collect(line);
}

void ReportError(const std::string& Text) { ReportInColour(Text, kLightRed); }

void ReportNote(const std::string& Text) { ReportInColour(Text, kLightGreen); }

void ReportSize(const std::string& Label, Long Sectors) { ReportLine(Label + SizeText(Sectors)); }

std::string SizeText(Long Sectors) {
  const int32_t s = Sectors;
  const float m = static_cast<float>(s) / 2048.0f;
  if (m < 1.0f) {
    if (s == 0) return ".0Kb";
    if (s <= 1) return ".5Kb";
    return SingleText(static_cast<float>(s) / 2.0f) + "Kb";
  }
  if (m < 10.0f) return Format(m, "#.00") + "Mb";
  if (m < 100.0f) return Format(m, "#.0") + "Mb";
  if (m < 1024.0f) return Format(m, "#") + "Mb";
  return Format(m / 1000.0f, "#.00") + "Gb";
}

void Cls_Pos() {
  MainWindowPort& w = MainWindow();
  w.SetVisible(Control::picHistoF, false);
  w.SetVisible(Control::lblCount, false);
  w.MsgClear();
  g_PendingLine.clear();
  w.MsgSetPos(0, 4);
}

void Show_Esc_Prompt() {
  MainWindowPort& w = MainWindow();
  w.MsgSetPos(w.RightOf(Control::lblCount), 4);
  w.SetVisible(Control::lblCount, true);
  w.MsgWrite("Press Esc to cancel.", kBlack);
  w.MsgEndLine();
}

void Report_Stop() {
  if (AnyErrorCounted())
    ReportError("Error stop");
  else
    ReportNote("User stop");
}

bool WriteLogAndEnd() {
  if (DebugLogText.empty()) return false;
  std::ofstream log(DebugLogPath, std::ios::binary | std::ios::trunc);
  log << DebugLogText << "\r\n";
  log.close();
  if (!log) std::cerr << "Unable to write the log " << DebugLogPath << "\n";
  return true;
}

void Status_Label(int Y, StatusSurface& window, const std::string& Text, int Colour) {
  const int h = window.TextHeight("x");
  window.FillBox(4, Y, 60, h, kWhite);
  window.DrawText(4, Y, Text, Colour);
  window.Update();
}

void Status_Value(int Y, StatusSurface& window, const std::string& Text, int Colour) {
  const std::string text = Text.empty() ? " " : Text;
  const int h = window.TextHeight("x");
  const int x0 = window.Width() - static_cast<int>(StatusColumn);
  if (Colour == kYellow)
    window.FillBox(x0, Y, window.TextWidth(text), h, kLightBlue);
  else
    window.FillBox(x0, Y, static_cast<int>(StatusColumn), h, kWhite);
  window.DrawText(x0 + 1, Y, text, Colour);
  window.Update();
}

void MsgBox(const std::string& text, MsgIcon icon) {
  if (!Unattended) {
    MainWindow().MessageBox(text, icon);
    return;
  }
  // An unattended run does not wait: the text goes to the message area, the
  // log and standard error, and the run goes on as if OK was pressed.
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    const std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    MainWindow().MsgWrite(line, kBlack);
    MainWindow().MsgEndLine();
    if (!DebugLogPath.empty()) DebugLogText += line + "\r\n";
    std::cerr << line << "\n";
    if (end == std::string::npos) break;
    start = end + 2;
  }
}

void Check4Errors() {
  if (ErrorState.ReadFault != 0) {
    MainWindow().Beep();
    MsgBox(
        "A serious disk error has occurred on this drive.\r\n"
        "Shutdown all applications and run CHKDSK /F--be\r\n"
        "sure to convert any lost cluster chains to files.",
        MsgIcon::Critical);
    ErrorState.ReadFault = 0;
  } else if (ErrorState.InternalFault != 0) {
    MainWindow().Beep();
    MsgBox(
        "An internal error has occurred. Please copy down\r\n"
        "the error description on the left of the screen and\r\n"
        "contact our Technical Support group.\r\n\r\n"
        "Shutdown all applications and run CHKDSK /F.\r\n"
        "Convert any lost cluster chains to files",
        MsgIcon::Information);
  } else if (ErrorState.OutOfMemory != 0) {
    NoMemErr();
    ErrorState.OutOfMemory = 0;
  } else if (ErrorState.RecordFault != 0) {
    MsgBox(
        "Structural errors have been detected on this drive.\r\n"
        "Run CHKDSK /F on this drive before continuing.",
        MsgIcon::Information);
    ErrorState.RecordFault = 0;
  }
}

void NoMemErr() {
  MainWindow().Beep();
  MsgBox(
      "There is insufficient memory to run this application.\r\n"
      "Close one or more other applications and try again.\r\n"
      "If you have just closed an application, wait a few\r\n"
      "moments and try again.",
      MsgIcon::Information);
}

}  // namespace vr
