// ostrel: the window's Recover and Backup as a Linux command that reads the key straight out of a
// Wine or Proton prefix, plus a scan of every prefix on the machine.
#include "cli/Options.h"
#include "cli/Scan.h"
#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Version.h"
#include "platform/linux/Prefix.h"
#include "platform/linux/Utf8.h"
#include "registry/General.h"
#include "window/BackupFile.h"
#include "window/GameKey.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kRead = 0;
constexpr int kNotRead = 1;
constexpr int kUsageError = 2;

void Complain(const std::string& line) {
    std::fprintf(stderr, "ostrel: %s\n", line.c_str());
}

// What the window's box would hold after Recover: an edit box shows text up to its first NUL.
struct Recovered {
    std::wstring text;
    bool read = false;
};

Recovered Recover() {
    std::wstring keyPath = GameKey::kKeyPath; // GetKeyValue rewrites the path it is given
    const auto result = General::GetKeyValue(keyPath, GameKey::kValueName);
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

// The backup's full path as the user knows it: the folder as the shell names it ($PWD, links and
// all) when that is where the command runs, else as the system does.
std::wstring ShownBackupPath() {
    std::string folder;
    struct stat here {};
    struct stat named {};
    const char* pwd = std::getenv("PWD");
    if (pwd && pwd[0] == '/' && ::stat(".", &here) == 0 && ::stat(pwd, &named) == 0 &&
        here.st_dev == named.st_dev && here.st_ino == named.st_ino) {
        folder = pwd;
    } else if (char buffer[PATH_MAX]; ::getcwd(buffer, sizeof(buffer))) {
        folder = buffer;
    }
    const auto shown = platform::FromUtf8(Shown(folder));
    if (!shown || shown->empty()) {
        return BackupFile::kFileName;
    }
    return *shown + (shown->back() == L'/' ? L"" : L"/") + BackupFile::kFileName;
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
    bool charactersReplaced = false;
    const platform::WriteResult result = BackupFile::Write(box.text, &charactersReplaced);
    if (result.error != 0) {
        platform::ShowErrorMessage(BackupFile::DescribeFailure(result, ShownBackupPath(), L" "));
        return kNotRead;
    }
    std::fputs((platform::ToUtf8(BackupFile::kWritten) + "\n").c_str(), stdout);
    if (charactersReplaced) {
        platform::ShowMessage(BackupFile::kCharactersReplaced); // to stderr, as a notice
    }
    if (!box.read) {
        // The window's user sees the box before pressing Backup; here the exit code has to say
        // that the file holds no key.
        Complain("no key was read from " + prefix + ": ostrel.txt holds \"" + Shown(box.text) +
                 "\"");
        return Finish(kNotRead);
    }
    return Finish(kRead);
}

int RunScan() {
    const auto prefixes = cli::FindPrefixes(cli::EnvironmentOfProcess());
    if (prefixes.empty()) {
        Complain("no Wine prefix found");
        return kNotRead;
    }
    bool anyRead = false;
    for (const auto& found : prefixes) {
        Recovered recovered;
        if (const std::string reason = platform::UsePrefix(found.path); !reason.empty()) {
            Complain(Naming(found.path, reason));
            recovered.text = General::kFailureMarker;
        } else {
            recovered = Recover();
        }
        anyRead = anyRead || recovered.read;
        const std::string line =
            Shown(found.origin) + "\t" + Shown(found.path) + "\t" + Shown(recovered.text) + "\n";
        std::fputs(line.c_str(), stdout);
    }
    return Finish(anyRead ? kRead : kNotRead);
}

int Run(const std::vector<std::string>& arguments) {
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
