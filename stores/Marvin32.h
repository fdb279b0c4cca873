// Marvin32, the keyed hash Windows puts on every entry of a hive's transaction log (Windows 8.1
// and later), so that an entry torn by a power cut is known before it is laid over the hive. Fed in
// pieces, so that an entry of any size is hashed without holding it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace stores {

class Marvin32 {
  public:
    explicit Marvin32(std::uint64_t seed)
        : low_(static_cast<std::uint32_t>(seed)), high_(static_cast<std::uint32_t>(seed >> 32)) {}
    // The same hash whatever the sizes of the pieces.
    void Add(std::string_view bytes);
    std::uint64_t Finish() const;

  private:
    void Mix(std::uint32_t word);

    std::uint32_t low_;
    std::uint32_t high_;
    std::uint32_t pending_ = 0; // the bytes of a word not yet complete, lowest first
    unsigned pendingBytes_ = 0;
};

inline std::uint64_t Marvin32Hash(std::string_view bytes, std::uint64_t seed) {
    Marvin32 hash(seed);
    hash.Add(bytes);
    return hash.Finish();
}

} // namespace stores
