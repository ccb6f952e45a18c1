// The found-file record, the extension table, name cleaning, the reading window, the end-signature
// search and the zero-run end.
#include <gtest/gtest.h>

#include <cstring>

#include "RawTestSupport.h"
#include "engine/RAWSearch/Analysers/EPSAnalyser.h"
#include "engine/RAWSearch/Core/RawFileBuffer.h"
#include "engine/RAWSearch/Core/RawFileInfo.h"
#include "engine/RAWSearch/Core/ZeroEndRawFileInfo.h"

using rawtest::MemoryDevice;

TEST(RawFileTypes, TableHas148RowsWithTheirCase) {
    struct Row {
        RAW_FILE_TYPE type;
        const char* ext;
    } rows[] = {{0, "Raw"},   {1, "3DS"},      {35, "JPG"},    {43, "MP3"},    {86, "RAW"},  {112, "NUMBERS"},
                {115, "FCPEVENT"}, {119, "pkg"}, {122, "icns"}, {146, "MLV"}, {147, "SQLITE"}, {148, ""}, {1999, ""}, {2000, ""}};
    for (const Row& r : rows) EXPECT_EQ(RawFileExtension(r.type), r.ext) << r.type;
    int filled = 0;
    for (u32 t = 0; t < kRawFileTypeRows; ++t) filled += g_s_strFileExtName[t][0] != 0 ? 1 : 0;
    EXPECT_EQ(filled, 148);
}

TEST(RawFileInfo, NameCleaning) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"a/b:c  ", "a_b_c"},
        {"  lead", "  lead"},
        {"x\\y?z\"<>|*", "x_y_z_____"},
        {"line\r\nbreak\x01", "line__break_"},
        {"   ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(CleanRawFileName(c.in), c.out) << c.in;
    CRawFileInfo info;
    info.SetRawFileName("Trip/2011 ");
    EXPECT_EQ(info.GetRawFileName(), "Trip_2011");
    info.SetRawFileTagAndValue(RAW_TAG_CAMERA, "A:B");
    RAW_FILE_TAG kind;
    std::string value;
    info.GetRawFileTagAndValue(kind, value);
    EXPECT_EQ(kind, RAW_TAG_CAMERA);
    EXPECT_EQ(value, "A_B");
    EXPECT_EQ(CRawFileInfo().m_analyserType, 0xFFFFu);
}

TEST(Apimemstr, Table) {
    unsigned char data[] = "xxabcabd";
    const unsigned char pat[] = "abd";
    EXPECT_EQ(Apimemstr(data, 8, pat, 3), data + 5);
    EXPECT_EQ(Apimemstr(data, 7, pat, 3), nullptr);
    EXPECT_EQ(Apimemstr(data, 2, pat, 3), nullptr);
    EXPECT_EQ(Apimemstr(nullptr, 8, pat, 3), nullptr);
    EXPECT_EQ(Apimemstr(data, 8, pat, 0), nullptr);
    EXPECT_EQ(Apimemstr(data, 0, pat, 3), nullptr);
}

namespace {

// A file of `sectors` sectors at sector 1 filled with 'q', the signature placed at byte `at`,
// zero padding from `zeroFrom` of the last sector.
std::vector<unsigned char> SignatureImage(size_t at, const std::string& sig, size_t end) {
    std::vector<unsigned char> bytes(512 * 300, 0);
    for (size_t i = 512; i < 512 + end; ++i) bytes[i] = 'q';
    memcpy(bytes.data() + 512 + at, sig.data(), sig.size());
    return bytes;
}

SearchSignCodeInfo Sign(const std::string& text, u64 max = 0) {
    SearchSignCodeInfo s;
    memcpy(s.sign, text.data(), text.size());
    s.length = static_cast<u32>(text.size());
    s.maxSize = max;
    return s;
}

}  // namespace

TEST(SearchEndSignCode, FindsTheSignatureInsideAndAcrossSectors) {
    struct Case {
        const char* name;
        size_t at;       // where the signature starts in the file
        size_t end;      // bytes of data before the zero padding
        int caseSensitive;
        const char* stored;
        u64 expected;
    } cases[] = {
        {"inside a padded sector", 1000, 1010, 1, "%%EOF", 1005},
        {"lower-case stored, upper asked", 700, 705, 0, "%%eof", 705},
        {"across the boundary into a padded sector", 1022, 1027, 1, "%%EOF", 1027},
        {"at the start of the second window", 128 * 512, 128 * 512 + 5, 1, "%%EOF", 128 * 512 + 5},
    };
    for (const Case& c : cases) {
        MemoryDevice dev(SignatureImage(c.at, c.stored, c.end));
        CRawFileInfo info;
        info.m_startSector = 1;
        SearchSignCodeInfo sign = Sign("%%EOF");
        SearchSignFileAnalyser::SearchEndSignCode(info, &dev, sign, c.caseSensitive);
        EXPECT_EQ(info.m_size, c.expected) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(sign.sign), 5), "%%EOF") << "the caller's signature stays";
    }
}

TEST(SearchEndSignCode, StopsAtTheCapRoundedToSectorsAndAtTheDeviceEnd) {
    std::vector<unsigned char> bytes(512 * 40, 'q');
    MemoryDevice dev(bytes);
    CRawFileInfo info;
    SearchSignFileAnalyser::SearchEndSignCode(info, &dev, Sign("END", 5000), 1);
    EXPECT_EQ(info.m_size, 5120u);
    SearchSignFileAnalyser::SearchEndSignCode(info, &dev, Sign("END", 0), 1);
    EXPECT_EQ(info.m_size, 512u * 40) << "the window cannot be read past the device end";
}

TEST(RawFileBuffer, ReadsWindowsAndCopiesAcrossThem) {
    std::vector<unsigned char> bytes(512 * 300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 512);
    MemoryDevice dev(bytes);
    RawFileBuffer window(&dev, 2);
    unsigned char* p = window.GetRawFileBuffer(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, bytes[1024 + 100]);
    std::vector<unsigned char> out(1000);
    ASSERT_TRUE(window.CopyOut(128 * 512 - 500, out.data(), out.size()));
    EXPECT_EQ(memcmp(out.data(), bytes.data() + 1024 + 128 * 512 - 500, out.size()), 0);
    // Near the device end only what is left is read.
    p = window.GetRawFileBuffer(256 * 512 + 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, bytes[1024 + 256 * 512 + 3]);
    EXPECT_EQ(window.GetRawFileBuffer(400 * 512), nullptr);
    MemoryDevice big(bytes, 8192);
    RawFileBuffer refused(&big, 0);
    EXPECT_EQ(refused.GetRawFileBuffer(0), nullptr) << "sectors above 4096 bytes are refused";
}

TEST(ZeroEndRawFileInfo, SizesFromTheZeroRun) {
    struct Case {
        const char* name;
        int dataBytes;  // non-zero bytes at the start of the sector (with zero gaps when gap)
        bool gap;
        u32 trailing;  // the context's trailing zero bytes
        int result;
        u64 size;
    } cases[] = {
        {"no zeros: whole sector, go on", 512, false, 0, RAW_SIZE_CONTINUE, 512},
        {"fewer than 32 zero bytes: sector minus them", 500, false, 12, RAW_SIZE_FINISHED, 500},
        {"32 zero bytes: last non-zero byte by bisection", 100, false, 32, RAW_SIZE_FINISHED, 100},
        {"zeros inside the data stay", 300, true, 32, RAW_SIZE_FINISHED, 300},
    };
    for (const Case& c : cases) {
        unsigned char sector[512] = {};
        for (int i = 0; i < c.dataBytes; ++i) sector[i] = (c.gap && i > 100 && i < 104) ? 0 : 'x';
        CZeroEndRawFileInfo info(1 << 20, 1);
        CRawFileInfo::SearchContext ctx;
        ctx.trailingZeroBytes = c.trailing;
        EXPECT_EQ(info.CalcRawSize(sector, 512, 0, ctx), c.result) << c.name;
        EXPECT_EQ(info.m_size, c.size) << c.name;
    }
}

TEST(ZeroEndRawFileInfo, CapAndEndPattern) {
    unsigned char sector[512] = {};
    memset(sector, 'x', 200);
    CRawFileInfo::SearchContext ctx;
    ctx.trailingZeroBytes = 32;
    CZeroEndRawFileInfo capped(150, 1);
    EXPECT_EQ(capped.CalcRawSize(sector, 512, 0, ctx), RAW_SIZE_FINISHED);
    EXPECT_EQ(capped.m_size, 150u);

    memcpy(sector + 196, "</x>", 4);
    const unsigned char pattern[] = "</x>";
    CZeroEndRawFileInfo withPattern(1 << 20, 1, pattern, 4);
    EXPECT_EQ(withPattern.CalcRawSize(sector, 512, 0, ctx), RAW_SIZE_FINISHED);
    EXPECT_EQ(withPattern.m_size, 200u);

    unsigned char other[512] = {};
    memset(other, 'y', 50);
    CZeroEndRawFileInfo missing(1 << 20, 1, pattern, 4);
    EXPECT_EQ(missing.CalcRawSize(other, 512, 0, ctx), RAW_SIZE_CONTINUE);
    EXPECT_EQ(missing.m_nextCheck, 512u) << "sectors up to the end of this one are taken whole";
}

TEST(EPSAnalyser, TextAndBinaryForms) {
    BruteForce::CEPSAnalyser eps;
    unsigned char sector[512] = {};
    CRawFileInfo info;
    memcpy(sector, "%!PS-Adobe-3.0 EPSF-3.0", 23);
    ASSERT_EQ(eps.AnalyseBuffer(sector, info), 1);
    EXPECT_EQ(info.m_type, RAW_TYPE_EPS);
    CRawFileInfo* text = eps.CreateRawFileInfo();
    EXPECT_TRUE(text->WhetherImplementGuess());
    delete text;

    memcpy(sector, "%!PS plain", 10);
    EXPECT_EQ(eps.AnalyseBuffer(sector, info), 0);

    const unsigned char binary[] = {0xC5, 0xD0, 0xD3, 0xC6, 30, 0, 0, 0, 100, 0, 0, 0, 130, 0, 0, 0,
                                    200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    memset(sector, 0, sizeof(sector));
    memcpy(sector, binary, sizeof(binary));
    CRawFileInfo b;
    ASSERT_EQ(eps.AnalyseBuffer(sector, b), 1);
    EXPECT_EQ(b.m_size, 330u);
    CRawFileInfo* plain = eps.CreateRawFileInfo();
    EXPECT_FALSE(plain->WhetherImplementGuess());
    delete plain;
}
