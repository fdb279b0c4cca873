#include "cli/LauncherFiles.h"

namespace cli {

namespace {

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

} // namespace

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

} // namespace cli
