// The lists of a hive key: its subkeys (lf, lh, li and ri lists of lists) and its values,
// with the value data inline, in a cell or in big-data records.
#include "stores/HiveFormat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace stores {

using namespace hive;

Hive::Result Hive::Subkey(HiveCell key, std::u16string_view name, HiveCell& child) {
    HiveCell list = 0;
    std::uint32_t count = 0;
    if (const Result start = ListOf(key, false, list, count); start != Result::kFound) {
        return start;
    }
    // The hash Windows keeps in lh lists: each unit upper-cased, base 37. Beyond ASCII it depends
    // on the upper-case table of the Windows that wrote it, which the caller's fold need not
    // match letter for letter: such a name is sought by name alone.
    const std::optional<std::uint32_t> hash = AsciiNameHash(name);
    return Settle(SearchList(list, name, hash ? &*hash : nullptr, 0, child));
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
                NameFold::FoldAscii(hint) != NameFold::FoldAscii(name[c])) {
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
