// Recover fills the box from the game's registry value, whatever the box held before.
#include "Driver.h"

#include <gtest/gtest.h>

namespace {

using ui::Ostrel;
using ui::TempDir;

// Each test sets the game's key as it needs it and leaves the registry without it.
class Recover : public ::testing::Test {
  protected:
    void TearDown() override { ui::game_key::Delete(); }
    TempDir dir_;
};

} // namespace

TEST_F(Recover, BoxIsEmptyBeforeAnyRecover) {
    ui::game_key::SetValue(L"ABCD-EFGH-IJKL-MNOP");
    Ostrel ostrel(dir_.Path());
    EXPECT_EQ(ostrel.BoxText(), L"");
}

TEST_F(Recover, ShowsTheStoredKey) {
    ui::game_key::SetValue(L"ABCD-EFGH-IJKL-MNOP-QRST");
    Ostrel ostrel(dir_.Path());
    ostrel.Recover();
    EXPECT_EQ(ostrel.BoxText(), L"ABCD-EFGH-IJKL-MNOP-QRST");
    // The window does not write back what it read.
    EXPECT_EQ(ui::game_key::Value(), L"ABCD-EFGH-IJKL-MNOP-QRST");
}

TEST_F(Recover, ShowsErrorWhenTheValueIsMissing) {
    ui::game_key::CreateWithoutValue();
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"typed before");
    ostrel.Recover();
    EXPECT_EQ(ostrel.BoxText(), L"Error");
    EXPECT_EQ(ui::game_key::Value(), std::nullopt) << "Recover created the value";
}

TEST_F(Recover, ShowsErrorWhenTheKeyIsMissing) {
    ui::game_key::Delete();
    Ostrel ostrel(dir_.Path());
    ostrel.Recover();
    EXPECT_EQ(ostrel.BoxText(), L"Error");
    EXPECT_FALSE(ui::game_key::Exists()) << "Recover created the key";
}

TEST_F(Recover, AgainShowsTheSameKeyOverTheUsersEdit) {
    ui::game_key::SetValue(L"KEY1-KEY2-KEY3");
    Ostrel ostrel(dir_.Path());
    ostrel.Recover();
    ASSERT_EQ(ostrel.BoxText(), L"KEY1-KEY2-KEY3");
    ostrel.SetBoxText(L"edited by hand");
    ASSERT_EQ(ostrel.BoxText(), L"edited by hand");
    ostrel.Recover();
    EXPECT_EQ(ostrel.BoxText(), L"KEY1-KEY2-KEY3");
    ostrel.Recover();
    EXPECT_EQ(ostrel.BoxText(), L"KEY1-KEY2-KEY3");
}
