// The four options: how they are read at start-up and stored when toggled.
#include "app/options.h"

#include <gtest/gtest.h>

#include "app/shell.h"
#include "fake_shell.h"
#include "platform/platform.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

class OptionsTest : public ShellTest {
 protected:
  std::optional<std::string> Stored(const char* key) {
    return platform::Settings().Get("Options", key);
  }
  void Store(const char* key, const char* value) {
    platform::Settings().Save("Options", key, value);
  }
};

TEST_F(OptionsTest, AbsentKeysGiveTheDefaults) {
  ViewAfterDefrag = 0;
  DefragHugeFiles = kTrue;
  PackHugeFiles = kTrue;
  Read_Options();
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Review_));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::DefragHuge_));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::PackHuge_));
  EXPECT_EQ(ViewAfterDefrag, -1);
  EXPECT_EQ(DefragHugeFiles, 0);
  EXPECT_EQ(PackHugeFiles, 0);
}

TEST_F(OptionsTest, StoredTextsAreComparedExactly) {
  Store("Pack", "no");
  Store("ReView", "NO");
  Store("DefragHuge", "yes");
  Store("PackHuge", "Yes ");
  Read_Options();
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Review_));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::DefragHuge_));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::PackHuge_));
}

TEST_F(OptionsTest, StoredNoAndYesSwitchTheOptions) {
  Store("Pack", "No");
  Store("ReView", "No");
  Store("DefragHuge", "Yes");
  Store("PackHuge", "Yes");
  Read_Options();
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Review_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::DefragHuge_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::PackHuge_));
  EXPECT_EQ(ViewAfterDefrag, 0);
  EXPECT_EQ(DefragHugeFiles, -1);
  EXPECT_EQ(PackHugeFiles, -1);
}

TEST_F(OptionsTest, HugeOptionOnStoresYesAndOffDeletesTheKey) {
  Read_Options();
  DefragHuge__Click();
  EXPECT_EQ(Stored("DefragHuge"), "Yes");
  EXPECT_EQ(DefragHugeFiles, -1);
  DefragHuge__Click();
  EXPECT_FALSE(Stored("DefragHuge").has_value());
  EXPECT_EQ(DefragHugeFiles, 0);

  PackHuge__Click();
  EXPECT_EQ(Stored("PackHuge"), "Yes");
  EXPECT_EQ(PackHugeFiles, -1);
  PackHuge__Click();
  EXPECT_FALSE(Stored("PackHuge").has_value());
  EXPECT_EQ(PackHugeFiles, 0);
}

TEST_F(OptionsTest, DefaultOnOptionOffStoresNoAndOnDeletesTheKey) {
  Read_Options();
  Pack__Click();
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_EQ(Stored("Pack"), "No");
  Pack__Click();
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_FALSE(Stored("Pack").has_value());

  ReView__Click();
  EXPECT_EQ(Stored("ReView"), "No");
  EXPECT_EQ(ViewAfterDefrag, 0);
  ReView__Click();
  EXPECT_FALSE(Stored("ReView").has_value());
  EXPECT_EQ(ViewAfterDefrag, -1);
}

TEST_F(OptionsTest, ToggledOptionsSurviveARestart) {
  Read_Options();
  Pack__Click();
  PackHuge__Click();
  shell.checks.clear();
  Read_Options();
  EXPECT_FALSE(shell.MenuChecked(MenuItem::Pack_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::Review_));
  EXPECT_TRUE(shell.MenuChecked(MenuItem::PackHuge_));
}

TEST_F(OptionsTest, DefragPacksOnlyWhenPackAfterDefragIsChecked) {
  Read_Options();
  DeFrag__Click();
  Pack__Click();
  DeFrag__Click();
  ASSERT_EQ(viewMapFlags.size(), 2u);
  EXPECT_EQ(viewMapFlags[0], std::make_pair(-1, 1));
  EXPECT_EQ(viewMapFlags[1], std::make_pair(-1, 0));
}

}  // namespace
}  // namespace vr::test
