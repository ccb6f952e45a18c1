// Hostile bytes for the audio and video analysers (run under ASan and UBSan by the test command): sizes
// near 2^32 and 2^64, a Sun audio header size of 23, Matroska Segments beyond offset 512, of unknown
// size or with a size running past the sector, heads that cannot be read from the device; then a
// bounded smoke run of every analyser of the family over random and mutated sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>

#include "OfficeTestSupport.h"
#include "engine/Common/ByteReader.h"
#include "engine/RAWSearch/Analysers/HeaderSizedMedia.h"
#include "engine/RAWSearch/Analysers/MIDAnalyser.h"
#include "engine/RAWSearch/Analysers/MLvAnalyser.h"
#include "engine/RAWSearch/Core/SignatureTable.h"

using namespace officetest;
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
        {"MIDI given up: the device walks it (bounded) and rounds up", &midDevice, midHuge, 512, {},
         "device 4294967808"},
        {"MIDI head unreadable on the device", &midDevice, midHuge, 512, {2}, "device refused 0"},
        {"MLV block size 2^32 - 1: past the limit, no wrap", &mlv, mlvHuge, 512, {}, "guess 4294967347"},
        {"MIDI track length 0 chunks to the end of the data", &mid, midZeros, 512, {}, "guess 1536"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Outcome(*row.analyser, row.file, row.sectorSize, row.failing), row.expected) << row.what;
    }
}

TEST(AvHostile, RandomAndMutatedSectorsSmoke) {
    const std::set<std::string> names = {"FileRIFFAnalyser", "CFileAIFAnalyzer", "FileAUAnalyser",
                                         "FileSWFAnalyser",  "FileMKVAnalyser",  "FileITLAnalyser",
                                         "RawSpeed::MIDAnalyser", "RawSpeed::MLvAnalyser"};
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
            ++exercised;
        }
    }
    EXPECT_EQ(exercised, 9 * 64);
}
