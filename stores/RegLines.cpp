#include "stores/RegLines.h"

#include <cstring>

namespace stores {

namespace {

constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

} // namespace

bool LineReader::Next(std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    bool any = false;
    for (;;) {
        if (pos_ == size_ && !Refill()) {
            return any && !failed_;
        }
        any = true;
        const char* start = buffer_.get() + pos_;
        const std::size_t left = size_ - pos_;
        const void* newline = std::memchr(start, '\n', left);
        const std::size_t take =
            newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - start)
                               : left;
        if (line.size() + take <= kMaxLineBytes) {
            line.append(start, take);
        } else {
            tooLong = true;
        }
        pos_ += take;
        if (newline != nullptr) {
            ++pos_;
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    const std::size_t nul = line.find('\0');
    if (nul != std::string::npos) {
        line.resize(nul);
    }
    return true;
}

bool LineReader::Refill() {
    if (!buffer_) {
        buffer_.reset(new char[kReadChunk]);
    }
    pos_ = 0;
    size_ = 0;
    // The file as it was when opened: one that grows while it is read is read no further.
    const std::uint64_t end = source_.Size();
    if (offset_ >= end) {
        return false;
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, end - offset_));
    const std::int64_t got = source_.ReadAt(offset_, buffer_.get(), want);
    if (got < 0) {
        failed_ = true;
        return false;
    }
    size_ = static_cast<std::size_t>(got);
    offset_ += size_;
    return size_ > 0;
}

} // namespace stores
