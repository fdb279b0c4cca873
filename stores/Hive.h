// Reads a Windows registry hive file ("regf": SOFTWARE, SYSTEM, UsrClass.dat) the way one lookup
// in it needs, never the whole file: the base block at open, then only the cells on the way from
// a key to one subkey or one value. Every offset and length comes from the file, so each is
// checked against the file's real size and against the hive bin that holds the cell before it is
// used, and the work of one call is bounded by the size of the file.
#pragma once

#include "stores/ByteSource.h"
#include "stores/NameFold.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stores {

using HiveCell = std::uint32_t; // a cell's offset from the first hive bin

struct HiveValue {
    std::uint32_t type = 0;
    std::uint32_t size = 0; // bytes stored; strings are UTF-16LE with the NULs Windows stored
    std::string data;       // the first bytes of it, up to the limit the caller asked for
};

class Hive {
  public:
    enum class Result { kFound, kMissing, kDamaged };

    // Checks the base block; nothing when the file is no hive, with the reason in `problem`.
    // Names compare as `fold` compares them; the file and the fold must outlive the hive.
    static std::optional<Hive> Open(const ByteSource& file, std::string& problem,
                                    const NameFold& fold = kLatinLetters);

    HiveCell Root() const { return root_; }
    // Windows was stopped while the hive was being written: its last changes may sit in the
    // .LOG1/.LOG2 files beside it, not in the hive.
    bool Dirty() const { return dirty_; }
    // The file ends before the hive bins its base block declares: a copy or a disk that failed.
    bool CutShort() const { return cutShort_; }
    // Why the last call answered kDamaged, in plain ASCII (offsets, never the file's bytes).
    const std::string& Problem() const { return problem_; }

    Result Subkey(HiveCell key, std::u16string_view name, HiveCell& child);
    // Subkey after subkey; kMissing as soon as one name is not there. No names: the key itself,
    // checked to be one.
    Result Walk(HiveCell key, const std::vector<std::u16string>& names, HiveCell& found);
    // Holds its value name (empty: the default value); data is read up to `limit` bytes.
    Result Value(HiveCell key, std::u16string_view name, std::size_t limit, HiveValue& value);

  private:
    struct Bin {
        std::uint64_t page = 0; // the page asked about
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        std::uint64_t cost = 0; // bytes read to find it
    };
    struct Span {
        std::uint64_t at = 0;   // file offset of the cell's first byte after its size
        std::uint32_t size = 0; // bytes of the cell after its size
    };
    struct Key {
        std::uint16_t flags = 0;
        std::uint32_t subkeys = 0;
        HiveCell subkeyList = 0;
        std::uint32_t values = 0;
        HiveCell valueList = 0;
        std::uint64_t nameAt = 0;
        std::uint16_t nameBytes = 0;
    };

    static const NameFold kLatinLetters;

    Hive(const ByteSource& file, const NameFold& fold) : file_(&file), fold_(&fold) {}

    void Begin();
    Result Settle(Result result);
    Result Fail(std::string reason);
    bool Read(std::uint64_t at, void* into, std::size_t size);
    bool FindBin(std::uint64_t at, Bin& bin);
    bool CellAt(HiveCell cell, std::size_t atLeast, Span& span);
    bool ReadKey(HiveCell cell, Key& key);
    Result ListOf(HiveCell key, bool values, HiveCell& list, std::uint32_t& count);
    bool NameMatches(std::uint64_t at, std::size_t bytes, bool latin1, std::u16string_view name,
                     bool& equal);
    Result SearchList(HiveCell list, std::u16string_view name, const std::uint32_t* hash, int depth,
                      HiveCell& child);
    template <typename Visit>
    Result EachEntry(std::uint64_t at, std::size_t count, std::size_t size, Visit visit);
    Result Candidate(HiveCell cell, std::u16string_view name, HiveCell& child);
    Result ValueEntry(HiveCell cell, std::u16string_view name, std::size_t limit, HiveValue& value,
                      bool& named);
    Result ReadData(const unsigned char* field, std::size_t limit, std::string& data);

    const ByteSource* file_;
    const NameFold* fold_;
    std::uint64_t fileSize_ = 0;
    HiveCell root_ = 0;
    bool dirty_ = false;
    bool cutShort_ = false;
    bool bigData_ = false; // version 1.4 and later keep values over 16,344 bytes in db records
    std::string problem_;
    std::uint64_t budget_ = 0; // bytes one call may still read
    std::vector<Bin> bins_;    // the bin found for each recently asked page
};

} // namespace stores
