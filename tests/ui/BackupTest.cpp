// Backup writes the box, byte for byte, under the fixed header into ostrel.txt in the current
// directory, and confirms it.
#include "Driver.h"

#include <gtest/gtest.h>

namespace {

using ui::Ostrel;
using ui::TempDir;

const std::string kHeader =
    "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n" + std::string(36, '=') + "\r\n";

class Backup : public ::testing::Test {
  protected:
    void TearDown() override { ui::game_key::Delete(); }

    // Clicks Backup and checks the confirmation the user gets.
    void BackUp(Ostrel& ostrel) {
        const ui::MessageBoxView box = ostrel.Backup();
        EXPECT_EQ(box.caption, L"Ostrel v1.0");
        EXPECT_EQ(box.text, L"ostrel.txt written!");
        EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
        EXPECT_FALSE(box.hasIcon);
        // Modal: the window takes no clicks until the box is gone, and takes them again after.
        EXPECT_TRUE(box.blockedWindow);
        EXPECT_TRUE(ui::WaitUntil([&] { return ::IsWindowEnabled(ostrel.Window()) != FALSE; }));
    }

    std::string Saved() const { return ui::ReadBytes(dir_.File(L"ostrel.txt")); }

    TempDir dir_;
};

} // namespace

TEST_F(Backup, WritesHeaderAndBoxText) {
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"ABC");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n"
                       "====================================\r\nABC\r\n");
    EXPECT_EQ(ui::ListDirectory(dir_.Path()), std::vector<std::wstring>{L"ostrel.txt"});
    EXPECT_EQ(ostrel.BoxText(), L"ABC");
}

TEST_F(Backup, SavesAnUntouchedBoxAsAnEmptyLineWithoutReadingTheRegistry) {
    // A Recover would have shown this; Backup alone must not read it, nor write anything back.
    ui::game_key::SetValue(L"STORED-KEY");
    Ostrel ostrel(dir_.Path());
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "\r\n");
    EXPECT_EQ(ostrel.BoxText(), L"");
    EXPECT_EQ(ui::game_key::Value(), L"STORED-KEY");
}

TEST_F(Backup, LeavesAMissingGameKeyMissing) {
    ui::game_key::Delete();
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"typed by hand");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "typed by hand\r\n");
    EXPECT_FALSE(ui::game_key::Exists());
}

TEST_F(Backup, KeepsLeadingAndTrailingSpaces) {
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"  KEY WITH SPACES   ");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "  KEY WITH SPACES   \r\n");
}

TEST_F(Backup, SavesAccentedLettersInTheAnsiCodePage) {
    ASSERT_EQ(::GetACP(), 1252u) << "the expected byte below is the Western code page's";
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"caf\u00e9");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "caf\xE9\r\n");
}

TEST_F(Backup, SecondBackupReplacesTheFirst) {
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"A MUCH LONGER FIRST KEY");
    BackUp(ostrel);
    ostrel.SetBoxText(L"SHORT");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "SHORT\r\n");
    EXPECT_EQ(ui::ListDirectory(dir_.Path()), std::vector<std::wstring>{L"ostrel.txt"});
}

TEST_F(Backup, ReplacesABackupFromAnEarlierRun) {
    ui::WriteBytes(dir_.File(L"ostrel.txt"), kHeader + "OLD-KEY-FROM-LAST-WEEK\r\n");
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"NEW");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "NEW\r\n");
}

TEST_F(Backup, KeepsAHiddenBackupHidden) {
    const std::wstring file = dir_.File(L"ostrel.txt");
    ui::WriteBytes(file, kHeader + "OLD\r\n");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"NEW");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "NEW\r\n");
    EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(Backup, IgnoresAClickThatArrivesWhileItsBoxIsUp) {
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"ONCE");
    // Both queued before the first runs: the second reaches the window inside the box's loop.
    ASSERT_TRUE(::PostMessageW(ostrel.Control(103), BM_CLICK, 0, 0));
    ASSERT_TRUE(::PostMessageW(ostrel.Control(103), BM_CLICK, 0, 0));
    const ui::MessageBoxView box = ui::WaitForMessageBox(ostrel.Proc().Id());
    EXPECT_EQ(::GetWindow(box.box, GW_OWNER), ostrel.Window());
    EXPECT_FALSE(ui::WaitUntil([&] { return ui::CountMessageBoxes(ostrel.Proc().Id()) > 1; }, 500));
    ui::DismissMessageBox(box);
    EXPECT_FALSE(
        ui::WaitUntil([&] { return ui::FindMessageBox(ostrel.Proc().Id()) != nullptr; }, 500));
    EXPECT_EQ(Saved(), kHeader + "ONCE\r\n");
}

TEST_F(Backup, SavesTheRecoveredKey) {
    ui::game_key::SetValue(L"RECOVERED-KEY-0001");
    Ostrel ostrel(dir_.Path());
    ostrel.Recover();
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "RECOVERED-KEY-0001\r\n");
    EXPECT_EQ(ui::game_key::Value(), L"RECOVERED-KEY-0001");
}
