// The prefix reader against registry files written by hand: Wine's text format, the 32-bit view,
// links, code pages, and files that are damaged, huge or replaced while being read.
#include "platform/Registry.h"
#include "platform/Text.h"
#include "platform/linux/PrefixSource.h"
#include "registry/General.h"
#include "stores/CodePage.h"
#include "stores/RegFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr platform::RootHandle kHkcu = platform::kCurrentUser;
constexpr platform::RootHandle kHklm = platform::kLocalMachine;
constexpr platform::RootHandle kHku = platform::kUsers;
const std::string kHeader = "WINE REGISTRY Version 2\n";

// A throwaway prefix folder, with Wine's own NLS files where a case asks for them.
class Prefix {
  public:
    Prefix() {
        std::string pattern = (fs::temp_directory_path() / "ostrel-prefix-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        fs::create_directories(dir_ / "drive_c/windows/system32");
    }
    ~Prefix() { fs::remove_all(dir_); }
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;

    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    void AddNls(const std::string& name) const {
        fs::copy_file(fs::path(OSTREL_WINE_NLS) / name, dir_ / "drive_c/windows/system32" / name);
    }
    std::string Use() const { return platform::UsePrefix(dir_.string()); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  private:
    fs::path dir_;
};

struct Read {
    platform::Status open = -1;
    platform::Status status = -1;
    platform::ValueType type = 0;
    std::uint32_t length = 0;
    std::string data; // the bytes written, when the read succeeded
};

Read Query(platform::RootHandle root, const std::string& subKey, const std::string& name) {
    Read read;
    platform::KeyHandle key = 0;
    read.open = platform::RegOpenKeyExA(root, subKey, 0, platform::kKeyRead, key);
    if (read.open != 0) {
        return read;
    }
    unsigned char buffer[255];
    std::fill(std::begin(buffer), std::end(buffer), ' ');
    read.type = platform::kRegSz;
    read.length = sizeof(buffer);
    read.status = platform::RegQueryValueExA(key, name, nullptr, read.type, buffer, read.length);
    if (read.status == 0) {
        read.data.assign(reinterpret_cast<const char*>(buffer), read.length);
    }
    EXPECT_EQ(platform::RegCloseKey(key), 0);
    return read;
}

std::optional<std::wstring> Recover() {
    std::wstring path = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";
    return General::GetKeyValue(path, L"codkey");
}

std::string Section(const std::string& key, const std::string& lines) {
    return "\n[" + key + "] 1700000000\n#time=1d9a1b2c3d4e5f6\n" + lines;
}

// A link key's lines: SymbolicLinkValue holds a UTF-16LE path below \Registry.
std::string LinkTo(const std::string& target) {
    std::string hex;
    for (const char c : target) {
        if (!hex.empty()) {
            hex += ',';
        }
        hex += "0123456789abcdef"[(c >> 4) & 15];
        hex += "0123456789abcdef"[c & 15];
        hex += ",00";
    }
    return "#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n";
}

} // namespace

TEST(PrefixFiles, RedirectsOnlyAWin64PrefixThroughWow6432Node) {
    const std::string both =
        Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"64-BIT\"\n") +
        Section("Software\\\\Wow6432Node\\\\Activision\\\\Call of Duty 4",
                "\"codkey\"=\"32-BIT\"\n");
    const std::pair<std::string, std::wstring> rows[] = {
        {"#arch=win64\n", L"32-BIT"}, {"#arch=win32\n", L"64-BIT"}, {"", L"64-BIT"}};
    for (const auto& [arch, expected] : rows) {
        SCOPED_TRACE(arch);
        Prefix prefix;
        prefix.Write("system.reg",
                     kHeader + ";; All keys relative to REGISTRY\\\\Machine\n\n" + arch + both);
        ASSERT_EQ(prefix.Use(), "");
        EXPECT_EQ(Recover(), expected);
    }
}

TEST(PrefixFiles, AKeyOpenedInOnePrefixIsNoKeyOnceAnotherIsChosen) {
    Prefix first;
    first.Write("system.reg", kHeader + Section("Software\\\\Game", "\"v\"=\"1\"\n"));
    ASSERT_EQ(first.Use(), "");
    platform::KeyHandle key = 0;
    ASSERT_EQ(platform::RegOpenKeyExA(platform::kLocalMachine, "Software\\Game", 0,
                                      platform::kKeyRead, key),
              0);
    Prefix second;
    second.Write("system.reg", kHeader + Section("Software\\\\Game", "\"v\"=\"2\"\n"));
    ASSERT_EQ(second.Use(), "");
    platform::ValueType type = platform::kRegSz;
    unsigned char data[8];
    std::uint32_t length = sizeof(data);
    EXPECT_EQ(platform::RegQueryValueExA(key, "v", nullptr, type, data, length), 6);
    EXPECT_EQ(platform::RegCloseKey(key), 6); // ERROR_INVALID_HANDLE
    EXPECT_EQ(Query(kHklm, "Software\\Game", "v").data, std::string("2\0", 2));
}

TEST(PrefixFiles, NeverFallsBackToThe64BitKeyOnAWin64Prefix) {
    Prefix prefix;
    prefix.Write("system.reg",
                 kHeader + "#arch=win64\n" + Section("Software\\\\Wow6432Node\\\\Other", "") +
                     Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"64\"\n"));
    ASSERT_EQ(prefix.Use(), "");
    EXPECT_EQ(Recover(), L"Error");
}

TEST(PrefixFiles, ReadsAFileEditedByHand) {
    // LF line ends, a section written twice in other letter cases, comments, blanks, raw UTF-8.
    Prefix prefix;
    prefix.AddNls("c_1252.nls");
    prefix.Write("system.reg", "WINE REGISTRY Version 2\n#arch=win32\n"
                               "[software\\\\activision\\\\call of duty 4]\n"
                               "\"codkey\"=\"OLD\"\n"
                               "; my key, typed in again below\n"
                               "  \"Owner\"=\"Ren\xc3\xa9\"\r\n"
                               "\n"
                               "[SOFTWARE\\\\Activision\\\\Call Of Duty 4]\n"
                               "\"CODKEY\"=\"NEW-KEY-1234\"\n");
    ASSERT_EQ(prefix.Use(), "");
    EXPECT_EQ(Recover(), L"NEW-KEY-1234");
    const Read owner = Query(kHklm, "Software\\Activision\\Call of Duty 4", "owner");
    EXPECT_EQ(owner.data, std::string("Ren\xe9\0", 5));
}

TEST(PrefixFiles, FollowsLinksAndGivesUpOnBrokenOnes) {
    const auto link = LinkTo;
    const std::pair<std::string, platform::Status> rows[] = {
        {link("\\Registry\\Machine\\Software\\Real"), 0},
        {link("\\REGISTRY\\machine\\software\\real"), 0},
        {link("\\Registry\\Machine\\Software\\Loop"), 2},
        {link("\\Registry\\Machine\\Software\\Missing"), 2},
        {link("Machine\\Software\\Real"), 2},
        {"#link\n", 2},
    };
    for (const auto& [lines, status] : rows) {
        SCOPED_TRACE(lines);
        Prefix prefix;
        prefix.Write("system.reg",
                     kHeader + Section("Software\\\\Real", "\"v\"=\"real\"\n") +
                         Section("Software\\\\Loop", link("\\Registry\\Machine\\Software\\Loop")) +
                         Section("Software\\\\Link", lines));
        ASSERT_EQ(prefix.Use(), "");
        const Read read = Query(kHklm, "Software\\Link", "v");
        EXPECT_EQ(read.open, status);
        EXPECT_EQ(read.data, status == 0 ? std::string("real\0", 5) : "");
    }
}

TEST(PrefixFiles, ServesEachRootFromItsOwnFile) {
    Prefix prefix;
    prefix.AddNls("l_intl.nls");
    prefix.Write("system.reg",
                 kHeader + "\"top\"=\"no key yet\"\n" + Section("", "\"top\"=\"root\"\n") +
                     Section("Software\\\\Caf\\xe9\\\\\\[x\\]", "\"v\"=\"accent\"\n"));
    prefix.Write("user.reg", kHeader + Section("Software\\\\Ostrel", "\"v\"=\"user\"\n"));
    prefix.Write("userdef.reg",
                 kHeader + Section("Software\\\\Ostrel", "\"v\"=\"default user\"\n"));
    ASSERT_EQ(prefix.Use(), "");
    const std::tuple<platform::RootHandle, std::string, std::string, std::string> rows[] = {
        {kHklm, "", "top", std::string("root\0", 5)},
        {kHklm, "SOFTWARE\\CAF\xc9\\[X]", "V", std::string("accent\0", 7)},
        {kHkcu, "Software\\Ostrel", "v", std::string("user\0", 5)},
        {kHku, "S-1-5-21-0-0-0-1000\\Software\\Ostrel", "v", std::string("user\0", 5)},
        {kHku, ".Default\\Software\\Ostrel", "v", std::string("default user\0", 13)},
        {0x80000000, "Software\\Ostrel", "v", ""},
        {0x80000005, "Software\\Ostrel", "v", ""},
        {kHklm, "\\Software", "v", ""},
    };
    for (const auto& [root, key, name, data] : rows) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Query(root, key, name).data, data);
    }
}

TEST(PrefixCodePage, ConvertsWithThePrefixsOwnTable) {
    struct Row {
        const char* acp;   // the ACP value line, if any
        const char* nls;   // the table the prefix carries, if any
        std::wstring text; // a key as stored
        std::string ansi;  // what a 32-bit program reads
        std::wstring back; // those bytes read back as text
    };
    const Row rows[] = {
        // 1252 when there is no ACP; a best-fit letter, and the default character.
        {"", "c_1252.nls", L"caf\u00e9 \u0101 \u4e2d", "caf\xe9 a ?", L"caf\u00e9 a ?"},
        {"\"ACP\"=\"1251\"\n", "c_1251.nls", L"\u0416\u00e9",
         "\xc6"
         "e",
         L"\u0416e"},
        {"\"ACP\"=\"932\"\n", "c_932.nls", L"\u65e5\u672c", "\x93\xfa\x96\x7b", L"\u65e5\u672c"},
        {"", nullptr, L"caf\u00e9 \u4e2d", "caf\xe9 ?", L"caf\u00e9 ?"}, // no table: built-in 1252
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.acp);
        Prefix prefix;
        if (row.nls != nullptr) {
            prefix.AddNls(row.nls);
        }
        std::string stored;
        for (const wchar_t c : row.text) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%04x", static_cast<unsigned>(c));
            stored += escape;
        }
        prefix.Write(
            "system.reg",
            kHeader +
                Section("System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage", row.acp) +
                Section("Software\\\\Activision\\\\Call of Duty 4",
                        "\"codkey\"=\"" + stored + "\"\n"));
        ASSERT_EQ(prefix.Use(), "");
        const Read read = Query(kHklm, "Software\\Activision\\Call of Duty 4", "codkey");
        EXPECT_EQ(read.data, row.ansi + std::string(1, '\0'));
        EXPECT_EQ(platform::ToAnsi(row.text), row.ansi);
        EXPECT_EQ(platform::FromAnsi(row.ansi), row.back);
    }
}

TEST(PrefixCodePage, FindsTheCodePageBehindALinkedControlSet) {
    // As on Windows: CurrentControlSet a link to ControlSet001, which holds the code page.
    Prefix prefix;
    prefix.AddNls("c_1251.nls");
    prefix.Write(
        "system.reg",
        kHeader +
            Section("System\\\\CurrentControlSet",
                    LinkTo("\\Registry\\Machine\\System\\ControlSet001")) +
            Section("System\\\\ControlSet001\\\\Control\\\\Nls\\\\CodePage", "\"ACP\"=\"1251\"\n") +
            Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"\\x416\"\n"));
    ASSERT_EQ(prefix.Use(), "");
    EXPECT_EQ(Query(kHklm, "Software\\Activision\\Call of Duty 4", "codkey").data,
              std::string("\xc6\0", 2));
    EXPECT_EQ(Recover(), L"\u0416");
}

TEST(PrefixCodePage, DegradesToAsciiWithoutAnyConverter) {
    const auto ascii = stores::CodePage::AsciiOnly(1252);
    EXPECT_EQ(ascii.Encode(u"key-\u00e9"), "key-?");
    EXPECT_EQ(ascii.Decode("key-\xe9"), u"key-?");
}

// Damaged, foreign and hostile files: a clear refusal, or the read Wine itself would make.
TEST(PrefixBadInput, RefusesWhatIsNoRegistryAndReadsPastDamage) {
    const std::string good =
        Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"GOOD\"\n");
    struct Row {
        std::string name;
        std::string file;
        std::string refusal; // part of UsePrefix's message, or empty when the file is used
        std::wstring recovered;
    };
    const Row rows[] = {
        {"empty", "", "not a Wine registry file", L""},
        {"old version", "WINE REGISTRY Version 1\n" + good, "not a Wine registry file", L""},
        {"garbage",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10) +
             good,
         "not a Wine registry file", L""},
        {"unknown arch", kHeader + "#arch=arm64\n" + good, "unknown architecture", L""},
        {"truncated value",
         kHeader + good + Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"TRUNC"),
         "", L""},
        {"truncated key", kHeader + good + "\n[Software\\\\Activ", "", L"GOOD"},
        {"truncated hex", kHeader + good + "\"bin\"=hex:01,02,\\\n", "", L"GOOD"},
        {"bad escapes", kHeader + good + "\"x\"=\"\\x\\", "", L"GOOD"},
        {"garbage lines", kHeader + std::string("\x01\xff\xfe[\0\"@#;\n\x80\n", 11) + good, "",
         L"GOOD"},
        {"nul in a line",
         kHeader + Section("Software\\\\Activision\\\\Call of Duty 4",
                           std::string("\"codkey\"=\"A\0B\"\n", 15)),
         "", L""},
        {"endless line", kHeader + "\"x\"=\"" + std::string(5u << 20, 'x') + "\n" + good, "",
         L"GOOD"},
        {"endless key", kHeader + "[" + std::string(5u << 20, 'k') + "\n\"codkey\"=\"NO\"\n" + good,
         "", L"GOOD"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Prefix prefix;
        prefix.Write("system.reg", row.file);
        const std::string refusal = prefix.Use();
        if (!row.refusal.empty()) {
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
            continue;
        }
        ASSERT_EQ(refusal, "");
        EXPECT_EQ(Recover(), row.recovered);
    }
}

TEST(PrefixBadInput, RefusesAFolderWithoutSystemReg) {
    Prefix prefix;
    EXPECT_NE(prefix.Use().find("holds no system.reg"), std::string::npos);
    fs::create_directory(prefix.Path("system.reg"));
    EXPECT_NE(prefix.Use().find("holds no system.reg"), std::string::npos);
}

TEST(PrefixBadInput, ReadsA200MegabyteFileInBoundedMemory) {
    Prefix prefix;
    const std::string path = prefix.Path("system.reg");
    prefix.Write("system.reg", kHeader);
    // 200 MB of NUL bytes without a line end (a hole, so the test costs no disk), then the key.
    ASSERT_EQ(::truncate(path.c_str(), 200L << 20), 0);
    std::ofstream(path, std::ios::app | std::ios::binary)
        << "\n"
        << Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"FOUND\"\n");
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    ASSERT_EQ(prefix.Use(), "");
    EXPECT_EQ(Recover(), L"FOUND");
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "kilobytes more at peak";
}

TEST(PrefixBadInput, ReadsOneWholeFileWhileWineRenamesNewOnesOverIt) {
    Prefix prefix;
    const auto version = [](const std::string& key) {
        std::string filler;
        for (int i = 0; i < 2000; ++i) {
            filler += Section("Software\\\\Filler\\\\" + std::to_string(i), "\"v\"=\"x\"\n");
        }
        return kHeader + filler +
               Section("Software\\\\Activision\\\\Call of Duty 4", "\"codkey\"=\"" + key + "\"\n");
    };
    prefix.Write("system.reg", version("FIRST"));
    ASSERT_EQ(prefix.Use(), "");
    prefix.Write("one.tmp", version("FIRST"));
    std::atomic<bool> done{false};
    std::thread wine([&] {
        // What wineserver does on every save: a new file, renamed over the old one.
        for (int i = 0; !done; ++i) {
            prefix.Write("next.tmp", version(i % 2 == 0 ? "SECOND" : "FIRST"));
            fs::rename(prefix.Path("next.tmp"), prefix.Path("system.reg"));
        }
    });
    for (int i = 0; i < 100; ++i) {
        const auto key = Recover();
        EXPECT_TRUE(key == L"FIRST" || key == L"SECOND") << (key ? "other text" : "nothing");
    }
    done = true;
    wine.join();
}
