// The registry reader against recording stand-ins for the registry and the message box: what it
// hands the registry, in what order, and how it shapes the bytes it gets back.
#include "registry/General.h"

#include "tests/support/MessageStandIn.h"
#include "tests/support/RegistryStandIn.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace std::string_literals;
using standin::CallKind;
using standin::g_messages;
using standin::g_registry;
using standin::g_registryCalls;

namespace {

constexpr platform::RootHandle kHkcu = 0x80000001;
constexpr platform::RootHandle kHklm = 0x80000002;
const std::wstring kCodPath = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";

std::vector<CallKind> CallKinds() {
    std::vector<CallKind> kinds;
    for (const auto& call : g_registryCalls) {
        kinds.push_back(call.kind);
    }
    return kinds;
}

// Every case starts with a registry that answers success and holds an empty string.
class Reader : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::ResetRegistry();
        g_messages.clear();
    }

    static std::optional<std::wstring> Read(std::wstring path = kCodPath,
                                            const std::wstring& name = L"codkey") {
        return General::GetKeyValue(path, name);
    }
};

// Suite names say which operation a case is about.
class RootKeyFromName : public Reader {};
class ParseKeyPath : public Reader {};
class GetKeyValue : public Reader {};

} // namespace

TEST_F(RootKeyFromName, MapsEachPredefinedRootNameToItsHandle) {
    const std::vector<std::pair<std::wstring, platform::RootHandle>> rows{
        {L"HKEY_CLASSES_ROOT", 0x80000000},     {L"HKEY_CURRENT_USER", 0x80000001},
        {L"HKEY_LOCAL_MACHINE", 0x80000002},    {L"HKEY_USERS", 0x80000003},
        {L"HKEY_PERFORMANCE_DATA", 0x80000004}, {L"HKEY_CURRENT_CONFIG", 0x80000005},
        {L"HKEY_DYN_DATA", 0x80000006},
    };
    for (const auto& [name, root] : rows) {
        EXPECT_EQ(General::RootKeyFromName(name), root) << std::string(name.begin(), name.end());
    }
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(RootKeyFromName, MatchesOnlyTheWholeNameInItsExactCase) {
    const std::vector<std::wstring> names{
        L"hkey_local_machine",
        L"HKEY_Local_Machine",
        L"HKLM",
        L"HKEY_LOCAL",
        L"HKEY_",
        L"HKEY_LOCAL_MACHINEX",
        L"HKEY_LOCAL_MACHINE ",
        L" HKEY_LOCAL_MACHINE",
        L"HKEY_LOCAL_MACHINE\\SOFTWARE",
        L"HKEY_USERS\0X"s,
        L"",
    };
    for (const auto& name : names) {
        EXPECT_EQ(General::RootKeyFromName(name), 0u) << std::string(name.begin(), name.end());
    }
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(ParseKeyPath, SplitsRootAndRewritesPathToSubkeyInPlace) {
    struct Row {
        std::wstring path;
        platform::RootHandle root;
        std::wstring subKey;
    };
    const std::vector<Row> rows{
        {kCodPath, kHklm, L"SOFTWARE\\Activision\\Call of Duty 4"},
        {L"HKEY_USERS\\.DEFAULT\\Control Panel\\Desktop", 0x80000003,
         L".DEFAULT\\Control Panel\\Desktop"},
        {L"HKEY_CURRENT_USER", kHkcu, L""},
        {L"HKEY_CURRENT_USER\\\\Software", kHkcu, L"\\Software"},
        {L"HKEY_CURRENT_USER\\ Software ", kHkcu, L" Software "},
        // Outside the table but well formed: no root, yet the path is still rewritten.
        {L"HKEY_Local_Machine\\SOFTWARE", 0, L"SOFTWARE"},
        {L"HKEY_", 0, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path.begin(), row.path.end()));
        std::wstring path = row.path;
        EXPECT_EQ(General::ParseKeyPath(path), row.root);
        EXPECT_EQ(path, row.subKey);
    }
    EXPECT_TRUE(g_messages.empty());
    EXPECT_TRUE(g_registryCalls.empty());
}

TEST_F(ParseKeyPath, ReportsMalformedPathAsGivenAndLeavesItUnchanged) {
    for (const std::wstring path :
         {L"hkey_local_machine\\Software", L"HKLM\\Software", L"HKEY_LOCAL_MACHINE\\SOFTWARE\\",
          L"HKEY_CURRENT_USER\\", L"HKEY", L"HKE", L"\\", L"", L"Hkey_CURRENT_USER",
          L" HKEY_CURRENT_USER"}) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        g_messages.clear();
        std::wstring inOut = path;
        EXPECT_EQ(General::ParseKeyPath(inOut), 0u);
        EXPECT_EQ(inOut, path);
        ASSERT_EQ(g_messages.size(), 1u);
        EXPECT_EQ(g_messages[0], L"Incorrect Format:\n\n" + path);
    }
}

TEST_F(GetKeyValue, OpensSubkeyForReadingWithoutViewFlag) {
    Read();
    ASSERT_FALSE(g_registryCalls.empty());
    const auto& open = g_registryCalls[0];
    ASSERT_EQ(open.kind, CallKind::Open);
    EXPECT_EQ(open.root, kHklm);
    EXPECT_EQ(open.name, "SOFTWARE\\Activision\\Call of Duty 4");
    EXPECT_EQ(open.options, 0u);
    EXPECT_EQ(open.access, 0x20019u);
    EXPECT_EQ(open.access & 0x300u, 0u) << "KEY_WOW64_64KEY or KEY_WOW64_32KEY passed";
}

TEST_F(GetKeyValue, QueriesOpenedKeyWithStringTypeAndBufferOf255Spaces) {
    g_registry.openedKey = 0x1234;
    Read(kCodPath, L"codkey");
    ASSERT_EQ(g_registryCalls.size(), 3u);
    const auto& query = g_registryCalls[1];
    ASSERT_EQ(query.kind, CallKind::Query);
    EXPECT_EQ(query.key, 0x1234u);
    EXPECT_EQ(query.name, "codkey");
    EXPECT_TRUE(query.reservedNull);
    EXPECT_EQ(query.typeIn, 1u);
    EXPECT_EQ(query.lengthIn, 255u);
    EXPECT_EQ(query.dataIn, std::string(255, ' '));
}

TEST_F(GetKeyValue, OpensReadsAndClosesTheSameKeyInThatOrder) {
    g_registry.openedKey = 0x77;
    g_registry.data = "XYZ\0"s;
    EXPECT_EQ(Read(), L"XYZ");
    ASSERT_EQ(CallKinds(), (std::vector{CallKind::Open, CallKind::Query, CallKind::Close}));
    EXPECT_EQ(g_registryCalls[2].key, 0x77u);
    EXPECT_EQ(standin::OpenKeyCount(), 0);
}

TEST_F(GetKeyValue, ClosesKeyAndReturnsErrorWhenReadFails) {
    g_registry.data = "stale\0"s; // written, yet the status says the read failed
    g_registry.queryStatus = standin::kFileNotFound;
    EXPECT_EQ(Read(), L"Error");
    EXPECT_EQ(CallKinds(), (std::vector{CallKind::Open, CallKind::Query, CallKind::Close}));
    EXPECT_EQ(standin::OpenKeyCount(), 0);
}

TEST_F(GetKeyValue, ReturnsErrorWithoutClosingWhenOpenFails) {
    g_registry.openStatus = standin::kFileNotFound;
    EXPECT_EQ(Read(), L"Error");
    EXPECT_EQ(CallKinds(), std::vector{CallKind::Open});
}

TEST_F(GetKeyValue, IgnoresStatusOfClose) {
    g_registry.data = "ABC\0"s;
    g_registry.closeStatus = 6; // ERROR_INVALID_HANDLE
    EXPECT_EQ(Read(), L"ABC");
}

TEST_F(GetKeyValue, ReturnsErrorForValueLongerThan255Bytes) {
    g_registry.data = std::string(255, 'x') + '\0';
    EXPECT_EQ(Read(), L"Error");
    EXPECT_EQ(standin::OpenKeyCount(), 0);
}

TEST_F(GetKeyValue, MakesNoRegistryCallWithoutARoot) {
    struct Row {
        std::wstring path;
        bool reported;
    };
    const std::vector<Row> rows{
        {L"HKEY_Local_Machine\\SOFTWARE", false},
        {L"HKEY_LOCAL", false},
        {L"hkey_local_machine\\Software", true},
        {L"HKLM\\Software", true},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\", true},
        {L"HKEY", true},
        {L"", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path.begin(), row.path.end()));
        g_messages.clear();
        EXPECT_EQ(Read(row.path), std::nullopt);
        EXPECT_TRUE(g_registryCalls.empty());
        EXPECT_EQ(g_messages.size(), row.reported ? 1u : 0u);
    }
}

TEST_F(GetKeyValue, ReturnsNothingSilentlyForRootOutsideTableAndLeavesSubkey) {
    std::wstring path = L"HKEY_Local_Machine\\SOFTWARE";
    EXPECT_EQ(General::GetKeyValue(path, L"codkey"), std::nullopt);
    EXPECT_EQ(path, L"SOFTWARE");
    EXPECT_TRUE(g_messages.empty());
}

TEST_F(GetKeyValue, LeavesSubkeyPathInCallersVariable) {
    std::wstring path = kCodPath;
    General::GetKeyValue(path, L"codkey");
    EXPECT_EQ(path, L"SOFTWARE\\Activision\\Call of Duty 4");
}

TEST_F(GetKeyValue, OpensTheRootItselfForARootAlone) {
    g_registry.data = "root\0"s;
    EXPECT_EQ(Read(L"HKEY_CURRENT_USER"), L"root");
    ASSERT_FALSE(g_registryCalls.empty());
    EXPECT_EQ(g_registryCalls[0].root, kHkcu);
    EXPECT_EQ(g_registryCalls[0].name, "");
}

TEST_F(GetKeyValue, PassesSubkeyAfterDoubleBackslashUnchanged) {
    Read(L"HKEY_CURRENT_USER\\\\Software");
    ASSERT_FALSE(g_registryCalls.empty());
    EXPECT_EQ(g_registryCalls[0].name, "\\Software");
}

TEST_F(GetKeyValue, ShapesValueBytesIntoText) {
    struct Row {
        const char* what;
        std::string data;
        std::wstring text;
    };
    const std::vector<Row> rows{
        {"string", "XK3P-7QRT-M2WD\0"s, L"XK3P-7QRT-M2WD"},
        {"leading spaces go, trailing stay", "  ABC  \0"s, L"ABC  "},
        {"empty string", "\0"s, L""},
        {"raw bytes without NUL", "ABC", L"ABC"},
        {"one raw byte", "A", L"A"},
        {"only spaces, no NUL", "   ", L""},
        {"zero bytes", "", L""},
        {"spaces then NUL", "   \0"s, L""},
        {"tabs are not trimmed", "\tA\t\0"s, L"\tA\t"},
        {"stored failure marker", "Error\0"s, L"Error"},
        {"REG_MULTI_SZ keeps inner NULs", "A\0B\0\0"s, L"A\0B\0"s},
        {"REG_DWORD 0x00434241", "ABC\0"s, L"ABC"},
        {"REG_DWORD 0x00000041", "A\0\0\0"s, L"A\0\0"s},
        {"NUL first", "\0ABC"s, L"\0ABC"s},
        {"254 characters and NUL", std::string(254, 'k') + '\0', std::wstring(254, L'k')},
        {"255 bytes without NUL", std::string(255, 'k'), std::wstring(255, L'k')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        standin::ResetRegistry();
        g_registry.data = row.data;
        g_registry.type = 3; // REG_BINARY: the type that comes back is not looked at
        EXPECT_EQ(Read(), row.text);
    }
}

TEST_F(GetKeyValue, StartsEachReadWithAFreshBufferOfSpaces) {
    g_registry.data = std::string(200, 'L') + '\0';
    ASSERT_EQ(Read(), std::wstring(200, L'L'));
    standin::ResetRegistry();
    g_registry.data = "S\0"s;
    EXPECT_EQ(Read(), L"S");
    ASSERT_EQ(g_registryCalls.size(), 3u);
    EXPECT_EQ(g_registryCalls[1].dataIn, std::string(255, ' '));
}

TEST_F(GetKeyValue, HandsNamesToRegistryInAnsiCodePage) {
    g_registry.data = "\xE9\0"s;
    EXPECT_EQ(Read(L"HKEY_CURRENT_USER\\Caf\u00E9", L"\u00E9t\u00E9"), L"\u00E9");
    ASSERT_FALSE(g_registryCalls.empty());
    EXPECT_EQ(g_registryCalls[0].name, "Caf\xE9");
    EXPECT_EQ(g_registryCalls[1].name, "\xE9t\xE9");
}
