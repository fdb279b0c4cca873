#include "platform/linux/InputFile.h"

#include "platform/linux/Handles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

class FileSource final : public stores::ByteSource {
  public:
    FileSource(UniqueFd fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}

    std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const override {
        for (;;) {
            const ssize_t got = ::pread(fd_.get(), into, size, static_cast<off_t>(offset));
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
    }
    std::uint64_t Size() const override { return size_; }

  private:
    UniqueFd fd_;
    std::uint64_t size_;
};

// Open without blocking (a FIFO would wait for a writer) and only when the file is of the kind
// asked for, so that nothing else is ever read.
UniqueFd OpenChecked(const std::string& path, bool device, std::uint64_t& size,
                     std::string& problem) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0) {
        problem = path + ": " + std::strerror(errno);
        return UniqueFd();
    }
    if (device ? !S_ISBLK(info.st_mode) : !S_ISREG(info.st_mode)) {
        problem = path + (device ? " is not a block device" : " is not a regular file");
        return UniqueFd();
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

} // namespace

std::unique_ptr<stores::ByteSource> OpenInputFile(const std::string& path, std::string& problem) {
    std::uint64_t size = 0;
    UniqueFd fd = OpenChecked(path, false, size, problem);
    if (!fd) {
        return nullptr;
    }
    return std::make_unique<FileSource>(std::move(fd), size);
}

std::optional<std::string> ReadDeviceStart(const std::string& path, std::size_t bytes,
                                           std::string& problem) {
    std::uint64_t size = 0;
    UniqueFd fd = OpenChecked(path, true, size, problem);
    if (!fd) {
        return std::nullopt;
    }
    std::string start(bytes, '\0');
    const FileSource source(std::move(fd), bytes);
    const std::int64_t got = source.ReadAt(0, start.data(), bytes);
    if (got < 0) {
        problem = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    start.resize(static_cast<std::size_t>(got));
    return start;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    const UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return names;
}

std::optional<std::string> FindNoCase(const std::string& folder, std::string_view name,
                                      const stores::NameFold& fold) {
    // Spellings to try before reading the folder: capitals or small ASCII letters alone, which
    // Windows and Wine use (System32 holds thousands of entries, not worth reading through for
    // each name). Each is the same name under any fold.
    const auto cased = [](std::string_view text, char from, char to) {
        std::string changed(text);
        for (char& c : changed) {
            c = (c >= from && c <= from + 25) ? static_cast<char>(c - from + to) : c;
        }
        return changed;
    };
    // The exact name wins, as a case-sensitive folder may hold several spellings.
    for (const std::string& spelling :
         {std::string(name), cased(name, 'a', 'A'), cased(name, 'A', 'a')}) {
        const std::string path = std::string(folder).append("/").append(spelling);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            return path;
        }
    }
    for (const std::string& entry : FolderEntries(folder)) {
        if (fold.SameFileName(entry, name)) {
            return std::string(folder).append("/").append(entry);
        }
    }
    return std::nullopt;
}

std::optional<std::string> ReadInputFile(const std::string& path, std::size_t maxBytes,
                                         std::string& problem) {
    const auto source = OpenInputFile(path, problem);
    if (!source) {
        return std::nullopt;
    }
    if (source->Size() > maxBytes) {
        problem = path + " is too large to be what it is named";
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(source->Size()), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t got = source->ReadAt(done, bytes.data() + done, bytes.size() - done);
        if (got < 0) {
            problem = path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0) {
            break; // shrank while read: keep what is there
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

} // namespace platform
