#include "cli/Scan.h"

#include "stores/Unicode.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// Launcher settings are small; anything larger is not one of them and is not read whole.
constexpr std::size_t kMaxSettingsFile = 4u << 20;

std::string Join(const std::string& folder, const std::string& name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    return path.append(folder).append(1, '/').append(name);
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::size_t>(info.st_size) <= kMaxSettingsFile;
    std::string text;
    if (ok) {
        // Room for one byte more than the file had, so that one grown since is seen and sized.
        text.resize(static_cast<std::size_t>(info.st_size) + 1);
    }
    std::size_t done = 0;
    while (ok) {
        if (done == text.size()) {
            ok = text.size() <= kMaxSettingsFile;
            text.resize(std::min(text.size() * 2, kMaxSettingsFile + 1));
            continue;
        }
        const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        ok = got >= 0;
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    text.resize(done);
    return text;
}

// Folder names are bytes, often UTF-8: classify them as unsigned, never as negative chars.
bool IsNumber(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Names sort with numbers in numeric order, so Steam app ids read naturally.
bool NaturalLess(const std::string& a, const std::string& b) {
    const bool aDigits = IsNumber(a);
    const bool bDigits = IsNumber(b);
    if (aDigits && bDigits && a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

std::string Stem(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class Finder {
  public:
    explicit Finder(const Environment& environment) : env_(environment) {}

    void Add(const std::string& origin, const std::string& folder) {
        const auto prefix = ResolvePrefix(folder);
        if (!prefix) {
            return;
        }
        // ~/.steam/steam is usually a link to ~/.local/share/Steam: one prefix, one line.
        char real[PATH_MAX];
        const std::string identity = ::realpath(prefix->c_str(), real) ? real : *prefix;
        if (seen_.insert(identity).second) {
            found_.push_back({origin, *prefix});
        }
    }

    void AddChildren(const std::string& originPrefix, const std::string& folder) {
        for (const auto& name : Entries(folder)) {
            Add(originPrefix + name, Join(folder, name));
        }
    }

    // Paths in launcher settings may start with ~ for the home folder.
    std::string Expand(const std::string& path) const {
        if (path == "~" || path.rfind("~/", 0) == 0) {
            return env_.home + path.substr(1);
        }
        return path;
    }

    std::vector<FoundPrefix> Take() { return std::move(found_); }

  private:
    const Environment& env_;
    std::set<std::string> seen_;
    std::vector<FoundPrefix> found_;
};

void FindSteam(const Environment& env, const std::string& dataHome, Finder& finder) {
    const std::string& home = env.home;
    const std::vector<std::string> roots = {
        home + "/.steam/steam",
        home + "/.steam/debian-installation",
        dataHome + "/Steam",
        // Where Steam was installed before XDG_DATA_HOME was moved, if it was.
        home + "/.local/share/Steam",
        home + "/.var/app/com.valvesoftware.Steam/.local/share/Steam",
        home + "/.var/app/com.valvesoftware.Steam/data/Steam",
        home + "/snap/steam/common/.local/share/Steam",
    };
    std::set<std::string> librariesSeen;
    for (const auto& root : roots) {
        if (!IsFolder(root)) {
            continue;
        }
        std::vector<std::string> libraries = {root};
        for (const char* list : {"/steamapps/libraryfolders.vdf", "/config/libraryfolders.vdf"}) {
            if (const auto text = ReadSmallFile(root + list)) {
                for (const auto& library : SteamLibraries(*text)) {
                    libraries.push_back(finder.Expand(library));
                }
            }
        }
        for (const auto& library : libraries) {
            char real[PATH_MAX];
            const std::string identity = ::realpath(library.c_str(), real) ? real : library;
            if (!librariesSeen.insert(identity).second) {
                continue;
            }
            // Every app id, not only the game's own: it may have been added as a non-Steam game.
            const std::string compatdata = library + "/steamapps/compatdata";
            for (const auto& appId : Entries(compatdata)) {
                finder.Add("Steam app " + appId, Join(compatdata, appId));
            }
        }
    }
}

void FindLutris(const Environment& env, const std::string& dataHome, const std::string& configHome,
                Finder& finder) {
    const std::string lutrisFlatpak = env.home + "/.var/app/net.lutris.Lutris";
    for (const auto& folder :
         {configHome + "/lutris/games", dataHome + "/lutris/games",
          lutrisFlatpak + "/config/lutris/games", lutrisFlatpak + "/data/lutris/games"}) {
        for (const auto& name : Entries(folder)) {
            if (!EndsWith(name, ".yml") && !EndsWith(name, ".yaml")) {
                continue;
            }
            if (const auto text = ReadSmallFile(Join(folder, name))) {
                if (const auto prefix = LutrisPrefix(*text)) {
                    finder.Add("Lutris game " + Stem(name), finder.Expand(*prefix));
                }
            }
        }
    }
}

void FindHeroic(const Environment& env, const std::string& configHome, Finder& finder) {
    const std::string heroicFlatpak = env.home + "/.var/app/com.heroicgameslauncher.hgl/config";
    std::vector<std::string> defaults = {env.home + "/Games/Heroic/Prefixes/default",
                                         env.home + "/Games/Heroic/Prefixes"};
    for (const auto& config : {configHome + "/heroic", heroicFlatpak + "/heroic"}) {
        if (const auto text = ReadSmallFile(config + "/config.json")) {
            for (const auto& prefix : HeroicPrefixes(*text)) {
                defaults.push_back(finder.Expand(prefix));
            }
        }
    }
    for (const auto& folder : defaults) {
        finder.AddChildren("Heroic game ", folder);
    }
    for (const auto& config : {configHome + "/heroic", heroicFlatpak + "/heroic"}) {
        const std::string games = config + "/GamesConfig";
        for (const auto& name : Entries(games)) {
            if (!EndsWith(name, ".json")) {
                continue;
            }
            if (const auto text = ReadSmallFile(Join(games, name))) {
                for (const auto& prefix : HeroicPrefixes(*text)) {
                    finder.Add("Heroic game " + Stem(name), finder.Expand(prefix));
                }
            }
        }
    }
}

// XDG base folders count only when absolute, as the XDG rules say.
std::string BaseFolder(const std::string& variable, const std::string& fallback) {
    return !variable.empty() && variable.front() == '/' ? variable : fallback;
}

// --- Steam's text format: quoted strings, braces, // comments.

struct VdfToken {
    enum Kind { Open, Close, Text, End } kind;
    std::string text;
};

class VdfReader {
  public:
    explicit VdfReader(std::string_view text) : text_(text) {}

    VdfToken Next() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (text_.compare(pos_, 2, "//") == 0) {
                const auto end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end;
            } else if (c == '{' || c == '}') {
                ++pos_;
                return {c == '{' ? VdfToken::Open : VdfToken::Close, {}};
            } else if (c == '"') {
                return Quoted();
            } else {
                return Bare();
            }
        }
        return {VdfToken::End, {}};
    }

  private:
    VdfToken Quoted() {
        std::string out;
        ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            char c = text_[pos_++];
            if (c == '\\' && pos_ < text_.size()) {
                const char escaped = text_[pos_++];
                c = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
            }
            out.push_back(c);
        }
        if (pos_ >= text_.size()) {
            return {VdfToken::End, {}}; // cut short: trust nothing after it
        }
        ++pos_;
        return {VdfToken::Text, std::move(out)};
    }

    VdfToken Bare() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '{' && text_[pos_] != '}' && text_[pos_] != '"') {
            ++pos_;
        }
        return {VdfToken::Text, std::string(text_.substr(start, pos_ - start))};
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// --- YAML, as much of it as Lutris writes for one value.

std::string TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::optional<std::string> YamlScalar(const std::string& raw) {
    if (raw.empty()) {
        return std::nullopt;
    }
    if (raw.front() == '\'') {
        std::string out;
        for (std::size_t i = 1; i < raw.size(); ++i) {
            if (raw[i] == '\'') {
                if (i + 1 < raw.size() && raw[i + 1] == '\'') {
                    out.push_back('\'');
                    ++i;
                    continue;
                }
                return out;
            }
            out.push_back(raw[i]);
        }
        return std::nullopt;
    }
    if (raw.front() == '"') {
        std::string out;
        for (std::size_t i = 1; i < raw.size(); ++i) {
            if (raw[i] == '"') {
                return out;
            }
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                ++i;
            }
            out.push_back(raw[i]);
        }
        return std::nullopt;
    }
    const auto comment = raw.find(" #");
    std::string plain = TrimSpaces(raw.substr(0, comment));
    return plain.empty() ? std::nullopt : std::optional<std::string>(plain);
}

// --- JSON strings, enough to find one key's string values.

std::optional<unsigned long> Hex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c)) {
            return std::nullopt;
        }
        value = value * 16 +
                static_cast<unsigned long>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return value;
}

// Reads the JSON string whose opening quote is at pos; leaves pos after its closing quote.
std::optional<std::string> JsonString(std::string_view text, std::size_t& pos) {
    std::string out;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') {
            return out;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (pos >= text.size()) {
            break;
        }
        const char e = text[pos++];
        if (e == 'u') {
            auto unit = Hex4(text, pos);
            if (!unit) {
                return std::nullopt;
            }
            pos += 4;
            // JSON escapes UTF-16 units; a pair stands for one character, a lone half for U+FFFD.
            std::wstring units(1, static_cast<wchar_t>(*unit));
            if (*unit >= 0xD800 && *unit <= 0xDBFF && text.compare(pos, 2, "\\u") == 0) {
                if (const auto low = Hex4(text, pos + 2); low && *low >= 0xDC00 && *low <= 0xDFFF) {
                    units += static_cast<wchar_t>(*low);
                    pos += 6;
                }
            }
            out += stores::ToUtf8(units);
            continue;
        }
        switch (e) {
        case 'b':
            out.push_back('\b');
            break;
        case 'f':
            out.push_back('\f');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        default:
            out.push_back(e);
            break;
        }
    }
    return std::nullopt;
}

} // namespace

Environment EnvironmentOfProcess() {
    auto get = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    return {get("HOME"), get("WINEPREFIX"), get("XDG_DATA_HOME"), get("XDG_CONFIG_HOME")};
}

std::optional<std::string> ResolvePrefix(const std::string& folder) {
    if (folder.empty()) {
        return std::nullopt;
    }
    if (IsFile(folder + "/system.reg")) {
        return folder;
    }
    if (IsFile(folder + "/pfx/system.reg")) {
        return folder + "/pfx";
    }
    return std::nullopt;
}

std::vector<FoundPrefix> FindPrefixes(const Environment& env) {
    Finder finder(env);
    finder.Add("Wine", env.winePrefix);
    if (env.home.empty()) {
        return finder.Take(); // every other place is in the home folder
    }
    const std::string dataHome = BaseFolder(env.xdgDataHome, env.home + "/.local/share");
    const std::string configHome = BaseFolder(env.xdgConfigHome, env.home + "/.config");
    finder.Add("Wine", env.home + "/.wine");
    FindSteam(env, dataHome, finder);
    FindLutris(env, dataHome, configHome, finder);
    finder.AddChildren("Bottles bottle ", dataHome + "/bottles/bottles");
    finder.AddChildren("Bottles bottle ",
                       env.home + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
    FindHeroic(env, configHome, finder);
    finder.AddChildren("PlayOnLinux ", env.home + "/.PlayOnLinux/wineprefix");
    return finder.Take();
}

std::vector<std::string> SteamLibraries(std::string_view vdf) {
    std::vector<std::string> libraries;
    VdfReader reader(vdf);
    int depth = 0;
    bool inLibrary = false; // inside a numbered block of the current form
    std::optional<std::string> key;
    for (VdfToken token = reader.Next(); token.kind != VdfToken::End; token = reader.Next()) {
        if (token.kind == VdfToken::Open) {
            inLibrary = depth == 1 && key && IsNumber(*key);
            ++depth;
            key.reset();
        } else if (token.kind == VdfToken::Close) {
            if (--depth < 0) {
                break;
            }
            inLibrary = inLibrary && depth == 2;
            key.reset();
        } else if (!key) {
            key = std::move(token.text);
        } else {
            const bool older = depth == 1 && IsNumber(*key);
            const bool current = depth == 2 && inLibrary && EqualsIgnoringCase(*key, "path");
            if ((older || current) && !token.text.empty()) {
                libraries.push_back(std::move(token.text));
            }
            key.reset();
        }
    }
    return libraries;
}

std::optional<std::string> LutrisPrefix(std::string_view yml) {
    bool inGame = false;
    std::size_t childIndent = std::string::npos;
    std::size_t start = 0;
    while (start <= yml.size()) {
        auto end = yml.find('\n', start);
        if (end == std::string_view::npos) {
            end = yml.size();
        }
        const std::string_view line = yml.substr(start, end - start);
        start = end + 1;
        const auto indent = line.find_first_not_of(' ');
        if (indent == std::string_view::npos || line[indent] == '#' || line[indent] == '\r') {
            continue;
        }
        if (indent == 0) {
            inGame = TrimSpaces(line) == "game:";
            childIndent = std::string::npos;
            continue;
        }
        if (!inGame) {
            continue;
        }
        // Only the game section's own keys, not keys of something nested deeper in it.
        if (childIndent == std::string::npos) {
            childIndent = indent;
        }
        if (indent == childIndent && line.substr(indent, 7) == "prefix:") {
            return YamlScalar(TrimSpaces(line.substr(indent + 7)));
        }
    }
    return std::nullopt;
}

std::vector<std::string> HeroicPrefixes(std::string_view json) {
    std::vector<std::string> prefixes;
    std::size_t pos = 0;
    while ((pos = json.find('"', pos)) != std::string_view::npos) {
        const auto name = JsonString(json, pos);
        if (!name) {
            break;
        }
        const auto colon = json.find_first_not_of(" \t\r\n", pos);
        if (*name != "winePrefix" || colon == std::string_view::npos || json[colon] != ':') {
            continue;
        }
        pos = json.find_first_not_of(" \t\r\n", colon + 1);
        if (pos == std::string_view::npos || json[pos] != '"') {
            continue;
        }
        if (const auto value = JsonString(json, pos); value && !value->empty()) {
            prefixes.push_back(*value);
        }
    }
    return prefixes;
}

} // namespace cli
