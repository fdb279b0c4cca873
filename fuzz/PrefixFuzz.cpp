// Arbitrary registry files through the prefix reader: the file a user edited, a disk damaged or
// an attacker wrote, read the way Recover reads it.
//
// Input: subkey path, LF, value name, LF, then the whole system.reg. Names are taken as ASCII
// (the prefix has no code page table, so the reader falls back to its built-in 1252).
#include "fuzz/FuzzSupport.h"
#include "platform/Registry.h"
#include "platform/linux/PrefixSource.h"
#include "stores/CodePage.h"
#include "stores/RegFile.h"
#include "stores/Unicode.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// One prefix folder for the whole run; each input rewrites its system.reg. Plain storage, so
// that it outlives the handler that removes the folder at exit.
char g_prefixDir[] = "/tmp/ostrel-fuzz-XXXXXX";

void RemovePrefixDir() {
    std::remove((std::string(g_prefixDir) + "/system.reg").c_str());
    ::rmdir(g_prefixDir);
}

std::string PrefixDir() {
    static const bool made = [] {
        FUZZ_CHECK(::mkdtemp(g_prefixDir) != nullptr);
        std::atexit(RemovePrefixDir);
        return true;
    }();
    return made ? g_prefixDir : "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string subKey(TakeLine(input));
    const std::string name(TakeLine(input));

    // The escaped-text parser on its own: it never reads past the text nor claims more of it.
    std::u16string text;
    const auto used = stores::ParseEscaped(input, '"', text);
    FUZZ_CHECK(!used || (*used <= input.size() && input[*used - 1] == '"'));
    FUZZ_CHECK(!text.empty() && text.back() == u'\0');

    {
        std::FILE* file = std::fopen((PrefixDir() + "/system.reg").c_str(), "wb");
        FUZZ_CHECK(file != nullptr);
        FUZZ_CHECK(std::fwrite(input.data(), 1, input.size(), file) == input.size());
        std::fclose(file);
    }
    if (!platform::UsePrefix(PrefixDir()).empty()) {
        return 0;
    }

    // Every key the path passes through exists when the key itself does.
    const stores::NameFold latin; // as a prefix without a case table folds
    std::string problem;
    const auto file =
        stores::RegFile::Open(std::make_unique<stores::MemorySource>(input), "system.reg", problem);
    FUZZ_CHECK(file != nullptr);
    std::vector<std::u16string> path;
    if (const auto names = stores::SplitKeyPath(std::u16string(subKey.begin(), subKey.end()))) {
        for (const auto& part : *names) {
            path.push_back(latin.Fold(part));
        }
    }
    const std::u16string wanted = latin.Fold(std::u16string(name.begin(), name.end()));
    const auto scan = file->Scan({path}, latin, wanted).front();
    FUZZ_CHECK(scan.keys.size() == path.size() + 1 && scan.keys[0].exists);
    for (std::size_t i = 1; i < scan.keys.size(); ++i) {
        FUZZ_CHECK(!scan.keys[i].exists || scan.keys[i - 1].exists);
    }
    // The value read back from the key's sections is the one the pass found.
    if (!scan.sections.tooMany) {
        const auto value = file->ReadValue(scan.sections, wanted, latin);
        FUZZ_CHECK(value.has_value() == scan.value.has_value());
        FUZZ_CHECK(!value || (value->type == scan.value->type && value->data == scan.value->data));
    }
    // One pass for two paths tells the same of every key as a pass for each: the path and its
    // 32-bit twin share their first key.
    if (!path.empty()) {
        auto twin = path;
        twin.insert(twin.begin() + 1, u"wow6432node");
        const auto both = file->Scan(std::vector<std::vector<std::u16string>>{path, twin}, latin);
        const auto alone = file->Scan({twin}, latin).front();
        for (const auto& pair :
             {std::make_pair(&both[0], &scan), std::make_pair(&both[1], &alone)}) {
            for (std::size_t i = 0; i < pair.second->keys.size(); ++i) {
                FUZZ_CHECK(pair.first->keys[i].exists == pair.second->keys[i].exists);
                FUZZ_CHECK(pair.first->keys[i].hasWow64Child == pair.second->keys[i].hasWow64Child);
                FUZZ_CHECK(pair.first->keys[i].isLink == pair.second->keys[i].isLink);
            }
        }
        for (std::size_t i = 0; i < 2; ++i) {
            FUZZ_CHECK(both[0].keys[i].exists == both[1].keys[i].exists);
            FUZZ_CHECK(both[0].keys[i].hasWow64Child == both[1].keys[i].hasWow64Child);
        }
    }

    // The three calls as the reader makes them: a 255-byte buffer is never overrun, and a
    // failed read leaves it as it was.
    platform::KeyHandle key = 0;
    if (platform::RegOpenKeyExA(platform::kLocalMachine, subKey, 0, platform::kKeyRead, key) != 0) {
        return 0;
    }
    unsigned char buffer[256];
    std::memset(buffer, ' ', sizeof(buffer));
    buffer[255] = 0xa5; // a guard byte just past what the reader hands over
    platform::ValueType type = platform::kRegSz;
    std::uint32_t length = 255;
    const platform::Status status =
        platform::RegQueryValueExA(key, name, nullptr, type, buffer, length);
    FUZZ_CHECK(platform::RegCloseKey(key) == 0);
    FUZZ_CHECK(buffer[255] == 0xa5);
    if (status == 0) {
        FUZZ_CHECK(length <= 255);
    } else {
        FUZZ_CHECK(status == 2 || (status == 234 && length > 255));
        for (std::size_t i = 0; i < 255; ++i) {
            FUZZ_CHECK(buffer[i] == ' ');
        }
    }
    return 0;
}
