// Reads Wine's registry files (system.reg, user.reg) the way wineserver loads them, without
// loading them: each pass streams the file once and keeps only what concerns one key path, so a
// look-up costs milliseconds and memory stays small whatever the file holds.
#pragma once

#include "stores/CodePage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::prefix {

constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// Longest line kept whole, and largest value kept: far beyond anything Wine writes for a real
// program, small enough that an endless line or a giant value cannot exhaust memory. A longer
// line is skipped like any other line Wine would not understand.
constexpr std::size_t kMaxLineBytes = 4u << 20;
constexpr std::size_t kMaxValueBytes = 4u << 20;

// A value as wineserver holds it: strings are UTF-16LE with the NULs the file gives them.
struct Value {
    std::uint32_t type = kRegNone;
    std::string data;
};

enum class Arch { kNone, kWin32, kWin64 };

// What a pass learnt about one key on the path it was asked about.
struct KeyFacts {
    bool exists = false;
    bool hasWow64Child = false; // a Wow6432Node subkey, under a key not itself named so
    bool isLink = false;
    std::optional<std::string> linkTarget; // the bytes of its SymbolicLinkValue
};

struct PathScan {
    std::vector<KeyFacts> keys; // [i]: the key made of the path's first i names ([0]: the root)
    std::vector<std::pair<std::u16string, Value>> values; // the whole path's, by folded name
    std::size_t badLines = 0; // lines Wine would also have skipped, for the curious
};

class RegFile {
  public:
    // Opens a registry file and checks its header; returns null and says why when it cannot.
    // The file stays open, so every pass reads the same file even when Wine renames a newer one
    // over it meanwhile.
    static std::unique_ptr<RegFile> Open(const std::string& path, std::string& problem);
    ~RegFile();
    RegFile(const RegFile&) = delete;
    RegFile& operator=(const RegFile&) = delete;

    Arch arch() const { return arch_; }

    // One pass: the facts of every key along foldedPath (names already folded with fold).
    PathScan Scan(const std::vector<std::u16string>& foldedPath, const CaseTable& fold) const;
    // One pass answering for several paths at once.
    std::vector<PathScan> Scan(const std::vector<std::vector<std::u16string>>& foldedPaths,
                               const CaseTable& fold) const;

  private:
    RegFile(int fd, long long bodyStart, Arch arch) : fd_(fd), bodyStart_(bodyStart), arch_(arch) {}

    int fd_;
    long long bodyStart_;
    Arch arch_;
};

// Wine's escaped text up to the unescaped delimiter `end`: the characters consumed including the
// delimiter, or nothing when it never comes. `out` receives the UTF-16 text and a closing NUL.
std::optional<std::size_t> ParseEscaped(std::string_view text, char end, std::u16string& out);

// A key path cut into names the way Wine cuts it: runs of backslashes separate, trailing ones
// are ignored, and a leading one makes the path invalid (nothing returned).
std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path);

} // namespace platform::prefix
