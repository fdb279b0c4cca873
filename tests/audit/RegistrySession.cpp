// One ordinary session in ostrel's window, as a user would have it: Recover with the game's key
// present, an edit of the box, Backup, Backup again, a Backup that fails (another program holds
// ostrel.txt open), close. The caller compares the registry
// before and after; this program checks that the session really did what it says, so that an
// unchanged registry cannot come from a session that never ran.
#include "Driver.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

int failures = 0;

void Expect(bool condition, const char* what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what);
    failures += condition ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: audit_session SEEDED_KEY WORKING_DIRECTORY\n");
        return 2;
    }
    const std::wstring seeded = argv[1];
    const std::wstring directory = argv[2];
    const std::wstring edited = L"  " + seeded + L" typed by hand ";
    try {
        ui::Ostrel ostrel(directory);
        ostrel.Recover();
        Expect(ostrel.BoxText() == seeded, "Recover shows the seeded key");
        ostrel.SetBoxText(edited);
        Expect(ostrel.BoxText() == edited, "the box holds the edit");
        for (int backup = 0; backup < 2; ++backup) {
            const ui::MessageBoxView box = ostrel.Backup();
            Expect(box.text == L"ostrel.txt written!", "Backup confirms the file");
        }
        {
            const HANDLE held = ::CreateFileW((directory + L"\\ostrel.txt").c_str(), GENERIC_READ,
                                              0, nullptr, OPEN_EXISTING, 0, nullptr);
            Expect(held != INVALID_HANDLE_VALUE, "another program holds ostrel.txt open");
            const ui::MessageBoxView box = ostrel.Backup();
            Expect(box.text.rfind(directory + L"\\ostrel.txt could not be written.", 0) == 0,
                   "Backup reports the failure");
            ::CloseHandle(held);
        }
        const std::optional<DWORD> exitCode = ostrel.Close();
        Expect(exitCode == 0u, "closing the window ends the program cleanly");
        const std::string file = ui::ReadBytes(directory + L"\\ostrel.txt");
        const std::string lastLine = "\r\n" + ui::Narrow(edited) + "\r\n";
        Expect(file.size() > lastLine.size() &&
                   file.compare(file.size() - lastLine.size(), lastLine.size(), lastLine) == 0,
               "ostrel.txt ends with the edited box");
    } catch (const std::exception& error) {
        std::printf("FAIL %s\n", error.what());
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
