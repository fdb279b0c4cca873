// ostrel: the window's Recover and Backup as a Linux command that reads the key straight out of a
// Wine or Proton prefix, plus a scan of every prefix on the machine.
#include "cli/Dialog.h"
#include "cli/Options.h"
#include "cli/Scan.h"
#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Version.h"
#include "platform/linux/Prefix.h"
#include "platform/linux/Utf8.h"
#include "registry/General.h"
#include "window/BackupFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <unistd.h>

namespace {

constexpr int kRead = 0;
constexpr int kNotRead = 1;
constexpr int kUsageError = 2;

// The same location the window's Recover reads.
constexpr wchar_t kKeyPath[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";
constexpr wchar_t kValueName[] = L"codkey";

void Complain(const std::string& line) {
    std::fprintf(stderr, "ostrel: %s\n", line.c_str());
}

// What the window's box would hold after Recover: an edit box shows text up to its first NUL.
struct Recovered {
    std::wstring text;
    bool read = false;
};

Recovered Recover() {
    std::wstring keyPath = kKeyPath; // GetKeyValue rewrites the path it is given
    const auto result = General::GetKeyValue(keyPath, kValueName);
    Recovered recovered;
    if (result) {
        recovered.text = result->substr(0, result->find(L'\0'));
        recovered.read = *result != General::kFailureMarker;
    }
    return recovered;
}

// Registry files come from outside: a key holding escape sequences must not drive the user's
// terminal, and a tab or line break must not split a line of the scan. Control characters show
// as U+FFFD, as an edit box shows them as a box.
std::string Shown(std::wstring text) {
    for (wchar_t& c : text) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            c = 0xFFFD;
        }
    }
    return platform::ToUtf8(text);
}

// Folder names can hold them too.
std::string Shown(std::string bytes) {
    for (char& c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return bytes;
}

// A reason that does not say which folder it is about gets the folder in front.
std::string Naming(const std::string& folder, const std::string& reason) {
    return reason.find(folder) != std::string::npos ? reason : folder + ": " + reason;
}

// --prefix, else $WINEPREFIX, else ~/.wine; a Proton compatdata folder stands for its pfx/.
bool OpenPrefix(const cli::Options& options, std::string& prefix) {
    const cli::Environment env = cli::EnvironmentOfProcess();
    std::string folder;
    if (options.prefix) {
        folder = *options.prefix;
    } else if (!env.winePrefix.empty()) {
        folder = env.winePrefix;
    } else if (!env.home.empty()) {
        folder = env.home + "/.wine";
    } else {
        Complain("HOME is not set: name the prefix with --prefix DIR");
        return false;
    }
    const auto resolved = cli::ResolvePrefix(folder);
    if (!resolved) {
        Complain(folder + " is not a Wine prefix (no system.reg there or in its pfx folder)");
        return false;
    }
    if (const std::string reason = platform::UsePrefix(*resolved); !reason.empty()) {
        Complain(Naming(*resolved, reason));
        return false;
    }
    prefix = *resolved;
    return true;
}

// A key nobody sees is worth nothing: a failed write to stdout fails the command.
int Finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Complain("could not write the output");
        return kNotRead;
    }
    return status;
}

int RunRecover(const cli::Options& options) {
    std::string prefix;
    if (!OpenPrefix(options, prefix)) {
        return kUsageError;
    }
    const Recovered recovered = Recover();
    // Into a pipe or a file the key goes exactly as read; only a terminal is protected from it.
    const std::string text =
        ::isatty(STDOUT_FILENO) ? Shown(recovered.text) : platform::ToUtf8(recovered.text);
    std::fputs((text + "\n").c_str(), stdout);
    return Finish(recovered.read ? kRead : kNotRead);
}

int RunBackup(const cli::Options& options) {
    std::string prefix;
    if (!OpenPrefix(options, prefix)) {
        return kUsageError;
    }
    Recovered box;
    if (options.key) {
        const auto typed = platform::FromUtf8(*options.key);
        if (!typed) {
            Complain("--key is not valid UTF-8");
            return kUsageError;
        }
        box = {*typed, true};
    } else {
        box = Recover();
    }
    const std::uint32_t error = BackupFile::Write(box.text);
    if (error != 0) {
        const bool lost = (error & platform::kEarlierContentLost) != 0;
        platform::ShowErrorMessage(
            L"ostrel.txt could not be written. " +
            platform::ErrorLine(error & ~platform::kEarlierContentLost) +
            (lost ? L" The folder takes no new file, so ostrel.txt was rewritten in place; that "
                    L"failed and its earlier content could not be put back."
                  : L" Any earlier ostrel.txt is unchanged."));
        return kNotRead;
    }
    std::fputs("ostrel.txt written!\n", stdout);
    if (!box.read) {
        // The window's user sees the box before pressing Backup; here the exit code has to say
        // that the file holds no key.
        Complain("no key was read from " + prefix + ": ostrel.txt holds \"" + Shown(box.text) +
                 "\"");
        return Finish(kNotRead);
    }
    return Finish(kRead);
}

// Every prefix found, with what Recover reads in it; a broken prefix does not stop the others.
std::vector<cli::dialog::Finding> ScanPrefixes() {
    std::vector<cli::dialog::Finding> findings;
    for (const auto& found : cli::FindPrefixes(cli::EnvironmentOfProcess())) {
        Recovered recovered;
        if (const std::string reason = platform::UsePrefix(found.path); !reason.empty()) {
            Complain(Naming(found.path, reason));
            recovered.text = General::kFailureMarker;
        } else {
            recovered = Recover();
        }
        findings.push_back({found.origin, found.path, recovered.text, recovered.read});
    }
    return findings;
}

int RunScan() {
    const auto findings = ScanPrefixes();
    if (findings.empty()) {
        Complain("no Wine prefix found");
        return kNotRead;
    }
    bool anyRead = false;
    for (const auto& found : findings) {
        anyRead = anyRead || found.read;
        const std::string line =
            Shown(found.origin) + "\t" + Shown(found.folder) + "\t" + Shown(found.key) + "\n";
        std::fputs(line.c_str(), stdout);
    }
    return Finish(anyRead ? kRead : kNotRead);
}

// The dialog's Backup: the window's, with the window's failure wording.
std::optional<std::string> BackupFromDialog(const std::string& typed) {
    const auto text = platform::FromUtf8(typed);
    const std::uint32_t error = text ? BackupFile::Write(*text) : EILSEQ;
    if (error == 0) {
        return std::nullopt;
    }
    const bool lost = (error & platform::kEarlierContentLost) != 0;
    return platform::ToUtf8(
        L"ostrel.txt could not be written.\n\n" +
        platform::ErrorLine(error & ~platform::kEarlierContentLost) + L"\n\n" +
        (lost ? L"The folder takes no new file, so ostrel.txt was rewritten in place; that failed "
                L"and its earlier content could not be put back."
              : L"Any earlier ostrel.txt is unchanged."));
}

int Run(const std::vector<std::string>& arguments) {
    // Double-clicked rather than typed: the scan's result in windows.
    if (cli::dialog::Wanted(arguments.size(), ::isatty(STDIN_FILENO), ::isatty(STDOUT_FILENO),
                            std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
        return cli::dialog::Run(ScanPrefixes(), BackupFromDialog);
    }
    const cli::ParsedOptions parsed = cli::ParseOptions(arguments);
    if (!parsed.options) {
        Complain(parsed.error);
        return kUsageError;
    }
    const cli::Options& options = *parsed.options;
    switch (options.command) {
    case cli::Command::Recover:
        return RunRecover(options);
    case cli::Command::Backup:
        return RunBackup(options);
    case cli::Command::Scan:
        return RunScan();
    case cli::Command::Version:
        std::printf("ostrel %d.%d\n", OSTREL_VERSION_MAJOR, OSTREL_VERSION_MINOR);
        return Finish(kRead);
    case cli::Command::Help:
        break;
    }
    std::fputs(cli::kUsage, stdout);
    return Finish(kRead);
}

} // namespace

int main(int argc, char** argv) {
    // Under a file size limit (ulimit -f) the kernel would kill the process mid-write and leave
    // its temporary file behind; ignored, the write fails and the backup cleans up after itself.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        platform::ReportUnhandledError(ENOMEM, {});
    } catch (...) {
        // Anything else is a fault of ours: say so and exit, rather than abort with a core dump.
        platform::ReportUnhandledError(ENOTRECOVERABLE, {});
    }
}
