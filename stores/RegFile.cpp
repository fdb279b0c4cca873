#include "stores/RegFile.h"

#include <cstring>

namespace stores {

namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameUnits = 256; // wineserver refuses longer key names
const std::u16string kWow64Node = u"wow6432node";
const std::u16string kLinkValue = u"symboliclinkvalue";

// How a key line relates to the path a pass looks for, read straight from the raw text.
struct RawKey {
    bool wellFormed = false;
    std::size_t shared = 0; // leading names it has in common with the path
    bool exact = false;     // it is the key made of those names
    bool wow64Next = false; // the name after them is Wow6432Node
};

// Whether wineserver would make a key of this line: its name must end at an unescaped ']', and
// no name in it may be longer than wineserver allows. A long run of raw text may still decode to
// a short name, so only decoding can tell then.
enum class KeyShape { kGood, kBad, kUnsure };

KeyShape ShapeOf(const char* name) {
    // The common case at memchr's speed: the first ']' is not escaped (an even run of
    // backslashes before it) and the whole rest is too short for any name in it to be too long.
    if (const char* close = std::strchr(name, ']')) {
        std::size_t backslashes = 0;
        while (close - backslashes > name && close[-1 - static_cast<long>(backslashes)] == '\\') {
            ++backslashes;
        }
        if (backslashes % 2 == 0 && static_cast<std::size_t>(close - name) <= kMaxNameUnits) {
            return KeyShape::kGood;
        }
    }
    std::size_t run = 0; // raw characters of the current name: at least its decoded length
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == ']') {
            return KeyShape::kGood;
        }
        if (*p == '\\') {
            if (*++p == '\0') {
                return KeyShape::kBad;
            }
            if (*p == '\\') {
                run = 0; // a path separator
                continue;
            }
        }
        if (++run > kMaxNameUnits) {
            return KeyShape::kUnsure;
        }
    }
    return KeyShape::kBad;
}

// Nearly every key line is plain ASCII with "\\\\" between names, and leaves the path within its
// first names. Such lines are matched here without decoding them; anything else (escapes,
// other text, empty names) gets nothing and is decoded in full.
std::optional<RawKey> MatchRaw(const char* name, const std::vector<std::u16string>& foldedPath) {
    static constexpr std::string_view kWow64Raw = "wow6432node";
    RawKey key;
    const char* p = name;
    for (;;) {
        const char* start = p;
        while (*p != '\\' && *p != ']') {
            const auto c = static_cast<unsigned char>(*p);
            if (c == '\0' || c >= 0x80 || p - start >= static_cast<long>(kMaxNameUnits)) {
                return std::nullopt;
            }
            ++p;
        }
        const auto length = static_cast<std::size_t>(p - start);
        if (length == 0 || (*p == '\\' && p[1] != '\\')) {
            return std::nullopt; // an empty name, or an escape inside one
        }
        const auto same = [&](auto&& other) {
            if (other.size() != length) {
                return false;
            }
            for (std::size_t i = 0; i < length; ++i) {
                if (NameFold::FoldAscii(static_cast<char16_t>(start[i])) !=
                    static_cast<char16_t>(other[i])) {
                    return false;
                }
            }
            return true;
        };
        if (key.shared < foldedPath.size() && same(foldedPath[key.shared])) {
            ++key.shared;
            if (*p == ']') {
                key.wellFormed = true;
                key.exact = true;
                return key;
            }
            p += 2;
            continue;
        }
        key.wow64Next =
            same(kWow64Raw) && (key.shared == 0 || foldedPath[key.shared - 1] != kWow64Node);
        const KeyShape shape = ShapeOf(start);
        if (shape == KeyShape::kUnsure) {
            return std::nullopt;
        }
        key.wellFormed = shape == KeyShape::kGood;
        return key;
    }
}

// A key line decoded in full: its names, folded; nothing when wineserver would make no key of it.
std::optional<std::vector<std::u16string>> DecodeKeyLine(const char* name, const NameFold& fold) {
    std::u16string text;
    if (!ParseEscaped(name, ']', text)) {
        return std::nullopt;
    }
    text.pop_back();
    auto names = SplitKeyPath(text);
    if (!names) {
        return std::nullopt;
    }
    for (auto& part : *names) {
        if (part.size() > kMaxNameUnits) {
            return std::nullopt;
        }
        part = fold.Fold(part);
    }
    return names;
}

} // namespace

std::unique_ptr<RegFile> RegFile::Open(std::unique_ptr<ByteSource> source, const std::string& name,
                                       std::string& problem) {
    LineReader reader(*source, 0);
    std::string line;
    bool tooLong = false;
    if (!reader.Next(line, tooLong) || tooLong || line != kHeader) {
        problem = reader.Failed()
                      ? name + " could not be read"
                      : name + " is not a Wine registry file (its first line is not \"" +
                            std::string(kHeader) + "\")";
        return nullptr;
    }
    const std::uint64_t bodyStart = reader.Offset();
    // Options before the first key apply to the whole file; Wine refuses an architecture it
    // does not know rather than guess which registry view programs see.
    Arch arch = Arch::kNone;
    while (reader.Next(line, tooLong)) {
        const char* p = SkipSpaces(line.c_str());
        if (*p == '[') {
            break;
        }
        if (std::strncmp(p, "#arch=", 6) == 0) {
            const std::string_view value(p + 6);
            if (value == "win32") {
                arch = Arch::kWin32;
            } else if (value == "win64") {
                arch = Arch::kWin64;
            } else {
                // The line itself is the file's, not ours to print: the caller shows reasons
                // safely, but there is no need to carry it at all.
                problem = name + " names an unknown architecture in its #arch line";
                return nullptr;
            }
        }
    }
    if (reader.Failed()) {
        problem = name + " could not be read";
        return nullptr;
    }
    return std::unique_ptr<RegFile>(new RegFile(std::move(source), name, bodyStart, arch));
}

std::vector<PathScan> RegFile::Scan(const std::vector<std::vector<std::u16string>>& foldedPaths,
                                    const NameFold& fold,
                                    const std::optional<std::u16string>& wantedValue) const {
    struct Target {
        const std::vector<std::u16string>& path;
        PathScan scan;
        std::size_t keyOnPath; // which key of the path the current key is; past the end: none
    };
    std::vector<Target> targets;
    for (const auto& path : foldedPaths) {
        targets.push_back({path, {}, path.size() + 1});
        targets.back().scan.keys.resize(path.size() + 1);
        targets.back().scan.keys[0].exists = true;
    }
    std::uint64_t lineStart = bodyStart_;
    const auto apply = [&](Target& target, const RawKey& key) {
        for (std::size_t i = 1; i <= key.shared; ++i) {
            target.scan.keys[i].exists = true;
            // A Wow6432Node on the path itself is a child of the key before it, too.
            if (target.path[i - 1] == kWow64Node && (i == 1 || target.path[i - 2] != kWow64Node)) {
                target.scan.keys[i - 1].hasWow64Child = true;
            }
        }
        target.scan.keys[key.shared].hasWow64Child |= key.wow64Next;
        target.keyOnPath = key.exact ? key.shared : target.path.size() + 1;
        if (key.exact && key.shared == target.path.size()) {
            Sections& sections = target.scan.sections;
            if (sections.starts.size() < Sections::kMaxSections) {
                sections.starts.push_back(lineStart);
            } else {
                sections.tooMany = true;
            }
        }
    };

    LineReader reader(*source_, bodyStart_);
    std::string line;
    std::u16string name;
    std::vector<std::optional<RawKey>> raw(targets.size());
    bool tooLong = false;
    bool inKey = false; // a key line was read and understood

    for (; reader.Next(line, tooLong); lineStart = reader.Offset()) {
        const char* p = SkipSpaces(line.c_str());
        if (tooLong) {
            if (*p == '[') {
                inKey = false;
                for (Target& target : targets) {
                    target.keyOnPath = target.path.size() + 1;
                }
            }
            continue;
        }
        if (*p == '[') {
            inKey = false;
            bool plain = true;
            for (std::size_t t = 0; t < targets.size(); ++t) {
                targets[t].keyOnPath = targets[t].path.size() + 1;
                raw[t] = MatchRaw(p + 1, targets[t].path);
                plain = plain && raw[t].has_value();
            }
            if (plain) {
                inKey = !targets.empty() && raw[0]->wellFormed;
                for (std::size_t t = 0; inKey && t < targets.size(); ++t) {
                    apply(targets[t], *raw[t]);
                }
                continue;
            }
            const auto names = DecodeKeyLine(p + 1, fold);
            if (!names) {
                continue;
            }
            inKey = true;
            // How far this key follows each path: every key on the way exists, and the next name
            // tells whether the last shared key has a Wow6432Node child.
            for (Target& target : targets) {
                RawKey key;
                while (key.shared < names->size() && key.shared < target.path.size() &&
                       (*names)[key.shared] == target.path[key.shared]) {
                    ++key.shared;
                }
                key.exact = key.shared == names->size();
                key.wow64Next = !key.exact && (*names)[key.shared] == kWow64Node &&
                                (key.shared == 0 || target.path[key.shared - 1] != kWow64Node);
                apply(target, key);
            }
        } else if (*p == '#') {
            for (Target& target : targets) {
                if (inKey && target.keyOnPath <= target.path.size() &&
                    std::strncmp(p, "#link", 5) == 0) {
                    target.scan.keys[target.keyOnPath].isLink = true;
                }
            }
        } else if ((*p == '@' || *p == '"') && inKey) {
            bool onPath = false;
            for (const Target& target : targets) {
                onPath = onPath || target.keyOnPath <= target.path.size();
            }
            if (!onPath) {
                // Nobody wants the values of this key: only where they end matters.
                Value skipped;
                if (const auto at = ReadValueName(line, name)) {
                    ReadValueData(line, *at, reader, false, skipped);
                }
                continue;
            }
            const auto at = ReadValueName(line, name);
            if (!at) {
                continue;
            }
            const std::u16string folded = fold.Fold(name);
            const bool isLinkValue = folded == kLinkValue;
            const bool isWanted = wantedValue && folded == *wantedValue;
            Value value;
            if (ReadValueData(line, *at, reader, isLinkValue || isWanted, value) ==
                ValueLine::kBadData) {
                value = Value{}; // Wine keeps the name, with no type and no data
                value.damaged = true;
            }
            for (Target& target : targets) {
                if (target.keyOnPath > target.path.size()) {
                    continue;
                }
                if (isLinkValue) {
                    target.scan.keys[target.keyOnPath].linkTarget = value.data;
                }
                if (isWanted && target.keyOnPath == target.path.size()) {
                    target.scan.value = value; // a key written twice: the later line wins
                }
            }
        }
    }
    readProblem_ = reader.Failed() ? name_ + " could not be read to its end" : std::string();
    std::vector<PathScan> scans;
    scans.reserve(targets.size());
    for (Target& target : targets) {
        scans.push_back(std::move(target.scan));
    }
    return scans;
}

std::optional<Value> RegFile::ReadValue(const Sections& sections, const std::u16string& foldedName,
                                        const NameFold& fold) const {
    std::optional<Value> found;
    std::string line;
    std::u16string name;
    bool tooLong = false;
    for (const std::uint64_t start : sections.starts) {
        LineReader reader(*source_, start);
        reader.Next(line, tooLong); // the key's own line
        while (reader.Next(line, tooLong)) {
            const char* p = SkipSpaces(line.c_str());
            if (*p == '[') {
                break;
            }
            if (tooLong || (*p != '@' && *p != '"')) {
                continue;
            }
            const auto at = ReadValueName(line, name);
            if (!at) {
                continue;
            }
            const bool wanted = fold.Fold(name) == foldedName;
            Value value;
            if (ReadValueData(line, *at, reader, wanted, value) == ValueLine::kBadData) {
                value = Value{};
                value.damaged = true;
            }
            if (wanted) {
                found = std::move(value);
            }
        }
        if (reader.Failed()) {
            readProblem_ = name_ + " could not be read to its end";
        }
    }
    return found;
}

} // namespace stores
