// Arbitrary hive files through the hive reader: a disk that failed, a hive Windows never finished
// writing, or one an attacker left on a USB stick, read the way Recover reads one.
//
// Input: key path, LF, value name, LF, then the whole hive. Names are taken as Latin-1.
#include "fuzz/FuzzSupport.h"
#include "stores/Hive.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::u16string Latin1(std::string_view text) {
    std::u16string units;
    for (const char c : text) {
        units.push_back(static_cast<unsigned char>(c));
    }
    return units;
}

bool PlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view path = TakeLine(input);
    const std::u16string name = Latin1(TakeLine(input));
    std::vector<std::u16string> names;
    while (!path.empty()) {
        names.push_back(Latin1(path.substr(0, path.find('\\'))));
        path.remove_prefix(std::min(path.size(), names.back().size() + 1));
    }

    stores::MemorySource source(input);
    std::string problem;
    auto hive = stores::Hive::Open(source, problem);
    if (!hive) {
        FUZZ_CHECK(!problem.empty() && PlainAscii(problem));
        return 0;
    }
    // One answer for one question: a second walk, and a walk by a second reader that learnt the
    // file's bins in another order first, find what the first found, for the same reason.
    stores::HiveCell key = 0;
    stores::HiveCell again = 0;
    const auto walked = hive->Walk(hive->Root(), names, key);
    const std::string why = hive->Problem();
    FUZZ_CHECK((walked == stores::Hive::Result::kDamaged) == !why.empty());
    FUZZ_CHECK(PlainAscii(why));
    FUZZ_CHECK(hive->Walk(hive->Root(), names, again) == walked && again == key);
    FUZZ_CHECK(hive->Problem() == why);
    auto other = stores::Hive::Open(source, problem);
    FUZZ_CHECK(other.has_value());
    stores::HiveValue unused;
    other->Value(other->Root(), name, 1 << 16, unused);
    other->Walk(other->Root(), std::vector<std::u16string>(names.rbegin(), names.rend()), again);
    FUZZ_CHECK(other->Walk(other->Root(), names, again) == walked && again == key);
    FUZZ_CHECK(other->Problem() == why);
    if (walked != stores::Hive::Result::kFound) {
        return 0;
    }
    // A key found is a key that can be read.
    FUZZ_CHECK(hive->Walk(key, {}, again) == stores::Hive::Result::kFound && again == key);

    // A value read in part is the start of the same value read further, and is damaged or not
    // whatever the limit.
    stores::HiveValue little;
    stores::HiveValue more;
    const auto first = hive->Value(key, name, 16, little);
    const std::string reason = hive->Problem();
    FUZZ_CHECK(PlainAscii(reason));
    FUZZ_CHECK((first == stores::Hive::Result::kDamaged) == !reason.empty());
    FUZZ_CHECK(hive->Value(key, name, 1 << 16, more) == first);
    FUZZ_CHECK(hive->Problem() == reason);
    if (first == stores::Hive::Result::kFound) {
        FUZZ_CHECK(little.data.size() == std::min<std::size_t>(little.size, 16));
        FUZZ_CHECK(more.data.size() == std::min<std::size_t>(more.size, 1 << 16));
        FUZZ_CHECK(little.type == more.type && little.size == more.size);
        FUZZ_CHECK(more.data.compare(0, little.data.size(), little.data) == 0);
    }
    return 0;
}
