#include "stores/HiveLog.h"

#include "stores/HiveFormat.h"
#include "stores/Marvin32.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string_view>
#include <utility>

namespace stores {

namespace {

using hive::kBaseBlock;
using hive::kPage;
constexpr std::uint64_t kSector = 512; // a log keeps its copy of the base block in one
constexpr std::size_t kSequence1 = 4;
constexpr std::size_t kSequence2 = 8;
constexpr std::size_t kStamp = 12;
constexpr std::size_t kFileType = 28;
constexpr std::size_t kBinsSize = 40;
constexpr std::size_t kChecksum = 508;
constexpr std::uint32_t kOldLog = 1; // XP to 8.0: a dirty-sector bitmap and the sectors
constexpr std::uint32_t kNewLog = 6; // 8.1 and later: entries
// Windows hashes every log entry with this seed, the bytes 82 EF 4D 88 7A 4E 55 C5.
constexpr std::uint64_t kEntrySeed = 0xC5554E7A884DEF82;
constexpr std::uint64_t kEntryHeader = 40;
constexpr std::uint64_t kPageReference = 8;
// Logs are read in slices of this size: a multiple of a page reference, so that the references
// at the start of an entry never straddle two slices.
constexpr std::size_t kSlice = std::size_t{64} * 1024;
constexpr std::string_view kNoEntry = "no entry"; // the log's entries end here

using Sector = std::array<unsigned char, kSector>;

using hive::U32;

std::uint64_t U64(const unsigned char* at) {
    return U32(at) | (std::uint64_t{U32(at + 4)} << 32);
}

void Put32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::string_view View(const unsigned char* bytes, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes), size};
}

// The XOR of the base block's first 508 bytes; Windows never stores 0 or -1 there.
std::uint32_t Checksum(const unsigned char* block) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < kChecksum; i += 4) {
        sum ^= U32(block + i);
    }
    return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

bool ReadAll(const ByteSource& file, std::uint64_t at, void* into, std::size_t size) {
    if (at > file.Size() || size > file.Size() - at) {
        return false;
    }
    auto* bytes = static_cast<char*>(into);
    for (std::size_t done = 0; done < size;) {
        const std::int64_t got = file.ReadAt(at + done, bytes + done, size - done);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// A base block Windows finished writing: read whole, its checksum right.
bool SoundHeader(const ByteSource& file, Sector& head) {
    return ReadAll(file, 0, head.data(), head.size()) &&
           U32(&head[kChecksum]) == Checksum(head.data());
}

// A stretch of the hive that a log replaces.
struct Piece {
    std::uint64_t end = 0; // in the hive, one past its last byte
    std::size_t log = 0;
    std::uint64_t at = 0; // where its first byte is in that log
};
// By the hive offset of each piece's first byte; pieces never overlap.
using Pieces = std::map<std::uint64_t, Piece>;

// A later page replaces what earlier ones laid where they overlap.
void Lay(Pieces& pieces, std::uint64_t start, const Piece& piece) {
    const auto keepTail = [&](Pieces::iterator old) {
        if (old->second.end > piece.end) {
            Piece tail = old->second;
            tail.at += piece.end - old->first;
            pieces.emplace(piece.end, tail);
        }
    };
    auto next = pieces.lower_bound(start);
    if (next != pieces.begin() && std::prev(next)->second.end > start) {
        const auto before = std::prev(next);
        keepTail(before);
        before->second.end = start;
    }
    while (next != pieces.end() && next->first < piece.end) {
        keepTail(next);
        next = pieces.erase(next);
    }
    pieces.emplace(start, piece);
}

// The primary's bytes with the logged pieces over them, behind a clean base block.
class ReplayedHive final : public ByteSource {
  public:
    ReplayedHive(const ByteSource& primary, std::vector<const ByteSource*> logs, const Sector& head,
                 Pieces pieces, std::uint64_t size)
        : primary_(&primary), logs_(std::move(logs)), pieces_(std::move(pieces)), size_(size) {
        std::copy(head.begin(), head.end(), head_.begin());
    }

    std::int64_t ReadAt(std::uint64_t offset, char* into, std::size_t size) const override {
        size = static_cast<std::size_t>(
            std::min<std::uint64_t>(size, size_ - std::min(offset, size_)));
        std::size_t done = 0;
        while (done < size) {
            const std::uint64_t at = offset + done;
            std::size_t want = size - done;
            std::int64_t got = 0;
            auto next = pieces_.upper_bound(at);
            if (at < kBaseBlock) {
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, kBaseBlock - at));
                std::memcpy(into + done, head_.data() + at, want);
                got = static_cast<std::int64_t>(want);
            } else if (next != pieces_.begin() && std::prev(next)->second.end > at) {
                const auto& [start, piece] = *std::prev(next);
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, piece.end - at));
                got = logs_[piece.log]->ReadAt(piece.at + (at - start), into + done, want);
            } else {
                if (next != pieces_.end()) {
                    want =
                        static_cast<std::size_t>(std::min<std::uint64_t>(want, next->first - at));
                }
                if (at < primary_->Size()) {
                    want = static_cast<std::size_t>(
                        std::min<std::uint64_t>(want, primary_->Size() - at));
                    got = primary_->ReadAt(at, into + done, want);
                } else { // the hive grew past the primary's end; Windows fills the gap with zeros
                    std::memset(into + done, 0, want);
                    got = static_cast<std::int64_t>(want);
                }
            }
            if (got <= 0) {
                return done > 0 ? static_cast<std::int64_t>(done) : got;
            }
            done += static_cast<std::size_t>(got);
        }
        return static_cast<std::int64_t>(done);
    }

    std::uint64_t Size() const override { return size_; }

  private:
    const ByteSource* primary_;
    std::vector<const ByteSource*> logs_;
    std::array<unsigned char, kBaseBlock> head_{};
    Pieces pieces_;
    std::uint64_t size_;
};

struct Log {
    std::size_t index = 0; // in the caller's list
    Sector head{};
    std::uint32_t sequence = 0; // its base block's, both numbers alike
};

// Why a log's base block is not one Windows wrote whole; empty when it is.
std::string ReadLogHead(const ByteSource& bytes, Log& log) {
    if (bytes.Size() < kSector) {
        return bytes.Size() == 0 ? "is empty" : "is too short to be a transaction log";
    }
    if (!ReadAll(bytes, 0, log.head.data(), kSector)) {
        return "could not be read";
    }
    const unsigned char* head = log.head.data();
    log.sequence = U32(head + kSequence1);
    if (std::memcmp(head, "regf", 4) != 0) {
        return "is not a transaction log";
    }
    if (U32(head + kChecksum) != Checksum(head)) {
        return "has a damaged header (its checksum is wrong)";
    }
    if (log.sequence != U32(head + kSequence2)) {
        return "has a header Windows did not finish writing";
    }
    const std::uint32_t type = U32(head + kFileType);
    if (type != kOldLog && type != kNewLog) {
        return "is no transaction log Windows writes (file type " + std::to_string(type) + ")";
    }
    return {};
}

struct Entry {
    std::uint64_t size = 0;
    std::uint32_t bins = 0;                                     // the hive bins' size after it
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pages; // offset in the bins, size
};

class Replay {
  public:
    Replay(const ByteSource& primary, const std::vector<HiveLogFile>& files)
        : primary_(primary), files_(files) {
        primarySound_ = SoundHeader(primary, primaryHead_);
        limit_ = primary.Size();
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].bytes == nullptr) {
                continue;
            }
            limit_ += files[i].bytes->Size();
            Log log;
            log.index = i;
            if (const std::string why = ReadLogHead(*files[i].bytes, log); !why.empty()) {
                Note(i, why);
            } else {
                logs_.push_back(log);
            }
        }
    }

    HiveReplay Run() {
        HiveReplay result;
        if (!ReplayNew() && !ReplayOld()) {
            result.problem = notes_.empty() ? "no transaction log was found beside it"
                                            : "no transaction log could be applied: " + notes_;
            return result;
        }
        // What has no meaning on disk after the first sector stays zero.
        Put32(&head_[kSequence1], sequence_);
        Put32(&head_[kSequence2], sequence_);
        Put32(&head_[kFileType], 0);
        Put32(&head_[kBinsSize], bins_);
        Put32(&head_[kChecksum], Checksum(head_.data()));
        std::vector<const ByteSource*> sources;
        for (const HiveLogFile& file : files_) {
            sources.push_back(file.bytes);
        }
        // A log can claim any size; the hive is never larger than the files it is made of.
        const std::uint64_t size = std::min(kBaseBlock + bins_, limit_);
        result.hive = std::make_unique<ReplayedHive>(primary_, std::move(sources), head_,
                                                     std::move(pieces_), size);
        result.said = std::move(said_);
        return result;
    }

  private:
    const std::string& Name(std::size_t index) const { return files_[index].name; }

    void Note(std::size_t index, const std::string& why) {
        notes_ += (notes_.empty() ? "" : "; ") + Name(index) + " " + why;
    }

    std::vector<const Log*> LogsOfType(std::uint32_t type) const {
        std::vector<const Log*> found;
        for (const Log& log : logs_) {
            if (U32(&log.head[kFileType]) == type) {
                found.push_back(&log);
            }
        }
        return found;
    }

    // Windows 8.1 and later: entries in sequence, from the log that holds the earliest ones the
    // hive lacks, on into the other log where the first runs out.
    bool ReplayNew() {
        std::vector<const Log*> order = LogsOfType(kNewLog);
        std::stable_sort(order.begin(), order.end(),
                         [](const Log* a, const Log* b) { return a->sequence < b->sequence; });
        if (!primarySound_ && !order.empty()) {
            // The hive's own base block is torn: the log with the latest entries alone serves,
            // and its copy of the base block with it.
            order.erase(order.begin(), order.end() - 1);
        }
        for (auto log = order.begin(); primarySound_ && log != order.end();) {
            // A log restarted before the hive's last full write holds only what the hive has.
            if ((*log)->sequence < U32(&primaryHead_[kSequence2])) {
                Note((*log)->index, "holds only changes the hive already has");
                log = order.erase(log);
            } else {
                ++log;
            }
        }
        if (order.empty()) {
            return false;
        }
        head_ = primarySound_ ? primaryHead_ : order.front()->head;
        bins_ = U32(&head_[kBinsSize]);
        // The first entry due may come later than the hive's own number: Windows wrote the
        // entries between into the hive without marking it (a partial write of the hive).
        std::uint32_t expected = order.front()->sequence;
        sequence_ = expected;
        std::string said;
        for (const Log* log : order) {
            const ByteSource& bytes = *files_[log->index].bytes;
            std::uint64_t at = kSector;
            unsigned applied = 0;
            std::string why;
            for (Entry entry; (why = CheckEntry(bytes, at, expected, entry)).empty(); ++applied) {
                std::uint64_t data = at + kEntryHeader + kPageReference * entry.pages.size();
                for (const auto& [offset, size] : entry.pages) {
                    Lay(pieces_, kBaseBlock + offset,
                        Piece{kBaseBlock + offset + size, log->index, data});
                    data += size;
                }
                bins_ = entry.bins;
                sequence_ = expected++;
                at += entry.size;
            }
            if (applied == 0) {
                Note(log->index, why == kNoEntry
                                     ? "holds no entry numbered " + std::to_string(expected)
                                     : "has an entry that " + why);
                break;
            }
            said += said.empty()
                        ? std::to_string(applied) + (applied == 1 ? " entry of " : " entries of ")
                        : ", then " + std::to_string(applied) + " of ";
            said += Name(log->index);
        }
        if (said.empty() && primarySound_) {
            return false;
        }
        said_ =
            (primarySound_ ? ""
                           : "took the hive's header from " + Name(order.front()->index) + "; ") +
            "replayed " + (said.empty() ? "no entry" : said);
        return true;
    }

    // Why the entry at `at` cannot be applied, or kNoEntry where the log's entries end; empty when
    // it can be.
    std::string CheckEntry(const ByteSource& log, std::uint64_t at, std::uint32_t expected,
                           Entry& entry) const {
        std::array<unsigned char, kEntryHeader> head{};
        if (!ReadAll(log, at, head.data(), head.size()) ||
            std::memcmp(head.data(), "HvLE", 4) != 0) {
            return std::string(kNoEntry);
        }
        if (U64(&head[32]) != Marvin32Hash(View(head.data(), 32), kEntrySeed)) {
            return "is torn (the hash of its header is wrong)";
        }
        entry.size = U32(&head[4]);
        entry.bins = U32(&head[16]);
        const std::uint64_t count = U32(&head[20]);
        // A log that was reused holds older entries after the newest ones.
        if (U32(&head[12]) != expected) {
            return std::string(kNoEntry);
        }
        if (entry.size == 0 || entry.size % kSector != 0) {
            return "has a size that is no whole number of sectors";
        }
        if (entry.bins % kPage != 0) {
            return "gives a hive size that is no whole number of pages";
        }
        entry.pages.clear();
        std::string why;
        std::uint64_t used = kPageReference * count;
        Marvin32 hash(kEntrySeed);
        std::string slice;
        for (std::uint64_t done = 0; kEntryHeader + done < entry.size; done += slice.size()) {
            slice.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(kSlice, entry.size - kEntryHeader - done)));
            if (!ReadAll(log, at + kEntryHeader + done, slice.data(), slice.size())) {
                return "is cut short";
            }
            hash.Add(slice);
            const auto* bytes = reinterpret_cast<const unsigned char*>(slice.data());
            for (std::uint64_t i = 0; i < slice.size() && why.empty() && entry.pages.size() < count;
                 i += kPageReference) {
                const std::uint32_t offset = U32(bytes + i);
                const std::uint32_t size = U32(bytes + i + 4);
                used += size;
                if (size == 0 || (offset | size) % kSector != 0) {
                    why = "names a page that is no whole number of sectors";
                } else if (std::uint64_t{offset} + size > entry.bins) {
                    why = "names a page beyond the hive's end";
                } else if (used > entry.size - kEntryHeader) {
                    why = "names more pages than it holds";
                }
                entry.pages.emplace_back(offset, size);
            }
        }
        if (hash.Finish() != U64(&head[24])) {
            return "is torn (the hash of its pages is wrong)";
        }
        return why;
    }

    // XP to 8.0: one log written whole before each write of the hive; the one written last
    // serves, unless the hive was written after it.
    bool ReplayOld() {
        std::vector<const Log*> order = LogsOfType(kOldLog);
        std::stable_sort(order.begin(), order.end(),
                         [](const Log* a, const Log* b) { return a->sequence > b->sequence; });
        for (const Log* log : order) {
            if (!WrittenForThisHive(*log)) {
                Note(log->index, "was written before the hive");
                continue;
            }
            std::uint64_t sectors = 0;
            if (const std::string why = DirtySectors(*log, sectors); !why.empty()) {
                Note(log->index, why);
                continue;
            }
            head_ = primarySound_ ? primaryHead_ : log->head;
            sequence_ = U32(&head_[kSequence1]);
            bins_ = U32(&log->head[kBinsSize]);
            said_ =
                (primarySound_ ? "" : "took the hive's header from " + Name(log->index) + "; ") +
                "replayed " + Name(log->index) + " (" + std::to_string(sectors) + " dirty sectors)";
            return true;
        }
        return false;
    }

    // The log's base block is a copy of the hive's, taken as Windows wrote the log just before the
    // hive: its number is the one the hive's secondary number reaches with that write (XP) or the
    // hive's primary number (Vista on), and lower for a log of an earlier write. With the hive's
    // own base block torn, the first bin's copy of its time stamp tells the same.
    bool WrittenForThisHive(const Log& log) const {
        if (primarySound_) {
            return log.sequence >= U32(&primaryHead_[kSequence2]);
        }
        std::array<unsigned char, 28> bin{};
        return !ReadAll(primary_, kBaseBlock, bin.data(), bin.size()) ||
               std::memcmp(bin.data(), "hbin", 4) != 0 || U32(&bin[4]) != 0 ||
               U64(&log.head[kStamp]) >= U64(&bin[20]);
    }

    static bool MisplacedBin(const ByteSource& log, std::uint64_t at, std::uint64_t offset) {
        std::array<unsigned char, 8> bin{};
        return offset % kPage == 0 && ReadAll(log, at, bin.data(), bin.size()) &&
               std::memcmp(bin.data(), "hbin", 4) == 0 && U32(&bin[4]) != offset;
    }

    // Lays the log's dirty sectors, in runs, and counts them; why it cannot, if it cannot.
    std::string DirtySectors(const Log& log, std::uint64_t& count) {
        const ByteSource& bytes = *files_[log.index].bytes;
        std::array<unsigned char, 4> signature{};
        if (!ReadAll(bytes, kSector, signature.data(), signature.size()) ||
            std::memcmp(signature.data(), "DIRT", 4) != 0) {
            return "has no bitmap of dirty sectors";
        }
        const std::uint64_t bits = U32(&log.head[kBinsSize]) / kSector;
        const std::uint64_t first =
            (kSector + 4 + (bits + 7) / 8 + kSector - 1) / kSector * kSector;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> runs; // first sector, sectors
        std::string slice;
        for (std::uint64_t bit = 0; bit < bits; bit += 8 * slice.size()) {
            slice.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(kSlice, (bits - bit + 7) / 8)));
            if (!ReadAll(bytes, kSector + 4 + bit / 8, slice.data(), slice.size())) {
                return "is cut short in its bitmap";
            }
            for (std::uint64_t i = 0; i < 8 * slice.size() && bit + i < bits; ++i) {
                if ((static_cast<unsigned char>(slice[i / 8]) >> (i % 8) & 1) == 0) {
                    continue;
                }
                if (!runs.empty() && runs.back().first + runs.back().second == bit + i) {
                    ++runs.back().second;
                } else {
                    runs.emplace_back(bit + i, 1);
                }
                // Checked as the bitmap is read, so that no bitmap holds more runs than its log
                // holds sectors.
                if (first + ++count * kSector > bytes.Size()) {
                    return "is cut short: it holds fewer sectors than its bitmap marks";
                }
            }
        }
        // Windows checks each dirty hive bin before it lays it, and stops at the first that does
        // not name its own place.
        std::uint64_t at = first;
        std::uint64_t laid = 0;
        bool stopped = false;
        for (const auto& [sector, length] : runs) {
            std::uint64_t keep = 0;
            while (keep < length &&
                   !MisplacedBin(bytes, at + keep * kSector, (sector + keep) * kSector)) {
                ++keep;
            }
            stopped = keep < length;
            if (keep > 0) {
                Lay(pieces_, kBaseBlock + sector * kSector,
                    Piece{kBaseBlock + (sector + keep) * kSector, log.index, at});
            }
            at += length * kSector;
            laid += keep;
            if (stopped) {
                break;
            }
        }
        if (laid == 0 && count > 0) {
            return "has a damaged hive bin in its first dirty sectors";
        }
        count = laid;
        return {};
    }

    const ByteSource& primary_;
    const std::vector<HiveLogFile>& files_;
    Sector primaryHead_{};
    bool primarySound_ = false;
    std::uint64_t limit_ = 0; // the bytes of all the files
    std::vector<Log> logs_;   // the logs whose base block is whole
    std::string notes_;       // why each log that could not be applied could not

    Sector head_{};
    std::uint32_t sequence_ = 0;
    std::uint32_t bins_ = 0;
    Pieces pieces_;
    std::string said_;
};

} // namespace

bool HiveNeedsLogs(const ByteSource& primary) {
    Sector head{};
    return !SoundHeader(primary, head) || U32(&head[kSequence1]) != U32(&head[kSequence2]);
}

HiveReplay ReplayHiveLogs(const ByteSource& primary, const std::vector<HiveLogFile>& logs) {
    if (!HiveNeedsLogs(primary)) {
        return {};
    }
    return Replay(primary, logs).Run();
}

} // namespace stores
