// The lists of a hive key: its subkeys (li, lf and lh leaves, and ri indexes of leaves) and its
// values, with the value data inline, in a cell or in big-data records.
#include "stores/HiveFormat.h"

#include <algorithm>
#include <utility>

namespace stores {

using namespace hive;

// Hands `visit` each of `count` entries of `size` bytes from `at`, read a slice at a time, until
// it returns false. False when a slice could not be read.
template <typename Visit>
bool Hive::EachEntry(std::uint64_t at, std::size_t count, std::size_t size, Visit visit) {
    std::string slice;
    for (std::size_t first = 0; first < count;) {
        const std::size_t take = std::min(count - first, kSlice / size);
        slice.resize(take * size);
        if (!Read(at + first * size, slice.data(), slice.size())) {
            return false;
        }
        for (std::size_t i = 0; i < take; ++i) {
            if (!visit(reinterpret_cast<const unsigned char*>(slice.data()) + i * size)) {
                return true;
            }
        }
        first += take;
    }
    return true;
}

Hive::Result Hive::Subkey(HiveCell key, std::u16string_view name, HiveCell& child) {
    HiveCell found = key;
    const Result result = Walk(key, {std::u16string(name)}, found);
    if (result == Result::kFound) {
        child = found;
    }
    return result;
}

Hive::Result Hive::Walk(HiveCell key, const std::vector<std::u16string>& names, HiveCell& found) {
    problem_.clear();
    found = key;
    Key facts;
    if (!ReadKey(key, 0, facts)) {
        return Result::kDamaged;
    }
    std::vector<HiveCell> path{key};
    for (const auto& name : names) {
        HiveCell child = 0;
        Key childFacts;
        const Result result = FindSubkey(facts, found, name, child, childFacts);
        if (result != Result::kFound) {
            return ClearProblemUnlessDamaged(result);
        }
        problem_.clear(); // damage among the siblings of a key found is no damage of the walk
        if (std::find(path.begin(), path.end(), child) != path.end()) {
            return Fail("hive damaged: key " + Hex(found) + " lists key " + Hex(child) +
                        ", which the path has passed already: the keys lead round in a loop");
        }
        path.push_back(child);
        found = child;
        facts = std::move(childFacts);
    }
    return Result::kFound;
}

bool Hive::ReadList(HiveCell cell, List& list) {
    Span span;
    std::string head;
    if (!ReadCell(cell, 4, 4, span, head)) {
        return false;
    }
    list.cell = cell;
    list.count = U16(reinterpret_cast<const unsigned char*>(&head[2]));
    list.entries = span.at + 4;
    std::uint64_t entry = 4;
    if (head[0] == 'r' && head[1] == 'i') {
        list.kind = 'i';
    } else if (head[0] == 'l' && head[1] == 'i') {
        list.kind = 'l';
    } else if (head[0] == 'l' && (head[1] == 'f' || head[1] == 'h')) {
        list.kind = head[1];
        entry = 8;
    } else {
        Fail("hive damaged: " + CellProblem(cell, "should hold a subkey list and does not"));
        return false;
    }
    if (4 + list.count * entry > span.size) {
        Fail("hive damaged: " + CellProblem(cell, "lists more subkeys than it holds"));
        return false;
    }
    return true;
}

Hive::Result Hive::FindSubkey(const Key& parent, HiveCell parentCell, std::u16string_view name,
                              HiveCell& child, Key& childKey) {
    if (parent.subkeys == 0) {
        return Result::kMissing;
    }
    List top;
    if (!ReadList(parent.subkeyList, top)) {
        return Result::kDamaged;
    }
    std::vector<List> leaves;
    if (const Result counted = CountSubkeys(parent, parentCell, top, leaves);
        counted != Result::kFound) {
        return counted;
    }
    // The hash Windows keeps in lh lists: each unit upper-cased, base 37. Beyond ASCII it depends
    // on the upper-case table of the Windows that wrote it, which the caller's fold need not
    // match letter for letter: such a name is sought by name alone.
    const std::optional<std::uint32_t> hash = AsciiNameHash(name);
    bool damaged = false;
    for (const List& leaf : leaves) {
        const Result result = SearchLeaf(leaf, name, hash ? &*hash : nullptr, child, childKey);
        if (result == Result::kFound) {
            return result;
        }
        damaged = damaged || result == Result::kDamaged;
    }
    return damaged ? Result::kDamaged : Result::kMissing;
}

// Windows, as it loads a hive, checks that a key's lists hold as many subkeys as the key counts,
// and that an index lists leaves, never another index: there is no index within an index to
// descend into, and so no loop of them to follow. kFound when the lists agree with the key, with
// the leaves read on the way (the list itself, when it is a leaf), so that a search reads none
// of them twice.
Hive::Result Hive::CountSubkeys(const Key& parent, HiveCell parentCell, const List& top,
                                std::vector<List>& leaves) {
    // Lists that name the same cells over and over could make one lookup read far more than the
    // file holds; a hive that is whole has room for every subkey it lists. An index is given up
    // as soon as its leaves list more.
    const std::uint64_t room = (fileSize_ - kBaseBlock) / kRoomPerSubkey;
    const auto roomy = [&](std::uint64_t listed) {
        if (listed > room) {
            Fail("hive damaged: the subkey lists of key " + Hex(parentCell) +
                 " list more subkeys than the file has room for");
        }
        return listed <= room;
    };
    std::uint64_t total = top.count;
    if (top.kind != 'i') {
        leaves.push_back(top);
    } else {
        total = 0;
        bool agree = true;
        if (!EachEntry(top.entries, top.count, 4,
                       [&](const unsigned char* at) {
                           const HiveCell cell = U32(at);
                           List leaf;
                           if (cell == top.cell) {
                               Fail("hive damaged: " +
                                    CellProblem(top.cell, "is an index that lists itself"));
                               agree = false;
                           } else if (!ReadList(cell, leaf)) {
                               agree = false;
                           } else if (leaf.kind == 'i') {
                               Fail(
                                   "hive damaged: " +
                                   CellProblem(top.cell, "is an index that lists another index, ") +
                                   Hex(cell) + ", where only subkey lists may be");
                               agree = false;
                           } else {
                               total += leaf.count;
                               agree = roomy(total);
                               leaves.push_back(leaf);
                           }
                           return agree;
                       }) ||
            !agree) {
            return Result::kDamaged;
        }
    }
    if (!roomy(total)) {
        return Result::kDamaged;
    }
    if (total != parent.subkeys) {
        return Fail("hive damaged: key " + Hex(parentCell) + " counts " +
                    std::to_string(parent.subkeys) + " subkeys, its lists hold " +
                    std::to_string(total));
    }
    return Result::kFound;
}

Hive::Result Hive::SearchLeaf(const List& leaf, std::u16string_view name, const std::uint32_t* hash,
                              HiveCell& child, Key& childKey) {
    Result result = Result::kMissing;
    bool damaged = false;
    const auto candidate = [&](HiveCell cell) {
        Key key;
        if (!ReadKey(cell, 2 * name.size(), key)) {
            damaged = true;
            return true;
        }
        if (!SameName(key.nameBytes, key.name, (key.flags & kKeyLatin1Name) != 0, name)) {
            return true;
        }
        child = cell;
        childKey = std::move(key);
        result = Result::kFound;
        return false;
    };
    if (!EachEntry(leaf.entries, leaf.count, leaf.kind == 'l' ? 4 : 8,
                   [&](const unsigned char* at) {
                       if (leaf.kind == 'h' && hash != nullptr && U32(at + 4) != *hash) {
                           return true;
                       }
                       // An lf hint holds the name's first four characters: a sure mismatch
                       // among them spares reading the key. Anything else in it decides nothing.
                       for (std::size_t c = 0; leaf.kind == 'f' && c < 4 && c < name.size(); ++c) {
                           const char16_t hint = at[4 + c];
                           if (hint != 0 && hint < 0x80 && name[c] < 0x80 &&
                               NameFold::FoldAscii(hint) != NameFold::FoldAscii(name[c])) {
                               return true;
                           }
                       }
                       return candidate(U32(at));
                   })) {
        return Result::kDamaged;
    }
    return result == Result::kFound ? result : damaged ? Result::kDamaged : Result::kMissing;
}

Hive::Result Hive::Value(HiveCell key, std::u16string_view name, std::size_t limit,
                         HiveValue& value) {
    problem_.clear();
    Key facts;
    if (!ReadKey(key, 0, facts)) {
        return Result::kDamaged;
    }
    if (facts.values == 0) {
        return Result::kMissing;
    }
    Span list;
    std::string unused;
    if (!ReadCell(facts.valueList, 0, 0, list, unused)) {
        return Result::kDamaged;
    }
    const std::string counts =
        "hive damaged: key " + Hex(key) + " counts " + std::to_string(facts.values) + " values";
    if (std::uint64_t{facts.values} * 4 > list.size) {
        return Fail(counts + ", more than its value list at " + Hex(facts.valueList) + " holds");
    }
    // Each value read costs a read; a list that names the same cells over and over could make
    // the search cost more than the file holds.
    if (facts.values * kRoomPerValue > fileSize_ - kBaseBlock) {
        return Fail(counts + ", more than the file has room for");
    }
    // The value asked for is the first of its name, damaged or not.
    Result result = Result::kMissing;
    bool damaged = false;
    if (!EachEntry(list.at, facts.values, 4, [&](const unsigned char* at) {
            bool named = false;
            const Result entry = ValueEntry(U32(at), name, limit, value, named);
            if (named) {
                result = entry;
                return false;
            }
            damaged = damaged || entry == Result::kDamaged;
            return true;
        })) {
        return Result::kDamaged;
    }
    if (result == Result::kMissing && damaged) {
        result = Result::kDamaged;
    }
    return ClearProblemUnlessDamaged(result);
}

Hive::Result Hive::ValueEntry(HiveCell cell, std::u16string_view name, std::size_t limit,
                              HiveValue& value, bool& named) {
    Span span;
    std::string bytes;
    if (!ReadCell(cell, kValueFixed, kValueFixed + 2 * name.size(), span, bytes)) {
        return Result::kDamaged;
    }
    const auto* fixed = reinterpret_cast<const unsigned char*>(bytes.data());
    if (fixed[0] != 'v' || fixed[1] != 'k') {
        return Fail("hive damaged: " + CellProblem(cell, "should hold a value and does not"));
    }
    const std::uint16_t nameBytes = U16(&fixed[2]);
    const bool latin1 = (U16(&fixed[0x10]) & kValueLatin1Name) != 0;
    if (kValueFixed + nameBytes > span.size) {
        return Fail("hive damaged: " + CellProblem(cell, "holds a value name longer than itself"));
    }
    if (!latin1 && nameBytes % 2 != 0) {
        return Fail("hive damaged: " +
                    CellProblem(cell, "holds a UTF-16 value name of odd length"));
    }
    const std::string stored =
        nameBytes <= 2 * name.size() ? bytes.substr(kValueFixed, nameBytes) : std::string();
    if (!SameName(nameBytes, stored, latin1, name)) {
        return Result::kMissing;
    }
    // Damage among the values before it is not this value's.
    named = true;
    problem_.clear();
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
    std::string head;
    if (!ReadCell(cell, 0, 8, span, head)) {
        return Result::kDamaged;
    }
    if (!bigData_ || size <= kBigDataSegment || head.size() < 8 || head[0] != 'd' ||
        head[1] != 'b') {
        if (span.size < size) {
            return Fail("hive damaged: " + CellProblem(cell, "is shorter than its value"));
        }
        data.resize(wanted);
        return Read(span.at, data.data(), wanted) ? Result::kFound : Result::kDamaged;
    }
    const auto* record = reinterpret_cast<const unsigned char*>(head.data());
    const std::uint32_t segments = U16(&record[2]);
    const HiveCell listCell = U32(&record[4]);
    const std::uint32_t needed = (size + kBigDataSegment - 1) / kBigDataSegment;
    const std::string big = "hive damaged: the big value at " + Hex(cell);
    if (segments < needed) {
        return Fail(big + " has " + std::to_string(segments) + " segments, too few for " +
                    std::to_string(size) + " bytes");
    }
    Span list;
    if (!ReadCell(listCell, 0, 0, list, head)) {
        return Result::kDamaged;
    }
    if (std::uint64_t{segments} * 4 > list.size) {
        return Fail(big + " lists " + std::to_string(segments) +
                    " segments, more than its segment list at " + Hex(listCell) + " holds");
    }
    // Every segment is checked, however little of the value is asked for: one value has one
    // answer whatever the limit it is read with.
    std::uint32_t index = 0;
    bool whole = true;
    if (!EachEntry(list.at, needed, 4,
                   [&](const unsigned char* at) {
                       const std::uint32_t part =
                           std::min(kBigDataSegment, size - index * kBigDataSegment);
                       ++index;
                       Span segment;
                       std::string unused;
                       if (!ReadCell(U32(at), part, 0, segment, unused)) {
                           whole = false;
                           return false;
                       }
                       const std::size_t take = std::min<std::size_t>(part, wanted - data.size());
                       const std::size_t had = data.size();
                       data.resize(had + take);
                       whole = Read(segment.at, data.data() + had, take);
                       return whole;
                   }) ||
        !whole) {
        return Result::kDamaged;
    }
    return Result::kFound;
}

} // namespace stores
