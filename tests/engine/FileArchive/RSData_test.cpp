#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/FileArchive/CRC.h"
#include "engine/FileArchive/RSData.h"
#include "support/TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const tagGUIDSIGN kTagA{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
const tagGUIDSIGN kTagB{{0xB0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

// Runs fn and answers the archive error code it threw, 0 when it threw nothing.
u32 CodeOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const CRSException& e) {
        return e.GetErrorcode();
    }
    return 0;
}

void WriteHeader(CRSData& rs, FileStatus status, const char* description = "") {
    FILEHEADER h;
    h.status = status;
    h.descriptionLength = static_cast<u32>(std::min<size_t>(std::strlen(description), 100));
    std::memcpy(h.description, description, h.descriptionLength);
    ASSERT_TRUE(rs.WriteFileHeader(h));
}

// A file with a header (status 1) and the given frames.
void MakeArchive(const std::string& path, const std::vector<std::pair<tagGUIDSIGN, std::string>>& frames) {
    CRSData rs(RS_MODE_WRITE);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
    WriteHeader(rs, 1);
    for (const auto& [tag, data] : frames) {
        ASSERT_TRUE(rs.OpenFrame(tag));
        if (!data.empty()) {
            ASSERT_TRUE(rs.WriteCurFrame(data.data(), static_cast<u32>(data.size())));
        }
        ASSERT_TRUE(rs.CloseFrame());
    }
    ASSERT_TRUE(rs.EndRS());
}

void PutU32At(std::string& bytes, size_t offset, u32 v) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(v >> (8 * i));
}

// Recomputes the header CRC of a file image after a field was changed on purpose.
void FixCrc(std::string& bytes) {
    PutU32At(bytes, 20, 0);
    PutU32At(bytes, 20, CCRC::RunCRC16(bytes.data(), 132, 0x8005));
}

// Write replacements for the failure cases.
ssize_t FailingWrite(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}
ssize_t HalfWrite(int fd, const void* data, size_t length) {
    if (length <= 1) return 0;
    return ::write(fd, data, length / 2);
}
ssize_t SwallowingWrite(int, const void*, size_t length) {
    return static_cast<ssize_t>(length);
}

struct WriteHook {
    explicit WriteHook(CStdFile::WriteFunction fn) { CStdFile::SetWriteFunctionForTesting(fn); }
    ~WriteHook() { CStdFile::SetWriteFunctionForTesting(nullptr); }
};

TEST(CCRC, CheckValuesAndEmptyInput) {
    EXPECT_EQ(CCRC::RunCRC16("123456789", 9, 0x8005), 0xFEE8);
    EXPECT_EQ(CCRC::RunCRC16("123456789", 0, 0x8005), 0);
    // The 32-bit variant of the same scheme (initial 0, no final XOR).
    EXPECT_EQ(CCRC::RunCRC32("123456789", 9, 0x04C11DB7), 0x89A1897Fu);
}

TEST(RSData, HeaderRoundTripAndEveryTamperedByteFails) {
    TempDir dir;
    const std::string path = (dir / "a.rsf").string();
    {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
        WriteHeader(rs, 2, "abc");
        rs.EndRS();
    }
    const std::string good = ReadFile(path);
    ASSERT_EQ(good.size(), 132u);
    EXPECT_EQ(static_cast<u8>(good[22]), 0);  // high half of the CRC field
    EXPECT_EQ(static_cast<u8>(good[23]), 0);
    {
        CRSData rs(RS_MODE_READ);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        FILEHEADER h;
        ASSERT_TRUE(rs.ReadFileHeader(h));
        EXPECT_EQ(h.version, 5800u);
        EXPECT_EQ(h.status, 2u);
        EXPECT_EQ(std::string(h.description, h.descriptionLength), "abc");
        EXPECT_EQ(rs.GetStatus(), 2u);
        char text[16];
        ASSERT_TRUE(rs.GetFileDescription(text, sizeof text));
        EXPECT_STREQ(text, "abc");
    }
    for (size_t offset = 0; offset < 132; ++offset) {
        std::string bad = good;
        bad[offset] = static_cast<char>(bad[offset] ^ 0x01);
        WriteFile(path, bad);
        CRSData rs(RS_MODE_READ);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        FILEHEADER h;
        EXPECT_FALSE(rs.ReadFileHeader(h)) << "byte " << offset;
    }
}

TEST(RSData, CheckFileAcceptsStatusOneToFourWhateverTheCrc) {
    TempDir dir;
    const std::string path = (dir / "s.rsf").string();
    MakeArchive(path, {});
    const std::string good = ReadFile(path);
    for (u32 status : {0u, 1u, 2u, 3u, 4u, 5u, 0xFFFFFFFFu}) {
        std::string bytes = good;
        PutU32At(bytes, 24, status);  // CRC left stale on purpose
        WriteFile(path, bytes);
        CRSData rs(RS_MODE_READ);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        EXPECT_EQ(rs.CheckFile(), status >= 1 && status <= 4) << status;
    }
}

TEST(RSData, DescriptionIsCutTo100AndReadIntoSmallBuffers) {
    TempDir dir;
    const std::string path = (dir / "d.rsf").string();
    const std::string longText(150, 'x');
    {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
        EXPECT_FALSE(rs.SetFileDescription("no header yet"));
        ASSERT_TRUE(rs.SetStatus(1));
        ASSERT_TRUE(rs.SetFileDescription(longText.c_str()));
        rs.EndRS();
    }
    CRSData rs(RS_MODE_READ);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    char big[200];
    ASSERT_TRUE(rs.GetFileDescription(big, sizeof big));
    EXPECT_EQ(std::string(big), std::string(100, 'x'));
    char small[10];
    ASSERT_TRUE(rs.GetFileDescription(small, sizeof small));
    EXPECT_EQ(std::string(small), std::string(9, 'x'));
    EXPECT_FALSE(rs.GetFileDescription(nullptr, 10));
    EXPECT_FALSE(rs.GetFileDescription(small, 0));
}

TEST(RSData, FrameSizesAndSearch) {
    TempDir dir;
    const std::string path = (dir / "f.rsf").string();
    MakeArchive(path, {{kTagA, "0123456789"}, {kTagB, ""}});
    EXPECT_EQ(ReadFile(path).size(), 132u + 46u + 36u);

    CRSData rs(RS_MODE_READ);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    ASSERT_TRUE(rs.OpenFrame(kTagB));
    EXPECT_EQ(rs.GetFrameSize(), 0u);
    ASSERT_TRUE(rs.OpenFrame(kTagA));
    EXPECT_EQ(rs.GetFrameSize(), 10u);
    char buf[16] = {};
    std::memset(buf, '#', sizeof buf);
    EXPECT_TRUE(rs.ReadCurFrame(buf, 16));
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(buf[10], '#') << "bytes beyond the frame stay untouched";
    EXPECT_TRUE(rs.ReadCurFrame(buf, 16));  // lenient: nothing left, still true
    EXPECT_EQ(buf[0], '0');
    EXPECT_EQ(CodeOf([&] { rs.OpenFrame(_frDiskDevice); }), 7u);
}

TEST(RSData, ExactReadRefusesMoreThanTheFrameHolds) {
    TempDir dir;
    const std::string path = (dir / "e.rsf").string();
    MakeArchive(path, {{kTagA, "0123456789"}});
    CRSData rs(RS_MODE_READ);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    ASSERT_TRUE(rs.OpenFrame(kTagA));
    char buf[16] = {};
    EXPECT_TRUE(rs.ReadCurFrameExact(buf, 4));
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(CodeOf([&] { rs.ReadCurFrameExact(buf, 7); }), 5u);
    // The refused read consumed nothing: the remaining six bytes are still there.
    EXPECT_TRUE(rs.ReadCurFrameExact(buf, 6));
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_EQ(CodeOf([&] { rs.ReadCurFrameExact(buf, 1); }), 5u);
}

TEST(RSData, MisuseCodes) {
    TempDir dir;
    const std::string path = (dir / "m.rsf").string();
    MakeArchive(path, {{kTagA, "abc"}});
    CRSData reader(RS_MODE_READ);
    ASSERT_TRUE(reader.StartRS(path.c_str(), 0));
    char buf[4];
    struct Case {
        const char* what;
        std::function<void()> call;
        u32 code;
    };
    CRSData writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.StartRS((dir / "w.rsf").string().c_str(), 1));
    const std::vector<Case> cases = {
        {"write in read mode", [&] { reader.OpenFrame(kTagA), reader.WriteCurFrame("x", 1); }, 3},
        {"status set in read mode", [&] { reader.SetStatus(1); }, 3},
        {"description set in read mode", [&] { reader.SetFileDescription("x"); }, 3},
        {"frame size without frame", [&] { reader.CloseFrame(), reader.GetFrameSize(); }, 8},
        {"read without frame", [&] { reader.ReadCurFrame(buf, 1); }, 8},
        {"absent tag", [&] { reader.OpenFrame(kTagB); }, 7},
        {"read in write mode", [&] { writer.OpenFrame(kTagA), writer.ReadCurFrame(buf, 1); }, 3},
        {"status asked in write mode", [&] { writer.GetStatus(); }, 3},
        {"description asked in write mode", [&] { writer.GetFileDescription(buf, 4); }, 3},
        {"write without frame", [&] { writer.CloseFrame(), writer.WriteCurFrame("x", 1); }, 8},
    };
    for (const auto& c : cases) EXPECT_EQ(CodeOf(c.call), c.code) << c.what;
    // After a throw the object is usable again.
    ASSERT_TRUE(reader.OpenFrame(kTagA));
    EXPECT_EQ(reader.GetFrameSize(), 3u);
}

TEST(RSData, StartRSRefusesMissingFolderAndEmptyPath) {
    TempDir dir;
    CRSData rs(RS_MODE_WRITE);
    EXPECT_FALSE(rs.StartRS((dir / "no/such/folder/x.rsf").string().c_str(), 1));
    EXPECT_FALSE(rs.StartRS("", 1));
    EXPECT_FALSE(rs.StartRS(nullptr, 1));
    CRSData reader(RS_MODE_READ);
    EXPECT_FALSE(reader.StartRS((dir / "absent.rsf").string().c_str(), 0));
}

TEST(RSData, AppendModeKeepsEarlierFrames) {
    TempDir dir;
    const std::string path = (dir / "p.rsf").string();
    MakeArchive(path, {{kTagA, "first"}});
    {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        ASSERT_TRUE(rs.OpenFrame(kTagB));
        ASSERT_TRUE(rs.WriteCurFrame("second", 6));
        ASSERT_TRUE(rs.CloseFrame());
        rs.EndRS();
    }
    CRSData rs(RS_MODE_READ);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    char buf[8] = {};
    ASSERT_TRUE(rs.OpenFrame(kTagA));
    rs.ReadCurFrameExact(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "first");
    ASSERT_TRUE(rs.OpenFrame(kTagB));
    rs.ReadCurFrameExact(buf, 6);
    EXPECT_EQ(std::string(buf, 6), "second");
}

// Every corruption ends with a clear answer, quickly, without a large allocation.
TEST(RSData, CorruptFilesTable) {
    TempDir dir;
    const std::string path = (dir / "c.rsf").string();
    MakeArchive(path, {{kTagA, "0123456789"}, {kTagB, "xyz"}});
    const std::string good = ReadFile(path);
    const size_t frameA = 132, frameB = 132 + 46;

    struct Case {
        const char* what;
        std::function<void(std::string&)> damage;
        bool headerOk;  // ReadFileHeader answers true
        u32 openBCode;  // code thrown by OpenFrame(kTagB); 0 when it opens
    };
    const std::vector<Case> cases = {
        {"bad signature",
         [](std::string& b) {
             b[3] ^= 0x40;
             FixCrc(b);
         },
         false, 0},
        {"bad version",
         [](std::string& b) {
             PutU32At(b, 16, 5801);
             FixCrc(b);
         },
         false, 0},
        {"bad crc", [](std::string& b) { b[21] ^= 0x01; }, false, 0},
        {"header cut", [](std::string& b) { b.resize(100); }, false, 7},
        {"absurd size of an earlier frame", [&](std::string& b) { PutU32At(b, frameA + 32, 0xFFFFFFFF); }, true, 7},
        {"frame header cut", [&](std::string& b) { b.resize(frameB + 20); }, true, 7},
        {"frame data cut", [&](std::string& b) { b.resize(frameB + 36 + 1); }, true, 5},
        {"absurd size of the frame", [&](std::string& b) { PutU32At(b, frameB + 32, 0xFFFFFFF0); }, true, 5},
        {"frame magic damaged", [&](std::string& b) { b[frameB] ^= 0x01; }, true, 7},
    };
    for (const auto& c : cases) {
        std::string bytes = good;
        c.damage(bytes);
        WriteFile(path, bytes);
        const auto start = std::chrono::steady_clock::now();
        CRSData rs(RS_MODE_READ);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        FILEHEADER h;
        EXPECT_EQ(rs.ReadFileHeader(h), c.headerOk) << c.what;
        EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kTagB); }), c.openBCode) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
}

TEST(RSData, HeaderFieldsOutOfRangeAreCodeTwo) {
    TempDir dir;
    const std::string path = (dir / "r.rsf").string();
    MakeArchive(path, {});
    std::string bytes = ReadFile(path);
    PutU32At(bytes, 24, 5);
    PutU32At(bytes, 28, 200);
    FixCrc(bytes);
    WriteFile(path, bytes);
    CRSData rs(RS_MODE_READ);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    EXPECT_EQ(CodeOf([&] { rs.GetStatus(); }), 2u);
    char buf[8];
    EXPECT_EQ(CodeOf([&] { rs.GetFileDescription(buf, sizeof buf); }), 2u);
}

TEST(RSData, FailedOrShortWritesThrowSix) {
    TempDir dir;
    for (CStdFile::WriteFunction fn : {&FailingWrite, &HalfWrite}) {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS((dir / "x.rsf").string().c_str(), 1));
        WriteHeader(rs, 1);
        ASSERT_TRUE(rs.OpenFrame(kTagA));
        WriteHook hook(fn);
        EXPECT_EQ(CodeOf([&] { rs.WriteCurFrame("0123456789", 10); }), 6u);
        EXPECT_EQ(CodeOf([&] { rs.CloseFrame(); }), 6u);
        EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kTagB); }), 6u);
        FILEHEADER h;
        EXPECT_FALSE(rs.WriteFileHeader(h));
    }
}

TEST(RSData, FileSizeLimitMakesTheWriteFail) {
    TempDir dir;
    CRSData rs(RS_MODE_WRITE);
    ASSERT_TRUE(rs.StartRS((dir / "l.rsf").string().c_str(), 1));
    WriteHeader(rs, 1);
    ASSERT_TRUE(rs.OpenFrame(kTagA));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string data(4000, 'd');
    const u32 code = CodeOf([&] { rs.WriteCurFrame(data.data(), static_cast<u32>(data.size())); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(code, 6u);
}

TEST(RSData, FramesNeverPassWhatThirtyTwoBitsHold) {
    TempDir dir;
    {
        // A frame may not grow to 4 GiB: the size is refused before anything is written.
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS((dir / "g.rsf").string().c_str(), 1));
        WriteHeader(rs, 1);
        ASSERT_TRUE(rs.OpenFrame(kTagA));
        char byte = 0;
        WriteHook hook(&SwallowingWrite);  // pretends to write; the data is never read
        ASSERT_TRUE(rs.WriteCurFrame(&byte, 0x80000000u));
        EXPECT_EQ(CodeOf([&] { rs.WriteCurFrame(&byte, 0x80000000u); }), 9u);
        EXPECT_EQ(rs.GetFrameSize(), 0x80000000u);
    }
    {
        // A frame may not start past 4 GiB (a sparse file stands in for a large save).
        const std::string path = (dir / "big.rsf").string();
        MakeArchive(path, {});
        ASSERT_EQ(truncate(path.c_str(), 0x100000010LL), 0);
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kTagA); }), 9u);
    }
}

TEST(CStdFile, NewFilesFollowTheUmask) {
    TempDir dir;
    const mode_t old = umask(027);
    {
        CRSData rs(RS_MODE_WRITE);
        ASSERT_TRUE(rs.StartRS((dir / "u.rsf").string().c_str(), 1));
    }
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir / "u.rsf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(CStdFile, LinesAndPositions) {
    TempDir dir;
    const std::string path = (dir / "t.txt").string();
    CStdFile file;
    EXPECT_FALSE(file.Open(path.c_str(), 5));
    ASSERT_TRUE(file.Open(path.c_str(), CStdFile::ModeCreateTruncate));
    EXPECT_TRUE(file.WriteLine("one", 3));
    EXPECT_FALSE(file.WriteLine("two\r\n", 5));  // already terminated: nothing appended
    EXPECT_TRUE(file.WriteLine("", 0));
    EXPECT_FALSE(file.Seek(0));
    EXPECT_TRUE(file.SeekToBegin());
    char line[8];
    EXPECT_EQ(file.ReadLine(line, 7), 5);
    EXPECT_STREQ(line, "one\r\n");
    EXPECT_EQ(file.ReadLine(line, 3), 3);  // cut at the size asked
    EXPECT_STREQ(line, "two");
    i64 length = 0;
    ASSERT_TRUE(file.GetFileLength(&length));
    EXPECT_EQ(length, 10);
    EXPECT_EQ(file.SeekToEnd(), 10);
    EXPECT_EQ(file.ReadLine(line, 7), 0);
}

}  // namespace
