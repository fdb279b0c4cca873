// The same promise as on Windows, kept with POSIX calls: a temporary file beside the target, a
// write loop, fsync, then one rename. Linux is more permissive than Windows in three places, and
// the differences are closed here on purpose: rename replaces a read-only file (Windows refuses),
// rename replaces a symbolic link rather than the file it names, and rename needs a writable
// folder where Windows would still let the user overwrite a writable file.
#include "platform/File.h"

#include "platform/Message.h"
#include "platform/linux/Handles.h"

#include "stores/Unicode.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a chain of symbolic links finally names, which may not exist yet: the backup goes
// where the user's link points, and the link stays a link.
std::uint32_t FinalPath(std::string path, std::string& out) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                out = path;
                return 0;
            }
            return LastErrorOr(EIO);
        }
        if (!S_ISLNK(info.st_mode)) {
            out = path;
            return 0;
        }
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1,
                           '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) {
            return LastErrorOr(EIO);
        }
        if (static_cast<std::size_t>(length) >= target.size()) {
            return ENAMETOOLONG; // the link changed under us; do not guess
        }
        target.resize(static_cast<std::size_t>(length));
        if (target.front() == '/') {
            path = std::move(target);
        } else {
            path = FolderOf(path).append(1, '/').append(target);
        }
    }
    return ELOOP;
}

std::uint32_t WriteAll(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastErrorOr(EIO);
        }
        if (written == 0) {
            return ENOSPC; // no progress is a full disk, whatever errno says
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return 0;
}

std::uint32_t ReadAll(int fd, std::size_t size, std::string& out) {
    out.assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastErrorOr(EIO);
        }
        if (got == 0) {
            break; // shrank while we read it: keep what is there
        }
        done += static_cast<std::size_t>(got);
    }
    out.resize(done);
    return 0;
}

std::uint32_t Replace(int fd, std::string_view bytes) {
    std::uint32_t error = WriteAll(fd, bytes, 0);
    if (error == 0 && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) {
        error = LastErrorOr(EIO);
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = LastErrorOr(EIO);
    }
    return error;
}

// A folder that allows no new file can still hold a file the user may write: rewrite it where it
// stands, with its old bytes kept in memory to put back if the new ones do not all fit. The old
// bytes go back into blocks the file already had, so a full disk does not stop the restore.
WriteResult RewriteInPlace(const std::string& target, std::string_view bytes) {
    // The look at the target came before this open: whatever was put there since must not block
    // it, nor become the terminal. Only a regular file is then written.
    const UniqueFd fd(
        ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        return {LastErrorOr(EACCES)};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return {LastErrorOr(EIO)};
    }
    if (!S_ISREG(info.st_mode)) {
        return {EACCES};
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxRewriteBytes) {
        return {EFBIG};
    }
    std::string old;
    WriteResult result{ReadAll(fd.get(), static_cast<std::size_t>(info.st_size), old)};
    if (result.error != 0) {
        return result;
    }
    result.error = Replace(fd.get(), bytes);
    // The first error is the one the user must hear about, and that the file is now damaged.
    result.earlierContentLost = result.error != 0 && Replace(fd.get(), old) != 0;
    return result;
}

std::string Hex(unsigned long value) {
    char text[2 * sizeof value + 1];
    std::snprintf(text, sizeof text, "%lx", value);
    return text;
}

std::uint32_t CreateTemporaryBeside(const std::string& target, std::string& tempPath,
                                    UniqueFd& file) {
    // A short name of its own, not the target's name plus a suffix, so that a target whose name
    // is already as long as the file system allows still gets a temporary file.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto seed =
        static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 20);
    const std::string folder = FolderOf(target);
    for (unsigned long attempt = 0; attempt < 16; ++attempt) {
        tempPath =
            folder + "/.ostrel-" + Hex((seed + attempt * 0x9E3779B9UL) & 0xFFFFFFFFUL) + ".tmp";
        const int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            file.reset(fd);
            return 0;
        }
        if (errno != EEXIST) {
            return LastErrorOr(EIO);
        }
    }
    return EEXIST;
}

// In a sticky folder (mode 1777, like /tmp) only the file's or the folder's owner may rename
// over a file.
bool OnlyOwnerMayReplace(const std::string& target, const struct stat& old) {
    struct stat folder {};
    const uid_t me = ::geteuid();
    return me != 0 && old.st_uid != me && ::stat(FolderOf(target).c_str(), &folder) == 0 &&
           (folder.st_mode & S_ISVTX) != 0 && folder.st_uid != me;
}

// Ctrl+C between creating the temporary file and renaming it would leave the file behind (or a
// half-restored backup): such signals wait until the replace is over, then act as usual.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&held, signal);
        }
        held_ = ::pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
    }
    ~SignalsHeld() {
        if (held_) {
            ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        }
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t previous_{};
    bool held_ = false;
};

// The replace itself, of the file the name finally leads to, as it stands (`exists`, `old`).
WriteResult ReplaceTarget(const std::string& target, bool exists, const struct stat& old,
                          std::string_view bytes) {
    std::uint32_t error = 0;
    if (exists && S_ISDIR(old.st_mode)) {
        return {EISDIR};
    }
    if (exists && !S_ISREG(old.st_mode)) {
        WriteResult refused{EINVAL};
        refused.notAFile = true;
        return refused;
    }
    // Windows refuses to replace a read-only file, and Wine shows a file with no write bit as
    // read-only; root's access() would say yes, so the mode is asked too.
    if (exists && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return {EACCES};
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        return {errno == EROFS ? static_cast<std::uint32_t>(EROFS) : EACCES};
    }

    // Every name of a hard-linked file must see the new key, and in a sticky folder only the
    // owner may replace a file: both are rewritten where they stand.
    if (exists && (old.st_nlink > 1 || OnlyOwnerMayReplace(target, old))) {
        return RewriteInPlace(target, bytes);
    }
    std::string tempPath;
    UniqueFd file;
    error = CreateTemporaryBeside(target, tempPath, file);
    if (error == EACCES || error == EPERM) {
        return exists ? RewriteInPlace(target, bytes) : WriteResult{error};
    }
    if (error != 0) {
        return {error};
    }
    // The new file takes the old one's place, so it keeps its permissions too: a backup the user
    // made private stays private.
    if (exists) {
        // Root keeps a user's file the user's; anyone keeps its group where they belong to it.
        // Neither is worth failing the backup over.
        if (::fchown(file.get(), ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1),
                     old.st_gid) != 0) {
            errno = 0;
        }
        if (::fchmod(file.get(), old.st_mode & 07777) != 0) {
            error = LastErrorOr(EPERM);
        }
    }
    if (error == 0) {
        error = WriteAll(file.get(), bytes, 0);
    }
    if (error == 0 && ::fsync(file.get()) != 0) {
        error = LastErrorOr(EIO);
    }
    if (::close(file.release()) != 0 && error == 0) {
        error = LastErrorOr(EIO);
    }
    if (error == 0 && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        error = LastErrorOr(EIO);
    }
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return {error};
    }
    // The rename itself reaches the disk with the folder; by now the new file is in place, so a
    // failure here has nothing left to undo.
    const UniqueFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
    return {};
}

} // namespace

WriteResult WriteFileAtomically(const std::wstring& path, std::string_view bytes) {
    const SignalsHeld signalsHeld;
    std::string target;
    if (const std::uint32_t error = FinalPath(stores::ToUtf8(path), target); error != 0) {
        return {error};
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        return {LastErrorOr(EIO)};
    }
    WriteResult result = ReplaceTarget(target, exists, old, bytes);
    result.targetExisted = exists && S_ISREG(old.st_mode);
    return result;
}

} // namespace platform
