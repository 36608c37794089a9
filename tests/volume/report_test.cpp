#include "volume/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

class ReportTest : public testing::Test {
 protected:
  void SetUp() override {
    SetMainWindow(&window);
    ResetErrorState();
    DebugLogPath.clear();
    DebugLogText.clear();
  }
  void TearDown() override {
    SetMainWindow(nullptr);
    DebugLogPath.clear();
    DebugLogText.clear();
    Unattended = false;
  }
  RecordingMainWindow window;
};

TEST(SizeText, ValuesAcrossEveryUnit) {
  EXPECT_EQ(SizeText(0), ".0Kb");
  EXPECT_EQ(SizeText(1), ".5Kb");
  EXPECT_EQ(SizeText(2), "1Kb");
  EXPECT_EQ(SizeText(3), "1.5Kb");
  EXPECT_EQ(SizeText(1022), "511Kb");
  EXPECT_EQ(SizeText(1024), "512Kb");
  EXPECT_EQ(SizeText(2047), "1023.5Kb");
  EXPECT_EQ(SizeText(2048), "1.00Mb");
  EXPECT_EQ(SizeText(20479), "10.00Mb");  // 9.9995 rounds up but stays in its band
  EXPECT_EQ(SizeText(20480), "10.0Mb");
  EXPECT_EQ(SizeText(204800), "100Mb");
  EXPECT_EQ(SizeText(2097151), "1024Mb");
  EXPECT_EQ(SizeText(2097152), "1.02Gb");
  EXPECT_EQ(SizeText(4194304), "2.05Gb");
  EXPECT_EQ(SizeText(-5), ".5Kb");
}

TEST_F(ReportTest, PiecesAndLineFormOneLogLine) {
  DebugLogPath = "unused";
  ReportPiece("AllocUnit=");
  ReportPiece(" 2 ");
  ReportSize("Kb,  Size=", 2048);
  ReportError("bad");
  ReportNote("note");
  EXPECT_EQ(DebugLogText, "AllocUnit= 2 Kb,  Size=1.00Mb\r\nbad\r\nnote\r\n");
  ASSERT_EQ(window.Lines().size(), 3u);
  EXPECT_EQ(window.Lines()[0].Text(), "AllocUnit= 2 Kb,  Size=1.00Mb");
  EXPECT_EQ(window.Lines()[1].pieces[0].colour, kLightRed);
  EXPECT_EQ(window.Lines()[2].pieces[0].colour, kLightGreen);
}

TEST_F(ReportTest, NothingIsCollectedWithoutALogPath) {
  ReportLine("x");
  EXPECT_TRUE(DebugLogText.empty());
  EXPECT_FALSE(WriteLogAndEnd());
}

TEST_F(ReportTest, WriteLogAndEndWritesCollectedLinesAndOneMoreLineEnd) {
  const auto dir = std::filesystem::temp_directory_path() / "voduru-report-test";
  std::filesystem::create_directories(dir);
  DebugLogPath = (dir / "VODURU.LOG").string();
  ReportLine("Drive=c: [X]  FS=FAT");
  EXPECT_TRUE(WriteLogAndEnd());
  std::ifstream in(DebugLogPath, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "Drive=c: [X]  FS=FAT\r\n\r\n");
}

TEST_F(ReportTest, ErrorProceduresCountAndKeepTheFirstRecordFault) {
  Rec_Error("first", {});
  Rec_Error("second", {});
  EXPECT_EQ(ErrorState.ErrorText, "first");
  EXPECT_EQ(ErrorState.ErrorCount, 2);
  EXPECT_EQ(ErrorState.Failed, -1);
  Set_Error("third");
  EXPECT_EQ(ErrorState.ErrorText, "third");
  Read_Error();
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
  EXPECT_EQ(ErrorState.ErrorCount, 4);
  ErrorState.ErrorCount = 32767;
  EXPECT_THROW(Read_Error(), RunError);
}

TEST_F(ReportTest, ShowErrorsPrintsContextAndClassifiesTheFault) {
  Read_Error();
  ErrorState.ErrorWhere = "LFB:12";
  Show_Errors(0);
  EXPECT_EQ(window.LineTexts(),
            (std::vector<std::string>{"Err=Error reading drive", "Source=LFB:12"}));
  EXPECT_EQ(ErrorState.RecordFault, 0) << "a plain read failure is not a structural fault";
  Show_Errors(7);
  EXPECT_EQ(ErrorState.OutOfMemory, -1);
  EXPECT_EQ(window.Lines().size(), 2u);
  Show_Errors(6);
  EXPECT_EQ(ErrorState.InternalFault, -1);
  Show_Errors(0);
  EXPECT_EQ(ErrorState.RecordFault, -1);
}

TEST_F(ReportTest, ErrorSummaryShowsExactlyOneBoxInOrder) {
  ErrorState.ReadFault = kTrue;
  ErrorState.RecordFault = kTrue;
  ErrorState.OutOfMemory = kTrue;
  Check4Errors();
  ASSERT_EQ(window.boxes.size(), 1u);
  EXPECT_EQ(window.boxes[0].rfind("A serious disk error has occurred on this drive.\r\n", 0), 0u);
  EXPECT_EQ(window.beeps, 1);
  Check4Errors();
  EXPECT_EQ(window.boxes.back().rfind("There is insufficient memory", 0), 0u);
  Check4Errors();
  EXPECT_EQ(window.boxes.back(),
            "Structural errors have been detected on this drive.\r\n"
            "Run CHKDSK /F on this drive before continuing.");
  Check4Errors();
  EXPECT_EQ(window.boxes.size(), 3u);
  ErrorState.InternalFault = kTrue;
  Check4Errors();
  Check4Errors();
  EXPECT_EQ(window.boxes.size(), 5u) << "the internal-fault flag stays set";
}

TEST_F(ReportTest, UnattendedBoxesDoNotWaitAndReachTheLog) {
  Unattended = true;
  DebugLogPath = "unused";
  ErrorState.RecordFault = kTrue;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  Check4Errors();
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(window.boxes.empty());
  EXPECT_EQ(DebugLogText,
            "Structural errors have been detected on this drive.\r\n"
            "Run CHKDSK /F on this drive before continuing.\r\n");
  EXPECT_NE(err.find("Run CHKDSK /F on this drive"), std::string::npos);
}

TEST_F(ReportTest, StopReportDependsOnCountedErrors) {
  Report_Stop();
  ErrorState.AlignmentMark = kTrue;  // only the pending alignment mark
  Report_Stop();
  ErrorState.ErrorCount = 1;
  Report_Stop();
  EXPECT_EQ(window.LineTexts(), (std::vector<std::string>{"User stop", "User stop", "Error stop"}));
  EXPECT_EQ(window.Lines()[2].pieces[0].colour, kLightRed);
}

TEST_F(ReportTest, TheAlignmentMarkIsNoErrorAndNoCountIsAMark) {
  // The 16384th error is an error (it once read as the mark, and as no error).
  ErrorState.ErrorCount = 0x3FFF;
  Read_Error();
  EXPECT_EQ(ErrorState.ErrorCount, 0x4000);
  EXPECT_EQ(ErrorState.AlignmentMark, 0);
  EXPECT_TRUE(AnyErrorCounted());
  // Setting the count (as "Drive Busy" and "Bitmap: unmarked=" do) leaves a
  // pending mark for the record decoder.
  ErrorState.AlignmentMark = kTrue;
  ErrorState.ErrorCount = 1;
  EXPECT_NE(ErrorState.AlignmentMark, 0);
  Report_Stop();
  ErrorState.ErrorCount = 0;
  EXPECT_FALSE(AnyErrorCounted());
  Report_Stop();
  ResetErrorState();
  EXPECT_EQ(ErrorState.AlignmentMark, 0);
  EXPECT_EQ(window.LineTexts(), (std::vector<std::string>{"Error stop", "User stop"}));
}

class FakeSurface : public StatusSurface {
 public:
  struct Op {
    std::string what;
    int x, y, w, colour;
    std::string text;
  };
  int Width() const override { return 300; }
  int Height() const override { return 60; }
  int TextHeight(const std::string&) const override { return 12; }
  int TextWidth(const std::string& t) const override { return 6 * static_cast<int>(t.size()); }
  void FillBox(int x, int y, int w, int, int c) override {
    ops.push_back({"fill", x, y, w, c, ""});
  }
  void DrawText(int x, int y, const std::string& t, int c) override {
    ops.push_back({"text", x, y, 0, c, t});
  }
  void Update() override { ops.push_back({"update", 0, 0, 0, 0, ""}); }
  std::vector<Op> ops;
};

TEST_F(ReportTest, StatusLinesEraseThenDrawAtTheirColumns) {
  FakeSurface s;
  StatusColumn = 160;
  Status_Label(10, s, "Files:", kBlack);
  Status_Value(22, s, "", kBlack);
  Status_Value(22, s, "busy", kYellow);
  ASSERT_EQ(s.ops.size(), 9u);
  EXPECT_EQ(s.ops[0].x, 4);
  EXPECT_EQ(s.ops[0].w, 60);
  EXPECT_EQ(s.ops[0].colour, kWhite);
  EXPECT_EQ(s.ops[3].x, 140);
  EXPECT_EQ(s.ops[3].w, 160);
  EXPECT_EQ(s.ops[4].text, " ");
  EXPECT_EQ(s.ops[4].x, 141);
  EXPECT_EQ(s.ops[6].colour, kLightBlue) << "yellow text gets a highlight as wide as the text";
  EXPECT_EQ(s.ops[6].w, 24);
}

}  // namespace
}  // namespace vr
