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

} // namespace

std::unique_ptr<stores::ByteSource> OpenInputFile(const std::string& path, std::string& problem) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        problem = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        problem = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = path + " is not a regular file";
        return nullptr;
    }
    return std::make_unique<FileSource>(std::move(fd), static_cast<std::uint64_t>(info.st_size));
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
