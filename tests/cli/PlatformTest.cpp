// The Linux platform services the command adds: the safe file replace, UTF-8 at the terminal, and
// how names compare and which key a 32-bit program reaches on a Windows disk.
#include "platform/File.h"
#include "platform/linux/InputFile.h"
#include "platform/linux/WindowsSource.h"
#include "stores/NameFold.h"
#include "stores/RegText.h"
#include "stores/Unicode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class WriteFileAtomically : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/ostrel-file.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        target_ = dir_ + "/ostrel.txt";
    }
    void TearDown() override {
        ::chmod(dir_.c_str(), 0755);
        fs::remove_all(dir_);
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::uint32_t Write(const std::string& path, const std::string& bytes) {
        return platform::WriteFileAtomically(std::wstring(path.begin(), path.end()), bytes).error;
    }
    // Whatever the outcome, the folder holds nothing but what the test put there.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    using Names_ = std::vector<std::string>;

    // Runs the write in a child process (limits and user ids are per process) and returns its
    // result.
    static std::uint32_t InChild(const std::function<std::uint32_t()>& write) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(static_cast<int>(write()));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status)) : 255;
    }

    std::string dir_;
    std::string target_;
};

TEST_F(WriteFileAtomically, CreatesThenReplacesWholeKeepingPermissions) {
    ASSERT_EQ(Write(target_, "first, and longer\r\n"), 0u);
    EXPECT_EQ(Read(target_), "first, and longer\r\n");
    ::chmod(target_.c_str(), 0600);
    ASSERT_EQ(Write(target_, std::string("a\0b", 3)), 0u);
    EXPECT_EQ(Read(target_), std::string("a\0b", 3));
    struct stat info {};
    ::stat(target_.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // Root replacing a user's backup leaves it the user's, group and all.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target_.c_str(), 65534, 65534), 0);
        ASSERT_EQ(Write(target_, "theirs"), 0u);
        ::stat(target_.c_str(), &info);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    ASSERT_EQ(Write(target_, ""), 0u);
    EXPECT_EQ(Read(target_), "");
    EXPECT_EQ(Names(), Names_{"ostrel.txt"});
}

TEST_F(WriteFileAtomically, RefusesWhatWindowsRefusesAndLeavesNoTrace) {
    Put(target_, "old");
    ::chmod(target_.c_str(), 0444);
    EXPECT_EQ(Write(target_, "new"), static_cast<std::uint32_t>(EACCES));
    EXPECT_EQ(Read(target_), "old");
    EXPECT_EQ(Names(), Names_{"ostrel.txt"});

    const std::string folder = dir_ + "/folder.txt";
    fs::create_directory(folder);
    EXPECT_EQ(Write(folder, "new"), static_cast<std::uint32_t>(EISDIR));
    EXPECT_EQ(Write(dir_ + "/missing/ostrel.txt", "new"), static_cast<std::uint32_t>(ENOENT));
    EXPECT_EQ(Names(), (Names_{"folder.txt", "ostrel.txt"}));
}

TEST_F(WriteFileAtomically, WritesWhereALinkPointsAndKeepsTheLink) {
    fs::create_directory(dir_ + "/real");
    Put(dir_ + "/real/kept.txt", "old");
    fs::create_symlink("real/kept.txt", target_);
    ASSERT_EQ(Write(target_, "new"), 0u);
    EXPECT_TRUE(fs::is_symlink(target_));
    EXPECT_EQ(Read(dir_ + "/real/kept.txt"), "new");
    EXPECT_EQ(Names(), (Names_{"ostrel.txt", "real"}));

    // A link to a file not there yet creates it; a loop of links is an error, not a hang.
    fs::create_symlink("real/later.txt", dir_ + "/dangling");
    ASSERT_EQ(Write(dir_ + "/dangling", "made"), 0u);
    EXPECT_EQ(Read(dir_ + "/real/later.txt"), "made");
    fs::create_symlink("loop", dir_ + "/loop");
    EXPECT_EQ(Write(dir_ + "/loop", "x"), static_cast<std::uint32_t>(ELOOP));
}

TEST_F(WriteFileAtomically, FullDiskKeepsTheOldFileByteForByte) {
    const std::string old(300, 'o');
    Put(target_, old);
    const std::uint32_t error = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return Write(target_, std::string(1000, 'n'));
    });
    EXPECT_EQ(error, static_cast<std::uint32_t>(EFBIG));
    EXPECT_EQ(Read(target_), old);
    EXPECT_EQ(Names(), Names_{"ostrel.txt"});
}

// A folder that lets nobody add a file, holding a file the user may write. Root may add files
// anywhere, so the write runs as nobody.
TEST_F(WriteFileAtomically, ClosedFolderRewritesInPlaceOrRestores) {
    const std::string old(300, 'o');
    Put(target_, old);
    const uid_t nobody = 65534;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir_.c_str(), nobody, nobody), 0);
        ASSERT_EQ(::chown(target_.c_str(), nobody, nobody), 0);
    }
    ::chmod(dir_.c_str(), 0555);
    auto asUser = [&](std::size_t sizeLimit, const std::string& bytes) {
        return InChild([&] {
            if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
                return 254u;
            }
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{sizeLimit, sizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return Write(target_, bytes);
        });
    };
    EXPECT_EQ(asUser(1000, std::string(2000, 'n')), static_cast<std::uint32_t>(EFBIG));
    EXPECT_EQ(Read(target_), old);
    EXPECT_EQ(asUser(RLIM_INFINITY, "short"), 0u);
    EXPECT_EQ(Read(target_), "short");
    // A file too large to be a backup is not held in memory to be rewritten.
    const std::string large(platform::kMaxRewriteBytes + 1, 'L');
    Put(target_, large);
    EXPECT_EQ(asUser(RLIM_INFINITY, "short"), static_cast<std::uint32_t>(EFBIG));
    EXPECT_EQ(Read(target_), large);
    EXPECT_EQ(Names(), Names_{"ostrel.txt"});
}

TEST(Utf8, RoundTripsAndRefusesWhatIsNotUtf8) {
    const std::pair<std::string, std::wstring> valid[] = {
        {"", L""},
        {"ABC-123", L"ABC-123"},
        {"caf\xc3\xa9", L"caf\u00e9"},
        {"\xe4\xb8\xad", L"\u4e2d"},
        // Text is UTF-16 on both systems: an emoji is a surrogate pair, as Windows holds it.
        {"\xf0\x9f\x98\x80", {wchar_t(0xD83D), wchar_t(0xDE00)}},
    };
    for (const auto& [bytes, text] : valid) {
        EXPECT_EQ(stores::FromUtf8(bytes), text) << bytes;
        EXPECT_EQ(stores::ToUtf8(text), bytes) << bytes;
    }
    for (const std::string bad :
         {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\x80", "\xe4\xb8"}) {
        EXPECT_FALSE(stores::FromUtf8(bad)) << bad;
    }
    EXPECT_EQ(stores::ToUtf8(std::wstring{wchar_t(0xD83D), L'x'}), "\xef\xbf\xbdx");
}

TEST(Names, CompareAsWindowsDoesBeforeItsTableIsKnown) {
    const stores::NameFold latin;
    EXPECT_TRUE(latin.Same(u"SOFTWARE", u"software"));
    EXPECT_TRUE(latin.Same(u"J\u00dcRGEN", u"J\u00fcrgen"));
    EXPECT_TRUE(latin.Same(u"\u0178", u"\u00ff"));
    EXPECT_FALSE(latin.Same(u"\u00d7", u"\u00f7")); // the signs, not letters
    EXPECT_FALSE(latin.Same(u"Software", u"Softwar"));
    EXPECT_TRUE(latin.SameFileName("UsrClass.dat", "USRCLASS.DAT"));
    EXPECT_FALSE(latin.SameFileName("caf\xe9", "CAF\xc9")); // not UTF-8: only itself
    // The hash lh lists keep, for names whose upper case every Windows agrees on.
    EXPECT_EQ(stores::AsciiNameHash(u"ab"), 65u * 37 + 66);
    EXPECT_EQ(stores::AsciiNameHash(u"AB"), stores::AsciiNameHash(u"ab"));
    EXPECT_FALSE(stores::AsciiNameHash(u"\u00e9"));

    char pattern[] = "/tmp/ostrel-names.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    fs::create_directory(dir + "/J\xc3\xbcrgen");
    EXPECT_EQ(platform::FindNoCase(dir, "J\xc3\x9cRGEN"), dir + "/J\xc3\xbcrgen");
    EXPECT_FALSE(platform::FindNoCase(dir, "Jurgen"));
    fs::remove_all(dir);
}

TEST(Wow64View, FollowsMicrosoftsTableOfRedirectedAndSharedKeys) {
    const std::pair<std::u16string_view, std::u16string_view> rows[] = {
        {u"SOFTWARE\\Activision\\Call of Duty 4",
         u"SOFTWARE\\Wow6432Node\\Activision\\Call of Duty 4"},
        // Once, right under SOFTWARE: a Wow6432Node deeper down is an ordinary key.
        {u"software\\Wow6432Node\\Activision", u"software\\Wow6432Node\\Activision"},
        {u"SOFTWARE", u"SOFTWARE\\Wow6432Node"},
        {u"SOFTWARE\\Classes\\.txt", u"SOFTWARE\\Classes\\.txt"},
        {u"SOFTWARE\\Classes\\clsid\\{1}", u"SOFTWARE\\Classes\\Wow6432Node\\clsid\\{1}"},
        {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
         u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
        {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
         u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion"},
        {u"SYSTEM\\CurrentControlSet", u"SYSTEM\\CurrentControlSet"},
    };
    const stores::NameFold fold;
    for (const auto& [asked, reached] : rows) {
        const auto names = stores::SplitKeyPath(asked);
        ASSERT_TRUE(names);
        EXPECT_EQ(platform::Wow64View(*names, fold), stores::SplitKeyPath(reached))
            << stores::ToUtf8(asked);
    }
}

} // namespace
