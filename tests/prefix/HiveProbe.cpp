// Asks the hive reader what the differential test and the benchmark ask other tools. One question
// per line on stdin, "KEY\PATH<TAB>value name" in UTF-8 (an empty name is the default value); one
// answer per line on stdout: "found TYPE SIZE HEX", "missing" or "damaged".
//
// usage: hive_probe HIVE [LOG...]   with logs, a dirty hive is read as they leave it (what was
//                                  replayed goes to stderr)
#include "platform/linux/InputFile.h"
#include "stores/Hive.h"
#include "stores/HiveLog.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::u16string Utf16(const std::string& text) {
    const auto wide = stores::FromUtf8(text);
    return wide ? stores::ToUtf16(*wide) : std::u16string();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hive_probe HIVE [LOG...]\n");
        return 2;
    }
    std::string problem;
    const auto file = platform::OpenInputFile(argv[1], problem);
    std::vector<std::unique_ptr<stores::ByteSource>> logFiles;
    std::vector<stores::HiveLogFile> logs;
    for (int i = 2; file && i < argc; ++i) {
        logFiles.push_back(platform::OpenInputFile(argv[i], problem));
        if (logFiles.back()) {
            logs.push_back({argv[i], logFiles.back().get()});
        }
    }
    stores::HiveReplay replay;
    if (file && argc > 2) {
        replay = stores::ReplayHiveLogs(*file, logs);
        if (!replay.said.empty() || !replay.problem.empty()) {
            std::fprintf(stderr, "hive_probe: %s\n", (replay.said + replay.problem).c_str());
        }
    }
    const stores::ByteSource* source = replay.hive ? replay.hive.get() : file.get();
    auto hive = source ? stores::Hive::Open(*source, problem) : std::nullopt;
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
