#include "app/command_line.h"

#include <cctype>

#include "app/version_info.h"

namespace vr {

LaunchOptions Launch;

namespace {

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

// "c", "C", "c:" or "C:".
bool DriveLetter(const std::string& word, char& letter) {
  if (word.empty() || word.size() > 2) return false;
  if (word.size() == 2 && word[1] != ':') return false;
  const unsigned char c = static_cast<unsigned char>(word[0]);
  if (!std::isalpha(c)) return false;
  letter = static_cast<char>(std::tolower(c));
  return true;
}

bool IsLongOption(const std::string& word) { return word.size() > 2 && word.rfind("--", 0) == 0; }

// "-h" and "-?" ask for the help as "--help" does; they name no drive.
bool IsShortHelp(const std::string& word) { return word == "-h" || word == "-?"; }

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult r;
  LaunchOptions& o = r.options;
  auto fail = [&r](const std::string& why) {
    r.ok = false;
    r.error = why;
    return r;
  };
  auto join = [](const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return Trim(text);
  };

  for (const std::string& w : args)
    if (IsShortHelp(w)) {
      o.help = true;
      return r;
    }
  // A long option anywhere makes this an option command line.
  bool options = false;
  for (const std::string& w : args) options = options || IsLongOption(w);
  if (!options) {
    o.classic = join(args);
    return r;
  }
  o.optionRun = true;
  std::vector<std::string> classicWords;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& w = args[i];
    if (!IsLongOption(w)) {
      classicWords.push_back(w);
      continue;
    }
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (w == "--help") {
      o.help = true;
    } else if (w == "--version") {
      o.version = true;
    } else if (w == "--drives") {
      if (!value(v)) return fail("--drives needs a drive map");
      o.haveDriveMap = true;
      o.driveMap = v;
    } else if (w == "--checked-view" || w == "--fast-view" || w == "--defrag") {
      char letter = 0;
      if (!value(v) || !DriveLetter(v, letter)) return fail(w + " needs a drive letter");
      const DriveCommand c = w == "--checked-view" ? DriveCommand::CheckedView
                             : w == "--fast-view"  ? DriveCommand::FastView
                                                   : DriveCommand::Defrag;
      o.actions.push_back({c, letter});
    } else if (w == "--checksum" || w == "--validate" || w == "--scan-files") {
      char letter = 0;
      if (!value(v) || !DriveLetter(v, letter)) return fail(w + " needs a drive letter");
      const DriveCommand c = w == "--checksum"   ? DriveCommand::Checksum
                             : w == "--validate" ? DriveCommand::Validate
                                                 : DriveCommand::ScanFiles;
      o.actions.push_back({c, letter});
    } else if (w == "--hex" || w == "--find") {
      char letter = 0;
      std::string argument;
      if (!value(v) || !DriveLetter(v, letter) || !value(argument) || argument.empty())
        return fail(w + (w == "--hex" ? " needs a drive letter and a record number"
                                      : " needs a drive letter and a search name"));
      if (w == "--hex" && argument.find_first_not_of("0123456789") != std::string::npos)
        return fail("--hex needs a record number, not " + argument);
      o.viewer.push_back({w == "--find", letter, argument});
    } else if (w == "--no-pack") {
      o.noPack = true;
    } else if (w == "--map-png") {
      if (!value(v) || v.empty()) return fail("--map-png needs a file name");
      o.mapPng = v;
    } else if (w == "--screenshot") {
      if (!value(v) || v.empty()) return fail("--screenshot needs a file name");
      o.screenshot = v;
    } else {
      return fail("unknown option " + w);
    }
  }
  o.classic = join(classicWords);
  return r;
}

bool HasCommandLine() { return !Launch.classic.empty() || !Launch.actions.empty(); }

std::string MapPngPath(const std::string& pattern, char letter) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
      out += letter;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

std::string VersionText() { return std::string(kProductName) + " " + kProductVersion + "\n"; }

std::string UsageText() {
  return "Usage: voduru [/c /d ...]\n"
         "       voduru --option ... [/c /d ...]\n"
         "\n"
         "Without arguments VoduRU starts its main window (without a display it\n"
         "says so and ends). Drive letters (/c /d) defragment and pack each drive\n"
         "in turn, write VODURU.LOG to the program folder and end.\n"
         "\n"
         "Options (anywhere on the command line):\n"
         "  --help, -h, -?       show this text and end\n"
         "  --version            show the version and end\n"
         "  --drives MAP         the drive map for this run, as VODURU_DRIVES\n"
         "                       (c=/path/a.img;d=/dev/sdb1); on a whole disk an\n"
         "                       entry picks a partition: c=/disk.img,partition=2\n"
         "                       or c=/disk.img,offset=2048 (in 512-byte sectors)\n"
         "  --checked-view X     checked view of drive X (may repeat)\n"
         "  --fast-view X        fast view of drive X (may repeat)\n"
         "  --defrag X           defragment drive X, then pack it when \"Pack after\n"
         "                       Defrag\" is on (may repeat)\n"
         "  --no-pack            defragment only: \"Pack after Defrag\" is off for\n"
         "                       this run (also for drive letters); the stored\n"
         "                       option does not change\n"
         "  --checksum X         checksum every file of drive X into its checksum\n"
         "                       file (may repeat)\n"
         "  --validate X         compare drive X with its checksum file, update it\n"
         "                       and the check log (may repeat)\n"
         "  --scan-files X       read every file of drive X and time it (may repeat)\n"
         "  --map-png FILE       after each drive save the map area with its legend;\n"
         "                       %d in FILE becomes the drive letter\n"
         "  --hex X RECORD       print MFT record RECORD of drive X (on FAT: sector\n"
         "                       RECORD of the root directory) as Hex View shows it\n"
         "  --find X SEARCH      list the records of drive X that the Hex View search\n"
         "                       SEARCH matches (\"Two Names\", \"Size > 1Mb\", ...);\n"
         "                       \"FileName=PATTERN\", \"Entry x0h=80\" give the answer\n"
         "\n"
         "Drive commands run in the order given, then any drive letters.\n"
         "Exit status: 0 every run ended without an error, 1 a run stopped on an\n"
         "error or was refused, 2 the command line could not be read.\n";
}

}  // namespace vr
