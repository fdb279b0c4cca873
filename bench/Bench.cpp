// Measures ostrel.exe against a bare window program and against the same window written in plain
// C, started in turn in one run, and prints one table of medians: start to a painted window, peak
// working set, the Recover and Backup round trips, and the executables' sizes.
//
// Usage: ostrel_bench RUNS OSTREL_EXE BARE_EXE BARE_MANIFEST_EXE FLOOR_EXE WORK_DIR SEEDED_KEY
//                     [LABEL=EXE...]
// The game's key must hold SEEDED_KEY; the LABEL=EXE triples (bare, floor, ostrel) are the files
// whose sizes are listed. BARE_MANIFEST_EXE is the bare window with ostrel's manifest: what the
// manifest alone costs (common controls 6, DPI awareness). FLOOR_EXE is ostrel's window in plain
// C with ostrel's controls, fonts and resources: the floor that ostrel's ratio is taken against.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeoutMs = 10000;
constexpr int kRoundTripsPerRun = 3;
constexpr wchar_t kOstrelClass[] = L"OstrelForm1";
constexpr wchar_t kBareClass[] = L"OstrelBareWindow";
constexpr wchar_t kFloorClass[] = L"OstrelFloorWindow";
constexpr wchar_t kMessageBoxCaption[] = L"Ostrel v1.0";
constexpr int kText1 = 101;
constexpr int kCommand1 = 102;
constexpr int kCommand2 = 103;

double NowMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "ostrel_bench: %s (last error %lu)\n", what, ::GetLastError());
    std::fflush(stderr);
    ::ExitProcess(1);
}

template <typename Condition> void WaitFor(Condition condition, const char* what, DWORD sleepMs) {
    const double deadline = NowMs() + kTimeoutMs;
    while (!condition()) {
        if (NowMs() > deadline) {
            Fail(what);
        }
        ::Sleep(sleepMs);
    }
}

HWND FindVisibleTopLevel(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    HWND window = nullptr;
    while ((window = ::FindWindowExW(nullptr, window, className, caption)) != nullptr) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == processId && ::IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

void RoundTrip(HWND window) {
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kTimeoutMs, &ignored)) {
        Fail("the window did not answer WM_NULL");
    }
}

BOOL CALLBACK HasUpdateRegion(HWND child, LPARAM found) {
    if (::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool PaintPending(HWND window) {
    bool found = ::GetUpdateRect(window, nullptr, FALSE) != FALSE;
    if (!found) {
        ::EnumChildWindows(window, HasUpdateRegion, reinterpret_cast<LPARAM>(&found));
    }
    return found;
}

std::wstring ReadText(HWND control) {
    std::wstring previous;
    for (int read = 0; read < 50; ++read) {
        DWORD_PTR length = 0;
        ::SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kTimeoutMs, &length);
        std::wstring text(length + 1, L'\0');
        DWORD_PTR got = 0;
        ::SendMessageTimeoutW(control, WM_GETTEXT, text.size(),
                              reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kTimeoutMs, &got);
        text.resize(std::min<size_t>(got, length));
        // The owner may change the text between the two messages: read until two reads agree.
        if (read > 0 && text == previous) {
            return text;
        }
        previous = std::move(text);
    }
    Fail("the box's text kept changing");
}

struct Started {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    double startMs = 0;
    double peakWorkingSetKiB = 0;
};

// Start: CreateProcess until the main window is visible, has had its first paint (no update
// region left in it or its controls) and its thread is back in the message loop.
Started Launch(const std::wstring& exe, const wchar_t* className, const std::wstring& directory) {
    Started started;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exe + L"\"";
    const double begin = NowMs();
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          directory.c_str(), &startup, &started.process)) {
        Fail("cannot start a program");
    }
    const DWORD id = started.process.dwProcessId;
    WaitFor([&] { return (started.window = FindVisibleTopLevel(id, className, nullptr)); },
            "no visible window", 1);
    RoundTrip(started.window);
    WaitFor([&] { return !PaintPending(started.window); }, "the window never painted", 0);
    RoundTrip(started.window);
    started.startMs = NowMs() - begin;

    const HANDLE query = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!query || !::GetProcessMemoryInfo(query, &counters, sizeof(counters))) {
        Fail("cannot read the working set");
    }
    ::CloseHandle(query);
    started.peakWorkingSetKiB = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
    return started;
}

void Close(Started& started) {
    ::PostMessageW(started.window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(started.process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(started.process.hProcess, 1);
        Fail("a program did not end when its window was closed");
    }
    ::CloseHandle(started.process.hThread);
    ::CloseHandle(started.process.hProcess);
}

// Recover: the click sent until the box holds the key (the click returns once the command ran).
double RecoverMs(HWND window, const std::wstring& key) {
    const HWND box = ::GetDlgItem(window, kText1);
    ::SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    const double begin = NowMs();
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(::GetDlgItem(window, kCommand1), BM_CLICK, 0, 0, SMTO_NORMAL, kTimeoutMs,
                          &ignored);
    const std::wstring text = ReadText(box);
    const double elapsed = NowMs() - begin;
    if (text != key) {
        Fail("Recover did not show the seeded key");
    }
    return elapsed;
}

// Recover's click alone: the sent click returns once the command has run.
double ClickMs(HWND window, int id) {
    const double begin = NowMs();
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(::GetDlgItem(window, id), BM_CLICK, 0, 0, SMTO_NORMAL, kTimeoutMs,
                          &ignored);
    return NowMs() - begin;
}

struct BackupTimes {
    double fileMs;
    double boxMs;
};

// Backup: the click posted until the confirmation box is visible; then the box is dismissed.
// The backup is removed first, so that its appearance marks the moment the file is in place.
BackupTimes BackupMs(HWND window, DWORD processId, const std::wstring& backupFile) {
    ::DeleteFileW(backupFile.c_str());
    const double begin = NowMs();
    ::PostMessageW(::GetDlgItem(window, kCommand2), BM_CLICK, 0, 0);
    HWND box = nullptr;
    double fileMs = 0;
    WaitFor(
        [&] {
            if (fileMs == 0 &&
                ::GetFileAttributesW(backupFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
                fileMs = NowMs() - begin;
            }
            return (box = FindVisibleTopLevel(processId, L"#32770", kMessageBoxCaption));
        },
        "no confirmation box", 0);
    const double elapsed = NowMs() - begin;
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    WaitFor([&] { return !::IsWindow(box); }, "the confirmation box stayed up", 1);
    return {fileMs != 0 ? fileMs : elapsed, elapsed};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Measures of the bare window, the bare window with the manifest and the floor window, or none.
struct Others {
    const std::vector<double>* bare;
    const std::vector<double>* manifest;
    const std::vector<double>* floor;
};

void Row(const char* measure, Others others, const std::vector<double>& ostrel,
         const char* target) {
    char bareText[32] = "-";
    char manifestText[32] = "-";
    char floorText[32] = "-";
    char ratio[32] = "-";
    if (others.bare && others.manifest && others.floor) {
        std::snprintf(bareText, sizeof(bareText), "%.2f", Median(*others.bare));
        std::snprintf(manifestText, sizeof(manifestText), "%.2f", Median(*others.manifest));
        std::snprintf(floorText, sizeof(floorText), "%.2f", Median(*others.floor));
        std::snprintf(ratio, sizeof(ratio), "%.3fx", Median(ostrel) / Median(*others.floor));
    }
    const auto [low, high] = std::minmax_element(ostrel.begin(), ostrel.end());
    std::printf("| %-36s | %11s | %11s | %11s | %10.2f | %9.2f-%-9.2f | %7s | %-9s |\n", measure,
                bareText, manifestText, floorText, Median(ostrel), *low, *high, ratio, target);
}

double FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        Fail("cannot read an executable's size");
    }
    return static_cast<double>(data.nFileSizeLow);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 8) {
        std::fprintf(stderr, "usage: ostrel_bench RUNS OSTREL_EXE BARE_EXE BARE_MANIFEST_EXE "
                             "FLOOR_EXE WORK_DIR SEEDED_KEY [LABEL=EXE ...]\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    constexpr int kPrograms = 4;
    constexpr int kOstrel = 3;
    // bare, bare + manifest, floor, ostrel
    const std::wstring programs[kPrograms] = {argv[3], argv[4], argv[5], argv[2]};
    const wchar_t* const classes[kPrograms] = {kBareClass, kBareClass, kFloorClass, kOstrelClass};
    const std::wstring directory = argv[6];
    const std::wstring key = argv[7];
    const std::wstring backupFile = directory + L"\\ostrel.txt";

    std::vector<double> start[kPrograms], memory[kPrograms], recover, recoverClick, backupFileMs,
        backup;
    for (int run = 0; run < runs; ++run) {
        // Rotate which program goes first, so that none always meets a warmer system.
        for (int turn = 0; turn < kPrograms; ++turn) {
            const int which = (run + turn) % kPrograms;
            Started started = Launch(programs[which], classes[which], directory);
            start[which].push_back(started.startMs);
            memory[which].push_back(started.peakWorkingSetKiB);
            for (int trip = 0; which == kOstrel && trip < kRoundTripsPerRun; ++trip) {
                recover.push_back(RecoverMs(started.window, key));
                recoverClick.push_back(ClickMs(started.window, kCommand1));
                const BackupTimes times =
                    BackupMs(started.window, started.process.dwProcessId, backupFile);
                backupFileMs.push_back(times.fileMs);
                backup.push_back(times.boxMs);
            }
            Close(started);
        }
    }

    std::printf("%d runs of each program, in rotating order; %d Recover and Backup round trips "
                "per ostrel run. Medians; the range is ostrel's; the ratio is ostrel over the "
                "floor (the same window in plain C).\n\n",
                runs, kRoundTripsPerRun);
    std::printf("| %-36s | %11s | %11s | %11s | %10s | %19s | %7s | %-9s |\n", "Measure",
                "bare window", "+ manifest", "floor (C)", "ostrel.exe", "ostrel min-max", "ratio",
                "target");
    std::printf(
        "|%s|%s|%s|%s|%s|%s|%s|%s|\n", std::string(38, '-').c_str(), std::string(13, '-').c_str(),
        std::string(13, '-').c_str(), std::string(13, '-').c_str(), std::string(12, '-').c_str(),
        std::string(21, '-').c_str(), std::string(9, '-').c_str(), std::string(11, '-').c_str());
    const Others none{nullptr, nullptr, nullptr};
    Row("start to painted window (ms)", {&start[0], &start[1], &start[2]}, start[kOstrel],
        "<= 1.05x");
    // On a shared machine the median start moves with the load; the fastest run of each program
    // is what it costs when nothing else is in the way.
    std::vector<double> fastest[kPrograms];
    for (int which = 0; which < kPrograms; ++which) {
        fastest[which] = {*std::min_element(start[which].begin(), start[which].end())};
    }
    Row("  fastest run (ms)", {&fastest[0], &fastest[1], &fastest[2]}, fastest[kOstrel],
        "<= 1.05x");
    Row("peak working set (KiB)", {&memory[0], &memory[1], &memory[2]}, memory[kOstrel],
        "<= 1.05x");
    Row("Recover round trip (ms)", none, recover, "< 5 ms");
    Row("  of which the click alone (ms)", none, recoverClick, "");
    Row("Backup round trip (ms)", none, backup, "< 5 ms");
    Row("  of which file in place (ms)", none, backupFileMs, "");

    // Sizes come in triples from the command line: the bare window's, the floor's, then ostrel's
    // LABEL=EXE.
    std::printf("\n| %-20s | %12s | %12s | %12s | %6s |\n", "Executable size", "bare window",
                "floor (C)", "ostrel.exe", "ratio");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(22, '-').c_str(), std::string(14, '-').c_str(),
                std::string(14, '-').c_str(), std::string(14, '-').c_str(),
                std::string(8, '-').c_str());
    for (int i = 8; i + 2 < argc; i += 3) {
        double sizes[3] = {};
        std::wstring label;
        for (int k = 0; k < 3; ++k) {
            const std::wstring arg = argv[i + k];
            const size_t eq = arg.find(L'=');
            if (eq == std::wstring::npos) {
                Fail("size arguments are LABEL=EXE triples");
            }
            sizes[k] = FileSize(arg.substr(eq + 1));
            label = arg.substr(0, eq);
        }
        std::printf("| %-20ls | %12.0f | %12.0f | %12.0f | %5.2fx |\n", label.c_str(), sizes[0],
                    sizes[1], sizes[2], sizes[2] / sizes[1]);
    }
    return 0;
}
