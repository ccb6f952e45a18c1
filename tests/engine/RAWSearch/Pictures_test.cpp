// The picture analysers that are not built on TIFF: the header-sized ones (BMP, ICO/CUR, ICNS, EMF,
// WMF, MRW) and the streaming ones with their fallbacks (PNG, GIF, WPG, PSD, PSP, X3F, CRW); and the
// signature rows of every picture analyser.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "PictureTestSupport.h"
#include "engine/RAWSearch/Analysers/CRWAnalyser.h"
#include "engine/RAWSearch/Analysers/FileTIFAnalyser.h"
#include "engine/RAWSearch/Analysers/GifAnalyser.h"
#include "engine/RAWSearch/Analysers/PNGAnalyser.h"
#include "engine/RAWSearch/Analysers/PSDAnalyser.h"
#include "engine/RAWSearch/Analysers/PSPAnalyser.h"
#include "engine/RAWSearch/Analysers/PictureHeaderAnalysers.h"
#include "engine/RAWSearch/Analysers/PictureTypes.h"
#include "engine/RAWSearch/Analysers/WpgAnalyser.h"
#include "engine/RAWSearch/Analysers/X3FAnalyser.h"
#include "engine/RAWSearch/Core/NotifyCenter.h"
#include "engine/RAWSearch/Core/RawAnalyserLookup.h"
#include "engine/RAWSearch/Core/RawFileAnalyserListSingle.h"
#include "engine/RAWSearch/Core/SignatureTable.h"
#include "support/RecordingProgress.h"

using namespace pictest;

namespace {

Bytes Sector(std::initializer_list<std::pair<size_t, std::string>> parts, size_t size = 512) {
    Bytes b(size, 0);
    for (const auto& [at, text] : parts) memcpy(b.data() + at, text.data(), text.size());
    return b;
}

// Answer and type/size of a header analyser on one sector.
struct HeaderAnswer {
    bool accepted;
    RAW_FILE_TYPE type;
    u64 size;
};
HeaderAnswer Ask(IRawFileAnalyser& analyser, Bytes sector) {
    CRawFileInfo info;
    const bool accepted = analyser.AnalyseBuffer(sector.data(), info) == 1;
    return {accepted, info.m_type, info.m_size};
}

Bytes Ico(u16 type, u32 count, std::function<void(ByteWriter&, size_t)> entry = nullptr) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Le16(2, type);
    w.Le16(4, static_cast<u16>(count));
    for (u32 i = 0; i < std::min(count, 20u) && 6 + (i + 1) * 16 <= 512; ++i) {
        const size_t at = 6 + i * 16;
        w.U8(at, 16);
        w.U8(at + 1, 16);
        w.Le16(at + 6, 32);
        w.Le32(at + 8, 1000);
        w.Le32(at + 12, 6 + count * 16 + i * 1000);
        if (entry) entry(w, at);
    }
    return b;
}

Bytes Placeable(u32 words, bool goodChecksum) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Bytes(0, "\xD7\xCD\xC6\x9A\x00\x00", 6);
    w.Le16(6, 0);
    w.Le16(10, 1000);
    w.Le16(12, 800);
    w.Le16(14, 1440);
    u16 x = 0;
    for (size_t i = 0; i < 10; ++i) x ^= *ByteReader(b).Le16(2 * i);
    w.Le16(20, goodChecksum ? x : static_cast<u16>(x ^ 1));
    w.Bytes(22, "\x01\x00\x09\x00\x00\x03", 6);
    w.Le32(28, words);
    return b;
}

Bytes Plain(u32 words, u16 noParameters = 0) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Bytes(0, "\x01\x00\x09\x00\x00\x03", 6);
    w.Le32(6, words);
    w.Le16(16, noParameters);
    return b;
}

Bytes Mrw(u32 offset, u16 height, u16 width, u8 bits) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Bytes(0, "\0MRM", 4);
    w.Be32(4, offset);
    w.Be16(24, height);
    w.Be16(26, width);
    w.U8(32, bits);
    return b;
}

Bytes Bmp(u32 size, u32 header, u16 reserved = 0) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Bytes(0, "BM", 2);
    w.Le32(2, size);
    w.Le16(6, reserved);
    w.Le32(14, header);
    return b;
}

Bytes Emf(u32 size, u16 reserved = 0) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Le32(0, 1);
    w.Bytes(40, " EMF", 4);
    w.Le32(48, size);
    w.Le16(58, reserved);
    return b;
}

Bytes Icns(u32 length) {
    Bytes b(512, 0);
    ByteWriter w(b);
    w.Bytes(0, "icns", 4);
    w.Be32(4, length);
    return b;
}

}  // namespace

// Header-sized analysers: what they accept, with which type and size, and what they refuse.
TEST(PictureHeaders, AcceptedAndRefused) {
    FileBMPAnalyser bmp;
    FileICOAnalyser ico;
    FileICNSAnalyser icns;
    FileEMFAnalyser emf;
    FileWMFAnalyser wmf;
    FileMRWAnalyser mrw;
    struct Case {
        const char* name;
        IRawFileAnalyser& analyser;
        Bytes sector;
        HeaderAnswer answer;
    };
    const Case cases[] = {
        {"BMP, 40-byte header", bmp, Bmp(9270, 40), {true, RAW_TYPE_BMP, 9270}},
        {"BMP, 124-byte header", bmp, Bmp(9270, 124), {true, RAW_TYPE_BMP, 9270}},
        {"BMP, 108-byte (version 4) header refused", bmp, Bmp(9270, 108), {false, 0, 0}},
        {"BMP, reserved word set", bmp, Bmp(9270, 40, 1), {false, 0, 0}},
        {"ICO, 16 entries", ico, Ico(1, 16), {true, RAW_TYPE_ICO, 6 + 16 * 1016}},
        {"CUR, 2 entries", ico, Ico(2, 2), {true, RAW_TYPE_CUR, 6 + 2 * 1016}},
        {"ICO, 17 entries refused", ico, Ico(1, 17), {false, 0, 0}},
        {"ICO, no entries", ico, Ico(1, 0), {false, 0, 0}},
        {"ICO, type 3", ico, Ico(3, 1), {false, 0, 0}},
        {"ICO, an entry's reserved byte set", ico, Ico(1, 2, [](ByteWriter& w, size_t at) { w.U8(at + 3, 1); }),
         {false, 0, 0}},
        {"ICO, 257 bits", ico, Ico(1, 1, [](ByteWriter& w, size_t at) { w.Le16(at + 6, 257); }), {false, 0, 0}},
        {"ICO, an image past 0xA00000 bytes", ico,
         Ico(1, 1, [](ByteWriter& w, size_t at) { w.Le32(at + 8, 0xA00001); }), {false, 0, 0}},
        {"ICO, a file past 1 MiB", ico, Ico(1, 2, [](ByteWriter& w, size_t at) { w.Le32(at + 8, 0x90000); }),
         {false, 0, 0}},
        {"ICNS", icns, Icns(1608), {true, RAW_TYPE_ICNS, 1608}},
        {"ICNS, length 0", icns, Icns(0), {false, 0, 0}},
        {"ICNS, past 0xA66666", icns, Icns(0xA66667), {false, 0, 0}},
        {"EMF", emf, Emf(3560), {true, RAW_TYPE_EMF, 3560}},
        {"EMF, size 0", emf, Emf(0), {false, 0, 0}},
        {"EMF, reserved word set", emf, Emf(3560, 1), {false, 0, 0}},
        {"EMF, no signature", emf, Sector({{0, "\x01"}}), {false, 0, 0}},
        {"WMF, plain", wmf, Plain(2529), {true, RAW_TYPE_WMF, 5058}},
        {"WMF, plain with parameters", wmf, Plain(2529, 1), {false, 0, 0}},
        {"WMF, placeable", wmf, Placeable(2529, true), {true, RAW_TYPE_WMF, 5080}},
        {"WMF, placeable with a wrong checksum", wmf, Placeable(2529, false), {false, 0, 0}},
        {"WMF, a size just below 2^32", wmf, Plain(0x7FFFFFFF), {true, RAW_TYPE_WMF, 0xFFFFFFFEULL}},
        {"WMF, a size of 2^32 (wrapping 32 bits) refused", wmf, Plain(0x80000000), {false, 0, 0}},
        {"WMF, placeable past 2^32", wmf, Placeable(0x7FFFFFFF, true), {false, 0, 0}},
        {"MRW", mrw, Mrw(100, 32, 48, 12), {true, RAW_TYPE_MRW, 8 + 100 + 2304}},
        {"MRW, a size past 2^32 refused", mrw, Mrw(0xFFFFFF00, 0xFFFF, 0xFFFF, 16), {false, 0, 0}},
        {"MRW, no bits per sample: the header only", mrw, Mrw(100, 32, 48, 0), {true, RAW_TYPE_MRW, 108}},
    };
    for (const Case& c : cases) {
        const HeaderAnswer a = Ask(c.analyser, c.sector);
        EXPECT_EQ(a.accepted, c.answer.accepted) << c.name;
        if (!c.answer.accepted) continue;
        EXPECT_EQ(a.type, c.answer.type) << c.name;
        EXPECT_EQ(a.size, c.answer.size) << c.name;
    }
}

namespace {

// A GIF of `length` bytes: header, no colour table, a comment whose second sub-block is 59 bytes long
// (the trailer's code) and the trailer.
Bytes Gif(size_t length) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 8, 0, 8, 0, 0, 0, 0};
    // Room for the whole file up front (never shorter than 82 bytes); this also keeps GCC 12 from a
    // false -Warray-bounds report on the inserts below.
    b.reserve(std::max<size_t>(length, 82));
    const unsigned char comment[] = {0x21, 0xFE, 4, 'G', 'I', 'F', '!', 59};
    b.insert(b.end(), comment, comment + sizeof(comment));
    b.insert(b.end(), 59, 'c');
    while (b.size() + 2 < length) {
        const size_t n = std::min<size_t>(255, length - b.size() - 3);
        b.push_back(static_cast<unsigned char>(n));
        b.insert(b.end(), n, 'c');
    }
    b.push_back(0);
    b.push_back(';');
    return b;
}

Bytes Png(const std::vector<std::pair<std::string, u32>>& chunks) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const std::string& type, u32 length) {
        const size_t at = b.size();
        b.resize(at + 12 + length, 0x5A);
        ByteWriter(b).Be32(at, length);
        memcpy(b.data() + at + 4, type.data(), 4);
    };
    chunk("IHDR", 13);
    ByteWriter(b).Be32(16, 64);
    ByteWriter(b).Be32(20, 48);
    for (const auto& [type, length] : chunks) chunk(type, length);
    chunk("IEND", 0);
    return b;
}

Bytes Psp(const std::vector<u32>& blocks) {
    Bytes b(36, 0);
    memcpy(b.data(), "Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32);
    for (u32 length : blocks) {
        const size_t at = b.size();
        b.resize(at + 10 + length, 0x42);
        memcpy(b.data() + at, "~BK\0", 4);
        ByteWriter(b).Le32(at + 6, length);
    }
    return b;
}

Bytes Psd(u32 colour, u32 resources, u32 layers, size_t data) {
    Bytes b(26, 0);
    memcpy(b.data(), "8BPS\x00\x01", 6);
    auto section = [&](u32 length, size_t extra) {
        const size_t at = b.size();
        b.resize(at + 4 + length + extra, 0x31);
        ByteWriter(b).Be32(at, length);
    };
    section(colour, 0);
    section(resources, 0);
    section(layers, 2);
    b.resize(b.size() + data, 0x77);
    return b;
}

// An X3F of `length` bytes whose directory ("SECd") starts at `directory`.
Bytes X3f(size_t length, size_t directory) {
    Bytes b(length, 0x61);
    memcpy(b.data(), "FOVb", 4);
    memcpy(b.data() + directory, "SECd", 4);
    return b;
}

// A CRW of `length` bytes whose end record (07 28 and the length) starts at `record`.
Bytes Crw(size_t length, size_t record, u8 kind = 0xA8) {
    Bytes b(length, 0x2B);
    memcpy(b.data(), "II\x1A\x00\x00\x00HEAPCCDR\x02\x00\x01\x00", 18);
    const unsigned char end[6] = {0x07, 0x28, kind, 0, 0, 0};
    memcpy(b.data() + record, end, sizeof(end));
    return b;
}

}  // namespace

// The streaming analysers: the end each finds, its name, and what they give the fallback.
TEST(PictureStreams, EndsAndNames) {
    struct Case {
        const char* name;
        std::function<IRawFileAnalyser*()> make;
        Bytes file;
        long long start;
        u64 size;
        std::string fileName;
    };
    const Bytes png = Png({{"IDAT", 3000}, {"tEXt", 40}});
    const Bytes psd = Psd(0, 700, 2000, 3000);
    const Case cases[] = {
        {"PNG: after IEND", [] { return new RawSpeed::PNGAnalyser(); }, png, 3, png.size(),
         "3-" + std::to_string(3 + png.size() / 512) + "_"},
        {"GIF of 700 bytes: ends with its trailer; a 59-byte sub-block is no trailer",
         [] { return new BruteForce::CGifAnalyser(); }, Gif(700), 0, 700, ""},
        {"GIF of 5000 bytes", [] { return new BruteForce::CGifAnalyser(); }, Gif(5000), 2, 5000, ""},
        {"PSD: the first sector past the image data's start that ends in zeros",
         [] { return new RawSpeed::PSDAnalyser(); }, psd, 1, psd.size(),
         "1-" + std::to_string(1 + psd.size() / 512)},
        {"PSP: the first position without a block", [] { return new RawSpeed::PSPAnalyser(); },
         Psp({46, 2000, 700}), 0, 36 + 56 + 2010 + 710, "0-5."},
        {"X3F: 76 bytes past SECd", [] { return new Brance::X3FAnalyser(); }, X3f(5000, 4924), 0, 5000, "0-9_"},
        {"X3F: SECd across the sector boundary, from the half sector before",
         [] { return new Brance::X3FAnalyser(); }, X3f(5200 - 2 + 76, 5118), 0, 5118 + 76, "0-10_"},
        {"X3F: SECd as the sector's last word runs on into the next sector",
         [] { return new Brance::X3FAnalyser(); }, X3f(5116 + 76, 5116), 0, 5116 + 76, "0-9_"},
        {"CRW: the end record 40 bytes before a sector boundary, found from the next sector (look-back)",
         [] { return new Brance::CRWAnalyser(); }, Crw(820 * 512 + 30, 820 * 512 - 40), 0, 820 * 512 + 30,
         "0-820_"},
        {"CRW: the end record within the sector", [] { return new Brance::CRWAnalyser(); },
         Crw(820 * 512 + 200, 820 * 512 + 130), 0, 820 * 512 + 200, "0-820_"},
        {"CRW: a 178-byte record followed by data ends 10 bytes further",
         [] { return new Brance::CRWAnalyser(); }, Crw(820 * 512 + 200, 820 * 512 + 130, 0xB2), 0,
         820 * 512 + 200, "0-820_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<IRawFileAnalyser> analyser(c.make());
        const FeedResult r = Carve(*analyser, Placed(c.file, c.start, c.start + c.file.size() / 512 + 40), c.start);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.size, c.size);
        EXPECT_EQ(r.name, c.fileName);
    }
}

// A WPG ends in the first sector ending in 16 zero bytes or more, at the search's estimate of its data.
TEST(PictureStreams, WpgEndsWhereItsDataRunsIntoZeros) {
    Bytes file(1200, 0x3C);
    memcpy(file.data(), "wpg\0", 4);
    file[600] = 0;  // zeros inside the data, at no sector's end
    RawSpeed::WpgAnalyser wpg;
    const FeedResult r = Carve(wpg, Placed(file, 0, 10));
    EXPECT_EQ(r.sector, 2);
    EXPECT_EQ(r.size, 1024u + 176u) << "the 176 bytes of the last sector (estimate + 1: 177 would be past)";
    EXPECT_EQ(r.name, "0-2.");
    // Given up, it has no fallback.
    RawSpeed::WPGRawFileInfo record;
    record.m_analyser = &wpg;
    record.WillBeRemove(nullptr, -1);
    EXPECT_EQ(record.m_analyser, nullptr);
}

// The caps of the streaming records, reached by a call at the capped sector.
TEST(PictureStreams, Caps) {
    Bytes sector(512, 0x61);
    CRawFileInfo::SearchContext ctx;
    {
        Brance::X3FRawFileInfo x3f(nullptr);
        ctx.bufferStartSector = 204800;
        ctx.blockEndSector = 204801;
        EXPECT_EQ(x3f.CalcRawSize(sector.data(), 512, 204800, ctx), RAW_SIZE_FINISHED);
        EXPECT_EQ(x3f.m_size, 0x6400000u) << "no SECd within the cap: the cap";
        EXPECT_EQ(x3f.GetRawFileName(), "0-204800_");
    }
    {
        Brance::CRWRawFileInfo crw(nullptr);
        EXPECT_EQ(crw.CalcRawSize(sector.data(), 512, 204800, ctx), RAW_SIZE_FINISHED);
        EXPECT_EQ(crw.m_size, 0x6400000u);
        Brance::CRWRawFileInfo early(nullptr);
        ctx.trailingZeroBytes = 32;
        ctx.bufferStartSector = 700;
        ctx.blockEndSector = 701;
        Bytes record = Crw(512, 100);
        EXPECT_EQ(early.CalcRawSize(record.data(), 512, 700, ctx), RAW_SIZE_CONTINUE) << "below 409,600 bytes";
    }
    {
        RawSpeed::PNGRawFileInfo png(nullptr);
        ctx.bufferStartSector = 195313;
        ctx.blockEndSector = 195314;
        EXPECT_EQ(png.CalcRawSize(sector.data(), 512, 195313, ctx), RAW_SIZE_FINISHED);
        EXPECT_EQ(png.m_size, 0u) << "past 100,000,000 bytes: to the fallback";
    }
}

// The device fallbacks of the streaming analysers.
TEST(PictureFallbacks, DeviceRules) {
    {
        SCOPED_TRACE("PNG: the chunks on the device; a header without IHDR is refused");
        const Bytes png = Png({{"IDAT", 70000}});
        FilePNGAnalyser fallback;
        const FeedResult r = Measure(fallback, Placed(png, 1, 200), 1);
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.size, png.size());
        Bytes broken = png;
        memcpy(broken.data() + 12, "IHDX", 4);
        EXPECT_FALSE(Measure(fallback, Placed(broken, 1, 200), 1).finished);
        Bytes huge = Png({});
        ByteWriter(huge).Be32(33, 0x1400001);  // the IEND chunk's length
        EXPECT_EQ(Measure(fallback, Placed(huge, 0, 4)).size, 33u) << "a chunk past the cap ends the walk";
    }
    {
        SCOPED_TRACE("PSP: the blocks on the device; a walk ending below 512 bytes is refused");
        FilePSPAnalyser fallback;
        const FeedResult r = Measure(fallback, Placed(Psp({46, 2000}), 0, 10));
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.size, 36u + 56 + 2010);
        EXPECT_FALSE(Measure(fallback, Placed(Psp({46}), 0, 10)).finished);
    }
    {
        SCOPED_TRACE("PSD: the sections, then the first sector past them that ends in zeros");
        const Bytes psd = Psd(0, 700, 2000, 3000);
        FilePSDAnalyser fallback;
        const FeedResult r = Measure(fallback, Placed(psd, 0, 20));
        EXPECT_TRUE(r.finished);
        EXPECT_EQ(r.size, psd.size());
    }
    {
        SCOPED_TRACE("X3F: with the sector size of the device of each call");
        FileX3FAnalyser fallback;
        for (const unsigned n : {512u, 4096u, 512u}) {
            const Bytes x3f = X3f(9000, 9000 - 76);
            const FeedResult r = Measure(fallback, Placed(x3f, 0, 30, n), 0, n);
            EXPECT_EQ(r.size, 9000u) << n;
            EXPECT_EQ(r.type, RAW_TYPE_X3F);
        }
        const FeedResult lastWord = Measure(fallback, Placed(X3f(5116 + 76, 5116), 0, 20));
        EXPECT_EQ(lastWord.size, 5116u + 76) << "SECd as a sector's last word";
        const FeedResult across = Measure(fallback, Placed(X3f(5118 + 76, 5118), 0, 20));
        EXPECT_EQ(across.size, 5118u + 76) << "SECd across a sector boundary";
        Bytes none(6000, 0x61);
        memcpy(none.data(), "FOVb", 4);
        // None: to the end of what can be read (the reading window holds zeros past the device's end).
        EXPECT_EQ(Measure(fallback, Placed(none, 0, 20)).size, 128u * 512);
        CRawFileInfo record;
        EXPECT_FALSE(fallback.GetRawFileSize(record, nullptr));
    }
    {
        SCOPED_TRACE("CRW: the records in sectors ending in zeros; none within the cap gives the cap");
        FileCRWAnalyser fallback;
        EXPECT_EQ(Measure(fallback, Placed(Crw(3000, 2930), 0, 10)).size, 3000u);
        EXPECT_EQ(Measure(fallback, Placed(Crw(3000 - 30, 3000 - 100), 0, 10)).size, 3000u - 30);
        EXPECT_EQ(Measure(fallback, Placed(Crw(1024 + 30, 1024 - 40), 0, 10)).size, 1024u + 30)
            << "across a sector boundary";
        EXPECT_EQ(Measure(fallback, Placed(Bytes(3000, 0x2B), 0, 10)).size, 0x3200000u);
    }
}

// A stopped search ends the device walks of the fallbacks: each reads through a window that asks the
// progress sink before every read, and a walk stops at the first "stop" instead of running on to its cap.
TEST(PictureFallbacks, StopEndsTheDeviceWalk) {
    std::vector<std::pair<std::string, u32>> chunks(300, {"tEXt", 3});
    struct Case {
        const char* name;
        std::function<std::unique_ptr<IRawFileAnalyser>()> make;
        Bytes file;
    };
    const Case cases[] = {
        {"TIF", [] { return std::make_unique<FileTIFAnalyser>(); }, SmallTiff({}, 20000)},
        {"X3F", [] { return std::make_unique<FileX3FAnalyser>(); }, X3f(600, 4)},
        {"CRW", [] { return std::make_unique<FileCRWAnalyser>(); }, Crw(600, 6, 0)},
        {"PSD", [] { return std::make_unique<FilePSDAnalyser>(); }, Psd(0, 700, 2000, 3000)},
        {"PNG", [] { return std::make_unique<FilePNGAnalyser>(); }, Png(chunks)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Past the file, bytes that never end a sector in zeros: the walks run to the device end.
        Bytes image(4096 * 512, 0x2B);
        memcpy(image.data(), c.file.data(), c.file.size());
        testsupport::RecordingProgress running;
        CNotifyCenter::Instance().SetProgress(&running);
        Measure(*c.make(), image);
        testsupport::RecordingProgress stopping;
        stopping.StopAfter(3);
        CNotifyCenter::Instance().SetProgress(&stopping);
        Measure(*c.make(), image);
        CNotifyCenter::Instance().Reset();
        EXPECT_GT(running.ContinuedCalls(), 100) << "the walk is long when not stopped";
        EXPECT_LE(stopping.ContinuedCalls(), 4) << "no read after the stop";
    }
}

// Every signature row of the picture analysers has a factory, and its analyser has the row's type; the
// device builder makes the EMF analyser.
TEST(PictureFactories, EveryRowHasAFactory) {
    const std::set<std::string> ours = {"BruteForce::TiffAnalyzer", "Brance::CRWAnalyser", "Brance::X3FAnalyser",
                                        "BruteForce::CGifAnalyser", "RawSpeed::PNGAnalyser", "RawSpeed::PSDAnalyser",
                                        "RawSpeed::PSPAnalyser",    "RawSpeed::WpgAnalyser", "FileWMFAnalyser",
                                        "FileICOAnalyser",          "FileMRWAnalyser",       "FileICNSAnalyser",
                                        "FileBMPAnalyser",          "FileEMFAnalyser"};
    std::set<std::string> seen;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (ours.count(row.analyser) == 0) continue;
        seen.insert(row.analyser);
        ASSERT_NE(row.create, nullptr) << row.analyser;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        EXPECT_EQ(analyser->GetDefaultType(), row.type) << row.analyser;
    }
    EXPECT_EQ(seen, ours);
    RawAnalyserList list;
    CRawFileAnalyserListSingle::CraetePartRawFileAnalyser(RAW_TYPE_EMF, list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_NE(dynamic_cast<FileEMFAnalyser*>(list.front()), nullptr);
    CRawFileAnalyserListSingle::ClearListContents(list);
}

namespace {

// A list analyser that counts the sectors it is asked about and accepts every one.
class CountingListAnalyser : public IRawFileAnalyser {
public:
    CountingListAnalyser(bool named, int* asked) : IRawFileAnalyser(RAW_TYPE_EMF), m_named(named), m_asked(asked) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo& info) override {
        ++*m_asked;
        info.m_type = RAW_TYPE_EMF;
        return 1;
    }
    bool GetRequiredWord(u32& offset, u32& value) const override {
        offset = 40;
        value = 0x464D4520;
        return m_named;
    }

private:
    bool m_named;
    int* m_asked;
};

}  // namespace

// A list analyser that names the word it needs is asked only about sectors holding it; one that names
// none is asked about every sector no table claims.
TEST(PictureFactories, ListLookupTurnsAwaySectorsWithoutTheNamedWord) {
    for (const bool named : {true, false}) {
        int asked = 0;
        RawAnalyserMap map;
        RawAnalyserMultimap multimap;
        RawAnalyserList list = {new CountingListAnalyser(named, &asked)};
        {
            RawAnalyserLookup lookup(map, multimap, list);
            Bytes plain(512, 0x5A);
            Bytes emf = Sector({{0, "\x01"}, {40, " EMF"}});
            EXPECT_EQ(lookup.MayAccept(plain.data()), !named);
            EXPECT_TRUE(lookup.MayAccept(emf.data()));
            CRawFileInfo info;
            EXPECT_EQ(lookup.Find(plain.data(), info, 512, 0, 0, 1, false) != nullptr, !named);
            EXPECT_NE(lookup.Find(emf.data(), info, 512, 0, 0, 1, false), nullptr);
            EXPECT_EQ(info.m_type, RAW_TYPE_EMF);
            EXPECT_EQ(asked, named ? 1 : 2);
        }
        CRawFileAnalyserListSingle::ClearListContents(list);
    }
}
