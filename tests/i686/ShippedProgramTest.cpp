// The program that ships, the 32-bit build, in a 64-bit prefix: the only build that sees the game's
// key through the 32-bit registry view, and the only one built with its exception model, runtime
// and calling conventions. Each start costs about a minute where 32-bit code runs under emulation,
// so the whole suite is one session of one process: the cases run in order, on one window.
#include "FailedBackup.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

using ui::kCommand1;
using ui::kCommand2;
using ui::kLabel1;
using ui::kLabel2;
using ui::kText1;
using ui::Ostrel;
using ui::TempDir;

// The game, a 32-bit program, wrote its key through the 32-bit view; a different one sits where a
// 64-bit reader would look, so that reading the wrong view cannot pass.
const std::wstring kKeyIn32BitView = L"WOW6-4NOD-E32B-ITKE-Y000";
const std::wstring kKeyIn64BitView = L"NATI-VE64-BITV-IEWK-EY00";

// Twips to pixels at the prefix's 96 DPI, rounded as the window rounds them.
int Px(int twips) {
    return ::MulDiv(twips, 96, 1440);
}

const std::string kHeader =
    "Ostrel v1.1\r\nhttps://ostrel.example.org\r\n" + std::string(36, '=') + "\r\n";

class ShippedProgram : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ui::game_key::SetValue(kKeyIn32BitView, KEY_WOW64_32KEY);
        ui::game_key::SetValue(kKeyIn64BitView, KEY_WOW64_64KEY);
        dir_ = std::make_unique<TempDir>();
        versionFile_ = dir_->File(L"version.txt");
        // Wine's CreateProcess returns only once the new process has started, which under
        // emulation takes as long as the program's own start: the reader starts on a thread of its
        // own, alongside the program, and is read last.
        std::string readerError;
        std::thread readerStart([&] {
            try {
                versionReader_ = std::make_unique<ui::Process>(
                    ui::WinePath(OSTREL_VERSION_READER_EXE), dir_->Path(),
                    L"\"" + ui::WinePath(OSTREL_EXE) + L"\" \"" + versionFile_ + L"\"");
            } catch (const std::exception& error) {
                readerError = error.what();
            }
        });
        try {
            ostrel_ = std::make_unique<Ostrel>(dir_->Path(), ui::WinePath(OSTREL_EXE));
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        readerStart.join();
        if (!readerError.empty()) {
            ADD_FAILURE() << readerError;
        }
    }

    static void TearDownTestSuite() {
        ostrel_.reset();
        versionReader_.reset();
        dir_.reset();
        ui::game_key::Delete(KEY_WOW64_32KEY);
        ui::game_key::Delete(KEY_WOW64_64KEY);
    }

    void SetUp() override {
        ASSERT_TRUE(ostrel_) << "the 32-bit program never showed its window";
        ASSERT_TRUE(ostrel_->Proc().Running()) << "the 32-bit program has ended";
    }

    static std::unique_ptr<TempDir> dir_;
    static std::wstring versionFile_;
    static std::unique_ptr<ui::Process> versionReader_;
    static std::unique_ptr<Ostrel> ostrel_;
};

std::unique_ptr<TempDir> ShippedProgram::dir_;
std::wstring ShippedProgram::versionFile_;
std::unique_ptr<ui::Process> ShippedProgram::versionReader_;
std::unique_ptr<Ostrel> ShippedProgram::ostrel_;

} // namespace

TEST_F(ShippedProgram, OpensItsWindowWithCaptionControlsAndSize) {
    // The build under test is the shipped one: a 32-bit process on this 64-bit Wine.
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ostrel_->Proc().Id());
    ASSERT_TRUE(process);
    BOOL wow64 = FALSE;
    EXPECT_TRUE(::IsWow64Process(process, &wow64));
    ::CloseHandle(process);
    EXPECT_TRUE(wow64) << "ostrel.exe runs as a 64-bit process";
    EXPECT_EQ(ui::ReadText(ostrel_->Window()), L"Ostrel 1.1");
    RECT client{};
    ASSERT_TRUE(::GetClientRect(ostrel_->Window(), &client));
    EXPECT_EQ(client.right, 378);
    EXPECT_EQ(client.bottom, 154);
    const struct {
        int id;
        const wchar_t* text;
        RECT twips; // left, top, right, bottom
    } controls[] = {
        {kText1, L"", {1508, 240, 1508 + 2655, 240 + 375}},
        {kCommand1, L"Recover", {1508, 1200, 1508 + 975, 1200 + 375}},
        {kCommand2, L"Backup", {3188, 1200, 3188 + 975, 1200 + 375}},
    };
    for (const auto& control : controls) {
        const HWND window = ostrel_->Control(control.id);
        ASSERT_TRUE(window) << "control " << control.id;
        EXPECT_EQ(ui::ReadText(window), control.text) << "control " << control.id;
        const RECT rect = ui::ChildRect(window);
        EXPECT_EQ(rect.left, Px(control.twips.left)) << "control " << control.id;
        EXPECT_EQ(rect.top, Px(control.twips.top)) << "control " << control.id;
        EXPECT_EQ(rect.right, Px(control.twips.right)) << "control " << control.id;
        EXPECT_EQ(rect.bottom, Px(control.twips.bottom)) << "control " << control.id;
    }
    EXPECT_TRUE(ostrel_->Control(kLabel1));
    EXPECT_TRUE(ostrel_->Control(kLabel2));
}

TEST_F(ShippedProgram, RecoverReadsTheKeyWhereThe32BitGameLeftIt) {
    ostrel_->Recover();
    EXPECT_EQ(ostrel_->BoxText(), kKeyIn32BitView);
    // Read only, both views.
    EXPECT_EQ(ui::game_key::Value(KEY_WOW64_32KEY), kKeyIn32BitView);
    EXPECT_EQ(ui::game_key::Value(KEY_WOW64_64KEY), kKeyIn64BitView);
}

TEST_F(ShippedProgram, RecoverShowsErrorOnceThe32BitValueIsGoneWhatever64BitHolds) {
    ui::game_key::CreateWithoutValue(KEY_WOW64_32KEY);
    ostrel_->Recover();
    EXPECT_EQ(ostrel_->BoxText(), L"Error");
    ui::game_key::Delete(KEY_WOW64_32KEY);
    ostrel_->SetBoxText(L"typed before");
    ostrel_->Recover();
    EXPECT_EQ(ostrel_->BoxText(), L"Error") << "with the 32-bit key itself gone";
    EXPECT_EQ(ui::game_key::Value(KEY_WOW64_32KEY), std::nullopt) << "Recover created the value";
}

TEST_F(ShippedProgram, BackupWritesExactlyTheFourLines) {
    // Spaces kept as typed; a character of the ANSI code page beyond ASCII goes out as one byte.
    ASSERT_EQ(::GetACP(), 1252u) << "the expected byte below is the Western code page's";
    ostrel_->SetBoxText(L"  ABC-\u00e9 ");
    const ui::MessageBoxView box = ostrel_->Backup();
    EXPECT_EQ(box.caption, L"Ostrel v1.0");
    EXPECT_EQ(box.text, L"ostrel.txt written!");
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_EQ(ui::ReadBytes(dir_->File(L"ostrel.txt")), kHeader + "  ABC-\xe9 \r\n");
}

TEST_F(ShippedProgram, FailedBackupShowsTheErrorBoxAndTheProgramLivesOn) {
    const std::wstring file = dir_->File(L"ostrel.txt");
    ASSERT_TRUE(::DeleteFileW(file.c_str()));
    ASSERT_TRUE(::CreateDirectoryW(file.c_str(), nullptr));
    ostrel_->SetBoxText(L"KEPT-AFTER-FAILURE");
    const ui::MessageBoxView box = ui::ExpectFailedBackup(*ostrel_, dir_->Path(), false);
    EXPECT_NE(box.text.find(L"Error 5: "), std::wstring::npos) << "access denied expected";
    // Still answering, and the same click works once the way is clear.
    ASSERT_TRUE(::RemoveDirectoryW(file.c_str()));
    EXPECT_EQ(ostrel_->Backup().text, L"ostrel.txt written!");
    EXPECT_EQ(ui::ReadBytes(file), kHeader + "KEPT-AFTER-FAILURE\r\n");
}

TEST_F(ShippedProgram, VersionBlockReadsThroughGetFileVersionInfoIn32BitProcess) {
    ASSERT_TRUE(versionReader_) << "the 32-bit version reader did not start";
    ASSERT_EQ(versionReader_->WaitForExit(), 0u) << "the 32-bit version reader failed";
    std::map<std::string, std::string> found;
    std::istringstream lines(ui::ReadBytes(versionFile_));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        ASSERT_NE(equals, std::string::npos) << line;
        found[line.substr(0, equals)] = line.substr(equals + 1);
    }
    const std::map<std::string, std::string> expected = {
        {"reader.pointer_bits", "32"},
        {"fixed.signature", std::to_string(0xFEEF04BDu)},
        {"fixed.FileVersion", "1.1.0.0"},
        {"fixed.ProductVersion", "1.1.0.0"},
        {"fixed.FileType", "1"}, // VFT_APP
        {"fixed.FileFlags", "0"},
        {"Translation", "040904b0"}, // U.S. English, UTF-16
        {"CompanyName", "Ostrel Team"},
        {"FileDescription", "Ostrel v1.0"},
        {"FileVersion", "1.01"},
        {"InternalName", "ostrel"},
        {"OriginalFilename", "ostrel.exe"},
        {"ProductName", "Ostrel v1.0"},
        {"ProductVersion", "1.01"},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(ShippedProgram, ClosingTheWindowEndsTheProgramCleanly) {
    EXPECT_EQ(ostrel_->Close(), 0u);
}
