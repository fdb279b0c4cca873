// Starting the dialog programs and leading the player through them.
#include "cli/Dialog.h"

#include "platform/File.h"
#include "platform/Message.h"
#include "stores/Unicode.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cli::dialog {

namespace {

constexpr int kKeyShown = 0;
constexpr int kNoneFound = 1;
// A list longer than a screen helps nobody, and every row is a few arguments of the dialog's
// command line, which the kernel bounds.
constexpr std::size_t kMaxListed = 50;
constexpr std::size_t kMaxOutput = std::size_t{64} * 1024;

void Complain(const std::string& line) {
    std::fprintf(stderr, "ostrel: %s\n", line.c_str());
}

// The current folder, where Backup writes.
std::string CurrentFolder() {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) {
        return "(the folder Ostrel was started in)";
    }
    return buffer;
}

std::optional<std::string> ProgramFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
        return std::nullopt;
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/'));
}

// --- Running the dialog programs -----------------------------------------------------------

struct Answer {
    enum class Kind { Accepted, Declined, Failed } kind = Kind::Failed;
    std::string output;
};

// Arguments go to the program as a list, never through a shell, and only when none of them could
// be read as an option this program did not give.
pid_t Spawn(const std::string& program, const Arguments& arguments, int stdoutFd, int stderrFd) {
    const std::string name = program.substr(program.rfind('/') + 1);
    if (!OnlyOwnOptions(name, arguments)) {
        Complain("not starting " + name + ": text from outside could be read as its option");
        return -1;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    if (stdoutFd >= 0) {
        ::posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    }
    if (stderrFd >= 0) {
        ::posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    }
    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), ::environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

// GTK says so on stderr and exits 1, as for Cancel, when it cannot reach the display.
bool SawNoDisplay(int stderrFd) {
    char text[4096];
    const ssize_t got = ::pread(stderrFd, text, sizeof text, 0);
    return got > 0 &&
           std::string_view(text, static_cast<std::size_t>(got)).find("cannot open display") !=
               std::string_view::npos;
}

// Both programs exit 0 for OK or Yes and 1 for Cancel, No or a closed window; kdialog's message
// boxes say 2 for Cancel. Anything else (a crash, no display, an option it does not know) means
// the player saw nothing to answer. A window waits for its player as long as that takes; what it
// prints is bounded.
Answer Ask(const std::string& program, const Arguments& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    const int stderrFd = ::memfd_create("ostrel-dialog-stderr", MFD_CLOEXEC);
    const pid_t pid = Spawn(program, arguments, fds[1], stderrFd);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        if (stderrFd >= 0) {
            ::close(stderrFd);
        }
        return {};
    }
    Answer answer;
    bool overflow = false;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        if (answer.output.size() + static_cast<std::size_t>(got) > kMaxOutput) {
            overflow = true; // the program gets a broken pipe if it writes on
            break;
        }
        answer.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    const int status = WaitFor(pid);
    const bool noDisplay = stderrFd >= 0 && SawNoDisplay(stderrFd);
    if (stderrFd >= 0) {
        ::close(stderrFd);
    }
    if (status >= 0 && WIFEXITED(status) && !overflow && !noDisplay) {
        const int code = WEXITSTATUS(status);
        if (code == 0) {
            answer.kind = Answer::Kind::Accepted;
        } else if (code == 1 || code == 2) {
            answer.kind = Answer::Kind::Declined;
        }
    }
    return answer;
}

// xdg-open hands the file to the desktop's viewer and returns; some viewers keep it waiting
// until they close, and the program does not wait for those.
void Open(const std::string& opener, const std::string& file) {
    const pid_t pid = Spawn(opener, {file}, -1, -1);
    for (int tries = 0; pid > 0 && tries < 100; ++tries) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done != 0 && !(done < 0 && errno == EINTR)) {
            return;
        }
        const timespec pause{0, 50'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// The report goes beside the program, in the folder the player unpacked it to, replaced whole as a
// backup is: never a device or a pipe, nothing opened that could block. Unlike ostrel.txt, a link
// there is not followed: nothing of ours puts one there. Returns why it could not be written.
std::string WriteReport(const std::string& path, const std::string& text) {
    const auto wide = stores::FromUtf8(path);
    if (!wide) {
        return "its folder's name is not UTF-8";
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        return "it is a symbolic link, which is not followed";
    }
    const platform::WriteResult result = platform::WriteFileAtomically(*wide, text);
    if (result.notAFile) {
        return "it is a device or a pipe, which is never replaced";
    }
    return result.error == 0 ? std::string() : stores::ToUtf8(platform::ErrorLine(result.error));
}

// The conversation: a list when there are several keys, the key in an editable field, then
// Backup. Nothing when the first window could not be shown, so that another way is tried.
std::optional<int> Converse(const std::string& program, Tool tool,
                            const std::vector<Finding>& findings, const Backup& backup) {
    std::vector<const Finding*> keys;
    for (const auto& found : findings) {
        if (found.read && keys.size() < kMaxListed) {
            keys.push_back(&found);
        }
    }
    if (keys.empty()) {
        const Answer answer = Ask(program, Message(tool, false, NotFoundText(findings)));
        return answer.kind == Answer::Kind::Failed ? std::nullopt : std::optional(kNoneFound);
    }
    std::size_t row = 0;
    if (keys.size() > 1) {
        const Answer picked = Ask(program, Pick(tool, keys));
        if (picked.kind == Answer::Kind::Failed) {
            return std::nullopt;
        }
        const auto chosen = PickedRow(picked.output, keys.size());
        if (picked.kind != Answer::Kind::Accepted || !chosen) {
            return kKeyShown;
        }
        row = *chosen;
    }
    std::string key = stores::ToUtf8(keys[row]->key);
    const std::string folder = CurrentFolder();
    // As in the window, a failed Backup leaves the key in the field to try again. A player
    // answers every round; a dialog program that answers by itself must not spin forever.
    for (int round = 0; round < 20; ++round) {
        const Answer edited = Ask(program, Edit(tool, *keys[row], key));
        if (edited.kind == Answer::Kind::Failed && keys.size() == 1 && round == 0) {
            return std::nullopt;
        }
        if (edited.kind != Answer::Kind::Accepted) {
            return kKeyShown;
        }
        key = EditedKey(tool, edited.output);
        if (Ask(program, ConfirmBackup(tool, folder)).kind != Answer::Kind::Accepted) {
            return kKeyShown;
        }
        const BackupOutcome outcome = backup(*keys[row], key);
        const bool written = outcome.result.error == 0;
        Ask(program, Message(tool, !written, BackupMessage(outcome)));
        if (written) {
            return kKeyShown;
        }
    }
    return kKeyShown;
}

} // namespace

bool Wanted(std::size_t argumentCount, bool stdinIsTerminal, bool stdoutIsTerminal,
            const char* display, const char* waylandDisplay) {
    const bool hasDisplay = (display != nullptr && *display != '\0') ||
                            (waylandDisplay != nullptr && *waylandDisplay != '\0');
    return argumentCount == 0 && !stdinIsTerminal && !stdoutIsTerminal && hasDisplay;
}

std::optional<std::string> FindProgram(std::string_view name, std::string_view path) {
    while (!path.empty()) {
        const std::size_t colon = path.find(':');
        const std::string_view folder = path.substr(0, colon);
        path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
        // A relative entry would find programs in whatever folder the file manager started in.
        if (folder.empty() || folder.front() != '/') {
            continue;
        }
        std::string candidate = std::string(folder) + "/" + std::string(name);
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

int Run(const std::vector<Finding>& findings, const Backup& backup) {
    const char* pathVariable = std::getenv("PATH");
    const std::string_view path = pathVariable ? pathVariable : "";
    // kdialog first: on the Steam Deck it is the one that brings up the on-screen keyboard.
    for (const auto& [tool, name] :
         {std::pair{Tool::KDialog, "kdialog"}, std::pair{Tool::Zenity, "zenity"}}) {
        if (const auto program = FindProgram(name, path)) {
            if (const auto code = Converse(*program, tool, findings, backup)) {
                return *code;
            }
        }
    }
    bool any = false;
    for (const auto& found : findings) {
        any = any || found.read;
    }
    // Nothing else is left to tell the player by: a report that cannot be written fails the run.
    const auto folder = ProgramFolder();
    if (!folder) {
        Complain("neither kdialog nor zenity could show a window, and the program's own folder, "
                 "where its report goes, is not known");
        return kNoneFound;
    }
    const std::string report = *folder + "/ostrel-report.txt";
    if (const std::string why = WriteReport(report, Report(findings)); !why.empty()) {
        Complain("neither kdialog nor zenity could show a window, and " +
                 stores::SafeForTerminal(report) + " could not be written: " + why);
        return kNoneFound;
    }
    if (const auto opener = FindProgram("xdg-open", path)) {
        Open(*opener, report);
    }
    return any ? kKeyShown : kNoneFound;
}

} // namespace cli::dialog
