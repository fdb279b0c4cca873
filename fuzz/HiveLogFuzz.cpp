// Arbitrary transaction logs replayed over an arbitrary hive, then read the way Recover reads a
// hive: a disk that failed mid-write, or logs an attacker left beside a hive.
//
// Input: key path, LF, then the primary file and up to three logs, each after the separator
// "\n--log--\n" (as hivelogs.py seeds writes them). Names are taken as Latin-1.
#include "fuzz/FuzzSupport.h"
#include "stores/Hive.h"
#include "stores/HiveLog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kSplit = "\n--log--\n";

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::u16string> names;
    for (std::string_view path = TakeLine(input); !path.empty();) {
        const std::string_view name = path.substr(0, path.find('\\'));
        names.emplace_back(name.begin(), name.end());
        path.remove_prefix(std::min(path.size(), name.size() + 1));
    }
    std::deque<stores::MemorySource> files;
    std::vector<stores::HiveLogFile> logs;
    std::uint64_t total = 0;
    while (files.size() < 4) {
        const std::size_t end = input.find(kSplit);
        total += files.emplace_back(input.substr(0, end)).Size();
        if (files.size() > 1) {
            logs.push_back({"T.LOG" + std::to_string(files.size() - 1), &files.back()});
        }
        if (end == std::string_view::npos) {
            break;
        }
        input.remove_prefix(end + kSplit.size());
    }

    const stores::HiveReplay replay = stores::ReplayHiveLogs(files.front(), logs);
    FUZZ_CHECK(PlainAscii(replay.said) && PlainAscii(replay.problem));
    if (!stores::HiveNeedsLogs(files.front())) {
        FUZZ_CHECK(!replay.hive && replay.said.empty() && replay.problem.empty());
        return 0;
    }
    // A hive and what was replayed, or nothing and why.
    FUZZ_CHECK(!replay.hive == replay.said.empty() && !replay.hive != replay.problem.empty());
    if (!replay.hive) {
        return 0;
    }
    // Never larger than the files it is made of; the same bytes however it is read; a clean base
    // block, of which nothing after the first sector is kept.
    FUZZ_CHECK(replay.hive->Size() <= total);
    const std::string whole = ReadWhole(*replay.hive, SIZE_MAX);
    FUZZ_CHECK(ReadWhole(*replay.hive, 1 + size % 1000) == whole);
    FUZZ_CHECK(ReadWhole(*replay.hive, 512) == whole);
    FUZZ_CHECK(whole.size() < 512 || (!stores::HiveNeedsLogs(*replay.hive) &&
                                      whole.compare(28, 4, std::string(4, '\0')) == 0));
    FUZZ_CHECK(whole.find_first_not_of('\0', 512) >= std::min<std::size_t>(whole.size(), 4096));

    std::string problem;
    auto hive = stores::Hive::Open(*replay.hive, problem);
    FUZZ_CHECK(hive ? !hive->Dirty() : PlainAscii(problem));
    if (hive) {
        // Reading through the replay is reading a hive: two walks give one answer.
        stores::HiveCell key = 0;
        stores::HiveCell again = 0;
        const auto walked = hive->Walk(hive->Root(), names, key);
        FUZZ_CHECK(hive->Walk(hive->Root(), names, again) == walked && again == key);
        FUZZ_CHECK(PlainAscii(hive->Problem()));
    }
    return 0;
}
