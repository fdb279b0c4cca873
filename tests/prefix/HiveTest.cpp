// The hive reader on hives laid out as Windows lays them out (written by hives.py at build time):
// every kind of subkey list and value storage, names in both encodings, and hives that are cut
// short, flipped bit by bit, or whose lists lead round in loops.
#include "stores/Hive.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Result = stores::Hive::Result;
using Names = std::vector<std::u16string>;

std::string Fixture(const std::string& name) {
    std::ifstream in(std::string(OSTREL_HIVE_FIXTURES) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Lookup {
    Result result = Result::kDamaged;
    stores::HiveValue value;
    std::string problem;
};

Lookup Find(const std::string& bytes, std::u16string_view path, std::u16string_view name,
            std::size_t limit = 1 << 20, const stores::NameFold& fold = stores::NameFold()) {
    stores::MemorySource source(bytes);
    Lookup lookup;
    auto hive = stores::Hive::Open(source, lookup.problem, fold);
    if (!hive) {
        return lookup;
    }
    stores::HiveCell key = 0;
    lookup.result = hive->Walk(hive->Root(), stores::SplitKeyPath(path).value_or(Names{}), key);
    if (lookup.result == Result::kFound) {
        lookup.result = hive->Value(key, name, limit, lookup.value);
    }
    lookup.problem = hive->Problem();
    return lookup;
}

std::string Sz(std::u16string_view text) {
    return stores::Utf16Bytes(text) + std::string(2, '\0');
}

// What hives.py stores as the big values: byte i is i * 7 mod 251.
std::string Pattern(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) {
        bytes += static_cast<char>(i * 7 % 251);
    }
    return bytes;
}

std::string Dword(std::uint32_t number) {
    return std::string{static_cast<char>(number), static_cast<char>(number >> 8),
                       static_cast<char>(number >> 16), static_cast<char>(number >> 24)};
}

bool PlainAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace

TEST(HiveFiles, FindsKeysAndValuesInEveryLayoutWindowsWrites) {
    const struct {
        const char* file;
        std::u16string_view path;
        std::u16string_view name;
        Result result;
        std::uint32_t type;
        std::string data;
    } rows[] = {
        // Names in any letter case; the 64-bit twin is another key.
        {"software.hiv", u"wow6432NODE\\ACTIVISION\\call of duty 4", u"CODKEY", Result::kFound, 1,
         Sz(u"ABCD-EFGH-IJKL-MNOP-QRST")},
        {"software.hiv", u"Activision\\Call of Duty 4", u"codkey", Result::kFound, 1,
         Sz(u"SIXTY-FOUR")},
        {"software.hiv", u"Activision\\Call of Duty 5", u"codkey", Result::kMissing, 0, ""},
        {"software.hiv", u"Activision\\Call of Duty 4", u"codke", Result::kMissing, 0, ""},
        // 1,500 subkeys in one lh list; 1,200 in an ri list of lh lists; lf hints; li.
        {"software.hiv", u"Many\\sub01234", u"n", Result::kFound, 4, Dword(1234)},
        {"software.hiv", u"Many\\Sub01500", u"n", Result::kMissing, 0, ""},
        {"software.hiv", u"Indexed\\ITEM0777", u"N", Result::kFound, 4, Dword(777)},
        {"software.hiv", u"Indexed\\Item1199", u"n", Result::kFound, 4, Dword(1199)},
        {"software.hiv", u"Indexed\\Item1200", u"n", Result::kMissing, 0, ""},
        {"software.hiv", u"LF\\ab", u"n", Result::kFound, 4, Dword(2)},
        {"software.hiv", u"LF\\Abc", u"n", Result::kMissing, 0, ""},
        {"software.hiv", u"li\\BETA", u"n", Result::kFound, 4, Dword(1)},
        // A name stored in UTF-16 although Latin-1 would do; names beyond Latin-1.
        {"software.hiv", u"WIDE", u"codkey", Result::kFound, 1, Sz(u"wide")},
        {"software.hiv", u"Ключи\\ÜNÏCODE", u"Имя", Result::kFound, 1, Sz(u"кириллица")},
        {"software.hiv", u"Ключи\\Ünïcode", u"", Result::kFound, 1, Sz(u"default")},
        // Data in a db record, at the largest size a plain cell holds, in place, empty.
        {"software.hiv", u"Values", u"big", Result::kFound, 3, Pattern(40000)},
        {"software.hiv", u"Values", u"edge", Result::kFound, 3, Pattern(16344)},
        {"software.hiv", u"Values", u"inline", Result::kFound, 3, "\xAA\xBB\xCC"},
        {"software.hiv", u"Values", u"empty", Result::kFound, 1, ""},
        {"software.hiv", u"Values", u"MIXED case", Result::kFound, 1, Sz(u"case")},
        // Before version 1.4 a big value sits in one cell.
        {"old-format.hiv", u"Values", u"big", Result::kFound, 3, Pattern(40000)},
        // Lists that lead round end in a clear error.
        {"loops.hiv", u"Self\\A", u"", Result::kDamaged, 0, ""},
        {"loops.hiv", u"Again\\Other", u"", Result::kDamaged, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + std::to_string(&row - rows));
        const Lookup lookup = Find(Fixture(row.file), row.path, row.name);
        EXPECT_EQ(lookup.result, row.result) << lookup.problem;
        EXPECT_EQ(lookup.problem.empty(), row.result != Result::kDamaged) << lookup.problem;
        if (row.result == Result::kFound) {
            EXPECT_EQ(lookup.value.type, row.type);
            EXPECT_EQ(lookup.value.size, row.data.size());
            EXPECT_EQ(lookup.value.data, row.data);
        }
    }
}

TEST(HiveFiles, ReadsNoMoreOfAValueThanAsked) {
    // The fixture holds the value in a db record of three segments.
    ASSERT_NE(Fixture("software.hiv").find(std::string("db\x03\x00", 4)), std::string::npos);
    const Lookup big = Find(Fixture("software.hiv"), u"Values", u"big", 100);
    ASSERT_EQ(big.result, Result::kFound);
    EXPECT_EQ(big.value.size, 40000u);
    EXPECT_EQ(big.value.data, Pattern(100));
}

TEST(HiveFiles, ComparesNamesWithTheFoldItIsGiven) {
    // Cyrillic letters are beyond the default's Latin-1; the installation's own table knows them.
    // A lower-case table serves as well as Windows' upper-case one, lh hashes included.
    std::ifstream in(std::string(OSTREL_WINE_NLS) + "/l_intl.nls", std::ios::binary);
    const auto cyrillic =
        stores::NameFold::FromNls(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(cyrillic);
    const std::string bytes = Fixture("software.hiv");
    EXPECT_EQ(Find(bytes, u"ключи\\ünïcode", u"имя").result, Result::kMissing);
    EXPECT_EQ(Find(bytes, u"ключи\\Ünïcode", u"имя", 100, *cyrillic).result, Result::kFound);
    EXPECT_EQ(
        Find(bytes, u"WOW6432NODE\\activision\\Call OF Duty 4", u"CODkey", 100, *cyrillic).result,
        Result::kFound);
}

TEST(HiveFiles, TellsADirtyHiveApart) {
    for (const auto& [file, dirty] : {std::pair{"dirty.hiv", true}, {"software.hiv", false}}) {
        const std::string bytes = Fixture(file);
        stores::MemorySource source(bytes);
        std::string problem;
        const auto hive = stores::Hive::Open(source, problem);
        ASSERT_TRUE(hive) << problem;
        EXPECT_EQ(hive->Dirty(), dirty) << file;
    }
}

TEST(HiveBadInput, RefusesWhatIsNoHiveAndReportsWhereAHiveIsCut) {
    const std::string whole = Fixture("software.hiv");
    const struct {
        std::size_t size;
        const char* problem;
    } cuts[] = {{0, "not a registry hive (too short)"},
                {4096, "hive truncated: it holds no hive bin"},
                {4096 + 32, "hive truncated"},
                {whole.size() / 2, "hive truncated"},
                {8192, "hive truncated"}};
    for (const auto& cut : cuts) {
        const Lookup lookup = Find(whole.substr(0, cut.size), u"Wow6432Node", u"");
        EXPECT_EQ(lookup.result, Result::kDamaged) << cut.size;
        EXPECT_EQ(lookup.problem.rfind(cut.problem, 0), 0u) << cut.size << ": " << lookup.problem;
    }
    std::string other = whole;
    other.replace(0, 4, "REGF");
    EXPECT_EQ(Find(other, u"", u"").problem, "not a registry hive (no regf signature)");
}

TEST(HiveBadInput, SurvivesEveryFlippedBitOfASmallHive) {
    // Whatever one bit does, the answer is a value, "missing" or a reason in plain ASCII.
    const std::string whole = Fixture("dirty.hiv");
    std::size_t found = 0, missing = 0, damaged = 0;
    for (std::size_t bit = 0; bit < whole.size() * 8; ++bit) {
        if (bit / 8 >= 0x30 && bit / 8 < 4096) {
            continue; // the base block's unused bytes
        }
        std::string bytes = whole;
        bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        const Lookup lookup =
            Find(bytes, u"Wow6432Node\\Activision\\Call of Duty 4", u"codkey", 64);
        ASSERT_TRUE(PlainAscii(lookup.problem)) << bit;
        ASSERT_LE(lookup.value.data.size(), 64u);
        (lookup.result == Result::kFound     ? found
         : lookup.result == Result::kMissing ? missing
                                             : damaged)++;
    }
    EXPECT_GT(found, 0u);
    EXPECT_GT(missing, 0u);
    EXPECT_GT(damaged, 0u);
}
