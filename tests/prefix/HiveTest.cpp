// The hive reader on hives laid out as Windows lays them out (written by hives.py at build time):
// every kind of subkey list and value storage, names in both encodings; every check it makes,
// each on a hive that one damaged cell makes that check alone refuse; and the reads a lookup
// costs on a crafted hive.
#include "stores/Hive.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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

// The file's bytes, counting how often they are read.
class CountingSource final : public stores::ByteSource {
  public:
    explicit CountingSource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const override {
        ++reads;
        return bytes_.ReadAt(offset, into, size);
    }
    std::uint64_t Size() const override { return bytes_.Size(); }
    mutable std::size_t reads = 0;

  private:
    stores::MemorySource bytes_;
};

Lookup Find(stores::Hive& hive, std::u16string_view path, std::u16string_view name,
            std::size_t limit) {
    Lookup lookup;
    stores::HiveCell key = 0;
    lookup.result = hive.Walk(hive.Root(), stores::SplitKeyPath(path).value_or(Names{}), key);
    if (lookup.result == Result::kFound) {
        lookup.result = hive.Value(key, name, limit, lookup.value);
    }
    lookup.problem = hive.Problem();
    return lookup;
}

Lookup Find(const std::string& bytes, std::u16string_view path, std::u16string_view name,
            std::size_t limit = 1 << 20, const stores::NameFold& fold = stores::NameFold()) {
    stores::MemorySource source(bytes);
    Lookup lookup;
    auto hive = stores::Hive::Open(source, lookup.problem, fold);
    return hive ? Find(*hive, path, name, limit) : lookup;
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

TEST(HiveFiles, TellsADirtyOrCutShortHiveApart) {
    const std::string whole = Fixture("software.hiv");
    const struct {
        std::string bytes;
        bool dirty;
        bool cutShort;
    } hives[] = {{Fixture("dirty.hiv"), true, false},
                 {whole, false, false},
                 // Cut at the end of a bin: what is left is whole, and says where the rest went.
                 {whole.substr(0, 8192), false, true},
                 // Longer than its bins (samba writes the size short): nothing is missing.
                 {whole + std::string(4096, '\0'), false, false}};
    for (const auto& [bytes, dirty, cutShort] : hives) {
        stores::MemorySource source(bytes);
        std::string problem;
        const auto hive = stores::Hive::Open(source, problem);
        ASSERT_TRUE(hive) << problem;
        EXPECT_EQ(hive->Dirty(), dirty) << bytes.size();
        EXPECT_EQ(hive->CutShort(), cutShort) << bytes.size();
    }
}

namespace {

// checks.hiv, and where hives.py put each of its cells ("key:Sub\\Child", "list:Index",
// "value:Target:v", "data:Target:big", "segment0:Target:big"...; see Writer.named).
const std::string& ChecksHive() {
    static const std::string bytes = Fixture("checks.hiv");
    return bytes;
}

stores::HiveCell Cell(const std::string& name) {
    static const std::map<std::string, stores::HiveCell> cells = [] {
        std::map<std::string, stores::HiveCell> read;
        std::istringstream lines(Fixture("checks.cells"));
        std::string cell;
        stores::HiveCell offset = 0;
        while (lines >> cell >> offset) {
            read[cell] = offset;
        }
        return read;
    }();
    const auto found = cells.find(name);
    EXPECT_NE(found, cells.end()) << name;
    return found == cells.end() ? 0 : found->second;
}

// File offsets: a cell's size, and a field `at` bytes after it.
std::size_t SizeOf(const std::string& cell) {
    return 4096 + std::size_t{Cell(cell)};
}

std::size_t Field(const std::string& cell, int at) {
    return SizeOf(cell) + static_cast<std::size_t>(4 + at);
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i) {
        number = number << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return number;
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t number) {
    bytes.replace(at, 4, Dword(number));
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t number) {
    bytes.replace(at, 2, Dword(number).substr(0, 2));
}

// The file offset of the hive bin that holds a cell of the sound hive.
std::size_t BinOf(const std::string& cell) {
    std::size_t page = SizeOf(cell) / 4096 * 4096;
    while (ChecksHive().compare(page, 4, "hbin") != 0) {
        page -= 4096;
    }
    return page;
}

std::size_t BinEnd(const std::string& cell) {
    return BinOf(cell) + Get32(ChecksHive(), BinOf(cell) + 8);
}

// Points the entry of a subkey or value list that names one cell at another (and, for an lh
// list, gives it the hash of `name`).
void Repoint(std::string& bytes, const std::string& list, const std::string& from,
             stores::HiveCell to, std::u16string_view name = {}) {
    const bool values = list.rfind("values:", 0) == 0;
    const std::size_t first = values ? Field(list, 0) : Field(list, 4);
    const std::size_t size = values || bytes.compare(Field(list, 0), 2, "li") == 0 ? 4 : 8;
    for (std::size_t at = first;; at += size) {
        ASSERT_LT(at, Field(list, 0) + 65536) << from;
        if (Get32(bytes, at) == Cell(from)) {
            Put32(bytes, at, to);
            if (!name.empty()) {
                Put32(bytes, at + 4, *stores::AsciiNameHash(name));
            }
            return;
        }
    }
}

// Turns the first segment of the big value, 16,344 bytes of its own, into a list of `count`
// entries naming `cell` (an index of subkey lists, or a value list).
void ListInSegment(std::string& bytes, const char* kind, std::size_t count, stores::HiveCell cell) {
    std::string list = kind;
    if (!list.empty()) {
        list += Dword(static_cast<std::uint32_t>(count)).substr(0, 2);
    }
    for (std::size_t i = 0; i < count; ++i) {
        list += Dword(cell);
    }
    bytes.replace(Field("segment0:Target:big", 0), list.size(), list);
}

using Damage = std::function<void(std::string&)>;

// Damage to one field, `at` bytes after the cell's size (-4: the size itself): a number, or the
// offset of another cell.
Damage Set32(const char* cell, int at, std::uint32_t number) {
    return [=](std::string& b) { Put32(b, Field(cell, at), number); };
}

Damage Set16(const char* cell, int at, std::uint16_t number) {
    return [=](std::string& b) { Put16(b, Field(cell, at), number); };
}

Damage SetCell(const char* cell, int at, const char* to) {
    return [=](std::string& b) { Put32(b, Field(cell, at), Cell(to)); };
}

Damage SetFree(const char* cell) {
    return [=](std::string& b) { Put32(b, SizeOf(cell), 0 - Get32(b, SizeOf(cell))); };
}

Damage SetRootList(std::size_t (*where)()) {
    return
        [=](std::string& b) { Put32(b, Field("key:", 0x1C), static_cast<std::uint32_t>(where())); };
}

struct Check {
    const char* what;
    Damage damage;
    Result result;
    const char* reason; // how the problem starts, or a part of it after "..."
    std::u16string_view path = u"Target";
    std::u16string_view value = u"v";
};

const Check kChecks[] = {
    // The base block.
    {"a file too short for a base block", [](std::string& b) { b.resize(0x20); }, Result::kDamaged,
     "not a registry hive (too short)"},
    {"no regf signature", [](std::string& b) { b.replace(0, 4, "REGF"); }, Result::kDamaged,
     "not a registry hive (no regf signature)"},
    {"a format version other than 1", [](std::string& b) { Put32(b, 0x14, 2); }, Result::kDamaged,
     "unknown hive format version 2"},
    {"a transaction log", [](std::string& b) { Put32(b, 0x1C, 1); }, Result::kDamaged,
     "a transaction log, not a hive"},
    {"no page after the base block", [](std::string& b) { b.resize(4096); }, Result::kDamaged,
     "hive truncated: it holds no hive bin"},
    // Hive bins.
    {"a bin that gives another offset than its own",
     [](std::string& b) {
         Put32(b, BinOf("key:Target") + 4, Get32(b, BinOf("key:Target") + 4) + 4096);
     },
     Result::kDamaged, "...gives its offset as"},
    {"a bin size that is no whole number of pages",
     [](std::string& b) {
         Put32(b, BinOf("key:Target") + 8, Get32(b, BinOf("key:Target") + 8) + 8);
     },
     Result::kDamaged, "...not a whole number of pages"},
    {"a bin size of 0", [](std::string& b) { Put32(b, BinOf("key:Target") + 8, 0); },
     Result::kDamaged, "...gives its size as 0x0,"},
    {"a bin that runs past the end of the file",
     [](std::string& b) { b.resize(Field("list:", 64)); }, Result::kDamaged,
     "...past the end of the file"},
    {"a file that ends inside a bin's header",
     [](std::string& b) {
         Put32(b, Field("key:", 0x1C), BinOf("list:") - 4096 + 4);
         b.resize(BinOf("list:") + 8);
     },
     Result::kDamaged, "hive truncated: it ends at"},
    {"no bin on the first page", [](std::string& b) { b.replace(4096, 4, "hbix"); },
     Result::kDamaged, "hive damaged: no hive bin starts at 0x1000"},
    {"a page where a bin should start and none does",
     [](std::string& b) { b.replace(BinOf("key:Target"), 4, "hbix"); }, Result::kDamaged,
     "...and no hive bin starts there"},
    // Cells.
    {"no cell (0xffffffff) where one must be", Set32("key:", 0x1C, 0xFFFFFFFF), Result::kDamaged,
     "hive damaged: a cell is missing"},
    {"a cell past the end of the file", Set32("key:", 0x1C, 0x7FFFFFF0), Result::kDamaged,
     "hive truncated: cell 0x7ffffff0 lies past the end of the file"},
    {"a cell in a bin's header", SetRootList([] { return BinOf("key:Target") - 4096 + 8; }),
     Result::kDamaged, "...overlaps a hive bin's header"},
    {"a cell whose size crosses the end of its bin",
     SetRootList([] { return BinEnd("key:Target") - 4096 - 2; }), Result::kDamaged,
     "...runs past the end of its hive bin"},
    {"a cell of size 0", Set32("key:Target", -4, 0), Result::kDamaged, "...has a size of 0"},
    {"a free cell where a key must be", SetFree("key:Target"), Result::kDamaged, "...is free"},
    {"a free cell where a list must be", SetFree("list:"), Result::kDamaged, "...is free"},
    {"a free cell where a value must be", SetFree("value:Target:v"), Result::kDamaged,
     "...is free"},
    {"a cell size of exactly 0x80000000", Set32("key:Target", -4, 0x80000000), Result::kDamaged,
     "...runs past the end of its hive bin"},
    {"a cell that runs past the end of its bin",
     [](std::string& b) {
         Put32(b, SizeOf("key:Target"),
               static_cast<std::uint32_t>(SizeOf("key:Target") - BinEnd("key:Target") - 8));
     },
     Result::kDamaged, "...runs past the end of its hive bin"},
    {"a cell too small for a key", Set32("key:Target", -4, 0xFFFFFFF0), Result::kDamaged,
     "...is too small for what it holds"},
    // Keys.
    {"a subkey entry that names no key",
     [](std::string& b) { Repoint(b, "list:", "key:Target", Cell("segment1:Target:big")); },
     Result::kDamaged, "...should hold a key and does not"},
    {"a key name longer than its cell", Set16("key:Target", 0x48, 4096), Result::kDamaged,
     "...holds a key name longer than itself"},
    {"a UTF-16 key name of odd length", Set16("key:Wide", 0x48, 7), Result::kDamaged,
     "...holds a UTF-16 key name of odd length", u"Wide", u"wide"},
    // Subkey lists.
    {"a subkey list that is none", Set16("list:", 0, 0x7A7A), Result::kDamaged,
     "...should hold a subkey list and does not"},
    {"a list count larger than its cell", Set16("list:", 2, 0xFFFF), Result::kDamaged,
     "...lists more subkeys than it holds"},
    {"a key count that its list does not hold", Set32("key:", 0x14, 6), Result::kDamaged,
     "...counts 6 subkeys, its lists hold 5"},
    {"a key count that the leaves of its index do not hold", Set32("key:Index", 0x14, 101),
     Result::kDamaged, "...counts 101 subkeys, its lists hold 100", u"Index\\Item05", u""},
    {"an index that lists itself", SetCell("list:Index", 4, "list:Index"), Result::kDamaged,
     "...is an index that lists itself", u"Index\\Item05", u""},
    {"an index within an index", SetCell("list:Index", 4, "list:Index2"), Result::kDamaged,
     "...is an index that lists another index", u"Index\\Item05", u""},
    {"an index of one leaf over and over, more subkeys than the file has room for",
     [](std::string& b) {
         ListInSegment(b, "ri", 4000, Get32(b, Field("list:Index", 4)));
         Put32(b, Field("key:Index", 0x1C), Cell("segment0:Target:big"));
         Put32(b, Field("key:Index", 0x14), 4000 * 50);
     },
     Result::kDamaged, "...list more subkeys than the file has room for", u"Index\\Item05", u""},
    {"a subkey that is the key itself",
     [](std::string& b) { Repoint(b, "list:Sub", "key:Sub\\Child", Cell("key:Sub"), u"Sub"); },
     Result::kDamaged, "...the keys lead round in a loop", u"Sub\\Sub", u""},
    {"a subkey that leads back to a key above it",
     [](std::string& b) {
         Repoint(b, "list:Sub\\Child", "key:Sub\\Child\\Leaf", Cell("key:Sub"), u"Sub");
     },
     Result::kDamaged, "...the keys lead round in a loop", u"Sub\\Child\\Sub\\Child", u""},
    // Values.
    {"a value count larger than its list", Set32("key:Target", 0x24, 1000), Result::kDamaged,
     "...counts 1000 values, more than its value list at"},
    {"a list of one value over and over, more values than the file has room for",
     [](std::string& b) {
         ListInSegment(b, "", 4000, Cell("value:Target:inline"));
         Put32(b, Field("key:Target", 0x28), Cell("segment0:Target:big"));
         Put32(b, Field("key:Target", 0x24), 4000);
     },
     Result::kDamaged, "...counts 4000 values, more than the file has room for"},
    {"a value entry that names no value",
     [](std::string& b) { Repoint(b, "values:Target", "value:Target:v", Cell("key:Target")); },
     Result::kDamaged, "...should hold a value and does not"},
    {"a value name longer than its cell", Set16("value:Target:v", 2, 4096), Result::kDamaged,
     "...holds a value name longer than itself"},
    {"a UTF-16 value name of odd length", Set16("value:Wide:wide", 2, 7), Result::kDamaged,
     "...holds a UTF-16 value name of odd length", u"Wide", u"wide"},
    {"more than four bytes of data held in place of their offset",
     Set32("value:Target:inline", 4, 0x80000005), Result::kDamaged,
     "...claims 5 bytes held in place of their offset", u"Target", u"inline"},
    {"a data cell shorter than its value", Set32("value:Target:v", 4, 1000), Result::kDamaged,
     "...is shorter than its value"},
    // Big values, read 16 bytes at a time below: their answer may not hang on the limit.
    {"a big value with too few segments for its size", Set16("data:Target:big", 2, 2),
     Result::kDamaged, "...has 2 segments, too few for 40000 bytes", u"Target", u"big"},
    {"a big value with more segments than its list holds", Set16("data:Target:big", 2, 1000),
     Result::kDamaged, "...lists 1000 segments, more than its segment list at", u"Target", u"big"},
    {"a last segment too small for its part", Set32("segment2:Target:big", -4, 0xFFFFFFF0),
     Result::kDamaged, "...is too small for what it holds", u"Target", u"big"},
    // What is no damage, or no damage of the answer.
    {"a key that counts no subkeys has none, whatever its list says", Set32("key:Sub", 0x14, 0),
     Result::kMissing, "", u"Sub\\Child", u""},
    {"a damaged entry with another name's hash is never read",
     [](std::string& b) { Repoint(b, "list:", "key:Index", 0x7FFFFFF0); }, Result::kMissing, "",
     u"Nothere"},
    {"a damaged entry before what is found is not the answer",
     [](std::string& b) { Repoint(b, "list:", "key:Index", 0x7FFFFFF0, u"Target"); },
     Result::kFound, ""},
    {"a damaged value before the one found is not the answer",
     [](std::string& b) { Repoint(b, "values:Target", "value:Target:inline", 0x7FFFFFF0); },
     Result::kFound, "", u"Target", u"big"},
};

} // namespace

TEST(HiveChecks, EachCheckRefusesTheHiveItAloneCatches) {
    // The sound hive gives every answer the damaged ones are asked for.
    for (const auto& [path, value] : {std::pair{u"Target", u"v"},
                                      {u"Target", u"big"},
                                      {u"Target", u"inline"},
                                      {u"Wide", u"wide"},
                                      {u"Index\\Item05", u""},
                                      {u"Sub\\Child\\Leaf", u""}}) {
        const Lookup sound = Find(ChecksHive(), path, value);
        EXPECT_NE(sound.result, Result::kDamaged) << sound.problem;
    }
    for (const Check& check : kChecks) {
        SCOPED_TRACE(check.what);
        std::string bytes = ChecksHive();
        check.damage(bytes);
        ASSERT_NE(bytes, ChecksHive());
        // One answer whatever the limit: a value is damaged or not, however little is read.
        const Lookup little = Find(bytes, check.path, check.value, 16);
        const Lookup whole = Find(bytes, check.path, check.value);
        EXPECT_EQ(little.result, check.result) << little.problem;
        EXPECT_EQ(whole.result, little.result) << whole.problem;
        EXPECT_EQ(whole.problem, little.problem);
        EXPECT_TRUE(PlainAscii(little.problem)) << little.problem;
        const std::string_view reason = check.reason;
        if (reason.rfind("...", 0) == 0) {
            EXPECT_NE(little.problem.find(reason.substr(3)), std::string::npos) << little.problem;
        } else {
            EXPECT_EQ(little.problem.rfind(reason, 0), 0u) << little.problem;
            EXPECT_EQ(reason.empty(), little.problem.empty()) << little.problem;
        }
    }
}

TEST(HiveBadInput, SaysWhenTheFileCannotBeReadOrShrinks) {
    // A disk that fails under the reader, and a file cut short while it is read: from the start,
    // or past the base block.
    class Failing final : public stores::ByteSource {
      public:
        Failing(std::string_view bytes, std::int64_t answer, std::uint64_t from)
            : bytes_(bytes), answer_(answer), from_(from) {}
        std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const override {
            return offset < from_ ? bytes_.ReadAt(offset, into, size) : answer_;
        }
        std::uint64_t Size() const override { return bytes_.Size(); }

      private:
        stores::MemorySource bytes_;
        std::int64_t answer_;
        std::uint64_t from_;
    };
    const struct {
        std::int64_t answer;
        std::uint64_t from;
        const char* problem;
    } cases[] = {{-1, 0, "cannot read the hive's header"},
                 {0, 0, "cannot read the hive's header"},
                 {-1, 4096, "the hive file could not be read"},
                 {0, 4096, "the hive file shrank while read"}};
    for (const auto& [answer, from, problem] : cases) {
        const Failing source(ChecksHive(), answer, from);
        Lookup lookup;
        auto hive = stores::Hive::Open(source, lookup.problem);
        if (hive) {
            lookup = Find(*hive, u"Target", u"v", 16);
        }
        EXPECT_EQ(lookup.result, Result::kDamaged);
        EXPECT_EQ(lookup.problem, problem);
    }
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

TEST(HiveWork, FindsTheLastOfACrowdedListReadingEachPageOnce) {
    // 1,000 subkeys with the lh hash of the one sought, the one sought last, a page apart in one
    // bin in a shuffled order. Learning the bin of each page costs one read of it over the hive's
    // life; each entry costs one read of its key; nothing else grows with the list.
    const std::string bytes = Fixture("crowded.hiv");
    const std::size_t pages = bytes.size() / 4096;
    CountingSource source(bytes);
    std::string problem;
    auto hive = stores::Hive::Open(source, problem);
    ASSERT_TRUE(hive) << problem;
    for (const std::size_t most : {pages + 1000 + 50, std::size_t{1000 + 50}}) {
        source.reads = 0;
        const Lookup lookup =
            Find(*hive, u"Wow6432Node\\Activision\\Call of Duty 4", u"codkey", 1 << 20);
        EXPECT_EQ(lookup.result, Result::kFound) << lookup.problem;
        EXPECT_EQ(lookup.value.data, Sz(u"ABCD-EFGH-IJKL-MNOP-QRST"));
        EXPECT_LE(source.reads, most);
    }
}

TEST(HiveWork, GivesUpAnIndexOfDamagedEntriesAtTheFirst) {
    // 4,000 entries, each naming a cell past the end of the file.
    std::string bytes = ChecksHive();
    ListInSegment(bytes, "ri", 4000, 0x7FFFFFF0);
    Put32(bytes, Field("key:Index", 0x1C), Cell("segment0:Target:big"));
    CountingSource source(bytes);
    std::string problem;
    auto hive = stores::Hive::Open(source, problem);
    ASSERT_TRUE(hive) << problem;
    source.reads = 0;
    const Lookup lookup = Find(*hive, u"Index\\Item05", u"", 16);
    EXPECT_EQ(lookup.result, Result::kDamaged);
    EXPECT_NE(lookup.problem.find("0x7ffffff0 lies past the end of the file"), std::string::npos)
        << lookup.problem;
    EXPECT_LE(source.reads, 10u);
}
