// The bytes of one file, read at any offset. The readers in this folder make no system call:
// whoever opens a file (the platform, or a test or fuzzer holding its bytes in memory) hands it
// over as one of these, so that every reader is pure code and can be fed any bytes at all.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace stores {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes from `offset` into `into`: how many were read (0 at the end), or -1
    // when the file could not be read.
    virtual std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const = 0;
    // The file's size when it was opened; a file that grows later is read no further.
    virtual std::uint64_t Size() const = 0;
};

// Bytes already in memory: for tests, fuzzing and small files read whole.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const override {
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t take = std::min<std::size_t>(size, bytes_.size() - offset);
        std::memcpy(into, bytes_.data() + offset, take);
        return static_cast<std::int64_t>(take);
    }
    std::uint64_t Size() const override { return bytes_.size(); }

  private:
    std::string_view bytes_;
};

} // namespace stores
