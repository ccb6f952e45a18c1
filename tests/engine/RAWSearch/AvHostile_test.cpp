// Hostile bytes for the audio and video analysers (run under ASan and UBSan by the test command): sizes
// near 2^32 and 2^64, a Sun audio header size of 23, Matroska Segments beyond offset 512, of unknown
// size or with a size running past the sector, heads that cannot be read from the device; then a
// bounded smoke run of every analyser of the family over random and mutated sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <map>
#include <set>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Analysers/MIDAnalyser.h"
#include "engine/RAWSearch/Analysers/MLvAnalyser.h"
#include "engine/RAWSearch/Analysers/StreamMedia.h"
#include "StreamMediaBuilders.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
using namespace streamtest;
using rawtest::MemoryDevice;

namespace {

Bytes Head(const char* magic, size_t n = 512) {
    Bytes f(n, 0);
    memcpy(f.data(), magic, strlen(magic));
    return f;
}

// "refused", or the size the start gives, then (when the start left it to the device) the size the
// device gives a copy planted at sector 2, with `failing` sectors unreadable. A guessing record is
// driven over the image first; one that never finishes is given up and handed to its device analyser.
std::string Outcome(IRawFileAnalyser& analyser, const Bytes& file, unsigned sectorSize = 512,
                    std::set<i64> failing = {}) {
    Bytes first = file;
    first.resize(std::max<size_t>(first.size(), sectorSize), 0);
    CRawFileInfo info;
    if (analyser.AnalyseBuffer(first.data(), info) != 1) return "refused";
    const Bytes image = Place({{2, file}}, 2 + file.size() / sectorSize + 4, sectorSize);
    std::unique_ptr<CRawFileInfo> record(analyser.CreateRawFileInfo());
    record->m_startSector = 2;
    record->m_type = info.m_type;
    record->m_size = info.m_size;
    record->m_analyser = &analyser;
    if (record->WhetherImplementGuess()) {
        if (Drive(*record, image, sectorSize, 8) >= 0) return "guess " + std::to_string(record->m_size);
        record->WillBeRemove(nullptr, -1);
    } else if (record->m_size != 0) {
        return std::to_string(record->m_size);
    }
    MemoryDevice device(image, sectorSize);
    device.failing = std::move(failing);
    record->m_size = 0;
    const bool ok = record->m_analyser != nullptr && record->m_analyser->GetRawFileSize(*record, &device);
    return std::string(ok ? "device " : "device refused ") + std::to_string(record->m_size);
}

}  // namespace

TEST(AvHostile, HeaderSizedTable) {
    FileRIFFAnalyser riff;
    CFileAIFAnalyzer aiff;
    FileAUAnalyser au;
    FileSWFAnalyser swf;
    FileMKVAnalyser mkv;
    FileITLAnalyser itl;

    Bytes riffMax = Head("RIFFxxxxWAVEfmt ");
    ByteWriter(riffMax.data(), riffMax.size()).Le32(4, 0xFFFFFFFF);
    Bytes riffShort = Head("RIFFxxxxWAVEfmt ");
    ByteWriter(riffShort.data(), riffShort.size()).Le32(4, 3);
    Bytes aiffMax = Head("FORMxxxxAIFF");
    ByteWriter(aiffMax.data(), aiffMax.size()).Be32(4, 0xFFFFFFFF);
    Bytes au23 = Head(".snd");
    ByteWriter(au23.data(), au23.size()).Be32(4, 23);
    Bytes auZero = Head(".snd");
    Bytes swfMax = Head("CWS");
    swfMax[3] = 32;
    ByteWriter(swfMax.data(), swfMax.size()).Le32(4, 0xFFFFFFFF);
    Bytes swfVersionFF = Head("FWS");
    swfVersionFF[3] = 0xFF;
    ByteWriter(swfVersionFF.data(), swfVersionFF.size()).Le32(4, 100);

    const unsigned char ebml[4] = {0x1A, 0x45, 0xDF, 0xA3};
    const unsigned char segment[4] = {0x18, 0x53, 0x80, 0x67};
    // EBML header size of 2^56 - 2: the Segment would lie far beyond the sector.
    Bytes mkvHugeHeader(512, 0);
    memcpy(mkvHugeHeader.data(), ebml, 4);
    mkvHugeHeader[4] = 0x01;
    memset(mkvHugeHeader.data() + 5, 0xFF, 6);
    mkvHugeHeader[11] = 0xFE;
    // A Segment whose size is the largest known value: no wrap.
    Bytes mkvHugeSegment(512, 0);
    memcpy(mkvHugeSegment.data(), ebml, 4);
    mkvHugeSegment[4] = 0x80;
    memcpy(mkvHugeSegment.data() + 5, segment, 4);
    mkvHugeSegment[9] = 0x01;
    memset(mkvHugeSegment.data() + 10, 0xFF, 6);
    mkvHugeSegment[16] = 0xFE;
    // A Segment at 504 whose 8-byte size runs past the sector.
    Bytes mkvCut(512, 0);
    memcpy(mkvCut.data(), ebml, 4);
    mkvCut[4] = 0x41;
    mkvCut[5] = 0xF2;  // 498 bytes of header: the Segment ID at 504
    memcpy(mkvCut.data() + 504, segment, 4);
    mkvCut[508] = 0x01;
    // Only the signature.
    const Bytes mkvBare = Head("\x1A\x45\xDF\xA3");

    RawSpeed::MIDAnalyser mid;
    FileMIDAnalyser midDevice;
    const char midiHeader[] = "MThd\0\0\0\x06\0\0\0\x01\0\x60";
    Bytes midHuge(512, 0);
    memcpy(midHuge.data(), midiHeader, 14);
    memcpy(midHuge.data() + 14, "MTrk", 4);
    ByteWriter(midHuge.data(), midHuge.size()).Be32(18, 0xFFFFFFFF);
    // Empty tracks, one after the other, to the end of the file's last sector.
    Bytes midZeros(1024 + 14 + 8, 0);
    memcpy(midZeros.data(), midiHeader, 14);
    for (size_t at = 14; at + 8 <= midZeros.size(); at += 8) memcpy(midZeros.data() + at, "MTrk", 4);

    RawSpeed::MLvAnalyser mlv;
    Bytes mlvHuge(512, 0);
    memcpy(mlvHuge.data(), "MLVI", 4);
    ByteWriter(mlvHuge.data(), mlvHuge.size()).Le32(4, 52);
    memcpy(mlvHuge.data() + 52, "RAWI\xFF\xFF\xFF\xFF", 8);

    struct Row {
        const char* what;
        IRawFileAnalyser* analyser;
        Bytes file;
        unsigned sectorSize;
        std::set<i64> failing;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"RIFF chunk size 2^32 - 1: + 8 in 64 bits", &riff, riffMax, 512, {}, "device 4294967303"},
        {"RIFF chunk size 3", &riff, riffShort, 512, {}, "device refused 0"},
        {"RIFF head unreadable", &riff, riffMax, 512, {2}, "device refused 0"},
        {"RIFF on 4096-byte sectors", &riff, riffMax, 4096, {}, "device 4294967303"},
        {"AIFF chunk size 2^32 - 1", &aiff, aiffMax, 512, {}, "device 4294967303"},
        {"AIFF head unreadable", &aiff, aiffMax, 512, {2}, "device refused 0"},
        {"AU header size 23", &au, au23, 512, {}, "refused"},
        {"AU header size 0", &au, auZero, 512, {}, "refused"},
        {"SWF length 2^32 - 1 compressed", &swf, swfMax, 512, {}, "4294967303"},
        {"SWF version 255", &swf, swfVersionFF, 512, {}, "refused"},
        {"MKV header size near 2^56", &mkv, mkvHugeHeader, 512, {}, "refused"},
        {"MKV Segment size 2^56 - 2", &mkv, mkvHugeSegment, 512, {}, std::to_string(5 + 4 + 8 + 0x00FFFFFFFFFFFFFEull)},
        {"MKV Segment size past the sector", &mkv, mkvCut, 512, {}, "refused"},
        {"MKV signature alone", &mkv, mkvBare, 512, {}, "refused"},
        {"ITL only its magic", &itl, Head("hdfm"), 512, {}, "refused"},
        {"MIDI track length 2^32 - 1: past the limit, no wrap", &mid, midHuge, 512, {}, "guess 4294967317"},
        {"MIDI given up: the device walks it (bounded), no wrap", &midDevice, midHuge, 512, {},
         "device 4294967317"},
        {"MIDI head unreadable on the device", &midDevice, midHuge, 512, {2}, "device refused 0"},
        {"MLV block size 2^32 - 1: past the limit, no wrap", &mlv, mlvHuge, 512, {}, "guess 4294967347"},
        {"MIDI track length 0: its one track is 8 bytes", &mid, midZeros, 512, {}, "guess 22"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Outcome(*row.analyser, row.file, row.sectorSize, row.failing), row.expected) << row.what;
    }
}

TEST(AvHostile, RandomAndMutatedSectorsSmoke) {
    const std::set<std::string> names = {"FileRIFFAnalyser", "CFileAIFAnalyzer", "FileAUAnalyser",
                                         "FileSWFAnalyser",  "FileMKVAnalyser",  "FileITLAnalyser",
                                         "RawSpeed::MIDAnalyser", "RawSpeed::MLvAnalyser",
                                         "Brance::FLVAnalyser", "Brance::MPGAnalyser", "Brance::OGGAnalyser",
                                         "Brance::RM_RMVBAnalyser", "RawSpeed::MxfAnalyser", "BruteForce::CAsfAnalyser",
                                         "BruteForce::CM2TSAnalyser", "BruteForce::CADTSAnalyser",
                                         "BruteForce::CAPEAnalyser"};
    // Plausible heads of the stream formats, mutated below.
    const std::map<std::string, Bytes> heads = {
        {"FL", Flv({{9, 40}, {8, 7}, {18, 0}, {9, 300}})},
        {std::string("\x00\x00\x01\xBA", 4), Mpg(3, 200, true)},
        {std::string("\x00\x00\x01\xB3", 4), Mpg(3, 60)},
        {"OggS", Ogg({{200, 3}, {255, 255, 1}, {9}})},
        {".RMF", Rm("Video Stream", 700, true)},
        {std::string("\x06\x0E\x2B\x34", 4), Mxf({{3, 100}, {1, 30}, {0, 5}, {2, 700}})},
        {std::string("\x30\x26\xB2\x75", 4), Asf({asf_layout::kVideoMedia, asf_layout::kAudioMedia}, 300)},
        {"", Ts(12, 188)},
        {"\xFF\xF1", Adts({200, 2100, 300, 7, 400})},
        {"\xFF\xF9", Adts({9, 9, 9, 9, 9, 9})},
        {"MAC ", ApeNew(3990, 900, 2, 16, 40)},
    };
    std::mt19937 rng(23);
    int exercised = 0;
    for (const RawSignatureRow& row : RawSignatureRows()) {
        if (names.count(row.analyser) == 0 || row.create == nullptr) continue;
        std::unique_ptr<IRawFileAnalyser> analyser(row.create());
        for (int round = 0; round < 64; ++round) {
            const unsigned sectorSize = round % 8 == 7 ? 4096 : 512;
            Bytes file = Random(sectorSize * (1 + rng() % 3), static_cast<unsigned>(rng()));
            const std::string key = row.key;
            memcpy(file.data(), key.data(), key.size());
            analyser->ResetFollowState();
            if (const auto head = heads.find(key); head != heads.end() && round % 4 != 3) {
                memcpy(file.data(), head->second.data(), std::min(file.size(), head->second.size()));
                if (key.empty() && round % 8 == 2) file = Ts(40, 192);
            }
            if (round % 2 == 0) {
                // Plausible heads, so that the deeper checks run too.
                if (key == "RIFF") memcpy(file.data() + 8, round % 4 == 0 ? "WAVEfmt " : "AVI LIST", 8);
                if (key == "FORM") memcpy(file.data() + 8, "AIFF", 4);
                if (key == "MLVI") {
                    // Known blocks of small random sizes (0 now and then), RAWI at 52.
                    ByteWriter(file.data(), file.size()).Le32(4, 52);
                    for (size_t at = 52; at + 8 <= file.size(); at += 8 + file[at + 4]) {
                        memcpy(file.data() + at, at == 52 ? "RAWI" : (rng() % 2 ? "VIDF" : "NULL"), 4);
                        memset(file.data() + at + 5, 0, 3);
                    }
                }
                if (key == "MThd") {
                    // A valid header, then track chunks of small random lengths.
                    memcpy(file.data() + 4, "\0\0\0\x06\0\x01\0\x02", 8);
                    for (size_t at = 14; at + 8 <= file.size(); at += 8 + file[at + 7]) {
                        memcpy(file.data() + at, round % 4 == 0 ? "MTrk\0\0\0" : "mtrk\0\0\0", 7);
                    }
                }
                if (key == "FW" || key == "CW") file[2] = 'S', file[3] = static_cast<unsigned char>(rng() % 40);
                if (key == "\x1A\x45\xDF\xA3") {
                    file[4] = static_cast<unsigned char>(0x80 | rng() % 64);
                    memcpy(file.data() + 5 + (file[4] & 0x7F), "\x18\x53\x80\x67", 4);
                }
            }
            for (int flips = 0; flips < 6; ++flips) file[4 + rng() % 60] = static_cast<unsigned char>(rng());
            Outcome(*analyser, file, sectorSize);
            if (ISpecialRawFileAnalyser* special = analyser->GetSpecialRawFile()) {
                Bytes block = file;
                block.resize(8 * sectorSize + 4096, 0);
                CRawFileInfo info;
                special->AnalyseBufferEx(block.data(), info, sectorSize, 10, 2, 10 + round % 8 + 1);
            }
            ++exercised;
        }
    }
    EXPECT_EQ(exercised, 20 * 64);
}

TEST(AvHostile, StreamTable) {
    Brance::FLVAnalyser flv;
    Brance::MPGAnalyser mpg;
    Brance::OGGAnalyser ogg;
    Brance::RM_RMVBAnalyser rm;
    RawSpeed::MxfAnalyser mxf;
    BruteForce::CAsfAnalyser asf;
    BruteForce::CM2TSAnalyser ts;
    BruteForce::CADTSAnalyser adts;
    BruteForce::CAPEAnalyser ape;

    // FLV: a tag of the largest data size, tags of data size 0 to the end of the data.
    Bytes flvHuge = Flv({{9, 10}});
    flvHuge.resize(flvHuge.size() - 4);
    Put(flvHuge, "\x00\x00\x00\x15\x09\xFF\xFF\xFF", 8);
    Bytes flvEmpty = Flv({});
    for (int i = 0; i < 200; ++i) Put(flvEmpty, i == 0 ? "\x09\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0B" :
                                                     "\x09\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0B", 15);
    // MPG: a packet of length 0xFFFF, a system header of length 0xFFFF.
    Bytes mpgLong = Mpg(2, 100);
    mpgLong[16] = 0xFF, mpgLong[17] = 0xFF;
    Bytes mpgSystem = Mpg(2, 100, true);
    mpgSystem[16] = 0xFF, mpgSystem[17] = 0xFF;
    // Ogg: a page of 255 segments of 255 bytes again and again (pages far beyond the data), a first page
    // of no segment.
    Bytes oggAbsurd(512, 0xFF);
    memcpy(oggAbsurd.data(), "OggS", 4);
    Bytes oggEmpty = Ogg({{}});
    // RealMedia: a header whose size wraps a 32-bit sum, a chunk size of 0, an index that points back.
    Bytes rmWrap = Rm("Audio Stream", 600, false);
    ByteWriter(rmWrap.data(), rmWrap.size()).Be32(4, 0xFFFFFFFF);
    Bytes rmZero = Rm("Audio Stream", 600, false);
    ByteWriter(rmZero.data(), rmZero.size()).Be32(18 + 4, 0);
    Bytes rmBack = Rm("Audio Stream", 600, false);
    Put(rmBack, "INDX\x00\x00\x00\x14\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x10", 20);
    Bytes rmCount = Rm("Audio Stream", 600, false);
    Put(rmCount, "INDX\x00\x00\x00\x14\x00\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x00\x00", 20);
    // MXF: a BER length of 8 bytes all set, a BER length of 9 bytes, a length past the limit.
    Bytes mxfHuge = Mxf({{3, 10}});
    Put(mxfHuge, "\x06\x0E\x2B\x34\x01\x02\x01\x01\x0D\x01\x03\x01\x15\x01\x05\x00\x88", 17);
    Put(mxfHuge, Bytes(8, 0xFF));
    Bytes mxfNine = Mxf({{3, 10}});
    Put(mxfNine, "\x06\x0E\x2B\x34\x01\x02\x01\x01\x0D\x01\x03\x01\x15\x01\x05\x00\x89", 17);
    Put(mxfNine, Bytes(9, 0x01));
    // ASF: a data object beyond the device, one of size 2^64 - 1, a header of size 2^63, an empty header.
    Bytes asfBeyond = Asf({asf_layout::kAudioMedia}, 100, false);
    ByteWriter(asfBeyond.data(), asfBeyond.size()).Le64(212 + 16, u64{1} << 33);
    Bytes asfPastCap = Asf({asf_layout::kAudioMedia}, 100, false);
    ByteWriter(asfPastCap.data(), asfPastCap.size()).Le64(212 + 16, u64{1} << 40);
    Bytes asfMax = Asf({asf_layout::kAudioMedia}, 100, false);
    ByteWriter(asfMax.data(), asfMax.size()).Le64(212 + 16, ~u64{0});
    Bytes asfHeaderHuge = Asf({asf_layout::kAudioMedia}, 100);
    ByteWriter(asfHeaderHuge.data(), asfHeaderHuge.size()).Le64(16, u64{1} << 63);
    Bytes asfChildZero = Asf({asf_layout::kVideoMedia}, 100);
    ByteWriter(asfChildZero.data(), asfChildZero.size()).Le64(30 + 16, 0);
    // Transport streams: a second sync byte missing, all 0xFF after the first packet.
    Bytes tsShort = Ts(200, 188);
    tsShort[188 * 150] = 0x46;
    Bytes tsStuffed = Ts(2, 192);
    tsStuffed.resize(512, 0xFF);
    tsStuffed[196] = 0x47;
    // ADTS: frames of length 1 (each header overlapping the next), a frame length of 8191.
    Bytes adtsOne;
    for (int i = 0; i < 3000; ++i) Put(adtsOne, "\xFF\xF1\x50\x80\x00\x3F\xFC\xFF\xF1", 1);
    Bytes adtsMax = Adts({8191, 8191, 8191, 8191, 8191});
    // APE: a descriptor far beyond the data, sizes whose sum passes the limit, a seek table entry at the
    // largest value believed.
    Bytes apeFar = ApeNew(3990, 600);
    ByteWriter(apeFar.data(), apeFar.size()).Le32(8, 0xFFFFFFF0);
    Bytes apeSum = ApeNew(3990, 600);
    for (size_t at : {12, 16, 20, 24, 28, 32}) ByteWriter(apeSum.data(), apeSum.size()).Le32(at, 0xFFFFFFFF);
    Bytes apeOld = Head("MAC ", 1024);
    ByteWriter old(apeOld.data(), apeOld.size());
    old.Le16(4, 3970), old.Le16(10, 1), old.Le32(24, 3), old.Le32(32, 40), old.Le32(36, 0x81FFFFFF);
    for (size_t i = 40; i < apeOld.size(); ++i) apeOld[i] = static_cast<unsigned char>(i | 1);

    struct Row {
        const char* what;
        IRawFileAnalyser* analyser;
        Bytes file;
        unsigned sectorSize;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"FLV tag data size 2^24 - 1: waits, the device reads on", &flv, flvHuge, 512, "device 16777264"},
        {"FLV tags of data size 0 to the data's end", &flv, flvEmpty, 512, "guess 3013"},
        {"MPG packet length 0xFFFF", &mpg, mpgLong, 512, "device 65553"},
        {"MPG system header length 0xFFFF: no start code after it below 102400", &mpg, mpgSystem, 512, "device refused 0"},
        {"Ogg pages of 255 segments of 255 bytes: no wrap", &ogg, oggAbsurd, 512, "device 65307"},
        {"Ogg first page of no segment: dropped", &ogg, oggEmpty, 512, "guess 0"},
        {"RM header size 2^32 - 1: no wrap", &rm, rmWrap, 512, "device 4294967295"},
        {"RM chunk size 0", &rm, rmZero, 512, "guess 18"},
        {"RM index pointing back: ends there", &rm, rmBack, 512, "guess 720"},
        {"RM last index of 2^32 - 1 entries: past twenty caps, cut to the cap", &rm, rmCount, 512, "guess 209715200"},
        {"RM on 4096-byte sectors", &rm, Rm("Audio Stream", 6000, false), 4096, "guess 6120"},
        {"MXF BER length of 8 bytes all set: dropped", &mxf, mxfHuge, 512, "guess 0"},
        {"MXF BER length of 9 bytes: ends before it", &mxf, mxfNine, 512, "guess 138"},
        {"ASF data object beyond the device: waits, given up without a size", &asf, asfBeyond, 512, "device 0"},
        {"ASF data object past the largest file believed: ends before it", &asf, asfPastCap, 512, "guess 212"},
        {"ASF object size 2^64 - 1: ends before it", &asf, asfMax, 512, "guess 212"},
        {"ASF header size 2^63: dropped", &asf, asfHeaderHuge, 512, "guess 0"},
        {"ASF header child of size 0: stops the child walk", &asf, asfChildZero, 512, "guess 368"},
        {"M2TS sync lost after 150 packets", &ts, tsShort, 512, "guess 28200"},
        {"M2TS of 192-byte packets, 0xFF after two", &ts, tsStuffed, 512, "guess 0"},
        {"ADTS frames of length 1", &adts, adtsOne, 512, "guess 0"},
        {"ADTS frames of length 8191", &adts, adtsMax, 512, "guess 40955"},
        {"APE descriptor far beyond the data", &ape, apeFar, 512, "device 0"},
        {"APE sizes summing past the limit: capped", &ape, apeSum, 512, "guess 2181038080"},
        {"APE seek entry 0x81FFFFFF: the size follows the data", &ape, apeOld, 512, "device 0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Outcome(*row.analyser, row.file, row.sectorSize), row.expected) << row.what;
    }
}
