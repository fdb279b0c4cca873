// Reads a Windows registry hive file ("regf": SOFTWARE, SYSTEM, UsrClass.dat) the way one lookup
// in it needs, never the whole file: the base block at open, then only the cells on the way from
// a key to one subkey or one value, each checked as Windows checks it when it loads the hive.
//
// Every offset, count and length comes from the file, so what a lookup costs is bounded by what
// it passes through, whatever the file holds: a few reads for each cell on its path and for each
// entry of the lists it searches, none larger than 64 KiB, twice the name sought or the part of
// a value asked for. Learning which hive bin holds a page costs at most one read of each page
// over the life of the object, which remembers what it learnt (one entry per bin header read,
// never a map of the whole file).
#pragma once

#include "stores/ByteSource.h"
#include "stores/NameFold.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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
    // The file ends before the hive bins its base block declares (a copy cut short). The bins it
    // does hold are read all the same; a cell in the missing part is damage.
    bool CutShort() const { return cutShort_; }
    // Why the last call answered kDamaged, in plain ASCII (offsets, never the file's bytes).
    const std::string& Problem() const { return problem_; }

    // The subkey of `key` named `name`, compared as the fold compares names.
    Result Subkey(HiveCell key, std::u16string_view name, HiveCell& child);
    // Subkey after subkey; kMissing as soon as one name is not there. A subkey that is a key
    // already passed on the way (lists that lead round) is damage. No names: the key itself,
    // checked to be one. `found` is the last key reached.
    Result Walk(HiveCell key, const std::vector<std::u16string>& names, HiveCell& found);
    // Holds its value name (empty: the default value); data is read up to `limit` bytes, and the
    // answer is the same whatever the limit: every part of the value is checked.
    Result Value(HiveCell key, std::u16string_view name, std::size_t limit, HiveValue& value);

  private:
    struct Bin {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
    };
    // The pages from a page that starts with a bin header (its key in `pages_`) up to `last`:
    // none after the first starts one, so the bin there holds them all if it reaches them.
    struct KnownPages {
        std::uint32_t last = 0;
        bool header = false; // false: no page down to the first one starts a bin
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
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
        std::uint16_t nameBytes = 0;
        std::string name; // the stored name, when the caller asked for that many bytes
    };
    struct List {
        HiveCell cell = 0;
        char kind = 0; // 'i' index of lists (ri), or a leaf: 'l' (li), 'f' (lf), 'h' (lh)
        std::uint32_t count = 0;
        std::uint64_t entries = 0; // file offset of the first entry
    };

    static const NameFold kLatinLetters;

    Hive(const ByteSource& file, const NameFold& fold) : file_(&file), fold_(&fold) {}

    Result Fail(std::string reason);
    Result ClearProblemUnlessDamaged(Result result);
    bool Read(std::uint64_t at, void* into, std::size_t size);
    bool FindBin(std::uint64_t at, Bin& bin);
    bool ReadCell(HiveCell cell, std::uint64_t need, std::size_t want, Span& span,
                  std::string& bytes);
    bool ReadKey(HiveCell cell, std::size_t nameLimit, Key& key);
    bool ReadList(HiveCell cell, List& list);
    bool SameName(std::size_t bytes, const std::string& stored, bool latin1,
                  std::u16string_view name) const;
    template <typename Visit>
    bool EachEntry(std::uint64_t at, std::size_t count, std::size_t size, Visit visit);
    Result FindSubkey(const Key& parent, HiveCell parentCell, std::u16string_view name,
                      HiveCell& child, Key& childKey);
    Result CountSubkeys(const Key& parent, HiveCell parentCell, const List& top,
                        std::vector<List>& leaves);
    Result SearchLeaf(const List& leaf, std::u16string_view name, const std::uint32_t* hash,
                      HiveCell& child, Key& childKey);
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
    std::map<std::uint32_t, KnownPages> pages_; // by the page (file offset / 4096) it starts at
};

} // namespace stores
