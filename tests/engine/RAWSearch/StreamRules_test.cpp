// The constants of the stream-walking analysers' rules as one table; files found through the real
// tables at their start sector, typed and sized; the gates that keep a followed stream from starting
// another file are lifted when the followed guess is given up, so later starts and a second search
// find the same files.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <memory>

#include "OfficeTestSupport.h"
#include "StreamMediaBuilders.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"

using namespace officetest;
using namespace streamtest;
using rawtest::MemoryDevice;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The size the device analyser gives a file planted at sector 4, random bytes after it.
std::string FromDevice(IRawFileAnalyser& analyser, const Bytes& file) {
    const Bytes both = Cat(file, Random(4096, 11));
    MemoryDevice device(Place({{4, both}}, 4 + both.size() / 512 + 8), 512);
    CRawFileInfo info;
    info.m_startSector = 4;
    if (!analyser.GetRawFileSize(info, &device)) return "refused " + std::to_string(info.m_size);
    return std::to_string(info.m_size) + " " + RawFileExtension(info.m_type);
}

// What a special analyser's start test gives at sector 100 with the block ending blockEnd sectors on.
int StartEx(ISpecialRawFileAnalyser& analyser, Bytes sector, long long blockEnd = 64) {
    sector.resize(std::max<size_t>(sector.size(), static_cast<size_t>(blockEnd) * 512 + 4096), 0);
    CRawFileInfo info;
    return analyser.AnalyseBufferEx(sector.data(), info, 512, 100, 36, 100 + blockEnd);
}

int MpgStart(Brance::MPGAnalyser& mpg, Bytes sector, long long sectorNumber) {
    CRawFileInfo info;
    sector.resize(std::max<size_t>(sector.size(), 512), 0);
    return mpg.AnalyseBufferEx(sector.data(), info, 512, sectorNumber, 0, sectorNumber + 64);
}

// An old-style Monkey's Audio file (before 3980): no flags, two channels, a seek table of four
// entries at 32 (the first, 48, where the table ends), the largest at lastFrame; total bytes of it.
Bytes ApeOld(u16 version, u32 lastFrame, size_t total) {
    Bytes f = Random(total, 81);
    for (unsigned char& b : f) b |= 1;
    ByteWriter w(f.data(), f.size());
    memcpy(f.data(), "MAC ", 4);
    w.Le16(4, version);
    w.Le16(6, 2000);
    w.Le16(8, 0);
    w.Le16(10, 2);
    w.Le32(12, 44100);
    w.Le32(16, 0);
    w.Le32(20, 0);
    w.Le32(24, 4);
    w.Le32(28, 100);
    w.Le32(32, 48);
    w.Le32(36, 1000);
    w.Le32(40, lastFrame);
    w.Le32(44, 2000);
    return f;
}

Bytes ApeFooter(u32 tagSize, u32 items, u32 flags) {
    Bytes f;
    Put(f, "APETAGEX", 8);
    PutLe(f, 2000, 4);
    PutLe(f, tagSize, 4);
    PutLe(f, items, 4);
    PutLe(f, flags, 4);
    Put(f, Bytes(8, 0));
    return f;
}

}  // namespace

TEST(StreamRules, ConstantsOfTheNotes) {
    Brance::FLVAnalyser flv;
    FileFLVAnalyser flvDevice;
    Brance::MPGAnalyser mpg;
    FileMPGAnalyser mpgDevice;
    Brance::OGGAnalyser ogg;
    CFileOggAnalyser oggDevice;
    Brance::RM_RMVBAnalyser rm;
    FileRM_RMVBAnalyser rmDevice;
    RawSpeed::MxfAnalyser mxf;
    BruteForce::CAsfAnalyser asf;
    BruteForce::CM2TSAnalyser ts;
    BruteForce::CADTSAnalyser adts;
    BruteForce::CAPEAnalyser ape;
    std::string name;
    const Bytes flvFile = Flv({{9, 100}, {8, 50}, {18, 30}});
    const Bytes mpgFile = Mpg(30, 1000);
    Bytes mpgSystemCut = Mpg(3, 1000, true);
    mpgSystemCut[24] = 0x55;
    Bytes mpg1480 = Mpg(1, 100);
    memcpy(mpg1480.data() + 4, "\x44\x00\x14\x80", 4);
    const Bytes otherStream = Bytes(asf_layout::kHeader, asf_layout::kHeader + 16);  // any other GUID
    struct Row {
        const char* constant;
        std::function<std::string()> actual;
        std::string expected;
    };
    const std::vector<Row> rows = {
        // Flash video: tags chained by their previous-tag sizes; the last one belongs to the file.
        {"FLV of three tags", [&] { return WhileReading(flv, Cat(flvFile, Bytes(16, 0)), &name); }, "238 FLV"},
        {"  ... named by its first and last sector", [&] { return name; }, "4-4_"},
        {"FLV whose first previous-tag size is not 0: dropped", [&] { return WhileReading(flv, Flv({{9, 100}}, 5)); },
         "0 FLV"},
        {"FLV version 2: dropped", [&] { Bytes f = flvFile; f[3] = 2; return WhileReading(flv, f); }, "0 FLV"},
        {"FLV chain broken before the third tag: ends after it",
         [&] { return WhileReading(flv, Flv({{9, 100}, {8, 50}, {18, 30}}, 0, 2)); }, "234 FLV"},
        {"FLV from the device", [&] { return FromDevice(flvDevice, Cat(flvFile, Bytes(16, 0))); }, "238 FLV"},
        {"FLV tag types 8, 9, 18, 7",
         [&] {
             return std::to_string(Brance::FLVAnalyser::GetFlvTagType(8)) + " " +
                    std::to_string(Brance::FLVAnalyser::GetFlvTagType(9)) + " " +
                    std::to_string(Brance::FLVAnalyser::GetFlvTagType(18)) + " " +
                    std::to_string(Brance::FLVAnalyser::GetFlvTagType(7));
         },
         "2 4 8 16"},
        // MPEG program streams.
        {"MPG pack bytes 44 00 14 80 are no listed start", [&] { return WhileReading(mpg, mpg1480); }, "refused"},
        {"MPG starts 20 sectors apart refused, 21 accepted",
         [&] {
             mpg.ResetFollowState();
             const int at100 = MpgStart(mpg, mpgFile, 100);
             const int at120 = MpgStart(mpg, mpgFile, 120);
             const int at121 = MpgStart(mpg, mpgFile, 121);
             return std::to_string(at100) + std::to_string(at120) + std::to_string(at121);
         },
         "101"},
        {"  ... when the file started there ends, a start 20 sectors on is accepted",
         [&] {
             std::unique_ptr<CRawFileInfo> record(mpg.CreateRawFileInfo());
             record->m_startSector = 121;
             Drive(*record, Place({{121, mpgFile}}, 121 + 80));
             return std::to_string(MpgStart(mpg, mpgFile, 141));
         },
         "1"},
        {"  ... a search start forgets the previous start",
         [&] {
             mpg.ResetFollowState();
             return std::to_string(MpgStart(mpg, mpgFile, 142));
         },
         "1"},
        {"MPG ends with its end code while read",
         [&] { return WhileReading(mpg, mpgFile, &name); }, "30544 MPG"},
        {"  ... and from the device, whatever follows the end code",
         [&] { return FromDevice(mpgDevice, Cat(mpgFile, Mpg(1, 10))); }, "30544 MPG"},
        {"MPG without end code ended by zeros while read: at the run's first byte",
         [&] { return WhileReading(mpg, Bytes(mpgFile.begin(), mpgFile.end() - 4)); }, "30540 MPG"},
        {"MPG without end code followed by other data: its last packet kept",
         [&] { return WhileReading(mpg, Cat(Bytes(mpgFile.begin(), mpgFile.end() - 4), Text("other data"))); },
         "30540 MPG"},
        {"  ... from the device", [&] { return FromDevice(mpgDevice, Bytes(mpgFile.begin(), mpgFile.end() - 4)); },
         "30540 MPG"},
        {"MPG with a system header", [&] { return WhileReading(mpg, Mpg(3, 1000, true)); }, "3070 MPG"},
        {"MPG system header followed by no start code below 102400 bytes: dropped",
         [&] { return WhileReading(mpg, mpgSystemCut); }, "0 MPG"},
        {"100 zero bytes end a stream measured from the device at the run's first byte",
         [&] { return FromDevice(mpgDevice, Cat(Cat(Bytes(mpgFile.begin(), mpgFile.end() - 4), Bytes(100, 0)), Mpg(1, 10))); },
         "30540 MPG"},
        {"  ... 99 zero bytes do not",
         [&] {
             return FromDevice(mpgDevice,
                               Cat(Cat(Bytes(mpgFile.begin(), mpgFile.end() - 4), Bytes(99, 0)), Cat(Mpg(1, 10), Bytes(200, 0))));
         },
         std::to_string(30540 + 99 + 32) + " MPG"},
        // Ogg.
        {"Ogg pages walked", [&] { return WhileReading(ogg, Ogg({{255, 255, 10}, {100}, {0x30, 0x30}}), &name); },
         "803 OGG"},
        {"  ... named by its first and last sector", [&] { return name; }, "4-5_"},
        {"Ogg page of no segment ends the file", [&] { return WhileReading(ogg, Ogg({{100}, {}, {100}})); }, "128 OGG"},
        {"Ogg from the device", [&] { return FromDevice(oggDevice, Ogg({{255, 255, 10}, {100}, {0x30, 0x30}})); },
         "803 OGG"},
        // RealMedia.
        {"RM data packets walked, the data chunk's size unset, its 8 closing zero bytes kept, no index",
         [&] {
             Bytes f = Rm("Audio Stream", 8, false);  // its data chunk: the header alone
             f.resize(f.size() - 8);
             Put(f, "DATA", 4);
             PutBe(f, 18, 4);
             Put(f, Bytes(10, 0));
             for (int k = 0; k < 12; ++k) {
                 PutBe(f, 0, 2);
                 PutBe(f, 300, 2);
                 Bytes body = Random(296, 40 + k);
                 for (unsigned char& b : body) b |= 0x80;
                 Put(f, body);
             }
             Put(f, Bytes(8, 0));
             Bytes after = Random(900, 7);
             for (unsigned char& b : after) b |= 0x80;
             return WhileReading(rm, Cat(f, after)) + " of " + std::to_string(f.size());
         },
         "3746 RM of 3746"},
        {"RM chunks walked", [&] { return WhileReading(rm, Rm("Audio Stream", 3000, false), &name); }, "3120 RM"},
        {"  ... named by its first and last sector", [&] { return name; }, "4-10_"},
        {"RMVB: its end record in a sector ending in zeros", [&] { return WhileReading(rm, Rm("Video Stream", 3000, true)); },
         "3140 RMVB"},
        {"RMVB: its end record across two sectors", [&] { return WhileReading(rm, Rm("Video Stream", 3454, true)); },
         "3594 RMVB"},
        {"RM from the device", [&] { return FromDevice(rmDevice, Rm("Audio Stream", 3000, false)); }, "3120 RM"},
        {"RMVB from the device", [&] { return FromDevice(rmDevice, Cat(Rm("Video Stream", 3000, true), Bytes(600, 0))); }, "3140 RMVB"},
        {"RMVB followed by other data, its end record not in a sector's last 32 bytes: not found",
         [&] { return FromDevice(rmDevice, Rm("Video Stream", 3000, true)); }, "refused 0"},
        // MXF: KLV packets of every BER length form.
        {"MXF packets of 4-, 3-, 2-byte and short BER lengths",
         [&] { return WhileReading(mxf, Mxf({{3, 1000}, {2, 300}, {1, 100}, {0, 50}}), &name); }, "1632 MXF"},
        {"  ... named by its first and last sector", [&] { return name; }, "4-7_"},
        {"MXF partition of minor version 3 (as current writers make it) is a start",
         [&] { return WhileReading(mxf, Mxf({{3, 10}}, 3)); }, std::to_string(108 + 20 + 10) + " MXF"},
        {"MXF body partition (its offset not 0) is no start",
         [&] {
             Bytes body = Mxf({{3, 10}}, 3);
             body[33] = 0x01;  // ThisPartition 65536
             return WhileReading(mxf, body);
         },
         "refused"},
        {"MXF partition of minor version 4 is no start", [&] { return WhileReading(mxf, Mxf({{3, 10}}, 4)); },
         "refused"},
        // ASF typing.
        {"ASF of one video and one audio stream: WMV",
         [&] { return WhileReading(asf, Asf({asf_layout::kVideoMedia, asf_layout::kAudioMedia}, 1000)); }, "1346 WMV"},
        {"ASF of two video streams: WMA",
         [&] { return WhileReading(asf, Asf({asf_layout::kVideoMedia, asf_layout::kVideoMedia}, 1000)); }, "1346 WMA"},
        {"ASF of one audio stream: WMA", [&] { return WhileReading(asf, Asf({asf_layout::kAudioMedia}, 1000)); },
         "1268 WMA"},
        {"ASF of a video and another stream: ASF",
         [&] { return WhileReading(asf, Asf({asf_layout::kVideoMedia, otherStream.data()}, 1000)); }, "1346 ASF"},
        {"ASF without an index", [&] { return WhileReading(asf, Asf({asf_layout::kAudioMedia}, 1000, false)); },
         "1212 WMA"},
        // Transport streams: the 20,480-byte floor.
        {"188-byte packets, 109 of them", [&] { return WhileReading(ts, Ts(109, 188)); }, "20492 M2TS"},
        {"188-byte packets, 108 of them (20,304 bytes): dropped", [&] { return WhileReading(ts, Ts(108, 188)); },
         "0 M2TS"},
        {"192-byte packets, 107 of them", [&] { return WhileReading(ts, Ts(107, 192)); }, "20544 M2TS"},
        {"192-byte packets, 106 of them: dropped", [&] { return WhileReading(ts, Ts(106, 192)); }, "0 M2TS"},
        {"a first packet of flags 01 is no start",
         [&] { Bytes f = Ts(109, 188); f[1] = 0x01; return WhileReading(ts, f); }, "refused"},
        {"stuffing at 8 is no start",
         [&] { Bytes f = Ts(109, 188); memset(f.data() + 8, 0xFF, 8); return WhileReading(ts, f); }, "refused"},
        // ADTS.
        {"ADTS frames of 3000 bytes walked by their 13-bit length",
         [&] { return WhileReading(adts, Adts({3000, 3000, 3000, 3000, 3000, 3000})); }, "18000 AAC"},
        {"ADTS frames of 2047 bytes", [&] { return WhileReading(adts, Adts({2047, 2047, 2047, 2047, 2047})); },
         "10235 AAC"},
        {"ADTS followed by no zeros: dropped",
         [&] { return WhileReading(adts, Cat(Adts({400, 400, 400, 400, 400}), Random(700, 3))); }, "0 AAC"},
        {"ADTS start: five good frames", [&] { return std::to_string(StartEx(adts, Adts({300, 300, 300, 300, 300}))); },
         "1"},
        {"ADTS start: a bad second frame", [&] { return std::to_string(StartEx(adts, Cat(Adts({300}), Bytes(600, 0)))); },
         "0"},
        {"ADTS start: the block ends after one good frame",
         [&] {
             const int start = StartEx(adts, Adts({300, 300}), 1);
             return std::to_string(start) + (adts.Overflow() ? " raised" : " low");
         },
         "1 raised"},
        {"  ... its record of four frames is dropped, and the flag went with it",
         [&] {
             std::unique_ptr<CRawFileInfo> record(adts.CreateRawFileInfo());
             record->m_startSector = 4;
             const i64 end = Drive(*record, Place({{4, Adts({300, 300, 300, 300})}}, 20));
             return std::to_string(end) + " " + std::to_string(record->m_size) + (adts.Overflow() ? " raised" : " low");
         },
         "6 0 low"},
        // Monkey's Audio.
        {"APE 3990: the descriptor's size", [&] { return WhileReading(ape, ApeNew(3990, 4000)); }, "4092 APE"},
        {"APE 3990 with a tag: still the descriptor's size", [&] { return WhileReading(ape, ApeNew(3990, 4000, 2, 16, 100)); },
         "4092 APE"},
        {"APE 3990 within its first sector, no tag: the data less the zeros, aligned, + one block",
         [&] { return WhileReading(ape, ApeNew(3990, 200)); }, "484 APE"},
        {"APE 3990 within its first sector with a tag: descriptor + tag, aligned, + one block",
         [&] { return WhileReading(ape, ApeNew(3990, 200, 2, 16, 20)); }, "380 APE"},
        {"APE of three channels: dropped", [&] { return WhileReading(ape, ApeNew(3990, 4000, 3)); }, "0 APE"},
        {"APE version 999: dropped", [&] { return WhileReading(ape, ApeNew(999, 4000)); }, "0 APE"},
        {"APE 3970: read to its last frame, then the tail", [&] { return WhileReading(ape, ApeOld(3970, 3000, 3500)); },
         "3556 APE"},
        {"APE 3970 with a tag footer: ends after it",
         [&] { return WhileReading(ape, Cat(ApeOld(3970, 3000, 3500), ApeFooter(100, 2, 0))); }, "3532 APE"},
        {"APE tag footer, header present but this is no header: 32",
         [&] { return std::to_string(BruteForce::CAPERawFileInfo::tagSize(ByteReader(ApeFooter(100, 2, 0x80000000u)))); },
         "32"},
        {"APE tag footer, header present and is-header: size + 32",
         [&] { return std::to_string(BruteForce::CAPERawFileInfo::tagSize(ByteReader(ApeFooter(100, 2, 0xA0000000u)))); },
         "132"},
        {"APE tag of 65536 items: none",
         [&] { return std::to_string(BruteForce::CAPERawFileInfo::tagSize(ByteReader(ApeFooter(100, 65536, 0)))); }, "0"},
        {"APE tag of 16777249 bytes: none",
         [&] { return std::to_string(BruteForce::CAPERawFileInfo::tagSize(ByteReader(ApeFooter(16777249, 2, 0)))); },
         "0"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.actual(), row.expected) << row.constant;
}

TEST(StreamRules, FoundThroughTheTablesAtTheirStart) {
    struct Row {
        const char* what;
        Bytes file;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"FLV", Cat(Flv({{9, 3000}, {8, 500}, {9, 2000}}), Bytes(16, 0)), "5558 FLV"},
        {"MPG", Mpg(12, 1000), std::to_string(12 * 1018 + 4) + " MPG"},
        {"Ogg", Ogg({{255, 255, 255, 255}, {255, 100}, {20}}), std::to_string(27 + 4 + 1020 + 27 + 2 + 355 + 27 + 1 + 20) + " OGG"},
        {"RM", Rm("Audio Stream", 5000, false), "5120 RM"},
        {"RMVB", Rm("Video Stream", 5000, true), "5140 RMVB"},
        {"MXF", Mxf({{3, 3000}, {2, 300}, {0, 100}}), std::to_string(108 + 3020 + 319 + 117) + " MXF"},
        {"WMV", Asf({asf_layout::kVideoMedia, asf_layout::kAudioMedia}, 4000), "4346 WMV"},
        {"M2TS 188", Ts(130, 188), std::to_string(130 * 188) + " M2TS"},
        {"M2TS 192", Ts(130, 192), std::to_string(130 * 192) + " M2TS"},
        {"ADTS", Adts({700, 700, 2500, 700, 700, 700}), "6000 AAC"},
        {"APE", ApeNew(3990, 6000), "6092 APE"},
    };
    for (const Row& row : rows) {
        size_t listed = 0;
        EXPECT_EQ(CarvedAt4(row.file, &listed), row.expected) << row.what;
        EXPECT_EQ(listed, 1u) << row.what;
    }
}

// A followed Ogg stream or transport stream given up mid-stream (32 newer guesses evict it) lifts its
// gate: a later stream of the same kind is found, and a second search finds the same files.
TEST(StreamRules, EvictedStreamsDoNotBlockLaterStarts) {
    // Long streams: Ogg pages of 65 KiB, or a transport stream of 400 packets.
    std::vector<std::vector<u8>> pages(4, std::vector<u8>(255, 255));
    const Bytes oggA = Ogg(pages);
    const Bytes oggB = Ogg({{255, 255, 30}, {40}});
    const Bytes tsA = Ts(400, 188);
    const Bytes tsB = Ts(120, 192);
    // A Magic Lantern head whose second block ends far away: a guess that stays open.
    Bytes open(512, 0);
    memcpy(open.data(), "MLVI", 4);
    ByteWriter(open.data(), open.size()).Le32(4, 52);
    memcpy(open.data() + 52, "RAWI", 4);
    ByteWriter(open.data(), open.size()).Le32(56, 0x10000000);
    for (const auto& [what, first, second] : {std::tuple{"Ogg", oggA, oggB}, std::tuple{"M2TS", tsA, tsB}}) {
        std::vector<std::pair<size_t, Bytes>> plan = {{4, first}};
        // 32 open guesses inside the Ogg stream's first page body, away from its page headers.
        for (i64 k = 0; k < 32 && std::string(what) == "Ogg"; ++k) plan.push_back({static_cast<size_t>(10 + 3 * k), open});
        const i64 secondAt = 4 + static_cast<i64>(first.size() / 512) + 20;
        plan.push_back({static_cast<size_t>(secondAt), second});
        Bytes image = Place(plan, secondAt + static_cast<i64>(second.size() / 512) + 40);
        if (std::string(what) == "M2TS") {
            // The open guesses sit in the transport stream's payloads, which its walk never reads:
            // heads at sectors whose start falls inside a packet's 184 payload bytes after 4 bytes.
            int placed = 0;
            for (i64 s = 5; placed < 32 && s < 4 + static_cast<i64>(tsA.size() / 512) - 1; ++s) {
                const u64 at = static_cast<u64>(s - 4) * 512;
                const u64 inPacket = at % 188;
                if (inPacket < 4 || inPacket + 64 > 188) continue;
                memcpy(image.data() + s * 512, open.data(), 64 - 4);
                ++placed;
            }
            ASSERT_EQ(placed, 32);
        }
        std::vector<std::string> listings;
        for (int search = 0; search < 2; ++search) {
            rawtest::RecordingTreeBuilder builder;
            const auto files = Carve(image, builder);
            const rawtest::Received* a = FileAt(files, 4);
            const rawtest::Received* b = FileAt(files, secondAt);
            ASSERT_NE(b, nullptr) << what << " search " << search;
            EXPECT_EQ(b->size, second.size()) << what;
            std::string listing;
            for (const auto& f : files) listing += f.name + ":" + std::to_string(f.size) + " ";
            listings.push_back(listing);
            if (std::string(what) == "Ogg") {
                ASSERT_NE(a, nullptr) << what;
            }
        }
        EXPECT_EQ(listings[0], listings[1]) << what;
    }
}
