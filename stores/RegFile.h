// Reads Wine's registry files (system.reg, user.reg) the way wineserver loads them, without
// loading them: each pass streams the file once and keeps only what concerns the key paths it was
// asked about, so a look-up costs milliseconds and memory stays small whatever the file holds.
#pragma once

#include "stores/ByteSource.h"
#include "stores/NameFold.h"
#include "stores/RegText.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stores {

enum class Arch { kNone, kWin32, kWin64 };

// What a pass learnt about one key on the path it was asked about.
struct KeyFacts {
    bool exists = false;
    bool hasWow64Child = false; // a Wow6432Node subkey, under a key not itself named so
    bool isLink = false;
    std::optional<std::string> linkTarget; // the bytes of its SymbolicLinkValue
};

// Where a key's values are: the lines that open its sections (a key may be written more than
// once). Past kMaxSections the list is not kept, and a read passes over the whole file instead.
struct Sections {
    static constexpr std::size_t kMaxSections = 1024;
    std::vector<std::uint64_t> starts;
    bool tooMany = false;
};

struct PathScan {
    std::vector<KeyFacts> keys; // [i]: the key made of the path's first i names ([0]: the root)
    Sections sections;          // of the path's last key
    std::optional<Value> value; // the wanted value of the path's last key, when one was asked for
};

class RegFile {
  public:
    // Checks the header of a registry file; null, and why, when it is not one. `name` names the
    // file in that reason.
    static std::unique_ptr<RegFile> Open(std::unique_ptr<ByteSource> source,
                                         const std::string& name, std::string& problem);

    Arch arch() const { return arch_; }

    // One pass answering for several paths at once (names folded with fold). With `wantedValue`
    // (a folded name), the value of that name of each path's last key is read in the same pass.
    std::vector<PathScan> Scan(const std::vector<std::vector<std::u16string>>& foldedPaths,
                               const NameFold& fold,
                               const std::optional<std::u16string>& wantedValue = {}) const;

    // The value of that (folded) name in the sections listed: the later line wins, as when Wine
    // merges a key written twice. Reads only those sections.
    std::optional<Value> ReadValue(const Sections& sections, const std::u16string& foldedName,
                                   const NameFold& fold) const;

    // Why the last pass could not read the whole file (an I/O error); empty when it could.
    const std::string& ReadProblem() const { return readProblem_; }

  private:
    RegFile(std::unique_ptr<ByteSource> source, std::string name, std::uint64_t bodyStart,
            Arch arch)
        : source_(std::move(source)), name_(std::move(name)), bodyStart_(bodyStart), arch_(arch) {}

    std::unique_ptr<ByteSource> source_;
    std::string name_;
    std::uint64_t bodyStart_;
    Arch arch_;
    mutable std::string readProblem_;
};

} // namespace stores
