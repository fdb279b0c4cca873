#include "platform/linux/Resolver.h"

#include "platform/linux/InputFile.h"
#include "platform/linux/Source.h"
#include "stores/Unicode.h"

#include <cstring>

namespace platform::prefix {

namespace {

using stores::Arch;
using stores::KeyFacts;
using stores::RegFile;
using stores::Sections;
using stores::Value;

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

} // namespace

const Path& AnsiCodePageKey() {
    static const Path kKey{u"machine", u"system", u"currentcontrolset",
                           u"control", u"nls",    u"codepage"};
    return kKey;
}

std::optional<Path> Resolver::Open(const Path& root, std::u16string_view subKey, Status& status) {
    // A 32-bit program on a 64-bit prefix sees the registry through Wow6432Node.
    const bool view32 = prefix_.arch == Arch::kWin64;
    view32_ = view32;
    const auto names = stores::SplitKeyPath(subKey);
    if (!names) {
        status = kBadPathname;
        return std::nullopt;
    }
    Path tokens;
    for (const auto& name : *names) {
        tokens.push_back(fold_.Fold(name));
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

unsigned Resolver::AnsiCodePage() {
    const Path& path = AnsiCodePageKey();
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
            Open({u"machine"}, u"system\\currentcontrolset\\control\\nls\\codepage", status);
        if (!found) {
            return 0;
        }
        key = *found;
    }
    const auto value = Read(Place(key), u"acp", fold_);
    if (!value || value->type != kRegSz) {
        return 0;
    }
    return stores::ParseCodePageNumber(stores::FromUtf16Bytes(value->data));
}

KeyPlace Resolver::Place(const Path& key) {
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

std::optional<Value> Resolver::Read(const KeyPlace& place, const std::u16string& folded,
                                    const stores::NameFold& fold) {
    if (!place.file) {
        return std::nullopt;
    }
    if (place.sections.tooMany) {
        return place.file->Scan({place.relative}, fold, folded).front().value;
    }
    return place.file->ReadValue(place.sections, folded, fold);
}

Path Resolver::Child(const Path& key, const std::u16string& name) {
    Path child = key;
    child.push_back(name);
    return child;
}

Path Resolver::Wow64Variant(const Path& key, const std::u16string& next, const Path& tokens,
                            std::size_t used) {
    if (next == kWow64Node || !Facts(key, tokens, used).hasWow64Child) {
        return key;
    }
    Path redirected = Child(key, kWow64Node);
    Prefetch(redirected, tokens, used);
    return redirected;
}

bool Resolver::FollowLink(Path& key, int depth) {
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
    if (target.size() <= kRoot.size() || fold_.Fold(target.substr(0, kRoot.size())) != kRoot) {
        return false;
    }
    const auto names = stores::SplitKeyPath(std::u16string_view(target).substr(kRoot.size()));
    if (!names || names->size() > kMaxPathNames) {
        return false;
    }
    Path tokens;
    for (const auto& name : *names) {
        tokens.push_back(fold_.Fold(name));
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

void Resolver::Prefetch(const Path& key, const Path& tokens, std::size_t used) {
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

const KeyFacts& Resolver::Facts(const Path& key, const Path& tokens, std::size_t used) {
    if (!cache_[Join(key)].haveFacts) {
        Prefetch(key, tokens, used);
        if (!cache_[Join(key)].haveFacts) {
            Learn(key);
        }
    }
    return cache_[Join(key)].facts;
}

void Resolver::Learn(std::vector<Path> paths) {
    const Mount* mount = MountOf(paths.front());
    if (codePageKey_ && mount != nullptr && mount == MountOf(*codePageKey_)) {
        // The first pass over system.reg also learns where the code page is, for free.
        if (!cache_[Join(*codePageKey_)].haveSections) {
            paths.push_back(*codePageKey_);
        }
        codePageKey_.reset();
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
        scans = file->Scan(relatives, fold_);
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

std::shared_ptr<const RegFile> Resolver::File(const char* name) {
    auto found = files_.find(name);
    if (found == files_.end()) {
        std::string problem;
        const std::string path = prefix_.dir + "/" + name;
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

} // namespace platform::prefix
