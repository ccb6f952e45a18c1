// Time, file and text helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "engine/Common/FileFunctions.h"
#include "engine/Common/SystemTime.h"
#include "engine/Common/TextFunctions.h"
#include "support/TempDir.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(SystemTime, ConverTimeGivesTheLocalFieldsOfAUnixTime) {
    // TZ is UTC in tests. 2021-03-14 01:59:26 was a Sunday.
    _SYSTEMTIME t{};
    t.wMilliseconds = 77;
    ASSERT_EQ(ConverTime(1615687166, &t), 0);
    EXPECT_EQ(t.wYear, 2021);
    EXPECT_EQ(t.wMonth, 3);
    EXPECT_EQ(t.wDayOfWeek, 0);
    EXPECT_EQ(t.wDay, 14);
    EXPECT_EQ(t.wHour, 1);
    EXPECT_EQ(t.wMinute, 59);
    EXPECT_EQ(t.wSecond, 26);
    EXPECT_EQ(t.wMilliseconds, 0);

    ASSERT_EQ(ConverTime(0, &t), 0);
    EXPECT_EQ(t.wYear, 1970);
    EXPECT_EQ(t.wDayOfWeek, 4);
}

TEST(SystemTime, ConverTimeLeavesTheRecordAloneForANegativeTime) {
    _SYSTEMTIME t{};
    t.wYear = 1234;
    EXPECT_EQ(ConverTime(-1, &t), 0);
    EXPECT_EQ(t.wYear, 1234);
    EXPECT_EQ(ConverTime(0, nullptr), -1);
}

TEST(SystemTime, GetLocalTimeMatchesTheClock) {
    EXPECT_EQ(GetLocalTime(nullptr), -1);
    time_t before = time(nullptr);
    _SYSTEMTIME t{};
    ASSERT_EQ(GetLocalTime(&t), 0);
    time_t after = time(nullptr);
    tm expected{};
    gmtime_r(&before, &expected);
    EXPECT_EQ(t.wYear, expected.tm_year + 1900);
    EXPECT_EQ(t.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(t.wDay, expected.tm_mday);
    if (before == after) {
        EXPECT_EQ(t.wSecond, expected.tm_sec);
    }
    EXPECT_LT(t.wMilliseconds, 1000);
}

TEST(SystemTime, GetTickCountHasOneSecondResolution) {
    // Two calls within one second give the same value, which is the seconds times 1000 cut to 32 bits.
    for (int attempt = 0; attempt < 3; ++attempt) {
        time_t before = time(nullptr);
        u32 first = GetTickCount();
        u32 second = GetTickCount();
        if (time(nullptr) != before) continue;
        EXPECT_EQ(first, second);
        EXPECT_EQ(first, static_cast<u32>(static_cast<u64>(before) * 1000u));
        EXPECT_EQ(first % 1000u, static_cast<u32>(static_cast<u64>(before) * 1000u) % 1000u);
        return;
    }
    FAIL() << "the clock kept crossing second boundaries";
}

TEST(FileFunctions, SizesOfSmallLargeMissingAndEmptyFiles) {
    TempDir dir;
    WriteFile(dir / "small", std::string(1234, 'a'));
    WriteFile(dir / "empty", "");
    // A sparse file of 4 GiB + 5 bytes takes no space but wraps the 32-bit size.
    {
        int fd = open((dir / "big").c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, (off_t{1} << 32) + 5), 0);
        close(fd);
    }
    struct Case {
        std::string name;
        u32 size32;
        u64 size64;
    } cases[] = {
        {"small", 1234, 1234},
        {"empty", 0, 0},
        {"missing", 0, 0},
        {"big", 5, (u64{1} << 32) + 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetFileSize((dir / c.name).c_str()), c.size32);
        EXPECT_EQ(GetFileSize64((dir / c.name).c_str()), c.size64);
    }
    EXPECT_EQ(GetFileSize(nullptr), 0u);
    EXPECT_EQ(GetFileSize64(nullptr), 0u);
}

TEST(FileFunctions, CopyFileKeepsDataModeTimesAndAttributes) {
    TempDir dir;
    std::string data;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) data.push_back(static_cast<char>(i * 31 + (i >> 9)));
    auto from = dir / "from.bin";
    auto to = dir / "to.bin";
    WriteFile(from, data);
    ASSERT_EQ(chmod(from.c_str(), 0640), 0);
    bool hasXattr = setxattr(from.c_str(), "user.brelvox", "value", 5, 0) == 0;
    timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, from.c_str(), times, 0), 0);

    ASSERT_EQ(CopyFileA(from.c_str(), to.c_str(), 0), 0);

    // Looked at before reading the copy, which may move its access time.
    struct stat st{};
    ASSERT_EQ(stat(to.c_str(), &st), 0);
    EXPECT_EQ(ReadFile(to), data);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    if (hasXattr) {
        char value[16] = {};
        EXPECT_EQ(getxattr(to.c_str(), "user.brelvox", value, sizeof(value)), 5);
        EXPECT_STREQ(value, "value");
    }
    // No temporary file is left beside the copy.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++entries;
    EXPECT_EQ(entries, 2);
}

TEST(FileFunctions, CopyFileRefusalsLoseNothing) {
    TempDir dir;
    auto file = dir / "file";
    auto other = dir / "other";
    WriteFile(file, "precious");
    WriteFile(other, "kept");

    // Onto itself, directly or through a second name: the data must survive.
    EXPECT_EQ(CopyFileA(file.c_str(), file.c_str(), 0), -1);
    ASSERT_EQ(link(file.c_str(), (dir / "hardlink").c_str()), 0);
    EXPECT_EQ(CopyFileA(file.c_str(), (dir / "hardlink").c_str(), 0), -1);
    EXPECT_EQ(ReadFile(file), "precious");

    // A missing source or a folder as source leaves the destination as it was.
    EXPECT_EQ(CopyFileA((dir / "missing").c_str(), other.c_str(), 0), -1);
    EXPECT_EQ(CopyFileA(dir.path().c_str(), other.c_str(), 0), -1);
    EXPECT_EQ(ReadFile(other), "kept");
    // A destination folder that does not exist.
    EXPECT_EQ(CopyFileA(file.c_str(), (dir / "no" / "such").c_str(), 0), -1);
    EXPECT_EQ(CopyFileA(nullptr, other.c_str(), 0), -1);
    EXPECT_EQ(CopyFileA(file.c_str(), nullptr, 0), -1);

    // An existing destination is replaced whole.
    EXPECT_EQ(CopyFileA(file.c_str(), other.c_str(), 0), 0);
    EXPECT_EQ(ReadFile(other), "precious");
}

TEST(TextFunctions, IsValidStringAcceptsOnlyWellFormedUtf8) {
    struct Case {
        const char* text;
        int valid;
    } cases[] = {
        {"", 1},
        {"plain ascii", 1},
        {"caf\xc3\xa9", 1},                   // é
        {"\xe6\x97\xa5\xe6\x9c\xac", 1},      // two CJK characters
        {"\xf0\x9f\x93\xb7", 1},              // U+1F4F7
        {"\xf4\x8f\xbf\xbf", 1},              // U+10FFFF
        {"caf\xe9", 0},                       // Latin-1 é
        {"\xc3", 0},                          // cut before its continuation
        {"\xe6\x97", 0},                      // cut three-byte form
        {"\xc0\xaf", 0},                      // overlong '/'
        {"\xe0\x80\xaf", 0},                  // overlong '/'
        {"\xed\xa0\x80", 0},                  // surrogate
        {"\xf4\x90\x80\x80", 0},              // above U+10FFFF
        {"\xf8\x88\x80\x80\x80", 0},          // five-byte form
        {"\x80", 0},                          // lone continuation
        {"ok\xff", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isValidString(c.text) != 0, c.valid != 0);
    }
    EXPECT_EQ(isValidString(nullptr), 0);
}

}  // namespace
