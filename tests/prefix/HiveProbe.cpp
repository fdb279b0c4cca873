// Asks the hive reader what the differential test and the benchmark ask other tools. One question
// per line on stdin, "KEY\PATH<TAB>value name" in UTF-8 (an empty name is the default value); one
// answer per line on stdout: "found TYPE SIZE HEX", "missing" or "damaged".
//
// usage: hive_probe HIVE
#include "platform/linux/InputFile.h"
#include "stores/Hive.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::u16string Utf16(const std::string& text) {
    const auto wide = stores::FromUtf8(text);
    return wide ? stores::ToUtf16(*wide) : std::u16string();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hive_probe HIVE\n");
        return 2;
    }
    std::string problem;
    const auto file = platform::OpenInputFile(argv[1], problem);
    auto hive = file ? stores::Hive::Open(*file, problem) : std::nullopt;
    if (!hive) {
        std::fprintf(stderr, "hive_probe: %s\n", problem.c_str());
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto tab = line.find('\t');
        const auto names = stores::SplitKeyPath(Utf16(line.substr(0, tab)));
        stores::HiveCell key = 0;
        stores::HiveValue value;
        auto result =
            names ? hive->Walk(hive->Root(), *names, key) : stores::Hive::Result::kMissing;
        if (result == stores::Hive::Result::kFound) {
            const std::string name = tab == std::string::npos ? "" : line.substr(tab + 1);
            result = hive->Value(key, Utf16(name), 1u << 20, value);
        }
        if (result == stores::Hive::Result::kMissing) {
            std::printf("missing\n");
        } else if (result == stores::Hive::Result::kDamaged) {
            std::printf("damaged %s\n", hive->Problem().c_str());
        } else {
            std::printf("found %u %u ", value.type, value.size);
            for (const unsigned char byte : value.data) {
                std::printf("%02x", byte);
            }
            std::printf("\n");
        }
    }
    return 0;
}
