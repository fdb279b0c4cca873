// Arbitrary transaction logs replayed over an arbitrary hive, then read the way Recover reads a
// hive: a disk that failed mid-write, or logs an attacker left beside a hive.
//
// Input: key path, LF, value name, LF, then the primary file and up to three logs, each after the
// separator "\n--log--\n" (hivelogs.py seeds writes such inputs).
#include "fuzz/FuzzSupport.h"
#include "stores/Hive.h"
#include "stores/HiveLog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kSplit = "\n--log--\n";

std::u16string Latin1(std::string_view text) {
    return {text.begin(), text.end()};
}

bool PlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string ReadWhole(const stores::ByteSource& source, std::size_t piece) {
    std::string bytes(source.Size(), '\0');
    for (std::size_t done = 0; done < bytes.size();) {
        const std::int64_t got =
            source.ReadAt(done, bytes.data() + done, std::min(piece, bytes.size() - done));
        FUZZ_CHECK(got > 0);
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4); // little-endian hosts only, as the fuzzer runs
    return value;
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
    std::vector<std::string_view> files;
    for (std::size_t end = 0; files.size() < 4 && end != std::string_view::npos;) {
        end = input.find(kSplit);
        files.push_back(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + kSplit.size());
    }
    std::deque<stores::MemorySource> sources(files.begin(), files.end());
    std::vector<stores::HiveLogFile> logs;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        total += sources[i].Size();
        if (i > 0) {
            logs.push_back({i == 3 ? "T.LOG" : "T.LOG" + std::to_string(i), &sources[i]});
        }
    }
    const stores::ByteSource& primary = sources.front();

    const stores::HiveReplay replay = stores::ReplayHiveLogs(primary, logs);
    FUZZ_CHECK(PlainAscii(replay.said) && PlainAscii(replay.problem));
    if (!stores::HiveNeedsLogs(primary)) {
        FUZZ_CHECK(!replay.hive && replay.said.empty() && replay.problem.empty());
        return 0;
    }
    FUZZ_CHECK(!replay.hive == replay.said.empty() && !replay.hive != replay.problem.empty());
    if (!replay.hive) {
        return 0;
    }
    // Never larger than the files it is made of; the same bytes however it is read.
    FUZZ_CHECK(replay.hive->Size() <= total);
    const std::string whole = ReadWhole(*replay.hive, replay.hive->Size() + 1);
    FUZZ_CHECK(ReadWhole(*replay.hive, 1 + size % 1000) == whole);
    FUZZ_CHECK(ReadWhole(*replay.hive, 512) == whole);
    if (whole.size() >= 512) {
        // A clean base block: equal numbers, a right checksum, a hive's file type.
        FUZZ_CHECK(!stores::HiveNeedsLogs(*replay.hive) && U32(whole, 28) == 0);
    }
    FUZZ_CHECK(whole.size() < 4096 || std::all_of(whole.begin() + 512, whole.begin() + 4096,
                                                  [](char c) { return c == 0; }));

    std::string problem;
    auto hive = stores::Hive::Open(*replay.hive, problem);
    if (!hive) {
        FUZZ_CHECK(PlainAscii(problem));
        return 0;
    }
    FUZZ_CHECK(!hive->Dirty());
    stores::HiveCell key = 0;
    stores::HiveCell again = 0;
    const auto walked = hive->Walk(hive->Root(), names, key);
    FUZZ_CHECK(hive->Walk(hive->Root(), names, again) == walked && again == key);
    FUZZ_CHECK(PlainAscii(hive->Problem()));
    if (walked == stores::Hive::Result::kFound) {
        stores::HiveValue little;
        stores::HiveValue more;
        const auto first = hive->Value(key, name, 16, little);
        FUZZ_CHECK(hive->Value(key, name, 1 << 16, more) == first);
        FUZZ_CHECK(first != stores::Hive::Result::kFound ||
                   more.data.compare(0, little.data.size(), little.data) == 0);
    }
    return 0;
}
