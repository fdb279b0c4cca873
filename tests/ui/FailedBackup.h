// What every failed Backup must leave behind, whatever made it fail.
#pragma once

#include "Driver.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace ui {

// Clicks Backup where it cannot succeed and checks that the user is told, in an error box that
// names the file by its full path in the program's current directory and speaks of an earlier
// backup only where there was one, and that nothing was lost: the directory holds what it held,
// and the window and its box are as they were. Returns the box for the case's own checks.
inline MessageBoxView ExpectFailedBackup(Ostrel& ostrel, const std::wstring& directory,
                                         bool earlierBackup) {
    const std::wstring boxBefore = ostrel.BoxText();
    const std::vector<std::wstring> namesBefore = ListDirectory(directory);
    const MessageBoxView box = ostrel.Backup();
    std::printf("failure box text: \"%s\"\n", Narrow(box.text).c_str());
    EXPECT_EQ(box.caption, L"Ostrel v1.0");
    EXPECT_EQ(box.text.rfind(directory + L"\\ostrel.txt could not be written.\n\nError ", 0), 0u)
        << Narrow(box.text);
    EXPECT_EQ(box.text.find(L"\n\nThe earlier ostrel.txt is unchanged.\n\n") != std::wstring::npos,
              earlierBackup)
        << Narrow(box.text);
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_TRUE(box.hasIcon);
    EXPECT_TRUE(box.blockedWindow);
    // No temporary file left behind, nothing new at all.
    EXPECT_EQ(ListDirectory(directory), namesBefore);
    EXPECT_TRUE(ostrel.Proc().Running()) << "the program ended on a failed backup";
    EXPECT_TRUE(::IsWindow(ostrel.Window()));
    EXPECT_EQ(ostrel.BoxText(), boxBefore);
    return box;
}

} // namespace ui
