// The three registry calls over a Wine prefix's registry files, answering as Wine's own
// RegOpenKeyExA and RegQueryValueExA answer a 32-bit program: the same keys found through the same
// Wow6432Node redirection and symbolic links, the same status codes, types and byte counts.
#include "platform/Registry.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/Prefix.h"
#include "platform/linux/PrefixState.h"
#include "stores/Unicode.h"

#include <cstring>
#include <map>
#include <memory>

namespace platform {

namespace {

using stores::Arch;
using stores::KeyFacts;
using stores::RegFile;
using stores::Sections;
using stores::Value;

constexpr Status kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
constexpr Status kInvalidHandle = 6; // ERROR_INVALID_HANDLE
constexpr Status kBadPathname = 161; // ERROR_BAD_PATHNAME
constexpr Status kMoreData = 234;    // ERROR_MORE_DATA
constexpr Status kInvalidParameter = 87;

// As wineserver: a deeper chain of links is a loop.
constexpr int kMaxLinkDepth = 16;
// However the links of a file name each other, one open follows no more than this many in all,
// and makes no more than this many passes over the files: a small file whose links each name
// the next several times would otherwise take minutes.
constexpr int kMaxLinksPerOpen = 64;
constexpr int kMaxPassesPerOpen = 256;
// Windows nests keys no deeper than 512 levels; a longer path is no key.
constexpr std::size_t kMaxPathNames = 512;
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
    static const Path kAllUsers{u"user"};
    static const Path kTheUser{u"user", u"s-1-5-21-0-0-0-1000"};
    switch (root) {
    case kCurrentUser:
        return &kTheUser;
    case kLocalMachine:
        return &kMachine;
    case kUsers:
        return &kAllUsers;
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

const Mount* MountOf(const Path& path) {
    const Mount* mount = nullptr;
    for (const Mount& candidate : kMounts) {
        if (StartsWith(path, candidate.at)) {
            mount = &candidate;
        }
    }
    return mount;
}

// Where an opened key's values are read from: the file and the sections of it that hold the key,
// or no file for the keys above the files (\Registry, \Registry\User), which hold none.
struct KeyPlace {
    std::shared_ptr<const RegFile> file;
    Path relative; // below the file's root
    Sections sections;
};

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

    // Wine's open of subKey under root: a key path, or the status of the failure.
    std::optional<Path> Open(const Path& root, std::u16string_view subKey, bool view32,
                             Status& status) {
        view32_ = view32;
        const auto names = stores::SplitKeyPath(subKey);
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

    // The code page the prefix names (0: none): learnt in this open's first pass over
    // system.reg when nothing stood in the way, else by opening its key as any key is opened.
    unsigned AnsiCodePage() {
        const Path& path = prefix::AnsiCodePageKey();
        bool plain = cache_[Join(path)].haveFacts;
        for (std::size_t i = 1; plain && i <= path.size(); ++i) {
            const KeyFacts& step =
                cache_[Join(Path(path.begin(), path.begin() + static_cast<long>(i)))].facts;
            if (step.isLink) {
                plain = false;
            } else if (!step.exists) {
                return 0;
            }
        }
        Path key = path;
        if (!plain) {
            Status status = kSuccess;
            const auto found =
                Open({u"machine"}, u"system\\currentcontrolset\\control\\nls\\codepage",
                     state_.arch == Arch::kWin64, status);
            if (!found) {
                return 0;
            }
            key = *found;
        }
        const auto value = Read(Place(key), u"acp");
        if (!value || value->type != kRegSz) {
            return 0;
        }
        return stores::ParseCodePageNumber(stores::FromUtf16Bytes(value->data));
    }

    KeyPlace Place(const Path& key) {
        Known& known = cache_[Join(key)];
        if (!known.haveSections) {
            Learn(key);
        }
        KeyPlace place;
        const Mount* mount = MountOf(key);
        if (mount != nullptr) {
            place.file = File(mount->file);
            place.relative.assign(key.begin() + static_cast<long>(mount->at.size()), key.end());
            place.sections = cache_[Join(key)].sections;
        }
        return place;
    }

    // The value of that (folded) name at a key's place.
    static std::optional<Value> Read(const KeyPlace& place, const std::u16string& folded) {
        if (!place.file) {
            return std::nullopt;
        }
        if (place.sections.tooMany) {
            const auto& fold = prefix::CurrentPrefix().fold;
            return place.file->Scan({place.relative}, fold, folded).front().value;
        }
        return place.file->ReadValue(place.sections, folded, prefix::CurrentPrefix().fold);
    }

    // Why this open found less than it looked for, when a file stood in the way.
    const std::string& Problem() const { return problem_; }

  private:
    struct Known {
        bool haveFacts = false;
        KeyFacts facts;
        bool haveSections = false;
        Sections sections;
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
        if (next == kWow64Node || !Facts(key, tokens, used).hasWow64Child) {
            return key;
        }
        Path redirected = Child(key, kWow64Node);
        Prefetch(redirected, tokens, used);
        return redirected;
    }

    // Replaces a link key by the key it names; false when the link leads nowhere. Each link is
    // resolved once per open, and only so many in all.
    bool FollowLink(Path& key, int depth) {
        if (depth > kMaxLinkDepth) {
            return false;
        }
        const KeyFacts& facts = Facts(key, {}, 0);
        if (!facts.isLink) {
            return true;
        }
        const std::u16string joined = Join(key);
        if (const auto known = links_.find(joined); known != links_.end()) {
            if (!known->second) {
                return false;
            }
            key = *known->second;
            return true;
        }
        links_[joined] = std::nullopt; // a link that reaches itself leads nowhere
        if (!facts.linkTarget || ++linksFollowed_ > kMaxLinksPerOpen) {
            return false;
        }
        const std::u16string target = stores::FromUtf16Bytes(*facts.linkTarget);
        static constexpr std::u16string_view kRoot = u"\\registry\\";
        if (target.size() <= kRoot.size() ||
            state_.fold.Fold(target.substr(0, kRoot.size())) != kRoot) {
            return false;
        }
        const auto names = stores::SplitKeyPath(std::u16string_view(target).substr(kRoot.size()));
        if (!names || names->size() > kMaxPathNames) {
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
        links_[joined] = resolved;
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
            // The first pass over system.reg also learns where the code page is, for free.
            if (!cache_[Join(*piggyback_)].haveSections) {
                paths.push_back(*piggyback_);
            }
            piggyback_.reset();
        }
        std::shared_ptr<const RegFile> file;
        if (mount != nullptr && ++passes_ <= kMaxPassesPerOpen) {
            file = File(mount->file);
        }
        if (mount == nullptr || passes_ > kMaxPassesPerOpen) {
            // Above the files: \Registry and \Registry\User exist and hold nothing else. Past the
            // budget, nothing more is found.
            const bool above = mount == nullptr;
            for (const Path& path : paths) {
                for (std::size_t i = 0; i <= path.size(); ++i) {
                    Known& known =
                        cache_[Join(Path(path.begin(), path.begin() + static_cast<long>(i)))];
                    if (known.haveFacts && !above) {
                        continue;
                    }
                    known.haveFacts = true;
                    known.facts = KeyFacts{};
                    known.facts.exists = above && (i == 0 || (i == 1 && path[0] == u"user"));
                    known.haveSections = true;
                }
            }
            return;
        }
        std::vector<Path> relatives;
        relatives.reserve(paths.size());
        for (const Path& path : paths) {
            relatives.emplace_back(path.begin() + static_cast<long>(mount->at.size()), path.end());
        }
        std::vector<stores::PathScan> scans;
        if (file) {
            scans = file->Scan(relatives, state_.fold);
            if (!file->ReadProblem().empty() && problem_.empty()) {
                problem_ = file->ReadProblem();
            }
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
            known.haveSections = true;
            known.sections = std::move(scans[p].sections);
        }
    }

    std::shared_ptr<const RegFile> File(const char* name) {
        auto found = files_.find(name);
        if (found == files_.end()) {
            std::string problem;
            const std::string path = state_.dir + "/" + name;
            std::shared_ptr<const RegFile> file;
            if (auto source = OpenInputFile(path, problem)) {
                file = RegFile::Open(std::move(source), name, problem);
            }
            // A missing user.reg is a prefix no user has started yet, not a problem.
            if (!file && (std::strcmp(name, "system.reg") == 0 ||
                          problem.find(": No such") == std::string::npos)) {
                problem_ = problem_.empty() ? problem : problem_;
            }
            found = files_.emplace(name, std::move(file)).first;
        }
        return found->second;
    }

    const prefix::PrefixState& state_;
    std::optional<Path> piggyback_;
    bool view32_ = false;
    int linksFollowed_ = 0;
    int passes_ = 0;
    std::string problem_;
    std::map<std::u16string, Known> cache_;
    std::map<std::u16string, std::optional<Path>> links_;
    std::map<std::string, std::shared_ptr<const RegFile>> files_; // one descriptor per file
};

std::map<KeyHandle, KeyPlace>& OpenKeys() {
    static std::map<KeyHandle, KeyPlace> keys;
    return keys;
}

bool IsString(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Narrow text from the caller, in the prefix's code page.
std::u16string Wide(prefix::PrefixState& state, const std::string& bytes) {
    if (prefix::IsAscii(bytes)) {
        return std::u16string(bytes.begin(), bytes.end());
    }
    if (!state.codePageSettled) {
        LearnCodePage();
    }
    return state.codePage.Decode(bytes);
}

} // namespace

void LearnCodePage() {
    prefix::PrefixState& state = prefix::CurrentPrefix();
    if (state.codePageSettled || state.dir.empty()) {
        return;
    }
    Resolver resolver(state);
    prefix::SettleCodePage(state, resolver.AnsiCodePage());
}

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t /*options*/,
                     std::uint32_t /*access*/, KeyHandle& key) {
    key = 0;
    prefix::PrefixState& state = prefix::CurrentPrefix();
    const Path* rootPath = RootPath(root);
    if (rootPath == nullptr || state.dir.empty()) {
        state.lastProblem = "no such key";
        return kFileNotFound;
    }
    const std::u16string name = Wide(state, subKey);
    // A 32-bit program on a 64-bit prefix sees the registry through Wow6432Node.
    const bool view32 = state.arch == Arch::kWin64;
    Resolver resolver(state);
    Status status = kSuccess;
    const auto found = resolver.Open(*rootPath, name, view32, status);
    if (!state.codePageSettled) {
        prefix::SettleCodePage(state, resolver.AnsiCodePage());
    }
    if (!found) {
        state.lastProblem = !resolver.Problem().empty() ? resolver.Problem() : "no such key";
        return status;
    }
    static KeyHandle next = 0x1000;
    next += 4;
    OpenKeys()[next] = resolver.Place(*found);
    state.lastProblem = resolver.Problem();
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
    const auto value = Resolver::Read(open->second, state.fold.Fold(Wide(state, valueName)));
    if (open->second.file && !open->second.file->ReadProblem().empty()) {
        state.lastProblem = open->second.file->ReadProblem();
    }
    if (!value) {
        if (state.lastProblem.empty()) {
            state.lastProblem = "no such value";
        }
        type = kRegNone; // Wine clears the type of a value it cannot find
        return kFileNotFound;
    }
    if (value->damaged) {
        state.lastProblem = "the value is damaged in the registry file";
    }
    type = value->type;
    // Strings reach a narrow caller in the ANSI code page, counted in its bytes; an odd last
    // byte is no character and is dropped.
    const std::string bytes = IsString(value->type)
                                  ? state.codePage.Encode(stores::FromUtf16Bytes(value->data))
                                  : value->data;
    const auto size = static_cast<std::uint32_t>(bytes.size());
    if (size > length) {
        length = size;
        return kMoreData;
    }
    if (data != nullptr && size > 0) {
        std::memcpy(data, bytes.data(), size);
        // Like Windows, end unterminated string data with a NUL where there is room for it.
        if (IsString(value->type) && size < length && bytes.back() != '\0') {
            data[size] = 0;
        }
    }
    length = size;
    return kSuccess;
}

Status RegCloseKey(KeyHandle key) {
    return OpenKeys().erase(key) == 1 ? kSuccess : kInvalidHandle;
}

} // namespace platform
