// The reader against the real registry of the test's own Wine prefix. The fixtures are written
// here, with the wide API, under unique keys that are deleted again; the reader only reads them.
#include "registry/General.h"

#include "tests/support/MessageStandIn.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;
using standin::g_messages;

namespace {

std::wstring Widen(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

// A key of its own for each test under HKCU\Software\OstrelTests, gone again after the test.
class RegistryReader : public ::testing::Test {
  protected:
    void SetUp() override {
        g_messages.clear();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        subKey_ = L"Software\\OstrelTests\\" + Widen(info->name()) + L"_" +
                  std::to_wstring(::GetCurrentProcessId());
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subKey_.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }

    void TearDown() override {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
        ::RegDeleteTreeW(HKEY_CURRENT_USER, subKey_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OstrelTests"); // only goes once empty
    }

    void SetString(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) {
        SetBytes(name, type,
                 std::string(reinterpret_cast<const char*>(text.c_str()),
                             (text.size() + 1) * sizeof(wchar_t)));
    }

    void SetBytes(const std::wstring& name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(::RegSetValueExW(key_, name.c_str(), 0, type,
                                   reinterpret_cast<const BYTE*>(bytes.data()),
                                   static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }

    std::wstring Path() const { return L"HKEY_CURRENT_USER\\" + subKey_; }

    std::optional<std::wstring> Read(const std::wstring& name) const {
        std::wstring path = Path();
        return General::GetKeyValue(path, name);
    }

    std::wstring subKey_;
    HKEY key_ = nullptr;
};

// Puts "codkey" where the program looks for it and puts back whatever was there before, so a
// prefix that already holds the game's key comes out as it went in.
class BuiltInLocation {
  public:
    static constexpr const wchar_t* kActivision = L"SOFTWARE\\Activision";
    static constexpr const wchar_t* kGame = L"SOFTWARE\\Activision\\Call of Duty 4";

    BuiltInLocation() {
        hadActivision_ = Exists(kActivision);
        hadGame_ = Exists(kGame);
        created_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGame, 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &key_, nullptr) == ERROR_SUCCESS;
        if (created_) {
            DWORD size = sizeof(saved_);
            hadValue_ = ::RegQueryValueExW(key_, L"codkey", nullptr, &savedType_, saved_, &size) ==
                        ERROR_SUCCESS;
            savedSize_ = size;
        }
    }

    ~BuiltInLocation() {
        if (!created_) {
            return;
        }
        if (hadValue_) {
            ::RegSetValueExW(key_, L"codkey", 0, savedType_, saved_, savedSize_);
        } else {
            ::RegDeleteValueW(key_, L"codkey");
        }
        ::RegCloseKey(key_);
        if (!hadGame_) {
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kGame);
        }
        if (!hadActivision_) {
            ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kActivision);
        }
    }

    bool Set(const std::wstring& text) const {
        return created_ &&
               ::RegSetValueExW(key_, L"codkey", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>((text.size() + 1) * 2)) == ERROR_SUCCESS;
    }

  private:
    static bool Exists(const wchar_t* path) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        ::RegCloseKey(key);
        return true;
    }

    HKEY key_ = nullptr;
    bool created_ = false;
    bool hadActivision_ = false;
    bool hadGame_ = false;
    bool hadValue_ = false;
    DWORD savedType_ = 0;
    BYTE saved_[4096] = {};
    DWORD savedSize_ = 0;
};

} // namespace

TEST(RegistryReaderBuiltIn, ReadsCodKeyAndLeavesSubkeyInCallersVariable) {
    BuiltInLocation location;
    ASSERT_TRUE(location.Set(L"XK3P-7QRT-M2WD-9FZC-4HBN"));
    std::wstring path = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";
    EXPECT_EQ(General::GetKeyValue(path, L"codkey"), L"XK3P-7QRT-M2WD-9FZC-4HBN");
    EXPECT_EQ(path, L"SOFTWARE\\Activision\\Call of Duty 4");
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryReader, DropsLeadingSpacesAndKeepsTrailingOnes) {
    SetString(L"v", L"  ABC  ");
    EXPECT_EQ(Read(L"v"), L"ABC  ");
}

TEST_F(RegistryReader, ReadsEmptyStringAsEmptyText) {
    SetString(L"v", L"");
    EXPECT_EQ(Read(L"v"), L"");
}

TEST_F(RegistryReader, Returns254CharactersWholeAndErrorFor255) {
    SetString(L"fits", std::wstring(254, L'k'));
    SetString(L"long", std::wstring(255, L'k'));
    EXPECT_EQ(Read(L"fits"), std::wstring(254, L'k'));
    EXPECT_EQ(Read(L"long"), L"Error");
}

TEST_F(RegistryReader, KeepsEveryCharacterOfRawBytesWithoutTerminator) {
    SetBytes(L"abc", REG_BINARY, "ABC");
    SetBytes(L"full", REG_BINARY, std::string(255, 'b'));
    SetBytes(L"over", REG_BINARY, std::string(256, 'b'));
    SetBytes(L"none", REG_BINARY, "");
    SetBytes(L"spaces", REG_BINARY, "   ");
    EXPECT_EQ(Read(L"abc"), L"ABC");
    EXPECT_EQ(Read(L"full"), std::wstring(255, L'b'));
    EXPECT_EQ(Read(L"over"), L"Error");
    EXPECT_EQ(Read(L"none"), L"");
    EXPECT_EQ(Read(L"spaces"), L"");
}

TEST_F(RegistryReader, ReadsNonStringValuesAsTheirBytes) {
    const DWORD abc = 0x00434241; // little-endian bytes A B C NUL
    SetBytes(L"dword", REG_DWORD, std::string(reinterpret_cast<const char*>(&abc), sizeof abc));
    SetBytes(L"binary", REG_BINARY, "X\0Y"s);
    SetString(L"multi", L"A\0B\0"s, REG_MULTI_SZ);
    SetString(L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    EXPECT_EQ(Read(L"dword"), L"ABC");
    EXPECT_EQ(Read(L"binary"), L"X\0Y"s);
    EXPECT_EQ(Read(L"multi"), L"A\0B\0"s);
    EXPECT_EQ(Read(L"expand"), L"%SystemRoot%\\x"); // read as stored, never expanded
}

TEST_F(RegistryReader, ReadsStoredErrorLikeTheFailureMarker) {
    SetString(L"v", L"Error");
    EXPECT_EQ(Read(L"v"), Read(L"missing"));
    EXPECT_EQ(Read(L"v"), L"Error");
}

TEST_F(RegistryReader, ReturnsErrorForMissingKeyOrValue) {
    SetString(L"v", L"present");
    std::wstring missingKey = Path() + L"\\NoSuchKey";
    EXPECT_EQ(General::GetKeyValue(missingKey, L"v"), L"Error");
    EXPECT_EQ(Read(L"NoSuchValue"), L"Error");
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryReader, ReadsValueDirectlyUnderTheRootForARootAlone) {
    const std::wstring name = L"OstrelTests_RootAlone_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring text = L"under the root";
    ASSERT_EQ(::RegSetValueExW(HKEY_CURRENT_USER, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
    std::wstring path = L"HKEY_CURRENT_USER";
    const auto result = General::GetKeyValue(path, name);
    ::RegDeleteValueW(HKEY_CURRENT_USER, name.c_str());
    EXPECT_EQ(result, text);
    EXPECT_EQ(path, L"");
}

TEST_F(RegistryReader, PassesDoubleBackslashToRegistryWhichRefusesIt) {
    SetString(L"v", L"reachable");
    std::wstring path = L"HKEY_CURRENT_USER\\\\" + subKey_;
    const auto result = General::GetKeyValue(path, L"v");
    ASSERT_EQ(path, L"\\" + subKey_); // what the registry was handed
    // The registry's own verdict on that subkey path decides the reader's result.
    HKEY key = nullptr;
    const std::string narrow(path.begin(), path.end());
    const LONG status = ::RegOpenKeyExA(HKEY_CURRENT_USER, narrow.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        ::RegCloseKey(key);
    }
    RecordProperty("open_status", static_cast<int>(status));
    EXPECT_EQ(status, ERROR_BAD_PATHNAME);
    EXPECT_EQ(result, L"Error");
}

TEST_F(RegistryReader, ReadsNothingSilentlyForRootOutsideTable) {
    std::wstring path = L"HKEY_Local_Machine\\SOFTWARE";
    EXPECT_EQ(General::GetKeyValue(path, L"codkey"), std::nullopt);
    EXPECT_EQ(path, L"SOFTWARE");
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(RegistryReader, ReportsMalformedPathAndReadsNothing) {
    SetString(L"v", L"unreached");
    const std::wstring malformed = Path() + L"\\";
    std::wstring path = malformed;
    EXPECT_EQ(General::GetKeyValue(path, L"v"), std::nullopt);
    EXPECT_EQ(path, malformed);
    EXPECT_EQ(g_messages, std::vector<std::wstring>{L"Incorrect Format:\n\n" + malformed});
}

TEST_F(RegistryReader, KeepsCharacterOfTheAnsiCodePageIntact) {
    // What the narrow calls make of a character depends on the prefix's ANSI code page; Wine
    // gives an English locale Windows-1252, where e-acute is the single byte 0xE9.
    const UINT acp = ::GetACP();
    RecordProperty("acp", static_cast<int>(acp));
    if (acp != 1252) {
        GTEST_SKIP() << "ANSI code page is " << acp << ", not 1252";
    }
    SetString(L"caf\u00E9", L"Caf\u00E9 cr\u00E8me \u00A9");
    SetBytes(L"byte", REG_BINARY, "\xE9\0"s);
    EXPECT_EQ(Read(L"caf\u00E9"), L"Caf\u00E9 cr\u00E8me \u00A9");
    EXPECT_EQ(Read(L"byte"), L"\u00E9");

    HKEY sub = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(key_, L"\u00C9t\u00E9", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &sub, nullptr),
              ERROR_SUCCESS);
    const std::wstring text = L"\u00FCber";
    ::RegSetValueExW(sub, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * 2));
    ::RegCloseKey(sub);
    std::wstring path = Path() + L"\\\u00C9t\u00E9";
    EXPECT_EQ(General::GetKeyValue(path, L""), text);
}
