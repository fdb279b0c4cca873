#include "stores/RegFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform::prefix {

namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameUnits = 256; // wineserver refuses longer key names
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

// The C library's isspace and isxdigit in the "C" locale, which is what Wine's loader uses.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// Physical lines of a file read with pread, so that several readers may share one descriptor.
// A line keeps at most kMaxLineBytes; the rest of a longer one is read past and dropped.
class LineReader {
  public:
    LineReader(int fd, long long offset) : fd_(fd), offset_(offset) {}

    // False at the end of the file. A line stops at its first NUL, as C strings do.
    bool Next(std::string& line, bool& tooLong) {
        line.clear();
        tooLong = false;
        bool any = false;
        for (;;) {
            if (pos_ == size_ && !Refill()) {
                return any;
            }
            any = true;
            const char* start = buffer_.get() + pos_;
            const std::size_t left = size_ - pos_;
            const void* newline = std::memchr(start, '\n', left);
            const std::size_t take =
                newline != nullptr
                    ? static_cast<std::size_t>(static_cast<const char*>(newline) - start)
                    : left;
            if (line.size() + take <= kMaxLineBytes) {
                line.append(start, take);
            } else {
                tooLong = true;
            }
            pos_ += take;
            if (newline != nullptr) {
                ++pos_;
                break;
            }
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t nul = line.find('\0');
        if (nul != std::string::npos) {
            line.resize(nul);
        }
        return true;
    }

    long long Offset() const { return offset_ - static_cast<long long>(size_ - pos_); }

  private:
    bool Refill() {
        ssize_t got;
        do {
            got = ::pread(fd_, buffer_.get(), kReadChunk, static_cast<off_t>(offset_));
        } while (got < 0 && errno == EINTR);
        size_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        pos_ = 0;
        offset_ += static_cast<long long>(size_);
        return size_ > 0;
    }

    int fd_;
    long long offset_;
    std::unique_ptr<char[]> buffer_{new char[kReadChunk]};
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
};

const char* SkipSpaces(const char* p) {
    while (*p != '\0' && IsSpace(*p)) {
        ++p;
    }
    return p;
}

// The type a value line announces, and how its data is written.
enum class DataForm { kString, kDword, kHex };

// The tag at p ("\"", "str:\"", "str(2):\"", "str(7):\"", "hex:", "dword:", "hex(N):"): its
// length, or 0 when there is none.
std::size_t ParseDataTag(const char* p, std::uint32_t& type, DataForm& form) {
    struct Tag {
        std::string_view text;
        std::uint32_t type;
        DataForm form;
    };
    static constexpr Tag kTags[] = {
        {"\"", kRegSz, DataForm::kString},
        {"str:\"", kRegSz, DataForm::kString},
        {"str(2):\"", kRegExpandSz, DataForm::kString},
        {"str(7):\"", kRegMultiSz, DataForm::kString},
        {"hex:", kRegBinary, DataForm::kHex},
        {"dword:", kRegDword, DataForm::kDword},
    };
    for (const Tag& tag : kTags) {
        if (std::strncmp(p, tag.text.data(), tag.text.size()) == 0) {
            type = tag.type;
            form = tag.form;
            return tag.text.size();
        }
    }
    if (std::strncmp(p, "hex(", 4) == 0) {
        // Wine reads the number with strtoul, so it accepts what strtoul accepts.
        char* end = nullptr;
        type = static_cast<std::uint32_t>(std::strtoul(p + 4, &end, 16));
        if (std::strncmp(end, "):", 2) != 0) {
            return 0;
        }
        form = DataForm::kHex;
        return static_cast<std::size_t>(end + 2 - p);
    }
    return 0;
}

// Comma-separated hex bytes from p; false on a malformed byte. `out` may be null to only check.
bool ParseHexBytes(const char*& p, std::string* out, std::size_t& count) {
    // Wine writes "hh," again and again: take those three characters at a time, and leave
    // anything else to the general loop below.
    while (IsHexDigit(p[0]) && IsHexDigit(p[1]) && p[2] == ',') {
        if (out != nullptr && out->size() < kMaxValueBytes) {
            out->push_back(static_cast<char>(HexValue(p[0]) * 16 + HexValue(p[1])));
        }
        ++count;
        p += 3;
    }
    while (IsHexDigit(*p)) {
        // What strtoul reads, without its cost on every byte: a run of hex digits, or a "0x"
        // prefix and then one (left to strtoul itself).
        const char* end = p;
        unsigned long byte = 0;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(p[2])) {
            char* after = nullptr;
            byte = std::strtoul(p, &after, 16);
            end = after;
        } else {
            while (IsHexDigit(*end)) {
                byte = byte > 0xff ? byte : byte * 16 + HexValue(*end);
                ++end;
            }
        }
        if (byte > 0xff) {
            return false;
        }
        if (out != nullptr && out->size() < kMaxValueBytes) {
            out->push_back(static_cast<char>(byte));
        }
        ++count;
        p = SkipSpaces(end);
        if (*p == ',') {
            ++p;
        }
        p = SkipSpaces(p);
    }
    return true;
}

enum class ValueLine { kBadName, kBadData, kGood };

// One value line (and the lines it continues on), as Wine's loader reads it. With `want` false
// only the lines are consumed and nothing is decoded or kept.
ValueLine ReadValue(const std::string& first, LineReader& reader, bool want, std::u16string& name,
                    Value& value) {
    const char* p = SkipSpaces(first.c_str());
    name.clear();
    if (*p == '@') {
        ++p;
    } else {
        ++p; // the opening quote
        if (want) {
            const auto used = ParseEscaped(p, '"', name);
            if (!used) {
                return ValueLine::kBadName;
            }
            name.pop_back();
            p += *used;
        } else {
            while (*p != '\0' && *p != '"') {
                if (*p == '\\' && *++p == '\0') {
                    return ValueLine::kBadName;
                }
                ++p;
            }
            if (*p++ != '"') {
                return ValueLine::kBadName;
            }
        }
    }
    p = SkipSpaces(p);
    if (*p++ != '=') {
        return ValueLine::kBadName;
    }
    p = SkipSpaces(p);

    DataForm form = DataForm::kHex;
    const std::size_t tag = ParseDataTag(p, value.type, form);
    if (tag == 0) {
        return ValueLine::kBadData;
    }
    p += tag;
    value.data.clear();
    switch (form) {
    case DataForm::kString: {
        if (!want) {
            return ValueLine::kGood;
        }
        std::u16string text;
        if (!ParseEscaped(p, '"', text)) {
            return ValueLine::kBadData;
        }
        for (const char16_t unit : text) {
            value.data.push_back(static_cast<char>(unit & 0xff));
            value.data.push_back(static_cast<char>(unit >> 8));
        }
        return ValueLine::kGood;
    }
    case DataForm::kDword: {
        const auto number = static_cast<std::uint32_t>(std::strtoul(p, nullptr, 16));
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<char>((number >> shift) & 0xff));
        }
        return ValueLine::kGood;
    }
    case DataForm::kHex:
        break;
    }
    // Long binary data goes on over further lines, each but the last ending in a backslash. Data
    // nobody wants matters only for whether it goes on, and a line that does not end in one
    // cannot.
    if (!want) {
        const auto last = first.find_last_not_of(" \t\n\v\f\r");
        if (last == std::string::npos || first[last] != '\\') {
            return ValueLine::kGood;
        }
    }
    std::string more;
    std::size_t count = 0;
    for (;;) {
        if (!ParseHexBytes(p, want ? &value.data : nullptr, count)) {
            return ValueLine::kBadData;
        }
        p = SkipSpaces(p);
        if (*p == '\0') {
            break;
        }
        bool tooLong = false;
        if (*p != '\\' || !reader.Next(more, tooLong) || tooLong) {
            return ValueLine::kBadData;
        }
        p = SkipSpaces(more.c_str());
    }
    return count > kMaxValueBytes ? ValueLine::kBadData : ValueLine::kGood;
}

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
    static constexpr std::string_view kWow64Node = "wow6432node";
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
                const char c = start[i] >= 'A' && start[i] <= 'Z' ? static_cast<char>(start[i] + 32)
                                                                  : start[i];
                if (static_cast<char16_t>(c) != static_cast<char16_t>(other[i])) {
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
            same(kWow64Node) && (key.shared == 0 || foldedPath[key.shared - 1] != u"wow6432node");
        const KeyShape shape = ShapeOf(start);
        if (shape == KeyShape::kUnsure) {
            return std::nullopt;
        }
        key.wellFormed = shape == KeyShape::kGood;
        return key;
    }
}

void PutValue(std::vector<std::pair<std::u16string, Value>>& values, std::u16string folded,
              Value value) {
    for (auto& [name, old] : values) {
        if (name == folded) {
            old = std::move(value); // a key written twice: the later line wins
            return;
        }
    }
    values.emplace_back(std::move(folded), std::move(value));
}

} // namespace

std::optional<std::size_t> ParseEscaped(std::string_view text, char end, std::u16string& out) {
    static constexpr unsigned char kUtf8Length[128] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,
        2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    static constexpr unsigned char kUtf8Mask[4] = {0x7f, 0x1f, 0x0f, 0x07};
    static constexpr unsigned kUtf8Min[4] = {0, 0x80, 0x800, 0x10000};

    out.clear();
    std::size_t i = 0;
    const std::size_t n = text.size();
    const auto at = [&](std::size_t k) { return k < n ? text[k] : '\0'; };
    while (i < n && text[i] != '\0' && text[i] != end) {
        if (text[i] == '\\') {
            ++i;
            const char c = at(i);
            if (c == '\0') {
                break;
            }
            char16_t simple = 0;
            switch (c) {
            case 'a':
                simple = u'\a';
                break;
            case 'b':
                simple = u'\b';
                break;
            case 'e':
                simple = 0x1b;
                break;
            case 'f':
                simple = u'\f';
                break;
            case 'n':
                simple = u'\n';
                break;
            case 'r':
                simple = u'\r';
                break;
            case 't':
                simple = u'\t';
                break;
            case 'v':
                simple = u'\v';
                break;
            default:
                break;
            }
            if (simple != 0) {
                out.push_back(simple);
                ++i;
                continue;
            }
            if (c == 'x') {
                ++i;
                if (!IsHexDigit(at(i))) {
                    out.push_back(u'x');
                    continue;
                }
                unsigned unit = 0;
                for (int digits = 0; digits < 4 && IsHexDigit(at(i)); ++digits) {
                    unit = unit * 16 + HexValue(text[i++]);
                }
                out.push_back(static_cast<char16_t>(unit));
                continue;
            }
            if (c >= '0' && c <= '7') {
                unsigned unit = 0;
                for (int digits = 0; digits < 3 && at(i) >= '0' && at(i) <= '7'; ++digits) {
                    unit = unit * 8 + static_cast<unsigned>(text[i++] - '0');
                }
                out.push_back(static_cast<char16_t>(unit));
                continue;
            }
            // Any other escaped character stands for itself (\\ and \" among them).
        }
        const auto lead = static_cast<unsigned char>(text[i++]);
        if (lead < 0x80) {
            out.push_back(lead);
            continue;
        }
        // Raw UTF-8, as a hand-edited file may hold; anything malformed is dropped.
        const int length = kUtf8Length[lead - 0x80];
        if (length == 0) {
            continue;
        }
        unsigned code = lead & kUtf8Mask[length];
        bool valid = true;
        for (int k = 0; k < length; ++k) {
            const unsigned next = static_cast<unsigned char>(at(i)) ^ 0x80;
            if (next >= 0x40) {
                valid = false;
                break;
            }
            code = (code << 6) | next;
            ++i;
        }
        if (!valid || code < kUtf8Min[length] || code > 0x10ffff) {
            continue;
        }
        if (code <= 0xffff) {
            out.push_back(static_cast<char16_t>(code));
        } else {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xd800 | (code >> 10)));
            out.push_back(static_cast<char16_t>(0xdc00 | (code & 0x3ff)));
        }
    }
    out.push_back(u'\0');
    if (at(i) != end || end == '\0') {
        return std::nullopt;
    }
    return i + 1;
}

std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> names;
    if (!path.empty() && path.front() == u'\\') {
        return std::nullopt;
    }
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t stop = path.find(u'\\', i);
        const std::size_t last = stop == std::u16string_view::npos ? path.size() : stop;
        names.emplace_back(path.substr(i, last - i));
        i = last;
        while (i < path.size() && path[i] == u'\\') {
            ++i;
        }
    }
    return names;
}

std::unique_ptr<RegFile> RegFile::Open(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = path + ": " + std::strerror(errno);
        return nullptr;
    }
    LineReader reader(fd, 0);
    std::string line;
    bool tooLong = false;
    if (!reader.Next(line, tooLong) || tooLong || line != kHeader) {
        ::close(fd);
        problem = path + " is not a Wine registry file (its first line is not \"" +
                  std::string(kHeader) + "\")";
        return nullptr;
    }
    const long long bodyStart = reader.Offset();
    // Options before the first key apply to the whole file; Wine refuses an architecture it
    // does not know rather than guess which registry view programs see.
    Arch arch = Arch::kNone;
    while (reader.Next(line, tooLong)) {
        const char* p = SkipSpaces(line.c_str());
        if (*p == '[') {
            break;
        }
        if (std::strncmp(p, "#arch=", 6) == 0) {
            const std::string_view name(p + 6);
            if (name == "win32") {
                arch = Arch::kWin32;
            } else if (name == "win64") {
                arch = Arch::kWin64;
            } else {
                ::close(fd);
                problem = path + " names an unknown architecture (" + std::string(p) + ")";
                return nullptr;
            }
        }
    }
    return std::unique_ptr<RegFile>(new RegFile(fd, bodyStart, arch));
}

RegFile::~RegFile() {
    ::close(fd_);
}

PathScan RegFile::Scan(const std::vector<std::u16string>& foldedPath, const CaseTable& fold) const {
    std::vector<PathScan> scans = Scan(std::vector<std::vector<std::u16string>>{foldedPath}, fold);
    return std::move(scans.front());
}

std::vector<PathScan> RegFile::Scan(const std::vector<std::vector<std::u16string>>& foldedPaths,
                                    const CaseTable& fold) const {
    static const std::u16string kWow64Node = u"wow6432node";
    static const std::u16string kLinkValue = u"symboliclinkvalue";
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
    };

    LineReader reader(fd_, bodyStart_);
    std::string line;
    std::u16string text;
    std::u16string name;
    std::vector<std::optional<RawKey>> raw(targets.size());
    std::size_t badLines = 0;
    bool tooLong = false;
    bool inKey = false; // a key line was read and understood

    while (reader.Next(line, tooLong)) {
        const char* p = SkipSpaces(line.c_str());
        if (tooLong) {
            ++badLines;
            if (*p == '[') {
                inKey = false;
                for (Target& target : targets) {
                    target.keyOnPath = target.path.size() + 1;
                }
            }
            continue;
        }
        switch (*p) {
        case '[': {
            inKey = false;
            bool plain = true;
            for (std::size_t t = 0; t < targets.size(); ++t) {
                targets[t].keyOnPath = targets[t].path.size() + 1;
                raw[t] = MatchRaw(p + 1, targets[t].path);
                plain = plain && raw[t].has_value();
            }
            if (plain) {
                if (!raw[0]->wellFormed) {
                    ++badLines;
                    break;
                }
                inKey = true;
                for (std::size_t t = 0; t < targets.size(); ++t) {
                    apply(targets[t], *raw[t]);
                }
                break;
            }
            const auto used = ParseEscaped(p + 1, ']', text);
            if (!used) {
                ++badLines;
                break;
            }
            text.pop_back();
            auto names = SplitKeyPath(text);
            if (!names) {
                ++badLines;
                break;
            }
            bool tooLongName = false;
            for (auto& part : *names) {
                tooLongName = tooLongName || part.size() > kMaxNameUnits;
                part = fold.Fold(part);
            }
            if (tooLongName) {
                ++badLines;
                break;
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
            break;
        }
        case '@':
        case '"': {
            if (!inKey) {
                ++badLines; // a value before any key
                break;
            }
            bool want = false;
            for (const Target& target : targets) {
                want = want || target.keyOnPath <= target.path.size();
            }
            Value value;
            const ValueLine result = ReadValue(line, reader, want, name, value);
            if (result == ValueLine::kBadName) {
                ++badLines;
                break;
            }
            if (result == ValueLine::kBadData) {
                ++badLines;
                value = Value{}; // Wine keeps the name, with no type and no data
            }
            if (!want) {
                break;
            }
            const std::u16string folded = fold.Fold(name);
            for (Target& target : targets) {
                if (target.keyOnPath > target.path.size()) {
                    continue;
                }
                if (folded == kLinkValue) {
                    target.scan.keys[target.keyOnPath].linkTarget = value.data;
                }
                if (target.keyOnPath == target.path.size()) {
                    PutValue(target.scan.values, folded, value);
                }
            }
            break;
        }
        case '#':
            for (Target& target : targets) {
                if (inKey && target.keyOnPath <= target.path.size() &&
                    std::strncmp(p, "#link", 5) == 0) {
                    target.scan.keys[target.keyOnPath].isLink = true;
                }
            }
            break;
        case ';':
        case '\0':
            break;
        default:
            ++badLines;
            break;
        }
    }
    std::vector<PathScan> scans;
    for (Target& target : targets) {
        target.scan.badLines = badLines;
        scans.push_back(std::move(target.scan));
    }
    return scans;
}

} // namespace platform::prefix
