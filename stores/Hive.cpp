#include "stores/Hive.h"

#include "stores/HiveFormat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace stores {

using namespace hive;

const NameFold Hive::kLatinLetters;

std::optional<Hive> Hive::Open(const ByteSource& file, std::string& problem, const NameFold& fold) {
    Hive hive(file, fold);
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
    hive.cutShort_ = hive.fileSize_ < kBaseBlock + U32(&head[0x28]);
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
        if (unit != name[i] && fold_->Fold(unit) != fold_->Fold(name[i])) {
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

} // namespace stores
