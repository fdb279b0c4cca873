// Physical lines of a Wine registry file, read a block at a time from any offset, so that one
// pass costs one read of the file and several readers may share it.
#pragma once

#include "stores/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace stores {

// Longest line kept whole: far beyond anything Wine writes for a real program, small enough that
// an endless line cannot exhaust memory. A longer line is read past, and skipped like any other
// line Wine would not understand.
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

class LineReader {
  public:
    LineReader(const ByteSource& source, std::uint64_t offset) : source_(source), offset_(offset) {}

    // False at the end of the file, or when it could not be read (Failed() then says so). A line
    // stops at its first NUL, as C strings do, and loses a CR before its LF.
    bool Next(std::string& line, bool& tooLong);

    // Where the next line starts.
    std::uint64_t Offset() const { return offset_ - (size_ - pos_); }
    bool Failed() const { return failed_; }

  private:
    bool Refill();

    const ByteSource& source_;
    std::uint64_t offset_;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace stores
