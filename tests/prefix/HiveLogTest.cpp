// The replay of a hive's transaction logs on the dirty hives hivelogs.py writes from the format's
// description: every value reads back as in the state the logs lead to, and each log or entry
// that Windows would not apply is left out.
#include "stores/HiveLog.h"
#include "stores/Hive.h"
#include "stores/Marvin32.h"
#include "stores/RegText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::optional<std::string> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::u16string Ascii(const std::string& text) {
    return {text.begin(), text.end()};
}

// As hive_probe answers: "found TYPE SIZE HEX", "missing" or "damaged".
std::string Answer(stores::Hive& hive, const std::string& path, const std::string& name) {
    stores::HiveCell key = 0;
    stores::HiveValue value;
    auto result = hive.Walk(hive.Root(), stores::SplitKeyPath(Ascii(path)).value(), key);
    if (result == stores::Hive::Result::kFound) {
        result = hive.Value(key, Ascii(name), 1 << 20, value);
    }
    if (result != stores::Hive::Result::kFound) {
        return result == stores::Hive::Result::kMissing ? "missing" : "damaged";
    }
    std::string answer =
        "found " + std::to_string(value.type) + " " + std::to_string(value.size) + " ";
    for (const unsigned char byte : value.data) {
        char hex[3];
        std::snprintf(hex, sizeof(hex), "%02x", byte);
        answer += hex;
    }
    return answer;
}

constexpr int kIgnored = -1; // a clean hive: its logs are not read
constexpr int kRefused = -2; // no log could be applied: the message is part of the problem

} // namespace

TEST(HiveLog, Marvin32GivesMicrosoftsPublishedHashes) {
    const struct {
        std::string_view bytes;
        std::uint64_t hash;
    } vectors[] = {{"", 0x30ED35C100CD3C7D},
                   {"\xAF", 0x48E73FC77D75DDC1},
                   {"\xE7\x0F", 0xB5F6E1FC485DBFF8},
                   {"\x37\xF4\x95", 0xF0B07C789B8CF7E8},
                   {"\x86\x42\xDC\x59", 0x7008F2E87E9CF556}};
    for (const auto& vector : vectors) {
        EXPECT_EQ(stores::Marvin32Hash(vector.bytes, 0x004FB61A001BDBCC), vector.hash)
            << vector.bytes.size();
    }
    // Fed in pieces, the same hash as whole.
    stores::Marvin32 pieces(0x004FB61A001BDBCC);
    pieces.Add("\x86");
    pieces.Add("\x42\xDC");
    pieces.Add("\x59");
    EXPECT_EQ(pieces.Finish(), 0x7008F2E87E9CF556u);
}

TEST(HiveLog, ReplaysTheLogsAsWindowsWould) {
    const struct {
        const char* name;
        int state; // S0, S1, S2 of hivelogs.py, or kIgnored, kRefused
        const char* message;
    } cases[] = {
        // Windows 8.1 and later: entries over both logs, and the ways they end.
        {"chained", 2, "replayed 3 entries of T.LOG1, then 1 of T.LOG2"},
        {"log1-stale", 2, "replayed 2 entries of T.LOG2"},
        {"log2-stale", 2, "replayed 2 entries of T.LOG1"},
        {"reused", 2, "replayed 1 entry of T.LOG2, then 1 of T.LOG1"},
        {"torn", 1, "replayed 1 entry of T.LOG1"},
        {"first-torn", kRefused,
         "T.LOG1 has an entry that is torn (the hash of its pages is wrong)"},
        {"clean", kIgnored, ""},
        {"no-logs", kRefused, "no transaction log was found beside it"},
        {"header-torn", 2, "took the hive's header from T.LOG2; replayed 2 entries of T.LOG2"},
        {"huge-bins", 2, "replayed 2 entries of T.LOG1"},
        {"log-signature", kRefused, "T.LOG1 is not a transaction log"},
        {"log-checksum", kRefused, "T.LOG1 has a damaged header (its checksum is wrong)"},
        {"log-unfinished", kRefused, "T.LOG1 has a header Windows did not finish writing"},
        {"log-type", kRefused, "T.LOG1 is no transaction log Windows writes (file type 2)"},
        {"entry-signature", 1, "replayed 1 entry of T.LOG1"},
        {"entry-zero", 1, "replayed 1 entry of T.LOG1"},
        {"entry-hash2", 1, "replayed 1 entry of T.LOG1"},
        {"entry-sequence", 1, "replayed 1 entry of T.LOG1"},
        {"entry-size", 1, "replayed 1 entry of T.LOG1"},
        {"entry-bins", 1, "replayed 1 entry of T.LOG1"},
        {"entry-unaligned", 1, "replayed 1 entry of T.LOG1"},
        {"entry-empty-page", 1, "replayed 1 entry of T.LOG1"},
        {"entry-beyond", 1, "replayed 1 entry of T.LOG1"},
        {"entry-overrun", 1, "replayed 1 entry of T.LOG1"},
        // Windows XP to 8.0.
        {"xp", 2, "replayed T.LOG (152 dirty sectors)"},
        {"old-log1-stale", 2, "replayed T.LOG2 (152 dirty sectors)"},
        {"old-log2-stale", 2, "replayed T.LOG1 (152 dirty sectors)"},
        {"old-both", 2, "replayed T.LOG2 (152 dirty sectors)"},
        {"old-stale", kRefused, "T.LOG1 was written before the hive"},
        {"old-header-torn", 2,
         "took the hive's header from T.LOG1; replayed T.LOG1 (152 dirty sectors)"},
        {"old-stamp", kRefused, "T.LOG1 was written before the hive"},
        {"old-no-bitmap", kRefused, "T.LOG1 has no bitmap of dirty sectors"},
        {"old-cut", kRefused, "T.LOG1 is cut short: it holds fewer sectors than its bitmap marks"},
        {"old-misplaced", kRefused, "T.LOG1 has a damaged hive bin in its first dirty sectors"},
    };
    const std::string fixtures = OSTREL_HIVELOG_FIXTURES;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const std::string folder = fixtures + "/" + row.name + "/";
        const std::string primary = Slurp(folder + "primary").value();
        stores::MemorySource primarySource(primary);
        std::vector<std::string> files;
        files.reserve(3);
        std::vector<stores::MemorySource> sources;
        sources.reserve(3);
        std::vector<stores::HiveLogFile> logs;
        std::uint64_t total = primary.size();
        for (const char* name : {"T.LOG1", "T.LOG2", "T.LOG"}) {
            if (auto bytes = Slurp(folder + name)) {
                total += bytes->size();
                files.push_back(std::move(*bytes));
                logs.push_back({name, &sources.emplace_back(files.back())});
            }
        }
        const stores::HiveReplay replay = stores::ReplayHiveLogs(primarySource, logs);
        if (row.state < 0) {
            EXPECT_FALSE(replay.hive);
            EXPECT_EQ(replay.said, "");
            EXPECT_NE(replay.problem.find(row.message), std::string::npos) << replay.problem;
            EXPECT_EQ(replay.problem.empty(), row.state == kIgnored) << replay.problem;
            continue;
        }
        EXPECT_EQ(replay.said, row.message) << replay.problem;
        std::string problem;
        auto hive = replay.hive ? stores::Hive::Open(*replay.hive, problem) : std::nullopt;
        if (!hive) {
            ADD_FAILURE() << "no hive to read: " << replay.problem << problem;
            continue;
        }
        EXPECT_LE(replay.hive->Size(), total);
        EXPECT_FALSE(hive->Dirty());
        std::istringstream expect(
            Slurp(fixtures + "/S" + std::to_string(row.state) + ".expect").value());
        for (std::string path, name, answer; std::getline(expect, path, '\t') &&
                                             std::getline(expect, name, '\t') &&
                                             std::getline(expect, answer);) {
            EXPECT_EQ(Answer(*hive, path, name), answer) << path << "\\" << name;
        }
    }
}
