#include "stores/Hive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace stores {

namespace {

constexpr std::uint64_t kBaseBlock = 4096; // the hive bins start after it; cells count from there
constexpr std::uint64_t kPage = 4096;      // hive bins start and end on these boundaries
constexpr std::uint64_t kBinHeader = 32;
constexpr HiveCell kNone = 0xFFFFFFFF;
// A bin holds one cell larger than a page only as far as it must; no writer makes one this large,
// and the search for a cell's bin goes back no further.
constexpr std::uint64_t kMaxBinPages = 4096;
constexpr std::size_t kBinsRemembered = 16;
// Values longer than this sit in db records, in segments of this many bytes each.
constexpr std::uint32_t kBigDataSegment = 16344;
// Windows nests one ri list above the leaves; tolerate one more, never a loop.
constexpr int kMaxIndexDepth = 2;
// Lists are read a slice at a time, so that a key with a million subkeys costs no more memory.
constexpr std::size_t kSlice = std::size_t{64} * 1024;

constexpr std::size_t kKeyFixed = 0x4C;
constexpr std::size_t kValueFixed = 0x14;
constexpr std::uint16_t kKeyLatin1Name = 0x0020;
constexpr std::uint16_t kValueLatin1Name = 0x0001;

std::uint16_t U16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t U32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::string Hex(std::uint64_t number) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[number % 16]);
        number /= 16;
    } while (number != 0);
    return "0x" + text;
}

char16_t AsciiUpcase(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
}

std::string CellProblem(HiveCell cell, const char* what) {
    return std::string("cell ") + Hex(cell) + " " + what;
}

} // namespace

char16_t LatinUpcase(char16_t unit) {
    if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) {
        return static_cast<char16_t>(unit - 0x20);
    }
    return unit == 0xFF ? char16_t{0x178} : unit;
}

std::optional<Hive> Hive::Open(const ByteSource& file, std::string& problem, Fold fold) {
    Hive hive(file, std::move(fold));
    hive.fileSize_ = file.Size();
    hive.Begin();
    std::array<unsigned char, 0x30> head{};
    if (hive.fileSize_ < head.size() || !hive.Read(0, head.data(), head.size())) {
        problem = hive.fileSize_ < head.size() ? "not a registry hive (too short)"
                                               : "cannot read the hive's header";
        return std::nullopt;
    }
    if (std::memcmp(head.data(), "regf", 4) != 0) {
        problem = "not a registry hive (no regf signature)";
        return std::nullopt;
    }
    const std::uint32_t major = U32(&head[0x14]);
    const std::uint32_t minor = U32(&head[0x18]);
    if (major != 1) {
        problem = "unknown hive format version " + std::to_string(major);
        return std::nullopt;
    }
    if (U32(&head[0x1C]) != 0) {
        problem = "a transaction log, not a hive";
        return std::nullopt;
    }
    // Some writers get the base block's size of the hive bins wrong: the file's own size is what
    // bounds every offset, so a hive cut short is found where a cell runs past its end.
    if (hive.fileSize_ <= kBaseBlock) {
        problem = "hive truncated: it holds no hive bin";
        return std::nullopt;
    }
    hive.root_ = U32(&head[0x24]);
    hive.dirty_ = U32(&head[0x04]) != U32(&head[0x08]);
    hive.bigData_ = minor >= 4;
    return hive;
}

void Hive::Begin() {
    problem_.clear();
    // A lookup reads each cell it needs once; twice the file is reached only by a loop.
    budget_ = 2 * fileSize_ + kSlice;
}

// Damage passed on the way to what was found is no answer's reason.
Hive::Result Hive::Settle(Result result) {
    if (result != Result::kDamaged) {
        problem_.clear();
    }
    return result;
}

Hive::Result Hive::Fail(std::string reason) {
    if (problem_.empty()) {
        problem_ = std::move(reason);
    }
    return Result::kDamaged;
}

bool Hive::Read(std::uint64_t at, void* into, std::size_t size) {
    if (size > budget_) {
        budget_ = 0;
        Fail("the hive's lists lead round in a loop");
        return false;
    }
    budget_ -= size;
    if (at > fileSize_ || size > fileSize_ - at) {
        Fail("hive truncated: it ends at " + Hex(fileSize_) + ", before " + Hex(at + size));
        return false;
    }
    auto* bytes = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t got = file_->ReadAt(at + done, bytes + done, size - done);
        if (got <= 0) {
            Fail(got < 0 ? "the hive file could not be read" : "the hive file shrank while read");
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// The bin that holds a cell is the nearest one starting at or before it: bins start on page
// boundaries, so the pages are tried backwards until one begins with a bin header.
bool Hive::FindBin(std::uint64_t at, Bin& bin) {
    const std::uint64_t page = at - at % kPage;
    std::array<unsigned char, 12> header{};
    for (const Bin& known : bins_) {
        // What the search cost is charged again, so that a call's answer never depends on what
        // the calls before it found.
        if (known.page == page && known.cost <= budget_) {
            budget_ -= known.cost;
            bin = known;
            return true;
        }
    }
    for (std::uint64_t steps = 0, start = page; steps < kMaxBinPages && start >= kBaseBlock;
         ++steps, start -= kPage) {
        if (!Read(start, header.data(), header.size())) {
            return false;
        }
        if (std::memcmp(header.data(), "hbin", 4) != 0) {
            continue;
        }
        const std::uint32_t size = U32(&header[8]);
        if (U32(&header[4]) != start - kBaseBlock || size == 0 || size % kPage != 0) {
            Fail("hive damaged: the hive bin at " + Hex(start) + " has a bad header");
            return false;
        }
        bin = Bin{page, start, start + size, (steps + 1) * header.size()};
        if (bins_.size() == kBinsRemembered) {
            bins_.erase(bins_.begin());
        }
        bins_.push_back(bin);
        return true;
    }
    if (problem_.empty()) {
        Fail("hive damaged: no hive bin holds the cell at " + Hex(at));
    }
    return false;
}

bool Hive::CellAt(HiveCell cell, std::size_t atLeast, Span& span) {
    const std::uint64_t at = kBaseBlock + cell;
    if (cell == kNone || at + 4 > fileSize_) {
        Fail("hive truncated: " + CellProblem(cell, "lies past the end of the file"));
        return false;
    }
    Bin bin;
    if (!FindBin(at, bin)) {
        return false;
    }
    std::array<unsigned char, 4> size{};
    if (at < bin.start + kBinHeader || !Read(at, size.data(), size.size())) {
        Fail("hive damaged: " + CellProblem(cell, "overlaps a hive bin's header"));
        return false;
    }
    // Allocated cells carry their size negated; a free one still has its bytes where they were.
    const auto signedSize = static_cast<std::int32_t>(U32(size.data()));
    const std::uint64_t total = signedSize < 0 ? 0 - static_cast<std::int64_t>(signedSize)
                                               : static_cast<std::uint64_t>(signedSize);
    if (total < 4 + static_cast<std::uint64_t>(atLeast)) {
        Fail("hive damaged: " + CellProblem(cell, "is too small for what it holds"));
        return false;
    }
    if (at + total > bin.end) {
        Fail("hive damaged: " + CellProblem(cell, "runs past the end of its hive bin"));
        return false;
    }
    if (at + total > fileSize_) {
        Fail("hive truncated: " + CellProblem(cell, "runs past the end of the file"));
        return false;
    }
    span = Span{at + 4, static_cast<std::uint32_t>(total - 4)};
    return true;
}

bool Hive::ReadKey(HiveCell cell, Key& key) {
    Span span;
    std::array<unsigned char, kKeyFixed> fixed{};
    if (!CellAt(cell, fixed.size(), span) || !Read(span.at, fixed.data(), fixed.size())) {
        return false;
    }
    if (fixed[0] != 'n' || fixed[1] != 'k') {
        Fail("hive damaged: " + CellProblem(cell, "should hold a key and does not"));
        return false;
    }
    key.flags = U16(&fixed[0x02]);
    key.subkeys = U32(&fixed[0x14]);
    key.subkeyList = U32(&fixed[0x1C]);
    key.values = U32(&fixed[0x24]);
    key.valueList = U32(&fixed[0x28]);
    key.nameAt = span.at + kKeyFixed;
    key.nameBytes = U16(&fixed[0x48]);
    if (kKeyFixed + key.nameBytes > span.size) {
        Fail("hive damaged: " + CellProblem(cell, "holds a key name longer than itself"));
        return false;
    }
    return true;
}

bool Hive::NameMatches(std::uint64_t at, std::size_t bytes, bool latin1, std::u16string_view name,
                       bool& equal) {
    equal = false;
    // Names of another length are told apart without reading them.
    if ((latin1 ? bytes : bytes / 2) != name.size() || (!latin1 && bytes % 2 != 0)) {
        return true;
    }
    std::string stored(bytes, '\0');
    if (!Read(at, stored.data(), stored.size())) {
        return false;
    }
    const auto* units = reinterpret_cast<const unsigned char*>(stored.data());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t unit =
            latin1 ? char16_t{units[i]} : static_cast<char16_t>(U16(&units[2 * i]));
        if (unit != name[i] && fold_(unit) != fold_(name[i])) {
            return true;
        }
    }
    equal = true;
    return true;
}

// A call's start: the key's subkey list or value list, and how many it lists; missing when none.
Hive::Result Hive::ListOf(HiveCell key, bool values, HiveCell& list, std::uint32_t& count) {
    Begin();
    Key facts;
    if (!ReadKey(key, facts)) {
        return Result::kDamaged;
    }
    list = values ? facts.valueList : facts.subkeyList;
    count = values ? facts.values : facts.subkeys;
    return count == 0 || list == kNone ? Result::kMissing : Result::kFound;
}

Hive::Result Hive::Subkey(HiveCell key, std::u16string_view name, HiveCell& child) {
    HiveCell list = 0;
    std::uint32_t count = 0;
    if (const Result start = ListOf(key, false, list, count); start != Result::kFound) {
        return start;
    }
    // The hash Windows keeps in lh lists: each unit upper-cased, base 37. Beyond ASCII it depends
    // on the upper-case table of the Windows that wrote it, which the caller's fold need not
    // match letter for letter: such a name is sought by name alone.
    std::uint32_t hash = 0;
    for (const char16_t unit : name) {
        if (unit >= 0x80) {
            return Settle(SearchList(list, name, nullptr, 0, child));
        }
        hash = hash * 37 + AsciiUpcase(unit);
    }
    return Settle(SearchList(list, name, &hash, 0, child));
}

Hive::Result Hive::Walk(HiveCell key, const std::vector<std::u16string>& names, HiveCell& found) {
    found = key;
    if (names.empty()) {
        // The key itself, which must be one.
        Begin();
        Key facts;
        return ReadKey(key, facts) ? Result::kFound : Result::kDamaged;
    }
    for (const auto& name : names) {
        const Result result = Subkey(found, name, found);
        if (result != Result::kFound) {
            return result;
        }
    }
    return Result::kFound;
}

Hive::Result Hive::SearchList(HiveCell list, std::u16string_view name, const std::uint32_t* hash,
                              int depth, HiveCell& child) {
    Span span;
    std::array<unsigned char, 4> head{};
    if (!CellAt(list, head.size(), span) || !Read(span.at, head.data(), head.size())) {
        return Result::kDamaged;
    }
    const std::string_view kind(reinterpret_cast<const char*>(head.data()), 2);
    const std::size_t count = U16(&head[2]);
    const bool index = kind == "ri";
    const std::size_t entry = (kind == "lf" || kind == "lh") ? 8 : 4;
    if (!index && kind != "li" && entry == 4) {
        return Fail("hive damaged: " + CellProblem(list, "should hold a subkey list and does not"));
    }
    if (index && depth >= kMaxIndexDepth) {
        return Fail("hive damaged: " + CellProblem(list, "nests subkey lists too deeply"));
    }
    if (4 + count * entry > span.size) {
        return Fail("hive damaged: " + CellProblem(list, "lists more subkeys than it holds"));
    }
    return EachEntry(span.at + 4, count, entry, [&](const unsigned char* at) {
        if (index) {
            return SearchList(U32(at), name, hash, depth + 1, child);
        }
        if (kind == "lh") {
            return hash == nullptr || U32(at + 4) == *hash ? Candidate(U32(at), name, child)
                                                           : Result::kMissing;
        }
        // An lf hint holds the name's first four characters: a sure mismatch among them spares
        // reading the key. Anything else in it decides nothing.
        for (std::size_t c = 0; kind == "lf" && c < 4 && c < name.size(); ++c) {
            const char16_t hint = at[4 + c];
            if (hint != 0 && hint < 0x80 && name[c] < 0x80 &&
                AsciiUpcase(hint) != AsciiUpcase(name[c])) {
                return Result::kMissing;
            }
        }
        return Candidate(U32(at), name, child);
    });
}

// Visits `count` entries of `size` bytes each from `at`, a slice at a time. A damaged entry does
// not end the walk: what is sought may still be found further on, and only when it is not is the
// damage the answer. Found ends it, and so does a budget spent.
template <typename Visit>
Hive::Result Hive::EachEntry(std::uint64_t at, std::size_t count, std::size_t size, Visit visit) {
    bool damaged = false;
    std::string slice;
    for (std::size_t first = 0; first < count;) {
        const std::size_t take = std::min(count - first, kSlice / size);
        slice.resize(take * size);
        if (!Read(at + first * size, slice.data(), slice.size())) {
            return Result::kDamaged;
        }
        for (std::size_t i = 0; i < take; ++i) {
            const Result result =
                visit(reinterpret_cast<const unsigned char*>(slice.data()) + i * size);
            if (result == Result::kFound || (result == Result::kDamaged && budget_ == 0)) {
                return result;
            }
            damaged = damaged || result == Result::kDamaged;
        }
        first += take;
    }
    return damaged ? Result::kDamaged : Result::kMissing;
}

Hive::Result Hive::Candidate(HiveCell cell, std::u16string_view name, HiveCell& child) {
    Key key;
    bool equal = false;
    if (!ReadKey(cell, key) ||
        !NameMatches(key.nameAt, key.nameBytes, (key.flags & kKeyLatin1Name) != 0, name, equal)) {
        return Result::kDamaged;
    }
    if (!equal) {
        return Result::kMissing;
    }
    child = cell;
    return Result::kFound;
}

Hive::Result Hive::Value(HiveCell key, std::u16string_view name, std::size_t limit,
                         HiveValue& value) {
    HiveCell cell = 0;
    std::uint32_t count = 0;
    if (const Result start = ListOf(key, true, cell, count); start != Result::kFound) {
        return start;
    }
    Span list;
    if (count > 0x3FFFFFFF || !CellAt(cell, std::size_t{count} * 4, list)) {
        return Fail("hive damaged: the value list of key " + Hex(key) + " is cut short");
    }
    // The value asked for is the first of its name, damaged or not.
    Result named = Result::kMissing;
    const Result result = EachEntry(list.at, count, 4, [&](const unsigned char* at) {
        bool match = false;
        const Result entry = ValueEntry(U32(at), name, limit, value, match);
        if (match) {
            named = entry;
            return Result::kFound;
        }
        return entry;
    });
    return Settle(result == Result::kFound ? named : result);
}

Hive::Result Hive::ValueEntry(HiveCell cell, std::u16string_view name, std::size_t limit,
                              HiveValue& value, bool& named) {
    Span span;
    std::array<unsigned char, kValueFixed> fixed{};
    if (!CellAt(cell, fixed.size(), span) || !Read(span.at, fixed.data(), fixed.size())) {
        return Result::kDamaged;
    }
    if (fixed[0] != 'v' || fixed[1] != 'k' || kValueFixed + U16(&fixed[2]) > span.size) {
        return Fail("hive damaged: " + CellProblem(cell, "should hold a value and does not"));
    }
    bool equal = false;
    if (!NameMatches(span.at + kValueFixed, U16(&fixed[2]),
                     (U16(&fixed[0x10]) & kValueLatin1Name) != 0, name, equal)) {
        return Result::kDamaged;
    }
    if (!equal) {
        return Result::kMissing;
    }
    named = true;
    value.type = U32(&fixed[0x0C]);
    value.size = U32(&fixed[0x04]) & 0x7FFFFFFF;
    value.data.clear();
    return ReadData(&fixed[0x04], limit, value.data);
}

// `field` is the value's size and data offset as stored: four bytes or fewer sit in the offset
// itself, more in a cell of their own, and over 16,344 bytes in segments listed by a db record.
Hive::Result Hive::ReadData(const unsigned char* field, std::size_t limit, std::string& data) {
    const std::uint32_t stored = U32(field);
    const std::uint32_t size = stored & 0x7FFFFFFF;
    const HiveCell cell = U32(field + 4);
    const std::size_t wanted = std::min<std::size_t>(size, limit);
    if ((stored & 0x80000000) != 0) {
        if (size > 4) {
            return Fail("hive damaged: a value claims " + std::to_string(size) +
                        " bytes held in place of their offset");
        }
        data.assign(reinterpret_cast<const char*>(field + 4), wanted);
        return Result::kFound;
    }
    if (size == 0) {
        return Result::kFound;
    }
    Span span;
    if (!CellAt(cell, 0, span)) {
        return Result::kDamaged;
    }
    std::array<unsigned char, 8> record{};
    if (bigData_ && size > kBigDataSegment && span.size >= record.size()) {
        if (!Read(span.at, record.data(), record.size())) {
            return Result::kDamaged;
        }
    }
    if (record[0] != 'd' || record[1] != 'b') {
        if (span.size < size) {
            return Fail("hive damaged: " + CellProblem(cell, "is shorter than its value"));
        }
        data.resize(wanted);
        return Read(span.at, data.data(), wanted) ? Result::kFound : Result::kDamaged;
    }
    const std::size_t segments = U16(&record[2]);
    const std::size_t needed = (size + kBigDataSegment - 1) / kBigDataSegment;
    Span list;
    if (segments < needed || !CellAt(U32(&record[4]), segments * 4, list)) {
        return Fail("hive damaged: the big value at " + Hex(cell) + " lacks segments");
    }
    data.reserve(wanted);
    for (std::size_t i = 0; data.size() < wanted; ++i) {
        std::array<unsigned char, 4> offset{};
        Span segment;
        const std::size_t part = std::min<std::size_t>(kBigDataSegment, size - i * kBigDataSegment);
        if (!Read(list.at + i * 4, offset.data(), offset.size()) ||
            !CellAt(U32(offset.data()), part, segment)) {
            return Result::kDamaged;
        }
        const std::size_t take = std::min(part, wanted - data.size());
        const std::size_t had = data.size();
        data.resize(had + take);
        if (!Read(segment.at, data.data() + had, take)) {
            return Result::kDamaged;
        }
    }
    return Result::kFound;
}

} // namespace stores
