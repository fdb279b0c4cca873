#include "platform/linux/Source.h"

#include "stores/Unicode.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// Before any source is chosen, or after a choice failed: no key exists.
class NoSource final : public RegistrySource {
  public:
    NoSource() : RegistrySource(SystemTables()) {}
    Status Open(RootHandle, std::u16string_view, KeyHandle&) override {
        problem_ = "no such key";
        return kFileNotFound;
    }
    Status Read(KeyHandle, std::u16string_view, StoredValue&) override { return kInvalidHandle; }
    Status Close(KeyHandle) override { return kInvalidHandle; }
};

bool IsString(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::unique_ptr<RegistrySource>& Chosen() {
    static std::unique_ptr<RegistrySource> source = std::make_unique<NoSource>();
    return source;
}

} // namespace

Status RegistrySource::Query(KeyHandle key, std::u16string_view name, ValueType& type,
                             unsigned char* data, std::uint32_t& length) {
    StoredValue value;
    if (const Status status = Read(key, name, value); status != kSuccess) {
        type = kRegNone; // Windows and Wine clear the type of a value they cannot read
        return status;
    }
    type = value.type;
    // Strings reach a narrow caller in the ANSI code page, counted in its bytes; an odd last
    // byte is no character and is dropped. Data too large to have been read whole cannot fit.
    const std::string bytes = IsString(value.type)
                                  ? tables_.CodePage().Encode(stores::FromUtf16Bytes(value.bytes))
                                  : value.bytes;
    const bool partial = value.stored > value.bytes.size();
    const auto size = static_cast<std::uint32_t>(
        partial ? std::min<std::uint64_t>(value.stored, 0xFFFFFFFF) : bytes.size());
    if (size > length || partial) {
        // The caller gets Windows' answer; whoever reports the read must not call it a key.
        problem_ = "the value holds " + std::to_string(size) + " bytes, more than the " +
                   std::to_string(length) + " read for it";
        length = size;
        return kMoreData;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(data, bytes.data(), size);
        // Like Windows, end unterminated string data with a NUL where there is room for it.
        if (IsString(value.type) && size < length && bytes.back() != '\0') {
            data[size] = 0;
        }
    }
    length = size;
    return kSuccess;
}

RegistrySource& CurrentSource() {
    return *Chosen();
}

RegistrySource& UseSource(std::unique_ptr<RegistrySource> source) {
    Chosen() = source ? std::move(source) : std::make_unique<NoSource>();
    return *Chosen();
}

} // namespace platform
