// Everything the program tells the user in words: report lines in the main
// window's message area, the size text, the status lines of the map windows,
// the log of an unattended run and the advice boxes after an operation.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/checked.h"
#include "volume/ui.h"

namespace vr {

// The log of an unattended run: when DebugLogPath is set, every report line
// is collected into DebugLogText, each followed by CR LF.
extern std::string DebugLogPath;
extern std::string DebugLogText;

// Unattended or option run: report lines also go to standard output, and
// message boxes do not wait (their text goes to the message area, the log
// and standard error).
extern bool Unattended;

// Writes `text` on the current line without ending it (collected for the log
// as part of the line the next ReportLine ends).
void ReportPiece(const std::string& text, int colour = kBlack);
void ReportLine(const std::string& Text);
void ReportError(const std::string& Text);  // light red
void ReportNote(const std::string& Text);   // light green
void ReportSize(const std::string& Label, Long Sectors);
std::string SizeText(Long Sectors);

void Cls_Pos();
void Show_Esc_Prompt();
void Report_Stop();

// Returns true when the log was written and the program must end; false
// (nothing collected) leaves the program running.
bool WriteLogAndEnd();

void Status_Label(int Y, StatusSurface& window, const std::string& Text, int Colour);
void Status_Value(int Y, StatusSurface& window, const std::string& Text, int Colour);

void Check4Errors();
void NoMemErr();

// A message box of the application; in an unattended run it does not wait.
void MsgBox(const std::string& text, MsgIcon icon);

}  // namespace vr
