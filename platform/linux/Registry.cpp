// The three registry calls over a Wine prefix's registry files, answering as Wine's own
// RegOpenKeyExA and RegQueryValueExA answer a 32-bit program: the same keys found through the same
// Wow6432Node redirection and symbolic links, the same status codes, types and byte counts.
#include "platform/Registry.h"

#include "platform/linux/PrefixState.h"

#include <cstring>
#include <map>
#include <memory>

namespace platform {

namespace {

using prefix::Arch;
using prefix::KeyFacts;
using prefix::RegFile;
using prefix::Value;

constexpr Status kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
constexpr Status kInvalidHandle = 6; // ERROR_INVALID_HANDLE
constexpr Status kBadPathname = 161; // ERROR_BAD_PATHNAME
constexpr Status kMoreData = 234;    // ERROR_MORE_DATA
constexpr Status kInvalidParameter = 87;

// As wineserver: a deeper chain of links is a loop.
constexpr int kMaxLinkDepth = 16;
const std::u16string kWow64Node = u"wow6432node";

// Key paths below \Registry, as folded names.
using Path = std::vector<std::u16string>;

struct Mount {
    Path at;
    const char* file;
};

const Mount kMounts[] = {
    {{u"machine"}, "system.reg"},
    // Wine gives the prefix's one user this fixed SID.
    {{u"user", u"s-1-5-21-0-0-0-1000"}, "user.reg"},
    {{u"user", u".default"}, "userdef.reg"},
};

const Path* RootPath(RootHandle root) {
    static const Path kMachine{u"machine"};
    static const Path kUsers{u"user"};
    static const Path kCurrentUser{u"user", u"s-1-5-21-0-0-0-1000"};
    switch (root) {
    case 0x80000001:
        return &kCurrentUser;
    case 0x80000002:
        return &kMachine;
    case 0x80000003:
        return &kUsers;
    default:
        return nullptr;
    }
}

bool StartsWith(const Path& path, const Path& head) {
    return head.size() <= path.size() && std::equal(head.begin(), head.end(), path.begin());
}

std::u16string Join(const Path& path) {
    std::u16string joined;
    for (const auto& name : path) {
        joined += name;
        joined += u'\\';
    }
    return joined;
}

std::u16string Utf16(const std::string& bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return units;
}

// Answers questions about keys of one prefix for the length of one open call. Each pass over a
// file learns every key along the paths it is given; a typical open needs one, which learns the
// path as asked and the path the 32-bit view redirects it to.
class Resolver {
  public:
    explicit Resolver(const prefix::PrefixState& state) : state_(state) {
        if (!state.codePageSettled) {
            piggyback_ = prefix::AnsiCodePageKey();
        }
    }

    // The code page the prefix names, when this open's passes could tell it: the key reached
    // without a link on the way (a link needs a proper open), or known to be missing.
    std::optional<unsigned> AnsiCodePage() {
        const Path& path = prefix::AnsiCodePageKey();
        const Known& key = cache_[Join(path)];
        if (!key.haveFacts || !key.haveValues) {
            return std::nullopt;
        }
        for (std::size_t i = 1; i <= path.size(); ++i) {
            const Known& step =
                cache_[Join(Path(path.begin(), path.begin() + static_cast<long>(i)))];
            if (step.facts.isLink) {
                return std::nullopt;
            }
            if (!step.facts.exists) {
                return 0;
            }
        }
        for (const auto& [name, value] : key.values) {
            if (name != u"acp" || value.type != prefix::kRegSz) {
                continue;
            }
            unsigned number = 0;
            for (const char16_t unit : Utf16(value.data)) {
                if (unit < u'0' || unit > u'9' || number > 65535) {
                    break;
                }
                number = number * 10 + (unit - u'0');
            }
            return number > 65535 ? 0 : number;
        }
        return 0;
    }

    // Wine's open of subKey under root: a key path, or the status of the failure.
    std::optional<Path> Open(const Path& root, std::u16string_view subKey, bool view32,
                             Status& status) {
        view32_ = view32;
        const auto names = prefix::SplitKeyPath(subKey);
        if (!names) {
            status = kBadPathname;
            return std::nullopt;
        }
        Path tokens;
        for (const auto& name : *names) {
            tokens.push_back(state_.fold.Fold(name));
        }
        status = kFileNotFound;
        Path key = root;
        Prefetch(key, tokens, 0);
        if (view32) {
            key = Wow64Variant(key, tokens.empty() ? std::u16string() : tokens[0], tokens, 0);
        }
        std::size_t i = 0;
        while (i < tokens.size()) {
            Path sub = Child(key, tokens[i]);
            if (!Facts(sub, tokens, i + 1).exists) {
                return std::nullopt;
            }
            key = std::move(sub);
            if (++i == tokens.size()) {
                break;
            }
            if (view32) {
                key = Wow64Variant(key, tokens[i], tokens, i);
            }
            if (!FollowLink(key, 0)) {
                return std::nullopt;
            }
        }
        if (view32) {
            key = Wow64Variant(key, std::u16string(), tokens, tokens.size());
        }
        if (!FollowLink(key, 0)) {
            return std::nullopt;
        }
        status = kSuccess;
        return key;
    }

    std::vector<std::pair<std::u16string, Value>> TakeValues(const Path& key) {
        Known& known = cache_[Join(key)];
        if (!known.haveValues) {
            Learn(key);
        }
        return std::move(cache_[Join(key)].values);
    }

  private:
    struct Known {
        bool haveFacts = false;
        KeyFacts facts;
        bool haveValues = false;
        std::vector<std::pair<std::u16string, Value>> values;
    };

    static Path Child(const Path& key, const std::u16string& name) {
        Path child = key;
        child.push_back(name);
        return child;
    }

    // The key itself, or its Wow6432Node child when it has one and the next name does not
    // already ask for it.
    Path Wow64Variant(const Path& key, const std::u16string& next, const Path& tokens,
                      std::size_t used) {
        if (next == u"wow6432node" || !Facts(key, tokens, used).hasWow64Child) {
            return key;
        }
        Path redirected = Child(key, u"wow6432node");
        Prefetch(redirected, tokens, used);
        return redirected;
    }

    // Replaces a link key by the key it names; false when the link leads nowhere.
    bool FollowLink(Path& key, int depth) {
        if (depth > kMaxLinkDepth) {
            return false;
        }
        const KeyFacts& facts = Facts(key, {}, 0);
        if (!facts.isLink) {
            return true;
        }
        if (!facts.linkTarget) {
            return false;
        }
        const std::u16string target = Utf16(*facts.linkTarget);
        static constexpr std::u16string_view kRoot = u"\\registry\\";
        if (target.size() <= kRoot.size() ||
            state_.fold.Fold(target.substr(0, kRoot.size())) != kRoot) {
            return false;
        }
        const auto names = prefix::SplitKeyPath(std::u16string_view(target).substr(kRoot.size()));
        if (!names) {
            return false;
        }
        Path tokens;
        for (const auto& name : *names) {
            tokens.push_back(state_.fold.Fold(name));
        }
        Path resolved;
        Prefetch(resolved, tokens, 0);
        for (const auto& name : tokens) {
            resolved.push_back(name);
            if (!Facts(resolved, {}, 0).exists || !FollowLink(resolved, depth + 1)) {
                return false;
            }
        }
        key = std::move(resolved);
        return true;
    }

    // Learns key and, in the same pass, the rest of the path still to walk below it.
    void Prefetch(const Path& key, const Path& tokens, std::size_t used) {
        Path ahead = key;
        ahead.insert(ahead.end(), tokens.begin() + static_cast<long>(used), tokens.end());
        if (cache_[Join(ahead)].haveFacts) {
            return;
        }
        std::vector<Path> paths{ahead};
        // Programs keep their keys under Software, which the 32-bit view nearly always enters
        // through Software\Wow6432Node: learn that path in the same pass, rather than in a
        // second one once the redirection is known.
        const Mount* mount = MountOf(ahead);
        if (view32_ && mount != nullptr && ahead.size() > mount->at.size()) {
            Path variant = ahead;
            const auto after = variant.begin() + static_cast<long>(mount->at.size()) + 1;
            if (*(after - 1) != kWow64Node && (after == variant.end() || *after != kWow64Node)) {
                variant.insert(after, kWow64Node);
                if (!cache_[Join(variant)].haveFacts) {
                    paths.push_back(std::move(variant));
                }
            }
        }
        Learn(paths);
    }

    static const Mount* MountOf(const Path& path) {
        const Mount* mount = nullptr;
        for (const Mount& candidate : kMounts) {
            if (StartsWith(path, candidate.at)) {
                mount = &candidate;
            }
        }
        return mount;
    }

    const KeyFacts& Facts(const Path& key, const Path& tokens, std::size_t used) {
        if (!cache_[Join(key)].haveFacts) {
            Prefetch(key, tokens, used);
            if (!cache_[Join(key)].haveFacts) {
                Learn(key);
            }
        }
        return cache_[Join(key)].facts;
    }

    void Learn(const Path& path) { Learn(std::vector<Path>{path}); }

    // One pass over one file for paths below the same hive (the first path names the hive).
    void Learn(std::vector<Path> paths) {
        const Mount* mount = MountOf(paths.front());
        if (piggyback_ && mount != nullptr && mount == MountOf(*piggyback_)) {
            // The first pass over system.reg also learns the code page, for free.
            if (!cache_[Join(*piggyback_)].haveValues) {
                paths.push_back(*piggyback_);
            }
            piggyback_.reset();
        }
        if (mount == nullptr) {
            // Above the files: \Registry and \Registry\User exist and hold nothing else.
            const Path& path = paths.front();
            for (std::size_t i = 0; i <= path.size(); ++i) {
                Known& known =
                    cache_[Join(Path(path.begin(), path.begin() + static_cast<long>(i)))];
                known.haveFacts = true;
                known.facts = KeyFacts{};
                known.facts.exists = i == 0 || (i == 1 && path[0] == u"user");
                known.haveValues = true;
            }
            return;
        }
        std::vector<Path> relatives;
        relatives.reserve(paths.size());
        for (const Path& path : paths) {
            relatives.emplace_back(path.begin() + static_cast<long>(mount->at.size()), path.end());
        }
        std::vector<prefix::PathScan> scans;
        if (RegFile* file = File(mount->file)) {
            scans = file->Scan(relatives, state_.fold);
        } else {
            for (const Path& relative : relatives) {
                scans.emplace_back();
                scans.back().keys.resize(relative.size() + 1);
                scans.back().keys[0].exists = true; // Wine makes the hive's key even without a file
            }
        }
        for (std::size_t p = 0; p < paths.size(); ++p) {
            Path walked = mount->at;
            for (std::size_t i = 0; i <= relatives[p].size(); ++i) {
                if (i > 0) {
                    walked.push_back(relatives[p][i - 1]);
                }
                Known& known = cache_[Join(walked)];
                known.haveFacts = true;
                known.facts = scans[p].keys[i];
            }
            Known& known = cache_[Join(paths[p])];
            known.haveValues = true;
            known.values = std::move(scans[p].values);
        }
    }

    RegFile* File(const char* name) {
        auto found = files_.find(name);
        if (found == files_.end()) {
            std::string problem;
            found = files_.emplace(name, RegFile::Open(state_.dir + "/" + name, problem)).first;
        }
        return found->second.get();
    }

    const prefix::PrefixState& state_;
    std::optional<Path> piggyback_;
    bool view32_ = false;
    std::map<std::u16string, Known> cache_;
    std::map<std::string, std::unique_ptr<RegFile>> files_; // one descriptor per file per open
};

struct OpenKey {
    std::vector<std::pair<std::u16string, Value>> values;
};

std::map<KeyHandle, OpenKey>& OpenKeys() {
    static std::map<KeyHandle, OpenKey> keys;
    return keys;
}

bool IsString(std::uint32_t type) {
    return type == prefix::kRegSz || type == prefix::kRegExpandSz || type == prefix::kRegMultiSz;
}

} // namespace

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t /*options*/,
                     std::uint32_t /*access*/, KeyHandle& key) {
    key = 0;
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const Path* rootPath = RootPath(root);
    if (rootPath == nullptr || state.dir.empty()) {
        return kFileNotFound;
    }
    const std::u16string name = prefix::IsAscii(subKey)
                                    ? std::u16string(subKey.begin(), subKey.end())
                                    : prefix::CodePageOf(state).Decode(subKey);
    // A 32-bit program on a 64-bit prefix sees the registry through Wow6432Node.
    const bool view32 = state.arch == Arch::kWin64;
    Resolver resolver(state);
    Status status = kSuccess;
    const auto found = resolver.Open(*rootPath, name, view32, status);
    if (!state.codePageSettled) {
        if (const auto number = resolver.AnsiCodePage()) {
            prefix::SettleCodePage(state, *number);
        }
    }
    if (!found) {
        return status;
    }
    static KeyHandle next = 0x1000;
    next += 4;
    OpenKeys()[next].values = resolver.TakeValues(*found);
    key = next;
    return kSuccess;
}

Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length) {
    if (reserved != nullptr) {
        return kInvalidParameter;
    }
    const auto open = OpenKeys().find(key);
    if (open == OpenKeys().end()) {
        return kInvalidHandle;
    }
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const std::u16string wanted = state.fold.Fold(
        prefix::IsAscii(valueName) ? std::u16string(valueName.begin(), valueName.end())
                                   : prefix::CodePageOf(state).Decode(valueName));
    for (const auto& [name, value] : open->second.values) {
        if (name != wanted) {
            continue;
        }
        type = value.type;
        if (!IsString(value.type)) {
            const auto size = static_cast<std::uint32_t>(value.data.size());
            if (size > length) {
                length = size;
                return kMoreData;
            }
            if (data != nullptr && size > 0) {
                std::memcpy(data, value.data.data(), size);
            }
            length = size;
            return kSuccess;
        }
        // Strings reach a narrow caller in the ANSI code page, counted in its bytes; an odd last
        // byte is no character and is dropped.
        const std::string bytes = prefix::CodePageOf(state).Encode(Utf16(value.data));
        const auto size = static_cast<std::uint32_t>(bytes.size());
        if (size > length) {
            length = size;
            return kMoreData;
        }
        if (data != nullptr && size > 0) {
            std::memcpy(data, bytes.data(), size);
            // Like Windows, end unterminated string data with a NUL where there is room for it.
            if (size < length && bytes.back() != '\0') {
                data[size] = 0;
            }
        }
        length = size;
        return kSuccess;
    }
    type = prefix::kRegNone; // Wine clears the type of a value it cannot find
    return kFileNotFound;
}

Status RegCloseKey(KeyHandle key) {
    return OpenKeys().erase(key) == 1 ? kSuccess : kInvalidHandle;
}

} // namespace platform
