// The constants of the audio and video analysers' rules, as one table; files found through the real
// tables and sized exactly; every signature row of these analysers has its factory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Analysers/MIDAnalyser.h"
#include "engine/RAWSearch/Analysers/MLvAnalyser.h"
#include "engine/RAWSearch/Util/RawUtility.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
using rawtest::MemoryDevice;

namespace {

std::string Type(RAW_FILE_TYPE type) { return RawFileExtension(type); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A RIFF file of form type and first chunk, chunk size total - 8, random bytes after the first chunk's tag
// (at least the 16 bytes of the header and the tags).
Bytes Riff(const char* form, const char* chunk, size_t total, unsigned seed = 3) {
    Bytes f = Random(std::max<size_t>(total, 16), seed);
    memcpy(f.data(), "RIFF", 4);
    ByteWriter(f.data(), f.size()).Le32(4, static_cast<u32>(total - 8));
    memcpy(f.data() + 8, form, 4);
    memcpy(f.data() + 12, chunk, 4);
    return f;
}

Bytes Aiff(const char* form, size_t total) {
    Bytes f = Random(total, 5);
    memcpy(f.data(), "FORM", 4);
    ByteWriter(f.data(), f.size()).Be32(4, static_cast<u32>(total - 8));
    memcpy(f.data() + 8, form, 4);
    return f;
}

Bytes Au(u32 headerSize, u32 dataSize) {
    Bytes f(512, 0);
    memcpy(f.data(), ".snd", 4);
    ByteWriter w(f.data(), f.size());
    w.Be32(4, headerSize);
    w.Be32(8, dataSize);
    w.Be32(12, 3);
    w.Be32(16, 8000);
    w.Be32(20, 1);
    return f;
}

Bytes Swf(const char* magic, u8 version, u32 length) {
    Bytes f(512, 0);
    memcpy(f.data(), magic, 3);
    f[3] = version;
    ByteWriter(f.data(), f.size()).Le32(4, length);
    return f;
}

// A Matroska head: the EBML header's size written as the given vint bytes, that many bytes of header
// body, then the Segment ID and its size vint.
Bytes Mkv(const Bytes& headerVint, size_t headerBody, const Bytes& segmentVint, size_t total = 512) {
    Bytes f(std::max<size_t>(total, 4 + headerVint.size() + headerBody + 4 + segmentVint.size()), 0);
    const unsigned char id[4] = {0x1A, 0x45, 0xDF, 0xA3};
    memcpy(f.data(), id, 4);
    size_t at = 4;
    for (unsigned char b : headerVint) f[at++] = b;
    for (size_t i = 0; i < headerBody; ++i) f[at++] = 0x42;
    const unsigned char segment[4] = {0x18, 0x53, 0x80, 0x67};
    memcpy(f.data() + at, segment, 4);
    at += 4;
    for (unsigned char b : segmentVint) f[at++] = b;
    return f;
}

Bytes Itl(u32 size) {
    Bytes f = Random(512, 7);
    memcpy(f.data(), "hdfm", 4);
    ByteWriter(f.data(), f.size()).Be32(8, size);
    return f;
}

// A MIDI file: its header chunk (length, format, tracks) then chunks of the given tags and body lengths,
// then the tail bytes.
Bytes Midi(u32 headerLength, u16 format, u16 tracks, const std::vector<std::pair<std::string, u32>>& chunks,
           const Bytes& tail = {}) {
    Bytes f(14, 0);
    memcpy(f.data(), "MThd", 4);
    ByteWriter w(f.data(), f.size());
    w.Be32(4, headerLength);
    w.Be16(8, format);
    w.Be16(10, tracks);
    w.Be16(12, 96);
    unsigned seed = 40;
    for (const auto& [tag, length] : chunks) {
        Bytes c(8, 0);
        memcpy(c.data(), tag.data(), 4);
        ByteWriter(c.data(), c.size()).Be32(4, length);
        const Bytes body = Random(std::min<u32>(length, 100000), seed++);
        f.insert(f.end(), c.begin(), c.end());
        f.insert(f.end(), body.begin(), body.end());
    }
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

// A Magic Lantern video: blocks of the given types and sizes (the first "MLVI" of 52 bytes, then "RAWI"),
// their bodies random, or zero for "NULL" blocks.
Bytes Mlv(const std::vector<std::pair<std::string, u32>>& blocks, const Bytes& tail = {}) {
    Bytes f;
    unsigned seed = 60;
    for (const auto& [type, size] : blocks) {
        Bytes b = type == "NULL" ? Bytes(size, 0) : Random(size, seed++);
        memcpy(b.data(), type.data(), 4);
        ByteWriter(b.data(), b.size()).Le32(4, size);
        f.insert(f.end(), b.begin(), b.end());
    }
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

// What the start sector gives: "refused", or the type and the size (0 when the device sizes it).
std::string Start(IRawFileAnalyser& analyser, Bytes sector) {
    sector.resize(std::max<size_t>(sector.size(), 512), 0);
    CRawFileInfo info;
    if (analyser.AnalyseBuffer(sector.data(), info) != 1) return "refused";
    return std::to_string(info.m_size) + " " + Type(info.m_type);
}

// The size the device gives a file planted at sector 4, random bytes after it.
std::string FromDevice(IRawFileAnalyser& analyser, const Bytes& file) {
    Bytes both = file;
    const Bytes after = Random(4096, 11);
    both.insert(both.end(), after.begin(), after.end());
    MemoryDevice device(Place({{4, both}}, 4 + both.size() / 512 + 8), 512);
    CRawFileInfo info;
    info.m_startSector = 4;
    if (!analyser.GetRawFileSize(info, &device)) return "refused " + std::to_string(info.m_size);
    return std::to_string(info.m_size);
}

}  // namespace

TEST(AvRules, ConstantsOfTheNotes) {
    FileRIFFAnalyser riff;
    CFileAIFAnalyzer aiff;
    FileAUAnalyser au;
    FileSWFAnalyser swf;
    FileMKVAnalyser mkv;
    FileITLAnalyser itl;
    RawSpeed::MIDAnalyser mid;
    FileMIDAnalyser midDevice;
    std::string midName;
    RawSpeed::MLvAnalyser mlv;
    std::string mlvName;
    Bytes cmx = Riff("CMX1", "cont", 2000);
    memcpy(cmx.data() + 20, "{Corel Binary Meta File}", 24);
    Bytes cmxOtherCase = cmx;
    memcpy(cmxOtherCase.data() + 20, "{corel binary meta file}", 24);
    struct Row {
        const char* constant;
        std::function<std::string()> actual;
        std::string expected;
    };
    const std::vector<Row> rows = {
        // RIFF forms: the first matching pair decides, letters compared without regard to case.
        {"WAVE/fmt ", [&] { return Start(riff, Riff("WAVE", "fmt ", 600)); }, "0 WAV"},
        {"wave/FMT : case does not matter", [&] { return Start(riff, Riff("wave", "FMT ", 600)); }, "0 WAV"},
        {"WAVE with another first chunk is plain RIFF", [&] { return Start(riff, Riff("WAVE", "data", 600)); },
         "0 RIFF"},
        {"AVI /LIST", [&] { return Start(riff, Riff("AVI ", "LIST", 600)); }, "0 AVI"},
        {"ACON/LIST", [&] { return Start(riff, Riff("ACON", "LIST", 600)); }, "0 ANI"},
        {"ACON/anih", [&] { return Start(riff, Riff("ACON", "anih", 600)); }, "0 ANI"},
        {"CMX1 and its title at 20", [&] { return Start(riff, cmx); }, "0 CMX"},
        {"CMX1 with the title in other letters", [&] { return Start(riff, cmxOtherCase); }, "0 RIFF"},
        {"CARC/vrsn", [&] { return Start(riff, Riff("CARC", "vrsn", 600)); }, "0 CLK"},
        {"CSL2/vrsn", [&] { return Start(riff, Riff("CSL2", "vrsn", 600)); }, "0 CSL"},
        {"CDR9/vrsn", [&] { return Start(riff, Riff("CDR9", "vrsn", 600)); }, "0 CDR"},
        {"cdrc/VRSN", [&] { return Start(riff, Riff("cdrc", "VRSN", 600)); }, "0 CDR"},
        {"CDR6 is no listed version", [&] { return Start(riff, Riff("CDR6", "vrsn", 600)); }, "0 RIFF"},
        {"WAV\\0 does not match WAVE", [&] { return Start(riff, Riff(std::string("WAV\0", 4).c_str(), "fmt ", 600)); },
         "0 RIFF"},
        // RIFF size: the chunk size plus the 8-byte header, nothing rounded.
        {"RIFF size: chunk + 8", [&] { return FromDevice(riff, Riff("WAVE", "fmt ", 1000)); }, "1000"},
        {"RIFF chunk size a multiple of 512: the last 8 bytes kept",
         [&] { return FromDevice(riff, Riff("WAVE", "fmt ", 1024 + 8)); }, "1032"},
        {"RIFF chunk size 0", [&] { return FromDevice(riff, Riff("WAVE", "fmt ", 8)); }, "refused 0"},
        {"device no longer holds RIFF there", [&] { return FromDevice(riff, Random(1000, 2)); }, "refused 0"},
        // AIFF.
        {"FORM/AIFF", [&] { return Start(aiff, Aiff("AIFF", 700)); }, "0 AIFF"},
        {"FORM/AIFC", [&] { return Start(aiff, Aiff("AIFC", 700)); }, "0 AIFF"},
        {"FORM/ILBM is no AIFF", [&] { return Start(aiff, Aiff("ILBM", 700)); }, "refused"},
        {"AIFF size: big-endian chunk + 8", [&] { return FromDevice(aiff, Aiff("AIFF", 3333)); }, "3333"},
        {"AIFF head gone from the device", [&] { return FromDevice(aiff, Aiff("ILBM", 3333)); }, "refused 0"},
        // Sun audio.
        {"AU header size 23", [&] { return Start(au, Au(23, 1000)); }, "refused"},
        {"AU header size 24", [&] { return Start(au, Au(24, 1000)); }, "1024 AU"},
        {"AU data size unknown", [&] { return Start(au, Au(32, 0xFFFFFFFF)); }, "refused"},
        {"AU sizes near 2^32 add in 64 bits", [&] { return Start(au, Au(0xFFFFFFF0, 0xFFFFFFF0)); }, "8589934560 AU"},
        // Flash.
        {"FWS version 5", [&] { return Start(swf, Swf("FWS", 5, 5000)); }, "5000 SWF"},
        {"CWS version 5", [&] { return Start(swf, Swf("CWS", 5, 5000)); }, "refused"},
        {"CWS version 6: length + 8", [&] { return Start(swf, Swf("CWS", 6, 5000)); }, "5008 SWF"},
        {"FWS version 32", [&] { return Start(swf, Swf("FWS", 32, 5000)); }, "5000 SWF"},
        {"FWS version 33", [&] { return Start(swf, Swf("FWS", 33, 5000)); }, "refused"},
        {"FWX is no movie", [&] { return Start(swf, Swf("FWX", 5, 5000)); }, "refused"},
        // Matroska: Segment position + 4 + the size vint's length + its value.
        {"EBML vint of 1 byte, Segment size of 1 byte", [&] { return Start(mkv, Mkv({0xA3}, 35, {0x81})); },
         "46 MKV"},
        {"EBML vint of 2 bytes", [&] { return Start(mkv, Mkv({0x40, 0x23}, 35, {0x81})); }, "47 MKV"},
        {"Segment size of 8 bytes",
         [&] { return Start(mkv, Mkv({0xA3}, 35, {0x01, 0, 0, 0, 0x12, 0x34, 0x56, 0x78})); }, "305419948 MKV"},
        {"Segment of 4 GiB and more: the full 64-bit value",
         [&] { return Start(mkv, Mkv({0xA3}, 35, {0x01, 0, 0, 0x01, 0, 0, 0, 0x10})); }, "4294967364 MKV"},
        {"Segment of unknown size (8 bytes)",
         [&] { return Start(mkv, Mkv({0xA3}, 35, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})); }, "refused"},
        {"Segment of unknown size (1 byte)", [&] { return Start(mkv, Mkv({0xA3}, 35, {0xFF})); }, "refused"},
        {"Segment at offset 500", [&] { return Start(mkv, Mkv({0x41, 0xEE}, 494, {0x81})); }, "506 MKV"},
        {"Segment beyond offset 512", [&] { return Start(mkv, Mkv({0x42, 0x00}, 512, {0x81}, 1024)); }, "refused"},
        {"EBML size of first byte 0", [&] { return Start(mkv, Mkv({0x00, 0x23}, 35, {0x81})); }, "refused"},
        {"no Segment ID where the header ends", [&] { return Start(mkv, Mkv({0xA3}, 36, {0x81})); }, "refused"},
        // MIDI: the start test, then the tracks the header counts walked (a chunk that is no track ends
        // the file before them).
        {"MIDI header length 6, format 2, one track", [&] { return Start(mid, Midi(6, 2, 1, {})); }, "0 MID"},
        {"MIDI header length 7", [&] { return Start(mid, Midi(7, 1, 1, {})); }, "refused"},
        {"MIDI format 3", [&] { return Start(mid, Midi(6, 3, 1, {})); }, "refused"},
        {"MIDI of no track", [&] { return Start(mid, Midi(6, 1, 0, {})); }, "refused"},
        {"MThd and two MTrk: ends after the second, exactly",
         [&] { return WhileReading(mid, Midi(6, 1, 2, {{"MTrk", 100}, {"MTrk", 200}}, Text("XXXX")), &midName); },
         "330 MID"},
        {"MThd counting two tracks, a third MTrk after them is not the file's",
         [&] { return WhileReading(mid, Midi(6, 1, 2, {{"MTrk", 100}, {"MTrk", 200}, {"MTrk", 50}})); }, "330 MID"},
        {"MThd counting three tracks, a chunk of another kind after two ends the file",
         [&] { return WhileReading(mid, Midi(6, 1, 3, {{"MTrk", 100}, {"MTrk", 200}}, Text("XXXX"))); }, "330 MID"},
        {"  ... named by its first and last sector", [&] { return midName; }, "4-4_"},
        {"  ... the same from the device",
         [&] { return FromDevice(midDevice, Midi(6, 1, 2, {{"MTrk", 100}, {"MTrk", 200}}, Text("XXXX"))); }, "330"},
        {"tracks across sectors, one tag in other letters",
         [&] { return WhileReading(mid, Midi(6, 1, 3, {{"MTrk", 3000}, {"mtrk", 700}, {"MTrk", 5}}, Text("RIFF"))); },
         "3743 MID"},
        {"  ... from the device",
         [&] { return FromDevice(midDevice, Midi(6, 1, 3, {{"MTrk", 3000}, {"mtrk", 700}, {"MTrk", 5}}, Text("RIFF"))); },
         "3743"},
        {"chunks that end on a sector boundary: no sector added",
         [&] { return WhileReading(mid, Midi(6, 0, 1, {{"MTrk", 1024 - 14 - 8}}, Text("MThd"))); }, "1024 MID"},
        {"a track past the limit ends the file with the offset reached",
         [&] { return WhileReading(mid, Midi(6, 0, 1, {{"MTrk", 20000000}})); }, "20000022 MID"},
        // Magic Lantern video.
        {"MLVI with RAWI at 52", [&] { return Start(mlv, Mlv({{"MLVI", 52}, {"RAWI", 180}})); }, "0 MLV"},
        {"MLVI without RAWI at 52", [&] { return Start(mlv, Mlv({{"MLVI", 52}, {"INFO", 180}})); }, "refused"},
        {"MLV ends at the first unknown block",
         [&] {
             return WhileReading(mlv, Mlv({{"MLVI", 52}, {"RAWI", 180}, {"VIDF", 2000}, {"AUDF", 500}}, Text("JUNKxxxx")),
                                 &mlvName);
         },
         "2732 MLV"},
        {"  ... named by its first and last sector", [&] { return mlvName; }, "4-9_"},
        {"MLV followed by zeros: a block of size 0 ends it",
         [&] { return WhileReading(mlv, Mlv({{"MLVI", 52}, {"RAWI", 180}, {"VIDF", 3000}})); }, "3232 MLV"},
        {"MLV ends where the zeros of an earlier sector holding a block began",
         [&] { return WhileReading(mlv, Mlv({{"MLVI", 52}, {"RAWI", 180}, {"NULL", 1000}}, Text("JUNKxxxx"))); },
         std::to_string(BruteForce::RawUtility::Binary_Compare(
             Mlv({{"MLVI", 52}, {"RAWI", 180}, {"NULL", 1000}}).data(), 512)) + " MLV"},
        // Media library.
        {"hdfm size 0", [&] { return Start(itl, Itl(0)); }, "refused"},
        {"hdfm size at 8, big-endian", [&] { return Start(itl, Itl(0x12345)); }, "74565 ITL"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.actual(), row.expected) << row.constant;
}

TEST(AvRules, FoundThroughTheTablesAndSizedExactly) {
    Bytes au = Au(32, 3000);
    au.resize(3032, 0x55);
    Bytes swf = Swf("FWS", 10, 2100);
    swf.resize(2100, 0x33);
    Bytes mkv = Mkv({0xA3}, 35, {0x82}, 0);
    mkv.resize(mkv.size() + 2, 0x77);
    Bytes itl = Itl(1500);
    itl.resize(1500, 0x21);
    struct Row {
        const char* what;
        Bytes file;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"WAV whose chunk size is a multiple of 512: its last 8 bytes kept", Riff("WAVE", "fmt ", 2048 + 8), "2056 WAV"},
        {"AVI", Riff("AVI ", "LIST", 5001), "5001 AVI"},
        {"other RIFF form", Riff("PAL ", "data", 900), "900 RIFF"},
        {"AIFF", Aiff("AIFF", 4100), "4100 AIFF"},
        {"AU", au, "3032 AU"},
        {"SWF, by its FW key", swf, "2100 SWF"},
        {"MKV: no extra byte", mkv, "47 MKV"},
        {"media library", itl, "1500 ITL"},
    };
    for (const Row& row : rows) {
        size_t listed = 0;
        EXPECT_EQ(CarvedAt4(row.file, &listed), row.expected) << row.what;
        EXPECT_EQ(listed, 1u) << row.what;
    }
}

TEST(AvRules, EveryRowOfTheseAnalysersHasAFactory) {
    const std::set<std::string> names = {"FileRIFFAnalyser", "CFileAIFAnalyzer", "FileAUAnalyser",
                                         "FileSWFAnalyser",  "FileMKVAnalyser",  "FileITLAnalyser",
                                         "RawSpeed::MIDAnalyser", "RawSpeed::MLvAnalyser",
                                         "Brance::FLVAnalyser", "Brance::MPGAnalyser", "Brance::OGGAnalyser",
                                         "Brance::RM_RMVBAnalyser", "RawSpeed::MxfAnalyser", "BruteForce::CAsfAnalyser",
                                         "BruteForce::CM2TSAnalyser", "BruteForce::CADTSAnalyser",
                                         "BruteForce::CAPEAnalyser"};
    int rows = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (names.count(row.analyser) == 0) continue;
        ++rows;
        ASSERT_NE(row.create, nullptr) << row.analyser << " " << row.key;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        EXPECT_EQ(analyser->GetDefaultType(), row.type) << row.analyser;
    }
    EXPECT_EQ(rows, 20);
}
