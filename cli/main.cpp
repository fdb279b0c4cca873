// ostrel: the window's Recover and Backup as a Linux command that reads the key straight out of a
// Wine or Proton prefix, plus a scan of every prefix on the machine.
#include "cli/Dialog.h"
#include "cli/Disks.h"
#include "cli/Launchers.h"
#include "cli/Options.h"
#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Version.h"
#include "platform/linux/PrefixSource.h"
#include "platform/linux/Source.h"
#include "platform/linux/WindowsSource.h"
#include "registry/General.h"
#include "stores/Unicode.h"
#include "window/BackupFile.h"
#include "window/GameKey.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kRead = 0;
constexpr int kNotRead = 1;
constexpr int kUsageError = 2;

// Diagnostics carry paths and reasons from outside: never raw to the terminal.
void Complain(const std::string& line) {
    const std::string safe = "ostrel: " + stores::SafeForTerminal(line) + "\n";
    std::fputs(safe.c_str(), stderr);
}

// What the window's box would hold after Recover (an edit box shows text up to its first NUL),
// and whether the registry calls really read it: a stored "Error" is a key like any other.
struct Recovered {
    std::wstring text;
    bool read = false;
    std::string why; // when not read
};

Recovered Recover() {
    std::wstring keyPath = GameKey::kKeyPath; // GetKeyValue rewrites the path it is given
    const auto result = General::GetKeyValue(keyPath, GameKey::kValueName);
    Recovered recovered;
    if (result) {
        recovered.text = result->substr(0, result->find(L'\0'));
    }
    recovered.why = platform::CurrentSource().Problem();
    recovered.read = result && recovered.why.empty();
    return recovered;
}

// A reason that does not say which folder it is about gets the folder in front.
std::string WithFolder(const std::string& folder, const std::string& reason) {
    return reason.find(folder) != std::string::npos ? reason : folder + ": " + reason;
}

// Selects a prefix for the registry calls, and says how it went: the code to exit with when it
// could not be used (2: no prefix there; 1: a prefix whose registry cannot be read).
int UseFoundPrefix(const std::string& folder, const std::vector<std::string>& nlsFolders) {
    const auto resolved = cli::ResolvePrefix(folder);
    if (!resolved) {
        Complain(folder + " is not a Wine prefix (no system.reg there or in its pfx folder)");
        return kUsageError;
    }
    if (const std::string reason = platform::UsePrefix(*resolved, nlsFolders); !reason.empty()) {
        Complain(WithFolder(*resolved, reason));
        return reason.find("holds no system.reg") != std::string::npos ? kUsageError : kNotRead;
    }
    return kRead;
}

// Selects a Windows installation for the registry calls, with the same exit codes: 2 when the
// folder holds none (or no such profile), 1 when its hives cannot be read. `chosen`, when asked
// for, is the installation now read.
int UseFoundWindows(const std::string& folder, const std::string& user,
                    const std::vector<std::string>& nlsFolders,
                    platform::WindowsSource** chosen = nullptr) {
    const platform::WindowsChoice choice = platform::UseWindows(folder, user, nlsFolders);
    if (chosen != nullptr) {
        *chosen = choice.source;
    }
    for (const std::string& note : choice.notes) {
        Complain(note);
    }
    // hiberfil.sys sits at the root of the volume, beside the Windows folder.
    if (choice.problem.empty() && cli::Hibernated(*platform::FindWindowsFolder(folder) + "/..")) {
        Complain(folder + ": Windows there is hibernated (Fast Startup): the volume mounts "
                          "read-only only, and its latest changes may not be on the disk");
    }
    if (!choice.problem.empty()) {
        Complain(choice.problem);
        return choice.notWindows ? kUsageError : kNotRead;
    }
    return kRead;
}

// --windows DIR; else --prefix, else $WINEPREFIX, else ~/.wine; a Proton compatdata folder
// stands for its pfx/.
int OpenPrefix(const cli::Options& options, std::string& prefix) {
    const cli::Environment env = cli::EnvironmentOfProcess();
    if (options.windows) {
        prefix = *options.windows;
        return UseFoundWindows(prefix, options.user.value_or(""), cli::WineNlsFolders(env));
    }
    if (options.prefix) {
        prefix = *options.prefix;
    } else if (!env.winePrefix.empty()) {
        prefix = env.winePrefix;
    } else if (!env.home.empty()) {
        prefix = env.home + "/.wine";
    } else {
        Complain("HOME is not set: name the prefix with --prefix DIR");
        return kUsageError;
    }
    return UseFoundPrefix(prefix, cli::WineNlsFolders(env));
}

void SaySourceNotes() {
    for (const std::string& note : platform::CurrentSource().TakeNotes()) {
        Complain(note);
    }
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
    if (const int status = OpenPrefix(options, prefix); status != kRead) {
        return status;
    }
    const Recovered recovered = Recover();
    SaySourceNotes();
    if (!recovered.read) {
        Complain("no key read from " + prefix + ": " + recovered.why);
    } else if (const std::string& profile = platform::CurrentSource().VirtualStoreProfile();
               !profile.empty()) {
        Complain("the key is the VirtualStore copy of Users/" + profile);
    }
    // Into a pipe or a file the key goes exactly as read; only a terminal is protected from it.
    const std::string key = stores::ToUtf8(recovered.read ? recovered.text : L"Error");
    const std::string text = ::isatty(STDOUT_FILENO) ? stores::SafeForTerminal(key) : key;
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
    const auto shown = stores::FromUtf8(folder); // made safe for the terminal where printed
    if (!shown || shown->empty()) {
        return BackupFile::kFileName;
    }
    return *shown + (shown->back() == L'/' ? L"" : L"/") + BackupFile::kFileName;
}

int RunBackup(const cli::Options& options) {
    std::string prefix;
    if (const int status = OpenPrefix(options, prefix); status != kRead) {
        return status;
    }
    std::wstring box;
    if (options.key) {
        const auto typed = stores::FromUtf8(*options.key);
        if (!typed) {
            Complain("--key is not valid UTF-8");
            return kUsageError;
        }
        box = *typed;
        // Typed text goes into the file in the prefix's code page, which no read has learnt yet.
        platform::CurrentSource().LearnCodePage();
    } else {
        const Recovered recovered = Recover();
        // The window's user sees the box before pressing Backup; here nothing but a key that
        // was read may replace what an earlier backup holds.
        if (!recovered.read || recovered.text.empty()) {
            SaySourceNotes();
            Complain("no key read from " + prefix + " (" +
                     (recovered.read ? std::string("the stored key is empty") : recovered.why) +
                     "): ostrel.txt left as it was");
            return kNotRead;
        }
        box = recovered.text;
    }
    SaySourceNotes();
    bool charactersReplaced = false;
    const platform::WriteResult result = BackupFile::Write(box, &charactersReplaced);
    if (result.error != 0) {
        platform::ShowErrorMessage(BackupFile::DescribeFailure(result, ShownBackupPath(), L" "));
        return kNotRead;
    }
    std::fputs((stores::ToUtf8(BackupFile::kWritten) + "\n").c_str(), stdout);
    if (charactersReplaced) {
        platform::ShowMessage(BackupFile::kCharactersReplaced); // to stderr, as a notice
    }
    return Finish(kRead);
}

// Every prefix found, with what Recover reads in it, handed on as soon as it is known; a broken
// prefix does not stop the others. Returns how many were found.
std::size_t ScanPrefixes(const std::function<void(const cli::dialog::Finding&)>& each) {
    const cli::Environment env = cli::EnvironmentOfProcess();
    // Wine's own tables are looked for once, not for every prefix and disk.
    const std::vector<std::string> nlsFolders = cli::WineNlsFolders(env);
    std::vector<std::string> problems;
    const auto prefixes = cli::FindPrefixes(env, &problems);
    for (const auto& problem : problems) {
        Complain(problem);
    }
    const auto read = [&](const std::string& path) {
        Recovered recovered = Recover();
        if (!recovered.read) {
            Complain(path + ": " + recovered.why);
        }
        return recovered;
    };
    for (const auto& found : prefixes) {
        const Recovered recovered =
            UseFoundPrefix(found.path, nlsFolders) == kRead ? read(found.path) : Recovered{};
        each({found.origin, found.path, recovered.text, recovered.read, false, {}});
    }
    std::vector<std::string> hints;
    // $USER names the folders where desktops mount disks for the user.
    const char* user = std::getenv("USER");
    const auto installations = cli::FindWindowsInstallations(user ? user : "", hints);
    for (const std::string& root : installations) {
        platform::WindowsSource* windows = nullptr;
        const Recovered recovered =
            UseFoundWindows(root, "", nlsFolders, &windows) == kRead ? read(root) : Recovered{};
        each({"Windows", root, recovered.text, recovered.read, true, {}});
        // A profile's own line only where the game saw a copy of its own there. The machine's
        // hives stay open from one profile to the next: each walk in them is made once.
        for (const std::string& profile :
             windows != nullptr ? platform::WindowsProfiles(root) : std::vector<std::string>{}) {
            bool missing = false;
            std::vector<std::string> notes;
            if (windows->UseProfile(profile, missing, notes).empty()) {
                const Recovered own = Recover();
                if (!platform::CurrentSource().VirtualStoreProfile().empty()) {
                    each({"Windows user " + profile, root, own.text, own.read, true, profile});
                }
            }
        }
    }
    for (const std::string& hint : hints) {
        Complain(hint);
    }
    return prefixes.size() + installations.size();
}

int RunScan() {
    bool anyRead = false;
    const std::size_t found = ScanPrefixes([&anyRead](const cli::dialog::Finding& prefix) {
        anyRead = anyRead || prefix.read;
        // Fields never carry a tab or a line break, wherever they go, nor anything that could
        // drive a terminal; each line goes out as soon as it is known, even into a pipe.
        const std::string key = prefix.read ? stores::ToUtf8(prefix.key) : "Error";
        const std::string line = stores::SafeForTerminal(prefix.origin) + "\t" +
                                 stores::SafeForTerminal(prefix.folder) + "\t" +
                                 stores::SafeForTerminal(key) + "\n";
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    });
    if (found == 0) {
        Complain("no Wine prefix or Windows installation found");
        return kNotRead;
    }
    return Finish(anyRead ? kRead : kNotRead);
}

// Double-clicked: the scan's result in windows. Backup writes what the player typed in the code
// page of the prefix the key came from, as the backup command does.
int RunDialog() {
    std::vector<cli::dialog::Finding> findings;
    ScanPrefixes([&findings](const cli::dialog::Finding& prefix) { findings.push_back(prefix); });
    const std::vector<std::string> nlsFolders = cli::WineNlsFolders(cli::EnvironmentOfProcess());
    return cli::dialog::Run(
        findings,
        [&nlsFolders](const cli::dialog::Finding& from,
                      const std::string& typed) -> cli::dialog::BackupOutcome {
            platform::WriteResult result;
            bool replaced = false;
            const auto text = stores::FromUtf8(typed);
            if (!text) {
                result.error = EILSEQ;
            } else if ((from.windows ? UseFoundWindows(from.folder, from.windowsUser, nlsFolders)
                                     : UseFoundPrefix(from.folder, nlsFolders)) == kRead) {
                platform::CurrentSource().LearnCodePage();
                result = BackupFile::Write(*text, &replaced);
            } else {
                result.error = EIO;
            }
            if (result.error == 0) {
                return {true, stores::ToUtf8(replaced ? BackupFile::kWrittenWithReplacements
                                                      : BackupFile::kWritten)};
            }
            return {false, stores::ToUtf8(
                               BackupFile::DescribeFailure(result, ShownBackupPath(), L"\n\n"))};
        });
}

int Run(const std::vector<std::string>& arguments) {
    if (cli::dialog::Wanted(arguments.size(), ::isatty(STDIN_FILENO), ::isatty(STDOUT_FILENO),
                            std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
        return RunDialog();
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
