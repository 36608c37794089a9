// Reading the command line.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace vr::test {
namespace {

TEST(CommandLineParse, WordsWithoutALongOptionAreTheClassicText) {
  ParseResult r = ParseCommandLine({"/c", "/d"});
  ASSERT_TRUE(r.ok);
  EXPECT_FALSE(r.options.optionRun);
  EXPECT_EQ(r.options.classic, "/c /d");

  // A long option anywhere makes an option line: "/c --drives MAP" is
  // "--drives MAP /c", and "-x" stays a classic word.
  r = ParseCommandLine({"/c", "--drives", "c=a.img", "-x", "--defrag", "d"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.optionRun);
  EXPECT_EQ(r.options.classic, "/c -x");
  EXPECT_EQ(r.options.driveMap, "c=a.img");
  ASSERT_EQ(r.options.actions.size(), 1u);
  EXPECT_EQ(r.options.actions[0].letter, 'd');
  r = ParseCommandLine({"/c", "--frobnicate"});
  EXPECT_FALSE(r.ok) << "an unknown long option anywhere is refused";

  // "-h" and "-?" ask for the help wherever they stand; they are no drives.
  for (const auto& words : {std::vector<std::string>{"-h"}, std::vector<std::string>{"-?"},
                            std::vector<std::string>{"/c", "-h"},
                            std::vector<std::string>{"--drives", "c=a.img", "-?"}}) {
    r = ParseCommandLine(words);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help) << words.back();
  }
  r = ParseCommandLine({"/h", "-hx"});
  EXPECT_FALSE(r.options.help) << "\"/h\" is drive H";
  EXPECT_EQ(r.options.classic, "/h -hx");

  r = ParseCommandLine({"  ", ""});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.classic, "");
}

TEST(CommandLineParse, DriveCommandsKeepTheirOrderAndRepeat) {
  const ParseResult r = ParseCommandLine(
      {"--defrag", "D", "--checked-view", "c:", "--fast-view", "e", "--defrag", "c"});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.options.actions.size(), 4u);
  EXPECT_EQ(r.options.actions[0].command, DriveCommand::Defrag);
  EXPECT_EQ(r.options.actions[0].letter, 'd');
  EXPECT_EQ(r.options.actions[1].command, DriveCommand::CheckedView);
  EXPECT_EQ(r.options.actions[1].letter, 'c');
  EXPECT_EQ(r.options.actions[2].command, DriveCommand::FastView);
  EXPECT_EQ(r.options.actions[2].letter, 'e');
  EXPECT_EQ(r.options.actions[3].letter, 'c');
  EXPECT_TRUE(r.options.classic.empty());
}

TEST(CommandLineParse, ToolOptionsNameADrive) {
  const ParseResult r = ParseCommandLine(
      {"--checksum", "C:", "--validate", "c", "--scan-files", "d", "--defrag", "c"});
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.options.actions.size(), 4u);
  EXPECT_EQ(r.options.actions[0].command, DriveCommand::Checksum);
  EXPECT_EQ(r.options.actions[0].letter, 'c');
  EXPECT_EQ(r.options.actions[1].command, DriveCommand::Validate);
  EXPECT_EQ(r.options.actions[2].command, DriveCommand::ScanFiles);
  EXPECT_EQ(r.options.actions[2].letter, 'd');
  EXPECT_EQ(r.options.actions[3].command, DriveCommand::Defrag);
  for (const char* option : {"--checksum", "--validate", "--scan-files"}) {
    EXPECT_FALSE(ParseCommandLine({option}).ok) << option;
    EXPECT_FALSE(ParseCommandLine({option, "cd"}).ok) << option;
    EXPECT_NE(UsageText().find(std::string("  ") + option + " X"), std::string::npos) << option;
  }
}

TEST(CommandLineParse, OtherWordsOfAnOptionLineAreClassicWords) {
  const ParseResult r = ParseCommandLine({"--drives", "c=/a.img;d=/b.img", "/c", "/d"});
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.options.optionRun);
  EXPECT_TRUE(r.options.haveDriveMap);
  EXPECT_EQ(r.options.driveMap, "c=/a.img;d=/b.img");
  EXPECT_EQ(r.options.classic, "/c /d");
}

TEST(CommandLineParse, UnreadableOptionLinesAreRefused) {
  EXPECT_FALSE(ParseCommandLine({"--frobnicate"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--defrag"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--defrag", "cd"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--defrag", "1"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--fast-view", "c", "--drives"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--help", "--bogus"}).ok);
  EXPECT_FALSE(ParseCommandLine({"--map-png"}).ok);
  const ParseResult r = ParseCommandLine({"--version", "--nope"});
  EXPECT_NE(r.error.find("--nope"), std::string::npos);
}

TEST(CommandLineParse, HelpVersionAndMapImage) {
  ParseResult r = ParseCommandLine({"--help"});
  EXPECT_TRUE(r.ok && r.options.help);
  r = ParseCommandLine({"--version"});
  EXPECT_TRUE(r.ok && r.options.version);
  r = ParseCommandLine({"--map-png", "out/map-%d.png", "--fast-view", "c"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.mapPng, "out/map-%d.png");
  EXPECT_NE(UsageText().find("--map-png"), std::string::npos);
  EXPECT_EQ(VersionText().rfind("VoduRU ", 0), 0u);
}

TEST(CommandLineParse, NoPackIsAFlagOfTheRunAndNamesNoDrive) {
  ParseResult r = ParseCommandLine({"--no-pack", "--defrag", "c", "/d"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.noPack);
  EXPECT_TRUE(r.options.optionRun);
  ASSERT_EQ(r.options.actions.size(), 1u);
  EXPECT_EQ(r.options.actions[0].letter, 'c');
  EXPECT_EQ(r.options.classic, "/d") << "--no-pack takes no value";
  r = ParseCommandLine({"--defrag", "c"});
  EXPECT_FALSE(r.options.noPack);
  // The help says what it does, beside --defrag.
  const std::string usage = UsageText();
  const size_t defrag = usage.find("  --defrag X");
  const size_t noPack = usage.find("  --no-pack ");
  ASSERT_NE(noPack, std::string::npos) << usage;
  EXPECT_GT(noPack, defrag);
  EXPECT_NE(usage.find("the stored", noPack), std::string::npos);
}

TEST(CommandLineParse, MapImageNameTakesTheDriveLetter) {
  EXPECT_EQ(MapPngPath("map-%d.png", 'c'), "map-c.png");
  EXPECT_EQ(MapPngPath("%d/%d.png", 'e'), "e/e.png");
  EXPECT_EQ(MapPngPath("map.png", 'c'), "map.png");
  EXPECT_EQ(MapPngPath("100%", 'c'), "100%");
}

}  // namespace
}  // namespace vr::test
