#include "stores/Marvin32.h"

namespace stores {

namespace {

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

void Scramble(std::uint32_t& low, std::uint32_t& high) {
    high ^= low;
    low = RotateLeft(low, 20);
    low += high;
    high = RotateLeft(high, 9);
    high ^= low;
    low = RotateLeft(low, 27);
    low += high;
    high = RotateLeft(high, 19);
}

} // namespace

void Marvin32::Mix(std::uint32_t word) {
    low_ += word;
    Scramble(low_, high_);
}

void Marvin32::Add(std::string_view bytes) {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = at + bytes.size();
    while (at != end) {
        if (pendingBytes_ == 0 && end - at >= 4) {
            Mix(static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
                (static_cast<std::uint32_t>(at[2]) << 16) |
                (static_cast<std::uint32_t>(at[3]) << 24));
            at += 4;
            continue;
        }
        pending_ |= static_cast<std::uint32_t>(*at++) << (8 * pendingBytes_);
        if (++pendingBytes_ == 4) {
            Mix(pending_);
            pending_ = 0;
            pendingBytes_ = 0;
        }
    }
}

std::uint64_t Marvin32::Finish() const {
    // The last word holds what is left of the input and then a single 0x80 byte.
    std::uint32_t low = low_ + (pending_ | (std::uint32_t{0x80} << (8 * pendingBytes_)));
    std::uint32_t high = high_;
    Scramble(low, high);
    Scramble(low, high);
    return (std::uint64_t{high} << 32) | low;
}

} // namespace stores
