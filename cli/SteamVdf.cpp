#include "cli/LauncherFiles.h"

#include <algorithm>
#include <cctype>

namespace cli {

namespace {

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

} // namespace

bool IsNumber(std::string_view text) {
    // Folder names are bytes, often UTF-8: classify them as unsigned, never as negative chars.
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
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

} // namespace cli
