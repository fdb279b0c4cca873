// Where the Linux registry calls (platform/Registry.h) read: a source, standing in for the live
// registry a Windows program would meet. UsePrefix chooses a Wine prefix's files
// (PrefixSource.h), UseWindows a Windows installation's hives (WindowsSource.h); the three calls
// and the text conversion then serve whichever was chosen last, so that the registry reader
// itself stays the same on every system. A source reads; nothing here can write.
#pragma once

#include "platform/Registry.h"
#include "platform/linux/SystemTables.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// The statuses Windows' registry calls give, which every source answers with.
inline constexpr Status kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr Status kInvalidHandle = 6; // ERROR_INVALID_HANDLE
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kBadPathname = 161; // ERROR_BAD_PATHNAME
inline constexpr Status kMoreData = 234;    // ERROR_MORE_DATA

// A value as a source stores it: strings in UTF-16LE with the NULs stored. `stored` is its whole
// size, more than `bytes` holds when it was too large to be read whole.
struct StoredValue {
    ValueType type = kRegNone;
    std::string bytes;
    std::uint64_t stored = 0;
};

// The keys a source has open, by the handle the caller holds: one table per source, so that a
// handle means nothing to any other.
template <typename OpenKey> class HandleTable {
  public:
    KeyHandle Add(OpenKey key) {
        next_ += 4;
        keys_.emplace(next_, std::move(key));
        return next_;
    }
    OpenKey* Find(KeyHandle handle) {
        const auto found = keys_.find(handle);
        return found == keys_.end() ? nullptr : &found->second;
    }
    bool Remove(KeyHandle handle) { return keys_.erase(handle) == 1; }

  private:
    KeyHandle next_ = 0x1000;
    std::map<KeyHandle, OpenKey> keys_;
};

class RegistrySource {
  public:
    explicit RegistrySource(SystemTables tables) : tables_(std::move(tables)) {}
    virtual ~RegistrySource() = default;
    RegistrySource(const RegistrySource&) = delete;
    RegistrySource& operator=(const RegistrySource&) = delete;

    // Windows' RegOpenKeyExA, RegQueryValueExA and RegCloseKey as a 32-bit program meets them,
    // with names already in UTF-16 and the statuses Windows gives.
    virtual Status Open(RootHandle root, std::u16string_view subKey, KeyHandle& key) = 0;
    virtual Status Read(KeyHandle key, std::u16string_view name, StoredValue& value) = 0;
    virtual Status Close(KeyHandle key) = 0;

    // RegQueryValueExA over Read: the value as Windows hands it to a 32-bit program, strings in
    // the ANSI code page, with the same status codes, types and byte counts.
    Status Query(KeyHandle key, std::u16string_view name, ValueType& type, unsigned char* data,
                 std::uint32_t& length);

    // The ANSI code page may be learnt only on the way, by the first read; text converted before
    // any read (a key the user typed) needs it learnt first.
    virtual void LearnCodePage() {}

    // The code page and case table of the system the source reads.
    const SystemTables& Tables() const { return tables_; }

    // What the last call learnt: why it failed, in words ("no such key", "...: Permission
    // denied"), empty when it did not; and the profile whose VirtualStore copy of the key the
    // last open found, empty when the key is the machine's own.
    const std::string& Problem() const { return problem_; }
    const std::string& VirtualStoreProfile() const { return virtualStoreProfile_; }

    // What was unusual in reading the source since last asked (a table that could not be read,
    // a hive Windows did not close cleanly), one line each.
    std::vector<std::string> TakeNotes() { return tables_.TakeNotes(); }

  protected:
    SystemTables tables_;
    std::string problem_;
    std::string virtualStoreProfile_;
};

// The source the registry calls serve: the one chosen last, or one in which every key is missing.
// UseSource keeps the source it is given for as long as it is the one read, and returns it.
RegistrySource& CurrentSource();
RegistrySource& UseSource(std::unique_ptr<RegistrySource> source);

} // namespace platform
