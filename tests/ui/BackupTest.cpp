// Backup writes the box, byte for byte, under the fixed header into ostrel.txt in the current
// directory, and confirms it.
#include "Driver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using ui::Ostrel;
using ui::TempDir;

const std::string kHeader =
    "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n" + std::string(36, '=') + "\r\n";

class Backup : public ::testing::Test {
  protected:
    void TearDown() override { ui::game_key::Delete(); }

    // Clicks Backup and checks the confirmation the user gets.
    void BackUp(Ostrel& ostrel, const std::wstring& confirmation = L"ostrel.txt written!") {
        const ui::MessageBoxView box = ostrel.Backup();
        EXPECT_EQ(box.caption, L"Ostrel v1.0");
        EXPECT_EQ(box.text, confirmation);
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

TEST_F(Backup, SaysWhenTheCodePageCouldNotHoldEveryCharacter) {
    ASSERT_EQ(::GetACP(), 1252u) << "the expected bytes below are the Western code page's";
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"\u041a\u043b\u044e\u0447-\u03a9");
    BackUp(ostrel, L"ostrel.txt written!\nSome characters cannot be stored in this system's code "
                   L"page and were written as '?' or a similar letter.");
    // The bytes are still what the code page makes of the text, its best-fit letters included.
    EXPECT_EQ(Saved(), kHeader + "?\?\?\?-O\r\n");
    EXPECT_EQ(ostrel.BoxText(), L"\u041a\u043b\u044e\u0447-\u03a9");
}

// A replace would give the new key to this name alone and leave the old one under the other.
TEST_F(Backup, RewritesAHardLinkedBackupSoThatEveryNameHoldsTheNewKey) {
    const std::wstring other = dir_.File(L"other-name.txt");
    ui::WriteBytes(dir_.File(L"ostrel.txt"), kHeader + "OLD\r\n");
    ASSERT_TRUE(::CreateHardLinkW(other.c_str(), dir_.File(L"ostrel.txt").c_str(), nullptr));
    Ostrel ostrel(dir_.Path());
    ostrel.SetBoxText(L"NEW");
    BackUp(ostrel);
    EXPECT_EQ(Saved(), kHeader + "NEW\r\n");
    EXPECT_EQ(ui::ReadBytes(other), kHeader + "NEW\r\n");
    EXPECT_EQ(ui::ListDirectory(dir_.Path()),
              (std::vector<std::wstring>{L"ostrel.txt", L"other-name.txt"}));
}

// Under Wine the final path of a file deeper than MAX_PATH cannot be read (error 234), as on
// Windows that of a file on a share whose path the user may not list: a file that is no link is
// then written under the name it was given.
TEST_F(Backup, WritesUnderTheGivenNameWhereTheFinalPathCannotBeRead) {
    std::wstring folder = dir_.Path();
    while (folder.size() < 256) {
        folder += L"\\" + std::wstring(std::min<size_t>(256 - folder.size(), 40), L'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) << ::GetLastError();
    }
    ui::WriteBytes(folder + L"\\ostrel.txt", kHeader + "OLD\r\n");
    Ostrel ostrel(folder);
    ostrel.SetBoxText(L"DEEP");
    BackUp(ostrel);
    EXPECT_EQ(ui::ReadBytes(folder + L"\\ostrel.txt"), kHeader + "DEEP\r\n");
    EXPECT_EQ(ui::ListDirectory(folder), std::vector<std::wstring>{L"ostrel.txt"});
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
