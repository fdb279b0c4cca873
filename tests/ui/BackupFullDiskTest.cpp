// Backup on a full disk. It needs a real full disk, which with-full-disk.sh makes (a tiny tmpfs
// with an earlier ostrel.txt on it) before running this test alone; its directory comes in
// OSTREL_FULL_DISK_DIR as a Linux path.
#include "FailedBackup.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    const ui::MessageBoxView box = ui::ExpectFailedBackup(ostrel, dir);
    EXPECT_NE(box.text.find(L"Error 112: "), std::wstring::npos) << "disk full expected";
    EXPECT_EQ(ui::ReadBytes(file), oldBackup);
}
