// A Backup that cannot replace ostrel.txt says so and loses nothing: the old file stays as it was
// and the window keeps the key.
#include "FailedBackup.h"

#include <gtest/gtest.h>

namespace {

using ui::Ostrel;
using ui::TempDir;

const std::string kOldBackup = "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n" +
                               std::string(36, '=') + "\r\nOLD-KEY-KEEP-ME\r\n";

} // namespace

TEST(BackupFailure, ReportsADirectoryInTheWay) {
    TempDir dir;
    const std::wstring folder = dir.File(L"ostrel.txt");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ui::WriteBytes(folder + L"\\inside.txt", kOldBackup);
    Ostrel ostrel(dir.Path());
    ostrel.SetBoxText(L"NEW-KEY");
    const ui::MessageBoxView box = ui::ExpectFailedBackup(ostrel, dir.Path(), false);
    EXPECT_NE(box.text.find(L"Error 5: "), std::wstring::npos) << "access denied expected";
    EXPECT_TRUE(::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(ui::ListDirectory(folder), std::vector<std::wstring>{L"inside.txt"});
    EXPECT_EQ(ui::ReadBytes(folder + L"\\inside.txt"), kOldBackup);
}

TEST(BackupFailure, RefusesAReadOnlyBackup) {
    TempDir dir;
    const std::wstring file = dir.File(L"ostrel.txt");
    ui::WriteBytes(file, kOldBackup);
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    Ostrel ostrel(dir.Path());
    ostrel.SetBoxText(L"NEW-KEY");
    const ui::MessageBoxView box = ui::ExpectFailedBackup(ostrel, dir.Path(), true);
    EXPECT_NE(box.text.find(L"Error 5: "), std::wstring::npos) << "access denied expected";
    EXPECT_EQ(ui::ReadBytes(file), kOldBackup);
    EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL); // so that the folder can go
}

TEST(BackupFailure, ReportsAFileHeldOpenByAnotherProgramThenSucceedsOnceReleased) {
    TempDir dir;
    const std::wstring file = dir.File(L"ostrel.txt");
    ui::WriteBytes(file, kOldBackup);
    Ostrel ostrel(dir.Path());
    ostrel.SetBoxText(L"NEW-KEY");
    {
        // Open with no sharing at all, as an editor or a scanner might hold it.
        const HANDLE held =
            ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        ui::ExpectFailedBackup(ostrel, dir.Path(), true);
        ::CloseHandle(held);
    }
    EXPECT_EQ(ui::ReadBytes(file), kOldBackup);
    // The window is still usable: the same click works once the file is free.
    const ui::MessageBoxView box = ostrel.Backup();
    EXPECT_EQ(box.text, L"ostrel.txt written!");
    EXPECT_EQ(ui::ReadBytes(file),
              kOldBackup.substr(0, kOldBackup.find("OLD-KEY")) + "NEW-KEY\r\n");
}
