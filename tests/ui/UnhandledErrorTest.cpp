// The last-resort report: a box with the error's number and description, then the process ends
// with a failure exit code.
#include "Driver.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

std::wstring SystemDescription(DWORD error) {
    wchar_t text[512] = {};
    ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     text, 512, nullptr);
    std::wstring description = text;
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                    description.back() == L' ')) {
        description.pop_back();
    }
    return description;
}

} // namespace

TEST(UnhandledError, ShowsNumberAndDescriptionThenEndsTheProcess) {
    ui::TempDir dir;
    ui::Process reporter(ui::WinePath(OSTREL_REPORTER_EXE), dir.Path());
    const ui::MessageBoxView box = ui::WaitForMessageBox(reporter.Id());
    std::printf("unhandled error box text: \"%s\"\n", ui::Narrow(box.text).c_str());
    EXPECT_EQ(box.caption, L"Ostrel v1.0");
    EXPECT_NE(box.text.find(L"112"), std::wstring::npos);
    const std::wstring description = SystemDescription(ERROR_DISK_FULL);
    ASSERT_FALSE(description.empty());
    EXPECT_NE(box.text.find(description), std::wstring::npos) << ui::Narrow(description);
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_TRUE(box.hasIcon);
    // The process waits for the user before it ends.
    EXPECT_TRUE(reporter.Running());

    ui::DismissMessageBox(box);
    const std::optional<DWORD> exitCode = reporter.WaitForExit();
    ASSERT_TRUE(exitCode.has_value()) << "still running after the report was dismissed";
    EXPECT_EQ(*exitCode, static_cast<DWORD>(ERROR_DISK_FULL));
}

TEST(UnhandledError, OutOfMemoryAndStringLengthAreReportedWithTheirNumbersThenEnd) {
    struct Case {
        const wchar_t* failure;
        DWORD error;
    };
    // Running out of memory is error 8; a string past its maximum length is an internal error.
    for (const Case& c :
         {Case{L"memory", ERROR_NOT_ENOUGH_MEMORY}, Case{L"length", ERROR_INTERNAL_ERROR}}) {
        SCOPED_TRACE(ui::Narrow(c.failure));
        ui::TempDir dir;
        ui::Process process(ui::WinePath(OSTREL_RUNTIME_FAILURE_EXE), dir.Path(), c.failure);
        const ui::MessageBoxView box = ui::WaitForMessageBox(process.Id());
        EXPECT_EQ(box.caption, L"Ostrel v1.0");
        const std::wstring number = L"error " + std::to_wstring(c.error) + L":";
        EXPECT_NE(box.text.find(number), std::wstring::npos) << ui::Narrow(box.text);
        const std::wstring description = SystemDescription(c.error);
        ASSERT_FALSE(description.empty());
        EXPECT_NE(box.text.find(description), std::wstring::npos) << ui::Narrow(box.text);
        EXPECT_TRUE(process.Running());

        ui::DismissMessageBox(box);
        const std::optional<DWORD> exitCode = process.WaitForExit();
        ASSERT_TRUE(exitCode.has_value()) << "still running after the report was dismissed";
        EXPECT_EQ(*exitCode, c.error);
    }
}
