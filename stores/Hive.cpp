// The hive's base block, its bins and its cells: where a cell lies, and whether it may be read.
#include "stores/Hive.h"

#include "stores/HiveFormat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <utility>

namespace stores {

using namespace hive;

const NameFold Hive::kLatinLetters;

std::optional<Hive> Hive::Open(const ByteSource& file, std::string& problem, const NameFold& fold) {
    Hive hive(file, fold);
    hive.fileSize_ = file.Size();
    std::array<unsigned char, 0x30> head{};
    if (!hive.Read(0, head.data(), head.size())) {
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
    if (hive.fileSize_ <= kBaseBlock) {
        problem = "hive truncated: it holds no hive bin";
        return std::nullopt;
    }
    hive.root_ = U32(&head[0x24]);
    hive.dirty_ = U32(&head[0x04]) != U32(&head[0x08]);
    // Some writers get the declared size of the hive bins wrong (samba counts the base block in
    // it), so it bounds nothing: the bins say where they end, and the file's size where it ends.
    hive.cutShort_ = kBaseBlock + U32(&head[0x28]) > hive.fileSize_;
    hive.bigData_ = minor >= 4;
    return hive;
}

// The first damage met is the one named: what follows from it would only repeat it.
Hive::Result Hive::Fail(std::string reason) {
    if (problem_.empty()) {
        problem_ = std::move(reason);
    }
    return Result::kDamaged;
}

// A search may pass damaged entries before it finds what it seeks, as Windows, repairing the
// hive as it loads it, would drop them and keep the rest: only a damaged answer keeps a reason.
Hive::Result Hive::ClearProblemUnlessDamaged(Result result) {
    if (result != Result::kDamaged) {
        problem_.clear();
    }
    return result;
}

bool Hive::Read(std::uint64_t at, void* into, std::size_t size) {
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
// boundaries, so the pages are tried backwards until one begins with a bin header. Each page
// tried is remembered with the bin found below it, so that no page is read twice for this,
// whichever order the lookups come in, and the answer for a page never depends on that order.
bool Hive::FindBin(std::uint64_t at, Bin& bin) {
    const auto page = static_cast<std::uint32_t>(at / kPage);
    auto above = pages_.upper_bound(page);
    if (above == pages_.begin() || std::prev(above)->second.last < page) {
        const std::uint32_t lowest =
            above == pages_.begin() ? 1 : std::prev(above)->second.last + 1;
        // One page at first, as the bin of most cells starts on theirs; then, while none starts
        // one, more pages a read (each page is still read once), for bins of many pages.
        std::uint32_t top = page;
        std::string bytes;
        bool found = false;
        for (std::uint32_t batch = 1; !found; batch = std::min(2 * batch, kScanPages)) {
            const std::uint32_t bottom = top - std::min(batch, top - lowest + 1) + 1;
            bytes.resize((top - bottom) * kPage + 12);
            if (!Read(bottom * kPage, bytes.data(), bytes.size())) {
                return false;
            }
            for (std::uint32_t tried = top + 1; !found && tried-- > bottom;) {
                const auto* header =
                    reinterpret_cast<const unsigned char*>(&bytes[(tried - bottom) * kPage]);
                found = std::memcmp(header, "hbin", 4) == 0;
                if (found) {
                    pages_[tried] = KnownPages{page, true, U32(header + 4), U32(header + 8)};
                }
            }
            if (!found && bottom == lowest) {
                if (lowest == 1) {
                    pages_[1] = KnownPages{page, false, 0, 0};
                } else {
                    std::prev(above)->second.last = page;
                }
                break;
            }
            top = bottom - 1;
        }
        above = pages_.upper_bound(page);
    }
    const std::uint64_t start = std::uint64_t{std::prev(above)->first} * kPage;
    const KnownPages& known = std::prev(above)->second;
    const auto refuse = [this](std::string reason) {
        Fail(std::move(reason));
        return false;
    };
    if (!known.header) {
        return refuse("hive damaged: no hive bin starts at " + Hex(kBaseBlock));
    }
    const std::string where = "the hive bin at " + Hex(start);
    if (known.offset != start - kBaseBlock) {
        return refuse("hive damaged: " + where + " gives its offset as " + Hex(known.offset));
    }
    if (known.size == 0 || known.size % kPage != 0) {
        return refuse("hive damaged: " + where + " gives its size as " + Hex(known.size) +
                      ", not a whole number of pages");
    }
    bin = Bin{start, start + known.size};
    if (bin.end > fileSize_) {
        return refuse("hive truncated: " + where + " ends at " + Hex(bin.end) +
                      ", past the end of the file at " + Hex(fileSize_));
    }
    if (at >= bin.end) {
        return refuse("hive damaged: " + where + " ends at " + Hex(bin.end) +
                      " and no hive bin starts there");
    }
    return true;
}

// Checks that `cell` is an allocated cell of at least `need` bytes inside one hive bin, and reads
// its first bytes, up to `want`, in the same read as its size.
bool Hive::ReadCell(HiveCell cell, std::uint64_t need, std::size_t want, Span& span,
                    std::string& bytes) {
    const std::uint64_t at = kBaseBlock + cell;
    if (cell == kNone) {
        Fail("hive damaged: a cell is missing (its offset is " + Hex(kNone) + ")");
        return false;
    }
    if (at + 4 > fileSize_) {
        Fail("hive truncated: " + CellProblem(cell, "lies past the end of the file"));
        return false;
    }
    Bin bin;
    if (!FindBin(at, bin)) {
        return false;
    }
    if (at < bin.start + kBinHeader) {
        Fail("hive damaged: " + CellProblem(cell, "overlaps a hive bin's header"));
        return false;
    }
    if (bin.end - at < 4) {
        Fail("hive damaged: " + CellProblem(cell, "runs past the end of its hive bin"));
        return false;
    }
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(4 + want, bin.end - at)));
    if (!Read(at, bytes.data(), bytes.size())) {
        return false;
    }
    // Allocated cells carry their size negated; a free one is no key, list or value of the hive.
    const auto stored =
        static_cast<std::int32_t>(U32(reinterpret_cast<unsigned char*>(bytes.data())));
    if (stored == 0) {
        Fail("hive damaged: " + CellProblem(cell, "has a size of 0"));
        return false;
    }
    if (stored > 0) {
        Fail("hive damaged: " + CellProblem(cell, "is free, where the hive needs one in use"));
        return false;
    }
    const std::uint64_t total = 0 - static_cast<std::int64_t>(stored);
    if (total < 4 + need) {
        Fail("hive damaged: " + CellProblem(cell, "is too small for what it holds"));
        return false;
    }
    if (at + total > bin.end) {
        Fail("hive damaged: " + CellProblem(cell, "runs past the end of its hive bin"));
        return false;
    }
    span = Span{at + 4, static_cast<std::uint32_t>(total - 4)};
    bytes.erase(0, 4);
    bytes.resize(std::min<std::size_t>(bytes.size(), span.size));
    return true;
}

bool Hive::ReadKey(HiveCell cell, std::size_t nameLimit, Key& key) {
    Span span;
    std::string bytes;
    if (!ReadCell(cell, kKeyFixed, kKeyFixed + nameLimit, span, bytes)) {
        return false;
    }
    const auto* fixed = reinterpret_cast<const unsigned char*>(bytes.data());
    if (fixed[0] != 'n' || fixed[1] != 'k') {
        Fail("hive damaged: " + CellProblem(cell, "should hold a key and does not"));
        return false;
    }
    key.flags = U16(&fixed[0x02]);
    key.subkeys = U32(&fixed[0x14]);
    key.subkeyList = U32(&fixed[0x1C]);
    key.values = U32(&fixed[0x24]);
    key.valueList = U32(&fixed[0x28]);
    key.nameBytes = U16(&fixed[0x48]);
    if (kKeyFixed + key.nameBytes > span.size) {
        Fail("hive damaged: " + CellProblem(cell, "holds a key name longer than itself"));
        return false;
    }
    if ((key.flags & kKeyLatin1Name) == 0 && key.nameBytes % 2 != 0) {
        Fail("hive damaged: " + CellProblem(cell, "holds a UTF-16 key name of odd length"));
        return false;
    }
    key.name.clear();
    if (key.nameBytes <= nameLimit) {
        key.name = bytes.substr(kKeyFixed, key.nameBytes);
    }
    return true;
}

// Names of another length are told apart by their length alone; the caller has read the bytes
// of those as long as the one sought.
bool Hive::SameName(std::size_t bytes, const std::string& stored, bool latin1,
                    std::u16string_view name) const {
    if ((latin1 ? bytes : bytes / 2) != name.size() || stored.size() != bytes) {
        return false;
    }
    const auto* units = reinterpret_cast<const unsigned char*>(stored.data());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t unit =
            latin1 ? char16_t{units[i]} : static_cast<char16_t>(U16(&units[2 * i]));
        if (unit != name[i] && fold_->Fold(unit) != fold_->Fold(name[i])) {
            return false;
        }
    }
    return true;
}

} // namespace stores
