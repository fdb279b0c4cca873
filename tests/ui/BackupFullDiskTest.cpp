// Backups in folders only the Linux side can set up, each run alone by its wrapper script, which
// passes the folder as a Linux path: a real full disk (with-full-disk.sh, a tiny tmpfs with an
// earlier ostrel.txt on it), a symbolic link and a folder closed to new files, on a disk with
// room or without (with-linux-files.sh).
#include "FailedBackup.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string kHeader =
    "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n" + std::string(36, '=') + "\r\n";
const std::string kOldBackup = kHeader + "OLD-KEY-KEEP-ME\r\n";

} // namespace

TEST(BackupFailure, ReportsAFullDiskAndKeepsTheEarlierBackup) {
    const char* linuxDir = std::getenv("OSTREL_FULL_DISK_DIR");
    if (!linuxDir) {
        GTEST_SKIP() << "run through with-full-disk.sh";
    }
    const std::wstring dir = ui::WinePath(linuxDir);
    const std::wstring file = dir + L"\\ostrel.txt";
    const std::string oldBackup = ui::ReadBytes(file);
    ASSERT_FALSE(oldBackup.empty());

    // Longer than the space left, so the write starts and then runs out.
    const std::wstring key(6000, L'K');
    ULARGE_INTEGER freeBytes{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(dir.c_str(), &freeBytes, nullptr, nullptr));
    ASSERT_LT(freeBytes.QuadPart, key.size());

    ui::Ostrel ostrel(dir);
    ostrel.SetBoxText(key);
    const ui::MessageBoxView box = ui::ExpectFailedBackup(ostrel, dir, true);
    EXPECT_NE(box.text.find(L"Error 112: "), std::wstring::npos) << "disk full expected";
    EXPECT_EQ(ui::ReadBytes(file), oldBackup);
}

// A Linux symbolic link, made by with-linux-files.sh, which also checks that it is still a link.
TEST(BackupFailure, ReplacesTheFileASymlinkedBackupPointsTo) {
    const char* linuxDir = std::getenv("OSTREL_SYMLINK_DIR");
    if (!linuxDir) {
        GTEST_SKIP() << "run through with-linux-files.sh";
    }
    const std::wstring dir = ui::WinePath(linuxDir);
    ui::Ostrel ostrel(dir);
    ostrel.SetBoxText(L"THROUGH-THE-LINK");
    EXPECT_EQ(ostrel.Backup().text, L"ostrel.txt written!");
    EXPECT_EQ(ui::ReadBytes(dir + L"\\real\\ostrel.txt"), kHeader + "THROUGH-THE-LINK\r\n");
    EXPECT_EQ(ui::ListDirectory(dir), (std::vector<std::wstring>{L"ostrel.txt", L"real"}));
    EXPECT_EQ(ui::ListDirectory(dir + L"\\real"), std::vector<std::wstring>{L"ostrel.txt"});
}

// Root writes anywhere, so with-linux-files.sh runs this as an ordinary user, in a folder of
// root's that holds an ostrel.txt of that user's.
TEST(BackupFailure, RewritesInPlaceWhereTheFolderTakesNoNewFile) {
    const char* linuxDir = std::getenv("OSTREL_LOCKED_DIR");
    if (!linuxDir) {
        GTEST_SKIP() << "run through with-linux-files.sh";
    }
    const std::wstring dir = ui::WinePath(linuxDir);
    const std::wstring file = dir + L"\\ostrel.txt";
    ASSERT_EQ(ui::ReadBytes(file), kOldBackup);
    // The folder really takes no new file for this user.
    const HANDLE probe = ::CreateFileW((dir + L"\\probe.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, 0, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    ui::Ostrel ostrel(dir);
    ostrel.SetBoxText(L"IN-PLACE");
    const ui::MessageBoxView box = ostrel.Backup();
    EXPECT_EQ(box.text, L"ostrel.txt written!");
    EXPECT_EQ(ui::ReadBytes(file), kHeader + "IN-PLACE\r\n");
    EXPECT_EQ(ui::ListDirectory(dir), std::vector<std::wstring>{L"ostrel.txt"});
}

// The same folder on a full disk: the rewrite in place runs out of space part-way through, and
// the earlier backup must come back whole.
TEST(BackupFailure, PutsTheEarlierBackupBackWhenRewritingInPlaceRunsOutOfSpace) {
    const char* linuxDir = std::getenv("OSTREL_LOCKED_FULL_DIR");
    if (!linuxDir) {
        GTEST_SKIP() << "run through with-linux-files.sh";
    }
    const std::wstring dir = ui::WinePath(linuxDir);
    const std::wstring file = dir + L"\\ostrel.txt";
    ASSERT_EQ(ui::ReadBytes(file), kOldBackup);

    ui::Ostrel ostrel(dir);
    ostrel.SetBoxText(std::wstring(6000, L'K')); // more than the page the old file holds
    const ui::MessageBoxView box = ui::ExpectFailedBackup(ostrel, dir, true);
    EXPECT_NE(box.text.find(L"Error 112: "), std::wstring::npos) << "disk full expected";
    EXPECT_EQ(ui::ReadBytes(file), kOldBackup);
}
